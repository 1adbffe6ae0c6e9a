#include "config/settings_path.h"

#include <gtest/gtest.h>

namespace qz {
namespace {

TEST(SettingsPath, JoinsWithOneSlash) {
  struct Case {
    const char* folder;
    const char* expected;
  } cases[] = {
      {"/opt/qz", "/opt/qz/QzNotes.ini"},
      {"/opt/qz/", "/opt/qz/QzNotes.ini"},
      {"", "/QzNotes.ini"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SettingsPath(c.folder, "QzNotes.ini"), c.expected) << c.folder;
}

}  // namespace
}  // namespace qz
