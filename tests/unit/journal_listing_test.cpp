// What `qznotes journal` lists and clears: never what a running daemon holds.
#include "dispatch/journal_listing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "client/runners.h"
#include "dispatch/request_journal.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(JournalListingTest, ListsAndClearsThroughTheClient) {
  testing::TempFolder folder;
  auto open = [&] {
    Status error;
    auto journal = RequestJournal::Open(folder.path(), error);
    if (!journal) throw std::runtime_error(error.message());
    return journal;
  };
  auto put = [](RequestJournal& journal, const char* test_id) {
    RequestRecord r;
    r.procedure = "SendMessageCallBack";
    r.mstrTestID = test_id;
    return journal.Put(journal.NewKey(), EncodeRequest(r));
  };
  std::ostringstream out, err;
  auto run = [&](client::JournalCommand::Action action) {
    out.str("");
    err.str("");
    return client::RunJournal(nullptr, {}, {action, false, folder.path()}, {out, err});
  };
  using enum client::JournalCommand::Action;
  const std::string journal = " requests in " + folder.path() + "/QzNotesJournal\n";
  EXPECT_EQ(run(kList), client::kExitOk);  // no journal folder: an empty journal
  EXPECT_EQ(out.str(), "0" + journal);
  {
    auto gone = open();  // a daemon that was killed: its file stays
    ASSERT_TRUE(put(*gone, "left-1") && put(*gone, "left-2"));
  }
  auto running = open();
  ASSERT_TRUE(put(*running, "live"));

  EXPECT_EQ(run(kList), client::kExitOk) << err.str();
  EXPECT_THAT(out.str(), HasSubstr(": left by a daemon that is gone\n  left-1  SendMessageCallBack "
                                   " accepted 1970-01-01T00:00:00Z"));
  EXPECT_THAT(out.str(), HasSubstr("\n  left-2  SendMessageCallBack  "));
  EXPECT_THAT(out.str(), HasSubstr(": held by a running qznotesd\n  live  "));
  EXPECT_THAT(out.str(), HasSubstr("\n3" + journal));
  EXPECT_EQ(run(kClear), client::kExitFailed);
  EXPECT_EQ(out.str(), "removed 2 requests in 1 files from " + folder.path() + "/QzNotesJournal\n");
  EXPECT_THAT(err.str(), HasSubstr(" is held by a running qznotesd and was left; stop the daemon"));
  EXPECT_EQ(run(kList), client::kExitOk);
  EXPECT_THAT(out.str(),
              AllOf(HasSubstr(": held by a running qznotesd\n  live  "), Not(HasSubstr("left-"))));
}

}  // namespace
}  // namespace qz
