// At start: the requests an earlier run accepted and did not finish (it was
// killed, crashed or lost power) run again, each on an object of its own
// that goes once its run has ended, as a one-shot call's object does.

#include "dispatch/request_journal.h"
#include "server/bus_server.h"
#include "server/delivery_report.h"
#include "server/remote_object.h"
#include "server/served_classes.h"
#include "server/server_log.h"

namespace qz {
namespace {

std::string_view ShortPath(std::string_view path) {
  return path.substr(std::string_view(kFactoryPath).size() + 1);
}

}  // namespace

std::shared_ptr<DispatchObject> BusServer::ReplayCallback(const RequestRecord& record) {
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
  return std::make_shared<RemoteObject>(connection_.get(), record.callback_bus,
                                        record.callback_path, record.callback_uid);
}

void BusServer::ReplayJournal() {
  if (!env_.journal) return;
  std::vector<RequestJournal::Leftover> leftovers = env_.journal->TakeOverEarlierRuns();
  if (leftovers.empty()) return;
  ServerLog("journal: replaying " + std::to_string(leftovers.size()) +
            " requests an earlier run accepted and did not finish");
  for (auto& [key, payload] : leftovers) {
    RequestRecord record;
    try {
      record = DecodeRequest(payload);
    } catch (const std::exception& e) {
      ServerLog("journal: entry " + std::to_string(key) + " cannot be read (" + e.what() +
                "): left in " + env_.journal->file_path());
      continue;
    }
    auto entry = table_.Add(NotifyClass(), "", pool_.Assign());
    ++live_objects_;
    std::shared_ptr<DispatchObject> callback = ReplayCallback(record);
    entry->apartment->Post([this, entry, key, record = std::move(record), callback] {
      Apartment& apartment = *entry->apartment;
      entry->object = entry->description->make(
          ObjectSeat{env_, apartment.context(), &apartment.deliveries(), entry->path, ""});
      std::string who(ShortPath(entry->path));
      ServerLog(who + ": replaying request " + record.mstrTestID + " (" + record.procedure +
                " on " + record.object_path + ", accepted " + AcceptedTime(record) + ")");
      entry->object->SetOutcomeSink([this, entry, who](const DispatchTrace& trace) {
        ReportDelivery(connection_.get(), who, trace, " (replayed)");
        auto released = table_.Release(entry->path);
        if (released && released->second) Destroy(released->second, "replayed request done");
      });
      entry->object->ResumeRequest(record, key, callback);
    });
  }
}

}  // namespace qz
