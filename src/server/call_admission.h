// The limits one connection's calls are held to before any of them is run:
// a call that passes one is answered LimitsExceeded here, and logged at
// most once per caller and window. Safe from any thread.
#pragma once

#include <gio/gio.h>

#include <optional>
#include <string_view>

#include "diagnostics/metrics.h"
#include "platform/holders.h"
#include "server/caller_ledger.h"
#include "server/class_table.h"
#include "server/limits.h"
#include "server/refusal_log.h"

namespace qz {

class CallAdmission {
 public:
  // `metrics`, when given, counts the refusals; it must outlive this.
  CallAdmission(GDBusConnection* connection, const Limits& limits, Metrics* metrics = nullptr);
  CallAdmission(const CallAdmission&) = delete;
  CallAdmission& operator=(const CallAdmission&) = delete;

  // The ticket a call to `op` holds while it is pending, or nothing when it
  // passes a limit and was answered LimitsExceeded.
  std::optional<CallerLedger::Ticket> Admit(GDBusMessage* call, const Operation& op, bool invoke);
  void RefuseOverLimit(GDBusMessage* call, Limit limit);
  // The caller left the bus.
  void Forget(std::string_view caller) { refusals_.Forget(caller); }

  const Limits& limits() const { return limits_; }

 private:
  ConnectionPtr connection_;
  const Limits limits_;
  CallerLedger ledger_;
  RefusalLog refusals_;
  Metrics* metrics_;
};

}  // namespace qz
