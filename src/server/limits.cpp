#include "server/limits.h"

#include <iterator>
#include <utility>

#include "platform/holders.h"

namespace qz {
namespace {

struct Walk {
  const Limits& limits;
  size_t max_elements;
  Limit elements_limit;
  size_t elements = 0;

  std::optional<Limit> Value(GVariant* value, size_t depth) {
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_VARIANT)) {
      VariantPtr inner(g_variant_get_variant(value));
      return Value(inner.get(), depth);
    }
    if (!g_variant_is_container(value)) return std::nullopt;
    const bool array = g_variant_is_of_type(value, G_VARIANT_TYPE_ARRAY);
    if (array) {
      if (++depth > limits.depth) return Limit::kDepth;
      elements += g_variant_n_children(value);
      if (elements > max_elements) return elements_limit;
      // Numbers and strings hold no further arrays.
      if (g_variant_type_is_basic(g_variant_type_element(g_variant_get_type(value))))
        return std::nullopt;
    }
    return Children(value, depth);
  }

  std::optional<Limit> Children(GVariant* container, size_t depth) {
    const size_t n = g_variant_n_children(container);
    for (size_t i = 0; i < n; ++i) {
      VariantPtr child(g_variant_get_child_value(container, i));
      if (auto passed = Value(child.get(), depth)) return passed;
    }
    return std::nullopt;
  }
};

const LimitRow& Row(Limit limit) { return kLimitRows[static_cast<size_t>(limit)]; }

constexpr bool RowsInOrder() {
  for (size_t i = 0; i < std::size(kLimitRows); ++i)
    if (static_cast<size_t>(kLimitRows[i].limit) != i) return false;
  return true;
}
static_assert(RowsInOrder(), "kLimitRows is indexed by Limit");

}  // namespace

std::string_view LimitName(Limit limit) { return Row(limit).option; }

size_t LimitValue(const Limits& limits, Limit limit) { return limits.*Row(limit).field; }

std::string LimitMessage(const Limits& limits, Limit limit) {
  return "limit " + std::string(LimitName(limit)) + " (" +
         std::to_string(LimitValue(limits, limit)) + ") exceeded: the call was not run";
}

std::optional<Limit> CheckNewObject(const Limits& limits, const CallerUsage& usage) {
  if (usage.objects + 1 > limits.objects) return Limit::kObjects;
  return std::nullopt;
}

CallerUsage CallUsage(bool request, size_t bytes) {
  return {0, request ? 1u : 0u, bytes, request ? bytes : 0};
}

std::optional<Limit> CheckAdd(const Limits& limits, const ScopeLimits& scope,
                              const CallerUsage& usage, const CallerUsage& more) {
  const std::pair<std::optional<Limit>, size_t CallerUsage::*> counts[] = {
      {scope.objects, &CallerUsage::objects},
      {scope.pending, &CallerUsage::pending},
      {scope.pending_bytes, &CallerUsage::pending_bytes},
      {scope.journal_bytes, &CallerUsage::journal_bytes},
  };
  for (const auto& [limit, count] : counts) {
    if (!limit || more.*count == 0) continue;
    const size_t max = LimitValue(limits, *limit);
    // Written so that nothing wraps, however large the call.
    if (more.*count > max || usage.*count > max - more.*count) return limit;
  }
  return std::nullopt;
}

std::optional<Limit> CheckCall(const Limits& limits, const CallerUsage& usage, bool request,
                               size_t bytes) {
  return CheckAdd(limits, kConnectionScope, usage, CallUsage(request, bytes));
}

std::optional<Limit> CheckArguments(const Limits& limits, GVariant* arguments, bool request) {
  if (!arguments || !g_variant_is_container(arguments)) return std::nullopt;
  Walk walk = request ? Walk{limits, limits.elements, Limit::kElements}
                      : Walk{limits, limits.settings_elements, Limit::kSettingsElements};
  return walk.Children(arguments, 0);
}

}  // namespace qz
