#include "http/alertmanager_receiver.h"

#include <glib.h>

#include <algorithm>
#include <vector>

#include "components/json_text.h"
#include "http/alert_template.h"
#include "platform/holders.h"

namespace qz {
namespace {

// An alert sent without a fingerprint (by hand, with curl) is known by
// its labels instead.
std::string AlertIdentity(const AlertmanagerAlert& alert) {
  if (!alert.fingerprint.empty()) return alert.fingerprint;
  std::string identity;
  for (const auto& [name, value] : alert.labels) identity += name + '\x1f' + value + '\x1e';
  return identity;
}

std::string Sha256Hex(std::string_view text) {
  std::unique_ptr<GChecksum, decltype(&g_checksum_free)> sum(g_checksum_new(G_CHECKSUM_SHA256),
                                                             &g_checksum_free);
  g_checksum_update(sum.get(), reinterpret_cast<const guchar*>(text.data()),
                    static_cast<gssize>(text.size()));
  return g_checksum_get_string(sum.get());
}

}  // namespace

bool AlertRepeats::Claim(const std::string& key, TimePoint now, TimePoint until) {
  std::lock_guard lock(mutex_);
  if (auto it = until_.find(key); it != until_.end()) {
    if (it->second > now) return false;
    it->second = until;
    return true;
  }
  if (until_.size() >= capacity_) {
    std::erase_if(until_, [now](const auto& entry) { return entry.second <= now; });
    if (until_.size() >= capacity_) {
      until_.erase(std::min_element(until_.begin(), until_.end(), [](const auto& a, const auto& b) {
        return a.second < b.second;
      }));
    }
  }
  until_.emplace(key, until);
  return true;
}

void AlertRepeats::Release(const std::string& key, TimePoint until) {
  std::lock_guard lock(mutex_);
  if (auto it = until_.find(key); it != until_.end() && it->second == until) until_.erase(it);
}

size_t AlertRepeats::size() const {
  std::lock_guard lock(mutex_);
  return until_.size();
}

std::string AlertRepeatKey(std::string_view route, const AlertmanagerPayload& payload) {
  std::vector<std::string> alerts;
  alerts.reserve(payload.alerts.size());
  for (const AlertmanagerAlert& alert : payload.alerts)
    alerts.push_back(AlertIdentity(alert) + '\x1f' + alert.status);
  std::sort(alerts.begin(), alerts.end());
  std::string text = std::string(route) + '\x1d' + payload.group_key + '\x1d';
  for (const std::string& alert : alerts) text += alert + '\x1e';
  return Sha256Hex(text);
}

NotificationRequest AlertRequest(std::string_view route_name, const AlertRoute& route,
                                 const AlertmanagerPayload& payload) {
  NotificationRequest request;
  request.test_id = "alertmanager/" + std::string(route_name);
  if (!route.subject.empty())
    request.subject = RenderAlertTemplate(route.subject, payload, nullptr);
  request.smtp_server = route.smtp_server;
  request.mail_from = route.mail_from;
  request.profile = route.profile;
  for (const AlertmanagerAlert& alert : payload.alerts) {
    request.groups.push_back(
        {{RenderAlertTemplate(route.text, payload, &alert)}, {route.emails}, {route.pagers}});
  }
  return request;
}

void AlertmanagerReceiver::Handle(ApiCall call, ApiReply reply) {
  const std::string route_name = call.captures.empty() ? std::string() : call.captures.front();
  const std::optional<AlertRoute> route = routes_.Find(route_name);
  if (!route) {
    return reply(Problem(404, "unknown route", "QzRoutes.ini has no section [" + route_name + "]"));
  }
  ParsedPayload parsed = ParseAlertmanagerPayload(call.body);
  if (!parsed.payload) {
    return reply(Problem(400, "malformed Alertmanager payload",
                         parsed.fault.path + " " + parsed.fault.detail, parsed.fault.path));
  }
  const AlertmanagerPayload& payload = *parsed.payload;
  if (payload.alerts.empty())
    return reply(Problem(400, "malformed Alertmanager payload", "$.alerts is empty", "$.alerts"));

  std::string key;
  AlertRepeats::TimePoint until{};
  if (route->repeat_window.count() > 0) {
    const AlertRepeats::TimePoint now = clock_();
    key = AlertRepeatKey(route_name, payload);
    until = now + route->repeat_window;
    if (!repeats_->Claim(key, now, until))
      return reply({200, "application/json", "{\"status\":\"repeat\"}\n"});
  }
  port_.Submit(AlertRequest(route_name, *route, payload), call.caller,
               [reply = std::move(reply), repeats = repeats_, key = std::move(key),
                until](SubmitResult result) {
                 if (result.status != 202) {
                   if (!key.empty()) repeats->Release(key, until);
                   return reply(Problem(result.status, "request refused", result.text));
                 }
                 reply({200, "application/json",
                        "{\"id\":" + JsonString(result.id) +
                            ",\"status\":" + JsonString(result.text) + "}\n"});
               });
}

}  // namespace qz
