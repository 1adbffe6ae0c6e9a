#include "config/path_confinement.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "config/settings_path.h"

namespace qz {
namespace {

namespace fs = std::filesystem;

bool HasParentComponent(const fs::path& path) {
  return std::any_of(path.begin(), path.end(), [](const fs::path& part) { return part == ".."; });
}

// Without a trailing "/", whose empty last component would break IsWithin.
fs::path Normal(const fs::path& path) {
  fs::path normal = path.lexically_normal();
  if (normal.has_relative_path() && normal.filename().empty()) normal = normal.parent_path();
  return normal;
}

// Component-wise, so "/opt/qz" does not contain "/opt/qzz".
bool IsWithin(const fs::path& inner, const fs::path& outer) {
  auto [outer_end, inner_pos] =
      std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
  (void)inner_pos;
  return outer_end == outer.end();
}

// Follows every link along `relative` one hop at a time, so that a link whose
// target does not exist (which the canonical form leaves unresolved) is
// judged too. False as soon as a hop lands outside `root`.
bool LinksStayWithin(const fs::path& root, const fs::path& relative) {
  fs::path current = root;
  std::error_code error;
  for (const fs::path& part : relative) {
    if (part.empty() || part == ".") continue;
    current /= part;
    for (int hops = 0; fs::is_symlink(current, error); ++hops) {
      if (hops == 40) return false;  // a loop
      fs::path target = fs::read_symlink(current, error);
      if (error) return false;
      current = Normal(target.is_absolute() ? target : current.parent_path() / target);
      if (!IsWithin(current, root)) return false;
    }
  }
  return true;
}

}  // namespace

std::optional<std::string> ConfinedSettingsPath(std::string_view folder,
                                                std::string_view relative) {
  if (relative.find('\0') != relative.npos) return std::nullopt;
  fs::path rel(relative);
  if (rel.is_absolute() || HasParentComponent(rel)) return std::nullopt;
  std::string joined = SettingsPath(folder, relative);
  std::error_code error;
  fs::path real_folder = fs::weakly_canonical(fs::path(folder), error);
  if (error) return std::nullopt;
  fs::path real_target = fs::weakly_canonical(fs::path(joined), error);
  if (error) return std::nullopt;
  if (!IsWithin(Normal(real_target), Normal(real_folder))) return std::nullopt;
  if (!LinksStayWithin(Normal(real_folder), rel)) return std::nullopt;
  return joined;
}

}  // namespace qz
