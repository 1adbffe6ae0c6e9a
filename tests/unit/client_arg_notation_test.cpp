#include "client/arg_notation.h"

#include <gtest/gtest.h>

#include "support/variant_text.h"

namespace qz::client {
namespace {

std::string Printed(GVariant* v) { return testing::PrintedVariant(v); }

struct Case {
  const char* text;
  const char* type;
  const char* expected;  // g_variant_print with types
  const char* why;
};

TEST(ClientArgNotation, ReadsEachWordForItsParameterType) {
  const Case cases[] = {
      {"1", "n", "int16 1", "a 16-bit parameter reads a bare number as 16-bit"},
      {"-32768", "n", "int16 -32768", "lowest 16-bit value"},
      {"7", "i", "7", "32-bit parameter"},
      {"true", "b", "true", "Boolean keyword"},
      {"('', '/')", "(so)", "('', objectpath '/')", "object reference, no object"},
      {"(':1.7', '/cb')", "(so)", "(':1.7', objectpath '/cb')", "object reference with a bus name"},
      {"5551234", "s", "'5551234'", "a number word is the string for a string parameter"},
      {"true", "s", "'true'", "keywords too"},
      {"hello world", "s", "'hello world'", "plain text with a blank"},
      {"'quoted'", "s", "'quoted'", "GVariant string literal loses its quotes"},
      {"\"it's\"", "s", "\"it's\"", "double-quoted literal"},
      {"[unclosed", "s", "'[unclosed'", "text that is no literal stays as typed"},
      {"", "s", "''", "the empty string"},
      {"1", "v", "<1>", "a Variant takes a bare number as 32-bit"},
      {"@n 1", "v", "<int16 1>", "type annotation chooses 16-bit"},
      {"\"text\"", "v", "<'text'>", "string in a Variant"},
      {"localhost", "v", "<'localhost'>", "a word that is no GVariant text is a string"},
      {"[\"a\",\"b\"]", "v", "<['a', 'b']>", "array of strings"},
      {"[<1>, <\"a\">]", "v", "<[<1>, <'a'>]>", "mixed array as av"},
      {"[]", "v", "<@av []>", "empty array needs no type"},
      {"[]", "as", "@as []", "empty array for a typed array parameter"},
      {"<'x'>", "v", "<'x'>", "an explicit variant is the wrapping itself"},
      {"empty", "v", "<byte 0x00>", "Empty marker"},
      {"null", "v", "<byte 0x01>", "Null marker"},
      {"NoDim", "v", "<byte 0x02>", "no-dimensions marker, any letter case"},
      {"missing", "v", "<byte 0x03>", "Missing marker"},
  };
  for (const auto& c : cases) {
    Status error;
    VariantPtr v = ParseArgument(c.text, G_VARIANT_TYPE(c.type), error);
    EXPECT_EQ(Printed(v.get()), c.expected) << c.why << " [" << c.text << " as " << c.type << "]";
    EXPECT_TRUE(error.ok()) << c.why;
  }
}

TEST(ClientArgNotation, RefusesWhatDoesNotFit) {
  const Case cases[] = {
      {"x", "n", "", "a word is no 16-bit number"},
      {"40000", "n", "", "out of 16-bit range"},
      {"1 2", "n", "", "trailing text after a value is not ignored"},
      {"1.5", "n", "", "no fractions for an integer parameter"},
      {"empty", "n", "", "markers fit only Variant parameters"},
      {"[1, \"a\"]", "v", "", "mixed element types need <...>"},
      {"'unterminated", "v", "", "broken literal is no string"},
      {"('', 'no-slash')", "(so)", "", "not an object path"},
  };
  for (const auto& c : cases) {
    Status error;
    VariantPtr v = ParseArgument(c.text, G_VARIANT_TYPE(c.type), error);
    EXPECT_EQ(v, nullptr) << c.why;
    EXPECT_NE(error.message(), "") << c.why;
  }
}

TEST(ClientArgNotation, RefusesTextThatIsNotUtf8) {
  Status error;
  EXPECT_EQ(ParseArgument("\xff\xfe", G_VARIANT_TYPE_STRING, error), nullptr);
  EXPECT_NE(error.message(), "");
}

TEST(ClientArgNotation, InvokeWrapsTypedParametersOnly) {
  const Case cases[] = {
      {"1", "n", "<int16 1>", "a typed value goes into av wrapped"},
      {"abc", "s", "<'abc'>", "string parameter"},
      {"missing", "v", "<byte 0x03>", "a Variant parameter is its own av element"},
      {"'x'", "v", "<'x'>", "no double wrapping"},
  };
  for (const auto& c : cases) {
    Status error;
    VariantPtr v = ParseInvokeArgument(c.text, G_VARIANT_TYPE(c.type), error);
    EXPECT_EQ(Printed(v.get()), c.expected) << c.why;
  }
}

}  // namespace
}  // namespace qz::client
