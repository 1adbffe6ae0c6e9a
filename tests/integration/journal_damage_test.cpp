// The request journal under a hostile disk, with the real daemon: a journal
// file damaged between two runs, and a journal whose file system is full
// when requests end. Either way no request is lost or run twice, and the
// daemon says what it found.
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

// The one journal file a run left in `folder`'s journal.
fs::path LeftFile(const ProgramFolder& folder) {
  for (const auto& entry : fs::directory_iterator(folder.path() / kJournalFolderName))
    if (entry.path().extension() == kJournalFileSuffix) return entry.path();
  return {};
}

// A run killed with three requests kept; one bit of the second one's record
// is flipped. The next run replays the other two and names the file, what
// it recovered and skipped, and where it was kept.
TEST(JournalDamage, ADamagedFileIsReplayedAroundTheDamageAndKeptAside) {
  PrivateBus bus;
  ProgramFolder folder;
  SnppSim stall("[*]\nREPLY PAGE NONE\n"), gateway;
  folder.UseSnpp(stall.port(), 300);
  {
    Daemon daemon(bus, folder.path(), {"--apartments", "1"});
    Client client(bus);
    for (const char* id : {"first", "hit", "third"})
      ASSERT_TRUE(SendRequest(client, client.Create(), id, id).ok()) << daemon.Log();
    daemon.Signal(SIGKILL);
    EXPECT_EQ(daemon.WaitExit(60s), -SIGKILL);
  }
  const fs::path file = LeftFile(folder);
  ASSERT_FALSE(file.empty());
  uint64_t hit_size = 0;
  {
    UniqueFd fd(open(file.c_str(), O_RDWR | O_CLOEXEC));
    const JournalEntry hit = ReadJournal(fd.get()).live.at(2);
    hit_size = hit.size;
    char byte = 0;
    ASSERT_EQ(pread(fd.get(), &byte, 1, static_cast<off_t>(hit.offset + 40)), 1);
    byte ^= 0x20;
    ASSERT_EQ(pwrite(fd.get(), &byte, 1, static_cast<off_t>(hit.offset + 40)), 1);
  }
  folder.UseSnpp(gateway.port(), 300);
  Daemon restarted(bus, folder.path());
  EXPECT_TRUE(Eventually([&] { return Received(gateway, "SEND").size() == 2; }, 120s))
      << restarted.Log();
  EXPECT_THAT(Received(gateway, "MESSAGE"),
              ::testing::UnorderedElementsAre("MESSAGE \"first\"", "MESSAGE \"third\""));
  restarted.Signal(SIGTERM);
  EXPECT_EQ(restarted.WaitExit(60s), 0);
  const std::string aside = (folder.path() / kJournalFolderName / "damaged").string();
  EXPECT_THAT(restarted.Log(),
              HasSubstr("journal: " + file.filename().string() +
                        " is damaged: 2 records recovered (2 requests to replay), " +
                        std::to_string(hit_size) + " bytes skipped; kept as " + aside + "/" +
                        file.stem().string() + ".found-"))
      << restarted.Log();
  EXPECT_EQ(std::distance(fs::directory_iterator(aside), {}), 1);
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
