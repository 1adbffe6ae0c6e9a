// The limits a connection's calls are held to before any of them is run,
// its own, its Unix user's and all callers': a call that passes one is
// answered LimitsExceeded here, and logged at most once per caller and
// window. Safe from any thread.
#pragma once

#include <gio/gio.h>

#include <optional>
#include <string_view>

#include "diagnostics/metrics.h"
#include "diagnostics/refusal_log.h"
#include "platform/holders.h"
#include "server/caller_ledger.h"
#include "server/caller_uids.h"
#include "server/class_table.h"
#include "server/limits.h"

namespace qz {

class CallAdmission {
 public:
  // `uids`, which must outlive this, names the user of each connection;
  // none (the session bus): every connection is a user of its own. A
  // caller's user must be known by its first call (CallerUids::WhenKnown);
  // one the bus could not name is refused.
  // `metrics`, when given, counts the refusals; it must outlive this.
  CallAdmission(GDBusConnection* connection, const Limits& limits, const CallerUids* uids = nullptr,
                Metrics* metrics = nullptr);
  CallAdmission(const CallAdmission&) = delete;
  CallAdmission& operator=(const CallAdmission&) = delete;

  // The ticket a call to `op` holds while it is pending, or nothing when it
  // passes a limit and was answered LimitsExceeded.
  std::optional<CallerLedger::Ticket> Admit(GDBusMessage* call, const Operation& op, bool invoke);
  // The ticket an object of the caller of `call` holds while it lives, or
  // nothing when its user or all callers hold their most (and `call` was
  // answered LimitsExceeded).
  std::optional<CallerLedger::Ticket> AdmitObject(GDBusMessage* call);
  // The ticket a call holds while it waits for the bus to name its caller's
  // user (CallerUids::WhenKnown), or nothing when it passes a limit and was
  // answered LimitsExceeded. No user's limit can count it yet, so its bytes
  // count against its connection's and all callers' pending bytes; many
  // connections of one user cannot hold more than the total meanwhile. The
  // ticket goes before the call is admitted as its user's.
  std::optional<CallerLedger::Ticket> AdmitWaiting(GDBusMessage* call);
  void RefuseOverLimit(GDBusMessage* call, Limit limit);
  // The same for a caller of another boundary, named "http:TOKEN", held to
  // a connection's limits as a user of its own; a refusal is counted and
  // logged here, and answered by the caller.
  CallerLedger::Admission AdmitNamed(std::string_view caller, bool request, size_t bytes);
  // The count of AdmitWaiting for `caller`'s call of `bytes`; a refusal is
  // neither counted nor answered.
  CallerLedger::Admission AdmitWaitingBytes(std::string_view caller, size_t bytes);
  // The caller left the bus.
  void Forget(std::string_view caller) {
    refusals_.Forget(caller);
    ledger_.Forget(caller);
  }

  const Limits& limits() const { return limits_; }

 private:
  CallerLedger::UserOf UserOf(const char* sender) const;
  // The bus could not name the caller's user (it was too busy to answer,
  // or the caller left): its calls cannot be held to that user's limits,
  // nor its objects seated within that user's share, so they are refused.
  bool UserUnknown(const char* sender) const;

  ConnectionPtr connection_;
  const Limits limits_;
  const CallerUids* const uids_;
  CallerLedger ledger_;
  RefusalLog refusals_;
  Metrics* metrics_;
};

}  // namespace qz
