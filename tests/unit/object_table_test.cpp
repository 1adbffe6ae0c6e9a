// Object paths are random, unique and valid; a class folder lists only the
// objects a caller may see. Callback references with a malformed bus name
// or path are refused before the bus is asked anything.
#include "server/object_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "automation/run_time_error.h"
#include "server/callback_reference.h"

namespace qz {
namespace {

ClassDescription Named(std::string_view name) {
  ClassDescription description;
  description.class_name = name;
  return description;
}

TEST(ObjectTable, PathsAreRandomUniqueAndValid) {
  const ClassDescription notify = Named("cNotify");
  ObjectTable table;
  const std::string folder = std::string(kFactoryPath) + "/cNotify/";
  std::vector<uint64_t> numbers;
  std::set<std::string> paths;
  for (int i = 0; i < 200; ++i) {
    auto entry = table.Add(notify, ":1." + std::to_string(i % 3), nullptr);
    ASSERT_TRUE(g_variant_is_object_path(entry->path.c_str())) << entry->path;
    ASSERT_TRUE(entry->path.starts_with(folder)) << entry->path;
    const std::string tail = entry->path.substr(folder.size());
    ASSERT_FALSE(tail.empty());
    ASSERT_TRUE(std::all_of(tail.begin(), tail.end(), [](char c) { return c >= '0' && c <= '9'; }))
        << tail;
    numbers.push_back(std::stoull(tail));
    paths.insert(entry->path);
  }
  EXPECT_EQ(paths.size(), 200u);
  EXPECT_EQ(table.size(), 200u);
  // Random 64-bit numbers: 200 of them all fall within 2^40 of each other
  // only by a flaw (odds about 2^-20 per pair, far less for the whole set).
  std::sort(numbers.begin(), numbers.end());
  EXPECT_GT(numbers.back() - numbers.front(), uint64_t{1} << 40);
  size_t close = 0;
  for (size_t i = 1; i < numbers.size(); ++i) close += numbers[i] - numbers[i - 1] < 1000;
  EXPECT_EQ(close, 0u) << "neighbouring numbers: sequential or clustered";
}

TEST(ObjectTable, FoldersListOnlyVisibleObjects) {
  const ClassDescription notify = Named("cNotify"), pager = Named("cPager");
  ObjectTable table;
  auto mine = table.Add(notify, ":1.7", nullptr);
  auto theirs = table.Add(notify, ":1.8", nullptr);
  auto their_pager = table.Add(pager, ":1.8", nullptr);
  auto owned_by = [](const char* who) {
    return [who](const ObjectEntry& e) { return e.owner == who; };
  };
  auto tail = [](const std::shared_ptr<ObjectEntry>& e) {
    return e->path.substr(e->path.rfind('/') + 1);
  };
  const std::string folder = std::string(kFactoryPath) + "/cNotify";
  EXPECT_THAT(table.ChildrenOf(folder, owned_by(":1.7")), ::testing::ElementsAre(tail(mine)));
  EXPECT_THAT(table.ChildrenOf(folder, owned_by(":1.8")), ::testing::ElementsAre(tail(theirs)));
  EXPECT_THAT(table.ChildrenOf(kFactoryPath, owned_by(":1.7")), ::testing::ElementsAre("cNotify"));
  EXPECT_THAT(table.ChildrenOf(kFactoryPath, owned_by(":1.8")),
              ::testing::ElementsAre("cNotify", "cPager"));
  EXPECT_THAT(table.ChildrenOf(folder, owned_by(":1.9")), ::testing::IsEmpty());
  EXPECT_THAT(table.ChildrenOf(mine->path, [](const ObjectEntry&) { return true; }),
              ::testing::IsEmpty());
  EXPECT_EQ(table.ChildrenOf(folder, [](const ObjectEntry&) { return true; }).size(), 2u);
}

TEST(CallbackReference, MalformedReferencesAnswer13WithoutAskingTheBus) {
  // No connection: a check that went to the bus would fail differently.
  CallerUids uids(nullptr, nullptr);
  struct Case {
    const char* why;
    const char* bus;
    const char* path;
  } cases[] = {
      {"blanks and punctuation", "not a bus name!", "/callback"},
      {"a single element", "hooks", "/callback"},
      {"too long", nullptr, "/callback"},
      {"a relative path", "", "callback"},
      {"a trailing slash", "", "/callback/"},
      {"an empty path element", ":1.4", "/a//b"},
      {"a bad name even with no object", "not a bus name!", "/"},
  };
  const std::string too_long = "a." + std::string(300, 'b');
  for (const Case& c : cases) {
    try {
      VetCallbackReference(nullptr, uids, ":1.4", c.bus ? c.bus : too_long.c_str(), c.path);
      ADD_FAILURE() << c.why << ": accepted";
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.number(), 13) << c.why;
      EXPECT_EQ(e.source(), "QzNotes") << c.why;
    }
  }
  // The caller's own connection needs no question to the bus either.
  EXPECT_EQ(VetCallbackReference(nullptr, uids, ":1.4", "", "/callback").bus_name, ":1.4");
  EXPECT_EQ(VetCallbackReference(nullptr, uids, ":1.4", ":1.4", "/callback").bus_name, ":1.4");
  EXPECT_EQ(VetCallbackReference(nullptr, uids, ":1.4", "", "/").bus_name, ":1.4");
}

}  // namespace
}  // namespace qz
