#include "platform/registry_path.h"

#include "platform/utf8.h"

namespace qz {

bool IsRootKey(RegHandle handle) { return handle >= kHkeyClassesRoot && handle <= kHkeyDynData; }

std::optional<std::vector<std::string>> SplitKeyPath(std::string_view path) {
  std::vector<std::string> names;
  if (path.empty()) return names;
  // One trailing separator names the key before it; it adds no empty name.
  if (path.back() == '\\') path.remove_suffix(1);
  if (path.empty()) return std::nullopt;  // "\" alone starts with a separator
  size_t start = 0;
  while (true) {
    size_t end = path.find('\\', start);
    std::string_view name = path.substr(start, end == std::string_view::npos ? end : end - start);
    if (name.empty() || Utf8Length(name) > kRegMaxNameChars) return std::nullopt;
    if (names.size() == kRegMaxDepth) return std::nullopt;
    names.emplace_back(name);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return names;
}

std::string JoinKeyPath(const std::vector<std::string>& names, size_t count) {
  std::string path;
  for (size_t i = 0; i < count && i < names.size(); ++i) {
    if (i > 0) path += '\\';
    path += names[i];
  }
  return path;
}

}  // namespace qz
