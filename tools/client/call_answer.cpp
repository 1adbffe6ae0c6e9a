#include "client/call_answer.h"

#include "client/quoted_string.h"
#include "client/value_json.h"
#include "client/value_text.h"

namespace qz::client {
namespace {

constexpr std::string_view kResultName = "result";

// The names of the by-reference out-arguments: every out-argument but the
// result.
std::vector<std::string> ByReferenceNames(const Operation* op) {
  std::vector<std::string> names;
  if (!op) return names;
  for (size_t k = 0; k < op->out.size(); ++k) {
    if (k == 0 && op->out[k].name == kResultName) continue;
    names.push_back(op->out[k].name);
  }
  return names;
}

std::string NameAt(const std::vector<std::string>& names, size_t k) {
  return k < names.size() && !names[k].empty() ? names[k] : std::to_string(k);
}

}  // namespace

CallAnswer AnswerOfNamedCall(const Operation& op, GVariant* reply) {
  CallAnswer answer;
  const gsize n = g_variant_n_children(reply);
  size_t first_by_ref = 0;
  if (!op.out.empty() && op.out[0].name == kResultName && n > 0) {
    answer.result.reset(g_variant_get_child_value(reply, 0));
    first_by_ref = 1;
  }
  const std::vector<std::string> names = ByReferenceNames(&op);
  for (gsize k = first_by_ref; k < n; ++k)
    answer.by_reference.emplace_back(NameAt(names, k - first_by_ref),
                                     VariantPtr(g_variant_get_child_value(reply, k)));
  return answer;
}

CallAnswer AnswerOfInvoke(const Operation* op, GVariant* reply) {
  CallAnswer answer;
  if (!g_variant_is_of_type(reply, G_VARIANT_TYPE("(vav)"))) {
    answer.result.reset(g_variant_ref(reply));  // not the contract's shape: show it all
    return answer;
  }
  answer.result.reset(g_variant_get_child_value(reply, 0));
  VariantPtr by_ref(g_variant_get_child_value(reply, 1));
  const std::vector<std::string> names = ByReferenceNames(op);
  for (gsize k = 0; k < g_variant_n_children(by_ref.get()); ++k)
    answer.by_reference.emplace_back(NameAt(names, k),
                                     VariantPtr(g_variant_get_child_value(by_ref.get(), k)));
  return answer;
}

std::string AnswerText(const CallAnswer& answer) {
  std::string text;
  if (answer.result) text = FormatText(answer.result.get()) + "\n";
  for (const auto& [name, value] : answer.by_reference) {
    std::string shown = FormatText(value.get());
    if (shown.find('\n') == std::string::npos) {
      text += name + ": " + shown + "\n";
      continue;
    }
    text += name + ":\n";
    size_t start = 0;
    while (start < shown.size()) {
      size_t end = shown.find('\n', start);
      if (end == std::string::npos) end = shown.size();
      text += "  " + shown.substr(start, end - start) + "\n";
      start = end + 1;
    }
  }
  return text;
}

std::string AnswerJson(const CallAnswer& answer) {
  std::string json = "{\"result\":";
  json += answer.result ? FormatJson(answer.result.get()) : "null";
  json += ",\"byref\":{";
  bool first = true;
  for (const auto& [name, value] : answer.by_reference) {
    if (!first) json += ',';
    first = false;
    json += Quoted(name) + ":" + FormatJson(value.get());
  }
  return json + "}}";
}

}  // namespace qz::client
