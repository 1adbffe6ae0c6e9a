// Object paths are random, unique and valid (which objects a class folder
// lists is seen on the bus: daemon_test). Callback references with a
// malformed bus name or path are refused before the bus is asked anything.
#include "server/object_table.h"

#include <gtest/gtest.h>

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
  ObjectTable table;
  const std::string folder = std::string(kFactoryPath) + "/cNotify/";
  std::set<uint64_t> numbers;
  for (int i = 0; i < 200; ++i) {
    const std::string path = table.Add(Named("cNotify"), ":1.1", nullptr)->path;
    ASSERT_TRUE(g_variant_is_object_path(path.c_str()) && path.starts_with(folder) &&
                path.find_first_not_of("0123456789", folder.size()) == std::string::npos)
        << path;
    numbers.insert(std::stoull(path.substr(folder.size())));
  }
  EXPECT_EQ(numbers.size(), 200u);
  // Random 64-bit numbers: 200 of them all fall within 2^40 of each other,
  // or two within 1000, only by a flaw (odds about 2^-20 per pair).
  EXPECT_GT(*numbers.rbegin() - *numbers.begin(), uint64_t{1} << 40);
  for (auto n = numbers.begin(); std::next(n) != numbers.end(); ++n)
    EXPECT_GE(*std::next(n) - *n, 1000u) << "sequential or clustered";
}

TEST(CallbackReference, MalformedReferencesAnswer13WithoutAskingTheBus) {
  // No connection: a check that went to the bus would fail differently.
  CallerUids uids(nullptr, nullptr);
  const std::string too_long = "a." + std::string(300, 'b');
  const std::pair<std::string, const char*> refused[] = {
      {"not a bus name!", "/x"}, {"hooks", "/x"},         {too_long, "/x"}, {"", "x"}, {"", "/x/"},
      {":1.4", "/a//b"},         {"not a bus name!", "/"}};
  for (const auto& [bus, path] : refused) {
    try {
      VetCallbackReference(nullptr, uids, ":1.4", bus, path);
      ADD_FAILURE() << bus << " " << path << ": accepted";
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.number(), 13) << bus << " " << path;
      EXPECT_EQ(e.source(), "QzNotes");
    }
  }
  // The caller's own connection needs no question to the bus either.
  EXPECT_EQ(VetCallbackReference(nullptr, uids, ":1.4", "", "/x").bus_name, ":1.4");
}

}  // namespace
}  // namespace qz
