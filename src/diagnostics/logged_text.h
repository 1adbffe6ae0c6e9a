// What an object remembers of the last log entry it wrote, to write the same
// text only once in a row. A long text (a run of many failed groups can be
// megabytes) is remembered by its length and SHA-256 digest instead of
// kept whole, so the object does not hold a copy for the rest of its life.
// Belongs to one object.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qz {

class LoggedText {
 public:
  // Texts up to this many bytes are kept whole.
  static constexpr size_t kKeptWhole = 64 * 1024;

  bool Equals(std::string_view text) const;
  void Remember(std::string_view text);

  // A form that survives a restart (the request journal keeps it), and back.
  std::string Saved() const;
  static LoggedText FromSaved(std::string_view saved);

 private:
  static std::string Digest(std::string_view text);

  std::string kept_;  // the text, or the digest of a long one
  size_t size_ = 0;
};

}  // namespace qz
