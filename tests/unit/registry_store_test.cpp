// The registry store: path rules, keys, values, enumeration order, limits,
// and a file that is shared, locked or damaged.
#include "platform/registry_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <thread>

#include "platform/sqlite_holders.h"
#include "support/temp_folder.h"

namespace qz::testing {
namespace {

std::string Repeat(std::string_view unit, size_t times) {
  std::string s;
  for (size_t i = 0; i < times; ++i) s += unit;
  return s;
}

std::string Chain(size_t depth) {
  std::string path;
  for (size_t i = 0; i < depth; ++i) path += (i ? "\\k" : "k");
  return path;
}

TEST(RegistryPathTest, SplitsAndRefusesAsDocumented) {
  struct Case {
    std::string path;
    std::optional<size_t> names;  // nullopt: refused
    const char* why;
  };
  const Case cases[] = {
      {"", 0, "the root key itself"},
      {"A", 1, "one name"},
      {"A\\B", 2, "two names"},
      {"A\\B\\", 2, "one trailing backslash names the same key"},
      {"\\A", std::nullopt, "leading backslash"},
      {"\\", std::nullopt, "a lone backslash"},
      {"A\\\\B", std::nullopt, "an empty name between two backslashes"},
      {"A\\\\", std::nullopt, "two trailing backslashes leave an empty name"},
      {Repeat("n", 255), 1, "a name of 255 characters"},
      {Repeat("\xC3\xA9", 255), 1, "255 characters of two bytes each"},
      {Repeat("n", 256), std::nullopt, "a name of 256 characters"},
      {Chain(512), 512, "the deepest path"},
      {Chain(513), std::nullopt, "one level too deep"},
  };
  for (const Case& c : cases) {
    auto names = SplitKeyPath(c.path);
    ASSERT_EQ(names.has_value(), c.names.has_value()) << c.why;
    if (names) {
      EXPECT_EQ(names->size(), *c.names) << c.why;
    }
  }
  EXPECT_EQ(JoinKeyPath(*SplitKeyPath("A\\B\\"), 2), "A\\B");
}

class RegistryStoreTest : public ::testing::Test {
 protected:
  std::string File() const { return folder_.File("QzRegistry.db"); }

  RegHandle Create(RegistryStore& store, std::string_view path) {
    RegHandle key = 0;
    EXPECT_EQ(store.CreateKey(kHkeyCurrentUser, path, key), kRegOk) << path;
    return key;
  }
  int32_t Read(RegistryStore& store, std::string_view path, std::string_view name, size_t capacity,
               std::string& data) {
    RegHandle key = 0;
    int32_t status = store.OpenKey(kHkeyCurrentUser, path, key);
    if (status != kRegOk) return status;
    status = store.QueryValue(key, name, capacity, data);
    store.CloseKey(key);
    return status;
  }
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

TEST_F(RegistryStoreTest, ReadingAMissingFileFindsNothingAndCreatesNothing) {
  RegHandle key = 0;
  EXPECT_EQ(store_.OpenKey(kHkeyCurrentUser, "Software", key), kRegNotFound);
  std::string name;
  EXPECT_EQ(store_.EnumKey(kHkeyCurrentUser, 0, 300, name), kRegNoMoreItems);
  EXPECT_EQ(folder_.EntryCount(), 0);
}

TEST_F(RegistryStoreTest, KeysAlongThePathAreCreatedAndNamesIgnoreCase) {
  RegHandle key = Create(store_, "Software\\Acme\\Tool\\");
  ASSERT_EQ(store_.SetValue(key, "Colour", "blue"), kRegOk);
  store_.CloseKey(key);
  std::string data;
  EXPECT_EQ(Read(store_, "SOFTWARE\\acme\\TOOL", "colour", 255, data), kRegOk);
  EXPECT_EQ(data, "blue");
  EXPECT_EQ(Names(store_, "Software"), std::vector<std::string>{"Acme"});
  EXPECT_EQ(Read(store_, "Software\\Acme", "Colour", 255, data),
            kRegNotFound);  // value is one level down
}

TEST_F(RegistryStoreTest, SubKeysEnumerateAlphabeticallyWithoutRegardToCase) {
  for (std::string_view name : {"delta", "Bravo", "alpha", "Charlie"})
    store_.CloseKey(Create(store_, "P\\" + std::string(name)));
  EXPECT_EQ(Names(store_, "P"), (std::vector<std::string>{"alpha", "Bravo", "Charlie", "delta"}));
  // A second process sees the same order.
  RegistryStore other(File());
  EXPECT_EQ(Names(other, "P\\"), Names(store_, "P"));
}

TEST_F(RegistryStoreTest, ValueLengthsAgainstTheBuffer) {
  struct Case {
    size_t chars;
    std::string unit;
    int32_t status_in_255;
  };
  const Case cases[] = {{0, "x", kRegOk},
                        {254, "x", kRegOk},
                        {255, "x", kRegMoreData},
                        {254, "\xE2\x82\xAC", kRegOk},
                        {255, "\xE2\x82\xAC", kRegMoreData},
                        {100000, "x", kRegMoreData}};
  RegHandle key = Create(store_, "Limits");
  for (const Case& c : cases) {
    std::string value = Repeat(c.unit, c.chars);
    ASSERT_EQ(store_.SetValue(key, "v", value), kRegOk);
    std::string data = "untouched";
    EXPECT_EQ(store_.QueryValue(key, "v", 255, data), c.status_in_255) << c.chars;
    EXPECT_EQ(data, c.status_in_255 == kRegOk ? value : "untouched");
    // Writes keep every character: a big enough buffer reads it back whole.
    EXPECT_EQ(store_.QueryValue(key, "v", c.chars + 1, data), kRegOk);
    EXPECT_EQ(data, value);
  }
}

TEST_F(RegistryStoreTest, BadHandlesAndPathsAreRefused) {
  RegHandle key = 0;
  std::string data;
  EXPECT_EQ(store_.QueryValue(0, "v", 255, data), kRegInvalidHandle);
  EXPECT_EQ(store_.OpenKey(0x12345, "", key), kRegInvalidHandle);
  EXPECT_EQ(store_.CreateKey(kHkeyCurrentUser, "A\\\\B", key), kRegBadPath);
  EXPECT_EQ(store_.CreateKey(kHkeyCurrentUser, "\\A", key), kRegBadPath);
  key = Create(store_, "A");
  EXPECT_EQ(store_.CloseKey(key), kRegOk);
  EXPECT_EQ(store_.SetValue(key, "v", "x"), kRegInvalidHandle);  // closed
  EXPECT_EQ(store_.CloseKey(kHkeyLocalMachine), kRegOk);
  // Root keys are separate trees.
  EXPECT_EQ(store_.OpenKey(kHkeyLocalMachine, "A", key), kRegNotFound);
}

TEST_F(RegistryStoreTest, WholeKeyOperations) {
  ASSERT_EQ(store_.ReplaceValues(kHkeyCurrentUser, "Prof\\One",
                                 {{"Transport", "sendmail"}, {"From", "a@b"}}),
            kRegOk);
  ASSERT_EQ(store_.ReplaceValues(kHkeyCurrentUser, "Prof\\One", {{"Transport", "smtp://h"}}),
            kRegOk);
  ASSERT_EQ(store_.ReplaceValues(kHkeyCurrentUser, "Prof\\OneMore\\Deep", {{"x", "y"}}), kRegOk);
  RegistryStore::Values values;
  ASSERT_EQ(store_.ReadValues(kHkeyCurrentUser, "prof\\one", values), kRegOk);
  EXPECT_EQ(values, (RegistryStore::Values{{"Transport", "smtp://h"}}));  // replaced, not merged

  ASSERT_EQ(store_.DeleteTree(kHkeyCurrentUser, "Prof\\One"), kRegOk);
  EXPECT_EQ(store_.ReadValues(kHkeyCurrentUser, "Prof\\One", values), kRegNotFound);
  // A sibling whose name merely starts the same survives.
  EXPECT_EQ(Names(store_, "Prof"), std::vector<std::string>{"OneMore"});
  EXPECT_EQ(store_.ReadValues(kHkeyCurrentUser, "Prof\\OneMore\\Deep", values), kRegOk);
  EXPECT_EQ(store_.DeleteTree(kHkeyCurrentUser, "Prof\\One"), kRegNotFound);
  EXPECT_EQ(store_.DeleteTree(kHkeyCurrentUser, ""), kRegInvalidParameter);
}

TEST_F(RegistryStoreTest, ALockedFileRefusesWritesClearlyAndLosesNothing) {
  RegistryStore impatient(File(), 50);
  RegHandle key = Create(impatient, "K");
  ASSERT_EQ(impatient.SetValue(key, "v", "before"), kRegOk);

  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(File().c_str(), &raw), SQLITE_OK);
  SqliteDb holder(raw);
  ASSERT_EQ(sqlite3_exec(raw, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

  EXPECT_EQ(impatient.SetValue(key, "v", "during"), kRegLocked);
  EXPECT_NE(RegStatusText(kRegLocked).find("locked"), std::string_view::npos);
  std::string data;
  EXPECT_EQ(impatient.QueryValue(key, "v", 255, data), kRegOk);  // readers go on
  EXPECT_EQ(data, "before");

  ASSERT_EQ(sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(impatient.SetValue(key, "v", "after"), kRegOk);
  EXPECT_EQ(impatient.QueryValue(key, "v", 255, data), kRegOk);
  EXPECT_EQ(data, "after");
}

TEST_F(RegistryStoreTest, ADamagedFileIsReportedAndLeftAsItIs) {
  const std::string garbage = Repeat("not a database, just text\n", 400);
  folder_.Write("QzRegistry.db", garbage);
  RegHandle key = 0;
  std::string data;
  EXPECT_EQ(store_.OpenKey(kHkeyCurrentUser, "K", key), kRegCorrupt);
  EXPECT_EQ(store_.QueryValue(kHkeyCurrentUser, "v", 255, data), kRegCorrupt);
  EXPECT_EQ(store_.CreateKey(kHkeyCurrentUser, "K", key), kRegCorrupt);
  EXPECT_EQ(store_.ReplaceValues(kHkeyCurrentUser, "K", {{"a", "b"}}), kRegCorrupt);
  EXPECT_NE(RegStatusText(kRegCorrupt).find("damaged"), std::string_view::npos);
  EXPECT_EQ(folder_.Read("QzRegistry.db"), garbage);
}

TEST_F(RegistryStoreTest, WritersInSeveralConnectionsAllLand) {
  constexpr int kWriters = 3;
  constexpr int kWrites = 40;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      RegistryStore own(File());  // its own connection, as another process has
      for (int i = 0; i < kWrites; ++i) {
        RegHandle key = 0;
        ASSERT_EQ(own.CreateKey(kHkeyCurrentUser, "W" + std::to_string(w), key), kRegOk);
        ASSERT_EQ(own.SetValue(key, "v" + std::to_string(i), std::to_string(i)), kRegOk);
        own.CloseKey(key);
      }
    });
  }
  for (auto& t : writers) t.join();
  for (int w = 0; w < kWriters; ++w) {
    RegistryStore::Values values;
    ASSERT_EQ(store_.ReadValues(kHkeyCurrentUser, "W" + std::to_string(w), values), kRegOk);
    EXPECT_EQ(values.size(), size_t{kWrites});
  }
}

}  // namespace
}  // namespace qz::testing
