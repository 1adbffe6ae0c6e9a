#include <gtest/gtest.h>

#include "http/alert_template.h"
#include "http/alertmanager_payload.h"
#include "http/alertmanager_receiver.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

using namespace std::chrono_literals;

// The shape Alertmanager posts, with two alerts of one group.
constexpr std::string_view kWebhook = R"({"version":"4","groupKey":"{}:{alertname=\"Disk\"}",
 "truncatedAlerts":0,"status":"firing","receiver":"qz","groupLabels":{"alertname":"Disk"},
 "commonLabels":{"alertname":"Disk"},"commonAnnotations":{"summary":"disk full"},
 "externalURL":"http://am:9093","newField":[{"x":1}],"alerts":[
 {"status":"firing","labels":{"alertname":"Disk","host":"a"},"annotations":{},
  "startsAt":"2026-01-01T00:00:00Z","endsAt":"0001-01-01T00:00:00Z","fingerprint":"f1"},
 {"status":"resolved","labels":{"host":"b"},"fingerprint":"f2"}]})";

std::string Edited(std::string_view from, std::string_view to) {
  std::string body(kWebhook);
  return body.replace(body.find(from), from.size(), to);
}

TEST(AlertmanagerPayload, WrongTypesAndMissingFieldsAreNamedByTheirPath) {
  const std::pair<std::string, std::string> cases[] = {
      {std::string(kWebhook), ""},
      {Edited(R"("truncatedAlerts":0)", R"("truncatedAlerts":-1)"), "$.truncatedAlerts"},
      {Edited(R"("version":"4",)", ""), "$.version"},
      {Edited(R"("status":"firing","rec)", R"("status":"ok","rec)"), "$.status"},
      {Edited(R"("fingerprint":"f2")", R"("fingerprint":null,"status":3)"), "$.alerts[1].status"},
      {R"({"version":"4","groupKey":"","status":"firing","alerts":{}})", "$.alerts"},
      {"{\"version\":", "$"},
      {Edited(R"([{"x":1}])", std::string(40, '[') + std::string(40, ']')), "$"},  // too deep
  };
  for (const auto& [body, path] : cases) {
    const ParsedPayload parsed = ParseAlertmanagerPayload(body);
    EXPECT_EQ(parsed.payload.has_value(), path.empty()) << body;
    EXPECT_EQ(parsed.fault.path, path) << parsed.fault.detail;
  }
}

TEST(AlertTemplate, KnownFieldsRenderUnknownTextStaysAndOutputIsBounded) {
  const AlertmanagerPayload payload = *ParseAlertmanagerPayload(kWebhook).payload;
  const AlertmanagerAlert& resolved = payload.alerts[1];
  const std::tuple<std::string, const AlertmanagerAlert*, std::string> cases[] = {
      {"{{ .Status }} {{.CommonLabels.alertname}}: {{ .CommonAnnotations.summary }} "
       "{{ .Receiver }} {{ .ExternalURL }}",
       nullptr, "firing Disk: disk full qz http://am:9093"},
      {"{{ .Status }} {{ .Labels.host }} {{ .Fingerprint }} {{ .GroupLabels.alertname }}",
       &resolved, "resolved b f2 Disk"},
      {"[{{ .Labels.host }}][{{ .Annotations.none }}][{{ .GroupLabels.x }}]", nullptr, "[][][]"},
      {"{{ .Labels.host | upper }} {{ printf \"%s\" 1 }} {{ .Labels.a-b }} {{ .Status", &resolved,
       "{{ .Labels.host | upper }} {{ printf \"%s\" 1 }} {{ .Labels.a-b }} {{ .Status"},
  };
  for (const auto& [text, alert, expected] : cases)
    EXPECT_EQ(RenderAlertTemplate(text, payload, alert), expected) << text;
  // A two-byte character that would straddle the bound is dropped whole.
  const std::string big = "x" + std::string(kMaxRenderedAlertText, '\xC3');
  EXPECT_EQ(RenderAlertTemplate(big + "{{ .Status }}", payload, nullptr).size(),
            kMaxRenderedAlertText - 1);
}

struct FakeRequestPort : RequestPort {
  void Submit(NotificationRequest request, const ApiCaller&,
              std::function<void(SubmitResult)> done) override {
    sent.push_back(std::move(request));
    done({refuse ? 503u : 202u, "7", refuse ? "busy" : "Notes Server: Asynch mode"});
  }
  std::vector<NotificationRequest> sent;
  bool refuse = false;
};

TEST(AlertmanagerReceiver, RepeatsWithinTheWindowAreAnsweredAndNotSent) {
  testing::TempFolder folder;
  folder.Write("QzRoutes.ini",
               "[ops]\nPagers=1001, 1002\nEmails=a@example.org\nSubject={{ .Status }}\n"
               "Text={{ .Labels.host }}\nRepeatWindow=60\n");
  FakeRequestPort port;
  AlertRepeats::TimePoint now{};
  AlertmanagerReceiver receiver(port, folder.File("QzRoutes.ini"), [&] { return now; });
  const std::string resolved_both = Edited(R"("status":"firing","labels":{"alertname")",
                                           R"("status":"resolved","labels":{"alertname")");
  const std::tuple<std::string, std::string, int, unsigned, size_t> steps[] = {
      // route, body, seconds later, answer (503: the port refuses), requests sent so far
      {"ops", std::string(kWebhook), 0, 200, 1},
      {"ops", std::string(kWebhook), 59, 200, 1},  // a repeat
      {"ops", Edited("\"f2\"", "\"f3\""), 0, 200, 2},
      {"ops", resolved_both, 0, 503, 3},  // refused: the retry goes out
      {"ops", resolved_both, 0, 200, 4},
      {"ops", std::string(kWebhook), 1, 200, 5},  // the window ended
      {"nope", std::string(kWebhook), 0, 404, 5},
      {"ops", Edited("\"alerts\":[", "\"alerts\":[7,"), 0, 400, 5},
  };
  for (const auto& [route, body, later, status, sent] : steps) {
    now += std::chrono::seconds(later);
    port.refuse = status == 503;
    HttpAnswer answered{0};
    receiver.Handle({"POST", "/v1/alertmanager/" + route, {route}, body, {}},
                    [&](HttpAnswer answer) { answered = std::move(answer); });
    EXPECT_EQ(
        std::tuple(answered.status, port.sent.size(), answered.body == "{\"status\":\"repeat\"}\n"),
        std::tuple(status, sent, later == 59))
        << route << " +" << later << "s " << body;
  }
  // One group per alert, each with its own message and the route's recipients.
  const NotificationRequest& first = port.sent.front();
  ASSERT_EQ(first.groups.size(), 2u);
  EXPECT_EQ(first.subject + "|" + first.groups[1].messages.at(0) + "|" +
                first.groups[1].pagers.at(0).at(1) + "|" + first.groups[1].emails.at(0).at(0),
            "firing|b|1002|a@example.org");
  // The memory of what was sent stays within its capacity.
  AlertRepeats repeats(2);
  for (const char* key : {"a", "b", "c", "d"}) EXPECT_TRUE(repeats.Claim(key, now, now + 1s));
  EXPECT_EQ(repeats.size(), 2u);
  EXPECT_FALSE(repeats.Claim("d", now, now + 1s));
}

}  // namespace
}  // namespace qz
