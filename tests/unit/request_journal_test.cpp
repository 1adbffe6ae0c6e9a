// The request journal on real files: what a later run finds of what an
// earlier one kept, removed, replaced or had cut short by a crash.
#include "dispatch/request_journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "dispatch/journal_file.h"
#include "platform/file_io.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

using testing::TempFolder;
using Payloads = std::vector<std::string>;
namespace fs = std::filesystem;

std::unique_ptr<RequestJournal> OpenJournal(const TempFolder& folder,
                                            RequestJournal::Options options = {}) {
  Status error;
  auto journal = RequestJournal::Open(folder.path(), error, options);
  if (!journal) throw std::runtime_error(error.message());
  return journal;
}

// The payloads a new run takes over, in key order.
Payloads TakenOver(const TempFolder& folder) {
  auto next = OpenJournal(folder);
  Payloads payloads;
  for (auto& [key, payload] : next->TakeOverEarlierRuns()) {
    payloads.push_back(payload);
    next->Remove(key);
  }
  return payloads;
}

TEST(RequestJournalTest, LaterRunGetsWhatWasKeptAndNotRemovedOrReplaced) {
  TempFolder folder;
  auto journal = OpenJournal(folder);
  // Owner-only folder and file.
  EXPECT_EQ(fs::status(folder / kJournalFolderName).permissions(), fs::perms(0700));
  EXPECT_EQ(fs::status(journal->file_path()).permissions(), fs::perms(0600));
  uint64_t kept = journal->NewKey(), removed = journal->NewKey(), replaced = journal->NewKey();
  ASSERT_TRUE(journal->Put(kept, "kept") && journal->Put(removed, "removed") &&
              journal->Put(replaced, "first") && journal->Put(replaced, "second") &&
              journal->Remove(removed));
  EXPECT_TRUE(TakenOver(folder).empty());  // a live run's file stays its own
  journal.reset();                         // as a killed run: its file stays, its lock goes
  EXPECT_EQ(TakenOver(folder), (Payloads{"kept", "second"}));
  // Taken over once: the next run finds nothing, and no file is left.
  EXPECT_TRUE(TakenOver(folder).empty());
  EXPECT_TRUE(fs::is_empty(folder / kJournalFolderName));

  // A server losing its bus destroys its objects without running them:
  // their removals must not reach the file, and its orderly end keeps it.
  {
    auto lost = OpenJournal(folder);
    const uint64_t key = lost->NewKey();
    ASSERT_TRUE(lost->Put(key, "pending"));
    lost->KeepEverything();
    EXPECT_TRUE(lost->Remove(key));
  }
  EXPECT_EQ(TakenOver(folder), Payloads{"pending"});
}

// Every cut through the last record (a crash mid-write) and every damaged
// byte in it leaves the records before it, and only those.
TEST(RequestJournalTest, TornOrDamagedTailIsIgnored) {
  std::string whole = std::string(kJournalHeader) +
                      FrameRecord(JournalRecordType::kPut, 1, "first") +
                      FrameRecord(JournalRecordType::kPut, 2, "second");
  std::string last = FrameRecord(JournalRecordType::kPut, 3, "cut short");
  for (size_t at = 0; at < last.size(); ++at) {
    JournalContents cut = ReadJournal(whole + last.substr(0, at));
    EXPECT_EQ(cut.live.size(), 2u) << "cut at " << at;
    EXPECT_EQ(cut.torn, at > 0);
    EXPECT_EQ(cut.valid_end, whole.size());
    std::string damaged = last;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
    EXPECT_EQ(ReadJournal(whole + damaged).live.size(), 2u) << "damage at " << at;
  }
  EXPECT_FALSE(ReadJournal("not a journal").recognised);
  // Zeros the writer set aside after the records are neither data nor damage.
  JournalContents padded = ReadJournal(whole + std::string(4096, '\0'));
  EXPECT_EQ(padded.live.size(), 2u);
  EXPECT_FALSE(padded.torn);
}

TEST(RequestJournalTest, CompactionKeepsOnlyLiveEntries) {
  TempFolder folder;
  RequestJournal::Options options;
  options.compact_after_dead_bytes = 4096;
  auto journal = OpenJournal(folder, options);
  Payloads expected;
  for (int i = 0; i < 500; ++i) {
    uint64_t key = journal->NewKey();
    std::string text = std::string(100, 'x') + std::to_string(i);
    ASSERT_TRUE(journal->Put(key, text));
    if (i % 50 == 0)
      expected.push_back(text);
    else
      ASSERT_TRUE(journal->Remove(key));
  }
  // 490 dead records of about 130 bytes could not all still be there.
  EXPECT_LT(ReadJournal(*ReadFileText(journal->file_path().c_str())).valid_end, 20000u);
  // Writes after a compaction land in the new file.
  ASSERT_TRUE(journal->Put(journal->NewKey(), "after compaction"));
  expected.push_back("after compaction");
  journal.reset();  // as a killed run: its file stays, its lock goes
  EXPECT_EQ(TakenOver(folder), expected);
  EXPECT_TRUE(fs::is_empty(folder / kJournalFolderName));  // no temporary either
}

}  // namespace
}  // namespace qz
