#include <gtest/gtest.h>

#include <string>

#include "components/http_callback.h"
#include "components/json_text.h"

namespace qz {
namespace {

TEST(CallbackJson, EscapesWhatJsonRequires) {
  struct Case {
    std::string text;
    const char* json;
  } cases[] = {
      {"Message Sent", R"("Message Sent")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"C:\\QzNotes", R"("C:\\QzNotes")"},
      {"a\r\nb\tc", R"("a\r\nb\tc")"},
      {"\b\f", R"("\b\f")"},
      {std::string("nul\0x", 5), R"("nul\u0000x")"},
      {"\x01\x1f", R"("\u0001\u001f")"},
      {"\x7f/", "\"\x7f/\""},                   // neither needs escaping
      {"Grüße €", "\"Grüße €\""},               // valid UTF-8 passes whole
      {"bad\xff!", R"("bad\ufffd!")"},          // invalid byte replaced
      {"cut\xe2\x82", R"("cut\ufffd\ufffd")"},  // truncated sequence
      {"", R"("")"},
  };
  for (const Case& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.text;
}

}  // namespace
}  // namespace qz
