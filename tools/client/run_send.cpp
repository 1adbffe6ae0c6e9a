#include <glib.h>

#include "client/callback_listener.h"
#include "client/quoted_string.h"
#include "client/request_arrays.h"
#include "client/runners.h"
#include "client/send_advice.h"
#include "client/server_object.h"
#include "client/value_json.h"
#include "client/value_text.h"

namespace qz::client {
namespace {

std::string NewTestId() {
  CharPtr uuid(g_uuid_string_random());
  return std::string("qznotes-") + uuid.get();
}

// The request call's parameters; the fifth is the party to call back.
GVariant* RequestParameters(const RequestArrays& a, GVariant* notify, const std::string& test_id) {
  GVariant* items[] = {a.notes.get(), a.email.get(), a.pager.get(),
                       a.any.get(),   notify,        g_variant_new_string(test_id.c_str())};
  return g_variant_new_tuple(items, G_N_ELEMENTS(items));
}

void PrintAnswer(Console console, bool json, GVariant* answer, const std::string& test_id,
                 const std::string* callback) {
  if (!json) {
    console.out << (callback ? *callback : FormatText(answer)) << '\n';
    return;
  }
  std::string line = "{\"answer\":" + FormatJson(answer) + ",\"testId\":" + Quoted(test_id);
  if (callback) line += ",\"callback\":" + Quoted(*callback);
  console.out << line << "}\n";
}

// The callback says only "See QzNotesLog.log"; the server's trace of the run
// says why, step by step.
void ReportFailedSteps(CallbackListener& listener, Console console, bool json) {
  constexpr int kDetailsWaitMs = 2000;
  const std::optional<std::vector<std::string>> details = listener.Details(kDetailsWaitMs);
  if (!details) return;
  for (const std::string& line : *details) {
    if (line.ends_with(": delivered")) continue;
    bool plain = true;
    for (unsigned char c : line) plain = plain && c >= 0x20 && c != 0x7f;
    ReportProblem(console, json, "step", plain ? line : Quoted(line));
  }
}

}  // namespace

ExitStatus RunSend(GDBusConnection* connection, const GlobalOptions& global,
                   const SendCommand& send, Console console) {
  for (const std::string& w : SendWarnings(send)) ReportWarning(console, global.json, w);
  ErrorPtr error;
  CallbackListener listener(connection);
  if (send.wait && !listener.Export(error)) return ReportFailure(error.get(), global, console);

  ServerObject object(connection, global.destination);
  if (!object.Create("cNotify", error)) return ReportFailure(error.get(), global, console);

  const std::string test_id = send.test_id.empty() ? NewTestId() : send.test_id;
  const RequestArrays arrays = BuildRequestArrays(send);
  VariantPtr reply;
  if (!send.callback_host.empty()) {
    GVariant* host = g_variant_new_variant(g_variant_new_string(send.callback_host.c_str()));
    reply = object.Call(kNotifyInterface, "SendMessageCallBackEx",
                        RequestParameters(arrays, host, test_id), error);
  } else {
    // An empty bus name means this very connection; "/" means no object.
    const std::string path = send.wait ? std::string(CallbackListener::kPath) : "/";
    listener.Expect(test_id);
    if (send.wait) listener.WatchDetails(global.destination, object.path());
    reply = object.Call(kNotifyInterface, "SendMessageCallBack",
                        RequestParameters(arrays, g_variant_new("(so)", "", path.c_str()), test_id),
                        error);
  }
  if (!reply) return ReportFailure(error.get(), global, console);
  VariantPtr answer(g_variant_get_child_value(reply.get(), 0));
  const ExitStatus accepted = ExitForAnswer(answer.get());

  if (!send.wait || accepted != kExitOk) {
    PrintAnswer(console, global.json, answer.get(), test_id, nullptr);
    console.out.flush();
    // Releasing at once would cancel the request before the server's timer.
    if (accepted == kExitOk && send.hold_seconds > 0)
      g_usleep(static_cast<gulong>(send.hold_seconds) * G_USEC_PER_SEC);
    return accepted;
  }

  switch (listener.Wait(global.destination, send.timeout_seconds)) {
    case CallbackListener::Outcome::kDelivered:
      break;
    case CallbackListener::Outcome::kTimedOut:
      ReportProblem(console, global.json, "timeout",
                    "no callback within " + std::to_string(send.timeout_seconds) + " s (test id " +
                        test_id + ")");
      return kExitUsage;
    case CallbackListener::Outcome::kServerGone:
      ReportProblem(console, global.json, "bus",
                    global.destination + " left the bus before calling back");
      return kExitUsage;
  }
  PrintAnswer(console, global.json, answer.get(), test_id, &listener.message());
  const ExitStatus status = ExitForCallback(listener.message());
  if (status != kExitOk) ReportFailedSteps(listener, console, global.json);
  return status;
}

}  // namespace qz::client
