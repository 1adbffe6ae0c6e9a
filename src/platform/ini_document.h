// A settings file's text held line by line for editing. A change touches only
// the line it concerns; every other byte, comments, blank lines, order and
// each line's own ending included, is written back as it was read.
// A plain value; not shared between threads.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qz::ini {

class IniDocument {
 public:
  explicit IniDocument(std::string_view text);

  // Replaces the value of `key` in the first section named `section` (the
  // first such key, as the reader sees it), or adds the key at the end of
  // that section, or adds the section at the end of the file. The caller has
  // checked the names and value with the IsStorable* rules.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  std::string Text() const;

 private:
  struct Line {
    std::string text;
    std::string_view eol;  // "\n", "\r\n" or "" for a last line without one
  };

  std::string_view NewLineEnding() const;

  bool bom_ = false;
  std::vector<Line> lines_;
};

}  // namespace qz::ini
