// qznotesd: the QzNotes notification server on D-Bus.
//
//   qznotesd [--system | --address ADDRESS] [--folder DIR] [--linger SECONDS] [--apartments N]
//            [--seat=auto|present|absent]
#include <gio/gio.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "automation/component_registry.h"
#include "components/callback_service.h"
#include "components/smtp_mail.h"
#include "config/program_folder.h"
#include "platform/seat_override.h"
#include "server/bus_server.h"
#include "server/server_log.h"

namespace {

constexpr const char* kUsage =
    "usage: qznotesd [--system | --address ADDRESS] [--folder DIR] [--linger SECONDS] [--apartments N]\n"
    "                [--seat=auto|present|absent]\n"
    "  --system         serve the system bus (default: the session bus)\n"
    "  --address ADDR   serve the message bus at ADDR (tests)\n"
    "  --folder DIR     program folder with the settings files and the log\n"
    "  --linger S       seconds to stay after the last object is gone (default 5)\n"
    "  --apartments N   at most N apartment threads (default 4)\n"
    "  --seat=MODE      whether a user counts as logged on at the console, which the mail\n"
    "                   profile route needs: auto asks systemd-logind (default), present\n"
    "                   and absent answer without asking (headless servers, tests)\n";

bool ParseCount(const char* text, unsigned long max, unsigned long& out) {
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  if (!*text || *end || value > max) return false;
  out = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  qz::ServerOptions options;
  std::string address;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view a = args[i];
    bool has_value = i + 1 < args.size();
    unsigned long n = 0;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--system") {
      options.system_bus = true;
    } else if (a == "--address" && has_value) {
      address = args[++i];
    } else if (a == "--folder" && has_value) {
      ++i;  // read below, with the rest of the folder rules
    } else if (a.starts_with("--folder=")) {
    } else if (a == "--linger" && has_value && ParseCount(argv[i + 2], 86400, n)) {
      options.linger_seconds = static_cast<unsigned>(n);
      ++i;
    } else if (a.starts_with("--seat=") && qz::ParseSeatMode(a.substr(7))) {
      options.seat = *qz::ParseSeatMode(a.substr(7));
    } else if (a == "--seat" && has_value && qz::ParseSeatMode(args[i + 1])) {
      options.seat = *qz::ParseSeatMode(args[++i]);
    } else if (a == "--apartments" && has_value && ParseCount(argv[i + 2], 256, n) && n > 0) {
      options.apartments = n;
      ++i;
    } else {
      std::fprintf(stderr, "qznotesd: bad argument '%.*s'\n%s", static_cast<int>(a.size()), a.data(), kUsage);
      return 2;
    }
  }
  options.folder = qz::ProgramFolder(args);

  GError* error = nullptr;
  GDBusConnection* connection =
      !address.empty()
          ? g_dbus_connection_new_for_address_sync(
                address.c_str(),
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, &error)
          : g_bus_get_sync(options.system_bus ? G_BUS_TYPE_SYSTEM : G_BUS_TYPE_SESSION, nullptr, &error);
  if (!connection) {
    qz::ServerLog(std::string("cannot connect to the bus: ") + error->message);
    g_error_free(error);
    return 1;
  }
  g_dbus_connection_set_exit_on_close(connection, FALSE);

  qz::ComponentRegistry components;
  qz::RegisterCallbackService(components, {connection, options.system_bus, options.folder});
  qz::RegisterSmtpMail(components);
  int status;
  {
    qz::BusServer server(connection, options, components);
    status = server.Run();
  }
  g_object_unref(connection);
  return status;
}
