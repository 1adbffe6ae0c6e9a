#include "server/journal_replay.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "config/delivery_policy.h"
#include "dispatch/retry_schedule.h"
#include "server/delivery_report.h"
#include "server/remote_object.h"
#include "server/served_classes.h"
#include "server/server_log.h"

namespace qz {

std::optional<RequestRecord> ReadKept(const JournalStore& journal, uint64_t key,
                                      std::string_view payload, std::string_view who) {
  try {
    return DecodeRequest(payload);
  } catch (const std::exception& e) {
    ServerLog(std::string(who) + ": entry " + std::to_string(key) + " cannot be read (" + e.what() +
              "): left in " + journal.where());
    return std::nullopt;
  }
}

std::shared_ptr<DispatchObject> KeptCallback(GDBusConnection* connection,
                                             const RequestRecord& record) {
  // A unique connection name belongs to the earlier run's bus life: the
  // client it named is gone, and the name may come to someone else. Such a
  // callback fails silently, as any callback that cannot be made. So does
  // one to a well-known name kept without the user who may hold it.
  if (record.callback_bus.empty() || record.callback_bus.starts_with(":")) return nullptr;
  if (!record.callback_uid) {
    ServerLog("journal: request " + record.mstrTestID + " is not called back: " +
              record.callback_bus + " was kept without the user who may hold it");
    return nullptr;
  }
  return std::make_shared<RemoteObject>(connection, record.callback_bus, record.callback_path,
                                        record.callback_uid);
}

std::shared_ptr<DispatchObject> KeptCallback(GDBusConnection* connection, JournalStore& journal,
                                             uint64_t key, const RequestRecord& record) {
  if (!journal.AcceptedElsewhere(key)) return KeptCallback(connection, record);
  if (!record.callback_bus.empty())
    ServerLog("request " + record.mstrTestID +
              ": accepted by another daemon: its D-Bus callback is skipped");
  return nullptr;
}

namespace {

// Records read, or requests started, per dispatch of the replay's source.
constexpr size_t kReplaySortSlice = 2000;
constexpr size_t kReplayRunSlice = 64;

const TakingUp kReplaying{"replaying", "replayed request done", " (replayed)"};

void RunReplayed(ObjectCalls& objects, GDBusConnection* connection, JournalStore& journal,
                 uint64_t key, RequestRecord record) {
  std::shared_ptr<DispatchObject> callback = KeptCallback(connection, journal, key, record);
  ResumeOnOwnObject(objects, connection, key, std::move(record), std::move(callback), kReplaying);
}

}  // namespace

JournalReplay::JournalReplay(JournalStore& journal, GDBusConnection* connection,
                             ObjectCalls& objects, const std::string& folder, GatewayHealth* health)
    : journal_(journal),
      connection_(connection),
      objects_(objects),
      health_(health),
      keep_days_(ReadDeliveryPolicy(folder).keep_failed_days),
      leftovers_(journal.TakeOverEarlierRuns()),
      waiting_(g_main_context_default()) {
  if (leftovers_.empty()) {
    slicing_ = false;
    return;
  }
  // Below the calls' priority: a call waits for one slice at most.
  slice_.reset(g_idle_source_new());
  g_source_set_priority(slice_.get(), G_PRIORITY_DEFAULT_IDLE);
  g_source_set_callback(slice_.get(), &JournalReplay::OnSlice, this, nullptr);
  g_source_attach(slice_.get(), g_main_context_default());
}

JournalReplay::~JournalReplay() = default;

gboolean JournalReplay::OnSlice(gpointer data) {
  auto* self = static_cast<JournalReplay*>(data);
  // A stop leaves what is not started in the journal for the next run.
  if (!self->objects_.stopping() && (self->Sort() || self->RunDue())) return G_SOURCE_CONTINUE;
  self->slicing_ = false;
  self->leftovers_ = {};
  self->due_ = {};
  self->slice_.reset();
  if (self->Done()) self->objects_.ReplayQuiet();
  return G_SOURCE_REMOVE;
}

bool JournalReplay::Sort() {
  if (sorted_ == leftovers_.size()) return false;
  const int64_t now = UnixMsNow();
  for (size_t end = std::min(leftovers_.size(), sorted_ + kReplaySortSlice); sorted_ < end;
       ++sorted_) {
    auto& [key, payload] = leftovers_[sorted_];
    std::optional<RequestRecord> read = ReadKept(journal_, key, payload, "journal");
    if (!read) continue;
    RequestRecord& record = *read;
    // A request that gave up is kept, not run again, until it expires.
    if (record.failed) {
      if (FailedExpired(record, now, keep_days_)) {
        journal_.Remove(key);
      } else {
        journal_.HoldFailed(key, std::move(payload));
        ++failed_;
      }
    } else if (record.tries > 0 && record.next_try_unix_ms > now) {
      // Kept as it is in the journal, which is far smaller than an object.
      waiting_.Schedule(record.next_try_unix_ms,
                        [this, key = key, kept = std::move(payload)] { TakeUp(key, kept); });
      waiting_marks_.emplace_back(health_);
      waiting_marks_.back().Set(true);
    } else {
      due_.emplace_back(key, std::move(record));
    }
    payload = std::string();
  }
  if (sorted_ < leftovers_.size()) return true;
  if (failed_) ServerLog("journal: keeping " + std::to_string(failed_) + " failed requests");
  Summary();
  return true;
}

void JournalReplay::Summary() const {
  const size_t total = due_.size() + waiting_.size();
  if (total == 0) return;
  std::string line =
      "journal: replaying " + std::to_string(total) +
      " requests an earlier run accepted and did not finish: " + std::to_string(due_.size()) +
      " due now, " + std::to_string(waiting_.size()) + " waiting";
  if (auto next = waiting_.NextDue()) line += ", next at " + UtcTime(*next);
  ServerLog(line);
}

bool JournalReplay::RunDue() {
  if (started_ == due_.size()) return false;
  for (size_t end = std::min(due_.size(), started_ + kReplayRunSlice); started_ < end; ++started_)
    RunReplayed(objects_, connection_, journal_, due_[started_].first,
                std::move(due_[started_].second));
  return started_ < due_.size();
}

void JournalReplay::TakeUp(uint64_t key, const std::string& payload) {
  waiting_marks_.pop_back();
  // At a stop, or without the bus, the entry stays for the next run, as a
  // waiting object's does.
  if (g_dbus_connection_is_closed(connection_)) return;
  objects_.TakeUnlessStopping([&] {
    try {
      RunReplayed(objects_, connection_, journal_, key, DecodeRequest(payload));
    } catch (const std::exception& e) {
      ServerLog("journal: entry " + std::to_string(key) + " cannot be read (" + e.what() +
                "): left in " + journal_.where());
    }
  });
  if (Done()) objects_.ReplayQuiet();
}

void ReplayJournal(JournalStore& journal, GDBusConnection* connection, ObjectCalls& objects,
                   const std::string& folder) {
  objects.KeepReplay(
      std::make_unique<JournalReplay>(journal, connection, objects, folder, objects.env().health));
}

void ResumeOnOwnObject(ObjectCalls& objects, GDBusConnection* connection, uint64_t key,
                       RequestRecord record, std::shared_ptr<DispatchObject> callback, TakingUp how,
                       std::optional<uid_t> user) {
  auto entry = objects.AddUnowned(NotifyClass(), user);
  entry->apartment->Post([&objects, connection, entry, key, record = std::move(record),
                          callback = std::move(callback), how = std::move(how)] {
    objects.MakeObject(*entry);
    std::string who(ShortPath(entry->path));
    std::string waiting;
    if (record.tries > 0) waiting = ", waiting for try " + std::to_string(record.tries + 1);
    ServerLog(who + ": " + how.verb + " request " + record.mstrTestID + " (" + record.procedure +
              " on " + record.object_path + ", accepted " + AcceptedTime(record) + waiting + ")");
    entry->object->SetOutcomeSink([&objects, connection, entry, who, how](const DispatchTrace& t) {
      ReportDelivery(connection, who, t, how.suffix);
      objects.ReleaseUnowned(*entry, how.done);
    });
    entry->object->ResumeRequest(record, key, callback);
  });
}

}  // namespace qz
