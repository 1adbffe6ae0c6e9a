#include "server/fleet_claimer.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <utility>

#include "automation/context_post.h"
#include "dispatch/request_record.h"
#include "dispatch/retry_schedule.h"
#include "server/journal_replay.h"
#include "server/server_log.h"

namespace qz {
namespace {

constexpr size_t kClaimBatch = 64;
constexpr guint kLeaseEndMarginMs = 10;
const TakingUp kClaiming{"claiming", "claimed request done", " (claimed)"};

}  // namespace

std::chrono::milliseconds FleetClaimer::Period(std::chrono::seconds lease) {
  // In ms before the division: a lease of 3 s claims every 750 ms, not every 0.
  return std::min<std::chrono::milliseconds>(std::chrono::milliseconds(lease) / 4,
                                             std::chrono::seconds(5));
}

FleetClaimer::FleetClaimer(JournalStore& journal, GDBusConnection* connection, ObjectCalls& objects,
                           std::chrono::seconds lease)
    : journal_(journal),
      connection_(connection),
      objects_(objects),
      waiting_(g_main_context_default()),
      period_(Period(lease)) {
  tick_.reset(g_timeout_source_new(static_cast<guint>(period_.count())));
  g_source_set_callback(tick_.get(), &FleetClaimer::OnTick, this, nullptr);
  g_source_attach(tick_.get(), g_main_context_default());
  worker_ = std::thread([this] { WorkerLoop(); });
  // Its answer comes once the main loop runs, which is after the replay
  // took its entries.
  Ask(false);
}

FleetClaimer::~FleetClaimer() {
  *alive_ = false;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  asked_.notify_one();
  worker_.join();
}

gboolean FleetClaimer::OnTick(gpointer data) {
  auto* self = static_cast<FleetClaimer*>(data);
  self->Ask(++self->ticks_ % 4 == 0);
  return G_SOURCE_CONTINUE;
}

gboolean FleetClaimer::OnLeaseEnd(gpointer data) {
  auto* self = static_cast<FleetClaimer*>(data);
  self->lease_end_.reset();
  self->Ask(false);
  return G_SOURCE_REMOVE;
}

void FleetClaimer::Ask(bool count_unclaimable) {
  if (objects_.stopping()) return;
  {
    std::lock_guard lock(mutex_);
    count_wanted_ = count_wanted_ || count_unclaimable;
    if (under_way_) return;  // the count rides with the next round
    under_way_ = wanted_ = true;
  }
  asked_.notify_one();
}

void FleetClaimer::WorkerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    asked_.wait(lock, [this] { return stop_ || wanted_; });
    if (stop_) return;
    wanted_ = false;
    const bool count = std::exchange(count_wanted_, false);
    lock.unlock();
    Round round;
    round.claimed = journal_.Claim(kClaimBatch);
    round.full = round.claimed.size() == kClaimBatch;
    if (!round.full) round.next_lease_end = journal_.NextLeaseEnd();
    if (count) round.unclaimable = journal_.Unclaimable();
    PostToContext(g_main_context_default(),
                  [this, alive = alive_, round = std::move(round)]() mutable {
                    if (*alive) Finish(std::move(round));
                  });
    lock.lock();
  }
}

void FleetClaimer::Finish(Round round) {
  {
    std::lock_guard lock(mutex_);
    under_way_ = false;
  }
  const int64_t now = UnixMsNow();
  for (auto& [key, payload] : round.claimed) {
    std::optional<RequestRecord> record = ReadKept(journal_, key, payload, "fleet");
    if (!record) continue;
    // A waiting try is kept as its bytes, which are smaller, until its time.
    if (record->tries > 0 && record->next_try_unix_ms > now)
      waiting_.Schedule(record->next_try_unix_ms, [this, key = key, kept = std::move(payload)] {
        if (auto due = ReadKept(journal_, key, kept, "fleet")) TakeUp(key, std::move(*due));
      });
    else
      TakeUp(key, std::move(*record));
  }
  if (round.unclaimable && *round.unclaimable != unclaimable_) {
    unclaimable_ = *round.unclaimable;
    ServerLog(unclaimable_ == 0
                  ? std::string("fleet: every due try has a daemon serving it again")
                  : "fleet: " + std::to_string(unclaimable_) +
                        " due tries wait for a gateway no live daemon serves; they are kept");
  }
  if (round.full) return Ask(false);
  lease_end_.reset();
  const auto next = round.next_lease_end;
  if (!next || *next >= period_) return;  // the tick comes first
  // A little after: the lease must have ended by the database's clock too.
  lease_end_.reset(g_timeout_source_new(static_cast<guint>(next->count()) + kLeaseEndMarginMs));
  g_source_set_callback(lease_end_.get(), &FleetClaimer::OnLeaseEnd, this, nullptr);
  g_source_attach(lease_end_.get(), g_main_context_default());
}

void FleetClaimer::TakeUp(uint64_t key, RequestRecord record) {
  // At a stop the entry stays in the database for another daemon.
  if (g_dbus_connection_is_closed(connection_)) return;
  objects_.TakeUnlessStopping([&] {
    std::shared_ptr<DispatchObject> callback = KeptCallback(connection_, journal_, key, record);
    ResumeOnOwnObject(objects_, connection_, key, std::move(record), std::move(callback),
                      kClaiming);
  });
}

}  // namespace qz
