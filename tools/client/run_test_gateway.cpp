#include <glib.h>

#include "client/exit_status.h"
#include "client/quoted_string.h"
#include "client/runners.h"
#include "client/server_object.h"
#include "client/test_gateway_answer.h"
#include "client/wire_markers.h"

namespace qz::client {

ExitStatus RunTestGateway(GDBusConnection* connection, const GlobalOptions& global,
                          const TestGatewayCommand& test, Console console) {
  ServerObject object(connection, global.destination);
  ErrorPtr error;
  if (!object.Create("cNotify", error)) return ReportFailure(error.get(), global, console);
  // The test waits for the gateway; the SNPP one alone may take its connect
  // limit plus a timeout of up to 32767 s, so by default there is no limit here.
  const int timeout_ms = test.timeout_seconds > 0 ? test.timeout_seconds * 1000 : G_MAXINT;
  VariantPtr reply(g_dbus_connection_call_sync(
      connection, global.destination.c_str(), object.path().c_str(), "org.qznotes.QzNotes._cNotify",
      "gvarTestGateway",
      g_variant_new("(ns)", static_cast<gint16>(test.index), test.number.c_str()), nullptr,
      G_DBUS_CALL_FLAGS_NONE, timeout_ms, nullptr, ErrorSlot(error)));
  if (!reply) return ReportFailure(error.get(), global, console);
  VariantPtr result(g_variant_get_child_value(reply.get(), 0));
  VariantPtr value = Unwrapped(result.get());
  if (!value || !g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING)) {
    ReportProblem(console, global.json, "answer", "gvarTestGateway answered no text");
    return kExitUsage;
  }
  const std::string answer = g_variant_get_string(value.get(), nullptr);
  if (global.json) {
    console.out << "{\"answer\":" << Quoted(answer) << "}\n";
  } else {
    console.out << AnswerLine(answer) << '\n';
  }
  return ExitForTestAnswer(test.index, answer);
}

}  // namespace qz::client
