#include "server/delivery_report.h"

#include <string>
#include <vector>

#include "contract/contract.h"
#include "diagnostics/log_text.h"
#include "server/server_log.h"

namespace qz {
namespace {

// A text that came over the bus is valid UTF-8 and goes out as it came, so
// monitors can match it; anything else is escaped rather than refused.
std::string WireText(std::string_view text) {
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
    return std::string(text);
  return EscapeControls(text);
}

}  // namespace

VariantPtr DeliveredSignalBody(const DispatchTrace& trace) {
  GVariantBuilder details;
  g_variant_builder_init(&details, G_VARIANT_TYPE("as"));
  for (const std::string& line : TraceDetails(trace))
    g_variant_builder_add(&details, "s", EscapeControls(line).c_str());
  return Own(g_variant_new("(ssas)", WireText(trace.test_id).c_str(),
                           WireText(trace.outcome).c_str(), &details));
}

void ReportDelivery(GDBusConnection* connection, std::string_view object,
                    const DispatchTrace& trace, std::string_view note, const std::string& owner,
                    const std::string& path) {
  if (trace.let_go) return;  // the daemon that finishes it reports it
  const std::string prefix = std::string(object) + ": request " + trace.test_id + ": ";
  for (const ChannelStep& step : trace.steps) {
    DispatchTrace one{trace.test_id, "", "", {step}, ""};
    ServerLog(prefix + TraceDetails(one).front(),
              {trace.test_id, object, step.channel, step.delivered ? "delivered" : "failed"});
  }
  if (trace.steps_not_kept > 0)
    ServerLog(prefix + NotKeptLine(trace), {trace.test_id, object, trace.gateway, ""});
  if (!trace.error.empty())
    ServerLog(prefix + "run raised: " + trace.error, {trace.test_id, object, trace.gateway, ""});
  ServerLog(prefix + trace.outcome + std::string(note),
            {trace.test_id, object, trace.gateway, trace.outcome});

  // Broadcast: on the system bus the policy lets only root and the group
  // qznotes receive it, since it names other users' requests and recipients.
  VariantPtr body = DeliveredSignalBody(trace);
  g_dbus_connection_emit_signal(connection, nullptr, kFactoryPath, kMonitorInterface,
                                kDeliveredSignal, body.get(), nullptr);
  // Addressed to the creator, on its object's path, which the policy leaves
  // open to everyone: a caller learns why its own request failed.
  if (!owner.empty() && !path.empty())
    g_dbus_connection_emit_signal(connection, owner.c_str(), path.c_str(), kMonitorInterface,
                                  kDeliveredSignal, body.get(), nullptr);
}

}  // namespace qz
