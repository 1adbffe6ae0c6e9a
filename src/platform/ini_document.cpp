#include "platform/ini_document.h"

#include "platform/ini_syntax.h"

namespace qz::ini {
namespace {

// Endings as static texts, so a Line never points into the text it was parsed from.
std::string_view Ending(std::string_view eol) {
  if (eol == "\r\n") return "\r\n";
  if (eol == "\n") return "\n";
  return "";
}

std::string EntryLine(std::string_view key, std::string_view value) {
  std::string line(TrimBlanks(key));
  line.append(1, '=').append(Quote(value));
  return line;
}

}  // namespace

IniDocument::IniDocument(std::string_view text) {
  if (text.starts_with(kUtf8Bom)) {
    bom_ = true;
    text.remove_prefix(kUtf8Bom.size());
  }
  while (!text.empty()) {
    LineSpan line = NextLine(text);
    lines_.push_back({std::string(line.text), Ending(line.eol)});
  }
}

// Added lines follow the file's style, taken from its first line; a new or
// one-line file gets the platform's LF.
std::string_view IniDocument::NewLineEnding() const {
  if (!lines_.empty() && !lines_.front().eol.empty()) return lines_.front().eol;
  return "\n";
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  section = TrimBlanks(section);
  const std::string_view eol = NewLineEnding();
  size_t header = lines_.size();
  size_t insert_at = 0;
  for (size_t i = 0; i < lines_.size(); ++i) {
    ParsedLine line = ParseLine(lines_[i].text);
    if (line.kind == LineKind::kSection) {
      if (header != lines_.size()) break;
      if (FoldedCaseEqual(line.name, section)) header = insert_at = i;
    } else if (header != lines_.size() && line.kind == LineKind::kEntry) {
      if (FoldedCaseEqual(line.name, TrimBlanks(key))) {
        lines_[i].text.resize(line.value_offset);
        lines_[i].text.append(Quote(value));
        return;
      }
      insert_at = i;  // new keys go after the section's last entry
    }
  }

  if (header != lines_.size()) {
    Line& before = lines_[insert_at];
    std::string_view new_eol = before.eol.empty() ? "" : eol;  // keep a missing final ending
    if (before.eol.empty()) before.eol = eol;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at) + 1,
                  Line{EntryLine(key, value), new_eol});
    return;
  }

  if (!lines_.empty()) {
    if (lines_.back().eol.empty()) lines_.back().eol = eol;
    if (!TrimBlanks(lines_.back().text).empty()) lines_.push_back({"", eol});
  }
  lines_.push_back({"[" + std::string(section) + "]", eol});
  lines_.push_back({EntryLine(key, value), eol});
}

std::string IniDocument::Text() const {
  size_t size = bom_ ? kUtf8Bom.size() : 0;
  for (const Line& line : lines_) size += line.text.size() + line.eol.size();
  std::string text;
  text.reserve(size);
  if (bom_) text.append(kUtf8Bom);
  for (const Line& line : lines_) text.append(line.text).append(line.eol);
  return text;
}

}  // namespace qz::ini
