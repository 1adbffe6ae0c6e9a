#include "client/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace qz::client {
namespace {

ParsedCommandLine Parse(std::vector<std::string_view> words) { return ParseCommandLine(words); }

SendCommand ParseSendOk(std::vector<std::string_view> words) {
  words.insert(words.begin(), "send");
  ParsedCommandLine parsed = Parse(words);
  EXPECT_EQ(parsed.error, "");
  const auto* send = std::get_if<SendCommand>(&parsed.invocation.command);
  return send ? *send : SendCommand{};
}

TEST(ClientCommandLine, RecipientsBelongToTheLatestMessageOfTheCurrentGroup) {
  const SendCommand send =
      ParseSendOk({"-m", "disk full", "-p", "555", "--email", "a@x", "-e", "b@x", "-s", "Alert",
                   "--message", "cpu hot", "--group", "-m", "door open", "-p", "777", "-p", "888"});
  ASSERT_EQ(send.groups.size(), 2u);
  ASSERT_EQ(send.groups[0].messages.size(), 2u);
  EXPECT_EQ(send.groups[0].messages[0].text, "disk full");
  EXPECT_EQ(send.groups[0].messages[0].pagers, std::vector<std::string>{"555"});
  EXPECT_EQ(send.groups[0].messages[0].emails, (std::vector<std::string>{"a@x", "b@x"}));
  EXPECT_TRUE(send.groups[0].messages[1].pagers.empty());
  ASSERT_EQ(send.groups[1].messages.size(), 1u);
  EXPECT_EQ(send.groups[1].messages[0].pagers, (std::vector<std::string>{"777", "888"}));
}

TEST(ClientCommandLine, ReadsMailCallbackAndGlobalOptionsAnywhere) {
  ParsedCommandLine parsed = Parse({"--system",      "send",      "--message=-5 degrees",
                                    "--subject",     "Cold",      "--from",
                                    "a@x",           "--profile", "Ops",
                                    "--smtp-server", "mail.x",    "--prefer-smtp",
                                    "--json",        "--test-id", "T-1",
                                    "--wait",        "--timeout", "5",
                                    "--dest",        "org.test.Q"});
  ASSERT_EQ(parsed.error, "");
  const GlobalOptions& g = parsed.invocation.global;
  EXPECT_EQ(g.bus, BusKind::kSystem);
  EXPECT_TRUE(g.json);
  EXPECT_EQ(g.destination, "org.test.Q");
  const auto& send = std::get<SendCommand>(parsed.invocation.command);
  EXPECT_EQ(send.groups.at(0).messages.at(0).text, "-5 degrees");  // "=" form keeps a leading '-'
  EXPECT_TRUE(send.mail.given);
  EXPECT_EQ(send.mail.subject, "Cold");
  EXPECT_EQ(send.mail.from, "a@x");
  EXPECT_EQ(send.mail.profile, "Ops");
  EXPECT_EQ(send.mail.smtp_server, "mail.x");
  EXPECT_TRUE(send.mail.prefer_smtp);
  EXPECT_EQ(send.test_id, "T-1");
  EXPECT_TRUE(send.wait);
  EXPECT_EQ(send.timeout_seconds, 5);
}

TEST(ClientCommandLine, MessageValueMayLookLikeAnOption) {
  const SendCommand send = ParseSendOk({"-m", "--not-an-option", "-p", "-1"});
  EXPECT_EQ(send.groups.at(0).messages.at(0).text, "--not-an-option");
  EXPECT_EQ(send.groups.at(0).messages.at(0).pagers.at(0), "-1");
}

TEST(ClientCommandLine, WithoutMailOptionsNoMailIsAsked) {
  const SendCommand send = ParseSendOk({"-m", "x", "--callback-host", "mon.example.org"});
  EXPECT_FALSE(send.mail.given);
  EXPECT_EQ(send.callback_host, "mon.example.org");
  EXPECT_FALSE(send.wait);
}

TEST(ClientCommandLine, RefusesMalformedSends) {
  struct Case {
    std::vector<std::string_view> words;
    const char* why;
  } cases[] = {
      {{"send"}, "no message at all"},
      {{"send", "-p", "555"}, "recipient before any message"},
      {{"send", "-m", "a", "-g", "-e", "x@y", "-s", "S"}, "recipient in a group without message"},
      {{"send", "-m", "a", "-g"}, "trailing empty group"},
      {{"send", "-m"}, "option without its value"},
      {{"send", "-m", "a", "-e", "x@y"}, "addresses without a subject would be dropped"},
      {{"send", "-m", "a", "--wait", "--callback-host", "h"}, "two callback parties"},
      {{"send", "-m", "a", "--timeout", "5"}, "timeout without wait"},
      {{"send", "-m", "a", "--wait", "--timeout", "0"}, "zero timeout"},
      {{"send", "-m", "a", "--wait", "--timeout", "5s"}, "timeout with a unit"},
      {{"send", "-m", "a", "--wait", "--hold", "1"}, "hold is for sends without wait"},
      {{"send", "-m", "a", "--frobnicate"}, "unknown option"},
      {{"send", "-m", "a", "stray"}, "stray word"},
      {{"send", "-m", "\xc3\x28"}, "message that is not UTF-8"},
      {{"--system", "--address", "unix:path=/x", "send", "-m", "a"}, "two buses"},
      {{"frob"}, "unknown command"},
      {{}, "no command"},
      {{"help", "frob"}, "help for an unknown command"},
  };
  for (const auto& c : cases) EXPECT_NE(Parse(c.words).error, "") << c.why;
}

TEST(ClientCommandLine, HelpForEachCommand) {
  struct Case {
    std::vector<std::string_view> words;
    const char* topic;
  } cases[] = {
      {{"--help"}, ""},
      {{"-h", "send"}, ""},
      {{"help", "call"}, "call"},
      {{"send", "--help"}, "send"},
      {{"send", "-m", "x", "--help", "--frobnicate"}, "send"},  // help wins over what follows
      {{"settings", "set", "--help"}, "settings"},
      {{"call", "--help"}, "call"},
  };
  for (const auto& c : cases) {
    ParsedCommandLine parsed = Parse(c.words);
    ASSERT_EQ(parsed.error, "") << c.topic;
    const auto* help = std::get_if<HelpCommand>(&parsed.invocation.command);
    ASSERT_NE(help, nullptr) << c.topic;
    EXPECT_EQ(help->topic, c.topic);
  }
}

TEST(ClientCommandLine, SettingsActions) {
  ParsedCommandLine show = Parse({"settings"});
  ASSERT_EQ(show.error, "");
  EXPECT_EQ(std::get<SettingsCommand>(show.invocation.command).action,
            SettingsCommand::Action::kShow);

  ParsedCommandLine get = Parse({"settings", "get", "snpp", "--json"});
  ASSERT_EQ(get.error, "");
  EXPECT_EQ(std::get<SettingsCommand>(get.invocation.command).group, "snpp");
  EXPECT_TRUE(get.invocation.global.json);

  ParsedCommandLine set = Parse({"--address", "unix:path=/tmp/b", "settings", "set",
                                 "Pager Terminal", "ComPort=2", "Echo=", "Note=a=b"});
  ASSERT_EQ(set.error, "");
  const auto& s = std::get<SettingsCommand>(set.invocation.command);
  EXPECT_EQ(s.section, "Pager Terminal");
  EXPECT_EQ(s.assignments, (std::vector<std::string>{"ComPort=2", "Echo=", "Note=a=b"}));
  EXPECT_EQ(set.invocation.global.bus, BusKind::kAddress);
  EXPECT_EQ(set.invocation.global.address, "unix:path=/tmp/b");
}

TEST(ClientCommandLine, RefusesMalformedSettings) {
  const std::vector<std::string_view> cases[] = {
      {"settings", "get"},
      {"settings", "get", "nosuchgroup"},
      {"settings", "get", "snpp", "sms"},
      {"settings", "set", "Default"},
      {"settings", "set", "Default",
       "Index"},  // no "=": the server would raise after partial writes
      {"settings", "set", "Default", "=1"},
      {"settings", "show", "extra"},
      {"settings", "drop"},
  };
  for (const auto& words : cases) EXPECT_NE(Parse(words).error, "") << words.back();
}

TEST(ClientCommandLine, CallTakesOptionsOnlyBeforeTheOperation) {
  ParsedCommandLine parsed =
      Parse({"call", "--class", "qznotes.CPAGER", "SendPage", "--json", "-1", "x"});
  ASSERT_EQ(parsed.error, "");
  const auto& call = std::get<CallCommand>(parsed.invocation.command);
  EXPECT_EQ(call.class_name, "cPager");
  EXPECT_EQ(call.operation, "SendPage");
  EXPECT_EQ(call.arguments, (std::vector<std::string>{"--json", "-1", "x"}));
  EXPECT_FALSE(parsed.invocation.global.json);

  EXPECT_NE(Parse({"call"}).error, "");
  EXPECT_NE(Parse({"call", "--class", "cEmail", "x"}).error, "");
  EXPECT_EQ(std::get<CallCommand>(Parse({"call", "--", "-x"}).invocation.command).operation, "-x");
}

}  // namespace
}  // namespace qz::client
