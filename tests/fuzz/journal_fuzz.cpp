// Journal files and request records as a crash may have left them: the
// reader skips damage, the decoder refuses what it did not write, and what
// it accepts encodes again to what decodes the same.
#include <cstdint>
#include <string>

#include "automation/variant_codec.h"
#include "dispatch/journal_file.h"
#include "dispatch/request_record.h"
#include "platform/byte_codec.h"

namespace {

void DecodeReEncode(std::string_view bytes) {
  try {
    const std::string once = qz::EncodeRequest(qz::DecodeRequest(bytes));
    if (qz::EncodeRequest(qz::DecodeRequest(once)) != once) __builtin_trap();
  } catch (const qz::ByteCodecError&) {
  }
  try {
    qz::ByteReader in(bytes);
    qz::DecodeVariant(in);
  } catch (const qz::ByteCodecError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const qz::JournalContents contents = qz::ReadJournal(bytes);
  if (contents.valid_end > size || contents.skipped_bytes > size) __builtin_trap();
  for (const auto& [key, entry] : contents.live) {
    if (entry.offset + entry.size > contents.valid_end) __builtin_trap();
    DecodeReEncode(entry.payload);
  }
  // A bare record, as the listing and the replay decode each payload.
  DecodeReEncode(bytes);
  return 0;
}
