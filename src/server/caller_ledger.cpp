#include "server/caller_ledger.h"

#include <utility>

namespace qz {
namespace {

void AddUsage(CallerUsage& to, const CallerUsage& more) {
  to.objects += more.objects;
  to.pending += more.pending;
  to.pending_bytes += more.pending_bytes;
  to.journal_bytes += more.journal_bytes;
}

void SubtractUsage(CallerUsage& from, const CallerUsage& less) {
  from.objects -= less.objects;
  from.pending -= less.pending;
  from.pending_bytes -= less.pending_bytes;
  from.journal_bytes -= less.journal_bytes;
}

bool HoldsNothing(const CallerUsage& usage) {
  return usage.objects == 0 && usage.pending == 0 && usage.pending_bytes == 0;
}

}  // namespace

struct CallerLedger::State {
  struct Connection {
    CallerUsage usage;
    // Its user's counts; none: it is a user of its own and holds no trace
    // once it holds nothing.
    CallerUsage* user = nullptr;
  };
  explicit State(const Limits& l) : limits(l) {}
  Limits limits;
  mutable std::mutex mutex;
  std::map<std::string, Connection, std::less<>> connections;
  // Never erased, so tickets may point at them; there are only so many users.
  std::map<uid_t, CallerUsage> users;
  CallerUsage total;
};

CallerLedger::CallerLedger(const Limits& limits) : state_(std::make_shared<State>(limits)) {}

CallerLedger::Admission CallerLedger::Admit(std::string_view caller, bool request, size_t bytes,
                                            const UserOf& user_of) {
  return Take(caller, CallUsage(request, bytes), user_of);
}

CallerLedger::Admission CallerLedger::AdmitObject(std::string_view caller, const UserOf& user_of) {
  return Take(caller, CallerUsage{.objects = 1}, user_of);
}

CallerLedger::Admission CallerLedger::Take(std::string_view caller, const CallerUsage& more,
                                           const UserOf& user_of) {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  auto it = s.connections.find(caller);
  const bool seen = it != s.connections.end();
  const State::Connection now = seen ? it->second : State::Connection{};
  CallerUsage* user = now.user;
  if (!seen && user_of)
    if (std::optional<uid_t> uid = user_of()) user = &s.users[*uid];
  std::optional<Limit> passed = CheckAdd(s.limits, kConnectionScope, now.usage, more);
  // A connection of its own user has its own limits only, which may be set
  // above a user's.
  if (!passed && user) passed = CheckAdd(s.limits, kUserScope, *user, more);
  if (!passed) passed = CheckAdd(s.limits, kTotalScope, s.total, more);
  if (!seen && user)
    it = s.connections.emplace(std::string(caller), State::Connection{{}, user}).first;
  if (passed) return {std::nullopt, passed};
  if (it == s.connections.end()) it = s.connections.emplace(std::string(caller), now).first;
  AddUsage(it->second.usage, more);
  if (user) AddUsage(*user, more);
  AddUsage(s.total, more);
  return {Ticket(state_, std::string(caller), user, more), std::nullopt};
}

void CallerLedger::Forget(std::string_view caller) {
  std::lock_guard lock(state_->mutex);
  auto it = state_->connections.find(caller);
  if (it != state_->connections.end()) state_->connections.erase(it);
}

CallerUsage CallerLedger::Usage(std::string_view caller) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->connections.find(caller);
  return it == state_->connections.end() ? CallerUsage{} : it->second.usage;
}

CallerUsage CallerLedger::UserUsage(uid_t user) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->users.find(user);
  return it == state_->users.end() ? CallerUsage{} : it->second;
}

CallerUsage CallerLedger::TotalUsage() const {
  std::lock_guard lock(state_->mutex);
  return state_->total;
}

CallerLedger::Ticket::Ticket(std::shared_ptr<State> state, std::string caller, CallerUsage* user,
                             CallerUsage counted)
    : state_(std::move(state)), caller_(std::move(caller)), user_(user), counted_(counted) {}

CallerLedger::Ticket::Ticket(Ticket&& other) noexcept
    : state_(std::move(other.state_)),
      caller_(std::move(other.caller_)),
      user_(other.user_),
      counted_(std::exchange(other.counted_, {})) {}

CallerLedger::Ticket& CallerLedger::Ticket::operator=(Ticket&& other) noexcept {
  if (this != &other) {
    Return();
    state_ = std::move(other.state_);
    caller_ = std::move(other.caller_);
    user_ = other.user_;
    counted_ = std::exchange(other.counted_, {});
  }
  return *this;
}

CallerLedger::Ticket::~Ticket() { Return(); }

void CallerLedger::Ticket::Return() {
  if (!state_) return;
  std::lock_guard lock(state_->mutex);
  auto it = state_->connections.find(caller_);
  if (it != state_->connections.end()) {
    SubtractUsage(it->second.usage, counted_);
    // A connection of its own user that holds nothing leaves no trace.
    if (!it->second.user && HoldsNothing(it->second.usage)) state_->connections.erase(it);
  }
  if (user_) SubtractUsage(*user_, counted_);
  SubtractUsage(state_->total, counted_);
  state_.reset();
}

}  // namespace qz
