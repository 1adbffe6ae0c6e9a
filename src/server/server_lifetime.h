// When the daemon ends: after the last object is gone and the linger time
// passed without a call, on a termination signal, or when its bus
// connection closes. Once the stop is decided the name goes first, every
// request accepted before is run at once, and the daemon waits (up to the
// grace time) for those runs and for the HTTP callbacks under way; what is
// left then is named in the log. Owns the main loop: construct and Run() on
// the main thread.
#pragma once

#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

#include "automation/context_post.h"
#include "dispatch/server_environment.h"
#include "platform/holders.h"
#include "server/object_calls.h"
#include "server/server_options.h"

namespace qz {

class ServerLifetime {
 public:
  // `objects` and what `env` refers to must outlive this.
  ServerLifetime(GDBusConnection* connection, const ServerOptions& options, ServerEnvironment env,
                 ObjectCalls& objects);
  ~ServerLifetime();
  ServerLifetime(const ServerLifetime&) = delete;
  ServerLifetime& operator=(const ServerLifetime&) = delete;

  // Owns the name and serves until the server is idle past the linger time
  // or a termination signal has been handled. The process exit status.
  int Run();
  // When the grace time of the stop ends (now plus the grace time if no
  // stop has begun): whoever waits on after Run() keeps to the same bound.
  std::chrono::steady_clock::time_point StopDeadline() const;
  // Any thread: a call came, so an idle server lingers afresh.
  void NoteCall() { ++activity_; }

 private:
  void CheckIdle();
  void ArmLinger();
  static gboolean OnLinger(gpointer self);
  void BeginShutdown();
  // Once the stop is decided: releases the name, runs every pending request
  // at once and ends the loop when they and the callbacks are done, or at
  // the grace time.
  void StopDecided();
  void ReleaseName();
  void WaitForCallbacks();
  void FinishShutdown(bool all_done);
  void OnMain(Work work);

  ConnectionPtr connection_;
  const std::optional<unsigned> linger_seconds_;
  const unsigned grace_seconds_;
  const ServerEnvironment env_;
  ObjectCalls& objects_;
  MainContextPtr main_context_;
  MainLoopPtr loop_;
  gulong closed_handler_ = 0;

  std::atomic<uint64_t> activity_{0};
  // Main thread.
  SourcePtr linger_;
  SourcePtr grace_;
  std::optional<std::chrono::steady_clock::time_point> stop_deadline_;
  uint64_t linger_activity_ = 0;
  int exit_status_ = 0;
};

}  // namespace qz
