#include "dispatch/journal_file.h"

#include <algorithm>

#include "platform/byte_codec.h"
#include "platform/crc32.h"

namespace qz {
namespace {

constexpr uint64_t kFrameHead = 8;  // length and CRC
constexpr uint64_t kBodyHead = 9;   // type and key
// No request comes near this; a larger length is damage, not data.
constexpr uint32_t kMaxBody = 1u << 30;

}  // namespace

std::string FrameRecord(JournalRecordType type, uint64_t key, std::string_view payload) {
  std::string body;
  body.reserve(kBodyHead + payload.size());
  ByteWriter b(body);
  b.U8(static_cast<uint8_t>(type));
  b.U64(key);
  body.append(payload);
  std::string frame;
  frame.reserve(kFrameHead + body.size());
  ByteWriter f(frame);
  f.U32(static_cast<uint32_t>(body.size()));
  f.U32(Crc32(body));
  frame.append(body);
  return frame;
}

JournalContents ReadJournal(std::string_view bytes) {
  JournalContents contents;
  if (!bytes.starts_with(kJournalHeader)) {
    contents.recognised = bytes.empty();  // an empty file is a journal not yet begun
    return contents;
  }
  uint64_t at = kJournalHeader.size();
  contents.valid_end = at;
  while (at < bytes.size()) {
    if (bytes.size() - at < kFrameHead) break;
    ByteReader head(bytes.substr(at, kFrameHead));
    uint32_t length = head.U32();
    uint32_t crc = head.U32();
    if (length < kBodyHead || length > kMaxBody || bytes.size() - at - kFrameHead < length) break;
    std::string_view body = bytes.substr(at + kFrameHead, length);
    if (Crc32(body) != crc) break;
    ByteReader in(body);
    auto type = static_cast<JournalRecordType>(in.U8());
    uint64_t key = in.U64();
    uint64_t size = kFrameHead + length;
    contents.max_key = std::max(contents.max_key, key);
    auto found = contents.live.find(key);
    if (found != contents.live.end()) {
      contents.dead_bytes += found->second.size;
      contents.live.erase(found);
    }
    if (type == JournalRecordType::kPut) {
      contents.live[key] = {at, size, std::string(body.substr(kBodyHead))};
    } else {
      contents.dead_bytes += size;  // a remove record only ever costs space
    }
    at += size;
    contents.valid_end = at;
  }
  // Zeros after the records are space the writer set aside, not damage.
  contents.torn = bytes.find_first_not_of('\0', contents.valid_end) != std::string_view::npos;
  return contents;
}

}  // namespace qz
