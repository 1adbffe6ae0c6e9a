#include "server/daemon_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qz {
namespace {

struct Parsed {
  std::optional<DaemonOptions> options;
  Status error;
};

Parsed Parse(std::vector<std::string> words) {
  words.insert(words.begin(), "qznotesd");
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  Parsed parsed;
  parsed.options = ParseDaemonOptions(static_cast<int>(words.size()), argv.data(), parsed.error);
  return parsed;
}

TEST(DaemonOptions, ValuesAndDefaults) {
  Parsed none = Parse({});
  ASSERT_TRUE(none.options);
  EXPECT_EQ(none.options->server.linger_seconds, 5u);
  EXPECT_EQ(none.options->server.shutdown_grace_seconds, 30u);
  EXPECT_EQ(none.options->server.apartments, 4u);
  EXPECT_EQ(none.options->seat, SeatMode::kAuto);
  EXPECT_FALSE(none.options->folder);

  Parsed all = Parse({"--folder", "/a", "--folder=/b", "--linger=forever", "--apartments=2",
                      "--shutdown-grace", "90", "--seat=present", "--address", "unix:path=/x"});
  ASSERT_TRUE(all.options) << all.error;
  EXPECT_EQ(all.options->folder, "/b") << "the last one wins";
  EXPECT_FALSE(all.options->server.linger_seconds) << "forever: no linger timer";
  EXPECT_EQ(all.options->server.apartments, 2u);
  EXPECT_EQ(all.options->server.shutdown_grace_seconds, 90u);
  EXPECT_EQ(all.options->seat, SeatMode::kPresent);
  EXPECT_EQ(all.options->address, "unix:path=/x");
  EXPECT_TRUE(Parse({"--version"}).options->show_version);
}

TEST(DaemonOptions, BadCommandLinesAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--folder="},
      {"--folder"},
      {"--linger=-1"},
      {"--linger=soon"},
      {"--linger=86401"},
      {"--apartments=0"},
      {"--apartments=999"},
      {"--shutdown-grace=-5"},
      {"--seat=maybe"},
      {"--bogus"},
      {"stray"},
  };
  for (const auto& words : bad) {
    Parsed parsed = Parse(words);
    EXPECT_FALSE(parsed.options) << words[0];
    EXPECT_FALSE(parsed.error.ok()) << words[0];
  }
}

}  // namespace
}  // namespace qz
