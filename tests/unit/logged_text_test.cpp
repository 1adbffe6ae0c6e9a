#include "diagnostics/logged_text.h"

#include <gtest/gtest.h>

#include <string>

namespace qz {
namespace {

TEST(LoggedText, SameTextOnlyWhetherKeptWholeOrByDigest) {
  const std::string shortText = "Page Status: ::";
  const std::string longText(LoggedText::kKeptWhole + 1, 'x');
  std::string longOther = longText;
  longOther[longOther.size() / 2] = 'y';
  struct Case {
    std::string remembered;
    std::string asked;
    bool same;
  } cases[] = {
      {shortText, shortText, true},
      {shortText, "Page Status: :", false},
      {longText, longText, true},
      {longText, longOther, false},       // same length, one byte differs
      {longText, longText + "x", false},  // longer
  };
  for (const Case& c : cases) {
    LoggedText logged;
    logged.Remember(c.remembered);
    EXPECT_EQ(logged.Equals(c.asked), c.same)
        << c.remembered.size() << " bytes remembered, " << c.asked.size() << " asked";
  }
  LoggedText fresh;
  EXPECT_FALSE(fresh.Equals(shortText)) << "nothing written yet";
}

}  // namespace
}  // namespace qz
