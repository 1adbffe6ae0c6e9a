// Webhook bodies as a hostile or broken sender might post them: the parser
// answers a payload or a fault with a path, and every template, the
// common annotations' own text included, renders within its bound.
#include <cstdint>
#include <string_view>

#include "http/alert_template.h"
#include "http/alertmanager_payload.h"
#include "http/alertmanager_receiver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const qz::ParsedPayload parsed = qz::ParseAlertmanagerPayload(body);
  if (!parsed.payload) {
    if (!parsed.fault.path.starts_with("$")) __builtin_trap();
    return 0;
  }
  const qz::AlertmanagerPayload& payload = *parsed.payload;
  qz::AlertRoute route;
  route.emails = {"a@example.org"};
  route.pagers = {"1001"};
  route.subject = "{{ .Status }} {{ .CommonLabels.alertname }}";
  route.text = "{{ .Labels.instance }} {{ .Annotations.summary }} {{ .StartsAt }}";
  for (const auto& [name, text] : payload.common_annotations) route.text += text;
  const qz::NotificationRequest request = qz::AlertRequest("fuzz", route, payload);
  if (request.groups.size() != payload.alerts.size()) __builtin_trap();
  for (const qz::NotificationGroup& group : request.groups)
    if (group.messages.at(0).size() > qz::kMaxRenderedAlertText) __builtin_trap();
  if (qz::AlertRepeatKey("fuzz", payload).size() != 64) __builtin_trap();
  return 0;
}
