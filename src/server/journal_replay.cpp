#include "server/journal_replay.h"

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "server/delivery_report.h"
#include "server/remote_object.h"
#include "server/served_classes.h"
#include "server/server_log.h"

namespace qz {
namespace {

std::shared_ptr<DispatchObject> ReplayCallback(GDBusConnection* connection,
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

}  // namespace

void ReplayJournal(RequestJournal& journal, GDBusConnection* connection, ObjectCalls& objects) {
  std::vector<RequestJournal::Leftover> leftovers = journal.TakeOverEarlierRuns();
  if (leftovers.empty()) return;
  ServerLog("journal: replaying " + std::to_string(leftovers.size()) +
            " requests an earlier run accepted and did not finish");
  for (auto& [key, payload] : leftovers) {
    RequestRecord record;
    try {
      record = DecodeRequest(payload);
    } catch (const std::exception& e) {
      ServerLog("journal: entry " + std::to_string(key) + " cannot be read (" + e.what() +
                "): left in " + journal.file_path());
      continue;
    }
    auto entry = objects.AddUnowned(NotifyClass());
    std::shared_ptr<DispatchObject> callback = ReplayCallback(connection, record);
    entry->apartment->Post([&objects, connection, entry, key, record = std::move(record),
                            callback] {
      objects.MakeObject(*entry);
      std::string who(ShortPath(entry->path));
      ServerLog(who + ": replaying request " + record.mstrTestID + " (" + record.procedure +
                " on " + record.object_path + ", accepted " + AcceptedTime(record) + ")");
      entry->object->SetOutcomeSink([&objects, connection, entry, who](const DispatchTrace& trace) {
        ReportDelivery(connection, who, trace, " (replayed)");
        objects.ReleaseUnowned(*entry, "replayed request done");
      });
      entry->object->ResumeRequest(record, key, callback);
    });
  }
}

}  // namespace qz
