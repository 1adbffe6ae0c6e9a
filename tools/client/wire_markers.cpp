#include "client/wire_markers.h"

#include <glib.h>

#include <array>

namespace qz::client {
namespace {

struct MarkerSpelling {
  Marker marker;
  std::string_view name;
  std::string_view word;
};

constexpr std::array<MarkerSpelling, 4> kMarkers = {{
    {Marker::kEmpty, "Empty", "empty"},
    {Marker::kNull, "Null", "null"},
    {Marker::kNoDimensions, "NoDimensions", "nodim"},
    {Marker::kMissing, "Missing", "missing"},
}};

}  // namespace

std::string_view MarkerName(Marker m) { return kMarkers[static_cast<size_t>(m)].name; }

std::optional<Marker> MarkerOfByte(guchar b) {
  if (b < kMarkers.size()) return kMarkers[b].marker;
  return std::nullopt;
}

std::optional<Marker> MarkerOfWord(std::string_view word) {
  for (const auto& m : kMarkers) {
    if (word.size() == m.word.size() &&
        g_ascii_strncasecmp(word.data(), m.word.data(), word.size()) == 0)
      return m.marker;
  }
  return std::nullopt;
}

GVariant* NewMarker(Marker m) {
  return g_variant_new_variant(g_variant_new_byte(static_cast<guchar>(m)));
}

VariantPtr Unwrapped(GVariant* value) {
  VariantPtr current(value ? g_variant_ref(value) : nullptr);
  while (current && g_variant_is_of_type(current.get(), G_VARIANT_TYPE_VARIANT))
    current.reset(g_variant_get_variant(current.get()));
  return current;
}

}  // namespace qz::client
