// The dispatch run of cNotify: delivery of the pending request at its tick,
// the log entry and the callback.
#include "automation/apartment.h"
#include "automation/component_registry.h"
#include "components/http_callback.h"
#include "config/settings_path.h"
#include "diagnostics/error_reporter.h"
#include "diagnostics/error_sources.h"
#include "diagnostics/last_error.h"
#include "diagnostics/log_file.h"
#include "dispatch/c_notify.h"
#include "dispatch/delivery_count.h"
#include "dispatch/delivery_ledger.h"
#include "dispatch/journal_store.h"
#include "dispatch/request_narrowing.h"
#include "dispatch/retry_schedule.h"
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
  // A retry never starts before its due time, whatever woke the timer.
  if (tries_ > 0 && UnixMsNow() < next_try_unix_ms_) return ArmRetryTimer();
  pending_ = false;
  waiting_mark_.Set(false);
  retry_wait_.Cancel();
  DeliveryInProgress delivering(deliveries_);
  // No second tick while a channel waits: the run is made once per request.
  if (NotesTimer) NotesTimer->SetEnabled(false);
  // A retry comes without a form (it waited in the queue): it gets a fresh one.
  if (!mfrmNotes) mfrmNotes = std::make_unique<frmNotes>(context_, env_.registry);

  if (tries_ == 0) policy_ = ReadDeliveryPolicy(env_.folder);
  if (policy_.retries() && HoldForCoolDown()) return;
  ++tries_;
  // In a fleet the try is this daemon's only while its lease holds.
  lease_.reset();
  if (env_.fleet && journal_slot_.key() != 0) lease_.emplace(*env_.journal, journal_slot_.key());
  ChannelCall call = ChannelState();
  DispatchTrace trace;
  TriedRequest tried;
  // Throttles hold parts back for a later try, so they need the parts told too.
  const bool watched = policy_.retries() || (env_.ledger && policy_.gates.any());
  std::string failures = DeliverGroups(call, trace, watched ? &tried : nullptr);
  if (lease_ && lease_->lost())
    return LetGo("request " + mstrTestID + ": lease lost to another daemon; this run stops");
  std::optional<RequestRecord> dead_letter;
  if (watched) {
    if (ScheduleRetry(failures, tried)) return;
    // Parts refused for good by earlier tries belong to the one outcome too.
    failures.insert(0, earlier_failures_);
    earlier_failures_.clear();
    if (policy_.retries()) dead_letter = DeadLetter(failures);  // before the arrays go
  }

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
  if (dead_letter)
    journal_slot_.KeepFailed(*dead_letter);
  else
    journal_slot_.Clear();
}

ChannelCall cNotify::ChannelState() {
  return {env_.folder,    env_.components, mstrSubject,     mstrMailFrom,   mstrProfile,
          mstrSMTPServer, mstrSNPPStatus,  gateway_states_, mfrmNotes.get()};
}

std::string cNotify::DeliverGroups(const ChannelCall& call, DispatchTrace& trace,
                                   TriedRequest* tried) {
  // Forwards every call unchanged; only records what each channel did.
  TracingChannels channels(env_.gateways, trace);
  const GatewayTable& gateways = env_.gateways;
  // Mail and paging parts are told apart, as they are narrowed apart.
  ChannelCall mail_call = call;
  ChannelCall page_call = call;
  DeliveryParts counted_parts;  // for the metrics when no retry needs them
  if (tried) {
    mail_call.parts = &tried->mail_parts;
    page_call.parts = &tried->page_parts;
    tried->mail_enabled = mblnMailEnabled;
  } else if (env_.metrics) {
    mail_call.parts = page_call.parts = &counted_parts;
  }
  // Asked before each recipient, for the throttles and the duplicate window.
  const bool gated = tried && env_.ledger && policy_.gates.any();
  auto lane = [&](std::string_view kind, std::string_view name, bool throttled) {
    return LedgerGate::Lane{.kind = std::string(kind),
                            .gateway = std::string(name),
                            .request = mstrTestID,
                            .also_same = kind == "mail" ? mstrSubject : std::string(),
                            .throttled = throttled};
  };
  std::optional<LedgerGate> mail_gate;
  std::optional<LedgerGate> page_gate;
  std::optional<LeaseGate> mail_lease;
  std::optional<LeaseGate> page_lease;
  std::string failures;
  bool paged = false;  // a group no paging channel runs for inherits the last value
  try {
    int32_t last = mvarNotes.UBound();
    if (tried) tried->groups = int64_t{last} + 1;
    for (int64_t i = 0; i <= last; ++i) {
      // A channel that sends a message to all its recipients at once has
      // no gate: the lease is also asked before each group.
      if (lease_ && !lease_->Holds()) break;
      gstrLastError.clear();
      channels.BeginGroup(i);
      if (tried) {
        tried->mail_parts.BeginGroup(i);
        tried->page_parts.BeginGroup(i);
      }
      std::string status;
      ChannelTry mailed{.kind = "mail", .ran = true, .delivered = true};
      if (mblnMailEnabled) {
        const MailRoute& route = !mstrProfile.empty() ? gateways.profile : gateways.smtp;
        mailed.name = route.name;
        DeliveryGate* gate = nullptr;
        if (gated)
          gate = &mail_gate.emplace(*env_.ledger, policy_.gates,
                                    lane("mail", route.name, policy_.gates.throttle_mail),
                                    env_.report);
        mail_call.gate = lease_ ? &mail_lease.emplace(*lease_, gate) : gate;
        const size_t told = tried ? tried->mail_parts.parts().size() : 0;
        const DeliveryCount counting(env_.metrics, mail_call.parts);
        mailed.delivered = counting.Done(
            route.name, channels.Mail(route, mail_call, mvarNotes.At(i), mvarEmail.At(i)));
        NoteGatewayOutcome(route.name, mvarEmail.At(i), mailed.delivered, mail_call.parts, told);
        if (!mailed.delivered) status.append("Mail Status: ").append(gstrLastError).append("::");
      }
      if (tried) tried->mail.push_back(mailed);
      ChannelTry paging{.kind = "page", .name = "no gateway"};
      // The gateway is read afresh before each comparison.
      for (const PagingGateway& gateway : gateways.paging) {
        if (!EqualsNumber(channels.ReadGateway(call), gateway.number)) continue;
        paging.name = gateway.name;
        DeliveryGate* gate = nullptr;
        if (gated)
          gate = &page_gate.emplace(*env_.ledger, policy_.gates, lane("page", gateway.name, true),
                                    env_.report);
        page_call.gate = lease_ ? &page_lease.emplace(*lease_, gate) : gate;
        const DeliveryCount counting(env_.metrics, page_call.parts);
        const bool ready = channels.Initialise(gateway, call);
        if (ready) {
          const size_t told = tried ? tried->page_parts.parts().size() : 0;
          paged = channels.Page(gateway, page_call, mvarNotes.At(i), mvarPager.At(i));
          NoteGatewayOutcome(gateway.name, mvarPager.At(i), paged, page_call.parts, told);
        }
        counting.Done(gateway.name, ready && paged);
        break;
      }
      channels.EndGroup(mvarPager, paged);
      paging.ran = true;
      paging.delivered = paged;
      if (tried) tried->page.push_back(paging);
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

bool cNotify::ScheduleRetry(std::string& failures, TriedRequest& tried) {
  Narrowing left = NarrowToFailed(mvarEmail, mvarPager, tried);
  std::string line = "request " + mstrTestID + ": try " + std::to_string(tries_) + " of " +
                     std::to_string(policy_.attempts) + ": ";
  if (left.failed.empty()) line += failures.empty() ? "sent" : "failed";
  // A line names a few parts; the log entry at the end holds them all.
  constexpr size_t kNamed = 3;
  for (size_t p = 0; p < left.failed.size() && p < kNamed; ++p)
    line += (p ? "; " : "") + left.failed[p];
  if (left.failed.size() > kNamed)
    line += "; and " + std::to_string(left.failed.size() - kNamed) + " more";
  std::optional<int64_t> due;
  const int64_t now = UnixMsNow();
  if (left.transient_left)
    due = NextTryDue(policy_, tries_, accepted_unix_ms_, now, left.retry_after, RandomJitter());
  if (left.waiting) {
    // A page held back by a throttle is never lost: it waits for its
    // window whatever the tries left or the request's age. A try that
    // only met throttles is not counted; one whose failures get no retry
    // gives those up and goes on with the held-back parts alone.
    if (!left.transient_left)
      ++policy_.attempts;
    else if (!due)
      earlier_failures_ += DropFailed(mvarEmail, mvarPager, tried);
    due = std::max(due.value_or(0), now + std::chrono::milliseconds(*left.waiting).count());
  }
  if (!due) {
    if (left.transient_left) line += tries_ >= policy_.attempts ? "; no tries left" : "; giving up";
    // A first try that went needs no line: only retries and failures are news.
    const bool news = tries_ > 1 || !failures.empty() || !left.failed.empty();
    if (news && env_.report) env_.report(line);
    // A part a channel let pass without a word did not go either: with
    // retries on, "Message Sent" means every part went.
    if (failures.empty()) failures = left.unsent;
    return false;
  }
  earlier_failures_ += left.permanent;
  next_try_unix_ms_ = *due;
  const bool kept = !env_.journal || journal_slot_.Keep(JournalRecord());
  const std::string next =
      line + "; next try in " + std::to_string((*due - now + 500) / 1000) + " s";
  // In a fleet the try may leave here: another daemon took it meanwhile (the
  // store refused the keep), or it was left to one that serves what it needs.
  if (lease_) {
    const bool lost = !kept && !lease_->Holds();
    if (lost || !env_.journal->WaitsHere(journal_slot_.key())) {
      if (env_.report) env_.report(next);
      if (!lost) return HandToFleet();
      LetGo("request " + mstrTestID + ": lease lost to another daemon; this run stops");
      return true;
    }
  }
  ArmRetryTimer();
  if (env_.report) env_.report(next);
  return true;
}

void cNotify::ArmRetryTimer() {
  // The form and its timer go while the request waits, which may be hours:
  // one entry in the queue costs far less, and the queue's single timer
  // wakes no one before a due time.
  NotesTimer = nullptr;
  mfrmNotes.reset();
  if (!waits_) waits_ = (own_waits_ = std::make_unique<TimerQueue>(context_)).get();
  retry_wait_ = waits_->Add(next_try_unix_ms_, [this] { NotesTimer_Timer(); });
  pending_ = true;
  waiting_mark_.Set(true);
  if (wait_listener_) wait_listener_();
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
      CountCallBack(true);
      if (args[0].IsString()) mstrTestID = args[0].Text();  // passed by reference
    }
  } catch (...) {
    // A callback party that cannot be created or called means no callback.
    if (mobjNotify) CountCallBack(false);
  }
  mobjNotify.reset();
}

void cNotify::CountCallBack(bool sent) const {
  // An HTTP callback counts itself once its post is answered.
  if (env_.metrics && !dynamic_cast<const HttpCallback*>(mobjNotify.get()))
    env_.metrics->CalledBack(CallbackKind::kDbus, sent);
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
