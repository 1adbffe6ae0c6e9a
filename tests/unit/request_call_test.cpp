// A request call: its answer, the e-mail route it decides (with the seat
// check only where the route needs it), and the request journal: an accepted
// request is in it before the answer, a replaced or cancelled one is not, a
// run removes its entry only after its callback, and a kept one resumes.
#include <gtest/gtest.h>

#include "dispatch/request_journal.h"
#include "dispatch_fixture.h"
#include "platform/file_io.h"

namespace qz::testing {
namespace {

TEST_F(DispatchTest, RequestCallDecidesTheMailRoute) {
  const struct {
    const char* why;
    Variant options;
    std::string_view seat;  // "": not asked; else "present", "absent" or "raises"
    const char* refused;    // the error's text; "" when accepted
    std::string first_use;  // of a channel by the run: channel|subject|from|profile|server
  } cases[] = {
      {"options not an array", Variant("x"), "", "", "pager||||"},
      {"subject empty, short array", Options(""), "", "", "pager||||"},
      {"subject Null", Options("~"), "", "", "pager||||"},
      {"forced SMTP", Options("S|f@x|P|m.x|True"), "", "", "smtp|S|f@x||m.x"},
      {"Boolean True is the text True", Options("S|f@x||m.x|#"), "", "", "smtp|S|f@x||m.x"},
      {"preference in other case", Options("S|f@x|P|m.x|TRUE"), "present", "", "mail|S||P|"},
      {"no user: SMTP fallback", Options("S|f@x|P|m.x|true"), "absent", "", "smtp|S|f@x||m.x"},
      {"profile only, no user", Options("S||P||"), "absent", "", "pager|S|||"},
      {"preference Null", Options("S|f@x||m.x|~"), "present", "", "smtp|S|f@x||m.x"},
      {"four elements", Options("S|f@x|P|m.x"), "", "Subscript out of range", ""},
      {"sender Null", Options("S|~||m.x|"), "", "Invalid use of Null", ""},
      {"profile Null", Options("S|f@x|~|m.x|"), "present", "Invalid use of Null", ""},
      {"the seat check fails", Options("S||P||"), "raises", "seat query broke", ""},
      {"no dimensions", Variant::NoDimensions(), "", "Subscript out of range", ""},
      {"subject an array", List({List({})}), "", "Type mismatch", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Fresh();
    seat_.calls = 0;
    seat_.answer = c.seat != "absent";
    seat_.raises = c.seat == "raises";
    EXPECT_EQ(Send(c.options).Text(),
              *c.refused ? "Notes Server: " + std::string(c.refused) : kAccepted);
    EXPECT_EQ(seat_.calls, c.seat.empty() ? 0 : 1);
    EXPECT_EQ(notify_->HasPendingRequest(), !*c.refused);
    notify_->NotesTimer_Timer();
    EXPECT_EQ(channels_.uses.empty() ? "" : channels_.uses[0].Text(), c.first_use);
  }
}

TEST_F(DispatchTest, FailedCallsCancelAndEarlierOptionsStay) {
  ASSERT_EQ(Send(Variant()).Text(), kAccepted);
  EXPECT_EQ(Run(Options("s|f")), "Notes Server: Subscript out of range");
  EXPECT_TRUE(channels_.uses.empty()) << "the failed call cancelled the one before";
  // A profile stored by an earlier request still selects the profile route
  // for a request whose own decision chose SMTP.
  ASSERT_EQ(Run(Options("s|f|P1|m|")), kAccepted);  // mail pager mail pager
  ASSERT_EQ(Run(Options("t|f||m|True")), kAccepted);
  EXPECT_EQ(channels_.uses.at(4).Text(), "mail|t|f|P1|m");
}

class JournalDispatchTest : public DispatchTest {
 protected:
  JournalDispatchTest() {
    Status error;
    journal_ = RequestJournal::Open(folder_.path(), error);
    EXPECT_TRUE(journal_) << error;
    env_.journal = journal_.get();
    notify_ = std::make_unique<cNotify>(env_, context_.get(), nullptr, "/o/1", ":1.5");
  }
  ~JournalDispatchTest() override { notify_.reset(); }  // before the journal it writes to
  // What a daemon started now would find left over.
  std::vector<RequestRecord> Entries() {
    std::vector<RequestRecord> records;
    for (auto& [key, entry] : ReadJournal(*ReadFileText(journal_->file_path().c_str())).live)
      records.push_back(DecodeRequest(entry.payload));
    return records;
  }

  std::unique_ptr<RequestJournal> journal_;
};

TEST_F(JournalDispatchTest, AnAcceptedRequestIsKeptUntilItsRunHasEnded) {
  ASSERT_EQ(Send(Options("s|f@example.org||mail|True"), nullptr, "first").Text(), kAccepted);
  const std::vector<RequestRecord> kept = Entries();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].mstrTestID + " " + kept[0].object_path + " " + kept[0].owner + " " +
                kept[0].procedure + " " + kept[0].mstrSMTPServer + " " + kept[0].mstrSubject,
            "first /o/1 :1.5 SendMessageCallBack mail s");
  EXPECT_TRUE(kept[0].mblnMailEnabled);
  EXPECT_EQ(kept[0].mvarNotes, notes_);
  EXPECT_EQ(kept[0].mvarPager, pagers_);
  ASSERT_EQ(Send(Variant(), nullptr, "second").Text(), kAccepted);
  EXPECT_EQ(Entries().at(0).mstrTestID + std::to_string(Entries().size()), "second1");
  EXPECT_NE(Send(List({Variant("s")})).Text(), kAccepted);
  EXPECT_TRUE(Entries().empty()) << "a failed call cancels the pending request";
  ASSERT_EQ(Send(Variant()).Text(), kAccepted);
  notify_ = std::make_unique<cNotify>(env_, context_.get());
  EXPECT_TRUE(Entries().empty()) << "an object let go before its run takes its request along";
  auto callback = std::make_shared<RecordingCallback>();
  callback->on_call = [&](auto&) { EXPECT_EQ(Entries().size(), 1u) << "kept until the callback"; };
  ASSERT_EQ(Run(Variant(), callback), kAccepted);
  EXPECT_EQ(callback->calls.size(), 1u);
  EXPECT_EQ(journal_->LiveCount(), 0u);

  // A request an earlier daemon kept runs as it was decided: the profile
  // route, though nobody is logged on at the seat now.
  ASSERT_EQ(Send(Options("subj||prof||"), nullptr, "kept").Text(), kAccepted);
  const RequestRecord record = Entries().at(0);
  notify_ = std::make_unique<cNotify>(env_, context_.get());  // cancels it here
  const uint64_t key = journal_->NewKey();
  ASSERT_TRUE(journal_->Put(key, EncodeRequest(record)));
  seat_.answer = false;
  channels_.uses.clear();
  notify_->ResumeRequest(record, key, callback);
  notify_->NotesTimer_Timer();
  EXPECT_EQ(channels_.Names(), "mail pager mail pager");
  EXPECT_EQ(channels_.uses.at(0).Text(), "mail|subj||prof|");
  EXPECT_EQ(callback->calls.back(), (std::vector<std::string>{"kept", kSent}));
  EXPECT_EQ(journal_->LiveCount(), 0u);
}

}  // namespace
}  // namespace qz::testing
