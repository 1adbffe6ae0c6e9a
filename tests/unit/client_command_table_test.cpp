// The command table drives parsing and help alike, and GOption's own
// refusals reach the user as clear one-line errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/command_line.h"
#include "client/command_table.h"
#include "client/help_text.h"

namespace qz::client {
namespace {

using ::testing::HasSubstr;

ParsedCommandLine Parse(std::vector<std::string_view> words) { return ParseCommandLine(words); }

TEST(ClientCommandTable, EveryCommandHasItsHelpAndALineInTheGeneralOne) {
  const std::string general = HelpText("");
  for (const CommandEntry& entry : AllCommands()) {
    const std::string name(entry.name);
    EXPECT_THAT(general, HasSubstr("\n  " + name + " ")) << name;
    EXPECT_THAT(HelpText(name), ::testing::StartsWith("Usage: qznotes " + name)) << name;
    for (std::vector<std::string_view> words :
         {std::vector<std::string_view>{"help", name}, {name, "--help"}, {"--json", name, "-h"}}) {
      ParsedCommandLine parsed = Parse(words);
      ASSERT_EQ(parsed.error, "") << name;
      const auto* help = std::get_if<HelpCommand>(&parsed.invocation.command);
      ASSERT_NE(help, nullptr) << name;
      EXPECT_EQ(help->topic, name);
    }
    // A command's name is what the client runs it by.
    ParsedCommandLine run = Parse({name});
    if (run.error.empty()) {
      EXPECT_EQ(run.invocation.command_name, name);
    }
  }
  EXPECT_EQ(HelpText("no-such-command"), general);
}

TEST(ClientCommandTable, RefusalsSayWhatIsWrong) {
  struct Case {
    std::vector<std::string_view> words;
    const char* error;
  } cases[] = {
      {{"send", "-m", "a", "--frobnicate"}, "Unknown option --frobnicate"},
      {{"--frob", "send"}, "Unknown option --frob"},
      {{"send", "-m"}, "Missing argument for -m"},
      {{"send", "-m", "\xc3\x28"}, "the value of -m is not valid UTF-8"},
      {{"send", "--message=\xc3\x28"}, "the value of --message is not valid UTF-8"},
      {{"call", "x", "\xc3\x28"}, "an argument is not valid UTF-8"},
      {{"frob"},
       "no command frob (send, settings, call, test-gateway, profiles, watch, journal, help)"},
      {{}, "no command given (send, settings, call, test-gateway, profiles, watch, journal, help)"},
      {{"--system", "--address", "unix:path=/x", "send", "-m", "a"},
       "choose one of --session, --system and --address"},
      {{"send", "-m", "a", "--address="}, "--address needs a bus address"},
      {{"settings", "get", "--force", "snpp"}, "--force belongs to settings set"},
      {{"call", "--list", "cNotify", "x"}, "call --list takes at most a class"},
      {{"call", "--list", "cEmail"}, "no class cEmail (cNotify, cPager)"},
      {{"help", "send", "call"}, "help takes one command"},
  };
  for (const Case& c : cases) EXPECT_EQ(Parse(c.words).error, c.error) << c.error;
}

TEST(ClientCommandTable, CallListAndSettingsForce) {
  struct Case {
    std::vector<std::string_view> words;
    const char* class_name;
  } lists[] = {
      {{"call", "--list"}, "cNotify"},
      {{"call", "-l", "qznotes.cpager"}, "cPager"},
      {{"call", "--class", "cPager", "--list"}, "cPager"},
  };
  for (const Case& c : lists) {
    ParsedCommandLine parsed = Parse(c.words);
    ASSERT_EQ(parsed.error, "") << c.class_name;
    const auto& call = std::get<CallCommand>(parsed.invocation.command);
    EXPECT_TRUE(call.list);
    EXPECT_EQ(call.class_name, c.class_name);
  }
  for (std::vector<std::string_view> words :
       {std::vector<std::string_view>{"settings", "set", "--force", "Default", "Index=7"},
        {"settings", "set", "Default", "Index=7", "-f"}}) {
    ParsedCommandLine parsed = Parse(words);
    ASSERT_EQ(parsed.error, "");
    const auto& set = std::get<SettingsCommand>(parsed.invocation.command);
    EXPECT_TRUE(set.force);
    EXPECT_EQ(set.assignments, std::vector<std::string>{"Index=7"});
  }
  // After "--" a word that looks like an option is a setting.
  ParsedCommandLine dashed = Parse({"settings", "set", "Gateway", "--", "-x=1"});
  ASSERT_EQ(dashed.error, "");
  EXPECT_EQ(std::get<SettingsCommand>(dashed.invocation.command).assignments,
            std::vector<std::string>{"-x=1"});
  EXPECT_FALSE(std::get<SettingsCommand>(dashed.invocation.command).force);
}

}  // namespace
}  // namespace qz::client
