// What each connection, each Unix user over all its connections, and all
// callers together hold of the daemon's work: objects, requests whose run
// has not ended and the argument bytes of calls not yet done, each counted
// by a ticket from the moment it is taken until what it started ends.
// A connection whose user is known is kept with it until it leaves the bus,
// so that its next call costs one lookup. Safe from any thread; tickets may
// outlive the ledger.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "server/limits.h"

namespace qz {

class CallerLedger {
  struct State;

 public:
  // Counts one call or object of a connection for as long as it lives.
  class Ticket {
   public:
    Ticket(Ticket&& other) noexcept;
    Ticket& operator=(Ticket&& other) noexcept;
    ~Ticket();
    size_t bytes() const { return counted_.pending_bytes; }

   private:
    friend class CallerLedger;
    Ticket(std::shared_ptr<State> state, std::string caller, CallerUsage* user,
           CallerUsage counted);
    void Return();
    std::shared_ptr<State> state_;
    std::string caller_;
    CallerUsage* user_ = nullptr;  // in the state, which never drops a user
    CallerUsage counted_;
  };

  explicit CallerLedger(const Limits& limits);

  // The Unix user of a connection, asked only the first time it is seen
  // (under the ledger's lock, so it must not wait). Nothing: the connection
  // counts as a user of its own, held to its own limits and the totals, as
  // every connection on the session bus.
  using UserOf = std::function<std::optional<uid_t>()>;

  // A ticket for a call of `bytes` from `caller`, or the limit it would
  // pass (and nothing is counted). The connection's limits are checked
  // first, then its user's, then the totals.
  struct Admission {
    std::optional<Ticket> ticket;
    std::optional<Limit> refused;
  };
  Admission Admit(std::string_view caller, bool request, size_t bytes, const UserOf& user_of = {});
  // The same for one more object; the connection's own count of objects is
  // the object table's.
  Admission AdmitObject(std::string_view caller, const UserOf& user_of = {});
  // The connection left the bus; its tickets still count for its user.
  void Forget(std::string_view caller);

  CallerUsage Usage(std::string_view caller) const;
  CallerUsage UserUsage(uid_t user) const;
  CallerUsage TotalUsage() const;

 private:
  Admission Take(std::string_view caller, const CallerUsage& more, const UserOf& user_of);

  std::shared_ptr<State> state_;
};

}  // namespace qz
