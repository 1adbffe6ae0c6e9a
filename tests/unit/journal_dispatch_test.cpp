// cNotify and the request journal: an accepted request is in the journal
// before the answer, a replaced or cancelled one is not, and a run removes
// its entry only after its log entry and callback.
#include <gtest/gtest.h>

#include "dispatch/request_journal.h"
#include "dispatch_fixture.h"
#include "platform/file_io.h"

namespace qz::testing {
namespace {

constexpr const char* kAsynch = "Notes Server: Asynch mode";

class JournalDispatchTest : public DispatchTest {
 protected:
  JournalDispatchTest() {
    Status error;
    journal_ = RequestJournal::Open(folder_.path(), error);
    EXPECT_TRUE(journal_) << error;
    env_.journal = journal_.get();
    notify_ = std::make_unique<cNotify>(env_, context_, nullptr, "/o/1", ":1.5");
  }
  ~JournalDispatchTest() override { notify_.reset(); }

  // What a run started now would find left over, decoded; the entries stay.
  std::vector<RequestRecord> Entries() {
    std::string path = journal_->file_path();
    std::vector<RequestRecord> records;
    for (auto& [key, entry] : ReadJournal(*ReadFileText(path.c_str())).live)
      records.push_back(DecodeRequest(entry.payload));
    return records;
  }

  Variant SmtpOptions() {
    return List(
        {Variant("subj"), Variant("f@example.org"), Variant(""), Variant("mail"), Variant("True")});
  }

  std::unique_ptr<RequestJournal> journal_;
};

TEST_F(JournalDispatchTest, AcceptedRequestIsKeptWithItsDecidedRoute) {
  auto callback = std::make_shared<RecordingCallback>();
  ASSERT_EQ(Send(SmtpOptions(), callback, "first").Text(), kAsynch);
  auto entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].mstrTestID, "first");
  EXPECT_EQ(entries[0].object_path, "/o/1");
  EXPECT_EQ(entries[0].owner, ":1.5");
  EXPECT_EQ(entries[0].procedure, "SendMessageCallBack");
  EXPECT_TRUE(entries[0].mblnMailEnabled);
  EXPECT_EQ(entries[0].mstrSMTPServer, "mail");
  EXPECT_EQ(entries[0].mstrSubject, "subj");
  EXPECT_EQ(entries[0].mvarNotes, notes_);
  EXPECT_EQ(entries[0].mvarPager, pagers_);
}

TEST_F(JournalDispatchTest, ReplacedCancelledAndFailedRequestsLeaveNothing) {
  struct Case {
    const char* why;
    std::function<void()> after_first;
    size_t left;
    std::string test_id;  // of what is left
  };
  const Case cases[] = {
      {"a second request replaces the first",
       [this] { ASSERT_EQ(Send(Variant(), nullptr, "second").Text(), kAsynch); }, 1, "second"},
      {"the object released before its run", [this] { notify_.reset(); }, 0, ""},
      {"a failed request cancels the pending one",
       [this] {
         // A subject with too few other elements fails the call with 9.
         EXPECT_NE(Send(List({Variant("s")}), nullptr, "bad").Text(), kAsynch);
       },
       0, ""},
  };
  for (const Case& c : cases) {
    notify_ = std::make_unique<cNotify>(env_, context_, nullptr, "/o/1", ":1.5");
    ASSERT_EQ(Send(Variant(), nullptr, "first").Text(), kAsynch) << c.why;
    c.after_first();
    auto entries = Entries();
    ASSERT_EQ(entries.size(), c.left) << c.why;
    if (c.left) {
      EXPECT_EQ(entries[0].mstrTestID, c.test_id) << c.why;
    }
    notify_.reset();
  }
}

TEST_F(JournalDispatchTest, RunRemovesItsEntryAfterLogAndCallback) {
  for (bool fails : {false, true}) {
    notify_ = std::make_unique<cNotify>(env_, context_, nullptr, "/o/1", ":1.5");
    channels_.failures.clear();
    if (fails) channels_.failures = {{"pager", "down"}};
    auto callback = std::make_shared<RecordingCallback>();
    size_t entries_at_callback = 99;
    callback->on_call = [&](const std::vector<std::string>&) {
      entries_at_callback = Entries().size();
    };
    ASSERT_EQ(Send(Variant(), callback, "run").Text(), kAsynch);
    notify_->NotesTimer_Timer();
    ASSERT_EQ(callback->calls.size(), 1u);
    EXPECT_EQ(entries_at_callback, 1u) << "removed before the callback";
    EXPECT_TRUE(Entries().empty());
    EXPECT_EQ(journal_->LiveCount(), 0u);
    if (fails) {
      EXPECT_NE(Log().find("Page Status: down::"), std::string::npos);
    }
  }
}

TEST_F(JournalDispatchTest, ResumedRequestRunsAsKeptAndEndsItsEntry) {
  // The profile route is taken only while someone is logged on at the seat.
  Variant profile_options =
      List({Variant("subj"), Variant(""), Variant("prof"), Variant(""), Variant("")});
  ASSERT_EQ(Send(profile_options, nullptr, "kept").Text(), kAsynch);
  RequestRecord record = Entries().at(0);
  notify_.reset();  // cancelled here; pretend an earlier run left it
  uint64_t key = journal_->NewKey();
  ASSERT_TRUE(journal_->Put(key, EncodeRequest(record)));

  // The seat now says nobody is logged on: the route kept still holds.
  seat_.Answer(false);
  channels_.uses.clear();
  auto callback = std::make_shared<RecordingCallback>();
  notify_ = std::make_unique<cNotify>(env_, context_);
  notify_->ResumeRequest(record, key, callback);
  EXPECT_TRUE(notify_->HasPendingRequest());
  notify_->NotesTimer_Timer();
  EXPECT_EQ(channels_.Names(), (std::vector<std::string>{"mail", "pager", "mail", "pager"}));
  EXPECT_EQ(channels_.uses.at(0).profile, "prof");
  ASSERT_EQ(callback->calls.size(), 1u);
  EXPECT_EQ(callback->calls[0], (std::vector<std::string>{"kept", "QzNotes: Message Sent"}));
  EXPECT_EQ(journal_->LiveCount(), 0u);
}

}  // namespace
}  // namespace qz::testing
