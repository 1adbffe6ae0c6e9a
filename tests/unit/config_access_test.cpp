#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "config/profile_string.h"
#include "config/program_folder.h"
#include "config/settings_path.h"
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
  for (const char* folder : {"/opt/qz", "/opt/qz/"})
    EXPECT_EQ(SettingsPath(folder, "QzNotes.ini"), "/opt/qz/QzNotes.ini");
}

TEST(ProfileString, ReadsAtMost99CharactersAndEmptyForMissingPieces) {
  qz::testing::TempFolder folder;
  std::string euros;
  for (int i = 0; i < 110; ++i) euros += "€";
  struct Case {
    const char* why;
    std::string line, expected;
  } cases[] = {
      {"99 whole", "k=" + std::string(99, 'a'), std::string(99, 'a')},
      {"150 cut to 99", "k=" + std::string(150, 'b'), std::string(99, 'b')},
      {"never splits a sequence", "k=x" + euros, "x" + euros.substr(0, 98 * 3)},
      {"NUL ends the value", std::string("k=ab\0cd", 7), "ab"},
      {"missing key", "other=v", ""},
  };
  for (const Case& c : cases) {
    std::string file = folder.Write("s.ini", "[S]\n" + c.line + "\n"), value = "stale";
    EXPECT_TRUE(mblnGetPrivateProfileString(file, "S", "k", value)) << c.why;
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
