#include "server/caller_ledger.h"

#include <utility>

namespace qz {

struct CallerLedger::State {
  explicit State(const Limits& l) : limits(l) {}
  Limits limits;
  mutable std::mutex mutex;
  std::map<std::string, CallerUsage, std::less<>> usage;
};

CallerLedger::CallerLedger(const Limits& limits) : state_(std::make_shared<State>(limits)) {}

CallerLedger::Admission CallerLedger::Admit(std::string_view caller, bool request, size_t bytes) {
  std::lock_guard lock(state_->mutex);
  auto it = state_->usage.find(caller);
  const CallerUsage now = it == state_->usage.end() ? CallerUsage{} : it->second;
  if (auto passed = CheckCall(state_->limits, now, request, bytes)) return {std::nullopt, passed};
  if (it == state_->usage.end()) it = state_->usage.emplace(std::string(caller), now).first;
  it->second.pending += request ? 1 : 0;
  it->second.pending_bytes += bytes;
  return {Ticket(state_, std::string(caller), request, bytes), std::nullopt};
}

CallerUsage CallerLedger::Usage(std::string_view caller) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->usage.find(caller);
  return it == state_->usage.end() ? CallerUsage{} : it->second;
}

CallerLedger::Ticket::Ticket(std::shared_ptr<State> state, std::string caller, bool request,
                             size_t bytes)
    : state_(std::move(state)), caller_(std::move(caller)), request_(request), bytes_(bytes) {}

CallerLedger::Ticket::Ticket(Ticket&& other) noexcept
    : state_(std::move(other.state_)),
      caller_(std::move(other.caller_)),
      request_(other.request_),
      bytes_(std::exchange(other.bytes_, 0)) {}

CallerLedger::Ticket& CallerLedger::Ticket::operator=(Ticket&& other) noexcept {
  if (this != &other) {
    Return();
    state_ = std::move(other.state_);
    caller_ = std::move(other.caller_);
    request_ = other.request_;
    bytes_ = std::exchange(other.bytes_, 0);
  }
  return *this;
}

CallerLedger::Ticket::~Ticket() { Return(); }

void CallerLedger::Ticket::Return() {
  if (!state_) return;
  std::lock_guard lock(state_->mutex);
  auto it = state_->usage.find(caller_);
  if (it != state_->usage.end()) {
    it->second.pending -= request_ ? 1 : 0;
    it->second.pending_bytes -= bytes_;
    // A connection that holds nothing leaves no trace.
    if (it->second.pending == 0 && it->second.pending_bytes == 0) state_->usage.erase(it);
  }
  state_.reset();
}

}  // namespace qz
