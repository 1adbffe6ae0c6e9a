// A Variant in a compact binary form, for requests kept on disk across a
// restart. Every kind keeps its kind and value; an object reference cannot
// outlive the process, so it comes back as a reference to nothing. Pure;
// safe from any thread.
#pragma once

#include <string>

#include "automation/variant.h"
#include "platform/byte_codec.h"

namespace qz {

void EncodeVariant(const Variant& value, ByteWriter& out);
// Raises ByteCodecError for input EncodeVariant did not write.
Variant DecodeVariant(ByteReader& in);

}  // namespace qz
