// D-Bus values of any signature, from bytes no peer promised to be well
// formed, into Variants and back: no crash, and the conversions agree.
#include <glib.h>

#include <fuzzer/FuzzedDataProvider.h>
#include <cstdint>
#include <string>

#include "automation/run_time_error.h"
#include "automation/variant_codec.h"
#include "platform/holders.h"
#include "server/wire_variant.h"

namespace {

// What callers send in a `v`, and shapes no caller should send.
constexpr const char* kWireSignatures[] = {
    "v", "av", "aav", "(so)", "s",  "as",    "ai",   "ax",    "ad",   "ab",
    "y", "n",  "q",   "i",    "u",  "x",     "t",    "d",     "b",    "o",
    "g", "h",  "ay",  "aay",  "ao", "a{sv}", "(sv)", "a(so)", "(si)", "mv",
};

std::string Encoded(const qz::Variant& value) {
  std::string bytes;
  qz::ByteWriter out(bytes);
  qz::EncodeVariant(value, out);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  std::string signature =
      input.ConsumeBool()
          ? kWireSignatures[input.ConsumeIntegralInRange<size_t>(0, std::size(kWireSignatures) - 1)]
          : input.ConsumeRandomLengthString(16);
  // The bus carries values of definite types only.
  if (!g_variant_type_string_is_valid(signature.c_str()) ||
      !g_variant_type_is_definite(G_VARIANT_TYPE(signature.c_str())))
    return 0;
  std::string body = input.ConsumeRemainingBytesAsString();
  GBytes* bytes = g_bytes_new(body.data(), body.size());
  qz::VariantPtr value(g_variant_ref_sink(
      g_variant_new_from_bytes(G_VARIANT_TYPE(signature.c_str()), bytes, FALSE)));
  g_bytes_unref(bytes);  // the value holds its own reference
  auto no_objects = [](std::string_view, std::string_view) {
    return std::shared_ptr<qz::DispatchObject>();
  };
  try {
    qz::Variant variant = qz::FromWire(value.get(), no_objects);
    // What the server sends back must read as what it holds.
    qz::VariantPtr back(g_variant_ref_sink(qz::ToWire(variant)));
    if (Encoded(qz::FromWire(back.get(), no_objects)) != Encoded(variant)) __builtin_trap();
  } catch (const qz::RunTimeError&) {
    // A value with no Variant form is refused, which is the point.
  }
  return 0;
}
