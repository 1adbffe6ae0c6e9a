// When the daemon ends: after the last object is gone and the linger time
// passed without a call, or on a termination signal once every pending
// request has been delivered.
#include <set>

#include "server/bus_server.h"
#include "server/server_log.h"

namespace qz {
void BusServer::CheckIdle() {
  if (stopping_ || linger_ || !options_.linger_seconds || table_.size() > 0 || live_objects_ > 0)
    return;
  ArmLinger();
}

void BusServer::ArmLinger() {
  linger_activity_ = activity_;
  linger_.reset(g_timeout_source_new_seconds(*options_.linger_seconds));
  g_source_set_callback(linger_.get(), &BusServer::OnLinger, this, nullptr);
  g_source_attach(linger_.get(), main_context_.get());
}

gboolean BusServer::OnLinger(gpointer self) {
  auto* server = static_cast<BusServer*>(self);
  server->linger_.reset();
  std::unique_lock lock(server->stop_mutex_);
  bool idle = server->table_.size() == 0 && server->live_objects_ == 0;
  if (idle && server->activity_ == server->linger_activity_) {
    // From here on calls are refused, so nothing is accepted that would
    // never run.
    server->stopping_ = true;
    ServerLog("idle: exiting");
    g_main_loop_quit(server->loop_.get());
  } else if (idle) {
    server->ArmLinger();  // a call came meanwhile: linger afresh
  }
  return G_SOURCE_REMOVE;
}

void BusServer::OnNameOwnerChanged(GVariant* parameters) {
  if (!parameters || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sss)"))) return;
  const char* name = nullptr;
  const char* old_owner = nullptr;
  const char* new_owner = nullptr;
  g_variant_get(parameters, "(&s&s&s)", &name, &old_owner, &new_owner);
  if (name[0] != ':' || new_owner[0] != '\0') return;
  uids_.Forget(name);
  for (auto& entry : table_.RemoveOwnedBy(name))
    Destroy(entry, std::string("creator ") + name + " left the bus");
}

void BusServer::BeginShutdown() {
  {
    std::unique_lock lock(stop_mutex_);
    if (stopping_.exchange(true)) return;
  }
  auto entries = table_.All();
  ServerLog("stopping: delivering " + std::to_string(entries.size()) +
            " objects' pending requests now");
  std::set<Apartment*> apartments;
  for (auto& entry : entries) {
    apartments.insert(entry->apartment.get());
    entry->apartment->Post([entry] {
      if (entry->object) entry->object->FinishPendingWork();
    });
  }
  // Work runs in order on each apartment: once every apartment has reached
  // its marker, every run started above has ended.
  auto remaining = std::make_shared<std::atomic<size_t>>(apartments.size());
  for (Apartment* apartment : apartments)
    apartment->Post([this, remaining] {
      if (--*remaining == 0) OnMain([this] { FinishShutdown(true); });
    });
  if (apartments.empty()) {
    FinishShutdown(true);
    return;
  }
  grace_.reset(g_timeout_source_new_seconds(options_.shutdown_grace_seconds));
  g_source_set_callback(
      grace_.get(),
      [](gpointer self) -> gboolean {
        static_cast<BusServer*>(self)->FinishShutdown(false);
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
  g_source_attach(grace_.get(), main_context_.get());
}

void BusServer::FinishShutdown(bool all_done) {
  if (!g_main_loop_is_running(loop_.get())) return;
  if (!all_done) {
    // Deliveries still running past the grace time: say so and leave
    // without waiting for them.
    ServerLog("stopping: deliveries still in progress after " +
              std::to_string(options_.shutdown_grace_seconds) + " s; exiting without them");
    g_dbus_connection_flush_sync(connection_.get(), nullptr, nullptr);
    _exit(1);
  }
  g_main_loop_quit(loop_.get());
}

}  // namespace qz
