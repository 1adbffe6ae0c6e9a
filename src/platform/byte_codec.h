// Little-endian fixed-width integers and length-prefixed texts in a byte
// string, for the files the server writes in its own binary form. The
// reader never reads past its end: a short or damaged input raises
// ByteCodecError. Plain values; not shared between threads.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qz {

struct ByteCodecError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class ByteWriter {
 public:
  explicit ByteWriter(std::string& out) : out_(out) {}
  void U8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void U32(uint32_t v) { Fixed(v, 4); }
  void U64(uint64_t v) { Fixed(v, 8); }
  void Text(std::string_view text) {
    U32(static_cast<uint32_t>(text.size()));
    out_.append(text);
  }

 private:
  void Fixed(uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  std::string& out_;
};

class ByteReader {
 public:
  explicit ByteReader(std::string_view in) : in_(in) {}
  uint8_t U8() { return static_cast<uint8_t>(Take(1)[0]); }
  uint32_t U32() { return static_cast<uint32_t>(Fixed(4)); }
  uint64_t U64() { return Fixed(8); }
  std::string Text() {
    uint32_t size = U32();
    return std::string(Take(size));
  }
  bool AtEnd() const { return in_.empty(); }

 private:
  std::string_view Take(size_t n) {
    if (n > in_.size()) throw ByteCodecError("record ends too early");
    std::string_view part = in_.substr(0, n);
    in_.remove_prefix(n);
    return part;
  }
  uint64_t Fixed(int bytes) {
    std::string_view part = Take(bytes);
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(part[i]);
    return v;
  }
  std::string_view in_;
};

}  // namespace qz
