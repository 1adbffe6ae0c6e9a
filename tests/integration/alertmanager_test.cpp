// A real Alertmanager (Debian's prometheus-alertmanager) delivering to
// qznotesd's receiver on loopback: its alert becomes a page at the SNPP
// simulator and a mail at the SMTP sink, and the duplicate deliveries a
// cluster makes on purpose page nobody twice.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "http/front_door.h"
#include "http/token_store.h"
#include "support/smtp_sink.h"
#include "support/snpp_sim.h"

namespace qz::testing {
namespace {

constexpr const char* kAlertmanagerPath = "/usr/bin/prometheus-alertmanager";

TEST(AlertmanagerPeer, AnAlertIsPagedAndMailedOnceHoweverOftenItComes) {
  if (ToolMissing(kAlertmanagerPath)) GTEST_SKIP() << "no Alertmanager";
  PrivateBus bus;
  ProgramFolder folder;
  SnppSim snpp;
  SmtpSink sink;
  folder.UseSnpp(snpp.port(), 30);
  std::ofstream(folder.path() / "QzRoutes.ini")
      << "[ops]\nPagers=1001\nEmails=ops@example.org\nSmtpServer=" << sink.server()
      << "\nMailFrom=qz@example.org\nSubject=[{{ .Status }}] {{ .CommonLabels.alertname }}\n"
      << "Text={{ .Labels.host }}: {{ .Annotations.summary }}\n";
  std::ofstream(folder.path() / "QzNotes.ini", std::ios::app)
      << "\n[Mail]\nAllowedServers=" << sink.server() << "\n";
  const std::string tokens = folder.path() / kTokensFileName;
  std::ofstream(tokens) << TokenFileText({{"am", TokenHash("am-secret"), unsigned(Right::kSend)}});
  chmod(tokens.c_str(), 0600);
  const std::string daemon_port = std::to_string(FreeLoopbackPort());
  Daemon daemon(bus, folder.path(), {"--listen", "127.0.0.1:" + daemon_port, "--linger", "120"});
  const std::string hook = "http://127.0.0.1:" + daemon_port + "/v1/alertmanager/ops";

  // Two webhooks to the same route: the duplicate a cluster peer would send.
  TempFolder am;
  const std::string webhook =
      "  - url: " + hook + "\n    http_config: {authorization: {credentials: am-secret}}\n";
  std::ofstream(am / "am.yml") << "route: {receiver: qz, group_by: [alertname], group_wait: 1s, "
                                  "group_interval: 1s, repeat_interval: 1h}\nreceivers:\n"
                                  "- name: qz\n  webhook_configs:\n"
                               << webhook << webhook;
  const std::string am_url = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort());
  ChildProcess alertmanager({kAlertmanagerPath, "--web.listen-address=" + am_url.substr(7),
                             "--cluster.listen-address=", "--storage.path=" + am.File("data"),
                             "--config.file=" + am.File("am.yml")},
                            am / "am.log");
  // curl tries again while Alertmanager starts.
  ASSERT_EQ(
      Curl(am_url + "/api/v2/alerts",
           {"--max-time", "10", "--retry", "20", "--retry-connrefused", "--retry-delay", "1", "-d",
            R"([{"labels":{"alertname":"DiskFull","host":"db1"},)"
            R"("annotations":{"summary":"disk full"}}])",
            "-H", "Content-Type: application/json"},
           60s)
          .status,
      200)
      << am.Read("am.log");
  // Both deliveries answered, then one page and one mail.
  EXPECT_TRUE(Eventually(
      [&] {
        return Curl(am_url + "/metrics", {"--max-time", "10"})
                   .body.find("alertmanager_notifications_total{integration=\"webhook\"} 2\n") !=
               std::string::npos;
      },
      60s))
      << am.Read("am.log") << daemon.Log();
  ASSERT_EQ(sink.WaitForMails(1, 60s).size(), 1u) << daemon.Log();
  // The SMTP route mails the message text as its subject, as for any request.
  EXPECT_EQ(sink.WaitForMails(1, 0s)[0].Header("Subject"), "db1: disk full");
  // Paged once: the duplicate delivery did not go out again.
  EXPECT_TRUE(
      Eventually([&] { return snpp.Received().find("MESSAGE") != std::string::npos; }, 60s));
  const std::string pages = snpp.Received();
  EXPECT_EQ(pages.find("MESSAGE \"db1: disk full\""), pages.rfind("MESSAGE")) << pages;
}

}  // namespace
}  // namespace qz::testing
