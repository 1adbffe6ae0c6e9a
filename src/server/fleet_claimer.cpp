#include "server/fleet_claimer.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <utility>

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
  // Once the main loop runs, which is after the replay took its entries.
  ClaimMore();
}

FleetClaimer::~FleetClaimer() = default;

void FleetClaimer::ClaimMore() {
  // Below the calls' priority, as the replay's slices.
  more_.reset(g_idle_source_new());
  g_source_set_priority(more_.get(), G_PRIORITY_DEFAULT_IDLE);
  g_source_set_callback(more_.get(), &FleetClaimer::OnMore, this, nullptr);
  g_source_attach(more_.get(), g_main_context_default());
}

gboolean FleetClaimer::OnTick(gpointer data) {
  auto* self = static_cast<FleetClaimer*>(data);
  if (++self->ticks_ % 4 == 0) self->CountUnclaimable();
  // While batches come back full the idle source claims; the tick waits.
  if (self->more_) return G_SOURCE_CONTINUE;
  if (self->ClaimBatch())
    self->ClaimMore();
  else
    self->ClaimAtNextLeaseEnd();
  return G_SOURCE_CONTINUE;
}

gboolean FleetClaimer::OnMore(gpointer data) {
  auto* self = static_cast<FleetClaimer*>(data);
  if (self->ClaimBatch()) return G_SOURCE_CONTINUE;
  self->more_.reset();
  self->ClaimAtNextLeaseEnd();
  return G_SOURCE_REMOVE;
}

gboolean FleetClaimer::OnLeaseEnd(gpointer data) {
  auto* self = static_cast<FleetClaimer*>(data);
  self->lease_end_.reset();
  OnTick(data);
  return G_SOURCE_REMOVE;
}

void FleetClaimer::ClaimAtNextLeaseEnd() {
  lease_end_.reset();
  if (objects_.stopping()) return;
  const std::optional<std::chrono::milliseconds> next = journal_.NextLeaseEnd();
  if (!next || *next >= period_) return;  // the tick comes first
  // A little after: the lease must have ended by the database's clock too.
  lease_end_.reset(g_timeout_source_new(static_cast<guint>(next->count()) + kLeaseEndMarginMs));
  g_source_set_callback(lease_end_.get(), &FleetClaimer::OnLeaseEnd, this, nullptr);
  g_source_attach(lease_end_.get(), g_main_context_default());
}

bool FleetClaimer::ClaimBatch() {
  if (objects_.stopping()) return false;
  std::vector<JournalStore::Leftover> claimed = journal_.Claim(kClaimBatch);
  const int64_t now = UnixMsNow();
  for (auto& [key, payload] : claimed) {
    RequestRecord record;
    try {
      record = DecodeRequest(payload);
    } catch (const std::exception& e) {
      ServerLog("fleet: entry " + std::to_string(key) + " cannot be read (" + e.what() +
                "): left in " + journal_.where());
      continue;
    }
    if (record.tries > 0 && record.next_try_unix_ms > now)
      waiting_.Schedule(record.next_try_unix_ms,
                        [this, key = key, kept = std::move(payload)] { TakeUp(key, kept); });
    else
      TakeUp(key, payload);
  }
  return claimed.size() == kClaimBatch;
}

void FleetClaimer::CountUnclaimable() {
  const size_t count = journal_.Unclaimable();
  if (count == unclaimable_) return;
  unclaimable_ = count;
  ServerLog(count == 0 ? std::string("fleet: every due try has a daemon serving it again")
                       : "fleet: " + std::to_string(count) +
                             " due tries wait for a gateway no live daemon serves; they are kept");
}

void FleetClaimer::TakeUp(uint64_t key, const std::string& payload) {
  // At a stop the entry stays in the database for another daemon.
  if (g_dbus_connection_is_closed(connection_)) return;
  objects_.TakeUnlessStopping([&] {
    try {
      RequestRecord record = DecodeRequest(payload);
      std::shared_ptr<DispatchObject> callback = KeptCallback(connection_, journal_, key, record);
      ResumeOnOwnObject(objects_, connection_, key, std::move(record), std::move(callback),
                        kClaiming);
    } catch (const std::exception& e) {
      ServerLog("fleet: entry " + std::to_string(key) + " cannot be read (" + e.what() +
                "): left in " + journal_.where());
    }
  });
}

}  // namespace qz
