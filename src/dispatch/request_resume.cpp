// How cNotify keeps its pending request in the journal and takes one up
// again after a restart.
#include <cstdio>
#include <random>

#include "dispatch/c_notify.h"
#include "dispatch/journal_store.h"
#include "dispatch/retry_schedule.h"

namespace qz {

RequestRecord cNotify::JournalRecord() const {
  RequestRecord r;
  r.object_path = path_;
  r.owner = owner_;
  r.procedure = procedure_;
  r.accepted_unix_ms = accepted_unix_ms_;
  r.mstrTestID = mstrTestID;
  r.mvarNotes = mvarNotes;
  r.mvarEmail = mvarEmail;
  r.mvarPager = mvarPager;
  r.mblnMailEnabled = mblnMailEnabled;
  r.mstrSubject = mstrSubject;
  r.mstrMailFrom = mstrMailFrom;
  r.mstrProfile = mstrProfile;
  r.mstrSMTPServer = mstrSMTPServer;
  r.mstrNotifyServer = mstrNotifyServer;
  if (mobjNotify)
    if (auto address = mobjNotify->BusAddress()) {
      r.callback_bus = address->bus_name;
      r.callback_path = address->path;
      r.callback_uid = address->owner_uid;
    }
  r.mstrLastLogged = mstrLastLogged.Saved();
  if (tries_ > 0) {
    r.tries = tries_;
    r.next_try_unix_ms = next_try_unix_ms_;
    r.earlier_failures = earlier_failures_;
    r.attempts = policy_.attempts;
    r.first_retry_s = static_cast<int32_t>(policy_.first_retry.count());
    r.max_delay_s = static_cast<int32_t>(policy_.max_delay.count());
    r.give_up_after_s = static_cast<int32_t>(policy_.give_up_after.count());
  }
  return r;
}

std::optional<RequestRecord> cNotify::DeadLetter(std::string_view failures) const {
  if (failures.empty() || !env_.journal) return std::nullopt;
  const int keep_days = ReadDeliveryPolicy(env_.folder).keep_failed_days;
  if (keep_days == 0) return std::nullopt;
  RequestRecord r = JournalRecord();
  r.failed = true;
  r.failed_unix_ms = UnixMsNow();
  r.failed_reasons = failures;
  // Random, so that ids stay apart across objects, runs and machines.
  std::random_device random;
  char id[20];
  std::snprintf(id, sizeof id, "%08x%04x", random(), random() & 0xffff);
  r.failed_id = id;
  return r;
}

void cNotify::KeepInJournal(std::string_view procedure) {
  procedure_ = procedure;
  accepted_unix_ms_ = UnixMsNow();
  tries_ = 0;
  earlier_failures_.clear();
  if (!env_.journal) return;
  if (!journal_slot_.Keep(JournalRecord()) && env_.journal->RefusesWhenNotDurable())
    throw JournalUnavailable("the request journal at " + env_.journal->where() +
                             " cannot keep the request now: it is not accepted; try again");
  HandToFleet();
}

bool cNotify::HandToFleet() {
  const uint64_t key = journal_slot_.key();
  if (!env_.fleet || key == 0 || env_.journal->WaitsHere(key)) return false;
  std::vector<std::string> needs;
  if (env_.fleet->needs) needs = env_.fleet->needs(JournalRecord());
  LetGo("request " + mstrTestID + ": handed to the fleet: needs " + FleetNames(needs) +
        ", this daemon serves " + FleetNames(env_.fleet->serves));
  return true;
}

void cNotify::LetGo(std::string_view line) {
  if (env_.report) env_.report(line);
  const bool ran = tries_ > 0;
  journal_slot_.Release();
  pending_ = false;  // the entry stays for the daemon that takes it
  UnloadForm();
  mobjNotify.reset();
  earlier_failures_.clear();
  mvarNotes = Variant();
  mvarEmail = Variant();
  mvarPager = Variant();
  // A run in progress ends here; its holder lets the object go.
  if (ran && outcome_listener_) {
    DispatchTrace trace;
    trace.test_id = mstrTestID;
    trace.outcome = "handed to another daemon";
    trace.let_go = true;
    outcome_listener_(trace);
  }
}

void cNotify::ResumeRequest(const RequestRecord& r, uint64_t key,
                            std::shared_ptr<DispatchObject> callback) {
  mstrTestID = r.mstrTestID;
  mvarNotes = r.mvarNotes;
  mvarEmail = r.mvarEmail;
  mvarPager = r.mvarPager;
  mblnMailEnabled = r.mblnMailEnabled;
  mstrSubject = r.mstrSubject;
  mstrMailFrom = r.mstrMailFrom;
  mstrProfile = r.mstrProfile;
  mstrSMTPServer = r.mstrSMTPServer;
  mstrNotifyServer = r.mstrNotifyServer;
  mstrLastLogged = LoggedText::FromSaved(r.mstrLastLogged);
  mobjNotify = std::move(callback);
  path_ = r.object_path;
  owner_ = r.owner;
  procedure_ = r.procedure;
  accepted_unix_ms_ = r.accepted_unix_ms;
  ArmTimer();
  if (r.tries > 0) {
    // Waits for the due time the earlier run chose: a restart adds no try.
    tries_ = r.tries;
    next_try_unix_ms_ = r.next_try_unix_ms;
    earlier_failures_ = r.earlier_failures;
    policy_ = {.attempts = r.attempts,
               .first_retry = std::chrono::seconds(r.first_retry_s),
               .max_delay = std::chrono::seconds(r.max_delay_s),
               .give_up_after = std::chrono::seconds(r.give_up_after_s),
               // Caps and windows are not tries: the settings of now apply.
               .gates = ReadDeliveryPolicy(env_.folder).gates};
    ArmRetryTimer();
    waiting_mark_.Set(true);
  }
  journal_slot_.Adopt(key);
}

bool cNotify::HandOverWaitingRequest(RequestRecord& record, uint64_t& key,
                                     std::shared_ptr<DispatchObject>& callback) {
  if (!WaitsForRetry()) return false;
  record = JournalRecord();
  key = journal_slot_.Release();
  callback = std::move(mobjNotify);
  UnloadForm();
  return true;
}

}  // namespace qz
