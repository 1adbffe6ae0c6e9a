#include <gtest/gtest.h>

#include "client/value_json.h"
#include "client/value_text.h"
#include "platform/holders.h"

namespace qz::client {
namespace {

VariantPtr Value(const char* text) {
  GError* error = nullptr;
  GVariant* v = g_variant_parse(nullptr, text, nullptr, nullptr, &error);
  if (!v) g_error("bad test value %s: %s", text, error->message);
  return Own(v);
}

struct Case {
  const char* value;  // GVariant text of what the daemon answers
  const char* text;
  const char* json;
};

TEST(ClientValueFormat, EveryKindAsTextAndJson) {
  const Case cases[] = {
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
  };
  for (const auto& c : cases) {
    VariantPtr v = Value(c.value);
    EXPECT_EQ(FormatText(v.get()), c.text) << c.value;
    EXPECT_EQ(FormatJson(v.get()), c.json) << c.value;
  }
}

TEST(ClientValueFormat, JsonEscapesEveryControlCharacter) {
  const Case cases[] = {
      {"<'say \"hi\"'>", "", "\"say \\\"hi\\\"\""},
      {"<'back\\\\slash'>", "", "\"back\\\\slash\""},
      {"<'a\\nb\\tc\\rd'>", "", "\"a\\nb\\tc\\rd\""},
      {"<'\\u0001\\u001f\\u007f'>", "", "\"\\u0001\\u001f\\u007f\""},
      {"<'\\b\\f'>", "", "\"\\b\\f\""},
      {"<'Grüße €'>", "", "\"Grüße €\""},  // UTF-8 passes unchanged
  };
  for (const auto& c : cases) EXPECT_EQ(FormatJson(Value(c.value).get()), c.json) << c.value;
}

TEST(ClientValueFormat, StringsInsideArraysCannotBreakTheLines) {
  EXPECT_EQ(FormatText(Value("<[<'two\\nlines'>]>").get()), "[0] \"two\\nlines\"");
}

TEST(ClientValueFormat, NonFiniteDoublesAreNullInJson) {
  VariantPtr inf = Own(g_variant_new_variant(g_variant_new_double(1.0 / 0.0)));
  EXPECT_EQ(FormatJson(inf.get()), "null");
  EXPECT_EQ(FormatText(inf.get()), "Infinity");
}

}  // namespace
}  // namespace qz::client
