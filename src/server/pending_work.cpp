#include "server/pending_work.h"

namespace qz {

void PendingWork::Accepted(std::string_view path, std::string name) {
  std::lock_guard lock(mutex_);
  pending_.insert_or_assign(std::string(path), std::move(name));
}

void PendingWork::Ended(std::string_view path) {
  std::lock_guard lock(mutex_);
  if (auto found = pending_.find(path); found != pending_.end()) pending_.erase(found);
}

std::vector<std::pair<std::string, std::string>> PendingWork::All() const {
  std::lock_guard lock(mutex_);
  return {pending_.begin(), pending_.end()};
}

}  // namespace qz
