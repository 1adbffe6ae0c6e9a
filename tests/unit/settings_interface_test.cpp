#include "config/settings_interface.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "automation/run_time_error.h"
#include "config/program_folder.h"
#include "config/settings_path.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

namespace fs = std::filesystem;

Variant Items(std::vector<Variant> items, int32_t lbound = 0) {
  return Variant::Array(std::move(items), lbound);
}

// The shipped samples: every key set, and the "path" entries of the round trip.
class SettingsInterface : public ::testing::Test {
 protected:
  SettingsInterface() {
    for (const char* name : kFiles) fs::copy_file(kSamples / name, fs::path(folder_.File(name)));
  }
  static inline const fs::path kSamples =
      fs::path(__FILE__).parent_path().parent_path().parent_path() / "packaging";
  static constexpr const char* kFiles[] = {"QzNotes.ini", "QzPage.ini", "QzSNPP.ini", "QzSMS.ini"};
  qz::testing::TempFolder folder_;
  const std::string& f = folder_.path();
};

TEST_F(SettingsInterface, ReadsAnswerTheirShapes) {
  EXPECT_EQ(gvarGetSettings(f), Items({"", "1200,e,7,1", "/dev/ttyUSB0", "0"}));
  EXPECT_EQ(gvarGetPagerSettings(f, 2), Items({"Pager terminal on the local serial line",
                                               "SNPP server (see QzSNPP.ini)", "0"}));
  EXPECT_EQ(gvarGetPagerSettingsEx(f, 2), gvarGetPagerSettings(f, 2));
  EXPECT_EQ(gvarGetPagerSettings(f, 3).At(13), Variant("username=qznotes&password=change-me"));
  EXPECT_EQ(gvarGetPagerSettingsEx(f, 1),
            Items({"TCPPort=444", "HostName=127.0.0.1", "Timeout=20"}));
  for (int16_t request : {1, 7})
    EXPECT_EQ(gvarGetPagerSettings(f, request), Variant::NoDimensions());
  EXPECT_EQ(mvarGetDefaultGateway(f), Variant("0"));

  folder_.Write("QzSNPP.ini", "[SNPP Paging Service]\nHostName=h\n");
  EXPECT_EQ(gvarGetPagerSettingsEx(f, 1), Items({"TCPPort=", "HostName=h", "Timeout="}));
  // At most 99 characters, never half a UTF-8 sequence, up to a NUL; a
  // missing key reads as "".
  std::string euros;
  for (int i = 0; i < 110; ++i) euros += "€";
  folder_.Write("QzNotes.ini", "[Pager Terminal]\nNumber=" + std::string(150, 'b') +
                                   "\nSettings=x" + euros +
                                   "\nComPort=" + std::string("ab\0cd", 5) + "\n");
  EXPECT_EQ(gvarGetSettings(f),
            Items({std::string(99, 'b'), "x" + euros.substr(0, 98 * 3), "ab", ""}));
  EXPECT_EQ(mvarGetDefaultGateway(f), Variant(""));
  // Without the files every read answers Empty, and nothing is created.
  for (const char* name : kFiles) fs::remove(folder_.File(name));
  EXPECT_EQ(gvarGetSettings(f), Variant());
  EXPECT_EQ(mvarGetDefaultGateway(f), Variant());
  for (int16_t request : {0, 1, 2, 3, 7}) EXPECT_EQ(gvarGetPagerSettings(f, request), Variant());
  for (int16_t request : {0, 1, 2, 3}) EXPECT_EQ(gvarGetPagerSettingsEx(f, request), Variant());
  for (int16_t request : {-1, 4})
    EXPECT_EQ(gvarGetPagerSettingsEx(f, request), Variant::NoDimensions());
  EXPECT_FALSE(gblnSetSettings(f, Items({"1", "2", "3", "4"})));
  EXPECT_EQ(folder_.EntryCount(), 0);
}

TEST_F(SettingsInterface, ExtendedReadsWriteBackUnchanged) {
  for (auto [request, section] :
       {std::pair{0, "Pager Terminal"}, {1, "SNPP Paging Service"}, {3, "SMS"}})
    ASSERT_TRUE(gblnSetPagerSettingsEx(f, section, gvarGetPagerSettingsEx(f, request)));
  for (const char* name : kFiles) {
    std::ifstream in(kSamples / name, std::ios::binary);
    EXPECT_EQ(folder_.Read(name), std::string(std::istreambuf_iterator<char>(in), {})) << name;
  }
}

// Elements before a bad one stay written; the errors carry the procedure's
// name. Paths out of the folder are refused in path_confinement_test.cpp.
TEST_F(SettingsInterface, WritesAndTheirErrors) {
  ASSERT_TRUE(gblnSetSettings(f, Items({"555", int16_t{5}, Variant(), 2.5, "unused"})));
  EXPECT_EQ(gvarGetSettings(f), Items({"555", "5", "", "2.5"}));
  ASSERT_TRUE(gblnSetPagerSettingsEx(f, "Gateway", Items({"0=a=b", "1="})));
  EXPECT_EQ(gvarGetPagerSettings(f, 2), Items({"a=b", "", "0"}));
  EXPECT_TRUE(gblnSetPagerSettingsEx(f, "Default", Items({})));
  for (auto [ex, value, number] : {std::tuple{false, Items({"n1", "s", "c"}), kErrSubscript},
                                   {false, Items({"n2", Variant::Null()}), kErrInvalidNull},
                                   {false, Items({"x", "x", "x", "x"}, 1), kErrSubscript},
                                   {true, Items({"Index=3", "Index"}), kErrSubscript},
                                   {true, Variant::NoDimensions(), kErrSubscript},
                                   {true, Items({"x=1"}, 40000), kErrOverflow}}) {
    try {
      ex ? gblnSetPagerSettingsEx(f, "Default", value) : gblnSetSettings(f, value);
      ADD_FAILURE() << "nothing raised";
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.number(), number);
      EXPECT_EQ(e.source(), ex ? "cNotify:gblnSetPagerSettingsEx" : "cNotify:gblnSetSettings");
      EXPECT_EQ(e.description(), StandardErrorText(number));
    }
  }
  EXPECT_EQ(gvarGetSettings(f).At(0), Variant("n2"));
  EXPECT_EQ(mvarGetDefaultGateway(f), Variant("3"));

  const std::string before = folder_.Read("QzNotes.ini");
  for (const char* section : {"NoPath", "default"})
    EXPECT_FALSE(gblnSetPagerSettingsEx(f, section, Items({"k=v"}))) << section;
  EXPECT_FALSE(gblnSetPagerSettingsEx(f, "Default", Items({"=v"}))) << "empty key";
  ::chmod(folder_.File("QzNotes.ini").c_str(), 0444);
  EXPECT_FALSE(gblnSetSettings(f, Items({"1", "2", "3", "4"})));
  EXPECT_EQ(folder_.Read("QzNotes.ini"), before);
}

TEST(ProgramFolder, OptionThenEnvironmentThenExecutable) {
  ::unsetenv("QZNOTES_FOLDER");
  EXPECT_TRUE(fs::exists(ProgramFolder(std::nullopt) + "/qznotes_tests"));
  ::setenv("QZNOTES_FOLDER", "/srv/qz", 1);
  EXPECT_EQ(ProgramFolder(std::nullopt), "/srv/qz");
  EXPECT_EQ(ProgramFolder("rel"), (fs::current_path() / "rel").string());
  ::unsetenv("QZNOTES_FOLDER");
  for (const char* folder : {"/opt/qz", "/opt/qz/"})
    EXPECT_EQ(SettingsPath(folder, "QzNotes.ini"), "/opt/qz/QzNotes.ini");
}

}  // namespace
}  // namespace qz
