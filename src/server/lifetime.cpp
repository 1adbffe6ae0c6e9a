// When the daemon ends: after the last object is gone and the linger time
// passed without a call, or on a termination signal. Either way, once the
// stop is decided the name goes first, every request accepted before is
// run at once, and the daemon waits (up to the grace time) for those runs
// and for the HTTP callbacks under way; what is left then is named in the
// log.
#include <systemd/sd-daemon.h>

#include <set>

#include "components/callback_worker.h"
#include "contract/contract.h"
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
  {
    std::unique_lock lock(server->stop_mutex_);
    bool idle = server->table_.size() == 0 && server->live_objects_ == 0;
    if (!idle) return G_SOURCE_REMOVE;
    if (server->activity_ != server->linger_activity_) {
      server->ArmLinger();  // a call came meanwhile: linger afresh
      return G_SOURCE_REMOVE;
    }
    // From here on calls are refused, so nothing is accepted that would
    // never run.
    server->stopping_ = true;
  }
  ServerLog("idle: exiting");
  server->StopDecided();
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
  refusals_.Forget(name);
  for (auto& entry : table_.RemoveOwnedBy(name))
    Destroy(entry, std::string("creator ") + name + " left the bus");
}

void BusServer::BeginShutdown() {
  {
    std::unique_lock lock(stop_mutex_);
    if (stopping_.exchange(true)) return;
  }
  ServerLog("stopping: termination signal");
  StopDecided();
}

void BusServer::StopDecided() {
  linger_.reset();
  ReleaseName();
  auto entries = table_.All();
  if (!entries.empty())
    ServerLog("stopping: delivering " + std::to_string(entries.size()) +
              " objects' pending requests now");
  std::set<Apartment*> apartments;
  for (auto& entry : entries) {
    apartments.insert(entry->apartment.get());
    entry->apartment->Post([entry] {
      if (entry->object) entry->object->FinishPendingWork();
    });
  }
  stop_deadline_ =
      std::chrono::steady_clock::now() + std::chrono::seconds(options_.shutdown_grace_seconds);
  grace_.reset(g_timeout_source_new_seconds(options_.shutdown_grace_seconds));
  g_source_set_callback(
      grace_.get(),
      [](gpointer self) -> gboolean {
        static_cast<BusServer*>(self)->FinishShutdown(false);
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
  g_source_attach(grace_.get(), main_context_.get());
  if (apartments.empty()) {
    WaitForCallbacks();
    return;
  }
  // Work runs in order on each apartment: once every apartment has reached
  // its marker, every run started above has ended.
  auto remaining = std::make_shared<std::atomic<size_t>>(apartments.size());
  for (Apartment* apartment : apartments)
    apartment->Post([this, remaining] {
      if (--*remaining == 0) OnMain([this] { WaitForCallbacks(); });
    });
}

void BusServer::ReleaseName() {
  // First, so that a client's next call starts (or finds) a fresh daemon
  // while this one finishes. Calls to this daemon's own unique name are
  // still refused with the stopping error until it is gone.
  // Under systemd, a start asked for from now on is queued behind this
  // daemon's end rather than taken as already done.
  sd_notify(0, "STOPPING=1");
  g_dbus_connection_call(connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "ReleaseName", g_variant_new("(s)", kBusName),
                         nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

void BusServer::WaitForCallbacks() {
  if (!env_.callbacks) return FinishShutdown(true);
  // The context is held, not the server's member, since the worker may
  // report after a closed bus connection has ended the server.
  std::shared_ptr<GMainContext> context(g_main_context_ref(main_context_.get()),
                                        g_main_context_unref);
  env_.callbacks->WhenIdle(
      [this, context] { PostToContext(context.get(), [this] { FinishShutdown(true); }); });
}

void BusServer::FinishShutdown(bool all_done) {
  if (!g_main_loop_is_running(loop_.get())) return;
  if (!all_done) {
    // Runs or callbacks still going past the grace time: name each, so an
    // operator knows what was accepted but not delivered, and leave
    // without waiting for them.
    const std::string grace = std::to_string(options_.shutdown_grace_seconds) + " s";
    for (const auto& [path, name] : pending_.All())
      ServerLog("stopping: " + name + " of " + path + " not delivered within " + grace);
    if (env_.callbacks)
      for (const std::string& label : env_.callbacks->Unfinished())
        ServerLog("stopping: callback " + label + " not made within " + grace);
    ServerLog("stopping: deliveries still in progress after " + grace + "; exiting without them");
    g_dbus_connection_flush_sync(connection_.get(), nullptr, nullptr);
    _exit(1);
  }
  g_main_loop_quit(loop_.get());
}

std::chrono::steady_clock::time_point BusServer::StopDeadline() const {
  return stop_deadline_.value_or(std::chrono::steady_clock::now() +
                                 std::chrono::seconds(options_.shutdown_grace_seconds));
}

}  // namespace qz
