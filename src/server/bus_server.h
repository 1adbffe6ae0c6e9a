// The daemon's D-Bus side: owns the well-known name, answers the factory,
// the object paths and their dispatch slots, and ends itself when idle or
// told to stop. Method calls are taken off the connection by a message
// filter; factory and lifetime work runs on the main context, operations on
// the object's apartment. Construct and Run() on the main thread.
#pragma once

#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "automation/apartment_pool.h"
#include "dispatch/request_record.h"
#include "dispatch/server_environment.h"
#include "platform/holders.h"
#include "server/caller_ledger.h"
#include "server/caller_uids.h"
#include "server/limits.h"
#include "server/object_table.h"
#include "server/pending_work.h"
#include "server/refusal_log.h"

namespace qz {

struct ServerOptions {
  std::optional<unsigned> linger_seconds = 5;  // none: stay running when idle
  unsigned shutdown_grace_seconds = 30;        // a stop waits this long for deliveries
  size_t apartments = 4;
  bool system_bus = false;
  Limits limits;  // what one connection may make the server hold
};

class BusServer {
 public:
  // `env` names the program folder, channels, seat check and components
  // every object uses; what it refers to must outlive the server.
  BusServer(GDBusConnection* connection, ServerOptions options, ServerEnvironment env);
  ~BusServer();
  BusServer(const BusServer&) = delete;
  BusServer& operator=(const BusServer&) = delete;

  // Owns the name and serves until the server is idle past the linger time
  // or a termination signal has been handled. The process exit status.
  int Run();
  // When the grace time of the stop ends (now plus the grace time if no
  // stop has begun): whoever waits on after Run() keeps to the same bound.
  std::chrono::steady_clock::time_point StopDeadline() const;

 private:
  static GDBusMessage* Filter(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                              gpointer self);
  // GDBus worker thread: takes `call` over when it is ours.
  void Route(MessagePtr& call);
  void RouteFactoryCall(MessagePtr call, const char* iface, const char* member);
  // Any thread but never waiting: below the factory path, once it is known
  // whether the caller is privileged (root on the system bus).
  void RouteBelowFactory(MessagePtr call, bool privileged);
  void RefuseWhileStopping(GDBusMessage* call);
  // Any thread: the ticket a call to `op` holds while it is pending, or
  // nothing when it passes a limit and was answered LimitsExceeded.
  std::optional<CallerLedger::Ticket> Admit(GDBusMessage* call, const Operation& op, bool invoke);
  void RefuseOverLimit(GDBusMessage* call, Limit limit);
  void RouteObjectCall(MessagePtr call, std::shared_ptr<ObjectEntry> entry, const char* iface,
                       const char* member);
  void OnMain(Work work);
  // Runs what earlier runs left in the journal (journal_replay.cpp).
  void ReplayJournal();
  std::shared_ptr<DispatchObject> ReplayCallback(const RequestRecord& record);

  // Main thread.
  void CreateObject(GDBusMessage* call);
  void DispatchSlot(GDBusMessage* call, const std::shared_ptr<ObjectEntry>& entry);
  void Destroy(std::shared_ptr<ObjectEntry> entry, std::string_view why);
  void ReleaseIfCreatorGone(const std::string& owner);
  void CheckIdle();
  void ArmLinger();
  static gboolean OnLinger(gpointer self);
  void OnNameOwnerChanged(GVariant* parameters);
  void BeginShutdown();
  // Once stopping_ is set: releases the name, runs every pending request
  // at once and ends the loop when they and the callbacks are done, or at
  // the grace time.
  void StopDecided();
  void ReleaseName();
  void WaitForCallbacks();
  void FinishShutdown(bool all_done);

  // Any thread: posts to the entry's apartment.
  void RunOperation(std::shared_ptr<ObjectEntry> entry, MessagePtr call, const Operation& op,
                    bool invoke, CallerLedger::Ticket ticket);
  // An operation called on the factory path runs on a fresh object that
  // lives until the call and any work it accepted are done, so that one-shot
  // tools such as busctl can use the operations.
  void RunOnTransientObject(MessagePtr call, const ClassDescription& description,
                            const Operation& op, bool invoke, CallerLedger::Ticket ticket);
  // Apartment thread: parses, runs and answers one call.
  // A request it accepted keeps `ticket` in the entry until its run ends.
  void ExecuteOperation(ObjectEntry& entry, GDBusMessage* call, const Operation& op, bool invoke,
                        CallerLedger::Ticket& ticket);

  ConnectionPtr connection_;
  ServerOptions options_;
  ServerEnvironment env_;
  ObjectTable table_;
  PendingWork pending_;  // accepted requests whose run has not ended
  CallerLedger ledger_;
  RefusalLog refusals_;
  MainContextPtr main_context_;
  CallerUids uids_;
  MainLoopPtr loop_;
  guint filter_id_ = 0;
  guint owner_subscription_ = 0;
  gulong closed_handler_ = 0;

  std::atomic<int> live_objects_{0};
  std::atomic<uint64_t> activity_{0};
  std::atomic<bool> stopping_{false};
  std::mutex stop_mutex_;  // makes deciding to stop and taking a one-shot call exclusive
  SourcePtr linger_;       // main thread
  SourcePtr grace_;        // main thread
  std::optional<std::chrono::steady_clock::time_point> stop_deadline_;  // main thread
  uint64_t linger_activity_ = 0;
  int exit_status_ = 0;
  // Last, so its threads stop before anything their work refers to goes.
  ApartmentPool pool_;
};

}  // namespace qz
