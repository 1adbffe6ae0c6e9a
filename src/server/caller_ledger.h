// What each connection holds of the daemon's work: requests whose run has
// not ended and the argument bytes of its calls not yet done, each counted
// by a ticket from the moment the call is taken until what it started ends.
// Safe from any thread; tickets may outlive the ledger.
#pragma once

#include <cstddef>
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
  // Counts one call of a connection for as long as it lives.
  class Ticket {
   public:
    Ticket(Ticket&& other) noexcept;
    Ticket& operator=(Ticket&& other) noexcept;
    ~Ticket();
    size_t bytes() const { return bytes_; }

   private:
    friend class CallerLedger;
    Ticket(std::shared_ptr<State> state, std::string caller, bool request, size_t bytes);
    void Return();
    std::shared_ptr<State> state_;
    std::string caller_;
    bool request_ = false;
    size_t bytes_ = 0;
  };

  explicit CallerLedger(const Limits& limits);

  // A ticket for a call of `bytes` from `caller`, or the limit it would
  // pass (and nothing is counted).
  struct Admission {
    std::optional<Ticket> ticket;
    std::optional<Limit> refused;
  };
  Admission Admit(std::string_view caller, bool request, size_t bytes);

  CallerUsage Usage(std::string_view caller) const;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace qz
