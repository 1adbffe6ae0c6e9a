// How qznotes reads its command line: what each command line asks for (down
// to the request arrays a send builds), the one-line refusals of what cannot
// be used, and what a send or a settings write warns about before it goes to
// the server. Before it reaches a remote server: the token files it refuses,
// the request body it builds from `send` and how it splits the server's
// event stream. And which program folder a running daemon uses, read from its
// command line and environment as /proc shows them.
#include "client/command_line.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "client/api_json.h"
#include "client/daemon_folder.h"
#include "client/http_api_client.h"
#include "client/request_arrays.h"
#include "client/send_advice.h"
#include "client/settings_advice.h"
#include "client/token_file.h"
#include "support/temp_folder.h"
#include "support/variant_text.h"

namespace qz::client {
namespace {

using Texts = std::vector<std::string>;

// `line` split and unquoted as a shell would, then parsed.
ParsedCommandLine Parse(const std::string& line) {
  char** argv = nullptr;
  EXPECT_TRUE(line.empty() || g_shell_parse_argv(line.c_str(), nullptr, &argv, nullptr)) << line;
  const Texts words(argv, argv + (argv ? g_strv_length(argv) : 0));
  g_strfreev(argv);
  return ParseCommandLine(std::vector<std::string_view>(words.begin(), words.end()));
}

std::string Joined(const Texts& items, const char* separator = " ") {
  std::string text;
  for (size_t k = 0; k < items.size(); ++k) text += (k ? separator : "") + items[k];
  return text;
}

// A request array without its wrapping: "[[disk full, cpu], [door]]".
std::string Bare(const VariantPtr& array) {
  std::string bare;
  for (char c : testing::PrintedVariant(array.get()))
    if (c != '<' && c != '>' && c != '\'') bare += c;
  for (size_t at; (at = bare.find("@av ")) != std::string::npos;) bare.erase(at, 4);
  return bare;
}

// What a send asks for: its four request arrays (messages, addresses, pager
// numbers, mail options), then the options that differ from the defaults.
std::string Shown(const SendCommand& s) {
  const RequestArrays a = BuildRequestArrays(s);
  std::string text =
      "send " + Bare(a.notes) + " " + Bare(a.email) + " " + Bare(a.pager) + " " + Bare(a.any);
  if (!s.callback_host.empty()) text += " callback=" + s.callback_host;
  text += s.wait ? " wait=" + std::to_string(s.timeout_seconds)
                 : " hold=" + std::to_string(s.hold_seconds);
  return text + (s.test_id.empty() ? "" : " id=" + s.test_id);
}

// One line for what `line` asks for: the bus options that differ from the
// defaults, then the command; or the refusal.
std::string Shown(const std::string& line) {
  const ParsedCommandLine parsed = Parse(line);
  if (!parsed.error.empty()) return "error: " + parsed.error;
  const GlobalOptions& g = parsed.invocation.global;
  std::string text = g.bus == BusKind::kSystem    ? "system "
                     : g.bus == BusKind::kAddress ? "address=" + g.address + " "
                                                  : "";
  text +=
      (g.json ? "json " : "") + (g.destination != kBusName ? "dest=" + g.destination + " " : "");
  const Command& command = parsed.invocation.command;
  using Action = SettingsCommand::Action;
  if (const auto* send = std::get_if<SendCommand>(&command)) return text + Shown(*send);
  if (const auto* help = std::get_if<HelpCommand>(&command)) return text + "help " + help->topic;
  if (const auto* s = std::get_if<SettingsCommand>(&command))
    return text + (s->action == Action::kShow ? "show"
                   : s->action == Action::kGet
                       ? "get " + s->group
                       : "set [" + s->section + "] " + Joined(s->assignments) +
                             (s->force ? " force" : ""));
  if (const auto* c = std::get_if<CallCommand>(&command))
    return text +
           (c->list ? "list " + c->class_name
                    : c->class_name + "." + c->operation + "(" + Joined(c->arguments, ", ") + ")");
  if (const auto* t = std::get_if<TestGatewayCommand>(&command))
    return text + "test " + std::to_string(t->index) + " " + t->number +
           " timeout=" + std::to_string(t->timeout_seconds);
  return text + "other";
}

TEST(ClientCommandLine, WhatEachCommandLineAsksFor) {
  const std::pair<const char*, const char*> cases[] = {
      // Recipients belong to the latest message of the current group; a
      // message without any keeps its empty list, so list k is message k's.
      {"send -m 'disk full' -p 555 --email a@x -e b@x -s Alert --message 'cpu hot' --group -m "
       "'door open' -p 777 -p 888",
       "send [[disk full, cpu hot], [door open]] [[[a@x, b@x], []], [[]]] [[[555], []], [[777, "
       "888]]] [Alert, , , , False] hold=3"},
      {"send -m --not-an-option -p -1",
       "send [[--not-an-option]] [[[]]] [[[-1]]] byte 0x00 hold=3"},
      {"send '--message=-5 degrees' -g -m b --hold 0",
       "send [[-5 degrees], [b]] [[[]], [[]]] [[[]], [[]]] byte 0x00 hold=0"},
      // Bus options may stand among a command's own.
      {"--system send -m x --subject Cold --from a@x --profile Ops --smtp-server mail.x "
       "--prefer-smtp --json --test-id T-1 --wait --timeout 5 --dest org.test.Q",
       "system json dest=org.test.Q send [[x]] [[[]]] [[[]]] [Cold, a@x, Ops, mail.x, True] wait=5 "
       "id=T-1"},
      {"send -m x -w --callback-host mon.x",
       "error: --wait and --callback-host exclude each other"},
      {"send -m x --callback-host mon.x",
       "send [[x]] [[[]]] [[[]]] byte 0x00 callback=mon.x hold=3"},
      {"send -m x --prefer-smtp -w", "send [[x]] [[[]]] [[[]]] [, , , , True] wait=30"},
      {"settings get snpp --json", "json get snpp"},
      {"--address unix:path=/b settings set 'Pager Terminal' A=2 B= C=a=b",
       "address=unix:path=/b set [Pager Terminal] A=2 B= C=a=b"},
      {"settings set Default Index=7 -f", "set [Default] Index=7 force"},
      // Options come before the operation; after it, words are its arguments.
      {"call --class qznotes.CPAGER SendPage --json -1", "cPager.SendPage(--json, -1)"},
      {"call -- -x", "cNotify.-x()"},
      {"call --list", "list cNotify"},
      {"test-gateway --timeout 90 2 +15551234", "test 2 +15551234 timeout=90"},
      {"--json test-gateway 0 -- -5", "json test 0 -5 timeout=0"},
      {"test-gateway -1 x", "test -1 x timeout=0"},
      // --url and its options stand before or after the command's name.
      {"--url https://h:8443 --token-file t send -m x -p 5",
       "send [[x]] [[[]]] [[[5]]] byte 0x00 hold=3"},
      {"status --json --url https://h:8443 --token-file t --cacert ca.pem", "json other"},
      // Help wins over whatever follows it.
      {"--help", "help "},
      {"send -m x --help --frobnicate", "help send"},
  };
  for (const auto& [line, shown] : cases) EXPECT_EQ(Shown(line), shown) << line;
}

TEST(ClientCommandLine, RefusalsSayWhatIsWrong) {
  const std::string kCommands =
      " (send, settings, call, test-gateway, profiles, watch, journal, status, tokens, help)";
  const std::string kGroups =
      "terminal-short, terminal, gateways, sms, terminal-ex, snpp, gateways-ex, sms-ex";
  const std::string kSeconds = "--timeout takes whole seconds from 1 to 86400";
  const std::string kUrl = "--url https://h:8443 --token-file t ";
  const std::pair<std::string, std::string> cases[] = {
      {"", "no command given" + kCommands},
      {"frob", "no command frob" + kCommands},
      {"help frob", "no command frob" + kCommands},
      {"help send call", "help takes one command"},
      {"--frob send", "Unknown option --frob"},
      {"--system --address unix:path=/x send -m a",
       "choose one of --session, --system and --address"},
      {"send -m a --address=", "--address needs a bus address"},
      {"send", "send needs at least one --message"},
      {"send -p 555", "--pager must follow the --message it belongs to"},
      {"send -m a -g", "group 2 has no --message"},
      {"send -m", "Missing argument for -m"},
      // Addresses without a subject would be dropped by the server without a word.
      {"send -m a -e x@y", "--email needs --subject"},
      {"send -m a --timeout 5", "--timeout needs --wait"},
      {"send -m a --wait --timeout 0", kSeconds},
      {"send -m a --wait --hold 1", "--hold is for sends without --wait"},
      {"send -m a stray", "unexpected stray (message texts follow --message)"},
      {"send -m \xc3\x28", "the value of -m is not valid UTF-8"},
      {"settings get", "settings get takes one group: " + kGroups},
      {"settings get nogroup", "no settings group nogroup (" + kGroups + ")"},
      {"settings set Default", "settings set takes a section and at least one KEY=VALUE"},
      // The server would raise after partial writes.
      {"settings set Default Index", "'Index' is not KEY=VALUE"},
      {"settings set Default =1", "'=1' has no key"},
      {"settings show extra", "settings show takes no arguments"},
      {"status now", "status takes no argument, not now"},
      {"settings drop", "settings has no action drop (show, get, set)"},
      {"settings get --force snpp", "--force belongs to settings set"},
      {"call", "call needs an operation name or dispatch identifier"},
      {"call x \xc3\x28", "an argument is not valid UTF-8"},
      {"call --class cEmail x", "no class cEmail (cNotify, cPager)"},
      {"call --list cNotify x", "call --list takes at most a class"},
      {"test-gateway 1", "test-gateway takes INDEX and NUMBER"},
      {"test-gateway 40000 2", "INDEX must be a whole number (0, 1 or 2), not 40000"},
      {kUrl + "journal", "journal is D-Bus only: --url reaches send, test-gateway, watch, status"},
      {kUrl + "--system status", "--url replaces the bus options (--system, --address, --dest)"},
      {"--url h:8443 --token-file t status",
       "--url takes an https:// (or http://) URL, not h:8443"},
      {"--url https://h status", "--url needs --token-file FILE"},
      {"--cacert ca.pem status", "--token-file, --cacert and --insecure go with --url"},
      {kUrl + "--cacert ca.pem --insecure status", "--cacert and --insecure exclude each other"},
  };
  for (const auto& [line, error] : cases) EXPECT_EQ(Shown(line), "error: " + error) << line;
}

// What a send or a settings write warns about, one warning a line.
std::string Warned(const std::string& line) {
  const ParsedCommandLine parsed = Parse(line);
  EXPECT_EQ(parsed.error, "") << line;
  if (const auto* send = std::get_if<SendCommand>(&parsed.invocation.command))
    return Joined(SendWarnings(*send), "\n");
  const auto& set = std::get<SettingsCommand>(parsed.invocation.command);
  return Joined(SettingsWarnings(set.section, set.assignments), "\n");
}

TEST(ClientCommandLine, WarnsOncePerPartTheServerWillNotDeliverOrRead) {
  const std::string kNobody =
      "no message has a recipient (--email or --pager after its --message): nothing will be "
      "delivered";
  const std::string kNoRoute =
      "--email without a mail route (--smtp-server with --from, or --profile): no mail will be "
      "sent";
  const std::string kLate =
      "--timeout 1 is not longer than the server's dispatch delay of 1 s: the callback will come "
      "too late";
  const std::string kGateways =
      ": the server pages through gateway 0 (pager terminal), 1 (SNPP) or 2 (SMS) only; with "
      "any other Index every paging fails";
  const std::pair<std::string, std::string> cases[] = {
      {"send -m x -p 555", ""},
      {"send -m x -e a@x -s S --smtp-server mail --from q@x", ""},
      {"send -m x -e a@x -s S --profile Ops", ""},
      {"send -m x", kNobody},
      {"send -m a -g -m b", kNobody},  // one warning, not one per message
      {"send -m a -p 5 -m b -g -m c -p 6",
       "message 2 of group 1 has no recipient: it will not be delivered"},
      {"send -m x -e a@x -s S", kNoRoute},
      {"send -m x -e a@x -s S --smtp-server mail", kNoRoute},
      {"send -m x -p 5 --wait --timeout 1", kLate},
      {"send -m x -p 5 --wait --timeout 2", ""},
      {"send -m x --wait --timeout 1", kNobody + "\n" + kLate},
      {"settings set Default Index=2", ""},
      {"settings set 'SNPP Paging Service' TCPPort=444 HostName=h Timeout=20", ""},
      {"settings set 'pager terminal' comport=/dev/ttyS0", ""},  // names ignore letter case
      {"settings set Default Index=3", "Index=3" + kGateways},
      {"settings set Default Index=",
       "Index=" + kGateways + " and a delivery stops at its first group"},
      {"settings set Nowhere Key=1",
       "the server reads no section [Nowhere] (it reads Default, Gateway, Pager Terminal, SNPP "
       "Paging Service, SMS, SMSMapping)"},
      {"settings set default Index=1",
       "[default] is not [Default]: only that exact name is written to QzNotes.ini"},
      {"settings set 'SNPP Paging Service' Colour=red",
       "the server reads no key Colour in [SNPP Paging Service] (it reads TCPPort, HostName, "
       "Timeout)"},
      {"settings set Default path=x.ini",
       "the server reads no key path in [Default] (it reads Index)"},
      {"settings set 'SNPP Paging Service' TCPPort=http Timeout=soon",
       "TCPPort=http: the SNPP channel needs a TCP port, a whole number from 1 to 65535\n"
       "Timeout=soon: not a number, so the SNPP channel waits 20 seconds"},
      {"settings set SMS Access=x", "Access=x: the SMS gateway's Access must be a whole number"},
      {"settings set Gateway 0=" + std::string(100, 'a'),
       "0: the value has 100 characters; the server reads back only the first 99"},
  };
  for (const auto& [line, warnings] : cases) EXPECT_EQ(Warned(line), warnings) << line;
}

TEST(ClientRemote, TokenFileIsOneLineReadableByItsOwnerAlone) {
  const testing::TempFolder folder;
  struct Case {
    const char* text;
    mode_t mode;
    std::string read;  // the token, or the refusal with @ for the file's path
  };
  const Case cases[] = {
      {"s3cret\n", 0600, "s3cret"},
      {"s3cret\r\n", 0400, "s3cret"},
      {"s3cret\n", 0640,
       "the token file @ can be read by others (mode 0640); make it private: chmod 600 @"},
      {"", 0600, "the token file @ is empty"},
      {"one\ntwo\n", 0600, "the token file @ must hold the token alone on one line"},
      {"one two", 0600, "the token file @ must hold the token alone on one line"},
  };
  for (const Case& c : cases) {
    const std::string path = folder.Write("token", c.text);
    chmod(path.c_str(), c.mode);
    const TokenRead got = ReadTokenFile(path);
    std::string want = c.read;
    for (size_t at; (at = want.find('@')) != std::string::npos;) want.replace(at, 1, path);
    EXPECT_EQ(got.error.empty() ? got.token : got.error, want) << std::oct << c.mode;
  }
  EXPECT_TRUE(ReadTokenFile(folder.File("none")).error.starts_with("cannot read the token file"));
}

TEST(ClientRemote, RequestBodyListsRecipientsInParallelAndEventsSplitAtBlankLines) {
  const std::pair<std::string, std::string> cases[] = {
      {"send --test-id T -m a -p 1 -p 2 -m b -e x@y -s S -g -m c",
       R"({"testId":"T","groups":[{"messages":["a","b"],"emails":[[],["x@y"]],"pagers":[["1","2"],[]]},)"
       R"({"messages":["c"],"emails":[[]],"pagers":[[]]}],"subject":"S","mailFrom":"","profile":"",)"
       R"("smtpServer":""})"},
      {"send --test-id T -m \"say \\\"hi\\\"\" -p 1 --callback-host https://m.x/cb",
       R"({"testId":"T","groups":[{"messages":["say \"hi\""],"emails":[[]],"pagers":[["1"]]}],)"
       R"("callback":"https://m.x/cb"})"},
  };
  for (const auto& [line, body] : cases) {
    const ParsedCommandLine parsed = Parse(line);
    const auto& send = std::get<SendCommand>(parsed.invocation.command);
    EXPECT_EQ(RequestJson(send, send.test_id), body) << line;
  }
  // The server's event stream splits at blank lines wherever chunks end.
  EventReader reader;
  for (std::string_view chunk :
       {": keep-alive\n\nevent: deliv", "ered\r\ndata: {\"a\":\r\ndata:1}\r",
        "\n\r\nid: 3\n\ndata: x\n\nevent: delivered\n"})
    reader.Feed(chunk);
  std::vector<std::string> got;
  while (std::optional<ServerEvent> e = reader.Take()) got.push_back(e->name + "|" + e->data);
  EXPECT_EQ(got, (std::vector<std::string>{"delivered|{\"a\":\n1}", "message|x"}));
}

TEST(DaemonFolder, CommandLineBeforeEnvironmentRelativeToTheDaemonsDirectory) {
  const struct {
    const char* why;
    std::vector<std::string> argv, environment;
    std::optional<std::string> folder;
  } cases[] = {
      {"--folder DIR", {"qznotesd", "--folder", "/srv/qz"}, {}, "/srv/qz"},
      {"--folder=DIR, relative", {"qznotesd", "--folder=qz/../notes"}, {}, "/home/u/notes"},
      {"the command line wins", {"qznotesd", "--folder", "a"}, {"QZNOTES_FOLDER=/b"}, "/home/u/a"},
      {"the environment", {"qznotesd"}, {"HOME=/x", "QZNOTES_FOLDER=/var/qz"}, "/var/qz"},
      {"an empty variable names none", {"qznotesd"}, {"QZNOTES_FOLDER="}, std::nullopt},
      {"the last --folder counts", {"qznotesd", "--folder", "/a", "--folder=/b"}, {}, "/b"},
      {"--folder without its value", {"qznotesd", "--folder"}, {}, std::nullopt},
      {"not an option after --", {"qznotesd", "--", "--folder=/a"}, {}, std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FolderOfDaemon(c.argv, c.environment, "/home/u"), c.folder) << c.why;
}

}  // namespace
}  // namespace qz::client
