#include "dispatch/notify_holder.h"

namespace qz {

struct NotifyHolder::Asleep {
  explicit Asleep(GatewayHealth* health) : mark(health) {}
  std::string record;  // EncodeRequest of the waiting request
  uint64_t key = 0;
  std::shared_ptr<DispatchObject> callback;
  cNotify::BetweenRuns kept;
  std::string test_id;
  TimerQueue::Handle wake;
  WaitingMark mark;
};

NotifyHolder::NotifyHolder(const ServerEnvironment& env, GMainContext* context,
                           std::atomic<int>* deliveries, std::string_view path,
                           std::string_view owner, TimerQueue* waits)
    : env_(env),
      context_(context),
      deliveries_(deliveries),
      path_(path),
      owner_(owner),
      waits_(waits) {
  MakeNotify();
}

// Set aside, the request stays in the journal for the next run, as a
// waiting object's does.
NotifyHolder::~NotifyHolder() = default;

void NotifyHolder::MakeNotify() {
  notify_ = std::make_unique<cNotify>(env_, context_, deliveries_, path_, owner_, waits_);
  notify_->SetOutcomeListener(listener_);
  if (!waits_) return;
  // From the queue, due at once: the object is never destroyed inside one
  // of its own calls, and the entry goes with this holder.
  notify_->SetWaitListener(
      [this] { set_aside_ = waits_->Add(0, [this] { SetAsideIfWaiting(); }); });
}

void NotifyHolder::SetAsideIfWaiting() {
  if (!notify_ || !notify_->WaitsForRetry()) return;
  auto asleep = std::make_unique<Asleep>(env_.health);
  RequestRecord record;
  if (!notify_->HandOverWaitingRequest(record, asleep->key, asleep->callback)) return;
  asleep->kept = notify_->TakeBetweenRuns();
  asleep->test_id = record.mstrTestID;
  asleep->record = EncodeRequest(record);
  asleep->wake = waits_->Add(record.next_try_unix_ms, [this] {
    Wake();
    notify_->NotesTimer_Timer();
  });
  asleep->mark.Set(true);
  notify_.reset();
  asleep_ = std::move(asleep);
}

void NotifyHolder::Wake() {
  if (!asleep_) return;
  std::unique_ptr<Asleep> asleep = std::move(asleep_);
  MakeNotify();
  notify_->ResumeRequest(DecodeRequest(asleep->record), asleep->key, std::move(asleep->callback));
  notify_->PutBetweenRuns(std::move(asleep->kept));
}

cNotify& NotifyHolder::Get() {
  Wake();
  return *notify_;
}

bool NotifyHolder::HasPendingRequest() const { return asleep_ || notify_->HasPendingRequest(); }

std::string_view NotifyHolder::TestId() const {
  return asleep_ ? std::string_view(asleep_->test_id) : notify_->TestId();
}

bool NotifyHolder::WaitsForRetry() const { return asleep_ || notify_->WaitsForRetry(); }

uint64_t NotifyHolder::JournalKey() const { return asleep_ ? asleep_->key : notify_->JournalKey(); }

void NotifyHolder::FinishPendingWork() {
  if (asleep_ || notify_->WaitsForRetry()) return;
  notify_->NotesTimer_Timer();
}

void NotifyHolder::SetOutcomeListener(cNotify::OutcomeListener listener) {
  listener_ = std::move(listener);
  if (notify_) notify_->SetOutcomeListener(listener_);
}

bool NotifyHolder::HandOverWaitingRequest(RequestRecord& record, uint64_t& key,
                                          std::shared_ptr<DispatchObject>& callback) {
  if (!asleep_) return notify_->HandOverWaitingRequest(record, key, callback);
  record = DecodeRequest(asleep_->record);
  key = asleep_->key;
  callback = std::move(asleep_->callback);
  asleep_.reset();
  MakeNotify();  // an object without a request, as a handed-over one is
  return true;
}

}  // namespace qz
