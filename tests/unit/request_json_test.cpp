// The request body as the operation's arguments, and every refusal with the
// place it names.
#include "http/request_json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qz {
namespace {

Variant A(std::vector<Variant> items) { return Variant::Array(std::move(items)); }

struct GoodBody {
  const char* why;
  std::string body;
  std::vector<Variant> args;  // lvarNotes, lvarEmail, lvarPager, lvarAny, lvarNotify, lstrTestID
};

TEST(RequestJson, BodiesBecomeTheOperationsArguments) {
  const GoodBody cases[] = {
      {"lists per message; SMTP server named: the preference is set",
       R"({"testId":"T-1","groups":[{"messages":["a","b"],"emails":[["x@h"],[]],
           "pagers":[["1","2"],["3"]]}],"subject":"S","mailFrom":"f@h","smtpServer":"smtp.h",
           "callback":"https://cb.example/x"})",
       {A({A({"a", "b"})}), A({A({A({"x@h"}), A({})})}), A({A({A({"1", "2"}), A({"3"})})}),
        A({"S", "f@h", "", "smtp.h", "True"}), Variant("https://cb.example/x"), Variant("T-1")}},
      {"a flat list is every message's; absent lists are empty; no server, no preference",
       R"({"groups":[{"messages":["a","b"],"pagers":["555"]},{"messages":[]}],"profile":"P"})",
       {A({A({"a", "b"}), A({})}), A({A({A({}), A({})}), A({})}),
        A({A({A({"555"}), A({"555"})}), A({})}), A({"", "", "P", "", ""}), Variant(""),
        Variant("")}},
  };
  for (const GoodBody& c : cases) {
    BodyFault fault;
    auto request = ParseRequestBody(c.body, {}, fault);
    ASSERT_TRUE(request) << c.why << ": " << fault.path << " " << fault.detail;
    EXPECT_EQ(RequestArguments(*request), c.args) << c.why;
  }
}

struct Refusal {
  const char* why;
  std::string body;
  std::string path;
  std::string detail;  // a part of it
};

std::string Repeat(std::string_view part, size_t times) {
  std::string text;
  while (times--) text += part;
  return text;
}

TEST(RequestJson, RefusalsNameThePlaceOfTheFault) {
  const JsonBodyLimits limits{.elements = 10000, .depth = 32, .bytes = 1 << 20};
  const Refusal cases[] = {
      {"not JSON", R"({"groups": [)", "$", "malformed JSON"},
      {"no groups", R"({"testId":"T"})", "$.groups", "missing"},
      {"unknown field", R"({"groups":[],"urgent":true})", "$.urgent", "unknown field"},
      {"a group without messages", R"({"groups":[{"pagers":["1"]}]})", "$.groups[0].messages",
       "missing"},
      {"a recipient of the wrong type",
       R"({"groups":[{"messages":["a"]},{"messages":["a"],"pagers":[["1","2",3]]}]})",
       "$.groups[1].pagers[0][2]", "expected a string"},
      {"lists not parallel to the messages",
       R"({"groups":[{"messages":["a","b"],"pagers":[["1"]]}]})", "$.groups[0].pagers",
       "1 recipient lists for 2 messages"},
      {"a callback that is no web address", R"({"groups":[],"callback":"file:///etc/passwd"})",
       "$.callback", "http"},
      {"invalid UTF-8", "{\"groups\":[],\"testId\":\"\xff\"}", "$", "UTF-8"},
      {"10,000 groups pass the element limit",
       R"({"groups":[)" + Repeat(R"({"messages":["m"]},)", 9999) + R"({"messages":[]}]})",
       "$.groups[5000]", "more than 10000 array elements"},
      {"nested too deep", R"({"groups":[{"messages":[)" + Repeat("[", 40) + "]}]}",
       "$.groups[0].messages[0]" + Repeat("[0]", 28), "more than 32"},
      {"deep objects count too", Repeat(R"({"x":)", 33) + "1" + Repeat("}", 33),
       "$" + Repeat(".x", 32), "more than 32"},
      {"over the byte limit", R"({"groups":[],"testId":")" + std::string(1 << 20, 'x') + "\"}", "$",
       "more than 1048576"},
  };
  for (const Refusal& c : cases) {
    BodyFault fault;
    EXPECT_FALSE(ParseRequestBody(c.body, limits, fault)) << c.why;
    EXPECT_EQ(fault.path, c.path) << c.why;
    EXPECT_NE(fault.detail.find(c.detail), std::string::npos) << c.why << ": " << fault.detail;
  }
  BodyFault fault;
  EXPECT_FALSE(ParseGatewayTestBody(R"({"number":555})", limits, fault));
  EXPECT_EQ(fault.path, "$.number");
}

}  // namespace
}  // namespace qz
