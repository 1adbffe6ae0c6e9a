// The SMS settings loader: which keys land in which field, and when nothing
// changes.
#include "gateways/sms/sms_loader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "diagnostics/last_error.h"
#include "sms_fakes.h"

namespace qz {
namespace {

constexpr const char* kFullFile =
    "[SMS]\n"
    "Protocol=https\nIPAddress=gw:8443\nConnect=/send\nMethod=POST\nAccess=1\n"
    "Accept=text/plain\nHeader=X-Key: 1\nResponse=OK\nCountryCode=49\n"
    "SMSTo=wrong-to\nSMSFrom=wrong-from\nSMSMsg=wrong-msg\nSMSOffset=wrong-off\nSMSTrailer=wrong\n"
    "[SMSMapping]\n"
    "SMSTo=to\nSMSFrom=from\nSMSMsg=text\nSMSOffset=left\nSMSTrailer=user=u\n";

class SmsLoaderTest : public ::testing::Test {
 protected:
  testing::SmsCallState state_;
};

TEST_F(SmsLoaderTest, ReadsNineKeysFromSmsAndFiveFromSmsMapping) {
  state_.folder.Write("QzNotes.ini", kFullFile);
  ASSERT_TRUE(mblnInitialiseSMS(state_.call()));
  SmsSettings expected;
  expected.mstrProtocol = "https";
  expected.mstrIPAddress = "gw:8443";
  expected.mstrConnect = "/send";
  expected.mstrMethod = "POST";
  expected.mstrAccess = "1";
  expected.mstrAccept = "text/plain";
  expected.mstrHeader = "X-Key: 1";
  expected.mstrResponse = "OK";
  expected.mstrCountryCode = "49";
  expected.mstrSMSTo = "to";
  expected.mstrSMSFrom = "from";
  expected.mstrSMSMsg = "text";
  expected.mstrSMSOffset = "left";
  expected.mstrSMSTrailer = "user=u";
  EXPECT_EQ(state_.sms, expected);
}

TEST_F(SmsLoaderTest, NoNormalFileAnswersFalseAndTouchesNothing) {
  const SmsSettings before = state_.sms;
  gstrLastError = "earlier failure";
  EXPECT_FALSE(mblnInitialiseSMS(state_.call())) << "no file";
  std::filesystem::create_directory(state_.folder / "QzNotes.ini");
  EXPECT_FALSE(mblnInitialiseSMS(state_.call())) << "a folder of that name";
  EXPECT_EQ(state_.sms, before);
  EXPECT_EQ(gstrLastError, "earlier failure") << "nothing is reported";
}

TEST_F(SmsLoaderTest, MissingSectionsEmptyEveryField) {
  state_.folder.Write("QzNotes.ini", "[Default]\nIndex=2\n");
  ASSERT_TRUE(mblnInitialiseSMS(state_.call()));
  EXPECT_EQ(state_.sms, SmsSettings{});
}

TEST_F(SmsLoaderTest, FieldNamesOnlyInSmsSectionAreNotUsed) {
  state_.folder.Write(
      "QzNotes.ini",
      "[SMS]\nProtocol=http\nSMSTo=to\nSMSFrom=from\nSMSMsg=m\nSMSOffset=o\nSMSTrailer=t\n");
  ASSERT_TRUE(mblnInitialiseSMS(state_.call()));
  EXPECT_EQ(state_.sms.mstrProtocol, "http");
  for (const std::string* field :
       {&state_.sms.mstrSMSTo, &state_.sms.mstrSMSFrom, &state_.sms.mstrSMSMsg,
        &state_.sms.mstrSMSOffset, &state_.sms.mstrSMSTrailer})
    EXPECT_EQ(*field, "");
}

TEST_F(SmsLoaderTest, EveryLoadReadsTheFileAgain) {
  state_.folder.Write("QzNotes.ini", kFullFile);
  ASSERT_TRUE(mblnInitialiseSMS(state_.call()));
  state_.folder.Write("QzNotes.ini", "[SMS]\nResponse=Sent\n[SMSMapping]\nSMSTo=dest\n");
  ASSERT_TRUE(mblnInitialiseSMS(state_.call()));
  EXPECT_EQ(state_.sms.mstrResponse, "Sent");
  EXPECT_EQ(state_.sms.mstrSMSTo, "dest");
  EXPECT_EQ(state_.sms.mstrProtocol, "") << "a key gone from the file empties its field";
  // The file disappearing keeps the last loaded values.
  std::filesystem::remove(state_.folder / "QzNotes.ini");
  EXPECT_FALSE(mblnInitialiseSMS(state_.call()));
  EXPECT_EQ(state_.sms.mstrResponse, "Sent");
}

}  // namespace
}  // namespace qz
