// The terminal simulator's own checks, fed by hand: a test that passes
// against it must mean the component framed its blocks right.
#include <gtest/gtest.h>

#include "gateways/terminal/tap_frame.h"
#include "tap_sim/terminal_sim.h"

namespace qz::tapsim {
namespace {

using namespace qz::tap;

class TerminalSimTest : public ::testing::Test {
 protected:
  explicit TerminalSimTest(const std::string& script = "") {
    Status error;
    auto parsed = ParseScript(script, error);
    EXPECT_TRUE(parsed) << error;
    sim_ = std::make_unique<TerminalSim>(
        *parsed,
        [this](const std::string& id, const std::string& text) { pages_.emplace_back(id, text); });
  }
  std::string Say(std::string_view bytes) {
    sim_->Feed(bytes);
    return std::exchange(sim_->Output(), {});
  }
  void LogOn() {
    EXPECT_EQ(Say("\r"), "ID=");
    EXPECT_EQ(Say("\x1bPG1000000\r"), "110 1.8\r\x06\r\x1b[p\r");
  }

  std::unique_ptr<TerminalSim> sim_;
  std::vector<std::pair<std::string, std::string>> pages_;
};

TEST_F(TerminalSimTest, WrongChecksumIsNakedAndNothingRecorded) {
  LogOn();
  std::string block = TransactionBlocks("1", "hello")[0];
  block[block.size() - 2] ^= 1;
  EXPECT_EQ(Say(block), "\rChecksum error\r\x15\r");
  EXPECT_TRUE(pages_.empty());
  EXPECT_EQ(Say(TransactionBlocks("1", "hello")[0]), "\r\x06\r");
  EXPECT_EQ(pages_, (std::vector<std::pair<std::string, std::string>>{{"1", "hello"}}));
}

TEST_F(TerminalSimTest, ContinuedBlocksMakeOnePage) {
  LogOn();
  const std::string text = std::string(300, 'z') + "\r!";
  for (const std::string& block : TransactionBlocks("99", text)) EXPECT_EQ(Say(block), "\r\x06\r");
  ASSERT_EQ(pages_.size(), 1u);
  EXPECT_EQ(pages_[0].first, "99");
  EXPECT_EQ(pages_[0].second, text);
  EXPECT_EQ(Say("\x04\r"), "\r\x1b\x04\r");
}

TEST(TapSimScript, RefusesWhatItDoesNotKnow) {
  Status error;
  EXPECT_FALSE(ParseScript("modem\nfly-away\n", error));
  EXPECT_EQ(error.message(), "cannot understand script line: fly-away");
  EXPECT_FALSE(ParseScript("get-nbr ID?\n", error));
  auto s = ParseScript("# comment\nrefuse 1002 Unknown pager\nbaud 2400  # slow\n", error);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->refuse.at("1002"), "Unknown pager");
  EXPECT_EQ(s->baud, 2400u);
}

}  // namespace
}  // namespace qz::tapsim
