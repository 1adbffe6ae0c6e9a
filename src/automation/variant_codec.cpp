#include "automation/variant_codec.h"

#include <bit>

namespace qz {
namespace {

using Kind = Variant::Kind;

// Far beyond any request a client can send, yet bounded so a damaged file
// cannot exhaust the stack.
constexpr int kMaxDepth = 1000;

Variant Decode(ByteReader& in, int depth) {
  if (depth > kMaxDepth) throw ByteCodecError("nesting too deep");
  switch (static_cast<Kind>(in.U8())) {
    case Kind::Empty:
      return Variant();
    case Kind::Null:
      return Variant::Null();
    case Kind::Integer:
      return Variant(static_cast<int16_t>(in.U32()));
    case Kind::Long:
      return Variant(static_cast<int32_t>(in.U32()));
    case Kind::Double:
      return Variant(std::bit_cast<double>(in.U64()));
    case Kind::String:
      return Variant(in.Text());
    case Kind::Boolean:
      return Variant::Boolean(in.U8() != 0);
    case Kind::Object:
      return Variant(std::shared_ptr<DispatchObject>());
    case Kind::Array: {
      auto lbound = static_cast<int32_t>(in.U32());
      uint32_t count = in.U32();
      std::vector<Variant> items;
      for (uint32_t i = 0; i < count; ++i) items.push_back(Decode(in, depth + 1));
      return Variant::Array(std::move(items), lbound);
    }
    case Kind::NoDimArray:
      return Variant::NoDimensions();
    case Kind::Missing:
      return Variant::Missing();
  }
  throw ByteCodecError("unknown kind of value");
}

}  // namespace

void EncodeVariant(const Variant& value, ByteWriter& out) {
  out.U8(static_cast<uint8_t>(value.kind()));
  switch (value.kind()) {
    case Kind::Integer:
      out.U32(static_cast<uint32_t>(value.ToInt16()));
      break;
    case Kind::Long:
      out.U32(static_cast<uint32_t>(value.ToInt32()));
      break;
    case Kind::Double:
      out.U64(std::bit_cast<uint64_t>(value.ToNumber()));
      break;
    case Kind::String:
      out.Text(value.Text());
      break;
    case Kind::Boolean:
      out.U8(value.BooleanValue() ? 1 : 0);
      break;
    case Kind::Array: {
      const std::vector<Variant>& items = value.Items();
      out.U32(static_cast<uint32_t>(value.LBound()));
      out.U32(static_cast<uint32_t>(items.size()));
      for (const Variant& item : items) EncodeVariant(item, out);
      break;
    }
    default:
      break;  // the kind says it all
  }
}

Variant DecodeVariant(ByteReader& in) { return Decode(in, 0); }

}  // namespace qz
