// The dispatch run of cNotify: delivery of the pending request at its tick,
// the log entry and the callback.
#include "automation/apartment.h"
#include "automation/component_registry.h"
#include "config/settings_path.h"
#include "diagnostics/error_reporter.h"
#include "diagnostics/error_sources.h"
#include "diagnostics/last_error.h"
#include "diagnostics/log_file.h"
#include "dispatch/c_notify.h"
#include "dispatch/tracing_channels.h"
#include "gateways/gateway_table.h"

namespace qz {
namespace {

constexpr std::string_view kMessageSent = "Message Sent";
constexpr std::string_view kUndeliverable =
    "Message Undeliverable. See QzNotesLog.log file for details ";

}  // namespace

void cNotify::NotesTimer_Timer() {
  if (!pending_) return;
  pending_ = false;
  DeliveryInProgress delivering(deliveries_);
  // No second tick while a channel waits: the run is made once per request.
  if (NotesTimer) NotesTimer->SetEnabled(false);

  ChannelCall call = ChannelState();
  DispatchTrace trace;
  std::string failures = DeliverGroups(call, trace);

  // From here on every failure is ignored and the next step still runs.
  std::string_view outcome = kMessageSent;
  if (!failures.empty()) {
    msubWriteLog(failures);
    outcome = kUndeliverable;
  }
  UnloadForm();
  if (outcome_listener_) {
    trace.test_id = mstrTestID;
    trace.outcome = outcome;
    outcome_listener_(trace);
  }
  CallBack(outcome);
  // Nothing reads the arrays again before the next request call stores its
  // own, so a large request gives its memory back now, not with the object.
  mvarNotes = Variant();
  mvarEmail = Variant();
  mvarPager = Variant();
  // Only now: a crash before this point repeats the run after the restart.
  journal_slot_.Clear();
}

ChannelCall cNotify::ChannelState() {
  return {env_.folder,    env_.components, mstrSubject,     mstrMailFrom,   mstrProfile,
          mstrSMTPServer, mstrSNPPStatus,  gateway_states_, mfrmNotes.get()};
}

std::string cNotify::DeliverGroups(const ChannelCall& call, DispatchTrace& trace) {
  // Forwards every call unchanged; only records what each channel did.
  TracingChannels channels(env_.gateways, trace);
  const GatewayTable& gateways = env_.gateways;
  std::string failures;
  bool paged = false;  // a group no paging channel runs for inherits the last value
  try {
    int32_t last = mvarNotes.UBound();
    for (int64_t i = 0; i <= last; ++i) {
      gstrLastError.clear();
      channels.BeginGroup(i);
      std::string status;
      if (mblnMailEnabled) {
        const MailRoute& route = !mstrProfile.empty() ? gateways.profile : gateways.smtp;
        if (!channels.Mail(route, call, mvarNotes.At(i), mvarEmail.At(i)))
          status.append("Mail Status: ").append(gstrLastError).append("::");
      }
      // The gateway is read afresh before each comparison.
      for (const PagingGateway& gateway : gateways.paging) {
        if (!EqualsNumber(channels.ReadGateway(call), gateway.number)) continue;
        if (channels.Initialise(gateway, call))
          paged = channels.Page(gateway, call, mvarNotes.At(i), mvarPager.At(i));
        break;
      }
      channels.EndGroup(mvarPager, paged);
      if (!paged) status.append("Page Status: ").append(gstrLastError).append("::");
      failures += status;
    }
  } catch (...) {
    gsubDisplayError(kServerSource, "NotesTimer_Timer");
    failures = "Message Undeliverable. " + gstrLastError;
    trace.error = failures.substr(0, failures.find_last_not_of("\r\n") + 1);
  }
  return failures;
}

void cNotify::CallBack(std::string_view outcome) {
  try {
    std::string_view method = "gsubAgentCallBack";
    if (!mobjNotify && !mstrNotifyServer.empty()) {
      mobjNotify = env_.components.Create(kCallbackProgId, mstrNotifyServer);
      method = "CallBack";
    }
    if (mobjNotify) {
      Variant args[] = {Variant(mstrTestID), Variant("QzNotes: " + std::string(outcome))};
      mobjNotify->CallMethod(method, args);
      if (args[0].IsString()) mstrTestID = args[0].Text();  // passed by reference
    }
  } catch (...) {
    // A callback party that cannot be created or called means no callback.
  }
  mobjNotify.reset();
}

void cNotify::msubWriteLog(std::string_view text) {
  try {
    if (mstrLastLogged.Equals(text)) return;
    const LogWrite log = AppendLogEntry(SettingsPath(env_.folder, kLogFileName), text);
    if (log.written) mstrLastLogged.Remember(text);
    if (!log.trouble.empty() && env_.report)
      env_.report("request " + mstrTestID + ": " + log.trouble);
  } catch (...) {
    // Silent: the same text is tried again on this object's next run.
  }
}

}  // namespace qz
