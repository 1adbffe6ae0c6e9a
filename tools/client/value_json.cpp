#include "client/value_json.h"

#include "client/quoted_string.h"
#include "client/value_scalars.h"
#include "client/wire_markers.h"

namespace qz::client {
namespace {

void AppendJson(std::string& out, GVariant* value) {
  VariantPtr v = Unwrapped(value);
  GVariant* raw = v.get();
  if (g_variant_is_of_type(raw, G_VARIANT_TYPE_BYTE)) {
    if (auto m = MarkerOfByte(g_variant_get_byte(raw))) {
      out += "{\"kind\":";
      AppendQuoted(out, MarkerName(*m));
      out += '}';
      return;
    }
  }
  if (g_variant_is_of_type(raw, G_VARIANT_TYPE_BOOLEAN)) {
    out += g_variant_get_boolean(raw) ? "true" : "false";
  } else if (g_variant_is_of_type(raw, G_VARIANT_TYPE_STRING) ||
             g_variant_is_of_type(raw, G_VARIANT_TYPE_OBJECT_PATH) ||
             g_variant_is_of_type(raw, G_VARIANT_TYPE_SIGNATURE)) {
    AppendQuoted(out, g_variant_get_string(raw, nullptr));
  } else if (IsObjectReference(raw)) {
    const char* bus = nullptr;
    const char* path = nullptr;
    g_variant_get(raw, "(&s&o)", &bus, &path);
    out += "{\"kind\":\"Object\",\"bus\":";
    AppendQuoted(out, bus);
    out += ",\"path\":";
    AppendQuoted(out, path);
    out += '}';
  } else if (g_variant_is_container(raw)) {
    out += '[';
    const gsize n = g_variant_n_children(raw);
    for (gsize k = 0; k < n; ++k) {
      if (k > 0) out += ',';
      AppendJson(out, VariantPtr(g_variant_get_child_value(raw, k)).get());
    }
    out += ']';
  } else if (auto number = NumberText(raw)) {
    out += *number;
  } else {
    out += "null";  // a double that is not finite
  }
}

}  // namespace

std::string FormatJson(GVariant* value) {
  std::string out;
  AppendJson(out, value);
  return out;
}

}  // namespace qz::client
