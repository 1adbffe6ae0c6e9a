#include "gateways/terminal/pager_terminal.h"

#include <gtest/gtest.h>

#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"
#include "fakes.h"

namespace qz {
namespace {

using testing::List;

// One page as the component saw it.
struct Page {
  std::vector<Variant> ids;
  std::string message;
  Variant timeout;
  bool sent = false;
  bool operator==(const Page&) const = default;
};

// Each component the channel makes (one lives at a time) records one page;
// SendPage fails when `fail_with` is set.
class PagerTerminalTest : public ::testing::Test {
 protected:
  struct FakePager : DispatchObject {
    explicit FakePager(PagerTerminalTest& t)
        : page(t.pages.emplace_back()), fail_with(t.fail_with) {}
    void SetProperty(std::string_view name, const Variant& v) override {
      if (name == "PagerID") page.ids = v.Items();
      if (name == "Message") page.message = v.Text();
      if (name == "Timeout") page.timeout = v;
    }
    Variant CallMethod(std::string_view name, std::span<Variant>) override {
      if (!fail_with.empty()) throw RunTimeError(1001, fail_with, "QzTerminal.cPager");
      page.sent = name == "SendPage";
      return Variant::Boolean(false);  // a "failed" answer the channel does not examine
    }
    Page& page;
    const std::string& fail_with;
  };

  PagerTerminalTest() {
    components.Register(kPagerTerminalProgId,
                        [this](std::string_view) { return std::make_shared<FakePager>(*this); });
  }
  ComponentRegistry components;
  std::vector<Page> pages;
  std::string fail_with;
};

TEST_F(PagerTerminalTest, EachMessageGoesWithAllItsIdentifiersToOneComponent) {
  std::string long_text(200, 'p'), cleaned(156, 'p');
  long_text[10] = '\n';
  cleaned[10] = ' ';
  const Variant i60(int16_t{60}), two = List({"a", "b"});
  const auto many = [](size_t n, const Variant& v) {
    return Variant::Array(std::vector<Variant>(n, v));
  };
  std::vector<Variant> last_only(32768, Variant());
  last_only.back() = List({"1"});
  const struct {
    Variant notes, lists;
    std::string last_error;  // empty: the group succeeds
    std::vector<Page> pages;
    const char* why;
  } cases[] = {
      {List({long_text, "second"}),
       List({List({Variant(), "  123 ", Variant(), "456"}), List({"789"})}),
       "",
       {{{"123", "456"}, cleaned, i60, true}, {{"789"}, "second", i60, true}},
       "Empty entries skipped, the rest trimmed, the text cleaned and cut"},
      {List({"a", "b", "c", "d"}),
       List({List({Variant(), Variant()}), Variant(), "not a list", List({"", Variant::Null()})}),
       "",
       {{{"", Variant::Null()}, "d", i60, true}},
       "messages without identifiers are skipped; the empty text and Null are kept"},
      {Variant(), List({}), "", {}, "no messages"},
      {"text", List({}), "", {}, "messages no array"},
      {List({"x"}), Variant(), "", {}, "no lists"},
      {List({"x"}), Variant(int16_t{3}), "", {}, "lists no array"},
      {two,
       List({List({"1"})}),
       "Subscript out of range.\r\n",
       {{{"1"}, "a", i60, true}},
       "fewer lists than messages"},
      {List({Variant::Null()}),
       List({List({"1"})}),
       "Invalid use of Null.\r\n",
       {},
       "message Null"},
      {Variant::NoDimensions(),
       List({}),
       "Subscript out of range.\r\n",
       {},
       "messages without dimensions"},
      {List({"a"}),
       List({List({List({})})}),
       "Type mismatch.\r\n",
       {},
       "nested list as identifier"},
      {many(32769, "m"), List({}), "Overflow.\r\n", {}, "32769 messages: the last index overflows"},
      {many(32768, "m"),
       Variant::Array(last_only),
       "Overflow.\r\n",
       {{{"1"}, "m", i60, true}},
       "last index 32767 is paged, then stepping past it overflows"},
  };
  for (const auto& c : cases) {
    pages.clear();
    gstrLastError = "left over from the mail channel";
    EXPECT_EQ(mblnPaging(components, c.notes, c.lists), c.last_error.empty()) << c.why;
    EXPECT_EQ(gstrLastError, c.last_error) << c.why;
    EXPECT_EQ(pages, c.pages) << c.why;
  }
  fail_with = "modem busy";  // the second message is not tried
  pages.clear();
  EXPECT_FALSE(mblnPaging(components, two, List({List({"1"}), List({"2"})})));
  EXPECT_EQ(gstrLastError, "modem busy.\r\n");
  EXPECT_EQ(pages, (std::vector<Page>{{{"1"}, "a", i60, false}}));
  components.Unregister(kPagerTerminalProgId);
  EXPECT_FALSE(mblnPaging(components, List({"a"}), List({List({"1"})})));
  EXPECT_EQ(gstrLastError, "ActiveX component can't create object.\r\n");
}

}  // namespace
}  // namespace qz
