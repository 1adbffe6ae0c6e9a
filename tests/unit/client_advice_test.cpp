// What qznotes warns about before it sends or writes, the one exit rule for
// a False answer, and the keyed JSON of a settings group.
#include <gtest/gtest.h>

#include "client/command_line.h"
#include "client/exit_status.h"
#include "client/send_advice.h"
#include "client/settings_advice.h"
#include "client/settings_groups.h"
#include "client/wire_markers.h"
#include "platform/holders.h"

namespace qz::client {
namespace {

using Texts = std::vector<std::string>;

SendCommand Send(std::vector<std::string_view> words) {
  words.insert(words.begin(), "send");
  ParsedCommandLine parsed = ParseCommandLine(words);
  EXPECT_EQ(parsed.error, "");
  const auto* send = std::get_if<SendCommand>(&parsed.invocation.command);
  return send ? *send : SendCommand{};
}

TEST(ClientAdvice, SendWarnsOncePerPartThatGoesNowhere) {
  const std::string kNobody =
      "no message has a recipient (--email or --pager after its --message): nothing will be "
      "delivered";
  const std::string kNoRoute =
      "--email without a mail route (--smtp-server with --from, or --profile): no mail will be "
      "sent";
  const std::string kLate =
      "--timeout 1 is not longer than the server's dispatch delay of 1 s: the callback will come "
      "too late";
  struct Case {
    std::vector<std::string_view> words;
    Texts warnings;
    const char* why;
  } cases[] = {
      {{"-m", "x", "-p", "555"}, {}, "a page goes out"},
      {{"-m", "x", "-e", "a@x", "-s", "S", "--smtp-server", "mail", "--from", "q@x"},
       {},
       "SMTP route"},
      {{"-m", "x", "-e", "a@x", "-s", "S", "--profile", "Ops"}, {}, "profile route"},
      {{"-m", "x"}, {kNobody}, "no recipient at all"},
      {{"-m", "a", "-g", "-m", "b"}, {kNobody}, "one warning, not one per message"},
      {{"-m", "a", "-p", "5", "-m", "b", "-g", "-m", "c", "-p", "6"},
       {"message 2 of group 1 has no recipient: it will not be delivered"},
       "one silent message among others"},
      {{"-m", "x", "-e", "a@x", "-s", "S"}, {kNoRoute}, "subject alone is no route"},
      {{"-m", "x", "-e", "a@x", "-s", "S", "--smtp-server", "mail"},
       {kNoRoute},
       "SMTP needs a sender too"},
      {{"-m", "x", "-e", "a@x", "-s", "S", "--from", "q@x"}, {kNoRoute}, "and a server"},
      {{"-m", "x", "-p", "5", "--wait", "--timeout", "1"}, {kLate}, "timeout within the delay"},
      {{"-m", "x", "-p", "5", "--wait", "--timeout", "2"}, {}, "timeout past the delay"},
      {{"-m", "x", "--wait", "--timeout", "1"}, {kNobody, kLate}, "warnings add up"},
  };
  for (const Case& c : cases) EXPECT_EQ(SendWarnings(Send(c.words)), c.warnings) << c.why;
}

TEST(ClientAdvice, SettingsSetWarnsAboutWhatTheServerNeverReads) {
  struct Case {
    const char* section;
    Texts assignments;
    Texts warnings;
    const char* why;
  } cases[] = {
      {"Default", {"Index=2"}, {}, "a gateway the server knows"},
      {"SNPP Paging Service", {"TCPPort=444", "HostName=h", "Timeout=20"}, {}, "all known"},
      {"pager terminal", {"comport=/dev/ttyS0"}, {}, "names match without regard to case"},
      {"SMSMapping", {"SMSTo=to"}, {}, "the SMS loader's own section"},
      {"Gateway", {"path=QzNotes.ini"}, {}, "a section's path"},
      {"Default",
       {"Index=3"},
       {"Index=3: the server pages through gateway 0 (pager terminal), 1 (SNPP) or 2 (SMS) "
        "only; with any other Index every paging fails"},
       "gateway 3"},
      {"Default",
       {"Index="},
       {"Index=: the server pages through gateway 0 (pager terminal), 1 (SNPP) or 2 (SMS) only; "
        "with any other Index every paging fails and a delivery stops at its first group"},
       "empty Index"},
      {"Nowhere",
       {"Key=1"},
       {"the server reads no section [Nowhere] (it reads Default, Gateway, Pager Terminal, SNPP "
        "Paging Service, SMS, SMSMapping)"},
       "unknown section"},
      {"default",
       {"Index=1"},
       {"[default] is not [Default]: only that exact name is written to QzNotes.ini"},
       "Default is compared exactly"},
      {"SNPP Paging Service",
       {"Colour=red"},
       {"the server reads no key Colour in [SNPP Paging Service] (it reads TCPPort, HostName, "
        "Timeout)"},
       "unknown key"},
      {"Default",
       {"path=x.ini"},
       {"the server reads no key path in [Default] (it reads Index)"},
       "Default has no path"},
      {"SNPP Paging Service",
       {"TCPPort=http", "Timeout=soon"},
       {"TCPPort=http: the SNPP channel needs a TCP port, a whole number from 1 to 65535",
        "Timeout=soon: not a number, so the SNPP channel waits 20 seconds"},
       "numbers that are none"},
      {"SMS",
       {"Access=x"},
       {"Access=x: the SMS gateway's Access must be a whole number"},
       "Access is a number"},
      {"Gateway",
       {"0=" + std::string(100, 'a')},
       {"0: the value has 100 characters; the server reads back only the first 99"},
       "too long"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SettingsWarnings(c.section, c.assignments), c.warnings) << c.why;
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

TEST(ClientAdvice, SettingsGroupsAreKeyedObjectsInJson) {
  struct Case {
    const char* group;
    const char* answer;
    const char* json;
  } cases[] = {
      {"snpp", "<[<'TCPPort=444'>, <'HostName=a=b'>, <'Timeout='>]>",
       R"({"TCPPort":"444","HostName":"a=b","Timeout":""})"},
      {"gateways", "<[<'t0'>, <'t1'>, <'2'>, <'extra'>]>",
       R"({"0":"t0","1":"t1","Index":"2","[3]":"extra"})"},
      {"terminal-short", "<@av []>", "{}"},
  };
  for (const Case& c : cases) {
    VariantPtr v = Own(g_variant_parse(nullptr, c.answer, nullptr, nullptr, nullptr));
    ASSERT_TRUE(v) << c.answer;
    EXPECT_EQ(SettingsJson(*FindSettingsGroup(c.group), v.get()), c.json) << c.group;
  }
  VariantPtr empty = Own(g_variant_new_variant(NewMarker(Marker::kEmpty)));
  EXPECT_EQ(SettingsJson(*FindSettingsGroup("snpp"), empty.get()), R"({"kind":"Empty"})");
}

}  // namespace
}  // namespace qz::client
