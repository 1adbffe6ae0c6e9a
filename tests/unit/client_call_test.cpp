// What `qznotes call` and `qznotes send` put on the wire and how call prints
// the reply: argument words read for their parameter types, the operations
// read from the daemon's type information, and the request arrays.
#include <gtest/gtest.h>

#include "support/variant_text.h"

#include "client/arg_notation.h"
#include "client/call_answer.h"
#include "client/call_arguments.h"
#include "client/operation_list_text.h"
#include "client/operations.h"
#include "client/request_arrays.h"

namespace qz::client {
namespace {

// The shape of the daemon's type information for two operations.
constexpr const char* kXml = R"(<node>
  <interface name="org.qznotes.QzNotes._cNotify">
    <method name="gvarTestGateway">
      <annotation name="org.qznotes.QzNotes.DispId" value="0x6003000D"/>
      <arg name="Index" type="n" direction="in"/>
      <arg name="Mobile" type="s" direction="in"/>
      <arg name="result" type="v" direction="out"/>
    </method>
    <method name="gvarGetPagerSettingsEx">
      <annotation name="org.qznotes.QzNotes.DispId" value="0x60030026"/>
      <arg name="Request" type="n" direction="in"/>
      <arg name="lvarParams" type="v" direction="in"/>
      <arg name="result" type="v" direction="out"/>
      <arg name="lvarParams" type="v" direction="out"/>
    </method>
  </interface>
</node>)";

std::string Printed(const VariantPtr& v) { return testing::PrintedVariant(v.get()); }

VariantPtr Value(const char* text) {
  return Own(g_variant_parse(nullptr, text, nullptr, nullptr, nullptr));
}

std::vector<Operation> Operations() {
  OperationList list = ReadOperations(kXml, "org.qznotes.QzNotes._cNotify");
  EXPECT_EQ(list.error, "");
  return list.operations;
}

TEST(ClientCall, ReadsEachWordForItsParameterType) {
  struct Case {
    const char* text;
    const char* type;
    const char* expected;  // g_variant_print with types; "" for a refusal
    const char* invoked;   // Invoke's av element; nullptr: not checked
    const char* why;
  } cases[] = {
      {"1", "n", "int16 1", "<int16 1>", "a 16-bit parameter reads a bare number as 16-bit"},
      {"('', '/')", "(so)", "('', objectpath '/')", nullptr, "object reference, no object"},
      {"5551234", "s", "'5551234'", "<'5551234'>", "a number word is a string for a string"},
      {"true", "s", "'true'", nullptr, "keywords too"},
      {"hello world", "s", "'hello world'", nullptr, "plain text with a blank"},
      {"'quoted'", "s", "'quoted'", nullptr, "GVariant string literal loses its quotes"},
      {"[unclosed", "s", "'[unclosed'", nullptr, "text that is no literal stays as typed"},
      {"", "s", "''", nullptr, "the empty string"},
      {"1", "v", "<1>", "<1>", "a Variant takes a bare number as 32-bit"},
      {"localhost", "v", "<'localhost'>", nullptr, "a word that is no GVariant text is a string"},
      {"[<1>, <\"a\">]", "v", "<[<1>, <'a'>]>", nullptr, "mixed array as av"},
      {"[]", "v", "<@av []>", nullptr, "empty array needs no type"},
      {"[]", "as", "@as []", nullptr, "empty array for a typed array parameter"},
      {"<'x'>", "v", "<'x'>", "<'x'>", "an explicit variant is the wrapping itself"},
      {"empty", "v", "<byte 0x00>", nullptr, "Empty marker"},
      {"null", "v", "<byte 0x01>", nullptr, "Null marker"},
      {"NoDim", "v", "<byte 0x02>", nullptr, "no-dimensions marker, any letter case"},
      {"missing", "v", "<byte 0x03>", "<byte 0x03>", "Missing marker"},
      {"x", "n", "", nullptr, "a word is no 16-bit number"},
      {"40000", "n", "", nullptr, "out of 16-bit range"},
      {"1 2", "n", "", nullptr, "trailing text after a value is not ignored"},
      {"empty", "n", "", nullptr, "markers fit only Variant parameters"},
      {"[1, \"a\"]", "v", "", nullptr, "mixed element types need <...>"},
      {"'unterminated", "v", "", nullptr, "broken literal is no string"},
      {"\xff\xfe", "s", "", nullptr, "not UTF-8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.why) + " [" + c.text + " as " + c.type + "]");
    std::string error;
    VariantPtr v = ParseArgument(c.text, G_VARIANT_TYPE(c.type), error);
    EXPECT_EQ(v ? Printed(v) : "", c.expected);
    EXPECT_EQ(error.empty(), v != nullptr) << error;
    if (c.invoked) {
      EXPECT_EQ(Printed(ParseInvokeArgument(c.text, G_VARIANT_TYPE(c.type), error)), c.invoked);
    }
  }
}

TEST(ClientCall, ReadsOperationsAndTheirIdentifiers) {
  const auto ops = Operations();
  const Operation* ex = FindByName(ops, "GVARGETPAGERSETTINGSEX");  // late-bound names ignore case
  ASSERT_NE(ex, nullptr);
  EXPECT_EQ(ex->name, "gvarGetPagerSettingsEx");
  EXPECT_EQ(FindByDispId(ops, 0x6003000D), FindByName(ops, "gvarTestGateway"));
  EXPECT_EQ(FindByDispId(ops, 0x60030000), nullptr);
  EXPECT_EQ(FindByName(ops, "Connect"), nullptr);
  EXPECT_EQ(OperationsText(ops),
            "0x6003000D  gvarTestGateway(n Index, s Mobile) -> v\n"
            "0x60030026  gvarGetPagerSettingsEx(n Request, v lvarParams) -> v, v lvarParams\n");
  EXPECT_EQ(OperationsJson({*ex}),
            R"([{"name":"gvarGetPagerSettingsEx","dispid":1610809382,"hex":"0x60030026",)"
            R"("parameters":[{"name":"Request","type":"n"},{"name":"lvarParams","type":"v"}],)"
            R"("results":[{"name":"result","type":"v"},{"name":"lvarParams","type":"v"}]}])");
  EXPECT_NE(ReadOperations("<node><oops", "x").error, "");
  EXPECT_NE(ReadOperations(kXml, "org.qznotes.QzNotes._cPager").error, "");

  struct Case {
    const char* text;
    std::optional<int32_t> id;
  } cases[] = {
      {"0x6003000A", 0x6003000A}, {"0X6003000a", 0x6003000A},
      {"1610809354", 0x6003000A}, {"-1", -1},
      {"0xFFFFFFFF", -1},         {"0x", std::nullopt},
      {"0x1G", std::nullopt},     {"gvarGetSettings", std::nullopt},
      {"", std::nullopt},         {"0x100000000", std::nullopt},  // more than 32 bits
  };
  for (const auto& c : cases) EXPECT_EQ(ParseDispId(c.text), c.id) << c.text;
}

TEST(ClientCall, BuildsTheParametersOfANamedCallOrOfInvoke) {
  const auto ops = Operations();
  const Operation& gateway = *FindByName(ops, "gvarTestGateway");
  const Operation& ex = *FindByName(ops, "gvarGetPagerSettingsEx");
  using Words = std::vector<std::string>;
  struct Case {
    const Operation* op;  // nullptr: an identifier the interface does not list
    bool invoke;
    Words words;
    const char* parameters;  // "" for a refusal
  } cases[] = {
      {&gateway, false, {"2", "+15551234"}, "(int16 2, '+15551234')"},
      // Trailing Variant parameters left out are sent as Missing.
      {&ex, false, {"1"}, "(int16 1, <byte 0x03>)"},
      {&gateway, false, {"2"}, ""},  // a string parameter cannot be left out
      {&gateway, false, {"2", "x", "y"}, ""},
      {&gateway, false, {"two", "x"}, ""},
      {&gateway, true, {"2", "5551234"}, "(1610809357, [<int16 2>, <'5551234'>])"},
      // Every word is a Variant, and extra words go out so the server can refuse them.
      {nullptr, true, {"2", "missing", "'x'"}, "(77, [<2>, <byte 0x03>, <'x'>])"},
      {nullptr, true, {}, "(77, @av [])"},
  };
  for (const Case& c : cases) {
    const BuiltArguments built = c.invoke
                                     ? InvokeArguments(c.op, c.op ? *c.op->dispid : 77, c.words)
                                     : NamedCallArguments(*c.op, c.words);
    EXPECT_EQ(built.parameters ? Printed(built.parameters) : "", c.parameters);
    EXPECT_EQ(built.error.empty(), built.parameters != nullptr) << built.error;
  }
  EXPECT_NE(NamedCallArguments(gateway, Words{"two", "x"}).error.find("Index"), std::string::npos);
}

TEST(ClientCall, AnswersPairByReferenceValuesWithNames) {
  const auto ops = Operations();
  const Operation* ex = FindByName(ops, "gvarGetPagerSettingsEx");
  CallAnswer named = AnswerOfNamedCall(*ex, Value("(<['TCPPort=444']>, <byte 3>)").get());
  EXPECT_EQ(AnswerText(named), "[0] \"TCPPort=444\"\nlvarParams: Missing\n");
  EXPECT_EQ(AnswerJson(named),
            "{\"result\":[\"TCPPort=444\"],\"byref\":{\"lvarParams\":{\"kind\":\"Missing\"}}}");
  CallAnswer invoked = AnswerOfInvoke(ex, Value("(<byte 0>, [<[<'a'>, <'b'>]>])").get());
  EXPECT_EQ(AnswerText(invoked), "Empty\nlvarParams:\n  [0] \"a\"\n  [1] \"b\"\n");
  CallAnswer unknown = AnswerOfInvoke(nullptr, Value("(<true>, [<1>, <2>])").get());
  EXPECT_EQ(AnswerJson(unknown), "{\"result\":true,\"byref\":{\"0\":1,\"1\":2}}");
}

TEST(ClientCall, RequestArraysStayParallelToTheMessages) {
  SendCommand send;
  send.groups = {
      Group{{Message{"disk full", {"a@x"}, {"555", "556"}}, Message{"cpu", {}, {}}}},
      Group{{Message{"door", {}, {"777"}}}},
  };
  RequestArrays a = BuildRequestArrays(send);
  EXPECT_EQ(Printed(a.notes), "<[<[<'disk full'>, <'cpu'>]>, <[<'door'>]>]>");
  // Message 2 has no addresses: its list is present but empty, so list k
  // still belongs to message k.
  EXPECT_EQ(Printed(a.email), "<[<[<[<'a@x'>]>, <@av []>]>, <[<@av []>]>]>");
  EXPECT_EQ(Printed(a.pager), "<[<[<[<'555'>, <'556'>]>, <@av []>]>, <[<[<'777'>]>]>]>");
  EXPECT_EQ(Printed(a.any), "<byte 0x00>");  // Empty: no mail

  // The server reads elements 1 to 4 whenever element 0 is set, so a partial
  // array would make it fail the whole request.
  send.mail = MailOptions{"Alert", "", "", "mail.x", true, true};
  EXPECT_EQ(Printed(BuildRequestArrays(send).any),
            "<[<'Alert'>, <''>, <''>, <'mail.x'>, <'True'>]>");
  send.mail.prefer_smtp = false;
  send.mail.profile = "Ops";
  EXPECT_EQ(Printed(BuildRequestArrays(send).any),
            "<[<'Alert'>, <''>, <'Ops'>, <'mail.x'>, <'False'>]>");
}

}  // namespace
}  // namespace qz::client
