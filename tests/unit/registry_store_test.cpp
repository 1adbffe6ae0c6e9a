// The registry store: path rules, keys, values, enumeration order, limits,
// and a file that is locked or damaged.
#include "platform/registry_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/sqlite_holders.h"
#include "support/temp_folder.h"

namespace qz::testing {
namespace {

std::string Repeat(std::string_view unit, size_t times) {
  std::string s;
  while (times-- > 0) s += unit;
  return s;
}

TEST(RegistryPathTest, SplitsAndRefusesAsDocumented) {
  const std::pair<std::string, std::optional<size_t>> cases[] = {
      // nullopt: refused
      {"", 0},
      {"A\\B\\", 2},  // one trailing "\" names the same key
      {"\\A", std::nullopt},
      {"A\\\\B", std::nullopt},
      {Repeat("\xC3\xA9", 255), 1},  // 255 characters, not bytes
      {Repeat("n", 256), std::nullopt},
      {Repeat("k\\", 512), 512},
      {Repeat("k\\", 513), std::nullopt}};
  for (const auto& [path, names] : cases) {
    const auto split = SplitKeyPath(path);
    EXPECT_EQ(split ? std::optional(split->size()) : std::nullopt, names) << path;
  }
}

class RegistryStoreTest : public ::testing::Test {
 protected:
  std::string File() const { return folder_.File("QzRegistry.db"); }
  std::vector<std::string> Names(RegistryStore& store, std::string_view path) {
    RegHandle key = 0;
    std::vector<std::string> names;
    if (store.OpenKey(kHkeyCurrentUser, path, key) != kRegOk) return names;
    std::string name;
    for (uint32_t i = 0; store.EnumKey(key, i, 300, name) == kRegOk; ++i) names.push_back(name);
    store.CloseKey(key);
    return names;
  }

  TempFolder folder_;
  RegistryStore store_{File()};
};

TEST_F(RegistryStoreTest, AMissingFileFindsNothingAndBadHandlesAndPathsAreRefused) {
  RegHandle key = 0;
  std::string data;
  EXPECT_EQ(store_.OpenKey(kHkeyCurrentUser, "Software", key), kRegNotFound);
  EXPECT_EQ(store_.EnumKey(kHkeyCurrentUser, 0, 300, data), kRegNoMoreItems);
  EXPECT_EQ(folder_.EntryCount(), 0);  // reading created nothing
  EXPECT_EQ(store_.OpenKey(0x12345, "", key), kRegInvalidHandle);
  EXPECT_EQ(store_.CreateKey(kHkeyCurrentUser, "A\\\\B", key), kRegBadPath);
  ASSERT_EQ(store_.CreateKey(kHkeyCurrentUser, "A", key), kRegOk);
  EXPECT_EQ(store_.CloseKey(key), kRegOk);
  EXPECT_EQ(store_.SetValue(key, "v", "x"), kRegInvalidHandle);          // closed
  EXPECT_EQ(store_.OpenKey(kHkeyLocalMachine, "A", key), kRegNotFound);  // a tree of its own
}

TEST_F(RegistryStoreTest, KeysAlongThePathAreCreatedAndNamesIgnoreCaseInLookupAndOrder) {
  ASSERT_EQ(store_.ReplaceValues(kHkeyCurrentUser, "Software\\Acme\\Tool\\", {{"Colour", "blue"}}),
            kRegOk);
  RegHandle key = 0;
  std::string data;
  ASSERT_EQ(store_.OpenKey(kHkeyCurrentUser, "SOFTWARE\\acme\\TOOL", key), kRegOk);
  EXPECT_EQ(store_.QueryValue(key, "colour", 255, data), kRegOk);
  EXPECT_EQ(data, "blue");
  // A buffer of 255 characters, not bytes, reads 254; writes keep every one.
  ASSERT_EQ(store_.SetValue(key, "v", Repeat("\xE2\x82\xAC", 255)), kRegOk);
  EXPECT_EQ(store_.QueryValue(key, "v", 255, data), kRegMoreData);
  EXPECT_EQ(data, "blue");  // untouched
  EXPECT_EQ(store_.QueryValue(key, "v", 256, data), kRegOk);
  EXPECT_EQ(data, Repeat("\xE2\x82\xAC", 255));
  for (std::string_view name : {"delta", "Bravo", "alpha", "Charlie"})
    ASSERT_EQ(store_.ReplaceValues(kHkeyCurrentUser, "P\\" + std::string(name), {}), kRegOk);
  EXPECT_EQ(Names(store_, "P"), (std::vector<std::string>{"alpha", "Bravo", "Charlie", "delta"}));
  RegistryStore other(File());  // as another process sees it
  EXPECT_EQ(Names(other, "p\\"), Names(store_, "P"));
}

TEST_F(RegistryStoreTest, WholeKeyOperations) {
  ASSERT_EQ(store_.ReplaceValues(kHkeyCurrentUser, "Prof\\One", {{"Transport", "x"}, {"F", "a"}}),
            kRegOk);
  ASSERT_EQ(store_.ReplaceValues(kHkeyCurrentUser, "Prof\\One", {{"Transport", "y"}}), kRegOk);
  ASSERT_EQ(store_.ReplaceValues(kHkeyCurrentUser, "Prof\\OneMore\\Deep", {{"x", "y"}}), kRegOk);
  RegistryStore::Values values;
  ASSERT_EQ(store_.ReadValues(kHkeyCurrentUser, "prof\\one", values), kRegOk);
  EXPECT_EQ(values, (RegistryStore::Values{{"Transport", "y"}}));  // replaced, not merged

  ASSERT_EQ(store_.DeleteTree(kHkeyCurrentUser, "Prof\\One"), kRegOk);
  EXPECT_EQ(store_.ReadValues(kHkeyCurrentUser, "Prof\\One", values), kRegNotFound);
  // A sibling whose name merely starts the same survives, with what is below it.
  EXPECT_EQ(store_.ReadValues(kHkeyCurrentUser, "Prof\\OneMore\\Deep", values), kRegOk);
  EXPECT_EQ(store_.DeleteTree(kHkeyCurrentUser, ""), kRegInvalidParameter);
}

TEST_F(RegistryStoreTest, ALockedFileRefusesWritesClearlyAndLosesNothing) {
  RegistryStore impatient(File(), 50);
  RegistryStore::Values values;
  ASSERT_EQ(impatient.ReplaceValues(kHkeyCurrentUser, "K", {{"v", "before"}}), kRegOk);
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(File().c_str(), &raw), SQLITE_OK);
  SqliteDb holder(raw);
  ASSERT_EQ(sqlite3_exec(raw, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(impatient.ReplaceValues(kHkeyCurrentUser, "K", {{"v", "during"}}), kRegLocked);
  EXPECT_NE(RegStatusText(kRegLocked).find("locked"), std::string_view::npos);
  EXPECT_EQ(impatient.ReadValues(kHkeyCurrentUser, "K", values), kRegOk);  // readers go on
  EXPECT_EQ(values, (RegistryStore::Values{{"v", "before"}}));
  ASSERT_EQ(sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(impatient.ReplaceValues(kHkeyCurrentUser, "K", {{"v", "after"}}), kRegOk);
}

TEST_F(RegistryStoreTest, ADamagedFileIsReportedAndLeftAsItIs) {
  const std::string garbage = Repeat("not a database, just text\n", 400);
  folder_.Write("QzRegistry.db", garbage);
  RegistryStore::Values values;
  EXPECT_EQ(store_.ReadValues(kHkeyCurrentUser, "K", values), kRegCorrupt);
  EXPECT_EQ(store_.ReplaceValues(kHkeyCurrentUser, "K", {{"a", "b"}}), kRegCorrupt);
  EXPECT_NE(RegStatusText(kRegCorrupt).find("damaged"), std::string_view::npos);
  EXPECT_EQ(folder_.Read("QzRegistry.db"), garbage);
}

// Profiles hold credentials: what an earlier run left open to other users
// (as a crash leaves -wal and -shm) is for owner and group only once written.
TEST_F(RegistryStoreTest, FilesLeftOpenToOthersAreTightened) {
  ASSERT_EQ(store_.ReplaceValues(kHkeyCurrentUser, "K", {{"Transport", "smtp://u:p@h"}}), kRegOk);
  RegistryStore later(File());
  const char* const files[] = {"QzRegistry.db", "QzRegistry.db-wal", "QzRegistry.db-shm"};
  for (const char* name : files) {
    std::ofstream(folder_.File(name), std::ios::app).flush();
    ASSERT_EQ(::chmod(folder_.File(name).c_str(), 0644), 0) << name;
  }
  ASSERT_EQ(later.ReplaceValues(kHkeyCurrentUser, "K", {{"From", "a@b"}}), kRegOk);
  for (const char* name : files) {
    struct stat st {};
    ASSERT_EQ(::stat(folder_.File(name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 0777, 0640u) << name;
  }
}

}  // namespace
}  // namespace qz::testing
