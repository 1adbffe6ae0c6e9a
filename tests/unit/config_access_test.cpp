#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/profile_string.h"
#include "config/program_folder.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

TEST(ProgramFolder, OptionThenEnvironmentThenExecutable) {
  ::unsetenv("QZNOTES_FOLDER");
  EXPECT_TRUE(std::filesystem::exists(ProgramFolder(std::nullopt) + "/qznotes_tests"));
  ::setenv("QZNOTES_FOLDER", "/srv/qz", 1);
  EXPECT_EQ(ProgramFolder(std::nullopt), "/srv/qz");
  EXPECT_EQ(ProgramFolder("rel"), (std::filesystem::current_path() / "rel").string());
  ::unsetenv("QZNOTES_FOLDER");
}

std::string Repeat(std::string_view unit, size_t times) {
  std::string text;
  while (times--) text.append(unit);
  return text;
}

TEST(ProfileString, ReadsAtMost99CharactersAndEmptyForMissingPieces) {
  qz::testing::TempFolder folder;
  struct Case {
    const char* why;
    std::string line;
    const char* key;
    std::string expected;
  };
  const Case cases[] = {
      {"99 whole", "k=" + Repeat("a", 99), "k", Repeat("a", 99)},
      {"150 cut to 99", "k=" + Repeat("b", 150), "k", Repeat("b", 99)},
      {"never splits a sequence", "k=x" + Repeat("€", 110), "k", "x" + Repeat("€", 98)},
      {"NUL ends the value", std::string("k=ab\0cd", 7), "k", "ab"},
      {"missing key", "k=v", "other", ""},
  };
  for (const Case& c : cases) {
    std::string file = folder.Write("s.ini", "[S]\n" + c.line + "\n"), value = "stale";
    EXPECT_TRUE(mblnGetPrivateProfileString(file, "S", c.key, value)) << c.why;
    EXPECT_EQ(value, c.expected) << c.why;
  }
  for (const std::string& file : {folder.File("none.ini"), folder.path()}) {
    std::string value = "stale";
    EXPECT_TRUE(mblnGetPrivateProfileString(file, "S", "k", value));
    EXPECT_EQ(value, "") << file;
  }
}

TEST(ProfileString, WriteAnswersFalseWithoutRaisingWhenRefused) {
  qz::testing::TempFolder folder;
  std::string file = folder.Write("s.ini", "[S]\nk=old\n");
  EXPECT_FALSE(mblnWritePrivateProfileString(folder.path(), "S", "k", "v"));
  EXPECT_FALSE(mblnWritePrivateProfileString(file, "S", "k", "line\nbreak"));
  EXPECT_FALSE(mblnWritePrivateProfileString(std::string("x.ini\0", 6), "S", "k", "v"));
  ASSERT_TRUE(mblnWritePrivateProfileString(file, "S", "k", ""));
  EXPECT_EQ(folder.Read("s.ini"), "[S]\nk=\n");
}

}  // namespace
}  // namespace qz
