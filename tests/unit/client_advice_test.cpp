// What qznotes warns about before it writes settings, and the answers that
// decide its exit status.
#include <gtest/gtest.h>

#include <sstream>

#include "client/exit_status.h"
#include "client/settings_advice.h"
#include "client/test_gateway_answer.h"
#include "client/wire_markers.h"
#include "platform/holders.h"

namespace qz::client {
namespace {

using Texts = std::vector<std::string>;

TEST(ClientAdvice, SettingsSetWarnsAboutWhatTheServerNeverReads) {
  const std::string kGateways =
      ": the server pages through gateway 0 (pager terminal), 1 (SNPP) or 2 (SMS) only; with "
      "any other Index every paging fails";
  struct Case {
    const char* section;
    std::string assignments;  // blank-separated
    std::string warnings;     // one per line
  } cases[] = {
      {"Default", "Index=2", ""},
      {"SNPP Paging Service", "TCPPort=444 HostName=h Timeout=20", ""},
      {"pager terminal", "comport=/dev/ttyS0", ""},  // names match without regard to case
      {"SMSMapping", "SMSTo=to", ""},                // the SMS loader's own section
      {"Gateway", "path=QzNotes.ini", ""},
      {"Default", "Index=3", "Index=3" + kGateways},
      {"Default", "Index=", "Index=" + kGateways + " and a delivery stops at its first group"},
      {"Nowhere", "Key=1",
       "the server reads no section [Nowhere] (it reads Default, Gateway, Pager Terminal, SNPP "
       "Paging Service, SMS, SMSMapping)"},
      {"default", "Index=1",
       "[default] is not [Default]: only that exact name is written to QzNotes.ini"},
      {"SNPP Paging Service", "Colour=red",
       "the server reads no key Colour in [SNPP Paging Service] (it reads TCPPort, HostName, "
       "Timeout)"},
      {"Default", "path=x.ini", "the server reads no key path in [Default] (it reads Index)"},
      {"SNPP Paging Service", "TCPPort=http Timeout=soon",
       "TCPPort=http: the SNPP channel needs a TCP port, a whole number from 1 to 65535\n"
       "Timeout=soon: not a number, so the SNPP channel waits 20 seconds"},
      {"SMS", "Access=x", "Access=x: the SMS gateway's Access must be a whole number"},
      {"Gateway", "0=" + std::string(100, 'a'),
       "0: the value has 100 characters; the server reads back only the first 99"},
  };
  for (const Case& c : cases) {
    Texts assignments, warnings;
    std::istringstream words(c.assignments), lines(c.warnings);
    for (std::string w; words >> w;) assignments.push_back(w);
    for (std::string w; std::getline(lines, w);) warnings.push_back(w);
    EXPECT_EQ(SettingsWarnings(c.section, assignments), warnings)
        << c.section << " " << c.assignments;
  }
}

TEST(ClientAdvice, AFalseAnswerExitsOneWhereverItComesFrom) {
  struct Case {
    const char* result;  // GVariant text; nullptr: no result
    ExitStatus status;
  } cases[] = {
      {"false", kExitFailed}, {"<false>", kExitFailed}, {"true", kExitOk},
      {"<'False'>", kExitOk}, {"<int16 0>", kExitOk},   {nullptr, kExitOk},
  };
  for (const Case& c : cases) {
    VariantPtr v =
        c.result ? Own(g_variant_parse(nullptr, c.result, nullptr, nullptr, nullptr)) : nullptr;
    EXPECT_EQ(ExitForResult(v.get()), c.status) << (c.result ? c.result : "none");
    if (v && g_variant_is_of_type(Unwrapped(v.get()).get(), G_VARIANT_TYPE_BOOLEAN)) {
      EXPECT_EQ(ExitForBoolean(v.get()), c.status) << "settings set agrees: " << c.result;
    }
  }
}

TEST(ClientAdvice, TestGatewayExitsByTheGatewaysAnswer) {
  struct Case {
    int index;
    const char* answer;
    ExitStatus status;
  } cases[] = {
      {0, "Message Sent", kExitOk},
      {2, "Message Sent", kExitOk},
      {1, "250 Message Sent OK\r\n", kExitOk},
      {1, "550 Error, Invalid Pager ID\r\n", kExitOk},  // a reply of the server
      {1, "250", kExitOk},
      {1, "Failure to Connect to SNPP Server at host", kExitFailed},
      {1, "Type mismatch.\r\n", kExitFailed},
      {1, "2500 no code", kExitFailed},
      {2, "250 not from an SNPP server", kExitFailed},
      {0, "Test Failed", kExitFailed},
      {2, "Failed to initialize SMS Settings", kExitFailed},
      {1, "Test Failed. 9 Subscript out of range", kExitFailed},
  };
  for (const auto& c : cases) EXPECT_EQ(ExitForTestAnswer(c.index, c.answer), c.status) << c.answer;
  EXPECT_EQ(AnswerLine("250 Message Sent OK\r\n"), "250 Message Sent OK");
  EXPECT_EQ(AnswerLine("a\r\nb"), "a\r\nb");
}

}  // namespace
}  // namespace qz::client
