// The real daemon on a private bus, and a client connection that calls it
// and receives its callbacks. Used from the test's own thread.
#pragma once

#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/private_bus.h"
#include "support/temp_folder.h"
#include "support/variant_text.h"

namespace qz::testing {

using namespace std::chrono_literals;

struct VariantUnref {
  void operator()(GVariant* v) const { g_variant_unref(v); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;

inline constexpr const char* kName = "org.qznotes.QzNotes";
inline constexpr const char* kRoot = "/org/qznotes/QzNotes";
inline constexpr const char* kNotify = "org.qznotes.QzNotes._cNotify";
inline constexpr const char* kDispatch = "org.qznotes.QzNotes.IDispatch";

// A scratch program folder holding copies of the sample settings.
class ProgramFolder {
 public:
  explicit ProgramFolder(bool with_samples = true) {
    if (!with_samples) return;
    for (const char* name : {"QzNotes.ini", "QzPage.ini", "QzSNPP.ini", "QzSMS.ini"})
      std::filesystem::copy_file(std::filesystem::path(QZ_SOURCE_DIR) / "packaging" / name,
                                 folder_ / name);
  }
  std::filesystem::path path() const { return folder_.path(); }
  std::string Read(const char* name) const { return folder_.Read(name); }

 private:
  TempFolder folder_;
};

// qznotesd serving a private bus; its stderr goes to a file.
class Daemon {
 public:
  Daemon(const PrivateBus& bus, const std::filesystem::path& folder,
         std::vector<std::string> extra = {})
      : log_(bus.folder() / ("qznotesd." + std::to_string(++count_) + ".log")) {
    std::vector<std::string> args = {QZ_DAEMON_PATH, "--address", bus.address(), "--folder",
                                     folder.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, QZ_DAEMON_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid_ < 0) throw std::runtime_error("cannot start qznotesd");
    // The name appears once the daemon serves; the loop is bounded.
    BusConnection probe = bus.Connect();
    for (int i = 0; i < 500 && !HasOwner(probe.get()); ++i) std::this_thread::sleep_for(20ms);
  }
  ~Daemon() {
    if (pid_ > 0 && WaitExit(0ms) == kRunning) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  static constexpr int kRunning = -1000;
  // The exit status once the daemon ended within `limit`; kRunning otherwise.
  int WaitExit(std::chrono::milliseconds limit) {
    if (exit_status_ != kRunning) return exit_status_;
    auto give_up = std::chrono::steady_clock::now() + limit;
    do {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        return exit_status_;
      }
      std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < give_up);
    return kRunning;
  }
  void Signal(int signal) { kill(pid_, signal); }
  std::string Log() const {
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static bool HasOwner(GDBusConnection* connection) {
    VariantPtr reply(g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", kName), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
        2000, nullptr, nullptr));
    gboolean has = FALSE;
    if (reply) g_variant_get(reply.get(), "(b)", &has);
    return has;
  }

 private:
  static inline int count_ = 0;
  std::filesystem::path log_;
  pid_t pid_ = -1;
  int exit_status_ = kRunning;
};

// Runs `context` until `done` holds or `limit` has passed, waking at least
// every 50 ms to look.
template <typename Done>
void IterateUntil(GMainContext* context, Done done, std::chrono::milliseconds limit) {
  auto give_up = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < give_up) {
    GSource* tick = g_timeout_source_new(50);
    g_source_set_callback(
        tick, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(tick, context);
    g_main_context_iteration(context, TRUE);
    g_source_destroy(tick);
    g_source_unref(tick);
  }
}

// The answer of one call: the reply, or the D-Bus error's name and message.
struct Answer {
  VariantPtr value;
  std::string error;  // e.g. "org.qznotes.QzNotes.Error.E13"
  std::string message;
  bool ok() const { return value != nullptr; }
  std::string Print() const { return value ? PrintedVariant(value.get()) : error + ": " + message; }
  // The string of a reply that is one variant holding a string (as the
  // gateway test answers); empty for any other reply.
  std::string Text() const {
    if (!value || !g_variant_is_of_type(value.get(), G_VARIANT_TYPE("(v)"))) return {};
    VariantPtr boxed(g_variant_get_child_value(value.get(), 0));
    VariantPtr inner(g_variant_get_variant(boxed.get()));
    if (!g_variant_is_of_type(inner.get(), G_VARIANT_TYPE_STRING)) return {};
    return g_variant_get_string(inner.get(), nullptr);
  }
};

// A client of the daemon with a callback object at /callback.
class Client {
 public:
  explicit Client(const PrivateBus& bus)
      : connection_(bus.Connect()), context_(g_main_context_new()) {
    static const char* xml =
        "<node><interface name='org.qznotes.QzNotes.Callback'><method name='gsubAgentCallBack'>"
        "<arg name='testId' type='s' direction='in'/><arg name='message' type='s' direction='in'/>"
        "</method><method name='CallBack'>"
        "<arg name='testId' type='s' direction='in'/><arg name='message' type='s' direction='in'/>"
        "</method></interface></node>";
    node_ = g_dbus_node_info_new_for_xml(xml, nullptr);
    static const GDBusInterfaceVTable vtable_ = {
        [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* params,
           GDBusMethodInvocation* invocation, gpointer self) {
          const char* id = nullptr;
          const char* message = nullptr;
          g_variant_get(params, "(&s&s)", &id, &message);
          static_cast<Client*>(self)->callbacks_.push_back({id, message});
          g_dbus_method_invocation_return_value(invocation, nullptr);
        },
        nullptr,
        nullptr,
        {}};
    vtable = &vtable_;
    g_main_context_push_thread_default(context_);
    registration_ = g_dbus_connection_register_object(
        connection_.get(), "/callback", node_->interfaces[0], vtable, this, nullptr, nullptr);
    g_main_context_pop_thread_default(context_);
  }

  // Plays the callback service of this machine: "qzCallback.cService" with
  // its object at "/"; its CallBack calls are recorded like the others.
  bool OwnCallbackService() {
    g_main_context_push_thread_default(context_);
    service_registration_ = g_dbus_connection_register_object(
        connection_.get(), "/", node_->interfaces[0], vtable, this, nullptr, nullptr);
    g_main_context_pop_thread_default(context_);
    VariantPtr reply(g_dbus_connection_call_sync(
        connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", "qzCallback.cService", 4u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr));
    guint32 result = 0;
    if (reply) g_variant_get(reply.get(), "(u)", &result);
    return result == 1;
  }
  ~Client() {
    if (connection_) g_dbus_connection_unregister_object(connection_.get(), registration_);
    if (connection_ && service_registration_)
      g_dbus_connection_unregister_object(connection_.get(), service_registration_);
    g_dbus_node_info_unref(node_);
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_unref(context_);
  }

  Answer Call(const std::string& path, const char* interface, const char* method, GVariant* params,
              int timeout_ms = 10000) {
    GError* error = nullptr;
    Answer answer;
    answer.value.reset(g_dbus_connection_call_sync(
        connection_.get(), kName, path.c_str(), interface, method, params, nullptr,
        G_DBUS_CALL_FLAGS_NONE, timeout_ms, nullptr, &error));
    if (error) {
      gchar* remote = g_dbus_error_get_remote_error(error);
      answer.error = remote ? remote : "";
      g_free(remote);
      g_dbus_error_strip_remote_error(error);
      answer.message = error->message;
      g_error_free(error);
    }
    return answer;
  }

  std::string Create(const char* progid = "QzNotes.cNotify") {
    Answer a = Call(kRoot, "org.qznotes.QzNotes.ClassFactory", "CreateObject",
                    g_variant_new("(s)", progid));
    if (!a.ok()) return {};
    const char* path = nullptr;
    g_variant_get(a.value.get(), "(&o)", &path);
    return path;
  }

  // Callbacks received so far, after processing what has arrived for up to `limit`.
  const std::vector<std::pair<std::string, std::string>>& WaitForCallbacks(
      size_t count, std::chrono::milliseconds limit) {
    IterateUntil(
        context_, [&] { return callbacks_.size() >= count; }, limit);
    return callbacks_;
  }

  void Disconnect() {
    g_dbus_connection_unregister_object(connection_.get(), registration_);
    g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr);
    connection_.reset();
  }
  GDBusConnection* connection() const { return connection_.get(); }

 private:
  BusConnection connection_;
  GMainContext* context_;
  GDBusNodeInfo* node_ = nullptr;
  guint registration_ = 0;
  guint service_registration_ = 0;
  const GDBusInterfaceVTable* vtable = nullptr;
  std::vector<std::pair<std::string, std::string>> callbacks_;
};

// Request arrays: one group of one message to one pager number.
inline GVariant* OneGroup(const char* text) { return g_variant_new_parsed("<[<[<%s>]>]>", text); }
inline GVariant* OnePager(const char* number) {
  return g_variant_new_parsed("<[<[<[<%s>]>]>]>", number);
}
inline GVariant* Marker(uint8_t marker) {
  return g_variant_new_variant(g_variant_new_byte(marker));
}

// A one-message request to pager "1", called back at the client's /callback.
inline Answer SendRequest(Client& client, const std::string& path, const char* test_id,
                          const char* text = "x") {
  return client.Call(path, kNotify, "SendMessageCallBack",
                     g_variant_new("(@v@v@v@v(so)s)", OneGroup(text), Marker(0), OnePager("1"),
                                   Marker(0), "", "/callback", test_id));
}

}  // namespace qz::testing
