// Takes the method calls meant for the server off the bus connection (a
// message filter, on the GDBus worker thread) and sends each where it is
// answered: introspection of the nodes above the objects, the factory path
// and its one-shot operations, the profiles and journal interfaces, and the objects,
// which answer their creator only (and root too on the system bus). Never
// waits on the worker thread; factory work goes to the main thread,
// operations to the object's apartment. Calls are routed from construction
// (on the main thread) until destruction.
#pragma once

#include <gio/gio.h>

#include <memory>
#include <optional>
#include <string>

#include "automation/context_post.h"
#include "dispatch/server_environment.h"
#include "platform/holders.h"
#include "server/call_admission.h"
#include "server/caller_uids.h"
#include "server/heap_trim.h"
#include "server/object_calls.h"
#include "server/server_lifetime.h"
#include "server/server_options.h"
#include "server/status_view.h"

namespace qz {

class CallRouter {
 public:
  // Every reference must outlive this; without `status` the status
  // interface is not served.
  CallRouter(GDBusConnection* connection, const ServerOptions& options,
             const ServerEnvironment& env, CallAdmission& admission, CallerUids& uids,
             ObjectCalls& objects, ServerLifetime& lifetime, const StatusSources* status = nullptr);
  ~CallRouter();
  CallRouter(const CallRouter&) = delete;
  CallRouter& operator=(const CallRouter&) = delete;

 private:
  static GDBusMessage* Filter(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                              gpointer self);
  // Takes `call` over when it is ours.
  void Route(MessagePtr& call);
  void RouteFactoryCall(MessagePtr call, const char* iface, const char* member);
  // Any thread but never waiting: below the factory path, once it is known
  // whether the caller is privileged (root on the system bus).
  void RouteBelowFactory(MessagePtr call, bool privileged);
  void RouteObjectCall(MessagePtr call, std::shared_ptr<ObjectEntry> entry, const char* iface,
                       const char* member);
  // Runs `then` once the caller's Unix user is known on the system bus (at
  // once elsewhere), since the pool seats a user's objects within its share.
  // The worker thread never waits for it. A call refused while it waits
  // (CallAdmission::AdmitWaiting) was answered, and `then` is dropped.
  void OnceUserKnown(GDBusMessage* call, Work then);
  // Main thread, once the caller's user is known: the Journal interface.
  void AnswerJournal(GDBusMessage* call);
  void OnMain(Work work);

  ConnectionPtr connection_;
  const bool system_bus_;
  RegistryStore* const registry_;  // none: the profiles interface is not served either
  JournalStore* const journal_;    // none: the Journal interface has nothing to list
  const std::string folder_;
  CallAdmission& admission_;
  CallerUids& uids_;
  ObjectCalls& objects_;
  ServerLifetime& lifetime_;
  const StatusSources* const status_;
  MainContextPtr main_context_;
  HeapTrimmer trimmer_;  // large calls are trimmed after on the main loop
  guint filter_id_ = 0;
};

}  // namespace qz
