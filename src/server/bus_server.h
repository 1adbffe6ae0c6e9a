// The daemon's D-Bus side: owns the well-known name, answers the factory,
// the object paths and their dispatch slots, and ends itself when idle or
// told to stop. Method calls are taken off the connection by a message
// filter; factory and lifetime work runs on the main context, operations on
// the object's apartment. Construct and Run() on the main thread.
#pragma once

#include <gio/gio.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "automation/apartment_pool.h"
#include "automation/component_registry.h"
#include "dispatch/server_channels.h"
#include "dispatch/server_environment.h"
#include "platform/registry_store.h"
#include "platform/seat_override.h"
#include "server/object_table.h"

namespace qz {

inline constexpr const char* kBusName = "org.qznotes.QzNotes";

struct ServerOptions {
  std::string folder;
  unsigned linger_seconds = 5;
  size_t apartments = 4;
  bool system_bus = false;
  SeatMode seat = SeatMode::kAuto;
};

class BusServer {
 public:
  BusServer(GDBusConnection* connection, ServerOptions options, ComponentRegistry& components);
  ~BusServer();
  BusServer(const BusServer&) = delete;
  BusServer& operator=(const BusServer&) = delete;

  // Owns the name and serves until the server is idle past the linger time
  // or a termination signal has been handled. The process exit status.
  int Run();

 private:
  static GDBusMessage* Filter(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                              gpointer self);
  // GDBus worker thread: true when the call is ours and has been handed on.
  bool Route(GDBusMessage* call);
  void RouteFactoryCall(GDBusMessage* call, const char* iface, const char* member);
  void RouteObjectCall(GDBusMessage* call, std::string_view path, const char* iface, const char* member);
  void OnMain(std::function<void()> work);

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
  void FinishShutdown(bool all_done);

  // Any thread: posts to the entry's apartment; `call` is taken over.
  void RunOperation(std::shared_ptr<ObjectEntry> entry, GDBusMessage* call, const Operation& op,
                    bool invoke);
  // A cNotify operation called on the factory path runs on a fresh object
  // that lives until the call and any request it accepted are done, so that
  // one-shot tools such as busctl can use the operations.
  void RunOnTransientObject(GDBusMessage* call, const Operation& op);
  // Apartment thread: parses, runs and answers one call.
  void ExecuteOperation(ObjectEntry& entry, GDBusMessage* call, const Operation& op, bool invoke);

  GDBusConnection* connection_;
  ServerOptions options_;
  ServerChannels channels_;
  ConfiguredSeatProbe seat_;
  RegistryStore registry_;  // the program folder's registry store file
  ServerEnvironment env_;
  ObjectTable table_;
  GMainContext* main_context_;
  GMainLoop* loop_;
  guint filter_id_ = 0;
  guint owner_subscription_ = 0;
  gulong closed_handler_ = 0;

  std::atomic<int> live_objects_{0};
  std::atomic<uint64_t> activity_{0};
  std::atomic<bool> stopping_{false};
  GSource* linger_ = nullptr;  // main thread
  uint64_t linger_activity_ = 0;
  int exit_status_ = 0;
  // Last, so its threads stop before anything their work refers to goes.
  ApartmentPool pool_;
};

}  // namespace qz
