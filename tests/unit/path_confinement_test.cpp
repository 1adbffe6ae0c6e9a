#include "config/path_confinement.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "config/settings_interface.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kOutsideText = "[Pager Terminal]\nNumber=outside\n";

// A program folder with QzNotes.ini naming every `path` below, and a folder
// outside it whose files must never change.
class Confinement : public ::testing::Test {
 protected:
  Confinement() {
    outside_.Write("QzPage.ini", kOutsideText);
    folder_.Write("QzPage.ini", "[Pager Terminal]\nNumber=1\n");
    folder_.Write("QzNotesLog.log", "2026-01-01 00:00:00 Page Status: x::\r\n");
    fs::create_directory(folder_ / "sub");
    folder_.Write("sub/QzPage.ini", "[Pager Terminal]\n");
  }
  // QzNotes.ini with section [S] whose path is `relative`.
  void PathIs(const std::string& relative) {
    folder_.Write("QzNotes.ini", "[S]\npath=" + relative + "\n");
  }
  bool Write(const char* value = "Number=new") {
    return gblnSetPagerSettingsEx(folder_.path(), "S", Variant::Array({Variant(value)}, 0));
  }

  qz::testing::TempFolder outside_, folder_;
};

// Each `path` value with what becomes of it: "RW" resolves and is written,
// "R-" resolves but the write answers false, "--" neither. "" names the
// folder itself.
TEST_F(Confinement, PathValuesAndTheMainFileStayInsideTheFolder) {
  const std::string out = "../../" + fs::path(outside_.path()).filename().string();
  const std::string links[][2] = {{"sub", "inner"},
                                  {folder_.File("sub"), "absolute-inner"},
                                  {outside_.path(), "escape"},
                                  {outside_.File("QzPage.ini"), "outside.ini"},
                                  {"missing.ini", "dangling-in.ini"},
                                  {outside_.File("none.ini"), "dangling-out.ini"},
                                  {"../QzPage.ini", "sub/up.ini"},
                                  {out + "/QzPage.ini", "sub/out.ini"},
                                  {"loop-b", "loop-a"},
                                  {"loop-a", "loop-b"},
                                  {"QzNotesLog.log", "log-link.ini"}};  // target, name
  for (const auto& [target, name] : links) fs::create_symlink(target, folder_ / name);
  fs::create_hard_link(folder_ / "QzNotesLog.log", folder_ / "log-hard.ini");
  folder_.Write(".QzPage.ini.Ab12Cd", "[Pager Terminal]\n");  // a writer's temporary file
  folder_.Write(".QzPage.ini.lock", "[Pager Terminal]\n");    // a writer's lock file
  const std::string log_before = folder_.Read("QzNotesLog.log");
  for (auto [fate, paths] :
       {std::pair<const char*, std::vector<std::string>>{
            "RW",
            {"QzPage.ini", "sub/QzPage.ini", "inner/QzPage.ini", "absolute-inner/QzPage.ini",
             "sub/up.ini"}},
        {"R-", {"", "dangling-in.ini", "QzNone.ini"}},
        {"--",
         {outside_.File("QzPage.ini"), "sub/../QzPage.ini", "escape/QzPage.ini", "outside.ini",
          "dangling-out.ini", "sub/out.ini", "loop-a", "QzNotesLog.log", "qznoteslog.LOG",
          "log-link.ini", "log-hard.ini", ".QzPage.ini.Ab12Cd", ".QzPage.ini.lock"}}})
    for (const std::string& relative : paths) {
      std::string seen = ConfinedSettingsFile(folder_.path(), relative) ? "R" : "-";
      PathIs(relative);
      EXPECT_EQ(seen + (Write() ? "W" : "-"), fate) << relative;
    }
  EXPECT_EQ(folder_.Read("QzNotesLog.log"), log_before);
  EXPECT_NE(folder_.Read("QzPage.ini").find("[S]\nNumber=new\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(folder_ / "missing.ini")) << "a dangling link creates nothing";

  outside_.Write("QzNotes.ini", "[Default]\nIndex=0\n");
  fs::remove(folder_ / "QzNotes.ini");
  fs::create_symlink(outside_.File("QzNotes.ini"), folder_ / "QzNotes.ini");
  EXPECT_FALSE(gblnSetSettings(folder_.path(), Variant::Array({"1", "2", "3", "4"}, 0)));
  EXPECT_FALSE(
      gblnSetPagerSettingsEx(folder_.path(), "Default", Variant::Array({Variant("Index=1")}, 0)));
  EXPECT_EQ(outside_.Read("QzNotes.ini"), "[Default]\nIndex=0\n");
  EXPECT_EQ(outside_.Read("QzPage.ini"), kOutsideText);
  EXPECT_EQ(outside_.EntryCount(), 2) << "nothing created outside";
}

// The attack the single resolution defeats: a link to outside swapped in
// for the file, or for a folder on its path, while writes run. However the
// swaps and the writes interleave, no write lands outside.
TEST_F(Confinement, NoWriteEscapesThroughALinkSwappedInMeanwhile) {
  fs::create_directory(outside_ / "sub");
  outside_.Write("sub/QzPage.ini", kOutsideText);
  for (auto [relative, swapped] :
       {std::pair{"QzPage.ini", "QzPage.ini"}, {"sub/QzPage.ini", "sub"}}) {
    PathIs(relative);
    const fs::path real = folder_ / swapped, parked = folder_ / "parked", link = folder_ / "link";
    std::atomic<bool> writing{true};
    std::atomic<int> rounds{0};
    std::thread attacker([&] {
      // Each round parks the real entry and renames a ready link into its
      // place, then puts the real one back: all steps are atomic renames.
      for (; rounds < 100000 && writing; ++rounds) {
        std::error_code ignored;
        fs::create_symlink(outside_ / swapped, link, ignored);
        fs::rename(real, parked, ignored);
        fs::rename(link, real, ignored);
        std::this_thread::yield();
        fs::remove(real, ignored);  // the link (or, after a lost race, nothing)
        fs::rename(parked, real, ignored);
        // Pacing only: the real entry stays in place most of the time, so
        // writes also run (and must stay inside) while swaps hit them.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
    // Writes go on until the attacker has swapped a few hundred times and a
    // write has landed: a descheduled attacker (a loaded machine) must not
    // leave every write inside one long swap window.
    int landed = 0;
    for (int i = 0; i < 100000 && (rounds < 300 || landed == 0); ++i)
      landed += Write(("Number=" + std::to_string(i)).c_str());
    writing = false;
    attacker.join();
    EXPECT_GT(landed, 0) << swapped;
    EXPECT_EQ(outside_.Read("QzPage.ini"), kOutsideText) << swapped;
    EXPECT_EQ(outside_.Read("sub/QzPage.ini"), kOutsideText) << swapped;
    EXPECT_EQ(outside_.EntryCount(), 2) << swapped << ": nothing created outside";
  }
}

}  // namespace
}  // namespace qz
