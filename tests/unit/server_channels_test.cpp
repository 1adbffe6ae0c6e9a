// The dispatch run with the channel set a real server uses: the gateway
// comes from QzNotes.ini at every group, and gateways not built yet end in
// an honest undeliverable outcome.
#include "gateways/gateway_table.h"

#include <gtest/gtest.h>

#include <fstream>

#include "automation/component_registry.h"
#include "dispatch/c_notify.h"
#include "fakes.h"
#include "support/temp_folder.h"

namespace qz::testing {
namespace {

class ServerChannelsTest : public ::testing::Test {
 protected:
  ServerChannelsTest()
      : context_(g_main_context_new()), env_{folder_.path(), components_, channels_, seat_} {}
  ~ServerChannelsTest() override { g_main_context_unref(context_); }

  void WriteGateway(std::string_view index) {
    std::ofstream(folder_ / "QzNotes.ini") << "[Default]\r\nIndex=" << index << "\r\n";
  }

  // One request of one group through a fresh object; the callback's message.
  std::string Deliver(const Variant& options = Variant()) {
    cNotify notify(env_, context_);
    auto callback = std::make_shared<RecordingCallback>();
    notify.SendMessageCallBack(List({List({Variant("db1 down")})}),
                               List({List({List({Variant("a@example.org")})})}),
                               List({List({List({Variant("100")})})}), options, callback, "id");
    notify.NotesTimer_Timer();
    return callback->calls.at(0).at(1);
  }

  std::string Log() const { return folder_.Read("QzNotesLog.log"); }

  TempFolder folder_;
  GMainContext* context_;
  ComponentRegistry components_;
  GatewayTable channels_ = BuiltInGateways();
  FakeSeat seat_{false};
  ServerEnvironment env_;
};

TEST_F(ServerChannelsTest, EachRunFollowsTheGatewayOnDisk) {
  std::vector<std::string> pages;
  class Pager : public DispatchObject {
   public:
    explicit Pager(std::vector<std::string>& pages) : pages_(pages) {}
    void SetProperty(std::string_view name, const Variant& v) override {
      if (name == "Message") pages_.push_back(v.Text());
    }
    Variant CallMethod(std::string_view, std::span<Variant>) override { return {}; }

   private:
    std::vector<std::string>& pages_;
  };
  components_.Register("QzTerminal.cPager",
                       [&](std::string_view) { return std::make_shared<Pager>(pages); });

  WriteGateway("0");
  EXPECT_EQ(Deliver(), "QzNotes: Message Sent");
  EXPECT_EQ(pages, std::vector<std::string>{"db1 down"});

  WriteGateway("1");  // SNPP without QzSNPP.ini: the empty port is no number
  EXPECT_EQ(Deliver(), "QzNotes: Message Undeliverable. See QzNotesLog.log file for details ");
  EXPECT_NE(Log().find("Page Status: Type mismatch::"), std::string::npos);
  EXPECT_EQ(pages.size(), 1u);

  WriteGateway("");  // present but empty: the comparison itself fails
  EXPECT_EQ(Deliver(), "QzNotes: Message Undeliverable. See QzNotesLog.log file for details ");
  EXPECT_NE(Log().find("Message Undeliverable. Type mismatch.\r\n"), std::string::npos);
}

TEST_F(ServerChannelsTest, NoSettingsFileMeansThePagerTerminal) {
  // No component registered either: creation fails, and the page with it.
  EXPECT_EQ(Deliver(), "QzNotes: Message Undeliverable. See QzNotesLog.log file for details ");
  EXPECT_NE(Log().find("Page Status: ActiveX component can't create object.\r\n::"),
            std::string::npos);
}

TEST_F(ServerChannelsTest, SmtpMailWithoutItsComponentIsUndeliverable) {
  WriteGateway("9");
  Variant smtp =
      List({Variant("s"), Variant("f@example.org"), Variant(""), Variant("mail"), Variant("True")});
  EXPECT_EQ(Deliver(smtp), "QzNotes: Message Undeliverable. See QzNotesLog.log file for details ");
  EXPECT_NE(Log().find("Mail Status: ActiveX component can't create object.\r\n::"),
            std::string::npos);
}

}  // namespace
}  // namespace qz::testing
