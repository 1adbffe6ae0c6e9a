#include "gateways/terminal/pager_terminal.h"

#include <gtest/gtest.h>

#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"

namespace qz {
namespace {

// One page as the component saw it.
struct Page {
  std::vector<Variant> ids;
  std::string message;
  Variant timeout;
  bool sent = false;
};

class FakePager : public DispatchObject {
 public:
  FakePager(std::vector<Page>& pages, const std::string& fail_with)
      : pages_(pages), fail_with_(fail_with) {
    pages_.emplace_back();
  }
  void SetProperty(std::string_view name, const Variant& v) override {
    Page& p = pages_.back();
    if (name == "PagerID")
      p.ids = v.Items();
    else if (name == "Message")
      p.message = v.Text();
    else if (name == "Timeout")
      p.timeout = v;
    else
      DispatchObject::SetProperty(name, v);
  }
  Variant CallMethod(std::string_view name, std::span<Variant> args) override {
    if (name != "SendPage") return DispatchObject::CallMethod(name, args);
    if (!fail_with_.empty()) throw RunTimeError(1001, fail_with_, "QzTerminal.cPager");
    pages_.back().sent = true;
    return Variant::Boolean(false);  // a "failed" answer the channel does not examine
  }

 private:
  std::vector<Page>& pages_;
  const std::string& fail_with_;
};

class PagerTerminalTest : public ::testing::Test {
 protected:
  PagerTerminalTest() {
    components.Register(kPagerTerminalProgId, [this](std::string_view) {
      return std::make_shared<FakePager>(pages, fail_with);
    });
  }
  bool Page(const Variant& notes, const Variant& lists) {
    return mblnPaging(components, notes, lists);
  }

  ComponentRegistry components;
  std::vector<struct Page> pages;
  std::string fail_with;
};

Variant Strings(std::initializer_list<Variant> items) { return Variant::Array(items); }

TEST_F(PagerTerminalTest, HandsEachMessageWithAllItsIdentifiersToOneComponent) {
  std::string long_text = std::string(200, 'p');
  long_text[10] = '\n';
  Variant notes = Strings({Variant(long_text), Variant("second")});
  Variant lists = Strings({Strings({Variant(), Variant("  123 "), Variant(), Variant("456")}),
                           Strings({Variant("789")})});
  gstrLastError = "left over from the mail channel";
  EXPECT_TRUE(Page(notes, lists));
  EXPECT_EQ(gstrLastError, "");
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].ids, (std::vector<Variant>{Variant("123"), Variant("456")}));
  EXPECT_EQ(pages[0].message.size(), 156u);
  EXPECT_EQ(pages[0].message[10], ' ');
  EXPECT_EQ(pages[0].timeout, Variant(int16_t{60}));
  EXPECT_TRUE(pages[0].sent);
  EXPECT_EQ(pages[1].ids, (std::vector<Variant>{Variant("789")}));
  EXPECT_EQ(pages[1].message, "second");
}

TEST_F(PagerTerminalTest, SkipsMessagesWithoutIdentifiers) {
  Variant notes = Strings({Variant("a"), Variant("b"), Variant("c"), Variant("d")});
  Variant lists = Strings({Strings({Variant(), Variant()}), Variant(), Variant("not a list"),
                           Strings({Variant(""), Variant::Null()})});
  EXPECT_TRUE(Page(notes, lists));
  // Only the last message has entries that are not Empty: the empty text and Null.
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].ids, (std::vector<Variant>{Variant(""), Variant::Null()}));
}

TEST_F(PagerTerminalTest, ArgumentsThatAreNoArraysDeliverNothingAndSucceed) {
  const std::pair<Variant, Variant> cases[] = {
      {Variant(), Strings({})},
      {Variant("text"), Strings({})},
      {Strings({Variant("x")}), Variant()},
      {Strings({Variant("x")}), Variant(int16_t{3})},
  };
  for (const auto& [notes, lists] : cases) EXPECT_TRUE(Page(notes, lists));
  EXPECT_TRUE(pages.empty());
}

struct FailureCase {
  const char* why;
  Variant notes;
  Variant lists;
  std::string last_error;
  size_t pages_made;
};

TEST_F(PagerTerminalTest, FailuresAreReportedAndStopTheGroup) {
  Variant two = Strings({Variant("a"), Variant("b")});
  const FailureCase cases[] = {
      {"fewer lists than messages", two, Strings({Strings({Variant("1")})}),
       "Subscript out of range.\r\n", 1},
      {"message Null", Strings({Variant::Null()}), Strings({Strings({Variant("1")})}),
       "Invalid use of Null.\r\n", 0},
      {"messages without dimensions", Variant::NoDimensions(), Strings({}),
       "Subscript out of range.\r\n", 0},
      {"nested list as identifier", Strings({Variant("a")}), Strings({Strings({Strings({})})}),
       "Type mismatch.\r\n", 0},
  };
  for (const auto& c : cases) {
    pages.clear();
    EXPECT_FALSE(Page(c.notes, c.lists)) << c.why;
    EXPECT_EQ(gstrLastError, c.last_error) << c.why;
    EXPECT_EQ(pages.size(), c.pages_made) << c.why;
  }
}

TEST_F(PagerTerminalTest, ComponentFailureEndsTheGroup) {
  fail_with = "modem busy";
  Variant notes = Strings({Variant("a"), Variant("b")});
  Variant lists = Strings({Strings({Variant("1")}), Strings({Variant("2")})});
  EXPECT_FALSE(Page(notes, lists));
  EXPECT_EQ(gstrLastError, "modem busy.\r\n");
  EXPECT_EQ(pages.size(), 1u);  // the second message is not tried
}

TEST_F(PagerTerminalTest, MissingComponentIsACreationFailure) {
  components.Unregister(kPagerTerminalProgId);
  EXPECT_FALSE(Page(Strings({Variant("a")}), Strings({Strings({Variant("1")})})));
  EXPECT_EQ(gstrLastError, "ActiveX component can't create object.\r\n");
}

TEST_F(PagerTerminalTest, SixteenBitCountersOverflow) {
  // 32769 messages: the last index no longer fits the counter.
  EXPECT_FALSE(Page(Variant::Array(std::vector<Variant>(32769, Variant("m"))), Strings({})));
  EXPECT_EQ(gstrLastError, "Overflow.\r\n");
  EXPECT_TRUE(pages.empty());

  // Last index 32767: that message is paged, then stepping past it overflows.
  std::vector<Variant> lists(32768, Variant());
  lists.back() = Strings({Variant("1")});
  EXPECT_FALSE(
      Page(Variant::Array(std::vector<Variant>(32768, Variant("m"))), Variant::Array(lists)));
  EXPECT_EQ(gstrLastError, "Overflow.\r\n");
  EXPECT_EQ(pages.size(), 1u);
}

}  // namespace
}  // namespace qz
