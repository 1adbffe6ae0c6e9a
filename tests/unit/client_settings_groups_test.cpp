#include "client/settings_groups.h"

#include "platform/holders.h"

#include <gtest/gtest.h>

namespace qz::client {
namespace {

VariantPtr Value(const char* text) {
  return Own(g_variant_parse(nullptr, text, nullptr, nullptr, nullptr));
}

using Lines = std::vector<std::string>;

TEST(ClientSettingsGroups, EveryServedRequestCodeHasAGroup) {
  struct Case {
    const char* name;
    const char* operation;
    std::optional<int16_t> request;
    size_t keys;
  } cases[] = {
      {"terminal-short", "gvarGetSettings", std::nullopt, 4},
      {"terminal", "gvarGetPagerSettings", 0, 7},
      {"gateways", "gvarGetPagerSettings", 2, 3},
      {"sms", "gvarGetPagerSettings", 3, 14},
      {"terminal-ex", "gvarGetPagerSettingsEx", 0, 7},
      {"snpp", "gvarGetPagerSettingsEx", 1, 3},
      {"gateways-ex", "gvarGetPagerSettingsEx", 2, 3},
      {"sms-ex", "gvarGetPagerSettingsEx", 3, 14},
  };
  EXPECT_EQ(AllSettingsGroups().size(), std::size(cases));
  for (const auto& c : cases) {
    const SettingsGroup* g = FindSettingsGroup(c.name);
    ASSERT_NE(g, nullptr) << c.name;
    EXPECT_EQ(g->operation, c.operation) << c.name;
    EXPECT_EQ(g->request, c.request) << c.name;
    EXPECT_EQ(g->keys.size(), c.keys) << c.name;
  }
  EXPECT_EQ(FindSettingsGroup("Terminal"), nullptr);
}

TEST(ClientSettingsGroups, LinesNameEachValueByItsKey) {
  const SettingsGroup& shortg = *FindSettingsGroup("terminal-short");
  EXPECT_EQ(SettingsLines(shortg, Value("<[<'5551234'>, <'8N1'>, <'/dev/ttyS0'>, <''>]>").get()),
            (Lines{"Number=5551234", "Settings=8N1", "ComPort=/dev/ttyS0", "HandShaking="}));
  // Already in key-and-value form: printed as answered.
  EXPECT_EQ(SettingsLines(*FindSettingsGroup("snpp"),
                          Value("<[<'TCPPort='>, <'HostName=snpp.x'>, <'Timeout='>]>").get()),
            (Lines{"TCPPort=", "HostName=snpp.x", "Timeout="}));
}

TEST(ClientSettingsGroups, MarkersAndOddAnswers) {
  const SettingsGroup& g = *FindSettingsGroup("gateways");
  EXPECT_EQ(SettingsLines(g, Value("<byte 0>").get()), Lines{"(no settings file)"});
  EXPECT_EQ(SettingsLines(g, Value("<byte 2>").get()), Lines{"(not served)"});
  EXPECT_EQ(SettingsLines(g, Value("<'text'>").get()), Lines{"text"});
  EXPECT_EQ(SettingsLines(g, Value("<[<'a'>, <'b'>, <'c'>, <'d'>]>").get()),
            (Lines{"0=a", "1=b", "Index=c", "[3]=d"}));
  // A line break in a value must not split the line.
  EXPECT_EQ(SettingsLines(g, Value("<[<'a\\nb'>]>").get()), Lines{"0=\"a\\nb\""});
}

}  // namespace
}  // namespace qz::client
