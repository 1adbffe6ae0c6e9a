// The client's own callback object: exports gsubAgentCallBack on the given
// connection and waits, running the default main context, until the server
// calls it with the expected test identifier. Main thread only: the object
// and its timeout and name watch live on the default main context.
#pragma once

#include <gio/gio.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/holders.h"

namespace qz::client {

class CallbackListener {
 public:
  static constexpr std::string_view kPath = "/org/qznotes/Client/Callback";

  explicit CallbackListener(GDBusConnection* connection) : connection_(connection) {}
  ~CallbackListener();
  CallbackListener(const CallbackListener&) = delete;
  CallbackListener& operator=(const CallbackListener&) = delete;

  bool Export(ErrorPtr& error);
  // Set before the request goes out: the callback may come in before Wait.
  void Expect(std::string test_id) { expected_id_ = std::move(test_id); }
  // After Expect: keeps the lines of the Delivered signal the server sends
  // the creator of `object_path` for the expected request.
  void WatchDetails(std::string_view server_name, const std::string& object_path);

  enum class Outcome { kDelivered, kTimedOut, kServerGone };
  // `server_name` is watched so a server that leaves the bus ends the wait.
  Outcome Wait(std::string_view server_name, int timeout_seconds);
  const std::string& message() const { return message_; }
  // The Delivered signal's lines for the request, waiting at most
  // `timeout_ms` for a signal that has not come yet; nullopt without one.
  std::optional<std::vector<std::string>> Details(int timeout_ms);

 private:
  static void OnMethodCall(GDBusConnection*, const char* sender, const char* path,
                           const char* interface_name, const char* method, GVariant* parameters,
                           GDBusMethodInvocation* invocation, gpointer self);
  void Finish(Outcome outcome);
  static void OnDelivered(GDBusConnection*, const char*, const char*, const char*, const char*,
                          GVariant* parameters, gpointer self);

  GDBusConnection* connection_;
  guint registration_ = 0;
  std::string expected_id_;
  std::string message_;
  bool delivered_ = false;
  Outcome outcome_ = Outcome::kTimedOut;
  GMainLoop* loop_ = nullptr;          // set only while Wait runs
  guint timeout_id_ = 0;               // likewise
  GMainLoop* details_loop_ = nullptr;  // set only while Details waits
  guint details_subscription_ = 0;
  std::optional<std::vector<std::string>> details_;
};

}  // namespace qz::client
