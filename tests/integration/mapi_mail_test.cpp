// The profile e-mail channel against a real SMTP server on loopback.
#include "gateways/mail/mapi_mail_channel.h"

#include <gtest/gtest.h>

#include "automation/component_registry.h"
#include "diagnostics/last_error.h"
#include "dispatch/frm_notes.h"
#include "gateways/mail/mail_profile.h"
#include "gateways/sms/sms_settings.h"
#include "platform/registry_store.h"
#include "support/smtp_sink.h"

namespace qz::testing {
namespace {

using namespace std::chrono_literals;

Variant List(std::vector<Variant> items) { return Variant::Array(std::move(items)); }

class MapiMailSmtpTest : public ::testing::Test {
 protected:
  MapiMailSmtpTest() {
    context_ = g_main_context_new();
    EXPECT_EQ(store_.ReplaceValues(
                  kHkeyCurrentUser, std::string(kMessageProfilesKey) + "Ops Desk",
                  {{"Transport", "smtp://" + sink_.server()}, {"From", "alerts@example.org"}}),
              kRegOk);
  }
  ~MapiMailSmtpTest() override {
    form_.reset();
    g_main_context_unref(context_);
  }
  bool Send(const Variant& notes, const Variant& lists) {
    SmsSettings sms;
    ChannelCall call{folder_.path(), components_, "Zürich: disk full", "", "Ops Desk", "",
                     snpp_,          sms,         form_.get()};
    return mblnSendMail(call, notes, lists);
  }

  SmtpSink sink_;
  TempFolder folder_;
  RegistryStore store_{folder_.File("QzRegistry.db")};
  GMainContext* context_;
  std::unique_ptr<frmNotes> form_ = std::make_unique<frmNotes>(context_, &store_);
  ComponentRegistry components_;
  std::string snpp_;
};

TEST_F(MapiMailSmtpTest, OneMailPerMessageWithToAndCcOnTheEnvelope) {
  Variant notes = List({Variant("first"), Variant("second\r\nline")});
  Variant lists =
      List({List({Variant("Zoë Ops $ zoe@example.org"), Variant("x"), Variant("dba@example.org")}),
            List({Variant("night@example.org")})});
  ASSERT_TRUE(Send(notes, lists)) << gstrLastError;
  auto mails = sink_.WaitForMails(2, 20s);
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[0].from, "alerts@example.org");
  EXPECT_EQ(mails[0].to, (std::vector<std::string>{"zoe@example.org", "dba@example.org"}));
  EXPECT_EQ(mails[0].Header("To"), "=?UTF-8?B?Wm/DqyBPcHM=?= <zoe@example.org>");
  EXPECT_EQ(mails[0].Header("Cc"), "dba@example.org");
  EXPECT_EQ(mails[0].Header("From"), "alerts@example.org");
  EXPECT_NE(mails[0].Header("Subject").find("=?UTF-8?"), std::string::npos);
  EXPECT_EQ(mails[1].to, std::vector<std::string>{"night@example.org"});
  EXPECT_EQ(mails[1].Header("Cc"), "");
  EXPECT_NE(mails[1].Body().find("second line"), std::string::npos);
}

}  // namespace
}  // namespace qz::testing
