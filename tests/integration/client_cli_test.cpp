// The qznotes client run as a user runs it, against the real daemon on a
// private bus with the sample settings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <regex>
#include <set>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "json_reader.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr const char* kSent = "QzNotes: Message Sent\n";
constexpr const char* kUndeliverable =
    "QzNotes: Message Undeliverable. See QzNotesLog.log file for details \n";
constexpr const char* kNotSupported = "error E445: QzNotes: Object doesn't support this action\n";
// The client's warning before sending a request without any recipient.
constexpr const char* kNobodyWarning =
    "qznotes: warning: no message has a recipient (--email or --pager after its --message): "
    "nothing will be delivered\n";
// The sample settings name a serial device a test machine does not have.
constexpr const char* kPageFailure = "Page Status: serial line /dev/ttyUSB0: cannot be found";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size()))
    ++n;
  return n;
}

// The JSON an output holds: exactly one line, one value.
std::optional<Json> OneJsonLine(const CliResult& r) {
  if (r.out.empty() || r.out.back() != '\n' || Count(r.out, "\n") != 1) return std::nullopt;
  return JsonReader::Parse(r.out);
}

std::vector<std::string> Strings(const Json& array) {
  std::vector<std::string> texts;
  for (const Json& item : array.items)
    texts.push_back(item.Is(Json::Kind::kString) ? item.text : "<not a string>");
  return texts;
}

const char* const kAllGroups[] = {"terminal-short", "terminal", "gateways",    "sms",
                                  "terminal-ex",    "snpp",     "gateways-ex", "sms-ex"};

class ClientCli : public ::testing::Test {
 protected:
  // A long linger keeps the daemon serving between the client's runs.
  ClientCli() : daemon_(bus_, folder_.path(), {"--linger", "60"}) {}

  std::vector<std::string> WithBus(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--address", bus_.address()});
    return args;
  }
  CliResult Run(std::vector<std::string> args) const { return RunCli(WithBus(std::move(args))); }
  std::unique_ptr<CliProcess> Start(std::vector<std::string> args) const {
    return std::make_unique<CliProcess>(WithBus(std::move(args)));
  }

  // The daemon writes some lines after it answered; wait for them, bounded.
  bool DaemonLogged(const std::string& needle, size_t times = 1) {
    for (int i = 0; i < 1000; ++i) {
      if (Count(daemon_.Log(), needle) >= times) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  // The lines under each heading of `settings show`, by group, in order.
  static std::vector<std::pair<std::string, std::vector<std::string>>> ShownGroups(
      const std::string& out) {
    std::vector<std::pair<std::string, std::vector<std::string>>> groups;
    for (const std::string& line : Lines(out)) {
      if (line.empty()) continue;
      if (line.starts_with("  ")) {
        if (!groups.empty()) groups.back().second.push_back(line.substr(2));
      } else {
        groups.emplace_back(line.substr(0, line.find(':')), std::vector<std::string>{});
      }
    }
    return groups;
  }

  PrivateBus bus_;
  ProgramFolder folder_;
  Daemon daemon_;
};

TEST_F(ClientCli, SendWaitPrintsTheUndeliverableOutcomeAndLogsWhy) {
  CliResult r =
      Run({"send", "--wait", "-m", "disk /var is full", "-p", "5551234", "--test-id", "cli-page"});
  EXPECT_EQ(r.status, 1) << r.Describe();
  EXPECT_EQ(r.out, kUndeliverable);
  EXPECT_EQ(r.err, "");
  // The pager terminal's device is not there: the page fails and says why.
  const std::string log = folder_.Read("QzNotesLog.log");
  EXPECT_EQ(Count(log, kPageFailure), 1u) << log;
  EXPECT_THAT(daemon_.Log(), HasSubstr("request cli-page: Message Undeliverable"));
}

TEST_F(ClientCli, SendWaitWithNothingToDeliverIsSent) {
  // No pager numbers and no mail: the pager channel has no identifier to
  // page and succeeds, so nothing fails and nothing is logged.
  CliResult r = Run({"send", "-w", "-m", "nothing to page", "--test-id", "cli-nothing"});
  EXPECT_EQ(r.status, 0) << r.Describe();
  EXPECT_EQ(r.out, kSent);
  EXPECT_EQ(r.err, kNobodyWarning);  // the client says so, and sends all the same
  EXPECT_EQ(folder_.Read("QzNotesLog.log"), "");
  EXPECT_THAT(daemon_.Log(), HasSubstr("request cli-nothing: Message Sent"));
}

TEST_F(ClientCli, SendWaitOutcomesFollowTheRequest) {
  struct Case {
    const char* id;
    std::vector<std::string> args;
    int status;
    const char* out;
    const char* err = "";
  } cases[] = {
      {"groups", {"-m", "a", "--group", "-m", "b", "-m", "c"}, 0, kSent, kNobodyWarning},
      // The pager number belongs to the second group's message only.
      {"second-group-pager",
       {"-m", "a", "-g", "-m", "b", "-p", "77"},
       1,
       kUndeliverable,
       "qznotes: warning: message 1 of group 1 has no recipient: it will not be delivered\n"},
      // Subject, sender and server make an SMTP request; nothing listens on port 1 of loopback.
      {"smtp",
       {"-m", "x", "-e", "ops@example.org", "--subject", "nightly", "--from", "qz@example.org",
        "--smtp-server", "127.0.0.1:1", "--prefer-smtp"},
       1,
       kUndeliverable},
      // Without a subject the server sends no mail at all.
      {"no-subject",
       {"-m", "x", "--from", "qz@example.org", "--smtp-server", "127.0.0.1:1"},
       0,
       kSent,
       kNobodyWarning},
  };
  // Concurrent clients, each waiting for its own callback.
  std::vector<std::unique_ptr<CliProcess>> running;
  for (const Case& c : cases) {
    std::vector<std::string> args = {"send", "--wait", "--test-id", c.id};
    args.insert(args.end(), c.args.begin(), c.args.end());
    running.push_back(Start(args));
  }
  for (size_t k = 0; k < std::size(cases); ++k) {
    CliResult r = running[k]->Wait();
    EXPECT_EQ(r.status, cases[k].status) << cases[k].id << "\n" << r.Describe();
    EXPECT_EQ(r.out, cases[k].out) << cases[k].id;
    EXPECT_EQ(r.err, cases[k].err) << cases[k].id;
    const std::string outcome = cases[k].status == 0 ? "Message Sent" : "Message Undeliverable";
    EXPECT_THAT(daemon_.Log(), HasSubstr("request " + std::string(cases[k].id) + ": " + outcome));
  }
  const std::string log = folder_.Read("QzNotesLog.log");
  EXPECT_EQ(Count(log, kPageFailure), 1u) << log;
  EXPECT_EQ(Count(log, "Mail Status: \r\nNo SMTP server could be reached at smtp://127.0.0.1:1: "),
            1u)
      << log;
}

TEST_F(ClientCli, SendWithoutWaitPrintsTheAnswerAndKeepsTheRequest) {
  auto plain = Start({"send", "-m", "disk full", "-p", "5551234", "--test-id", "cli-nowait"});
  auto json = Start({"--json", "send", "-m", "disk full", "-p", "5551234"});
  CliResult p = plain->Wait(), j = json->Wait();

  EXPECT_EQ(p.status, 0) << p.Describe();
  EXPECT_EQ(p.out, "Notes Server: Asynch mode\n");
  EXPECT_EQ(p.err, "");

  EXPECT_EQ(j.status, 0) << j.Describe();
  auto parsed = OneJsonLine(j);
  ASSERT_TRUE(parsed) << j.out;
  EXPECT_EQ(parsed->Keys(), (std::vector<std::string>{"answer", "testId"}));
  ASSERT_TRUE(parsed->Find("answer") && parsed->Find("testId"));
  EXPECT_EQ(parsed->Find("answer")->text, "Notes Server: Asynch mode");
  const std::string made_up = parsed->Find("testId")->text;
  EXPECT_TRUE(
      std::regex_match(made_up, std::regex("qznotes-[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}")))
      << made_up;

  // The client held its object past the server's tick, so both requests ran;
  // the made-up identifier is the one that went on the wire.
  for (const std::string& id : {std::string("cli-nowait"), made_up})
    EXPECT_TRUE(DaemonLogged("request " + id + ": Message Undeliverable")) << id << "\n"
                                                                           << daemon_.Log();
  // Each object logs its own failure, written before the outcome line above.
  EXPECT_EQ(Count(folder_.Read("QzNotesLog.log"), kPageFailure), 2u)
      << folder_.Read("QzNotesLog.log");
}

TEST_F(ClientCli, SendWaitJsonAddsTheCallback) {
  CliResult r = Run({"--json", "send", "--wait", "-m", "x", "--test-id", "cli-\"json\"\\id"});
  EXPECT_EQ(r.status, 0) << r.Describe();
  auto parsed = OneJsonLine(r);
  ASSERT_TRUE(parsed) << r.out;
  ASSERT_EQ(parsed->Keys(), (std::vector<std::string>{"answer", "testId", "callback"}));
  EXPECT_EQ(parsed->Find("answer")->text, "Notes Server: Asynch mode");
  EXPECT_EQ(parsed->Find("testId")->text, "cli-\"json\"\\id");
  EXPECT_EQ(parsed->Find("callback")->text, "QzNotes: Message Sent");
}

TEST_F(ClientCli, SettingsShowListsEveryGroupAsGetDoes) {
  CliResult show = Run({"settings"});
  ASSERT_EQ(show.status, 0) << show.Describe();
  EXPECT_EQ(show.err, "");
  EXPECT_EQ(Run({"settings", "show"}).out, show.out);
  const auto groups = ShownGroups(show.out);
  ASSERT_EQ(groups.size(), std::size(kAllGroups)) << show.out;
  std::map<std::string, std::vector<std::string>> by_name;
  for (size_t k = 0; k < groups.size(); ++k) {
    EXPECT_EQ(groups[k].first, kAllGroups[k]);
    EXPECT_FALSE(groups[k].second.empty()) << groups[k].first;
    by_name[groups[k].first] = groups[k].second;
  }

  // The sample settings, with key names put to the bare values.
  EXPECT_EQ(by_name["snpp"],
            (std::vector<std::string>{"TCPPort=444", "HostName=127.0.0.1", "Timeout=20"}));
  EXPECT_EQ(by_name["terminal-short"],
            (std::vector<std::string>{"Number=", "Settings=1200,e,7,1", "ComPort=/dev/ttyUSB0",
                                      "HandShaking=0"}));
  EXPECT_EQ(by_name["terminal"], by_name["terminal-ex"]);
  EXPECT_EQ(by_name["gateways"], by_name["gateways-ex"]);
  EXPECT_EQ(by_name["sms"], by_name["sms-ex"]);
  EXPECT_EQ(by_name["gateways"].back(), "Index=0");
  EXPECT_EQ(by_name["sms"].size(), 14u);

  // Every group alone prints the lines the overview shows, without a heading.
  std::vector<std::unique_ptr<CliProcess>> gets;
  for (const char* group : kAllGroups) gets.push_back(Start({"settings", "get", group}));
  for (size_t k = 0; k < std::size(kAllGroups); ++k) {
    CliResult r = gets[k]->Wait();
    EXPECT_EQ(r.status, 0) << kAllGroups[k] << "\n" << r.Describe();
    EXPECT_EQ(Lines(r.out), by_name[kAllGroups[k]]) << kAllGroups[k];
  }
}

TEST_F(ClientCli, SettingsJsonMatchesTheText) {
  CliResult show = Run({"--json", "settings"});
  ASSERT_EQ(show.status, 0) << show.Describe();
  auto parsed = OneJsonLine(show);
  ASSERT_TRUE(parsed) << show.out;
  ASSERT_EQ(parsed->Keys(), std::vector<std::string>(std::begin(kAllGroups), std::end(kAllGroups)));
  const auto text_groups = ShownGroups(Run({"settings"}).out);
  ASSERT_EQ(text_groups.size(), std::size(kAllGroups));
  for (size_t k = 0; k < std::size(kAllGroups); ++k) {
    // A group is an object keyed by setting name, in the order the text shows.
    const Json& group = parsed->members[k].second;
    ASSERT_TRUE(group.Is(Json::Kind::kObject)) << kAllGroups[k];
    const std::vector<std::string>& lines = text_groups[k].second;
    ASSERT_EQ(group.members.size(), lines.size()) << kAllGroups[k];
    for (size_t n = 0; n < lines.size(); ++n) {
      const auto& [key, value] = group.members[n];
      ASSERT_TRUE(value.Is(Json::Kind::kString)) << key;
      EXPECT_EQ(key + "=" + value.text, lines[n]) << kAllGroups[k];
    }
  }
  CliResult get = Run({"--json", "settings", "get", "snpp"});
  EXPECT_EQ(get.status, 0) << get.Describe();
  auto snpp = OneJsonLine(get);
  ASSERT_TRUE(snpp) << get.out;
  EXPECT_EQ(snpp->Keys(), (std::vector<std::string>{"TCPPort", "HostName", "Timeout"}));
  EXPECT_EQ(snpp->Find("TCPPort")->text, "444");
  EXPECT_EQ(snpp->Find("HostName")->text, "127.0.0.1");
  EXPECT_EQ(snpp->Find("Timeout")->text, "20");
}

TEST_F(ClientCli, SettingsSetRoundTripsThroughTheFile) {
  struct Case {
    std::vector<std::string> command;  // after "settings set"
    const char* file;
    const char* group;
    std::vector<std::string> expected;  // lines `settings get GROUP` shows afterwards
  } cases[] = {
      {{"SNPP Paging Service", "TCPPort=555", "HostName=pager.example.org"},
       "QzSNPP.ini",
       "snpp",
       {"TCPPort=555", "HostName=pager.example.org", "Timeout=20"}},
      {{"Default", "Index=1"}, "QzNotes.ini", "gateways", {"Index=1"}},
      // Found through the path key of [Pager Terminal]: QzPage.ini, not QzNotes.ini.
      {{"Pager Terminal", "ComPort=/dev/ttyUSB0", "Echo=1"},
       "QzPage.ini",
       "terminal-ex",
       {"ComPort=/dev/ttyUSB0", "Echo=1"}},
      {{"SMS", "Response=ACCEPTED"}, "QzSMS.ini", "sms-ex", {"Response=ACCEPTED"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"settings", "set"};
    args.insert(args.end(), c.command.begin(), c.command.end());
    CliResult set = Run(args);
    EXPECT_EQ(set.status, 0) << c.group << "\n" << set.Describe();
    EXPECT_EQ(set.out, "true\n");
    const std::string ini = folder_.Read(c.file);
    for (size_t k = 1; k < c.command.size(); ++k)
      EXPECT_THAT(ini, HasSubstr("\n" + c.command[k] + "\n")) << c.file;
    CliResult get = Run({"settings", "get", c.group});
    EXPECT_EQ(get.status, 0) << get.Describe();
    const std::vector<std::string> lines = Lines(get.out);
    for (const std::string& line : c.expected)
      EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end())
          << c.group << ": " << line << "\n"
          << get.out;
  }
  // The main file's own pager terminal keys were not touched.
  EXPECT_THAT(Lines(Run({"settings", "get", "terminal"}).out),
              ::testing::Contains("ComPort=/dev/ttyUSB0"));

  // A section QzNotes.ini names no file for is refused: false, exit 1.
  const std::string before = folder_.Read("QzNotes.ini");
  CliResult refused = Run({"--json", "settings", "set", "Nowhere", "Key=Value"});
  EXPECT_EQ(refused.status, 1) << refused.Describe();
  EXPECT_EQ(refused.out, "false\n");
  EXPECT_EQ(folder_.Read("QzNotes.ini"), before);
}

TEST_F(ClientCli, SettingsValuesWithQuotesAndControlCharactersStayOneLine) {
  const std::string host = "a\"b\\c", timeout = "x\ty";
  // --force: a Timeout that is no number is warned about and not written without it.
  CliResult set = Run({"settings", "set", "--force", "SNPP Paging Service", "HostName=" + host,
                       "Timeout=" + timeout});
  ASSERT_EQ(set.status, 0) << set.Describe();
  CliResult text = Run({"settings", "get", "snpp"});
  EXPECT_EQ(Lines(text.out),
            (std::vector<std::string>{"TCPPort=444", "HostName=" + host, "\"Timeout=x\\ty\""}));
  CliResult json = Run({"--json", "settings", "get", "snpp"});
  auto parsed = OneJsonLine(json);
  ASSERT_TRUE(parsed) << json.out;
  ASSERT_EQ(parsed->Keys(), (std::vector<std::string>{"TCPPort", "HostName", "Timeout"}));
  EXPECT_EQ(parsed->Find("HostName")->text, host);
  EXPECT_EQ(parsed->Find("Timeout")->text, timeout);
}

TEST_F(ClientCli, MissingSettingsFileIsShownAsSuch) {
  std::filesystem::remove(folder_.path() / "QzSNPP.ini");
  CliResult text = Run({"settings", "get", "snpp"});
  EXPECT_EQ(text.status, 0) << text.Describe();
  EXPECT_EQ(text.out, "(no settings file)\n");
  CliResult json = Run({"--json", "settings", "get", "snpp"});
  EXPECT_EQ(json.out, "{\"kind\":\"Empty\"}\n");
  auto groups = ShownGroups(Run({"settings"}).out);
  ASSERT_EQ(groups.size(), std::size(kAllGroups));
  EXPECT_EQ(groups[5].second, std::vector<std::string>{"(no settings file)"});
  EXPECT_EQ(groups[4].second.size(), 7u) << "the other groups still show";
}

TEST_F(ClientCli, CallByNameAndByDispatchIdPrintTheSame) {
  struct Case {
    std::vector<std::string> named;
    std::vector<std::string> invoked;
    int status;
    const char* shows;  // part of the text output, so agreement is not on nothing
  } cases[] = {
      {{"gvarGetSettings"}, {"0x6003000A"}, 0, "[0] \"\"\n[1] \"1200,e,7,1\"\n"},
      {{"GVARGETSETTINGS"}, {"1610809354"}, 0, "[2] \"/dev/ttyUSB0\"\n"},
      {{"gvarGetPagerSettings", "2"}, {"0x60030018", "2"}, 0, "[2] \"0\"\n"},
      {{"gvarGetPagerSettingsEx", "1"}, {"0x60030026", "1"}, 0, "[0] \"TCPPort=444\"\n"},
      {{"gvarGetPagerSettingsEx", "7", "null"},
       {"0x60030026", "7", "null"},
       0,
       "NoDimensions\nlvarParams: Null\n"},
      {{"gvarGetPagerSettingsEx", "0", "nodim"},
       {"0x60030026", "0", "nodim"},
       0,
       "lvarParams: NoDimensions\n"},
      {{"gblnSetPagerSettingsEx", "Default", "[\"Index=0\"]"},
       {"0x60030028", "Default", "[\"Index=0\"]"},
       0,
       "True\n"},
      // The sample SNPP gateway (127.0.0.1 port 444) is not there: refused at once.
      {{"gvarTestGateway", "1", "5551234"},
       {"0x6003000D", "1", "5551234"},
       0,
       "Failure to Connect to SNPP Server at 127.0.0.1"},
  };
  for (const Case& c : cases) {
    for (bool json : {false, true}) {
      std::vector<std::string> named = {"call"}, invoked = {"call"};
      if (json) {
        named.insert(named.begin(), "--json");
        invoked.insert(invoked.begin(), "--json");
      }
      named.insert(named.end(), c.named.begin(), c.named.end());
      invoked.insert(invoked.end(), c.invoked.begin(), c.invoked.end());
      CliResult by_name = Run(named), by_id = Run(invoked);
      const std::string label = c.named[0] + (json ? " --json" : "");
      EXPECT_EQ(by_name.status, c.status) << label << "\n" << by_name.Describe();
      EXPECT_EQ(by_id.status, by_name.status) << label;
      EXPECT_EQ(by_id.out, by_name.out) << label;
      EXPECT_EQ(by_id.err, by_name.err) << label;
      if (c.status != 0) {
        EXPECT_EQ(by_name.out, "") << label;
        EXPECT_EQ(by_name.err, kNotSupported) << label;
      } else if (json) {
        auto parsed = OneJsonLine(by_name);
        ASSERT_TRUE(parsed) << label << ": " << by_name.out;
        EXPECT_EQ(parsed->Keys(), (std::vector<std::string>{"result", "byref"})) << label;
      } else {
        EXPECT_THAT(by_name.out, HasSubstr(c.shows)) << label;
        EXPECT_EQ(by_name.err, "") << label;
      }
    }
  }
}

TEST_F(ClientCli, CallJsonNamesByReferenceValuesAndMarkers) {
  CliResult r = Run({"--json", "call", "gvarGetPagerSettingsEx", "1", "null"});
  ASSERT_EQ(r.status, 0) << r.Describe();
  auto parsed = OneJsonLine(r);
  ASSERT_TRUE(parsed) << r.out;
  const Json* result = parsed->Find("result");
  const Json* byref = parsed->Find("byref");
  ASSERT_TRUE(result && byref);
  EXPECT_EQ(Strings(*result),
            (std::vector<std::string>{"TCPPort=444", "HostName=127.0.0.1", "Timeout=20"}));
  ASSERT_EQ(byref->Keys(), std::vector<std::string>{"lvarParams"});
  const Json& params = byref->members[0].second;
  ASSERT_TRUE(params.Find("kind"));
  EXPECT_EQ(params.Find("kind")->text, "Null");

  // A Boolean result is a JSON Boolean, not text.
  CliResult set = Run({"--json", "call", "gblnSetPagerSettingsEx", "Default", "[\"Index=0\"]"});
  auto boolean = OneJsonLine(set);
  ASSERT_TRUE(boolean) << set.out;
  ASSERT_TRUE(boolean->Find("result"));
  EXPECT_TRUE(boolean->Find("result")->Is(Json::Kind::kBool));
  EXPECT_TRUE(boolean->Find("result")->boolean);
}

TEST_F(ClientCli, ServerErrorsArePrintedWithTheirCode) {
  struct Case {
    std::vector<std::string> args;  // after "call"
    const char* code;
    const char* message;
  } cases[] = {
      {{"--class", "cRegistry", "Anything"}, "E429", "QzNotes: Can't create object"},
      {{"gblnSetSettings", "[\"1\"]"}, "E9", "cNotify:gblnSetSettings: Subscript out of range"},
      // Through Invoke extra arguments are sent, so the server's own count check answers.
      {{"0x60030018", "1", "2"},
       "E450",
       "QzNotes: Wrong number of arguments or invalid property assignment"},
  };
  for (const Case& c : cases) {
    for (bool json : {false, true}) {
      std::vector<std::string> args = {"call"};
      if (json) args.insert(args.begin(), "--json");
      args.insert(args.end(), c.args.begin(), c.args.end());
      CliResult r = Run(args);
      EXPECT_EQ(r.status, 1) << c.args[0] << "\n" << r.Describe();
      EXPECT_EQ(r.out, "") << c.args.back();
      if (!json) {
        EXPECT_EQ(r.err, "error " + std::string(c.code) + ": " + c.message + "\n") << c.args.back();
        continue;
      }
      // With --json the error is one JSON object on standard error.
      auto error = JsonReader::Parse(r.err);
      ASSERT_TRUE(error && error->Find("error")) << r.err;
      const Json& e = *error->Find("error");
      EXPECT_EQ(e.Keys(), (std::vector<std::string>{"kind", "code", "message"})) << r.err;
      EXPECT_EQ(e.Find("kind")->text, "server");
      EXPECT_EQ(e.Find("code")->text, c.code);
      EXPECT_EQ(e.Find("message")->text, c.message);
    }
  }
}

TEST_F(ClientCli, UsageErrorsExitTwoAndChangeNothing) {
  const std::vector<std::vector<std::string>> before_the_server = {
      {},
      {"bogus"},
      {"help", "bogus"},
      {"send"},
      {"send", "-p", "5551234", "-m", "pager before its message"},
      {"send", "-m", "x", "-e", "ops@example.org"},
      {"send", "-m", "x", "--wait", "--callback-host", "monitor.example.org"},
      {"send", "-m", "x", "--timeout", "5"},
      {"send", "-m", "x", "--wait", "--timeout", "0"},
      {"send", "-m", "x", "--wait", "--hold", "1"},
      {"send", "-m", "x", "--group"},
      {"send", "-m", "x", "stray"},
      {"send", "-m"},
      {"settings", "frob"},
      {"settings", "get"},
      {"settings", "get", "nogroup"},
      {"settings", "set", "Default"},
      {"settings", "set", "Default", "Index=1", "no-equals"},
      {"settings", "set", "Default", "Index=1", "=value"},
      {"settings", "show", "extra"},
      {"call"},
      {"call", "--class", "cNothing", "gvarGetSettings"},
      {"--system", "settings"},  // a second bus choice besides --address
  };
  // Detected once the client has read the object's operations.
  const std::vector<std::vector<std::string>> at_the_server = {
      {"call", "NoSuchOperation"},
      {"call", "gvarGetPagerSettings", "not-a-number"},
      {"call", "gvarGetPagerSettings", "1", "2"},
      {"call", "gvarGetPagerSettings"},
  };
  const char* files[] = {"QzNotes.ini", "QzPage.ini", "QzSNPP.ini", "QzSMS.ini"};
  std::vector<std::string> contents;
  for (const char* f : files) contents.push_back(folder_.Read(f));

  for (const auto* list : {&before_the_server, &at_the_server}) {
    for (const auto& args : *list) {
      CliResult r = Run(args);
      const std::string label = args.empty() ? "(nothing)" : args.back();
      EXPECT_EQ(r.status, 2) << label << "\n" << r.Describe();
      EXPECT_THAT(r.err, StartsWith("qznotes: ")) << label;
      EXPECT_EQ(r.out, "") << label;
    }
  }
  for (size_t k = 0; k < std::size(files); ++k)
    EXPECT_EQ(folder_.Read(files[k]), contents[k]) << files[k];
  // Only the commands that reached the server made objects, and gave them back.
  EXPECT_TRUE(DaemonLogged(": released", at_the_server.size())) << daemon_.Log();
  EXPECT_EQ(Count(daemon_.Log(), ": released"), at_the_server.size()) << daemon_.Log();
}

TEST_F(ClientCli, EveryCommandGivesItsObjectBack) {
  const std::vector<std::vector<std::string>> commands = {
      {"settings"},
      {"settings", "get", "sms"},
      {"settings", "set", "Default", "Index=0"},
      {"call", "gvarGetSettings"},
      {"call", "0x6003000A"},
      {"call", "GetMessageProfiles"},
      {"send", "-m", "x", "--hold", "0"},
  };
  for (const auto& args : commands) {
    CliResult r = Run(args);
    EXPECT_NE(r.status, 2) << args[0] << "\n" << r.Describe();
  }
  // Released by the client's own call, not when its connection left: each
  // command's own object (objects are numbered at random, so count them).
  EXPECT_TRUE(DaemonLogged(": released", commands.size())) << daemon_.Log();
  const std::string log = daemon_.Log();
  const std::regex released_line("cNotify/([0-9]+): released");
  std::set<std::string> released;
  for (auto it = std::sregex_iterator(log.begin(), log.end(), released_line);
       it != std::sregex_iterator(); ++it)
    released.insert((*it)[1].str());
  EXPECT_EQ(released.size(), commands.size()) << log;
  EXPECT_THAT(daemon_.Log(), ::testing::Not(HasSubstr("left the bus")));
}

TEST_F(ClientCli, BusOptionsMayStandAmongTheCommandsOptions) {
  struct Case {
    std::vector<std::string> usual;
    std::vector<std::string> among;  // the same command, bus options further on
  } cases[] = {
      {{"--address", bus_.address(), "--json", "settings", "get", "snpp"},
       {"settings", "get", "--json", "snpp", "--address", bus_.address()}},
      {{"--address", bus_.address(), "call", "--class", "cNotify", "gvarGetSettings"},
       {"call", "--class", "cNotify", "--address", bus_.address(), "gvarGetSettings"}},
      {{"--address", bus_.address(), "--dest", kName, "call", "gvarGetPagerSettings", "3"},
       {"call", "--dest", kName, "--address", bus_.address(), "gvarGetPagerSettings", "3"}},
  };
  for (const Case& c : cases) {
    CliResult usual = RunCli(c.usual), among = RunCli(c.among);
    EXPECT_EQ(usual.status, 0) << usual.Describe();
    EXPECT_FALSE(usual.out.empty());
    EXPECT_EQ(among.status, usual.status) << among.Describe();
    EXPECT_EQ(among.out, usual.out);
  }
}

TEST(ClientCliNoServer, UnreachableBusOrServerExitsTwo) {
  PrivateBus bus;  // a live bus where nobody serves the name
  ProgramFolder scratch(false);
  const std::string nowhere = "unix:path=" + (scratch.path() / "no-such-socket").string();
  const std::vector<std::vector<std::string>> commands = {
      {"settings"},
      {"settings", "get", "snpp"},
      {"settings", "set", "Default", "Index=1"},
      {"send", "-m", "x", "--hold", "0"},
      {"send", "-m", "x", "--wait", "--timeout", "30"},
      {"call", "gvarGetSettings"},
  };
  for (const std::string& address : {nowhere, bus.address()}) {
    for (const auto& command : commands) {
      std::vector<std::string> args = {"--address", address};
      args.insert(args.end(), command.begin(), command.end());
      CliResult r = RunCli(args);
      EXPECT_EQ(r.status, 2) << address << " " << command[0] << "\n" << r.Describe();
      EXPECT_THAT(r.err, StartsWith("qznotes: ")) << address << " " << command[0];
      EXPECT_EQ(r.out, "") << address << " " << command[0];
    }
  }
}

TEST(ClientCliNoServer, HelpForEachCommandNeedsNoBus) {
  struct Case {
    std::vector<std::string> args;
    const char* usage;
  } cases[] = {
      {{"--help"}, "Usage: qznotes [BUS OPTIONS]"},
      {{"-h"}, "Usage: qznotes [BUS OPTIONS]"},
      {{"help"}, "Usage: qznotes [BUS OPTIONS]"},
      {{"help", "send"}, "Usage: qznotes send"},
      {{"send", "--help"}, "Usage: qznotes send"},
      {{"send", "-m", "x", "-h"}, "Usage: qznotes send"},
      {{"help", "settings"}, "Usage: qznotes settings"},
      {{"settings", "--help"}, "Usage: qznotes settings"},
      {{"help", "call"}, "Usage: qznotes call"},
      {{"call", "--help"}, "Usage: qznotes call"},
      {{"--json", "call", "-h"}, "Usage: qznotes call"},
  };
  // A socket that does not exist: help must not try to reach it.
  ProgramFolder scratch(false);
  const std::string nowhere = "unix:path=" + (scratch.path() / "no-such-socket").string();
  std::map<std::string, std::string> text_of;
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--address", nowhere};
    args.insert(args.end(), c.args.begin(), c.args.end());
    CliResult r = RunCli(args);
    EXPECT_EQ(r.status, 0) << c.args.back() << "\n" << r.Describe();
    EXPECT_THAT(r.out, StartsWith(c.usage)) << c.args.back();
    EXPECT_EQ(r.err, "");
    // Both spellings of a command's help print the same text.
    auto [it, fresh] = text_of.emplace(c.usage, r.out);
    if (!fresh) {
      EXPECT_EQ(r.out, it->second) << c.args.back();
    }
  }
  EXPECT_EQ(text_of.size(), 4u);
  for (const char* command : {"send", "settings", "call"})
    EXPECT_THAT(text_of["Usage: qznotes [BUS OPTIONS]"],
                HasSubstr(std::string("\n  ") + command + " "));
}

}  // namespace
}  // namespace qz::testing
