// The server's side of the HTTP front door: a request from a token runs on
// an object no caller created, through cNotify's own SendMessageCallBackEx
// on the object's apartment, with the bus side's journal, outcome path and
// limits (counted per token as caller "http:NAME"). It also keeps what
// became of each such request for a while, and tells watchers of every run
// that ends. Safe from any thread; nothing here waits on the caller's
// thread: answers come from the apartments.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "http/front_door.h"
#include "server/call_admission.h"
#include "server/object_calls.h"

namespace qz {

class FrontDoorPort final : public RequestPort {
 public:
  // What an ended request is kept for: the last kKeptEnded of them, each
  // at most kKeptFor.
  static constexpr size_t kKeptEnded = 10000;
  static constexpr std::chrono::hours kKeptFor{1};

  // Everything given must outlive this, and this the listener calling it.
  // Observes the outcomes of `objects` from now on (main thread, before
  // serving).
  FrontDoorPort(ObjectCalls& objects, CallAdmission& admission, GDBusConnection* connection,
                const ServerEnvironment& env);
  FrontDoorPort(const FrontDoorPort&) = delete;
  FrontDoorPort& operator=(const FrontDoorPort&) = delete;

  void Submit(NotificationRequest request, const ApiCaller& caller,
              std::function<void(SubmitResult)> done) override;
  void Lookup(std::string id, const ApiCaller& caller,
              std::function<void(std::optional<RequestState>)> done) override;
  std::shared_ptr<void> WatchOutcomes(const ApiCaller& caller, OutcomeWatcher watcher) override;
  void TestGateway(int16_t index, std::string number, const ApiCaller& caller,
                   std::function<void(SubmitResult)> done) override;

 private:
  struct Book;

  ObjectCalls& objects_;
  CallAdmission& admission_;
  GDBusConnection* connection_;
  const ServerEnvironment& env_;
  std::shared_ptr<Book> book_;  // shared with work still queued on apartments
};

}  // namespace qz
