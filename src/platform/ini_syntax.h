// The line grammar of profile-format settings files, shared by the reader and
// the editor so that both see the same sections, keys and values.
// Pure functions over text; safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/trim.h"

namespace qz::ini {

enum class LineKind { kOther, kSection, kEntry };  // kOther: blank, comment or stray text

struct ParsedLine {
  LineKind kind = LineKind::kOther;
  std::string_view name;       // section or key name, blanks trimmed
  std::string_view raw_value;  // entry: text after "=", blanks trimmed, quotes kept
  size_t value_offset = 0;     // entry: where raw_value starts in the line
};

// `line` excludes its line ending.
ParsedLine ParseLine(std::string_view line);

// One physical line of a file and the ending that followed it ("" for a last
// line without one).
struct LineSpan {
  std::string_view text;
  std::string_view eol;
};
// Takes the next line off the front of `rest`; `rest` must not be empty.
LineSpan NextLine(std::string_view& rest);

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// A value as stored in a file (`raw`) and as written (`Quote`): a value with
// blanks at either end, or one that is itself quoted, is wrapped in quotes so
// that trimming and unquoting on reading give it back unchanged.
std::string_view Unquote(std::string_view raw);
std::string Quote(std::string_view value);

// Section and key names are compared without regard to case, Unicode-aware.
bool FoldedCaseEqual(std::string_view a, std::string_view b);

// Whether a name or value can be written so that it reads back the same.
bool IsStorableSection(std::string_view section);
bool IsStorableKey(std::string_view key);
bool IsStorableValue(std::string_view value);

}  // namespace qz::ini
