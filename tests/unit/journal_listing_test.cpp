// What `qznotes journal` lists and clears: never what a running daemon holds.
#include "dispatch/journal_listing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

#include "client/runners.h"
#include "dispatch/journal_file.h"
#include "dispatch/request_journal.h"
#include "platform/file_io.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

class JournalListingTest : public ::testing::Test {
 protected:
  std::unique_ptr<RequestJournal> Open() {
    Status error;
    auto journal = RequestJournal::Open(folder_.path(), error);
    if (!journal) throw std::runtime_error(error.message());
    return journal;
  }
  static bool Put(RequestJournal& journal, const char* test_id) {
    RequestRecord r;
    r.procedure = "SendMessageCallBack";
    r.mstrTestID = test_id;
    return journal.Put(journal.NewKey(), EncodeRequest(r));
  }
  int Run(client::JournalCommand::Action action) {
    out_.str(""), err_.str("");
    client::JournalCommand command;
    command.action = action, command.folder = folder_.path();
    return client::RunJournal(nullptr, {}, command, {out_, err_});
  }

  testing::TempFolder folder_;
  std::ostringstream out_, err_;
};

using enum client::JournalCommand::Action;

TEST_F(JournalListingTest, ListsAndClearsThroughTheClient) {
  const std::string journal = " requests in " + folder_.path() + "/QzNotesJournal\n";
  // No journal yet where no daemon ran (a folder that is not there is the
  // client's concern, tested with it).
  EXPECT_EQ(Run(kList), client::kExitOk) << err_.str();
  EXPECT_EQ(out_.str(), "0" + journal);
  {
    auto gone = Open();  // a daemon that was killed: its file stays
    ASSERT_TRUE(Put(*gone, "left-1") && Put(*gone, "left-2"));
  }
  auto running = Open();
  ASSERT_TRUE(Put(*running, "live"));

  EXPECT_EQ(Run(kList), client::kExitOk) << err_.str();
  EXPECT_THAT(out_.str(),
              HasSubstr(": left by a daemon that is gone\n  left-1  SendMessageCallBack "
                        " accepted 1970-01-01T00:00:00Z"));
  EXPECT_THAT(out_.str(), HasSubstr(": held by a running qznotesd\n  live  "));
  EXPECT_THAT(out_.str(), HasSubstr("\n3" + journal));
  EXPECT_EQ(Run(kClear), client::kExitFailed);
  EXPECT_EQ(out_.str(),
            "removed 2 requests in 1 files from " + folder_.path() + "/QzNotesJournal\n");
  EXPECT_THAT(err_.str(),
              HasSubstr(" is held by a running qznotesd and was left; stop the daemon"));
  EXPECT_EQ(Run(kList), client::kExitOk);
  EXPECT_THAT(out_.str(),
              AllOf(HasSubstr(": held by a running qznotesd\n  live  "), Not(HasSubstr("left-"))));
}

// Dead letters are counted and listed while they last: [Delivery]
// KeepFailed drops them, replacing one (a retry) or removing it ends it.
TEST_F(JournalListingTest, DeadLettersLastTheirDaysUnlessReplacedOrRemoved) {
  constexpr int64_t kNow = 1'800'000'000'000, kDay = 86'400'000;
  auto journal = Open();
  std::vector<uint64_t> keys;  // of old, fresh and older
  for (auto [id, days] : {std::pair{"old", 3}, {"fresh", 1}, {"older", 5}}) {
    RequestRecord r;
    r.mstrTestID = id, r.tries = 2, r.failed = true, r.failed_id = id;
    r.failed_unix_ms = kNow - days * kDay;
    keys.push_back(journal->NewKey());
    ASSERT_TRUE(journal->PutFailed(keys.back(), EncodeRequest(r)));
  }
  auto ids = [&] {
    std::string listed;
    for (const DeadLetter& d : DeadLetters(*journal, folder_.path(), kNow))
      listed += d.record.failed_id + " ";
    return listed;
  };
  ASSERT_TRUE(Put(*journal, "running"));
  EXPECT_EQ(ids(), "older old fresh ");  // no QzNotes.ini: kept 7 days
  std::ofstream(folder_ / "QzNotes.ini") << "[Delivery]\nKeepFailed=4\n";
  EXPECT_EQ(ids(), "old fresh ");
  EXPECT_EQ(journal->FailedCount(), 2u) << "the expired one stayed";
  // Sent again: the entry becomes the first try of a request accepted now.
  const RequestRecord again =
      AsNewRun(DeadLetters(*journal, folder_.path(), kNow).front().record, kNow);
  EXPECT_EQ(std::tuple(again.failed, again.tries, again.accepted_unix_ms, again.mstrTestID),
            std::tuple(false, 0, kNow, "old"));
  ASSERT_TRUE(journal->Put(keys[0], EncodeRequest(again)));
  journal->Remove(keys[1]);
  EXPECT_EQ(ids(), "");
  EXPECT_EQ(std::tuple(journal->FailedCount(), journal->LiveCount()), std::tuple(0u, 2u));
}

// What is no journal file to read is named and passed over; what could be
// read of a damaged file is listed.
TEST_F(JournalListingTest, NamesWhatItCannotReadAndListsTheRest) {
  std::string damaged_path;
  {
    auto gone = Open();
    for (const char* id : {"kept-1", "hit-2", "kept-3"}) ASSERT_TRUE(Put(*gone, id));
    damaged_path = gone->file_path();
  }
  // One bit of the second record's payload.
  std::string bytes = *ReadFileText(damaged_path.c_str());
  bytes[ReadJournal(bytes).live.at(2).offset + 30] ^= 0x01;
  std::ofstream(damaged_path, std::ios::binary | std::ios::trunc) << bytes;
  const fs::path journal = folder_ / "QzNotesJournal";
  fs::create_directory(journal / "damaged");
  std::ofstream(journal / "damaged" / "run-1-2.found-20260101T000000Z.qzj") << "x";
  fs::create_symlink("/nonexistent", journal / "stray.qzj");
  fs::create_directory(journal / "folder.qzj");
  ASSERT_EQ(mkfifo((journal / "pipe.qzj").c_str(), 0600), 0);
  std::ofstream(journal / "notes.txt") << "mine";

  EXPECT_EQ(Run(kList), client::kExitOk);
  EXPECT_THAT(out_.str(), HasSubstr(fs::path(damaged_path).filename().string() +
                                    ": left by a daemon that is gone; damaged: "));
  EXPECT_THAT(out_.str(),
              AllOf(HasSubstr("\n  kept-1  "), HasSubstr("\n  kept-3  "), Not(HasSubstr("hit-2"))));
  EXPECT_THAT(out_.str(), HasSubstr("\n1 damaged files kept aside in " + journal.string() +
                                    "/damaged (not replayed)\n2 requests in "));
  // Listing names the stray text file; clearing passes over it silently.
  const std::string skipped_folder = "qznotes: skipped folder.qzj: a folder\n",
                    skipped_rest =
                        "qznotes: skipped pipe.qzj: not a regular file\n"
                        "qznotes: skipped stray.qzj: a symbolic link\n";
  EXPECT_EQ(err_.str(),
            skipped_folder + "qznotes: skipped notes.txt: not a journal file\n" + skipped_rest);
  // Clearing passes over the same entries, and leaves what was kept aside.
  EXPECT_EQ(Run(kClear), client::kExitOk);
  EXPECT_EQ(out_.str(), "removed 2 requests in 1 files from " + journal.string() + "\n");
  EXPECT_EQ(err_.str(), skipped_folder + skipped_rest);
  EXPECT_EQ(std::distance(fs::directory_iterator(journal / "damaged"), {}), 1);
}

}  // namespace
}  // namespace qz
