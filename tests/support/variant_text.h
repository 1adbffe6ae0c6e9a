// A GVariant as GVariant text with its types, for comparing in tests.
#pragma once

#include <glib.h>

#include <string>

namespace qz::testing {

inline std::string PrintedVariant(GVariant* value) {
  if (!value) return "(null)";
  gchar* text = g_variant_print(value, TRUE);
  std::string printed = text;
  g_free(text);
  return printed;
}

}  // namespace qz::testing
