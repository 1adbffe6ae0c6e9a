#include "server/daemon_options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace qz {
namespace {

// The options of `words`; nothing, with the reason in `error`, when they are wrong.
std::optional<DaemonOptions> Parse(std::vector<std::string> words, Status& error) {
  words.insert(words.begin(), "qznotesd");
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return ParseDaemonOptions(static_cast<int>(words.size()), argv.data(), error);
}

std::vector<size_t> LimitValues(const Limits& l) {
  return {l.objects, l.pending, l.elements, l.depth, l.pending_bytes, l.settings_elements};
}

TEST(DaemonOptions, ValuesAndDefaults) {
  Status error;
  auto none = Parse({}, error);
  ASSERT_TRUE(none) << error;
  // user_share 0: half the apartments; nothing is counted unless asked.
  EXPECT_EQ(std::tuple(none->server.linger_seconds, none->server.shutdown_grace_seconds,
                       none->server.apartments, none->server.user_share,
                       none->metrics_listen.has_value()),
            std::tuple(std::optional<unsigned>(5), 30u, size_t{4}, size_t{0}, false));
  EXPECT_EQ(LimitValues(none->server.limits),
            std::vector<size_t>({1000, 1000, 10000, 32, 32 << 20, 1000}));

  auto all = Parse(
      {"--folder", "/a", "--folder=/b", "--linger=forever", "--apartments=2", "--user-share=3",
       "--shutdown-grace", "90", "--seat=present", "--address", "unix:path=/x", "--max-objects=3",
       "--max-pending=4", "--max-elements=5", "--max-depth=6", "--max-pending-bytes=7",
       "--max-settings-elements=8", "--metrics-listen=[::1]:9469"},
      error);
  ASSERT_TRUE(all && all->metrics_listen) << error;
  // The last --folder wins; forever: no linger timer; the seat from kAuto.
  EXPECT_EQ(std::tuple(all->folder, all->server.linger_seconds, all->server.apartments,
                       all->server.user_share, all->server.shutdown_grace_seconds, all->seat,
                       all->address, all->metrics_listen->host, all->metrics_listen->port),
            std::tuple(std::optional<std::string>("/b"), std::optional<unsigned>(), size_t{2},
                       size_t{3}, 90u, SeatMode::kPresent, std::string("unix:path=/x"),
                       std::string("::1"), uint16_t{9469}));
  EXPECT_EQ(LimitValues(all->server.limits), std::vector<size_t>({3, 4, 5, 6, 7, 8}));
  // A daemon in a fleet takes tries at any time: it never lingers out.
  auto fleet = Parse({"--journal=postgres://db", "--serves= mail,2,mail", "--lease=3"}, error);
  ASSERT_TRUE(fleet) << error;
  EXPECT_EQ(std::tuple(*fleet->serves, fleet->lease_seconds, fleet->server.linger_seconds),
            std::tuple(std::vector<std::string>{"mail", "2"}, 3u, std::optional<unsigned>()));

  // HTTP callers are no bus activity: a daemon that listens never lingers out.
  auto door = Parse(
      {"--linger=120", "--listen=127.0.0.1:0", "--http-idle-timeout=5", "--http-max-connections=7"},
      error);
  ASSERT_TRUE(door) << error;
  const ConnectionLimits& http = door->http_connections;
  EXPECT_EQ(std::tuple(door->server.linger_seconds, http.idle_seconds, http.max_connections),
            std::tuple(std::optional<unsigned>(), 5u, size_t{7}));
}

TEST(DaemonOptions, BadCommandLinesAreRefusedWithAReason) {
  std::istringstream refused(
      "--folder= --folder --linger=-1 --linger=soon --linger=86401 --apartments=0 "
      "--apartments=999 --user-share=0 --user-share=257 --shutdown-grace=-5 --seat=maybe --bogus "
      "stray --max-objects=0 --max-depth=65 --max-elements=-1 --max-pending-bytes=x "
      "--metrics-listen=::1:1 --metrics-listen=localhost:1 --listen=localhost:1 "
      "--listen=0.0.0.0:1 --tls-cert=c.pem --http-idle-timeout=0 --http-max-connections=0 "
      "--journal=mysql://db --serves=1 --lease=60");
  for (std::string word; refused >> word;) {
    Status error;
    EXPECT_FALSE(Parse({word}, error)) << word;
    EXPECT_FALSE(error.ok()) << word;
  }
  for (const char* fleet : {"--no-journal", "--serves=1,3", "--serves=", "--lease=1"}) {
    Status error;
    EXPECT_FALSE(Parse({"--journal=postgres://db", fleet}, error)) << fleet;
  }
  Status error;  // beyond loopback only by consent
  EXPECT_TRUE(Parse({"--listen=0.0.0.0:1", "--listen=[::1]:2", "--listen-insecure"}, error))
      << error.message();
}

}  // namespace
}  // namespace qz
