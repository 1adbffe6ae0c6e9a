// qznotes test-gateway: its command line and how its answer decides the
// exit status.
#include <gtest/gtest.h>

#include <vector>

#include "client/command_line.h"
#include "client/test_gateway_answer.h"

namespace qz::client {
namespace {

TEST(ClientTestGateway, CommandLine) {
  struct Case {
    std::vector<std::string_view> words;
    std::string error;  // empty: parsed
    int index = 0;
    std::string number;
    int timeout = 0;
  } cases[] = {
      {{"test-gateway", "1", "5551234"}, "", 1, "5551234", 0},
      {{"test-gateway", "--timeout", "90", "2", "+15551234"}, "", 2, "+15551234", 90},
      {{"--json", "test-gateway", "0", "--", "-5"}, "", 0, "-5", 0},
      {{"test-gateway", "-1", "x"}, "", -1, "x", 0},
      {{"test-gateway", "1"}, "test-gateway takes INDEX and NUMBER", 0, "", 0},
      {{"test-gateway", "1", "2", "3"}, "test-gateway takes INDEX and NUMBER", 0, "", 0},
      {{"test-gateway", "one", "2"}, "INDEX must be a whole number (0, 1 or 2), not one", 0, "", 0},
      {{"test-gateway", "40000", "2"},
       "INDEX must be a whole number (0, 1 or 2), not 40000",
       0,
       "",
       0},
      {{"test-gateway", "--timeout", "0", "1", "2"},
       "--timeout takes whole seconds from 1 to 86400",
       0,
       "",
       0},
      {{"test-gateway", "--nope", "1", "2"}, "Unknown option --nope", 0, "", 0},
  };
  for (const auto& c : cases) {
    ParsedCommandLine parsed = ParseCommandLine(c.words);
    EXPECT_EQ(parsed.error, c.error) << c.words.back();
    if (!c.error.empty()) continue;
    const auto* test = std::get_if<TestGatewayCommand>(&parsed.invocation.command);
    ASSERT_NE(test, nullptr);
    EXPECT_EQ(test->index, c.index);
    EXPECT_EQ(test->number, c.number);
    EXPECT_EQ(test->timeout_seconds, c.timeout);
  }
  ParsedCommandLine help =
      ParseCommandLine(std::vector<std::string_view>{"test-gateway", "--help"});
  ASSERT_TRUE(std::holds_alternative<HelpCommand>(help.invocation.command));
  EXPECT_EQ(std::get<HelpCommand>(help.invocation.command).topic, "test-gateway");
}

TEST(ClientTestGateway, ExitStatusOfTheAnswer) {
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
