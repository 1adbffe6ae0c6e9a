#include <gtest/gtest.h>

#include "support/variant_text.h"

#include "client/call_answer.h"
#include "client/call_arguments.h"
#include "client/operations.h"

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

std::string Printed(GVariant* v) { return testing::PrintedVariant(v); }

VariantPtr Value(const char* text) {
  return Own(g_variant_parse(nullptr, text, nullptr, nullptr, nullptr));
}

std::vector<Operation> Operations() {
  OperationList list = ReadOperations(kXml, "org.qznotes.QzNotes._cNotify");
  EXPECT_EQ(list.error, "");
  return list.operations;
}

TEST(ClientCall, ReadsOperationsFromTheTypeInformation) {
  const auto ops = Operations();
  const Operation* ex = FindByName(ops, "GVARGETPAGERSETTINGSEX");  // late-bound names ignore case
  ASSERT_NE(ex, nullptr);
  EXPECT_EQ(ex->name, "gvarGetPagerSettingsEx");
  EXPECT_EQ(ex->dispid, 0x60030026);
  ASSERT_EQ(ex->in.size(), 2u);
  EXPECT_EQ(ex->in[1].signature, "v");
  EXPECT_EQ(ex->out.size(), 2u);
  EXPECT_EQ(FindByDispId(ops, 0x6003000D), FindByName(ops, "gvarTestGateway"));
  EXPECT_EQ(FindByDispId(ops, 0x60030000), nullptr);
  EXPECT_EQ(FindByName(ops, "Connect"), nullptr);
  EXPECT_EQ(Describe(*FindByName(ops, "gvarTestGateway")), "gvarTestGateway(n Index, s Mobile)");
}

TEST(ClientCall, ReportsUnusableTypeInformation) {
  EXPECT_NE(ReadOperations("<node><oops", "x").error, "");
  EXPECT_NE(ReadOperations(kXml, "org.qznotes.QzNotes._cPager").error, "");
}

TEST(ClientCall, DispatchIdentifiers) {
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

TEST(ClientCall, NamedCallConvertsAndFillsOptionalVariants) {
  const auto ops = Operations();
  const std::vector<std::string> two = {"2", "+15551234"};
  EXPECT_EQ(Printed(NamedCallArguments(*FindByName(ops, "gvarTestGateway"), two).parameters.get()),
            "(int16 2, '+15551234')");
  const std::vector<std::string> one = {"1"};
  EXPECT_EQ(
      Printed(NamedCallArguments(*FindByName(ops, "gvarGetPagerSettingsEx"), one).parameters.get()),
      "(int16 1, <byte 0x03>)");
}

TEST(ClientCall, NamedCallRefusesWrongCounts) {
  const auto ops = Operations();
  const Operation& gateway = *FindByName(ops, "gvarTestGateway");
  const std::vector<std::string> too_few = {"2"};  // a string parameter cannot be left out
  const std::vector<std::string> too_many = {"2", "x", "y"};
  const std::vector<std::string> wrong_type = {"two", "x"};
  EXPECT_NE(NamedCallArguments(gateway, too_few).error, "");
  EXPECT_NE(NamedCallArguments(gateway, too_many).error, "");
  BuiltArguments bad = NamedCallArguments(gateway, wrong_type);
  EXPECT_EQ(bad.parameters, nullptr);
  EXPECT_NE(bad.error.find("Index"), std::string::npos) << bad.error;
}

TEST(ClientCall, InvokeWrapsEveryArgumentOnce) {
  const auto ops = Operations();
  const std::vector<std::string> words = {"2", "5551234"};
  EXPECT_EQ(
      Printed(
          InvokeArguments(FindByName(ops, "gvarTestGateway"), 0x6003000D, words).parameters.get()),
      "(1610809357, [<int16 2>, <'5551234'>])");
  // An identifier the interface does not list: every word is a Variant, and
  // extra words go out so the server can answer its own error.
  const std::vector<std::string> untyped = {"2", "missing", "'x'"};
  EXPECT_EQ(Printed(InvokeArguments(nullptr, 77, untyped).parameters.get()),
            "(77, [<2>, <byte 0x03>, <'x'>])");
  EXPECT_EQ(Printed(InvokeArguments(nullptr, 5, {}).parameters.get()), "(5, @av [])");
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

}  // namespace
}  // namespace qz::client
