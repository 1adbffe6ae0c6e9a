// The SMS channel against a recording gateway component: what it hands the
// component, in which order, how it judges the answers and how it fails.
#include "gateways/sms/sms_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"
#include "fakes.h"
#include "sms_fakes.h"
#include "support/child_process.h"

namespace qz {
namespace {

using testing::List;

class SmsChannelTest : public ::testing::Test {
 protected:
  bool Page(const Variant& notes, const Variant& pagers) {
    return mblnPagingEx(state_.call(), notes, pagers);
  }
  std::vector<std::string>& requests() { return state_.log->requests; }

  testing::SmsCallState state_;
};

TEST_F(SmsChannelTest, SetsTheSevenPropertiesOnceInOrderThenSendsTheWorkedExample) {
  ASSERT_TRUE(Page(List({"Hi there"}), List({List({"012"})})));
  const std::vector<std::pair<std::string, Variant>> expected = {
      {"Protocol", Variant("http")},
      {"IPAddress", Variant("127.0.0.1:9")},
      {"Connect", Variant("/cgi-bin/sendsms")},
      {"Access", Variant(int16_t{0})},
      {"Method", Variant("GET")},
      {"Header", Variant("")},
      {"Accept", Variant("text/plain")}};
  EXPECT_EQ(state_.log->properties, expected);
  EXPECT_EQ(requests(),
            std::vector<std::string>{"to=%2B4412&from=Monitor&text=Hi+there&left=152&go=1"});
  EXPECT_TRUE(state_.log->arrays_well_formed);
  EXPECT_EQ(state_.log->created, 1);
  EXPECT_EQ(state_.log->released, 1);
  EXPECT_EQ(gstrLastError, "");
}

TEST_F(SmsChannelTest, OneComponentForAllMessagesAndNumbersInOrder) {
  // Empty numbers are skipped; a number given as a numeric value becomes its
  // decimal text before it loses its first digit.
  ASSERT_TRUE(
      Page(List({"first", "second", "third"}),
           List({List({"0111", Variant(), Variant(int32_t{9222})}), Variant(), List({"0333"})})));
  EXPECT_EQ(requests(),
            (std::vector<std::string>{"to=%2B44111&from=Monitor&text=first&left=155&go=1",
                                      "to=%2B44222&from=Monitor&text=first&left=155&go=1",
                                      "to=%2B44333&from=Monitor&text=third&left=155&go=1"}));
  EXPECT_EQ(state_.log->created, 1);
}

TEST_F(SmsChannelTest, CleansTheMessageBeforeItGoesIn) {
  ASSERT_TRUE(Page(List({"  two\r\nlines  " + std::string(200, 'z')}), List({List({"012"})})));
  const std::string text = "two+lines++" + std::string(145, 'z');  // 156 characters
  EXPECT_EQ(requests(),
            std::vector<std::string>{"to=%2B4412&from=Monitor&text=" + text + "&left=4&go=1"});
}

TEST_F(SmsChannelTest, NothingToSendIsSuccessWithoutAComponent) {
  gstrLastError = "stale";
  const Variant inputs[][2] = {{Variant(), List({List({"012"})})},
                               {Variant("text"), List({List({"012"})})},
                               {List({"x"}), Variant()},
                               {List({"x"}), Variant("012")}};
  for (const auto& in : inputs) EXPECT_TRUE(Page(in[0], in[1]));
  EXPECT_EQ(gstrLastError, "");
  EXPECT_EQ(state_.log->created, 0);
}

TEST_F(SmsChannelTest, UnconfirmedNumbersLeaveOnlyTheLastTextAndTheRestAreTried) {
  state_.log->answer = [](const std::string& request) {
    return Variant(request.find("%2B4422") != std::string::npos ? "0: accepted FOR delivery"
                                                                : "Authorization failed");
  };
  EXPECT_FALSE(Page(List({"m"}), List({List({" 011", "022", "033"})})));
  EXPECT_EQ(requests().size(), 3u);
  EXPECT_EQ(gstrLastError, "SMS to 033 is undelivered. Authorization failed");
}

TEST_F(SmsChannelTest, EmptyAnswerIsUndeliveredAndEmptyResponseAcceptsAnyAnswer) {
  state_.log->answer = [](const std::string&) { return Variant(""); };
  EXPECT_FALSE(Page(List({"m"}), List({List({" 012"})})));
  EXPECT_EQ(gstrLastError, "SMS to  012 is undelivered. ") << "the number as given, untrimmed";

  state_.sms.mstrResponse = "";
  EXPECT_FALSE(Page(List({"m"}), List({List({"012"})}))) << "still nothing in an empty answer";
  state_.log->answer = [](const std::string&) { return Variant("whatever"); };
  EXPECT_TRUE(Page(List({"m"}), List({List({"012"})})));
}

TEST_F(SmsChannelTest, AccessMustBeASixteenBitNumberBeforeAnyRequest) {
  struct Case {
    const char* access;
    std::string error;
  } cases[] = {
      {"", "Type mismatch.\r\n"}, {"40000", "Overflow.\r\n"}, {"one", "Type mismatch.\r\n"}};
  for (const Case& c : cases) {
    state_.sms.mstrAccess = c.access;
    EXPECT_FALSE(Page(List({"m"}), List({List({"012"})}))) << c.access;
    EXPECT_EQ(gstrLastError, c.error) << c.access;
  }
  EXPECT_TRUE(requests().empty());
  EXPECT_EQ(state_.log->released, state_.log->created) << "released after the error";
}

TEST_F(SmsChannelTest, RunTimeErrorsStopTheGroup) {
  int calls = 0;
  state_.log->answer = [&](const std::string&) -> Variant {
    if (++calls == 2) throw RunTimeError(440, "No answer from the SMS gateway at http://x/", "gw");
    return Variant("Accepted for delivery");
  };
  EXPECT_FALSE(Page(List({"m"}), List({List({"011", "022", "033"})})));
  EXPECT_EQ(requests().size(), 2u) << "numbers after the failing one are not tried";
  EXPECT_EQ(gstrLastError, "No answer from the SMS gateway at http://x/.\r\n");
  EXPECT_EQ(state_.log->released, 1);

  const struct {
    Variant notes, pagers;
    std::string error;
  } faults[] = {
      {List({"a", "b"}), List({List({"011"})}), "Subscript out of range.\r\n"},
      {List({"a"}), List({List({Variant::Null()})}), "Invalid use of Null.\r\n"},
      {List({Variant::Null()}), List({List({"011"})}), "Invalid use of Null.\r\n"},
  };
  for (const auto& f : faults) {
    EXPECT_FALSE(Page(f.notes, f.pagers));
    EXPECT_EQ(gstrLastError, f.error);
  }
}

TEST_F(SmsChannelTest, ComponentThatCannotBeCreatedIsReported) {
  state_.components.Unregister(kSmsGatewayClassId);
  EXPECT_FALSE(Page(List({"m"}), List({List({"012"})})));
  EXPECT_NE(gstrLastError.find("create"), std::string::npos) << gstrLastError;
}

TEST_F(SmsChannelTest, AnswerThatIsNoTextIsAnError) {
  state_.log->answer = [](const std::string&) { return Variant::Null(); };
  EXPECT_FALSE(Page(List({"m"}), List({List({"012"})})));
  EXPECT_EQ(gstrLastError, "Invalid use of Null.\r\n");
}

TEST_F(SmsChannelTest, SixteenBitCountersTryAll32768NumbersThenOverflow) {
  std::vector<Variant> numbers(32768, Variant("0123"));
  EXPECT_FALSE(Page(List({"m"}), List({Variant::Array(numbers)})));
  EXPECT_EQ(requests().size(), 32768u);
  EXPECT_EQ(gstrLastError, "Overflow.\r\n");

  requests().clear();
  numbers.emplace_back("0123");  // 32,769: the bound itself does not fit
  EXPECT_FALSE(Page(List({"m"}), List({Variant::Array(numbers)})));
  EXPECT_TRUE(requests().empty());
  EXPECT_EQ(gstrLastError, "Overflow.\r\n");
}

TEST_F(SmsChannelTest, FormEncodingIsOptInThroughQzNotesIni) {
  const Variant notes = List({"a&b=c%d+e \xC3\xA9"});
  const Variant pagers = List({List({"0+12"})});
  ASSERT_TRUE(Page(notes, pagers));
  state_.folder.Write("QzNotes.ini", "[SMS]\nEncoding= Form \n");
  ASSERT_TRUE(Page(notes, pagers));
  state_.folder.Write("QzNotes.ini", "[SMS]\nEncoding=forms\n");
  ASSERT_TRUE(Page(notes, pagers));
  EXPECT_EQ(requests(),
            (std::vector<std::string>{
                "to=%2B44+12&from=Monitor&text=a&b=c%d+e+\xC3\xA9&left=149&go=1",
                "to=%2B44%2B12&from=Monitor&text=a%26b%3Dc%25d%2Be%20%C3%A9&left=149&go=1",
                "to=%2B44+12&from=Monitor&text=a&b=c%d+e+\xC3\xA9&left=149&go=1"}));
}

}  // namespace
}  // namespace qz

namespace qz {
namespace {

// With the real gateway request component: settings it refuses and a
// gateway nobody answers for end the group before or at the first number.
TEST(SmsChannelWithGatewayComponent, RefusedSettingsAndNoAnswerAreReported) {
  struct Case {
    void (*change)(SmsSettings&);
    std::string error_start;
  } cases[] = {
      {[](SmsSettings& s) { s.mstrProtocol = "ftp"; }, "Protocol must be http or https, not 'ftp'"},
      {[](SmsSettings& s) { s.mstrMethod = "PUT"; }, "Method must be GET or POST, not 'PUT'"},
      {[](SmsSettings& s) { s.mstrHeader = "X: 1\nY: 2"; },
       "Header line 'X: 1\nY: 2' is not of the form"},
      {[](SmsSettings& s) { s.mstrConnect = "/a\r\nX: 1"; }, "Connect must be a path"},
      {[](SmsSettings&) {}, "No answer from the SMS gateway at http://127.0.0.1:"},
  };
  for (const Case& c : cases) {
    testing::SmsCallState state;
    state.components.Unregister(kSmsGatewayClassId);
    RegisterSmsGatewayRequest(state.components);
    state.sms.mstrIPAddress = "127.0.0.1:" + std::to_string(testing::FreeLoopbackPort());
    c.change(state.sms);
    EXPECT_FALSE(mblnPagingEx(state.call(), testing::List({"m"}),
                              testing::List({testing::List({"012", "034"})})));
    EXPECT_EQ(gstrLastError.rfind(c.error_start, 0), 0u) << gstrLastError;
    EXPECT_EQ(gstrLastError.substr(gstrLastError.size() - 3), ".\r\n");
  }
}

}  // namespace
}  // namespace qz
