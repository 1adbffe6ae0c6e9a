// Settings files: the format read and edited line by line, and the files on
// disk, which refused writes, a full disk or writers in several processes
// and threads never leave torn or missing a completed write.
#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file_lock.h"
#include "platform/ini_document.h"
#include "platform/ini_lookup.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

namespace fs = std::filesystem;
using Found = std::optional<std::string>;

Found Lookup(const std::string& text, const char* section, const char* key) {
  auto value = ini::FindValue(text, section, key);
  return value ? Found(std::string(*value)) : std::nullopt;
}

// Whether the child `pid` ended with exit status 0.
bool ExitedCleanly(pid_t pid) {
  int status = -1;
  return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(IniFormat, ReaderFindsWhatTheFileSays) {
  for (auto [text, section, key, expected] :
       {std::tuple<std::string, const char*, const char*, Found>{"[Pager Terminal]\nComPort=3\n",
                                                                 "pager TERMINAL", "comport", "3"},
        {"[Ärger]\nSchlüssel=x\n", "äRGER", "SCHLÜSSEL", "x"},
        {"  [ A ]\n  k  =  v w  \n", " A ", "k\t", "v w"},
        {"[A]\nk=\" v \"\n", "A", "k", " v "},
        {"[A]\nk=a=b;c\n", "A", "k", "a=b;c"},
        {"[A]\nx=1\n[B]\nk=2\n", "A", "k", std::nullopt},
        {"[A]\n;k=1\n# k=2\n", "A", "k", std::nullopt},
        {"[A]\nk=1\nK=2\n", "A", "k", "1"},
        {"[A]\nx=1\n[a]\nk=2\n", "A", "k", std::nullopt},  // the first section counts
        {"\xEF\xBB\xBF[A]\r\nk=v", "A", "k", "v"}})
    EXPECT_EQ(Lookup(text, section, key), expected) << text;
}

TEST(IniFormat, EditorChangesOnlyTheLineConcernedAndWritesWhatReadsBack) {
  for (auto [before, section, value, after] :
       {std::tuple<std::string, const char*, const char*, std::string>{
            "; c\n[A]\n K = old\n\nz=1\n", "a", "new", "; c\n[A]\n K = new\n\nz=1\n"},
        {"[A]\nx=1\n; B\n[B]\n", "A", " x ", "[A]\nx=1\nk=\" x \"\n; B\n[B]\n"},
        {"[A]\nx=1", "B", "v", "[A]\nx=1\n\n[B]\nk=v\n"},
        {"[A]\nx=1", "A", "v", "[A]\nx=1\nk=v"},
        {"[A]\r\nx=1\r\n", "B", "v", "[A]\r\nx=1\r\n\r\n[B]\r\nk=v\r\n"},
        {"\xEF\xBB\xBF[A]\nk=1\n[A]\nk=2\n", "A", "3", "\xEF\xBB\xBF[A]\nk=3\n[A]\nk=2\n"}}) {
    ini::IniDocument document(before);
    document.Set(section, "k", value);
    EXPECT_EQ(document.Text(), after) << before;
  }
  for (const char* value : {"trailing\t", "\"q\"", "; no comment", "[no section]"}) {
    ini::IniDocument document("[S]\nk=old\n");
    document.Set("s", "K", value);
    EXPECT_EQ(Lookup(document.Text(), "S", "k"), value) << document.Text();
  }
}

TEST(IniFile, RewritesInPlaceOfLinksKeepingModesAndNeverLeavesATornFile) {
  constexpr std::string_view kOriginal = "; settings\r\n[A]\r\nk=old\r\n";
  qz::testing::TempFolder folder;
  const std::string path = folder.Write("s.ini", kOriginal);
  fs::create_directory(folder.File("dir.ini"));
  for (auto [file, section, key, value] :
       {std::tuple<std::string, std::string, std::string, std::string>{path, "A", "k", "x\ny"},
        {path, "A", "k=1", "v"},
        {path, "A]", "k", "v"},
        {folder.File("dir.ini"), "A", "k", "v"}})
    EXPECT_FALSE(IniFile(file).Write(section, key, value).ok())
        << file << " [" << section << "] " << key;
  ::chmod(path.c_str(), 0444);  // read-only even for root
  EXPECT_FALSE(IniFile(path).Write("A", "k", "v").ok());
  ::chmod(path.c_str(), 0640);
  // A file size limit fails the write part way, as a full disk does.
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{16, 16};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(IniFile(path).Write("A", "k", std::string(200, 'x')).ok() ? 1 : 0);
  }
  EXPECT_TRUE(ExitedCleanly(child)) << "the write should answer false";
  EXPECT_EQ(folder.Read("s.ini"), kOriginal);
  EXPECT_EQ(folder.EntryCount(), 2) << "no temporary file left behind";

  fs::create_symlink("s.ini", folder.File("link.ini"));
  ASSERT_TRUE(IniFile(folder.File("link.ini")).Write("A", "k", "new").ok());
  EXPECT_TRUE(fs::is_symlink(folder.File("link.ini")));
  EXPECT_EQ(folder.Read("s.ini"), "; settings\r\n[A]\r\nk=new\r\n");
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));
  EXPECT_EQ(IniFile(folder.File("new.ini")).Read("A", "k"), std::nullopt);
  ASSERT_TRUE(IniFile(folder.File("new.ini")).Write("A", "k", "v").ok());
  EXPECT_EQ(folder.Read("new.ini"), "[A]\nk=v\n");
}

// Six writers, each with its own open file as a process has, write 20 keys,
// half of them to the shared section "S" and half to their own, so every
// write must merge.
TEST(IniFile, ConcurrentWritersAreAllKept) {
  constexpr int kWriters = 6, kWrites = 20;
  qz::testing::TempFolder folder;
  const std::string path = folder.Write("c.ini", "; shared\n[S]\nkeep=me\n");
  auto section = [](int writer, int n) { return n % 2 ? "W" + std::to_string(writer) : "S"; };
  auto key = [](int writer, int n) { return std::to_string(writer) + "-" + std::to_string(n); };
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w)
    threads.emplace_back([&, w] {
      for (int n = 0; n < kWrites; ++n)  // no giving up, even on a loaded machine
        EXPECT_TRUE(
            IniFile(path, std::chrono::minutes(1)).Write(section(w, n), key(w, n), "v").ok());
    });
  for (std::thread& thread : threads) thread.join();
  IniFile file(path);
  for (int w = 0; w < kWriters; ++w)
    for (int n = 0; n < kWrites; ++n) EXPECT_EQ(file.Read(section(w, n), key(w, n)), "v");
  EXPECT_EQ(file.Read("S", "keep"), "me");
  EXPECT_EQ(folder.EntryCount(), 1) << "no temporary or lock file left behind";
}

// A writer waits for another writer of the same file only until its
// deadline, then writes nothing and says why.
TEST(IniFile, WriterWaitsForOtherWritersOnlyUntilItsDeadline) {
  qz::testing::TempFolder folder;
  const std::string path = folder.Write("s.ini", "[A]\nk=old\n");
  const UniqueFd dir(::open(folder.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  Status status;
  const std::optional<FileLock> lock = FileLock::Acquire(dir.get(), "s.ini", {}, status);
  ASSERT_TRUE(lock) << status;
  struct stat st {};
  ASSERT_EQ(::stat(folder.File(LockFileName("s.ini")).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u) << "the lock file is the writer's own";
  EXPECT_EQ(IniFile(path, std::chrono::milliseconds(100)).Write("A", "k", "new").message(),
            ".s.ini.lock: another writer held the lock for 100 ms");
  EXPECT_EQ(IniFile(path).Read("A", "k"), "old");
}

}  // namespace
}  // namespace qz
