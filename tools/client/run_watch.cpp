// `qznotes watch`: prints the server's Delivered signals as they come, one
// delivery a line (JSON: one object a line), until interrupted or --count
// signals were printed.
#include <glib-unix.h>
#include <glib.h>

#include <string>

#include "client/quoted_string.h"
#include "client/runners.h"
#include "client/server_views.h"
#include "contract/contract.h"
#include "platform/holders.h"

namespace qz::client {
namespace {

struct Watch {
  Console console;
  bool json = false;
  int remaining = 0;  // 0: no limit
  GMainLoop* loop = nullptr;
  bool bus_closed = false;
};

// Texts from the bus are printed as they are unless they could drive the
// terminal; those are quoted with their control characters escaped.
std::string Plain(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7f) return Quoted(text);
  return std::string(text);
}

void Print(Watch& watch, GVariant* parameters) {
  const char* test_id = nullptr;
  const char* outcome = nullptr;
  GVariantIter* raw_details = nullptr;
  g_variant_get(parameters, "(&s&sas)", &test_id, &outcome, &raw_details);
  VariantIterPtr details(raw_details);
  std::vector<std::string> lines;
  const char* detail = nullptr;
  while (g_variant_iter_next(details.get(), "&s", &detail)) lines.emplace_back(detail);
  watch.console.out << DeliveryText(watch.json, test_id, outcome, lines) << std::flush;
}

void OnDelivered(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                 GVariant* parameters, gpointer data) {
  auto& watch = *static_cast<Watch*>(data);
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssas)"))) return;
  if (watch.remaining < 0) return;  // the count is reached; the loop is ending
  Print(watch, parameters);
  if (watch.remaining > 0 && --watch.remaining == 0) {
    watch.remaining = -1;
    g_main_loop_quit(watch.loop);
  }
}

gboolean OnInterrupt(gpointer data) {
  g_main_loop_quit(static_cast<Watch*>(data)->loop);
  return G_SOURCE_CONTINUE;
}

void OnClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
  auto& watch = *static_cast<Watch*>(data);
  watch.bus_closed = true;
  g_main_loop_quit(watch.loop);
}

}  // namespace

std::string DeliveryText(bool json, std::string_view test_id, std::string_view outcome,
                         const std::vector<std::string>& details) {
  std::string text;
  if (json) {
    text = "{\"testId\":" + Quoted(test_id) + ",\"outcome\":" + Quoted(outcome) + ",\"details\":[";
    for (size_t k = 0; k < details.size(); ++k) {
      if (k > 0) text.push_back(',');
      AppendQuoted(text, details[k]);
    }
    return text + "]}\n";
  }
  text = Plain(test_id) + ": " + Plain(outcome) + "\n";
  for (const std::string& detail : details) text.append("  ").append(Plain(detail)).append("\n");
  return text;
}

ExitStatus RunWatch(GDBusConnection* connection, const GlobalOptions& global,
                    const WatchCommand& command, Console console) {
  MainLoopPtr loop(g_main_loop_new(nullptr, FALSE));
  Watch watch{console, global.json, command.count, loop.get()};
  g_dbus_connection_set_exit_on_close(connection, FALSE);
  const gulong closed = g_signal_connect(connection, "closed", G_CALLBACK(OnClosed), &watch);
  // Only the server's own signals: another client may not speak for it.
  const guint subscription = g_dbus_connection_signal_subscribe(
      connection, global.destination.c_str(), kMonitorInterface, kDeliveredSignal, kFactoryPath,
      nullptr, G_DBUS_SIGNAL_FLAGS_NONE, OnDelivered, &watch, nullptr);
  SourcePtr interrupt(g_unix_signal_source_new(SIGINT));
  SourcePtr terminate(g_unix_signal_source_new(SIGTERM));
  for (GSource* source : {interrupt.get(), terminate.get()}) {
    g_source_set_callback(source, OnInterrupt, &watch, nullptr);
    g_source_attach(source, nullptr);
  }
  // The bus handles a connection's messages in order: once it answered this,
  // the match rule is in place and no later delivery can be missed.
  ErrorPtr error;
  VariantPtr ping(g_dbus_connection_call_sync(
      connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId",
      nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, ErrorSlot(error)));
  ExitStatus status = kExitOk;
  if (!ping) {
    status = ReportFailure(error.get(), global, console);
  } else {
    console.err << "qznotes: watching deliveries of " << global.destination << " (Ctrl+C ends)\n"
                << std::flush;
    g_main_loop_run(loop.get());
    if (watch.bus_closed) {
      console.err << "qznotes: the bus connection closed\n";
      status = kExitUsage;
    }
  }
  g_dbus_connection_signal_unsubscribe(connection, subscription);
  g_signal_handler_disconnect(connection, closed);
  return status;
}

}  // namespace qz::client
