#include "diagnostics/refusal_log.h"

namespace qz {
namespace {

constexpr size_t kPruneAbove = 4096;

}  // namespace

std::optional<std::string> RefusalLog::Line(std::string_view caller, std::string_view text,
                                            Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto it = callers_.find(caller);
  if (it != callers_.end() && now - it->second.last_line < window_) {
    ++it->second.unlogged;
    return std::nullopt;
  }
  if (it == callers_.end()) {
    // Callers that come and go (HTTP clients are never forgotten) leave
    // entries; those past their window go (with any count of unlogged ones).
    if (callers_.size() >= kPruneAbove)
      std::erase_if(callers_,
                    [&](const auto& entry) { return now - entry.second.last_line >= window_; });
    it = callers_.emplace(std::string(caller), Caller{}).first;
  }
  std::string line = std::string(caller) + ": " + std::string(text);
  if (it->second.unlogged > 0)
    line += " (and " + std::to_string(it->second.unlogged) + " " + unlogged_ + ")";
  it->second = Caller{now, 0};
  return line;
}

void RefusalLog::Forget(std::string_view caller) {
  std::lock_guard lock(mutex_);
  if (auto it = callers_.find(caller); it != callers_.end()) callers_.erase(it);
}

}  // namespace qz
