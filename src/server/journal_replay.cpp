#include "server/journal_replay.h"

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
namespace {}  // namespace

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

void ReplayJournal(RequestJournal& journal, GDBusConnection* connection, ObjectCalls& objects,
                   const std::string& folder) {
  std::vector<RequestJournal::Leftover> leftovers = journal.TakeOverEarlierRuns();
  std::vector<std::pair<uint64_t, RequestRecord>> runs;
  size_t failed = 0;
  const int keep_days = ReadDeliveryPolicy(folder).keep_failed_days;
  for (auto& [key, payload] : leftovers) {
    RequestRecord record;
    try {
      record = DecodeRequest(payload);
    } catch (const std::exception& e) {
      ServerLog("journal: entry " + std::to_string(key) + " cannot be read (" + e.what() +
                "): left in " + journal.file_path());
      continue;
    }
    // A request that gave up is kept, not run again, until it expires.
    if (!record.failed) {
      runs.emplace_back(key, std::move(record));
    } else if (FailedExpired(record, UnixMsNow(), keep_days)) {
      journal.Remove(key);
    } else {
      journal.HoldFailed(key, std::move(payload));
      ++failed;
    }
  }
  if (failed) ServerLog("journal: keeping " + std::to_string(failed) + " failed requests");
  if (runs.empty()) return;
  ServerLog("journal: replaying " + std::to_string(runs.size()) +
            " requests an earlier run accepted and did not finish");
  for (auto& [key, record] : runs) {
    std::shared_ptr<DispatchObject> callback = KeptCallback(connection, record);
    ResumeOnOwnObject(objects, connection, key, std::move(record), std::move(callback),
                      {"replaying", "replayed request done", " (replayed)"});
  }
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
