#include "client/call_arguments.h"

#include <vector>

#include "client/arg_notation.h"
#include "client/wire_markers.h"

namespace qz::client {
namespace {

bool ValidType(const std::string& signature) {
  return g_variant_type_string_is_valid(signature.c_str()) &&
         g_variant_type_is_definite(G_VARIANT_TYPE(signature.c_str()));
}

std::string ArgumentError(size_t k, const Parameter* param, const std::string& why) {
  std::string where = "argument " + std::to_string(k + 1);
  if (param) where += " (" + param->signature + " " + param->name + ")";
  return where + ": " + why;
}

}  // namespace

BuiltArguments NamedCallArguments(const Operation& op, std::span<const std::string> words) {
  BuiltArguments built;
  if (words.size() > op.in.size()) {
    built.error = "too many arguments for " + Describe(op);
    return built;
  }
  std::vector<VariantPtr> values;
  for (size_t k = 0; k < op.in.size(); ++k) {
    const Parameter& param = op.in[k];
    if (!ValidType(param.signature)) {
      built.error = ArgumentError(k, &param, "the server declares an unusable type");
      return built;
    }
    const GVariantType* type = G_VARIANT_TYPE(param.signature.c_str());
    if (k >= words.size()) {
      if (!g_variant_type_equal(type, G_VARIANT_TYPE_VARIANT)) {
        built.error = "too few arguments for " + Describe(op);
        return built;
      }
      values.push_back(Own(NewMarker(Marker::kMissing)));
      continue;
    }
    Status why;
    VariantPtr value = ParseArgument(words[k], type, why);
    if (!value) {
      built.error = ArgumentError(k, &param, why.message());
      return built;
    }
    values.push_back(std::move(value));
  }
  std::vector<GVariant*> raw;
  for (const auto& v : values) raw.push_back(v.get());
  built.parameters = Own(g_variant_new_tuple(raw.data(), raw.size()));
  return built;
}

BuiltArguments InvokeArguments(const Operation* op, int32_t dispid,
                               std::span<const std::string> words) {
  BuiltArguments built;
  GVariantBuilder args;
  g_variant_builder_init(&args, G_VARIANT_TYPE("av"));
  for (size_t k = 0; k < words.size(); ++k) {
    const Parameter* param = op && k < op->in.size() ? &op->in[k] : nullptr;
    const GVariantType* type = G_VARIANT_TYPE_VARIANT;
    if (param && ValidType(param->signature)) type = G_VARIANT_TYPE(param->signature.c_str());
    Status why;
    VariantPtr element = ParseInvokeArgument(words[k], type, why);
    if (!element) {
      g_variant_builder_clear(&args);
      built.error = ArgumentError(k, param, why.message());
      return built;
    }
    g_variant_builder_add_value(&args, element.get());
  }
  built.parameters = Own(g_variant_new("(iav)", dispid, &args));
  return built;
}

}  // namespace qz::client
