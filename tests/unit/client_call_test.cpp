// What qznotes puts on the wire and how it prints what comes back: call's
// argument words read for their parameter types, the operations read from
// the daemon's type information with the answers they pair, the daemon's
// values as text and JSON, settings groups, and the exit status of a
// gateway test.
#include <gtest/gtest.h>

#include "support/variant_text.h"

#include "client/arg_notation.h"
#include "client/call_answer.h"
#include "client/call_arguments.h"
#include "client/operation_list_text.h"
#include "client/operations.h"
#include "client/settings_groups.h"
#include "client/test_gateway_answer.h"
#include "client/value_json.h"
#include "client/value_text.h"

namespace qz::client {
namespace {

// The shape of the daemon's type information for two operations.
constexpr const char* kXml = R"(<node><interface name="org.qznotes.QzNotes._cNotify">
  <method name="gvarTestGateway">
    <annotation name="org.qznotes.QzNotes.DispId" value="0x6003000D"/>
    <arg name="Index" type="n" direction="in"/><arg name="Mobile" type="s" direction="in"/>
    <arg name="result" type="v" direction="out"/></method>
  <method name="gvarGetPagerSettingsEx">
    <annotation name="org.qznotes.QzNotes.DispId" value="0x60030026"/>
    <arg name="Request" type="n" direction="in"/><arg name="lvarParams" type="v" direction="in"/>
    <arg name="result" type="v" direction="out"/><arg name="lvarParams" type="v" direction="out"/>
  </method></interface></node>)";

std::string Printed(const VariantPtr& v) { return testing::PrintedVariant(v.get()); }

VariantPtr Value(const char* text) {
  GError* error = nullptr;
  GVariant* v = g_variant_parse(nullptr, text, nullptr, nullptr, &error);
  if (!v) g_error("bad test value %s: %s", text, error->message);
  return Own(v);
}

std::vector<Operation> Operations() {
  OperationList list = ReadOperations(kXml, "org.qznotes.QzNotes._cNotify");
  EXPECT_EQ(list.error, "");
  return list.operations;
}

TEST(ClientCall, ReadsEachWordForItsParameterType) {
  struct Case {
    const char *text, *type, *expected, *why;  // expected: g_variant_print with types; "": refused
  } cases[] = {
      {"1", "n", "int16 1", "a 16-bit parameter reads a bare number as 16-bit"},
      {"5551234", "s", "'5551234'", "a number word is a string for a string"},
      {"'quoted'", "s", "'quoted'", "GVariant string literal loses its quotes"},
      {"[unclosed", "s", "'[unclosed'", "text that is no literal stays as typed"},
      {"1", "v", "<1>", "a Variant takes a bare number as 32-bit"},
      {"localhost", "v", "<'localhost'>", "a word that is no GVariant text is a string"},
      {"[]", "v", "<@av []>", "empty array needs no type"},
      {"[]", "as", "@as []", "empty array for a typed array parameter"},
      {"<'x'>", "v", "<'x'>", "an explicit variant is the wrapping itself"},
      {"empty", "v", "<byte 0x00>", "Empty marker"},
      {"NoDim", "v", "<byte 0x02>", "no-dimensions marker, any letter case"},
      {"x", "n", "", "a word is no 16-bit number"},
      {"1 2", "n", "", "trailing text after a value is not ignored"},
      {"empty", "n", "", "markers fit only Variant parameters"},
      {"[1, \"a\"]", "v", "", "mixed element types need <...>"},
      {"\xff\xfe", "s", "", "not UTF-8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.why) + " [" + c.text + " as " + c.type + "]");
    Status error;
    VariantPtr v = ParseArgument(c.text, G_VARIANT_TYPE(c.type), error);
    EXPECT_EQ(v ? Printed(v) : "", c.expected);
    EXPECT_EQ(error.ok(), v != nullptr) << error;
  }
}

TEST(ClientCall, ReadsOperationsAndBuildsTheirCallsAndAnswers) {
  const auto ops = Operations();
  const Operation* ex = FindByName(ops, "GVARGETPAGERSETTINGSEX");  // late-bound names ignore case
  ASSERT_NE(ex, nullptr);
  EXPECT_EQ(FindByDispId(ops, 0x6003000D), FindByName(ops, "gvarTestGateway"));
  EXPECT_EQ(OperationsText(ops),
            "0x6003000D  gvarTestGateway(n Index, s Mobile) -> v\n"
            "0x60030026  gvarGetPagerSettingsEx(n Request, v lvarParams) -> v, v lvarParams\n");
  EXPECT_EQ(OperationsJson({*ex}),
            R"([{"name":"gvarGetPagerSettingsEx","dispid":1610809382,"hex":"0x60030026",)"
            R"("parameters":[{"name":"Request","type":"n"},{"name":"lvarParams","type":"v"}],)"
            R"("results":[{"name":"result","type":"v"},{"name":"lvarParams","type":"v"}]}])");
  EXPECT_NE(ReadOperations("<node><oops", "x").error, "");
  EXPECT_NE(ReadOperations(kXml, "org.qznotes.QzNotes._cPager").error, "");

  const struct {
    const char* text;
    std::optional<int32_t> id;
  } ids[] = {
      {"0x6003000A", 0x6003000A}, {"0X6003000a", 0x6003000A},
      {"1610809354", 0x6003000A}, {"-1", -1},
      {"0xFFFFFFFF", -1},         {"0x", std::nullopt},
      {"0x1G", std::nullopt},     {"gvarGetSettings", std::nullopt},
      {"", std::nullopt},         {"0x100000000", std::nullopt},  // more than 32 bits
  };
  for (const auto& c : ids) EXPECT_EQ(ParseDispId(c.text), c.id) << c.text;
  // The parameters of a named call or of Invoke.
  const Operation& gateway = *FindByName(ops, "gvarTestGateway");
  using Words = std::vector<std::string>;
  const struct {
    const Operation* op;  // nullptr: an identifier the interface does not list
    bool invoke;
    Words words;
    const char* parameters;  // "" for a refusal
  } calls[] = {
      {&gateway, false, {"2", "+15551234"}, "(int16 2, '+15551234')"},
      // Trailing Variant parameters left out are sent as Missing.
      {ex, false, {"1"}, "(int16 1, <byte 0x03>)"},
      {&gateway, false, {"2"}, ""},  // a string parameter cannot be left out
      {&gateway, false, {"2", "x", "y"}, ""},
      {&gateway, true, {"2", "5551234"}, "(1610809357, [<int16 2>, <'5551234'>])"},
      // Every word is a Variant, and extra words go out so the server can refuse them.
      {nullptr, true, {"2", "missing", "'x'"}, "(77, [<2>, <byte 0x03>, <'x'>])"},
      {nullptr, true, {}, "(77, @av [])"},
  };
  for (const auto& c : calls) {
    const BuiltArguments built = c.invoke
                                     ? InvokeArguments(c.op, c.op ? *c.op->dispid : 77, c.words)
                                     : NamedCallArguments(*c.op, c.words);
    EXPECT_EQ(built.parameters ? Printed(built.parameters) : "", c.parameters);
    EXPECT_EQ(built.error.empty(), built.parameters != nullptr) << built.error;
  }
  EXPECT_NE(NamedCallArguments(gateway, Words{"two", "x"}).error.find("Index"), std::string::npos);
  // Answers pair by-reference values with their names, or their places.
  CallAnswer named = AnswerOfNamedCall(*ex, Value("(<['TCPPort=444']>, <byte 3>)").get());
  EXPECT_EQ(AnswerText(named), "[0] \"TCPPort=444\"\nlvarParams: Missing\n");
  EXPECT_EQ(AnswerJson(named),
            "{\"result\":[\"TCPPort=444\"],\"byref\":{\"lvarParams\":{\"kind\":\"Missing\"}}}");
  CallAnswer unknown = AnswerOfInvoke(nullptr, Value("(<true>, [<1>, <2>])").get());
  EXPECT_EQ(AnswerJson(unknown), "{\"result\":true,\"byref\":{\"0\":1,\"1\":2}}");
}

TEST(ClientCall, EveryKindAsTextAndJson) {
  struct Case {
    const char *value, *text, *json;  // value: GVariant text of what the daemon answers
  } cases[] = {
      {"<byte 0>", "Empty", "{\"kind\":\"Empty\"}"},
      {"<byte 3>", "Missing", "{\"kind\":\"Missing\"}"},
      {"<byte 9>", "9", "9"},  // not a marker: just a number
      {"<0.1>", "0.1", "0.1"},
      {"<true>", "True", "true"},
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
      {"<'say \"hi\" back\\\\slash'>", "say \"hi\" back\\slash",
       "\"say \\\"hi\\\" back\\\\slash\""},
      {"<'a\\nb\\tc\\rd\\b\\f\\u0001\\u001f\\u007f'>", "a\nb\tc\rd\b\f\x01\x1f\x7f",
       "\"a\\nb\\tc\\rd\\b\\f\\u0001\\u001f\\u007f\""},
      {"<'Grüße €'>", "Grüße €", "\"Grüße €\""},  // UTF-8 passes unchanged
  };
  for (const auto& c : cases) {
    VariantPtr v = Value(c.value);
    EXPECT_EQ(FormatText(v.get()), c.text) << c.value;
    EXPECT_EQ(FormatJson(v.get()), c.json) << c.value;
  }
}

TEST(ClientCall, SettingsGroupsNameEachValueByItsKey) {
  using Lines = std::vector<std::string>;
  struct Case {
    const char *group, *answer;
    Lines lines;
    const char* json;
  } cases[] = {
      // Already in key-and-value form: printed as answered, split at the first "=".
      {"snpp", "<[<'TCPPort=444'>, <'HostName=a=b'>, <'Timeout='>]>",
       Lines{"TCPPort=444", "HostName=a=b", "Timeout="},
       R"({"TCPPort":"444","HostName":"a=b","Timeout":""})"},
      {"gateways", "<[<'t0'>, <'t1'>, <'2'>, <'extra'>]>",
       Lines{"0=t0", "1=t1", "Index=2", "[3]=extra"},
       R"({"0":"t0","1":"t1","Index":"2","[3]":"extra"})"},
      {"terminal-short", "<@av []>", Lines{}, "{}"},
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
}

TEST(ClientCall, TestGatewayExitsByTheGatewaysAnswer) {
  struct Case {
    int index;
    const char* answer;
    ExitStatus status;
  } cases[] = {
      {0, "Message Sent", kExitOk},
      {1, "250", kExitOk},
      {1, "Failure to Connect to SNPP Server at host", kExitFailed},
      {1, "2500 no code", kExitFailed},
      {2, "250 not from an SNPP server", kExitFailed},
      {0, "Test Failed", kExitFailed},
  };
  for (const auto& c : cases) EXPECT_EQ(ExitForTestAnswer(c.index, c.answer), c.status) << c.answer;
  EXPECT_EQ(AnswerLine("a\r\nb\r\n"), "a\r\nb");
}

}  // namespace
}  // namespace qz::client
