#include "client/value_text.h"

#include "client/quoted_string.h"
#include "client/value_scalars.h"
#include "client/wire_markers.h"

namespace qz::client {
namespace {

bool IsList(GVariant* v) {
  return !IsObjectReference(v) && g_variant_is_container(v) &&
         !g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT);
}

// One value on one line; strings quoted when they sit inside an array.
std::string ScalarText(GVariant* v, bool quote_strings) {
  if (g_variant_is_of_type(v, G_VARIANT_TYPE_BYTE)) {
    if (auto m = MarkerOfByte(g_variant_get_byte(v))) return std::string(MarkerName(*m));
  }
  if (g_variant_is_of_type(v, G_VARIANT_TYPE_BOOLEAN))
    return g_variant_get_boolean(v) ? "True" : "False";
  if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING) ||
      g_variant_is_of_type(v, G_VARIANT_TYPE_OBJECT_PATH) ||
      g_variant_is_of_type(v, G_VARIANT_TYPE_SIGNATURE)) {
    const char* s = g_variant_get_string(v, nullptr);
    return quote_strings ? Quoted(s) : std::string(s);
  }
  if (IsObjectReference(v)) {
    const char* bus = nullptr;
    const char* path = nullptr;
    g_variant_get(v, "(&s&o)", &bus, &path);
    if (std::string_view(path) == "/") return "Nothing";
    return "Object(" + Quoted(bus) + ", " + path + ")";
  }
  if (auto n = NumberText(v)) return *n;
  if (g_variant_is_of_type(v, G_VARIANT_TYPE_DOUBLE)) {
    const double d = g_variant_get_double(v);
    return d != d ? "NaN" : (d > 0 ? "Infinity" : "-Infinity");
  }
  // Maybe types and the like: rare, shown as GVariant text.
  CharPtr printed(g_variant_print(v, TRUE));
  return printed.get();
}

void AppendList(std::string& out, GVariant* list, int depth) {
  const gsize n = g_variant_n_children(list);
  for (gsize k = 0; k < n; ++k) {
    VariantPtr element = Unwrapped(VariantPtr(g_variant_get_child_value(list, k)).get());
    if (!out.empty()) out += '\n';
    out.append(2 * depth, ' ');
    out += '[' + std::to_string(k) + ']';
    if (IsList(element.get()) && g_variant_n_children(element.get()) > 0) {
      AppendList(out, element.get(), depth + 1);
    } else {
      out += ' ';
      out += IsList(element.get()) ? "[]" : ScalarText(element.get(), true);
    }
  }
}

}  // namespace

std::string FormatText(GVariant* value) {
  VariantPtr v = Unwrapped(value);
  if (!IsList(v.get())) return ScalarText(v.get(), false);
  if (g_variant_n_children(v.get()) == 0) return "[]";
  std::string out;
  AppendList(out, v.get(), 0);
  return out;
}

}  // namespace qz::client
