#include "server/wire_variant.h"

#include "automation/run_time_error.h"
#include "platform/holders.h"
#include "platform/utf8.h"
#include "server/remote_object.h"

namespace qz {
namespace {

[[noreturn]] void Mismatch() { throw RunTimeError(kErrTypeMismatch, kBoundarySource); }

GVariant* Marker(WireMarker marker) { return g_variant_new_byte(static_cast<uint8_t>(marker)); }

Variant FromMarker(uint8_t marker) {
  switch (marker) {
    case static_cast<uint8_t>(WireMarker::kEmpty):
      return Variant();
    case static_cast<uint8_t>(WireMarker::kNull):
      return Variant::Null();
    case static_cast<uint8_t>(WireMarker::kNoDimensions):
      return Variant::NoDimensions();
    case static_cast<uint8_t>(WireMarker::kMissing):
      return Variant::Missing();
    default:
      Mismatch();
  }
}

}  // namespace

GVariant* WireString(std::string_view text) {
  return g_variant_new_string(ValidUtf8(text).c_str());
}

Variant FromWire(GVariant* value, const ObjectResolver& resolve_object) {
  const GVariantType* type = g_variant_get_type(value);
  switch (g_variant_classify(value)) {
    case G_VARIANT_CLASS_VARIANT: {
      VariantPtr inner(g_variant_get_variant(value));
      return FromWire(inner.get(), resolve_object);
    }
    case G_VARIANT_CLASS_BYTE:
      return FromMarker(g_variant_get_byte(value));
    case G_VARIANT_CLASS_BOOLEAN:
      return Variant::Boolean(g_variant_get_boolean(value));
    case G_VARIANT_CLASS_INT16:
      return Variant(g_variant_get_int16(value));
    case G_VARIANT_CLASS_INT32:
      return Variant(g_variant_get_int32(value));
    // Other integer types are accepted as numbers.
    case G_VARIANT_CLASS_UINT16:
      return Variant(static_cast<int32_t>(g_variant_get_uint16(value)));
    case G_VARIANT_CLASS_UINT32:
      return Variant(static_cast<double>(g_variant_get_uint32(value)));
    case G_VARIANT_CLASS_INT64:
      return Variant(static_cast<double>(g_variant_get_int64(value)));
    case G_VARIANT_CLASS_UINT64:
      return Variant(static_cast<double>(g_variant_get_uint64(value)));
    case G_VARIANT_CLASS_DOUBLE:
      return Variant(g_variant_get_double(value));
    case G_VARIANT_CLASS_STRING:
    case G_VARIANT_CLASS_OBJECT_PATH:
    case G_VARIANT_CLASS_SIGNATURE: {
      gsize length = 0;
      const char* text = g_variant_get_string(value, &length);
      return Variant(std::string_view(text, length));
    }
    case G_VARIANT_CLASS_ARRAY: {
      if (g_variant_type_is_dict_entry(g_variant_type_element(type))) Mismatch();
      std::vector<Variant> items;
      gsize n = g_variant_n_children(value);
      items.reserve(n);
      for (gsize i = 0; i < n; ++i) {
        VariantPtr child(g_variant_get_child_value(value, i));
        items.push_back(FromWire(child.get(), resolve_object));
      }
      return Variant::Array(std::move(items));
    }
    case G_VARIANT_CLASS_TUPLE:
      if (g_variant_is_of_type(value, G_VARIANT_TYPE("(so)")) && resolve_object) {
        const char* bus = nullptr;
        const char* path = nullptr;
        g_variant_get(value, "(&s&o)", &bus, &path);
        return Variant(resolve_object(bus, path));
      }
      Mismatch();
    default:
      Mismatch();
  }
}

GVariant* ToWire(const Variant& value) {
  switch (value.kind()) {
    case Variant::Kind::Empty:
      return Marker(WireMarker::kEmpty);
    case Variant::Kind::Null:
      return Marker(WireMarker::kNull);
    case Variant::Kind::NoDimArray:
      return Marker(WireMarker::kNoDimensions);
    case Variant::Kind::Missing:
      return Marker(WireMarker::kMissing);
    case Variant::Kind::Integer:
      return g_variant_new_int16(value.ToInt16());
    case Variant::Kind::Long:
      return g_variant_new_int32(value.ToInt32());
    case Variant::Kind::Double:
      return g_variant_new_double(value.ToNumber());
    case Variant::Kind::String:
      return WireString(value.Text());
    case Variant::Kind::Boolean:
      return g_variant_new_boolean(value.BooleanValue());
    case Variant::Kind::Array: {
      GVariantBuilder builder;
      g_variant_builder_init(&builder, G_VARIANT_TYPE("av"));
      for (const Variant& item : value.Items())
        g_variant_builder_add_value(&builder, ToWireVariant(item));
      return g_variant_builder_end(&builder);
    }
    case Variant::Kind::Object: {
      auto remote = std::dynamic_pointer_cast<RemoteObject>(value.Object());
      if (remote) return g_variant_new("(so)", remote->bus_name().c_str(), remote->path().c_str());
      return g_variant_new("(so)", "", "/");
    }
  }
  return Marker(WireMarker::kEmpty);
}

GVariant* ToWireVariant(const Variant& value) { return g_variant_new_variant(ToWire(value)); }

}  // namespace qz
