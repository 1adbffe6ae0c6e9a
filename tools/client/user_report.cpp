#include "client/user_report.h"

#include <gio/gio.h>

#include "client/call_failure.h"
#include "client/quoted_string.h"
#include "contract/contract.h"
#include "platform/holders.h"

namespace qz::client {
namespace {

std::string ErrorJson(std::string_view kind, std::string_view code, std::string_view message,
                      std::string_view hint) {
  std::string line = "{\"error\":{\"kind\":" + Quoted(kind);
  if (!code.empty()) line += ",\"code\":" + Quoted(code);
  line += ",\"message\":" + Quoted(message);
  if (!hint.empty()) line += ",\"hint\":" + Quoted(hint);
  return line + "}}";
}

// The bus options that reach the same bus again, for a command line to copy.
std::string BusWords(const GlobalOptions& global) {
  switch (global.bus) {
    case BusKind::kSession:
      return "";
    case BusKind::kSystem:
      return " --system";
    case BusKind::kAddress:
      return " --address " + global.address;
  }
  return "";
}

bool NameNotServed(const GError* error) {
  CharPtr remote(g_dbus_error_get_remote_error(error));
  if (!remote) return false;
  const std::string_view name(remote.get());
  return name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
         name == "org.freedesktop.DBus.Error.NameHasNoOwner";
}

// The bus itself turned the call away by its policy: dbus-daemon says
// "Rejected send message", dbus-broker "Sender is not authorized to send
// message". The server's own refusals (an SMTP server not allowed) carry the
// same error name.
bool PolicyRefused(const GError* error) {
  CharPtr remote(g_dbus_error_get_remote_error(error));
  if (!remote || std::string_view(remote.get()) != "org.freedesktop.DBus.Error.AccessDenied")
    return false;
  const std::string_view text(error->message);
  return text.find("Rejected send message") != std::string_view::npos ||
         text.find("Sender is not authorized to send message") != std::string_view::npos;
}

// No bus at the address, or no session bus at all: a failure to connect
// rather than an answer of a bus.
bool NoBus(const GError* error) {
  if (g_dbus_error_is_remote_error(error)) return false;
  return error->domain == G_IO_ERROR || error->domain == G_DBUS_ERROR ||
         error->domain == G_SPAWN_ERROR;
}

}  // namespace

void ReportUsage(Console console, bool json, std::string_view message, std::string_view hint) {
  if (json) {
    console.err << ErrorJson("usage", "", message, hint) << '\n';
    return;
  }
  console.err << "qznotes: " << message << '\n';
  if (!hint.empty()) console.err << '(' << hint << ")\n";
}

void ReportProblem(Console console, bool json, std::string_view kind, std::string_view message) {
  if (json) {
    console.err << ErrorJson(kind, "", message, "") << '\n';
  } else {
    console.err << "qznotes: " << message << '\n';
  }
}

void ReportWarning(Console console, bool json, std::string_view message) {
  if (json) {
    console.err << "{\"warning\":" << Quoted(message) << "}\n";
  } else {
    console.err << "qznotes: warning: " << message << '\n';
  }
}

std::string StartHint(const GError* error, const GlobalOptions& global) {
  if (!error) return "";
  const std::string bus = BusWords(global);
  if (NameNotServed(error)) {
    if (global.destination != kBusName)
      return "no server owns " + global.destination + " on this bus; qznotesd serves " +
             std::string(kBusName) + " (--dest names another server)";
    return "no server owns " + global.destination + " on this bus. Start one: `qznotesd" + bus +
           " &`; or install qznotesd's D-Bus service file so the bus starts it on demand "
           "(bus activation, see README \"Activation\"); or run both on a private bus: "
           "`dbus-run-session -- sh -c 'qznotesd --linger 30 & gdbus wait --session -t 10 "
           "org.qznotes.QzNotes; qznotes ...'`";
  }
  if (PolicyRefused(error))
    return "the bus lets only root and members of the group qznotes make this call; an "
           "administrator adds you with `usermod -aG qznotes USER`, and it counts from your "
           "next login";
  if (NoBus(error)) {
    return "no message bus answers there. For a private one: `dbus-run-session -- sh -c "
           "'qznotesd --linger 30 & gdbus wait --session -t 10 org.qznotes.QzNotes; qznotes ...'`; "
           "for the system bus: --system with "
           "`systemctl start qznotesd`";
  }
  return "";
}

ExitStatus ReportFailure(const GError* error, const GlobalOptions& global, Console console) {
  const CallFailure failure = DescribeFailure(error);
  const std::string hint = failure.raised_by_server ? "" : StartHint(error, global);
  if (global.json) {
    console.err << ErrorJson(failure.raised_by_server ? "server" : "bus", failure.code,
                             failure.message, hint)
                << '\n';
  } else {
    console.err << FailureLine(failure) << '\n';
    if (!hint.empty()) console.err << "qznotes: hint: " << hint << '\n';
  }
  return ExitForFailure(failure);
}

}  // namespace qz::client
