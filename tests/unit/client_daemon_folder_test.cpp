// Which program folder a running daemon uses, read from its command line and
// environment as /proc shows them: `journal list` lists that one.
#include <gtest/gtest.h>

#include "client/daemon_folder.h"

namespace qz::client {
namespace {

TEST(DaemonFolder, CommandLineBeforeEnvironmentRelativeToTheDaemonsDirectory) {
  const struct {
    const char* why;
    std::vector<std::string> argv, environment;
    std::optional<std::string> folder;
  } cases[] = {
      {"--folder DIR", {"qznotesd", "--folder", "/srv/qz"}, {}, "/srv/qz"},
      {"--folder=DIR, relative", {"qznotesd", "--folder=qz/../notes"}, {}, "/home/u/notes"},
      {"the command line wins", {"qznotesd", "--folder", "a"}, {"QZNOTES_FOLDER=/b"}, "/home/u/a"},
      {"the environment", {"qznotesd"}, {"HOME=/x", "QZNOTES_FOLDER=/var/qz"}, "/var/qz"},
      {"an empty variable names none", {"qznotesd"}, {"QZNOTES_FOLDER="}, std::nullopt},
      {"the last --folder counts", {"qznotesd", "--folder", "/a", "--folder=/b"}, {}, "/b"},
      {"--folder without its value", {"qznotesd", "--folder"}, {}, std::nullopt},
      {"not an option after --", {"qznotesd", "--", "--folder=/a"}, {}, std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FolderOfDaemon(c.argv, c.environment, "/home/u"), c.folder) << c.why;
}

}  // namespace
}  // namespace qz::client
