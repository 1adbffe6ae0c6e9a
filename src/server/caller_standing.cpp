#include "server/caller_standing.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

namespace qz {
namespace {

constexpr size_t kMaxBuffer = 1 << 20;  // a user database entry larger than this is refused

// One entry of the user database, read by a *_r function `lookup(entry,
// buffer, size, &found)` into `buffer`, grown while the entry does not fit.
// Null when there is none (or it would not fit in kMaxBuffer).
template <class Entry, class Lookup>
Entry* ReadGroupEntry(Entry& entry, std::vector<char>& buffer, Lookup lookup) {
  const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  buffer.resize(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
  Entry* found = nullptr;
  while (lookup(&entry, buffer.data(), buffer.size(), &found) == ERANGE) {
    if (buffer.size() > kMaxBuffer) return nullptr;
    buffer.resize(buffer.size() * 2);
  }
  return found;
}

std::optional<gid_t> GroupId(const char* name) {
  std::vector<char> buffer;
  group entry{};
  const group* found = ReadGroupEntry(entry, buffer, [&](group* e, char* b, size_t n, group** f) {
    return getgrnam_r(name, e, b, n, f);
  });
  return found ? std::optional<gid_t>(found->gr_gid) : std::nullopt;
}

}  // namespace

bool UserIsInsider(uid_t uid, const char* group_name) {
  if (uid == 0) return true;
  const std::optional<gid_t> staff = GroupId(group_name);
  if (!staff) return false;
  std::vector<char> buffer;
  passwd entry{};
  const passwd* user = ReadGroupEntry(entry, buffer, [&](passwd* e, char* b, size_t n, passwd** f) {
    return getpwuid_r(uid, e, b, n, f);
  });
  if (!user) return false;
  if (user->pw_gid == *staff) return true;
  std::vector<gid_t> groups(64);
  int count = static_cast<int>(groups.size());
  while (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
    if (count <= static_cast<int>(groups.size()) || count > 65536) return false;
    groups.resize(static_cast<size_t>(count));
  }
  groups.resize(static_cast<size_t>(count));
  return std::find(groups.begin(), groups.end(), *staff) != groups.end();
}

bool CallerStanding::IsOutsider(const std::string& bus_name) {
  if (!system_bus_ || bus_name.empty()) return false;
  {
    std::lock_guard lock(mutex_);
    if (auto it = outsiders_.find(bus_name); it != outsiders_.end()) return it->second;
  }
  const std::optional<uid_t> uid = uids_.Lookup(bus_name);
  const bool outsider = !uid || !UserIsInsider(*uid);
  // Only unique names are kept, and only while the bus could name the user.
  if (uid && bus_name.starts_with(':')) {
    std::lock_guard lock(mutex_);
    outsiders_.emplace(bus_name, outsider);
  }
  return outsider;
}

void CallerStanding::Forget(std::string_view bus_name) {
  std::lock_guard lock(mutex_);
  if (auto it = outsiders_.find(bus_name); it != outsiders_.end()) outsiders_.erase(it);
}

}  // namespace qz
