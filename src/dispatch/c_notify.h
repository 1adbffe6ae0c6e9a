// cNotify: one notification request per object. A request call stores the
// request, decides the e-mail route, arms a 1000 ms timer on a new host form
// and answers at once; the tick runs the delivery (NotesTimer_Timer) and
// calls the client back. Owned by one apartment: construct, call and destroy
// it on that apartment's thread, whose GMainContext runs its timer.
#pragma once

#include <glib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "automation/dispatch_object.h"
#include "automation/timer.h"
#include "automation/timer_queue.h"
#include "automation/variant.h"
#include "config/delivery_policy.h"
#include "contract/contract.h"
#include "diagnostics/gateway_health.h"
#include "diagnostics/logged_text.h"
#include "diagnostics/metrics.h"
#include "dispatch/dispatch_trace.h"
#include "dispatch/fleet_role.h"
#include "dispatch/frm_notes.h"
#include "dispatch/journal_slot.h"
#include "dispatch/request_record.h"
#include "dispatch/server_environment.h"
#include "gateways/gateway_state.h"

namespace qz {

class DeliveryParts;
struct ChannelCall;
struct TriedRequest;

class cNotify {
 public:
  // `deliveries`, when given, counts the runs in progress on the apartment.
  // `path` and `owner` name the object and its creator in the journal.
  // `waits`, the apartment's queue on `context`, wakes a request for its
  // next try; without it the object keeps a queue of its own.
  cNotify(const ServerEnvironment& env, GMainContext* context,
          std::atomic<int>* deliveries = nullptr, std::string_view path = {},
          std::string_view owner = {}, TimerQueue* waits = nullptr);
  ~cNotify();  // cancels an undispatched request
  cNotify(const cNotify&) = delete;
  cNotify& operator=(const cNotify&) = delete;

  Variant SendMessageCallBack(const Variant& lvarNotes, const Variant& lvarEmail,
                              const Variant& lvarPager, const Variant& lvarAny,
                              std::shared_ptr<DispatchObject> lobjNotify,
                              std::string_view lstrTestID);
  Variant SendMessageCallBackEx(const Variant& lvarNotes, const Variant& lvarEmail,
                                const Variant& lvarPager, const Variant& lvarAny,
                                const Variant& lvarNotify, std::string_view lstrTestID);

  // The settings operations, on the files of the program folder. Errors are
  // raised to the caller with the operation's own source text.
  Variant gvarGetSettings();
  bool gblnSetSettings(const Variant& lvarSettings);
  Variant gvarGetPagerSettings(int16_t Request);
  bool gblnSetPagerSettings(int16_t lintSection, const Variant& lvarSettings);
  // `lvarParams` is the optional by-reference parameter; it is neither read nor changed.
  Variant gvarGetPagerSettingsEx(int16_t Request, Variant& lvarParams);
  bool gblnSetPagerSettingsEx(std::string_view lstrSection, const Variant& lvarSettings);

  // Sends "This is Alert Test Message" to `Mobile` through the paging
  // gateway numbered `Index` at once and answers what happened.
  Variant gvarTestGateway(int16_t Index, std::string_view Mobile);
  // The messaging profiles recorded in the registry store: an array of their
  // names (no elements when there are none), Empty when the listing failed.
  Variant GetMessageProfiles();

  // Observes every dispatch run: what each channel did and the outcome (for
  // the server's log and its monitors).
  using OutcomeListener = std::function<void(const DispatchTrace& trace)>;
  void SetOutcomeListener(OutcomeListener listener) { outcome_listener_ = std::move(listener); }

  // The dispatch run, handler of the bound timer's tick. Runs at most once
  // per accepted request; without a pending request it does nothing.
  void NotesTimer_Timer();

  bool HasPendingRequest() const { return pending_; }
  // A try failed for now and the next one is due later: a stop leaves such
  // a request in the journal rather than trying it at once.
  bool WaitsForRetry() const { return pending_ && tries_ > 0; }
  // The journal entry of the pending request; 0 for none.
  uint64_t JournalKey() const { return journal_slot_.key(); }
  // The test identifier of the latest request.
  std::string_view TestId() const { return mstrTestID; }

  // Takes up a request an earlier daemon run accepted and the journal kept
  // under `key`: its run comes at the next tick, as for a new request.
  // `callback` stands for the `(so)` party when it can still be reached.
  void ResumeRequest(const RequestRecord& record, uint64_t key,
                     std::shared_ptr<DispatchObject> callback);
  // Gives up a request waiting for its next try, with its journal key and
  // callback party, for another object to take up (ResumeRequest); this
  // object then has no request. False when none waits.
  bool HandOverWaitingRequest(RequestRecord& record, uint64_t& key,
                              std::shared_ptr<DispatchObject>& callback);

  // Told each time a request comes to wait for its next try.
  void SetWaitListener(std::function<void()> listener) { wait_listener_ = std::move(listener); }
  // What the object keeps between runs beyond its journal record, for a
  // holder that sets the object aside while its request waits.
  struct BetweenRuns {
    GatewayStates gateway_states;
    DeliveryPolicy policy;
  };
  BetweenRuns TakeBetweenRuns() { return {std::move(gateway_states_), policy_}; }
  void PutBetweenRuns(BetweenRuns kept) {
    gateway_states_ = std::move(kept.gateway_states);
    policy_ = std::move(kept.policy);
  }

 private:
  Variant Submit(std::string_view procedure, const Variant& lvarNotes, const Variant& lvarEmail,
                 const Variant& lvarPager, const Variant& lvarAny,
                 const std::function<void()>& store_callback_party, std::string_view lstrTestID);
  void DecideMailRoute(const Variant& lvarAny);
  void ArmTimer();
  void UnloadForm();
  // What the channels may read and change of this object.
  ChannelCall ChannelState();
  // `tried`, when given, is told how each channel did, group by group.
  std::string DeliverGroups(const ChannelCall& call, DispatchTrace& trace, TriedRequest* tried);
  // After a try: narrows the request to what may go later and arms the
  // next try. False when the request ends now; `failures` then holds
  // everything that did not go.
  bool ScheduleRetry(std::string& failures, TriedRequest& tried);
  void ArmRetryTimer();
  // With retries on: when a gateway the request still needs cools down
  // after failing in a row, the try waits for it (not counted as a try).
  bool HoldForCoolDown();
  // Tells the gateway health how one channel call went; `told` is how
  // many parts the call's collector held before it.
  void NoteGatewayOutcome(std::string_view gateway, const Variant& recipients, bool delivered,
                          const DeliveryParts* parts, size_t told);
  RequestRecord JournalRecord() const;
  // The request as a dead letter, when it gave up with `failures` and
  // [Delivery] KeepFailed keeps such requests.
  std::optional<RequestRecord> DeadLetter(std::string_view failures) const;
  void CallBack(std::string_view outcome);
  void CountCallBack(bool sent) const;  // for the metrics
  void msubWriteLog(std::string_view text);
  // Makes the request just accepted durable before it is answered; raises
  // JournalUnavailable when a fleet's store cannot.
  void KeepInJournal(std::string_view procedure);
  // In a fleet, after a keep: when the try was left to a daemon that serves
  // what it needs, the object lets go of the request. True when it did.
  bool HandToFleet();
  // Ends the run without an outcome, for another daemon to finish: nothing
  // is logged, called back or written to the journal.
  void LetGo(std::string_view line);

  const ServerEnvironment& env_;
  GMainContext* context_;
  std::atomic<int>* deliveries_;
  bool pending_ = false;
  OutcomeListener outcome_listener_;
  std::string path_;
  std::string owner_;
  JournalSlot journal_slot_;

  bool mblnMailEnabled = false;
  std::shared_ptr<DispatchObject> mobjNotify;
  std::string mstrTestID;
  std::unique_ptr<frmNotes> mfrmNotes;
  Timer* NotesTimer = nullptr;  // bound to mfrmNotes->Timer1 while a request waits
  Variant mvarNotes;
  Variant mvarEmail;
  Variant mvarPager;
  std::string mstrSubject;
  std::string mstrMailFrom;
  std::string mstrProfile;
  std::string mstrSMTPServer;
  std::string mstrNotifyServer;
  LoggedText mstrLastLogged;
  std::string mstrSNPPStatus;
  GatewayStates gateway_states_;  // what each gateway keeps between runs (the SMS fields)

  // The retry state of the request; tries_ is 0 until its first try.
  std::string procedure_;
  int64_t accepted_unix_ms_ = 0;
  DeliveryPolicy policy_;
  int32_t tries_ = 0;
  int64_t next_try_unix_ms_ = 0;
  std::string earlier_failures_;
  WaitingMark waiting_mark_{env_.health};  // set while the next try is set
  // While the next try waits, the request has no form: one entry in the
  // apartment's queue stands for it.
  TimerQueue* waits_;
  std::unique_ptr<TimerQueue> own_waits_;
  TimerQueue::Handle retry_wait_;
  std::function<void()> wait_listener_;
  std::optional<LeaseWatch> lease_;  // during a run in a fleet
};

}  // namespace qz
