// The SMS channel end to end against a real SMS gateway on loopback: Kannel
// (bearerbox + smsbox) with its fake SMS centre, driven through the real
// gateway request component. Checks what the SMS centre received.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "automation/component_registry.h"
#include "diagnostics/last_error.h"
#include "gateways/sms/sms_channel.h"
#include "gateways/sms/sms_gateway_request.h"
#include "support/kannel_gateway.h"
#include "support/temp_folder.h"
#include "unit/fakes.h"
#include "unit/sms_fakes.h"

namespace qz {
namespace {

using testing::KannelGateway;
using testing::List;
using testing::SmscMessage;

class SmsKannelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { kannel_ = std::make_unique<KannelGateway>(); }
  static void TearDownTestSuite() { kannel_.reset(); }

  SmsKannelTest() {
    RegisterSmsGatewayRequest(components_);
    sms_ = testing::ExampleSmsSettings();
    sms_.mstrIPAddress = kannel_->sendsms_address();
    sms_.mstrSMSTrailer =
        std::string("username=") + KannelGateway::kUser + "&password=" + KannelGateway::kPassword;
    already_ = kannel_->Received().size();
  }

  bool Page(const Variant& notes, const Variant& pagers) {
    ChannelCall call{folder_.path(), components_, {}, {}, {}, {}, snpp_, sms_};
    return mblnPagingEx(call, notes, pagers);
  }
  // The messages that arrived since this test began, waiting for `count`.
  std::vector<SmscMessage> Arrived(size_t count) {
    auto all = kannel_->WaitForMessages(already_ + count);
    return {all.begin() + static_cast<long>(std::min(already_, all.size())), all.end()};
  }

  static inline std::unique_ptr<KannelGateway> kannel_;
  testing::TempFolder folder_;
  ComponentRegistry components_;
  std::string snpp_;
  SmsSettings sms_;
  size_t already_ = 0;
};

TEST_F(SmsKannelTest, FormEncodingKeepsReservedAndNonAsciiCharacters) {
  const Variant text = List({"a&b=c+d 50% h\xC3\xA9llo"});
  ASSERT_TRUE(Page(text, List({List({"0333"})}))) << gstrLastError;
  folder_.Write("QzNotes.ini", "[SMS]\nEncoding=form\n");
  ASSERT_TRUE(Page(text, List({List({"0444"})}))) << gstrLastError;
  auto got = Arrived(2);
  ASSERT_EQ(got.size(), 2u);
  // Unencoded, the "&" ends the text field early.
  EXPECT_EQ(got[0], (SmscMessage{"Monitor", "+44333", "a"}));
  EXPECT_EQ(got[1], (SmscMessage{"Monitor", "+44444", "a&b=c+d 50% h\xC3\xA9llo"}));
}

}  // namespace
}  // namespace qz
