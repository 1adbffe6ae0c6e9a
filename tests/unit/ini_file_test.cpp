#include "platform/ini_file.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace qz {
namespace {

constexpr std::string_view kOriginal = "; settings\r\n[A]\r\nk=old\r\n";

TEST(IniFile, RefusedWritesLeaveTheFileWhole) {
  qz::testing::TempFolder folder;
  const std::string path = folder.Write("s.ini", kOriginal);
  std::filesystem::create_directory(folder.File("dir.ini"));
  const std::string ro = folder.Write("ro.ini", kOriginal);
  ::chmod(ro.c_str(), 0444);  // read-only even for root
  struct Case {
    const char* why;
    std::string file, section, key, value;
  };
  const Case cases[] = {
      {"LF in value", path, "A", "k", "x\ny"},
      {"NUL in value", path, "A", "k", std::string("x\0", 2)},
      {"= in key", path, "A", "k=1", "v"},
      {"CR in key", path, "A", "k\r", "v"},
      {"] in section", path, "A]", "k", "v"},
      {"read-only file", ro, "A", "k", "v"},
      {"folder", folder.File("dir.ini"), "A", "k", "v"},
      {"folder with /", folder.path() + "/", "A", "k", "v"},
  };
  for (const Case& c : cases)
    EXPECT_FALSE(IniFile(c.file).Write(c.section, c.key, c.value)) << c.why;
  EXPECT_EQ(folder.Read("s.ini"), kOriginal);
  EXPECT_EQ(folder.Read("ro.ini"), kOriginal);
  EXPECT_EQ(folder.EntryCount(), 3) << "no temporary file left behind";
}

TEST(IniFile, FullDiskAnswersFalseAndKeepsTheOldFile) {
  qz::testing::TempFolder folder;
  const std::string path = folder.Write("s.ini", kOriginal);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {  // a file size limit fails the write part way, as a full disk does
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{16, 16};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(IniFile(path).Write("A", "k", std::string(200, 'x')) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write should answer false";
  EXPECT_EQ(folder.Read("s.ini"), kOriginal);
  EXPECT_EQ(folder.EntryCount(), 1);
}

TEST(IniFile, RewriteKeepsPermissionsAndLinksAndCreatesMissingFiles) {
  qz::testing::TempFolder folder;
  const std::string real = folder.Write("real.ini", kOriginal);
  ::chmod(real.c_str(), 0640);
  std::filesystem::create_symlink("real.ini", folder.File("link.ini"));
  ASSERT_TRUE(IniFile(folder.File("link.ini")).Write("A", "k", "new"));
  EXPECT_TRUE(std::filesystem::is_symlink(folder.File("link.ini")));
  EXPECT_EQ(folder.Read("real.ini"), "; settings\r\n[A]\r\nk=new\r\n");
  EXPECT_EQ(std::filesystem::status(real).permissions(), std::filesystem::perms(0640));

  IniFile fresh(folder.File("new.ini"));
  EXPECT_EQ(fresh.Read("A", "k"), std::nullopt);
  ASSERT_TRUE(fresh.Write("A", "k", "v"));
  EXPECT_EQ(folder.Read("new.ini"), "[A]\nk=v\n");
}

}  // namespace
}  // namespace qz
