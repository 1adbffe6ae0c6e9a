#include "server/call_admission.h"

#include <string>

#include "server/replies.h"
#include "server/server_log.h"

namespace qz {
namespace {

// Apart from the connection's own entry, which is seated with its user once
// the bus named it; no bus name holds a blank.
std::string WaitingCallerKey(std::string_view caller) { return "waiting " + std::string(caller); }

}  // namespace

CallAdmission::CallAdmission(GDBusConnection* connection, const Limits& limits,
                             const CallerUids* uids, Metrics* metrics)
    : connection_(Ref(connection)),
      limits_(limits),
      uids_(uids),
      ledger_(limits_),
      metrics_(metrics) {}

bool CallAdmission::UserUnknown(const char* sender) const {
  return uids_ && sender && !uids_->Cached(sender);
}

CallerLedger::UserOf CallAdmission::UserOf(const char* sender) const {
  if (!uids_ || !sender) return {};
  return [this, sender] { return uids_->Cached(sender); };
}

std::optional<CallerLedger::Ticket> CallAdmission::Admit(GDBusMessage* call, const Operation& op,
                                                         bool invoke) {
  GVariant* body = g_dbus_message_get_body(call);
  VariantPtr invoke_args;
  if (invoke && body) invoke_args.reset(g_variant_get_child_value(body, 1));
  if (auto passed = CheckArguments(limits_, invoke ? invoke_args.get() : body, op.request)) {
    RefuseOverLimit(call, *passed);
    return std::nullopt;
  }
  const char* sender = g_dbus_message_get_sender(call);
  if (UserUnknown(sender)) {
    RefuseOverLimit(call, Limit::kUserPending);
    return std::nullopt;
  }
  const size_t bytes = body ? g_variant_get_size(body) : 0;
  CallerLedger::Admission admission =
      ledger_.Admit(sender ? sender : "", op.request, bytes, UserOf(sender));
  if (admission.refused) RefuseOverLimit(call, *admission.refused);
  return std::move(admission.ticket);
}

std::optional<CallerLedger::Ticket> CallAdmission::AdmitObject(GDBusMessage* call) {
  const char* sender = g_dbus_message_get_sender(call);
  if (UserUnknown(sender)) {
    RefuseOverLimit(call, Limit::kUserObjects);
    return std::nullopt;
  }
  CallerLedger::Admission admission = ledger_.AdmitObject(sender ? sender : "", UserOf(sender));
  if (admission.refused) RefuseOverLimit(call, *admission.refused);
  return std::move(admission.ticket);
}

std::optional<CallerLedger::Ticket> CallAdmission::AdmitWaiting(GDBusMessage* call) {
  GVariant* body = g_dbus_message_get_body(call);
  const char* sender = g_dbus_message_get_sender(call);
  CallerLedger::Admission admission =
      AdmitWaitingBytes(sender ? sender : "", body ? g_variant_get_size(body) : 0);
  if (admission.refused) RefuseOverLimit(call, *admission.refused);
  return std::move(admission.ticket);
}

CallerLedger::Admission CallAdmission::AdmitWaitingBytes(std::string_view caller, size_t bytes) {
  return ledger_.Admit(WaitingCallerKey(caller), false, bytes);
}

CallerLedger::Admission CallAdmission::AdmitNamed(std::string_view caller, bool request,
                                                  size_t bytes) {
  CallerLedger::Admission admission = ledger_.Admit(caller, request, bytes);
  if (!admission.refused) return admission;
  if (metrics_) metrics_->Refused(static_cast<size_t>(*admission.refused));
  if (auto line = refusals_.Line(caller, LimitMessage(limits_, *admission.refused)))
    ServerLog(*line);
  return admission;
}

void CallAdmission::RefuseOverLimit(GDBusMessage* call, Limit limit) {
  const char* sender = g_dbus_message_get_sender(call);
  const char* member = g_dbus_message_get_member(call);
  const std::string message = LimitMessage(limits_, limit);
  if (metrics_) metrics_->Refused(static_cast<size_t>(limit));
  if (auto line = refusals_.Line(sender ? sender : "caller",
                                 std::string(member ? member : "") + ": " + message))
    ServerLog(*line);
  SendErrorNamed(connection_.get(), call, kLimitsExceededError, message);
}

}  // namespace qz
