// What the qznotes client says beyond the server's answers, run as a user
// runs it against the real daemon on a private bus: warnings before a send
// or a settings write, why a write answered false, one exit rule for False,
// errors as JSON, the operations of a class, and how to start a server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "json_reader.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class ClientWarnings : public ::testing::Test {
 protected:
  ClientWarnings() : daemon_(bus_, folder_.path(), {"--linger", "60"}) {}

  CliResult Run(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--address", bus_.address()});
    return RunCli(std::move(args));
  }

  PrivateBus bus_;
  ProgramFolder folder_;
  Daemon daemon_;
};

TEST_F(ClientWarnings, SendWarnsAndSendsAllTheSame) {
  struct Case {
    std::vector<std::string> args;  // after "send"
    std::vector<std::string> warnings;
  } cases[] = {
      {{"-m", "x", "-p", "5551234"}, {}},
      {{"-m", "x"},
       {"no message has a recipient (--email or --pager after its --message): nothing will be "
        "delivered"}},
      {{"-m", "x", "-e", "ops@example.org", "-s", "Disk"},
       {"--email without a mail route (--smtp-server with --from, or --profile): no mail will be "
        "sent"}},
      {{"-m", "x", "-e", "ops@example.org", "-s", "Disk", "--smtp-server", "127.0.0.1:1", "--from",
        "qz@example.org"},
       {}},
  };
  for (const Case& c : cases) {
    for (bool json : {false, true}) {
      std::vector<std::string> args = {"send", "--hold", "0"};
      if (json) args.insert(args.begin(), "--json");
      args.insert(args.end(), c.args.begin(), c.args.end());
      CliResult r = Run(args);
      const std::string label = c.args.back() + (json ? " --json" : "");
      EXPECT_EQ(r.status, 0) << label << "\n" << r.Describe();  // the server took it
      std::vector<std::string> said;
      for (const std::string& line : Lines(r.err)) {
        if (!json) {
          said.push_back(line.starts_with("qznotes: warning: ") ? line.substr(18) : "?" + line);
          continue;
        }
        auto parsed = JsonReader::Parse(line);
        ASSERT_TRUE(parsed && parsed->Find("warning")) << line;
        said.push_back(parsed->Find("warning")->text);
      }
      EXPECT_EQ(said, c.warnings) << label;
    }
  }
  // A --timeout the dispatch delay uses up is said before the wait begins.
  CliResult late = Run({"send", "--wait", "--timeout", "1", "-m", "x", "-p", "5551234"});
  EXPECT_THAT(late.err, ::testing::StartsWith("qznotes: warning: --timeout 1 is not longer than "
                                              "the server's dispatch delay of 1 s"))
      << late.Describe();
}

TEST_F(ClientWarnings, SettingsSetWritesWhatTheServerNeverReadsOnlyWithForce) {
  struct Case {
    std::vector<std::string> args;  // after "settings set"
    int status;
    const char* out;
    const char* err;      // part of standard error
    const char* file;     // changed file, or nullptr: nothing changes
    const char* written;  // a line the file then holds
  } cases[] = {
      {{"Default", "Index=5"},
       1,
       "false\n",
       "nothing written (settings set --force writes anyway)",
       nullptr,
       nullptr},
      {{"--force", "Default", "Index=5"},
       0,
       "true\n",
       "warning: Index=5",
       "QzNotes.ini",
       "Index=5"},
      {{"SNPP Paging Service", "Colour=red"},
       1,
       "false\n",
       "reads no key Colour",
       nullptr,
       nullptr},
      {{"-f", "SNPP Paging Service", "Colour=red"},
       0,
       "true\n",
       "reads no key Colour",
       "QzSNPP.ini",
       "Colour=red"},
      // Written anyway, and refused by the server: the client says why.
      {{"-f", "Nowhere", "Key=1"},
       1,
       "false\n",
       "not written: the \"path\" key of [Nowhere] in QzNotes.ini is missing or empty",
       nullptr,
       nullptr},
      {{"Default", "Index=0"}, 0, "true\n", "", "QzNotes.ini", "Index=0"},
  };
  const char* files[] = {"QzNotes.ini", "QzPage.ini", "QzSNPP.ini", "QzSMS.ini"};
  for (const Case& c : cases) {
    std::map<std::string, std::string> before;
    for (const char* f : files) before[f] = folder_.Read(f);
    std::vector<std::string> args = {"settings", "set"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    CliResult r = Run(args);
    const std::string label = c.args.back();
    EXPECT_EQ(r.status, c.status) << label << "\n" << r.Describe();
    EXPECT_EQ(r.out, c.out) << label;
    if (*c.err) {
      EXPECT_THAT(r.err, HasSubstr(c.err)) << label;
    } else {
      EXPECT_EQ(r.err, "") << label;
    }
    for (const char* f : files) {
      if (c.file && std::string(f) == c.file) {
        EXPECT_THAT(folder_.Read(f), HasSubstr("\n" + std::string(c.written) + "\n")) << label;
      } else {
        EXPECT_EQ(folder_.Read(f), before[f]) << label << ": " << f;
      }
    }
  }
  // The usual file of a section missing, then QzNotes.ini itself.
  std::filesystem::remove(folder_.path() / "QzPage.ini");
  CliResult page = Run({"settings", "set", "Pager Terminal", "Echo=1"});
  EXPECT_EQ(page.status, 1) << page.Describe();
  EXPECT_THAT(page.err, HasSubstr("not written: QzPage.ini, where [Pager Terminal] is kept, is not "
                                  "in the server's program folder"));
  std::filesystem::remove(folder_.path() / "QzNotes.ini");
  CliResult main = Run({"settings", "set", "Default", "Index=1"});
  EXPECT_EQ(main.status, 1) << main.Describe();
  EXPECT_THAT(main.err, HasSubstr("not written: the server's program folder has no QzNotes.ini"));
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "QzNotes.ini"));
}

TEST_F(ClientWarnings, AFalseAnswerExitsOneForCallAndSettingsSetAlike) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out;
  } cases[] = {
      {{"call", "gblnSetPagerSettingsEx", "Nowhere", "[\"K=V\"]"}, 1, "False\n"},
      {{"call", "0x60030028", "Nowhere", "[\"K=V\"]"}, 1, "False\n"},
      {{"settings", "set", "--force", "Nowhere", "K=V"}, 1, "false\n"},
      {{"call", "gblnSetPagerSettingsEx", "Default", "[\"Index=0\"]"}, 0, "True\n"},
      {{"settings", "set", "Default", "Index=0"}, 0, "true\n"},
      // A result that is no Boolean says nothing about success.
      {{"call", "gvarGetPagerSettings", "1"}, 0, "NoDimensions\n"},
  };
  for (const Case& c : cases) {
    CliResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[1] << "\n" << r.Describe();
    EXPECT_EQ(r.out, c.out) << c.args[1];
  }
}

TEST_F(ClientWarnings, EveryErrorIsOneJsonObjectWithJson) {
  ProgramFolder scratch(false);
  const std::string nowhere = "unix:path=" + (scratch.path() / "no-such-socket").string();
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* kind;
    const char* code;  // "" when none
    const char* hint;  // part of the hint; "" when none
  } cases[] = {
      {{"--address", bus_.address(), "send"}, 2, "usage", "", "qznotes --help"},
      {{"--address", bus_.address(), "send", "-m", "x", "--frob"},
       2,
       "usage",
       "",
       "qznotes --help"},
      {{"--address", bus_.address(), "call", "NoSuchOperation"},
       2,
       "usage",
       "",
       "call --list cNotify"},
      {{"--address", bus_.address(), "call", "--class", "cRegistry", "X"}, 1, "server", "E429", ""},
      {{"--address", bus_.address(), "--dest", "org.qznotes.Nobody", "settings"},
       2,
       "bus",
       "",
       "qznotesd serves org.qznotes.QzNotes"},
      {{"--address", nowhere, "settings"}, 2, "bus", "", "dbus-run-session"},
      {{"--address", bus_.address(), "settings", "set", "Default", "Index=9"},
       1,
       "not-written",
       "",
       ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--json");
    CliResult r = RunCli(args);
    const std::string label = c.args.back();
    EXPECT_EQ(r.status, c.status) << label << "\n" << r.Describe();
    const std::vector<std::string> lines = Lines(r.err);
    ASSERT_FALSE(lines.empty()) << label;
    for (const std::string& line : lines) EXPECT_TRUE(JsonReader::Parse(line)) << line;
    auto last = JsonReader::Parse(lines.back());
    ASSERT_TRUE(last && last->Find("error")) << lines.back();
    const Json& e = *last->Find("error");
    ASSERT_TRUE(e.Find("kind") && e.Find("message")) << lines.back();
    EXPECT_EQ(e.Find("kind")->text, c.kind) << label;
    EXPECT_FALSE(e.Find("message")->text.empty()) << label;
    EXPECT_EQ(e.Find("code") ? e.Find("code")->text : "", c.code) << label;
    if (*c.hint) {
      ASSERT_TRUE(e.Find("hint")) << lines.back();
      EXPECT_THAT(e.Find("hint")->text, HasSubstr(c.hint)) << label;
    } else {
      EXPECT_FALSE(e.Find("hint")) << lines.back();
    }
  }
}

TEST_F(ClientWarnings, CallListNamesEachOperationByTheIdentifierThatCallsIt) {
  CliResult list = Run({"call", "--list"});
  ASSERT_EQ(list.status, 0) << list.Describe();
  std::map<std::string, std::string> id_of;  // name -> "0x..."
  for (const std::string& line : Lines(list.out)) {
    const size_t open = line.find('(');
    ASSERT_NE(open, std::string::npos) << line;
    const std::string id = line.substr(0, line.find(' '));
    const size_t name_at = line.find_first_not_of(' ', id.size());
    id_of[line.substr(name_at, open - name_at)] = id;
  }
  EXPECT_EQ(id_of["SendMessageCallBack"], "0x60030000");
  EXPECT_EQ(id_of["gvarTestGateway"], "0x6003000D");
  EXPECT_THAT(list.out,
              HasSubstr("gvarGetPagerSettingsEx(n Request, v lvarParams) -> v, v lvarParams\n"));
  // Calling by a listed identifier is calling the operation of that name.
  for (const char* name : {"gvarGetSettings", "gvarGetPagerSettings"}) {
    std::vector<std::string> by_name = {"call", name}, by_id = {"call", id_of[name]};
    if (std::string(name) == "gvarGetPagerSettings") {
      by_name.push_back("2");
      by_id.push_back("2");
    }
    CliResult a = Run(by_name), b = Run(by_id);
    EXPECT_EQ(a.status, 0) << a.Describe();
    EXPECT_EQ(a.out, b.out) << name;
  }

  CliResult json = Run({"--json", "call", "--list", "cPager"});
  ASSERT_EQ(json.status, 0) << json.Describe();
  auto parsed = JsonReader::Parse(json.out);
  ASSERT_TRUE(parsed && parsed->Is(Json::Kind::kArray)) << json.out;
  std::vector<std::string> names;
  for (const Json& op : parsed->items) {
    ASSERT_TRUE(op.Find("name") && op.Find("dispid") && op.Find("hex")) << json.out;
    names.push_back(op.Find("name")->text);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<uint32_t>(op.Find("dispid")->number));
    EXPECT_EQ(op.Find("hex")->text, hex);
  }
  EXPECT_THAT(names, ::testing::Contains("SendPage"));
  EXPECT_THAT(names, ::testing::Not(::testing::Contains("SendMessageCallBack")));
}

TEST(ClientWarningsNoServer, TheClientSaysHowToStartAServer) {
  PrivateBus bus;  // a live bus where nobody serves the name
  CliResult r = RunCli({"--address", bus.address(), "settings"});
  EXPECT_EQ(r.status, 2) << r.Describe();
  EXPECT_EQ(r.out, "");
  const std::vector<std::string> lines = Lines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_THAT(lines[0], ::testing::StartsWith("qznotes: "));
  EXPECT_THAT(lines[1], ::testing::StartsWith("qznotes: hint: no server owns org.qznotes.QzNotes"));
  for (const std::string& way :
       {"`qznotesd --address " + bus.address() + " &`", std::string("bus activation"),
        std::string("dbus-run-session -- sh -c 'qznotesd")})
    EXPECT_THAT(lines[1], HasSubstr(way));
}

}  // namespace
}  // namespace qz::testing
