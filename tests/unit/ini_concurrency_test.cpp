// Writers in several processes and threads, and writers killed mid-write,
// must never leave a settings file torn or missing a completed write.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ini_file.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

constexpr int kWrites = 20;

// Half of each writer's keys go to the shared section "S", half to its own,
// so every write has to merge with the others.
std::string SectionOf(const std::string& writer, int n) { return n % 2 ? writer : "S"; }

bool WriteKeys(const std::string& path, const std::string& writer) {
  bool ok = true;
  for (int n = 0; n < kWrites; ++n)
    ok = IniFile(path).Write(SectionOf(writer, n), writer + std::to_string(n), std::to_string(n)) &&
         ok;
  return ok;
}

TEST(IniConcurrency, WritesFromProcessesAndThreadsAreAllKept) {
  qz::testing::TempFolder folder;
  const std::string path = folder.Write("c.ini", "; shared\n[S]\nkeep=me\n");
  const std::vector<std::string> writers = {"proc0",   "proc1",   "proc2",
                                            "thread0", "thread1", "thread2"};
  std::vector<pid_t> children;
  for (int p = 0; p < 3; ++p) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(WriteKeys(path, writers[p]) ? 0 : 1);
    children.push_back(child);
  }
  std::vector<std::thread> threads;
  std::vector<char> thread_ok(3);
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&, t] { thread_ok[t] = WriteKeys(path, writers[3 + t]); });
  for (std::thread& thread : threads) thread.join();
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(thread_ok, std::vector<char>(3, 1));

  IniFile file(path);
  for (const std::string& writer : writers)
    for (int n = 0; n < kWrites; ++n)
      EXPECT_EQ(file.Read(SectionOf(writer, n), writer + std::to_string(n)), std::to_string(n));
  std::string text = folder.Read("c.ini");
  size_t lines = std::count(text.begin(), text.end(), '\n');
  // The original 3 lines, one per key, and per own section a blank line and a header.
  EXPECT_EQ(lines, 3 + writers.size() * (kWrites + 2));
  EXPECT_EQ(file.Read("S", "keep"), "me");
  EXPECT_EQ(folder.EntryCount(), 1) << "no temporary file left behind";
}

// The whole file after writing `counter`; padding makes it span several
// blocks, so a torn write would show.
std::string VersionWith(const std::string& counter) {
  std::string text = "[Pad]\n";
  for (int i = 0; i < 60; ++i)
    text += "line" + std::to_string(i) + "=" + std::string(80, 'a' + i % 26) + "\n";
  return text + "[Run]\ncounter=" + counter + "\n";
}

TEST(IniConcurrency, KilledWriterLeavesTheOldOrTheNewFile) {
  qz::testing::TempFolder folder;
  const std::string path = folder.Write("k.ini", VersionWith("0"));
  std::mt19937 random(20240611);
  long last = 0;
  for (int round = 0; round < 12; ++round) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (long n = std::stol(IniFile(path).Read("Run", "counter").value_or("0")) + 1;; ++n)
        IniFile(path).Write("Run", "counter", std::to_string(n));
    }
    ::usleep(std::uniform_int_distribution<useconds_t>(500, 15000)(random));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    std::string counter = IniFile(path).Read("Run", "counter").value_or("");
    ASSERT_EQ(folder.Read("k.ini"), VersionWith(counter)) << "round " << round;
    EXPECT_GE(std::stol(counter), last) << "a completed write was lost";
    last = std::stol(counter);
  }
  // The next write clears the temporary files the killed writers left behind.
  ASSERT_TRUE(IniFile(path).Write("Run", "counter", "done"));
  EXPECT_EQ(folder.EntryCount(), 1);
}

}  // namespace
}  // namespace qz
