// Who counts as an outsider: on the system bus, a caller whose Unix user is
// neither root nor a member of the group qznotes (primary or supplementary,
// as the user database says). On the session bus nobody is. Decided once per
// unique bus name and kept until the name leaves. Safe from any thread, but
// IsOutsider may wait for the bus: never on the GDBus worker thread.
#pragma once

#include <sys/types.h>

#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "server/caller_uids.h"

namespace qz {

inline constexpr const char* kStaffGroup = "qznotes";

// True for root and for the members of `group`.
bool UserIsInsider(uid_t uid, const char* group = kStaffGroup);

class CallerStanding {
 public:
  // `uids` must outlive this.
  CallerStanding(CallerUids& uids, bool system_bus) : uids_(uids), system_bus_(system_bus) {}

  // A caller the bus cannot name a user for (it left) is an outsider.
  bool IsOutsider(const std::string& bus_name);
  // The name left the bus.
  void Forget(std::string_view bus_name);

 private:
  CallerUids& uids_;
  const bool system_bus_;
  std::mutex mutex_;
  std::map<std::string, bool, std::less<>> outsiders_;
};

}  // namespace qz
