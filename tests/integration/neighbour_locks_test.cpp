// Another local user next to the system daemon: user nobody tries to open
// and lock the log, the settings file and the registry's shared memory
// while root's requests, settings writes and profile writes go on. Nobody
// may open them, so nobody can hold a lock the daemon waits on, and nothing
// the daemon made is open to other users. The daemon's own writers still
// exclude each other, for a bounded time.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "cli_runner.h"
#include "daemon_harness.h"
#include "platform/file_lock.h"
#include "platform/unique_fd.h"
#include "support/unix_user.h"

namespace qz::testing {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

// Opens the file read-only and holds it locked: flock as the log and
// settings writers once took it, or a read lock on bytes of the shared
// memory as a reader of the database would.
constexpr const char* kHolder = R"(
import fcntl, sys, time
try:
    f = open(sys.argv[1], 'rb')
except OSError as e:
    sys.exit('cannot open: ' + e.strerror)
if sys.argv[2] == 'flock':
    fcntl.flock(f, fcntl.LOCK_EX)
else:
    fcntl.lockf(f, fcntl.LOCK_SH, 0, 0)
print('holding', file=sys.stderr, flush=True)
time.sleep(120)
)";

TEST(NeighbourLocks, NobodyOpensNorLocksWhatTheDaemonWrites) {
  const std::optional<UnixUser> nobody = FindUser("nobody");
  if (!CanSwitchUsers() || !nobody) GTEST_SKIP() << "needs root, setpriv and the user nobody";
  ProgramFolder folder;
  // A folder every user may enter, as the daemon's folder was found.
  fs::permissions(folder.path(), fs::perms(0755));
  PrivateBus bus(SystemType{{std::string(QZ_SOURCE_DIR) + "/packaging/org.qznotes.QzNotes.conf"}});
  Daemon daemon(bus, folder.path(), {"--system", "--linger", "60"});
  Client root(bus);
  // Each run on a new object, whose log entry is never skipped as a repeat.
  auto failed_run = [&](const char* test_id) {
    const size_t before = root.WaitForCallbacks(0, 0s).size();
    EXPECT_TRUE(SendRequest(root, root.Create(), test_id).ok());
    return root.WaitForCallbacks(before + 1, 60s).size() == before + 1;
  };
  auto settings_write = [&] {
    return root
        .Call(root.Create(), kNotify, "gblnSetSettings",
              g_variant_new_parsed("(<['555', '', '', '0']>,)"), 30000)
        .Print();
  };
  auto profile_write = [&] {
    return root
        .Call(kRoot, "org.qznotes.QzNotes.Profiles", "Set",
              g_variant_new_parsed("('Ops', {'Transport': 'smtp://127.0.0.1:25'})"), 30000)
        .Print();
  };
  ASSERT_TRUE(failed_run("first")) << daemon.Log();
  ASSERT_EQ(settings_write(), "(true,)");
  ASSERT_EQ(profile_write(), "()");

  std::vector<std::unique_ptr<CliProcess>> holders;  // those that got a lock keep it
  for (const auto& [name, kind] : {std::pair{"QzNotesLog.log", "flock"},
                                   {"QzNotes.ini", "flock"},
                                   {"QzRegistry.db-shm", "lockf"}}) {
    const CliProcess& holder = *holders.emplace_back(std::make_unique<CliProcess>(
        std::vector<std::string>{"-c", kHolder, (folder.path() / name).string(), kind}, *nobody,
        "/usr/bin/python3"));
    ASSERT_TRUE(Eventually([&] { return !holder.ErrSoFar().empty(); }, 30s)) << name;
    EXPECT_THAT(holder.ErrSoFar(), HasSubstr("cannot open: Permission denied")) << name;
  }
  // Whatever nobody managed, root's calls still end.
  EXPECT_TRUE(failed_run("second")) << daemon.Log();
  EXPECT_EQ(settings_write(), "(true,)");
  EXPECT_EQ(profile_write(), "()");

  for (const char* name : {"QzNotesLog.log", "QzNotes.ini", "QzRegistry.db", "QzRegistry.db-wal",
                           "QzRegistry.db-shm"}) {
    struct stat st {};
    ASSERT_EQ(::stat((folder.path() / name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & S_IRWXO, 0u) << name << " is open to others";
  }

  // Root's own writers still wait for each other, up to a deadline, after
  // which the call ends all the same and the daemon says why.
  const UniqueFd dir(::open(folder.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  const std::tuple<const char*, std::function<bool()>, const char*> stuck[] = {
      {"QzNotes.ini", [&] { return settings_write() == "(false,)"; },
       "settings write gblnSetSettings: .QzNotes.ini.lock: another writer held the lock for "
       "3000 ms\n"},
      {"QzNotesLog.log", [&] { return failed_run("third"); },
       "request third: .QzNotesLog.log.lock: another writer held the lock for 3000 ms; entry "
       "written without the size check\n"},
  };
  for (const auto& [name, call, line] : stuck) {
    Status status;
    const std::optional<FileLock> held = FileLock::Acquire(dir.get(), name, {}, status);
    ASSERT_TRUE(held) << status;
    EXPECT_TRUE(call()) << name;
    EXPECT_THAT(daemon.Log(), HasSubstr(line));
  }
}

}  // namespace
}  // namespace qz::testing
