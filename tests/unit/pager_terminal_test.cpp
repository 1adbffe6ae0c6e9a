// The pager terminal channel against a recording component: which pages it
// hands over and how it fails. Its 16-bit counters are the SMS channel's,
// tested there.
#include "gateways/terminal/pager_terminal.h"

#include <gtest/gtest.h>

#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"
#include "fakes.h"

namespace qz::testing {
namespace {

// Each component the channel makes (one lives at a time) adds one page to
// `pages`: its identifiers, its message and whether it was sent, as
// "id,id|message|sent", pages joined by "; ". SendPage fails when
// `fail_with` is set.
class PagerTerminalTest : public ::testing::Test {
 protected:
  struct FakePager : DispatchObject {
    explicit FakePager(PagerTerminalTest& t) : t(t) { t.pages += t.pages.empty() ? "" : "; "; }
    void SetProperty(std::string_view name, const Variant& v) override {
      if (name == "PagerID")
        for (const Variant& id : v.Items()) t.pages += (id.IsNull() ? "Null" : id.Text()) + ",";
      if (name == "Message") t.pages += "|" + v.Text();
      if (name == "Timeout") EXPECT_EQ(v, Variant(int16_t{60}));
    }
    Variant CallMethod(std::string_view name, std::span<Variant>) override {
      if (!t.fail_with.empty()) throw RunTimeError(1001, t.fail_with, "QzTerminal.cPager");
      t.pages += "|" + std::string(name);
      return Variant::Boolean(false);  // a "failed" answer the channel does not examine
    }
    PagerTerminalTest& t;
  };

  PagerTerminalTest() {
    components.Register(kPagerTerminalProgId,
                        [this](std::string_view) { return std::make_shared<FakePager>(*this); });
  }
  ComponentRegistry components;
  std::string pages, fail_with;
};

TEST_F(PagerTerminalTest, EachMessageGoesWithAllItsIdentifiersToOneComponent) {
  std::string long_text(200, 'p'), cleaned(156, 'p');
  long_text[10] = '\n';
  cleaned[10] = ' ';
  const Variant two = List({"a", "b"}), to1 = List({List({"1"})});
  const struct {
    Variant notes, lists;
    std::string last_error;  // empty: the group succeeds
    std::string pages;
  } cases[] = {
      // Empty entries are skipped, the rest trimmed; the text is cleaned and cut.
      {List({long_text, "second"}),
       List({List({Variant(), "  123 ", Variant(), "456"}), List({"789"})}), "",
       "123,456,|" + cleaned + "|SendPage; 789,|second|SendPage"},
      // Messages without identifiers are skipped; the empty text and Null are kept.
      {List({"a", "b", "c", "d"}),
       List({List({Variant(), Variant()}), Variant(), "not a list", List({"", Variant::Null()})}),
       "", ",Null,|d|SendPage"},
      // Nothing to page.
      {Variant(), List({}), "", ""},
      {"text", List({}), "", ""},
      {List({"x"}), Variant(), "", ""},
      {List({"x"}), Variant(int16_t{3}), "", ""},
      // Failures stop the group.
      {two, to1, "Subscript out of range.\r\n", "1,|a|SendPage"},
      {List({Variant::Null()}), to1, "Invalid use of Null.\r\n", ""},
      {Variant::NoDimensions(), List({}), "Subscript out of range.\r\n", ""},
      {List({"a"}), List({List({List({})})}), "Type mismatch.\r\n", ""},
  };
  for (const auto& c : cases) {
    pages.clear();
    gstrLastError = "left over from the mail channel";
    EXPECT_EQ(mblnPaging(components, c.notes, c.lists), c.last_error.empty()) << c.pages;
    EXPECT_EQ(gstrLastError, c.last_error);
    EXPECT_EQ(pages, c.pages);
  }
  fail_with = "modem busy";  // the second message is not tried
  pages.clear();
  EXPECT_FALSE(mblnPaging(components, two, List({List({"1"}), List({"2"})})));
  EXPECT_EQ(gstrLastError, "modem busy.\r\n");
  EXPECT_EQ(pages, "1,|a");
  components.Unregister(kPagerTerminalProgId);
  EXPECT_FALSE(mblnPaging(components, List({"a"}), to1));
  EXPECT_EQ(gstrLastError, "ActiveX component can't create object.\r\n");
}

}  // namespace
}  // namespace qz::testing
