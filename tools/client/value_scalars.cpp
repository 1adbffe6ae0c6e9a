#include "client/value_scalars.h"

#include <charconv>
#include <cmath>

namespace qz::client {
namespace {

template <typename T>
std::string Decimal(T n) {
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
  return std::string(buf, end);
}

}  // namespace

std::optional<std::string> NumberText(GVariant* value) {
  switch (g_variant_classify(value)) {
    case G_VARIANT_CLASS_BYTE:
      return Decimal(g_variant_get_byte(value));
    case G_VARIANT_CLASS_INT16:
      return Decimal(g_variant_get_int16(value));
    case G_VARIANT_CLASS_UINT16:
      return Decimal(g_variant_get_uint16(value));
    case G_VARIANT_CLASS_INT32:
      return Decimal(g_variant_get_int32(value));
    case G_VARIANT_CLASS_UINT32:
      return Decimal(g_variant_get_uint32(value));
    case G_VARIANT_CLASS_INT64:
      return Decimal(g_variant_get_int64(value));
    case G_VARIANT_CLASS_UINT64:
      return Decimal(g_variant_get_uint64(value));
    case G_VARIANT_CLASS_HANDLE:
      return Decimal(g_variant_get_handle(value));
    case G_VARIANT_CLASS_DOUBLE: {
      const double d = g_variant_get_double(value);
      if (!std::isfinite(d)) return std::nullopt;
      return Decimal(d);
    }
    default:
      return std::nullopt;
  }
}

bool IsObjectReference(GVariant* value) {
  return g_variant_is_of_type(value, G_VARIANT_TYPE("(so)"));
}

}  // namespace qz::client
