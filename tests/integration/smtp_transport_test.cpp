// The SMTP sender against a real SMTP server on loopback.
#include "gateways/mail/smtp_transport.h"

#include <gtest/gtest.h>

#include "gateways/mail/mail_message.h"
#include "support/child_process.h"
#include "support/flooding_peer.h"
#include "support/smtp_sink.h"

namespace qz::testing {
namespace {

using namespace std::chrono_literals;

const std::string kFrom = "notes@example.org";
const std::vector<std::string> kTo = {"ops@example.org", "dba@example.org"};
// Lines that need dot-stuffing on the wire.
const std::string kData =
    ComposeMail({{"QzNotes", kFrom}, {{"", kTo[0]}}, {}, "Disk full", ".\r\n..\r\n.end"});

TEST(SmtpTransportTest, AnswersWithTheFinalReplyOrWhyNoServerTookTheMail) {
  using Sink = std::optional<SinkOptions>;  // nullopt: nothing listens
  const std::string broke = "The SMTP exchange with smtp://127.0.0.1:# broke off: ";
  const std::string unreached = "No SMTP server could be reached at smtp://127.0.0.1:#: ";
  const std::string queued = "250 2.0.0 Ok: queued as 000001";
  const struct {
    Sink sink;
    std::string server;  // '#' stands for the port
    bool trust_sink;     // its certificate is among the trusted ones
    std::string reply;   // exact, or only its start when `whole` is false
    bool whole;
  } cases[] = {
      {SinkOptions{}, "SMTP://localhost:#/client.test", true, queued, true},
      {SinkOptions{{"--starttls"}}, "127.0.0.1:#", true, queued, true},
      {SinkOptions{{"--starttls"}}, "127.0.0.1:#", false, broke, false},
      {SinkOptions{}, "smtp://u:pw@127.0.0.1:#", true, broke + "STARTTLS not supported.", true},
      {SinkOptions{{"--refuse-rcpt", kTo[1]}}, "127.0.0.1:#", true,
       "550 5.1.1 <dba@example.org>: Recipient address rejected by the test sink", true},
      {SinkOptions{{"--refuse-data"}}, "127.0.0.1:#", true,
       "554 5.6.0 Message refused by the test sink", true},
      {SinkOptions{{"--drop-after-data"}}, "127.0.0.1:#", true, broke, false},
      {SinkOptions{{"--silent"}}, "127.0.0.1:#", true, unreached + "Operation timed out", false},
      {std::nullopt, "127.0.0.1:#", true, unreached, false},
      {std::nullopt, "http://127.0.0.1:#", true,
       "No SMTP server could be reached: the server name \"http://127.0.0.1:#\" is no smtp:// or "
       "smtps:// URL",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server + " " + c.reply);
    std::optional<SmtpSink> sink;
    if (c.sink) sink.emplace(*c.sink);
    const int port = sink ? sink->port() : FreeLoopbackPort();
    std::string server = c.server, reply = c.reply;
    for (std::string* text : {&server, &reply})
      if (size_t at = text->find('#'); at != std::string::npos)
        text->replace(at, 1, std::to_string(port));
    SmtpOptions options{.ca_file = c.trust_sink && sink ? sink->ca_file() : ""};
    if (c.reply.find("timed out") != std::string::npos)
      options.connect_limit = options.total_limit = 2s;  // not the whole default wait
    const SmtpOutcome outcome = SendSmtp(server, kFrom, kTo, kData, options);
    EXPECT_EQ(outcome.reply.substr(0, c.whole ? std::string::npos : reply.size()), reply);
    EXPECT_EQ(outcome.accepted, reply == queued);
    // Refused with 5xx is for good; no server, or a broken exchange, may go later.
    EXPECT_EQ(SmtpReplyKind(outcome.code),
              reply.starts_with('5') ? FailureKind::kPermanent : FailureKind::kTransient);
    if (!sink) continue;
    const auto mails = sink->WaitForMails(outcome.accepted ? 1 : 0, 10s);
    ASSERT_EQ(mails.size(), outcome.accepted ? 1u : 0u);
    if (!outcome.accepted) continue;
    EXPECT_EQ(mails[0].from, kFrom);
    EXPECT_EQ(mails[0].to, kTo);
    EXPECT_EQ(mails[0].data, kData);
    EXPECT_EQ(mails[0].tls, c.sink->flags == std::vector<std::string>{"--starttls"});
  }
}

// A server that never stops talking, in lines that never finish a reply or
// in one endless line, loses the exchange within the total limit.
TEST(SmtpTransportTest, FloodingServerLosesTheExchange) {
  for (const char* pattern : {"250-still greeting you\r\n", "x"}) {
    SCOPED_TRACE(pattern);
    FloodingPeer server(FloodingPeer::Kind::kLoopback, {"220 flood.test ESMTP\r\n", "", pattern});
    const auto start = std::chrono::steady_clock::now();
    const SmtpOutcome outcome = SendSmtp("127.0.0.1:" + server.PortText(), kFrom, kTo, kData,
                                         {.connect_limit = 2s, .total_limit = 2s});
    EXPECT_FALSE(outcome.accepted);
    EXPECT_EQ(
        outcome.reply.rfind(
            "The SMTP exchange with smtp://127.0.0.1:" + server.PortText() + " broke off: ", 0),
        0u)
        << outcome.reply;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_GT(server.flooded(), 0u);
  }
}

TEST(SmtpTransportTest, EnvelopeInjectionIsRefusedBeforeConnecting) {
  const std::string server = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
  const std::tuple<std::string, std::vector<std::string>, std::string> cases[] = {
      {kFrom + "\r\nRCPT TO:<x@evil>", kTo, "the sender address holds a line break"},
      {kFrom, {kTo[0] + ">\r\nRSET"}, "a recipient address holds a line break"},
      {kFrom, {}, "no recipient"},
  };
  for (const auto& [from, to, why] : cases) {
    const SmtpOutcome outcome = SendSmtp(server, from, to, kData);
    EXPECT_EQ(std::pair(outcome.reply, outcome.accepted),
              std::pair("Mail not sent: " + why, false));
  }
}

}  // namespace
}  // namespace qz::testing
