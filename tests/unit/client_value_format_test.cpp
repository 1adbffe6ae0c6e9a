// How qznotes prints the values the daemon answers, as text and as JSON, and
// a settings group as KEY=VALUE lines and as a keyed JSON object.
#include <gtest/gtest.h>

#include "client/settings_groups.h"
#include "client/value_json.h"
#include "client/value_text.h"
#include "client/wire_markers.h"
#include "platform/holders.h"

namespace qz::client {
namespace {

VariantPtr Value(const char* text) {
  GError* error = nullptr;
  GVariant* v = g_variant_parse(nullptr, text, nullptr, nullptr, &error);
  if (!v) g_error("bad test value %s: %s", text, error->message);
  return Own(v);
}

TEST(ClientValueFormat, EveryKindAsTextAndJson) {
  struct Case {
    const char* value;  // GVariant text of what the daemon answers
    const char* text;   // nullptr: as the JSON case only
    const char* json;
  } cases[] = {
      {"<'Notes Server: Asynch mode'>", "Notes Server: Asynch mode",
       "\"Notes Server: Asynch mode\""},
      {"<''>", "", "\"\""},
      {"<byte 0>", "Empty", "{\"kind\":\"Empty\"}"},
      {"<byte 1>", "Null", "{\"kind\":\"Null\"}"},
      {"<byte 2>", "NoDimensions", "{\"kind\":\"NoDimensions\"}"},
      {"<byte 3>", "Missing", "{\"kind\":\"Missing\"}"},
      {"<byte 9>", "9", "9"},  // not a marker: just a number
      {"<int16 -32768>", "-32768", "-32768"},
      {"<2147483647>", "2147483647", "2147483647"},
      {"<1.5>", "1.5", "1.5"},
      {"<0.1>", "0.1", "0.1"},
      {"<true>", "True", "true"},
      {"<false>", "False", "false"},
      {"<('', objectpath '/')>", "Nothing", "{\"kind\":\"Object\",\"bus\":\"\",\"path\":\"/\"}"},
      {"<(':1.4', objectpath '/cb')>", "Object(\":1.4\", /cb)",
       "{\"kind\":\"Object\",\"bus\":\":1.4\",\"path\":\"/cb\"}"},
      {"<<<'deep'>>>", "deep", "\"deep\""},
      {"<@av []>", "[]", "[]"},
      {"<[<'5551234'>, <''>, <byte 1>]>", "[0] \"5551234\"\n[1] \"\"\n[2] Null",
       "[\"5551234\",\"\",{\"kind\":\"Null\"}]"},
      {"<[<[<'a'>, <[<1>]>]>, <@av []>, <2>]>", "[0]\n  [0] \"a\"\n  [1]\n    [0] 1\n[1] []\n[2] 2",
       "[[\"a\",[1]],[],2]"},
      {"<['x', 'y']>", "[0] \"x\"\n[1] \"y\"", "[\"x\",\"y\"]"},  // any D-Bus array
      // Strings inside arrays cannot break the lines; JSON escapes every control character.
      {"<[<'two\\nlines'>]>", "[0] \"two\\nlines\"", "[\"two\\nlines\"]"},
      {"<'say \"hi\"'>", nullptr, "\"say \\\"hi\\\"\""},
      {"<'back\\\\slash'>", nullptr, "\"back\\\\slash\""},
      {"<'a\\nb\\tc\\rd'>", nullptr, "\"a\\nb\\tc\\rd\""},
      {"<'\\u0001\\u001f\\u007f'>", nullptr, "\"\\u0001\\u001f\\u007f\""},
      {"<'\\b\\f'>", nullptr, "\"\\b\\f\""},
      {"<'Grüße €'>", nullptr, "\"Grüße €\""},  // UTF-8 passes unchanged
  };
  for (const auto& c : cases) {
    VariantPtr v = Value(c.value);
    if (c.text) EXPECT_EQ(FormatText(v.get()), c.text) << c.value;
    EXPECT_EQ(FormatJson(v.get()), c.json) << c.value;
  }
  // JSON has no infinity.
  VariantPtr inf = Own(g_variant_new_variant(g_variant_new_double(1.0 / 0.0)));
  EXPECT_EQ(FormatJson(inf.get()), "null");
  EXPECT_EQ(FormatText(inf.get()), "Infinity");
}

TEST(ClientValueFormat, SettingsGroupsNameEachValueByItsKey) {
  using Lines = std::vector<std::string>;
  struct Case {
    const char* group;
    const char* answer;
    Lines lines;
    const char* json;
  } cases[] = {
      {"terminal-short", "<[<'5551234'>, <'8N1'>, <'/dev/ttyS0'>, <''>]>",
       Lines{"Number=5551234", "Settings=8N1", "ComPort=/dev/ttyS0", "HandShaking="},
       R"({"Number":"5551234","Settings":"8N1","ComPort":"/dev/ttyS0","HandShaking":""})"},
      // Already in key-and-value form: printed as answered, split at the first "=".
      {"snpp", "<[<'TCPPort=444'>, <'HostName=a=b'>, <'Timeout='>]>",
       Lines{"TCPPort=444", "HostName=a=b", "Timeout="},
       R"({"TCPPort":"444","HostName":"a=b","Timeout":""})"},
      {"gateways", "<[<'t0'>, <'t1'>, <'2'>, <'extra'>]>",
       Lines{"0=t0", "1=t1", "Index=2", "[3]=extra"},
       R"({"0":"t0","1":"t1","Index":"2","[3]":"extra"})"},
      // A line break in a value must not split the line.
      {"gateways", "<[<'a\\nb'>]>", Lines{"0=\"a\\nb\""}, R"({"0":"a\nb"})"},
      {"terminal-short", "<@av []>", Lines{}, "{}"},
      {"gateways", "<byte 0>", Lines{"(no settings file)"}, R"({"kind":"Empty"})"},
      {"gateways", "<byte 2>", Lines{"(not served)"}, R"({"kind":"NoDimensions"})"},
      {"gateways", "<'text'>", Lines{"text"}, "\"text\""},
  };
  for (const Case& c : cases) {
    const SettingsGroup* group = FindSettingsGroup(c.group);
    ASSERT_NE(group, nullptr) << c.group;
    VariantPtr v = Value(c.answer);
    EXPECT_EQ(SettingsLines(*group, v.get()), c.lines) << c.answer;
    EXPECT_EQ(SettingsJson(*group, v.get()), c.json) << c.answer;
  }
  EXPECT_EQ(FindSettingsGroup("Terminal"), nullptr);
}

}  // namespace
}  // namespace qz::client
