// Which objects hold accepted work that has not ended yet, by object path,
// with a name for the log ("request T-42"). Kept apart from the objects
// themselves so that a stop can name the work an apartment is still stuck
// in without asking that apartment. Safe from any thread.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qz {

class PendingWork {
 public:
  // An object holds at most one piece of pending work: a later one replaces it.
  void Accepted(std::string_view path, std::string name);
  // Ran, or was cancelled with its object.
  void Ended(std::string_view path);
  // (path, name) of every piece not ended, by path.
  std::vector<std::pair<std::string, std::string>> All() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string, std::less<>> pending_;
};

}  // namespace qz
