#include "platform/ini_lookup.h"

#include "platform/ini_syntax.h"

namespace qz::ini {

std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key) {
  section = TrimBlanks(section);
  key = TrimBlanks(key);
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  bool inside = false;
  while (!text.empty()) {
    ParsedLine line = ParseLine(NextLine(text).text);
    if (line.kind == LineKind::kSection) {
      if (inside) return std::nullopt;  // the first matching section ended
      inside = FoldedCaseEqual(line.name, section);
    } else if (inside && line.kind == LineKind::kEntry && FoldedCaseEqual(line.name, key)) {
      return Unquote(line.raw_value);
    }
  }
  return std::nullopt;
}

}  // namespace qz::ini
