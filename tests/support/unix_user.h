// Runs test programs as another Unix user: a local account looked up by
// name, and the command line that starts a program as that user (setpriv,
// which root may use to drop to any user). For tests of what the system
// bus's policy and the daemon let an unprivileged caller do. Stateless.
#pragma once

#include <pwd.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

namespace qz::testing {

struct UnixUser {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
};

// The account `name` from the user database; nullopt when there is none.
inline std::optional<UnixUser> FindUser(const std::string& name) {
  const passwd* found = getpwnam(name.c_str());  // tests look users up from one thread
  if (!found) return std::nullopt;
  return UnixUser{name, found->pw_uid, found->pw_gid};
}

// True when this process may start programs as other users.
inline bool CanSwitchUsers() { return geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0; }

// `argv` prefixed so that it runs as `user`, with the user's own groups and
// nothing inherited from root but the environment and open descriptors.
inline std::vector<std::string> AsUser(const UnixUser& user, std::vector<std::string> argv) {
  argv.insert(argv.begin(),
              {"/usr/bin/setpriv", "--reuid=" + std::to_string(user.uid),
               "--regid=" + std::to_string(user.gid), "--init-groups", "--inh-caps=-all", "--"});
  return argv;
}

}  // namespace qz::testing
