#include "server/server_lifetime.h"

#include <glib-unix.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <string>

#include "components/callback_worker.h"
#include "contract/contract.h"
#include "dispatch/journal_store.h"
#include "server/journal_replay.h"
#include "server/server_log.h"

namespace qz {

ServerLifetime::ServerLifetime(GDBusConnection* connection, const ServerOptions& options,
                               ServerEnvironment env, ObjectCalls& objects)
    : connection_(Ref(connection)),
      linger_seconds_(options.linger_seconds),
      grace_seconds_(options.shutdown_grace_seconds),
      env_(std::move(env)),
      objects_(objects),
      main_context_(g_main_context_ref(g_main_context_default())),
      loop_(g_main_loop_new(main_context_.get(), FALSE)) {
  objects_.WhenObjectGone([this] { CheckIdle(); });
  // Without its bus the server can reach no client: end like an idle server.
  closed_handler_ =
      g_signal_connect(connection_.get(), "closed",
                       G_CALLBACK(+[](GDBusConnection*, gboolean, GError*, gpointer self) {
                         auto* lifetime = static_cast<ServerLifetime*>(self);
                         // Objects about to go take no request with them.
                         if (lifetime->env_.journal) lifetime->env_.journal->KeepEverything();
                         lifetime->OnMain([lifetime] {
                           ServerLog("bus connection closed: exiting");
                           lifetime->exit_status_ = 1;
                           g_main_loop_quit(lifetime->loop_.get());
                         });
                       }),
                       this);
}

ServerLifetime::~ServerLifetime() {
  g_signal_handler_disconnect(connection_.get(), closed_handler_);
  objects_.WhenObjectGone(nullptr);
  linger_.reset();
  grace_.reset();
}

void ServerLifetime::OnMain(Work work) { PostToContext(main_context_.get(), std::move(work)); }

int ServerLifetime::Run() {
  ErrorPtr error;
  VariantPtr reply(g_dbus_connection_call_sync(
      connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "RequestName", g_variant_new("(su)", kBusName, 4u /* DO_NOT_QUEUE */), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, ErrorSlot(error)));
  if (!reply) {
    ServerLog(std::string("cannot request ") + kBusName + ": " + ErrorText(error));
    return 1;
  }
  guint32 result = 0;
  g_variant_get(reply.get(), "(u)", &result);
  if (result != 1 /* PRIMARY_OWNER */) {
    ServerLog(std::string(kBusName) + " is owned by another process");
    return 1;
  }
  ServerLog(std::string("serving ") + kBusName + " from folder " + env_.folder);
  // Only once the name is ours, so no other daemon runs the same requests.
  if (env_.journal) ReplayJournal(*env_.journal, connection_.get(), objects_, env_.folder);
  // Under systemd (Type=notify) units ordered after ours start now.
  sd_notify(0, "READY=1");

  auto on_signal = [](gpointer self) -> gboolean {
    static_cast<ServerLifetime*>(self)->BeginShutdown();
    return G_SOURCE_CONTINUE;
  };
  guint term = g_unix_signal_add(SIGTERM, on_signal, this);
  guint intr = g_unix_signal_add(SIGINT, on_signal, this);
  CheckIdle();
  g_main_loop_run(loop_.get());
  g_source_remove(term);
  g_source_remove(intr);
  // A round trip to the bus: every call it routed here before our name went
  // has reached us by its answer. Calls handed to this thread before the
  // stop then still get their answer (the stopping error); bounded, as late
  // ones to our unique name keep coming until we go.
  VariantPtr(g_dbus_connection_call_sync(
      connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "GetId", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr));
  for (int i = 0; i < 10000 && g_main_context_iteration(main_context_.get(), FALSE); ++i) {
  }

  // The name was released when the stop was decided.
  objects_.DestroyAll("server stopping");
  g_dbus_connection_flush_sync(connection_.get(), nullptr, nullptr);
  ServerLog("stopped");
  return exit_status_;
}

void ServerLifetime::CheckIdle() {
  if (objects_.stopping() || linger_ || !linger_seconds_ || !objects_.Idle()) return;
  ArmLinger();
}

void ServerLifetime::ArmLinger() {
  linger_activity_ = activity_;
  linger_.reset(g_timeout_source_new_seconds(*linger_seconds_));
  g_source_set_callback(linger_.get(), &ServerLifetime::OnLinger, this, nullptr);
  g_source_attach(linger_.get(), main_context_.get());
}

gboolean ServerLifetime::OnLinger(gpointer self) {
  auto* lifetime = static_cast<ServerLifetime*>(self);
  lifetime->linger_.reset();
  bool decided = lifetime->objects_.DecideStop([lifetime] {
    if (!lifetime->objects_.Idle()) return false;
    if (lifetime->activity_ != lifetime->linger_activity_) {
      lifetime->ArmLinger();  // a call came meanwhile: linger afresh
      return false;
    }
    return true;
  });
  if (!decided) return G_SOURCE_REMOVE;
  ServerLog("idle: exiting");
  lifetime->StopDecided();
  return G_SOURCE_REMOVE;
}

void ServerLifetime::BeginShutdown() {
  if (!objects_.DecideStop([] { return true; })) return;
  ServerLog("stopping: termination signal");
  StopDecided();
}

void ServerLifetime::StopDecided() {
  linger_.reset();
  ReleaseName();
  const bool waiting = objects_.FinishAllPendingWork([this] { WaitForCallbacks(); });
  stop_deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(grace_seconds_);
  grace_.reset(g_timeout_source_new_seconds(grace_seconds_));
  g_source_set_callback(
      grace_.get(),
      [](gpointer self) -> gboolean {
        static_cast<ServerLifetime*>(self)->FinishShutdown(false);
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
  g_source_attach(grace_.get(), main_context_.get());
  if (!waiting) WaitForCallbacks();
}

void ServerLifetime::ReleaseName() {
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

void ServerLifetime::WaitForCallbacks() {
  if (!env_.callbacks) return FinishShutdown(true);
  // The context is held, not the lifetime's member, since the worker may
  // report after a closed bus connection has ended the server.
  std::shared_ptr<GMainContext> context(g_main_context_ref(main_context_.get()),
                                        g_main_context_unref);
  env_.callbacks->WhenIdle(
      [this, context] { PostToContext(context.get(), [this] { FinishShutdown(true); }); });
}

void ServerLifetime::FinishShutdown(bool all_done) {
  if (!g_main_loop_is_running(loop_.get())) return;
  if (!all_done) {
    // Runs or callbacks still going past the grace time: name each, so an
    // operator knows what was accepted but not delivered, and leave
    // without waiting for them.
    const std::string grace = std::to_string(grace_seconds_) + " s";
    for (const auto& [path, name] : objects_.UnfinishedWork())
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

std::chrono::steady_clock::time_point ServerLifetime::StopDeadline() const {
  return stop_deadline_.value_or(std::chrono::steady_clock::now() +
                                 std::chrono::seconds(grace_seconds_));
}

}  // namespace qz
