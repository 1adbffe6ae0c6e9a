#include "client/arg_notation.h"

#include "client/wire_markers.h"

namespace qz::client {
namespace {

bool LooksLikeGVariantText(std::string_view text) {
  // Text that opens like a container, a literal or a type annotation was
  // meant as GVariant text; a parse error there must not become a string.
  const size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return false;
  return std::string_view("[(<{\"'@").find(text[start]) != std::string_view::npos;
}

VariantPtr Parse(std::string_view text, const GVariantType* type, Status& status) {
  const std::string owned(text);
  ErrorPtr parse_error;
  // No end pointer: trailing text after one value is an error, not ignored.
  VariantPtr value = Own(g_variant_parse(type, owned.c_str(), owned.c_str() + owned.size(), nullptr,
                                         ErrorSlot(parse_error)));
  if (!value) {
    CharPtr context(g_variant_parse_error_print_context(parse_error.get(), owned.c_str()));
    // The context ends in a line break.
    status = Status::InvalidArgument(g_strchomp(context.get()));
  }
  return value;
}

VariantPtr PlainString(std::string_view text, Status& status) {
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
    status = Status::InvalidArgument("argument is not valid UTF-8");
    return nullptr;
  }
  return Own(g_variant_new_take_string(g_strndup(text.data(), text.size())));
}

VariantPtr Wrapped(VariantPtr value) {
  if (!value) return nullptr;
  return Own(g_variant_new_variant(value.get()));
}

std::string TypeText(const GVariantType* type) {
  return std::string(g_variant_type_peek_string(type), g_variant_type_get_string_length(type));
}

}  // namespace

VariantPtr ParseArgument(std::string_view text, const GVariantType* type, Status& status) {
  const bool variant_slot = g_variant_type_equal(type, G_VARIANT_TYPE_VARIANT);
  if (auto marker = MarkerOfWord(text)) {
    if (variant_slot) return Own(NewMarker(*marker));
    status = Status::InvalidArgument(
        "'" + std::string(text) + "' fits only a Variant parameter, this one is " + TypeText(type));
    return nullptr;
  }
  if (variant_slot) {
    if (text == "[]") return Wrapped(Own(g_variant_new_array(G_VARIANT_TYPE_VARIANT, nullptr, 0)));
    Status parse_error;
    VariantPtr value = Parse(text, nullptr, parse_error);
    if (value) {
      if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_VARIANT)) return value;
      return Own(g_variant_new_variant(value.get()));
    }
    if (LooksLikeGVariantText(text)) {
      status = parse_error;
      return nullptr;
    }
    return Wrapped(PlainString(text, status));
  }
  if (g_variant_type_equal(type, G_VARIANT_TYPE_STRING)) {
    Status ignored;  // not GVariant text after all: a plain string
    if (LooksLikeGVariantText(text)) {
      if (VariantPtr value = Parse(text, type, ignored)) return value;
    }
    return PlainString(text, status);
  }
  if (text == "[]" && g_variant_type_is_array(type))
    return Own(g_variant_new_array(g_variant_type_element(type), nullptr, 0));
  return Parse(text, type, status);
}

VariantPtr ParseInvokeArgument(std::string_view text, const GVariantType* type, Status& status) {
  VariantPtr value = ParseArgument(text, type, status);
  if (g_variant_type_equal(type, G_VARIANT_TYPE_VARIANT)) return value;
  return Wrapped(std::move(value));
}

}  // namespace qz::client
