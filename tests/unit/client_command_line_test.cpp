// How qznotes reads its command line: what each command line asks for, the
// one-line refusals of what cannot be used, help, and what a send warns about.
#include "client/command_line.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <vector>

#include "client/send_advice.h"

namespace qz::client {
namespace {

using Texts = std::vector<std::string>;

// `line` split and unquoted as a shell would, then parsed.
ParsedCommandLine Parse(const std::string& line) {
  char** argv = nullptr;
  if (!line.empty()) {
    EXPECT_TRUE(g_shell_parse_argv(line.c_str(), nullptr, &argv, nullptr)) << line;
  }
  const Texts words(argv, argv + (argv ? g_strv_length(argv) : 0));
  g_strfreev(argv);
  return ParseCommandLine(std::vector<std::string_view>(words.begin(), words.end()));
}

std::string Joined(const Texts& items, const char* separator = " ") {
  std::string text;
  for (size_t k = 0; k < items.size(); ++k) text += (k ? separator : "") + items[k];
  return text;
}

// What a send asks for: "text <emails> <pagers>" per message, groups apart
// by " | ", then the options that differ from the defaults.
std::string Shown(const SendCommand& s) {
  std::string text = "send";
  for (const Group& g : s.groups) {
    text += text == "send" ? " " : " | ";
    for (size_t k = 0; k < g.messages.size(); ++k)
      text += (k ? ", " : "") + g.messages[k].text + " <" + Joined(g.messages[k].emails) + "> <" +
              Joined(g.messages[k].pagers) + ">";
  }
  const MailOptions& m = s.mail;
  if (m.given)
    text += " mail=" + Joined({m.subject, m.from, m.profile, m.smtp_server}, "/") +
            (m.prefer_smtp ? " prefer-smtp" : "");
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
  struct Case {
    const char* line;
    const char* shown;
  } cases[] = {
      // Recipients belong to the latest message of the current group.
      {"send -m 'disk full' -p 555 --email a@x -e b@x -s Alert --message 'cpu hot' --group -m "
       "'door open' -p 777 -p 888",
       "send disk full <a@x b@x> <555>, cpu hot <> <> | door open <> <777 888> mail=Alert/// "
       "hold=3"},
      {"send -m --not-an-option -p -1", "send --not-an-option <> <-1> hold=3"},
      {"send '--message=-5 degrees' -g -m b --hold 0", "send -5 degrees <> <> | b <> <> hold=0"},
      // Bus options may stand among a command's own.
      {"--system send -m x --subject Cold --from a@x --profile Ops --smtp-server mail.x "
       "--prefer-smtp --json --test-id T-1 --wait --timeout 5 --dest org.test.Q",
       "system json dest=org.test.Q send x <> <> mail=Cold/a@x/Ops/mail.x prefer-smtp wait=5 "
       "id=T-1"},
      {"send -m x -w --callback-host mon.x",
       "error: --wait and --callback-host exclude each other"},
      {"send -m x --callback-host mon.x", "send x <> <> callback=mon.x hold=3"},
      {"send -m x --prefer-smtp -w", "send x <> <> mail=/// prefer-smtp wait=30"},
      {"settings", "show"},
      {"settings get snpp --json", "json get snpp"},
      {"--address unix:path=/b settings set 'Pager Terminal' A=2 B= C=a=b",
       "address=unix:path=/b set [Pager Terminal] A=2 B= C=a=b"},
      {"settings set --force Default Index=7", "set [Default] Index=7 force"},
      {"settings set Default Index=7 -f", "set [Default] Index=7 force"},
      {"settings set Gateway -- -x=1", "set [Gateway] -x=1"},  // a setting, not an option
      // Options come before the operation; after it, words are its arguments.
      {"call --class qznotes.CPAGER SendPage --json -1", "cPager.SendPage(--json, -1)"},
      {"call -- -x", "cNotify.-x()"},
      {"call --list", "list cNotify"},
      {"call -l qznotes.cpager", "list cPager"},
      {"call -c cPager -l", "list cPager"},
      {"test-gateway --timeout 90 2 +15551234", "test 2 +15551234 timeout=90"},
      {"--json test-gateway 0 -- -5", "json test 0 -5 timeout=0"},
      {"test-gateway -1 x", "test -1 x timeout=0"},
      // Help wins over whatever follows it.
      {"--help", "help "},
      {"send -m x --help --frobnicate", "help send"},
  };
  for (const Case& c : cases) EXPECT_EQ(Shown(c.line), c.shown) << c.line;
}

TEST(ClientCommandLine, RefusalsSayWhatIsWrong) {
  const std::string kCommands =
      " (send, settings, call, test-gateway, profiles, watch, journal, help)";
  const std::string kGroups =
      "terminal-short, terminal, gateways, sms, terminal-ex, snpp, gateways-ex, sms-ex";
  const std::string kSeconds = "--timeout takes whole seconds from 1 to 86400";
  struct Case {
    std::string line;
    std::string error;
  } cases[] = {
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
      {"send -m a -g -e x@y -s S", "--email must follow the --message it belongs to"},
      {"send -m a -g", "group 2 has no --message"},
      {"send -m", "Missing argument for -m"},
      // Addresses without a subject would be dropped by the server without a word.
      {"send -m a -e x@y", "--email needs --subject"},
      {"send -m a --timeout 5", "--timeout needs --wait"},
      {"send -m a --wait --timeout 0", kSeconds},
      {"send -m a --wait --timeout 5s", kSeconds},
      {"send -m a --wait --hold 1", "--hold is for sends without --wait"},
      {"send -m a --frobnicate", "Unknown option --frobnicate"},
      {"send -m a stray", "unexpected stray (message texts follow --message)"},
      {"send -m \xc3\x28", "the value of -m is not valid UTF-8"},
      {"send --message=\xc3\x28", "the value of --message is not valid UTF-8"},
      {"settings get", "settings get takes one group: " + kGroups},
      {"settings get nogroup", "no settings group nogroup (" + kGroups + ")"},
      {"settings set Default", "settings set takes a section and at least one KEY=VALUE"},
      // The server would raise after partial writes.
      {"settings set Default Index", "'Index' is not KEY=VALUE"},
      {"settings set Default =1", "'=1' has no key"},
      {"settings show extra", "settings show takes no arguments"},
      {"settings drop", "settings has no action drop (show, get, set)"},
      {"settings get --force snpp", "--force belongs to settings set"},
      {"call", "call needs an operation name or dispatch identifier"},
      {"call x \xc3\x28", "an argument is not valid UTF-8"},
      {"call --class cEmail x", "no class cEmail (cNotify, cPager)"},
      {"call --list cNotify x", "call --list takes at most a class"},
      {"test-gateway 1", "test-gateway takes INDEX and NUMBER"},
      {"test-gateway one 2", "INDEX must be a whole number (0, 1 or 2), not one"},
      {"test-gateway 40000 2", "INDEX must be a whole number (0, 1 or 2), not 40000"},
      {"test-gateway --timeout 0 1 2", kSeconds},
  };
  for (const Case& c : cases) EXPECT_EQ(Shown(c.line), "error: " + c.error) << c.line;
}

TEST(ClientCommandLine, SendWarnsOncePerPartThatGoesNowhere) {
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
    const char* line;
    Texts warnings;
  } cases[] = {
      {"send -m x -p 555", {}},
      {"send -m x -e a@x -s S --smtp-server mail --from q@x", {}},
      {"send -m x -e a@x -s S --profile Ops", {}},
      {"send -m x", {kNobody}},
      {"send -m a -g -m b", {kNobody}},  // one warning, not one per message
      {"send -m a -p 5 -m b -g -m c -p 6",
       {"message 2 of group 1 has no recipient: it will not be delivered"}},
      {"send -m x -e a@x -s S", {kNoRoute}},
      {"send -m x -e a@x -s S --smtp-server mail", {kNoRoute}},
      {"send -m x -e a@x -s S --from q@x", {kNoRoute}},
      {"send -m x -p 5 --wait --timeout 1", {kLate}},
      {"send -m x -p 5 --wait --timeout 2", {}},
      {"send -m x --wait --timeout 1", {kNobody, kLate}},
  };
  for (const Case& c : cases) {
    const ParsedCommandLine parsed = Parse(c.line);
    ASSERT_EQ(parsed.error, "") << c.line;
    EXPECT_EQ(SendWarnings(std::get<SendCommand>(parsed.invocation.command)), c.warnings) << c.line;
  }
}

}  // namespace
}  // namespace qz::client
