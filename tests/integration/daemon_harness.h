// The real daemon on a private bus, and a client connection that calls it
// and receives its callbacks. Used from the test's own thread.
#pragma once

#include <gio/gio.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/holders.h"  // VariantPtr
#include "support/child_process.h"
#include "support/private_bus.h"
#include "support/temp_folder.h"
#include "support/variant_text.h"

namespace qz::testing {

using namespace std::chrono_literals;

// The one number the bus daemon answers `method` with (of reply `type`);
// 0 when it did not answer.
inline guint32 AskBus(GDBusConnection* connection, const char* method, GVariant* args,
                      const char* type, int timeout_ms) {
  VariantPtr reply(g_dbus_connection_call_sync(
      connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method,
      args, G_VARIANT_TYPE(type), G_DBUS_CALL_FLAGS_NONE, timeout_ms, nullptr, nullptr));
  guint32 value = 0;  // a gboolean is as wide
  if (reply) g_variant_get(reply.get(), type, &value);
  return value;
}

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
  // Pages through the SNPP server at 127.0.0.1:`port` (gateway 1) instead
  // of the samples' pager terminal; a run waits `timeout` seconds per reply.
  void UseSnpp(int port, int timeout) const {
    std::string ini = Read("QzNotes.ini");
    if (const size_t at = ini.find("\nIndex=0"); at != std::string::npos) ini[at + 7] = '1';
    std::ofstream(path() / "QzNotes.ini", std::ios::binary) << ini;
    std::ofstream(path() / "QzSNPP.ini", std::ios::binary)
        << "[SNPP Paging Service]\nTCPPort=" << port << "\nHostName=127.0.0.1\nTimeout=" << timeout
        << "\n";
  }

 private:
  TempFolder folder_;
};

// qznotesd serving a private bus; its output goes to a file. Killed at the end.
// `environment` ("NAME=value") is added to the daemon's alone.
class Daemon {
 public:
  static constexpr int kRunning = ChildProcess::kRunning;

  Daemon(const PrivateBus& bus, const std::filesystem::path& folder,
         std::vector<std::string> extra = {}, std::vector<std::string> environment = {})
      : process_(Args(bus, folder, std::move(extra), std::move(environment)), NewLog(bus)) {
    // The name appears once the daemon serves.
    BusConnection probe = bus.Connect();
    Eventually([&] { return HasOwner(probe.get()); }, 10s);
  }
  ~Daemon() { process_.Signal(SIGKILL); }

  // The exit status once the daemon ended within `limit`; kRunning otherwise.
  int WaitExit(std::chrono::milliseconds limit) { return process_.WaitExit(limit); }
  void Signal(int signal) { process_.Signal(signal); }
  std::string Log() const { return process_.Output(); }
  // Waits (bounded) until the daemon's output holds `text`.
  bool Logged(std::string_view text, std::chrono::milliseconds limit) const {
    return process_.WaitForOutput(text, limit);
  }

  static bool HasOwner(GDBusConnection* connection) {
    return AskBus(connection, "NameHasOwner", g_variant_new("(s)", kName), "(b)", 2000) == TRUE;
  }

 private:
  static std::vector<std::string> Args(const PrivateBus& bus, const std::filesystem::path& folder,
                                       std::vector<std::string> extra,
                                       std::vector<std::string> environment) {
    extra.insert(extra.begin(), {QZ_DAEMON_PATH, "--address", bus.address(), "--folder", folder});
    // env(1) execs the daemon in the same process, so signals still reach it.
    if (!environment.empty()) environment.insert(environment.begin(), "/usr/bin/env");
    extra.insert(extra.begin(), environment.begin(), environment.end());
    return extra;
  }
  static std::string NewLog(const PrivateBus& bus) {
    std::string path = (bus.folder() / "qznotesd.XXXXXX").string();
    close(mkstemp(path.data()));
    return path;
  }

  ChildProcess process_;
};

// The answer of one call: the reply, or the D-Bus error's name and message.
struct Answer {
  VariantPtr value;
  std::string error;  // e.g. "org.qznotes.QzNotes.Error.E13"
  std::string message;
  // Takes the reply, or the error (freed here), of a finished call.
  static Answer Of(GVariant* reply, GError* error) {
    Answer answer{VariantPtr(reply), {}, {}};
    if (!error) return answer;
    gchar* remote = g_dbus_error_get_remote_error(error);
    answer.error = remote ? remote : "";
    g_free(remote);
    g_dbus_error_strip_remote_error(error);
    answer.message = error->message;
    g_error_free(error);
    return answer;
  }
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
    Register("/callback");
  }
  ~Client() {
    for (guint registration : registrations_)
      if (connection_) g_dbus_connection_unregister_object(connection_.get(), registration);
    g_dbus_node_info_unref(node_);
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_unref(context_);
  }

  // Plays the callback service of this machine: "qzCallback.cService" with
  // its object at "/"; its CallBack calls are recorded like the others.
  bool OwnCallbackService() {
    Register("/");
    return OwnName("qzCallback.cService");
  }
  // True once this connection is the primary owner of `name`.
  bool OwnName(const char* name) {
    return AskBus(connection_.get(), "RequestName", g_variant_new("(su)", name, 4u), "(u)", 5000) ==
           1;
  }

  Answer Call(const std::string& path, const char* interface, const char* method, GVariant* params,
              int timeout_ms = 10000) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(connection_.get(), kName, path.c_str(), interface,
                                                  method, params, nullptr, G_DBUS_CALL_FLAGS_NONE,
                                                  timeout_ms, nullptr, &error);
    return Answer::Of(reply, error);
  }

  std::string Create(const char* progid = "QzNotes.cNotify") {
    Answer a = Call(kRoot, "org.qznotes.QzNotes.ClassFactory", "CreateObject",
                    g_variant_new("(s)", progid));
    if (!a.ok()) return {};
    const char* path = nullptr;
    g_variant_get(a.value.get(), "(&o)", &path);
    return path;
  }

  // Callbacks received so far, after processing what has arrived for up to
  // `limit` (waking at least every 50 ms to look).
  const std::vector<std::pair<std::string, std::string>>& WaitForCallbacks(
      size_t count, std::chrono::milliseconds limit) {
    const auto give_up = std::chrono::steady_clock::now() + limit;
    while (callbacks_.size() < count && std::chrono::steady_clock::now() < give_up) {
      GSource* tick = g_timeout_source_new(50);
      g_source_set_callback(
          tick, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
      g_source_attach(tick, context_);
      g_main_context_iteration(context_, TRUE);
      g_source_destroy(tick);
      g_source_unref(tick);
    }
    return callbacks_;
  }

  void Disconnect() {
    for (guint registration : std::exchange(registrations_, {}))
      g_dbus_connection_unregister_object(connection_.get(), registration);
    g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr);
    connection_.reset();
  }
  GDBusConnection* connection() const { return connection_.get(); }
  std::string UniqueName() const { return g_dbus_connection_get_unique_name(connection_.get()); }

 private:
  // Records every call of gsubAgentCallBack or CallBack at `path`.
  void Register(const char* path) {
    static const GDBusInterfaceVTable vtable = {&Client::OnCall, nullptr, nullptr, {}};
    g_main_context_push_thread_default(context_);
    registrations_.push_back(g_dbus_connection_register_object(
        connection_.get(), path, node_->interfaces[0], &vtable, this, nullptr, nullptr));
    g_main_context_pop_thread_default(context_);
  }

  static void OnCall(GDBusConnection*, const char*, const char*, const char*, const char*,
                     GVariant* params, GDBusMethodInvocation* invocation, gpointer self) {
    const char *id = nullptr, *message = nullptr;
    g_variant_get(params, "(&s&s)", &id, &message);
    static_cast<Client*>(self)->callbacks_.push_back({id, message});
    g_dbus_method_invocation_return_value(invocation, nullptr);
  }

  BusConnection connection_;
  GMainContext* context_;
  GDBusNodeInfo* node_ = g_dbus_node_info_new_for_xml(
      "<node><interface name='org.qznotes.QzNotes.Callback'>"
      "<method name='gsubAgentCallBack'><arg type='s'/><arg type='s'/></method>"
      "<method name='CallBack'><arg type='s'/><arg type='s'/></method></interface></node>",
      nullptr);
  std::vector<guint> registrations_;
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

// SendMessageCallBack, called back at /callback of `bus_name` ("": the caller).
inline Answer SendMessage(Client& client, const std::string& path, const char* test_id,
                          GVariant* groups, GVariant* emails, GVariant* pagers, GVariant* any,
                          const char* bus_name = "") {
  return client.Call(path, kNotify, "SendMessageCallBack",
                     g_variant_new("(@v@v@v@v(so)s)", groups, emails, pagers, any, bus_name,
                                   "/callback", test_id));
}
// A one-message request to pager "1", called back at the client's /callback.
inline Answer SendRequest(Client& client, const std::string& path, const char* test_id,
                          const char* text = "x") {
  return SendMessage(client, path, test_id, OneGroup(text), Marker(0), OnePager("1"), Marker(0));
}

// The same, called back by the callback component at `host`: over HTTP, or
// the callback service of that machine.
inline Answer SendRequestEx(Client& client, const std::string& path, const std::string& test_id,
                            const std::string& host) {
  return client.Call(
      path, kNotify, "SendMessageCallBackEx",
      g_variant_new("(@v@v@v@v@vs)", OneGroup("x"), Marker(0), OnePager("1"), Marker(0),
                    g_variant_new_variant(g_variant_new_string(host.c_str())), test_id.c_str()));
}

}  // namespace qz::testing
