#include "dispatch/journal_file.h"

#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/byte_codec.h"
#include "platform/crc32.h"

namespace qz {
namespace {

constexpr std::string_view kMagicV1 = "QZJRNL1\n";
constexpr std::string_view kMagicV2 = "QZJRNL2\n";
constexpr uint64_t kBodyHead = 9;  // type and key
// No request comes near this; a larger length is damage, not data.
constexpr uint32_t kMaxBody = 1u << 30;
constexpr size_t kWindow = 1 << 20;
// A first-form record has no head check, so a scan past damage in such a
// file also wants a key a run could have given out; random bytes rarely do.
constexpr uint64_t kV1ScanKeyLimit = uint64_t{1} << 40;

uint32_t LoadU32(std::string_view bytes) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[i]);
  return v;
}

uint64_t LoadU64(std::string_view bytes) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[i]);
  return v;
}

uint32_t HeadCheck(std::string_view salt, std::string_view head8) {
  char both[kJournalSaltSize + 8];
  std::memcpy(both, salt.data(), kJournalSaltSize);
  std::memcpy(both + kJournalSaltSize, head8.data(), 8);
  return Crc32({both, sizeof both});
}

// The file's bytes through a window of fixed size, or a string already in
// memory. After a read error it answers short and failed() says so.
class Source {
 public:
  explicit Source(std::string_view bytes) : bytes_(bytes), size_(bytes.size()) {}
  explicit Source(int fd) : fd_(fd) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) size_ = static_cast<uint64_t>(st.st_size);
    failed_ = st.st_size < 0;
  }

  uint64_t size() const { return size_; }
  bool failed() const { return failed_; }

  // Up to `n` (at most the window) bytes at `at`.
  std::string_view Get(uint64_t at, size_t n) {
    if (at >= size_) return {};
    n = static_cast<size_t>(std::min<uint64_t>(n, size_ - at));
    if (fd_ < 0) return bytes_.substr(at, n);
    if (at < window_at_ || at + n > window_at_ + window_.size()) Fill(at);
    return std::string_view(window_).substr(at - window_at_, n);
  }

  // The bytes from `at` to the end of the window (or of the file).
  std::string_view From(uint64_t at) {
    if (at >= size_) return {};
    if (fd_ < 0) return bytes_.substr(at);
    if (at < window_at_ || at >= window_at_ + window_.size()) Fill(at);
    return std::string_view(window_).substr(at - window_at_);
  }

  // All `n` bytes at `at`; false when they cannot be read.
  bool Copy(uint64_t at, uint64_t n, std::string& out) {
    if (n <= kWindow) {
      std::string_view got = Get(at, n);
      out.assign(got);
      return got.size() == n;
    }
    out.resize(n);
    return PRead(at, out.data(), n) == n;
  }

 private:
  void Fill(uint64_t at) {
    window_.resize(static_cast<size_t>(std::min<uint64_t>(kWindow, size_ - at)));
    window_.resize(PRead(at, window_.data(), window_.size()));
    window_at_ = at;
  }
  size_t PRead(uint64_t at, char* out, size_t n) {
    size_t done = 0;
    while (done < n) {
      ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(at + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        failed_ = true;  // a file cut shorter under us reads as damage too
        break;
      }
      done += static_cast<size_t>(got);
    }
    return done;
  }

  int fd_ = -1;
  std::string_view bytes_;
  uint64_t size_ = 0;
  std::string window_;
  uint64_t window_at_ = 0;
  bool failed_ = false;
};

struct Form {
  uint64_t head = 12;     // bytes before the body
  std::string_view salt;  // empty: the first form
};

struct Record {
  JournalRecordType type{};
  uint64_t key = 0;
  uint64_t size = 0;
  std::string payload;
};

// Whether a whole record starts at `at`, checked by everything it carries.
bool TryRecord(Source& source, const Form& form, uint64_t at, bool scanning, Record& record) {
  std::string_view head = source.Get(at, form.head + kBodyHead);
  if (head.size() < form.head + kBodyHead) return false;
  const uint32_t length = LoadU32(head);
  const uint32_t crc = LoadU32(head.substr(4));
  const auto type = static_cast<unsigned char>(head[form.head]);
  const uint64_t key = LoadU64(head.substr(form.head + 1));
  if (length < kBodyHead || length > kMaxBody || length > source.size() - at - form.head)
    return false;
  if (type != 1 && !(type == 2 && length == kBodyHead)) return false;
  if (form.salt.empty() ? scanning && key >= kV1ScanKeyLimit
                        : HeadCheck(form.salt, head.substr(0, 8)) != LoadU32(head.substr(8)))
    return false;
  std::string body;
  if (!source.Copy(at + form.head, length, body) || Crc32(body) != crc) return false;
  record.type = static_cast<JournalRecordType>(type);
  record.key = key;
  record.size = form.head + length;
  record.payload = body.substr(kBodyHead);
  return true;
}

// The first byte at or after `at` that is not zero; the size when none is.
uint64_t NextNonZero(Source& source, uint64_t at) {
  while (at < source.size()) {
    std::string_view chunk = source.From(at);
    if (chunk.empty()) break;
    size_t i = 0;
    for (; i + 8 <= chunk.size(); i += 8) {
      uint64_t word;
      std::memcpy(&word, chunk.data() + i, 8);
      if (word != 0) break;
    }
    for (; i < chunk.size(); ++i)
      if (chunk[i] != '\0') return at + i;
    at += chunk.size();
  }
  return source.size();
}

void Apply(JournalContents& contents, uint64_t at, Record& record) {
  contents.max_key = std::max(contents.max_key, record.key);
  ++contents.records;
  auto found = contents.live.find(record.key);
  if (found != contents.live.end()) {
    contents.dead_bytes += found->second.size;
    contents.live.erase(found);
  }
  if (record.type == JournalRecordType::kPut)
    contents.live[record.key] = {at, record.size, std::move(record.payload)};
  else
    contents.dead_bytes += record.size;  // a remove record only ever costs space
}

// Reads records from `at` on. After damage it scans on for the next record;
// zeros after the last one are the writer's spare room, unless the header
// was wrong (then nothing in the file is known to be the writer's).
void Scan(Source& source, const Form& form, uint64_t at, JournalContents& contents) {
  contents.valid_end = at;
  bool scanning = false;
  uint64_t damage_from = 0, nonzero_end = 0;
  Record record;
  while (at < source.size() && !source.failed()) {
    if (TryRecord(source, form, at, scanning, record)) {
      if (scanning) contents.skipped_bytes += at - damage_from;
      scanning = false;
      Apply(contents, at, record);
      at += record.size;
      contents.valid_end = at;
      continue;
    }
    if (!scanning) {
      scanning = true;
      damage_from = nonzero_end = at;
    }
    // A record's length is at least 9, so one of its first 4 bytes is not zero.
    const uint64_t next = NextNonZero(source, at);
    if (next >= source.size()) break;
    nonzero_end = next + 1;
    at = std::max(at + 1, next < 3 ? 0 : next - 3);
  }
  if (scanning)
    contents.skipped_bytes += (contents.recognised ? nonzero_end : source.size()) - damage_from;
  contents.read_error = source.failed();
}

JournalContents Read(Source& source) {
  JournalContents contents;
  if (source.size() == 0) return contents;  // a journal not yet begun
  // A copy: reading on moves the window under a view.
  const std::string head(source.Get(0, kMagicV2.size() + kJournalSaltSize));
  const bool v2 = head.starts_with(kMagicV2) && head.size() == kMagicV2.size() + kJournalSaltSize;
  if (v2 || head.starts_with(kMagicV1)) {
    std::string salt(v2 ? head.substr(kMagicV2.size()) : "");
    Scan(source, {v2 ? 12u : 8u, salt}, v2 ? head.size() : kMagicV1.size(), contents);
    return contents;
  }
  // A damaged header: its records may still be whole, in either form.
  for (bool salted : {true, false}) {
    contents = {};
    contents.recognised = false;
    const uint64_t start = salted ? kMagicV2.size() + kJournalSaltSize : kMagicV1.size();
    std::string salt(salted ? head.substr(std::min(head.size(), kMagicV2.size())) : "");
    if (salted && salt.size() < kJournalSaltSize) continue;
    if (start >= source.size()) {
      contents.skipped_bytes = source.size();
      break;
    }
    contents.skipped_bytes = start;
    Scan(source, {salted ? 12u : 8u, salt}, start, contents);
    if (contents.records > 0) break;
  }
  return contents;
}

}  // namespace

std::string NewJournalHeader() {
  std::string header(kMagicV2);
  char salt[kJournalSaltSize];
  if (::getrandom(salt, sizeof salt, 0) != static_cast<ssize_t>(sizeof salt)) {
    // Without the kernel's randomness, a salt that differs between runs.
    uint64_t mix =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<uint64_t>(::getpid()) << 40);
    std::memcpy(salt, &mix, sizeof salt);
  }
  header.append(salt, sizeof salt);
  return header;
}

std::string FrameRecord(std::string_view header, JournalRecordType type, uint64_t key,
                        std::string_view payload) {
  std::string body;
  body.reserve(kBodyHead + payload.size());
  ByteWriter b(body);
  b.U8(static_cast<uint8_t>(type));
  b.U64(key);
  body.append(payload);
  std::string frame;
  frame.reserve(12 + body.size());
  ByteWriter f(frame);
  f.U32(static_cast<uint32_t>(body.size()));
  f.U32(Crc32(body));
  f.U32(HeadCheck(header.substr(kMagicV2.size(), kJournalSaltSize), frame));
  frame.append(body);
  return frame;
}

JournalContents ReadJournal(std::string_view bytes) {
  Source source(bytes);
  return Read(source);
}

JournalContents ReadJournal(int fd) {
  Source source(fd);
  return Read(source);
}

}  // namespace qz
