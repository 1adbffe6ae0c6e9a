// The request journal on a full disk, with the real daemon: requests that
// end while their removals cannot be written are not run again.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "daemon_harness.h"
#include "dispatch/journal_file.h"
#include "platform/unique_fd.h"
#include "support/snpp_sim.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

std::multiset<std::string> Received(const SnppSim& sim, std::string_view prefix) {
  std::multiset<std::string> lines;
  for (const auto& e : sim.Events())
    if (e.kind == "recv" && e.text.starts_with(prefix)) lines.insert(e.text);
  return lines;
}

// A tmpfs mounted over the journal folder for one test; the test's own
// process must be root.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(const fs::path& at) : at_(at) {
    fs::create_directories(at);
    mounted_ = mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=4m,mode=0700") == 0;
    if (!mounted_) error_ = std::strerror(errno);
  }
  ~SmallFileSystem() {
    if (mounted_) umount2(at_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }

  // Writes to `name` until the file system is full (a bounded loop: 4 MiB).
  void Fill(const char* name) const {
    UniqueFd fd(open((at_ / name).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    const std::string block(4096, 'f');
    for (int i = 0; i < 2048 && write(fd.get(), block.data(), block.size()) > 0; ++i) {
    }
    fsync(fd.get());
  }

 private:
  fs::path at_;
  bool mounted_ = false;
  std::string error_;
};

// Three requests are kept while there is space; the disk fills up and a
// large request cannot be kept; then the three end. Stopped and started
// again, the daemon runs none of them a second time.
TEST(JournalDamage, RequestsEndingOnAFullDiskAreNotRunAgain) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
  PrivateBus bus;
  ProgramFolder folder;
  SmallFileSystem disk(folder.path() / kJournalFolderName);
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error();
  // Each page waits at SEND long enough for the disk to fill meanwhile.
  SnppSim gateway("[*]\ndelay SEND 4000\n");
  folder.UseSnpp(gateway.port(), 60);
  const std::set<std::string> ids = {"ended-1", "ended-2", "ended-3"};
  {
    Daemon daemon(bus, folder.path(), {"--linger", "30"});
    Client client(bus);
    for (const std::string& id : ids)
      ASSERT_TRUE(SendRequest(client, client.Create(), id.c_str(), id.c_str()).ok())
          << daemon.Log();
    ASSERT_TRUE(Eventually([&] { return Received(gateway, "SEND").size() == 3; }, 60s))
        << daemon.Log();
    disk.Fill("filler");
    // Larger than the journal's spare room: its record needs space there is not.
    const std::string large(1536 * 1024, 'L');
    SendRequest(client, client.Create(), large.c_str());
    disk.Fill("filler");
    EXPECT_EQ(client.WaitForCallbacks(4, 60s).size(), 4u) << daemon.Log();
    daemon.Signal(SIGTERM);
    EXPECT_EQ(daemon.WaitExit(60s), 0) << daemon.Log();
    // The premise: the disk was full when it was kept.
    EXPECT_THAT(daemon.Log(), HasSubstr("journal: cannot write request LLLL"));
  }
  fs::remove(folder.path() / kJournalFolderName / "filler");
  Daemon restarted(bus, folder.path());
  Client client(bus);
  ASSERT_FALSE(client.Create().empty()) << restarted.Log();  // serving: any replay has begun
  restarted.Signal(SIGTERM);
  EXPECT_EQ(restarted.WaitExit(60s), 0);
  EXPECT_THAT(restarted.Log(), Not(HasSubstr("replaying"))) << restarted.Log();
  for (const std::string& id : ids)
    EXPECT_EQ(Received(gateway, "MESSAGE \"" + id + "\"").size(), 1u) << id;
}

}  // namespace
}  // namespace qz::testing
