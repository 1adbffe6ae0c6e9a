// The request journal on real files: what a later run finds of what an
// earlier one kept, removed, replaced or had cut short by a crash.
#include "dispatch/request_journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <tuple>

#include "dispatch/journal_file.h"
#include "platform/file_io.h"
#include "platform/unique_fd.h"
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

// A file of ten puts, "request-1" to "request-10" under keys 1 to 10, and
// where each record starts.
struct TenRecords {
  std::string header = NewJournalHeader();
  std::string bytes = header;
  std::vector<size_t> at;
  TenRecords() {
    for (uint64_t key = 1; key <= 10; ++key) {
      at.push_back(bytes.size());
      bytes += FrameRecord(header, JournalRecordType::kPut, key, "request-" + std::to_string(key));
    }
  }
};

// "request-1" to "request-10" without those numbered in `missing`.
Payloads AllBut(std::set<int> missing) {
  Payloads payloads;
  for (int n = 1; n <= 10; ++n)
    if (!missing.contains(n)) payloads.push_back("request-" + std::to_string(n));
  return payloads;
}

// A file of the first form: puts of "legacy one" (key 1) and "legacy two"
// (key 2), then the removal of key 1.
std::string FirstFormFile() {
  const char* hex =
      "515a4a524e4c310a13000000a73ec5970101000000000000006c6567616379206f6e651300000052efe5160102"
      "000000000000006c65676163792074776f09000000b63c5504020100000000000000";
  std::string bytes;
  for (const char* p = hex; *p; p += 2) bytes += static_cast<char>(std::stoi({p, 2}, nullptr, 16));
  return bytes;
}

// Damage costs the records it hit and no others; what cannot be read is
// counted, and zeros the writer set aside after the records are no damage.
TEST(RequestJournalTest, DamageCostsOnlyTheRecordsItHit) {
  const Payloads all = AllBut({}), none, legacy{"legacy two"};
  // What was done, how, and what is read back: live payloads, bytes skipped, damaged.
  using Damage = std::function<void(std::string&, const TenRecords&)>;
  const std::tuple<const char*, Damage, Payloads, uint64_t, bool> cases[] = {
      {"one bit flipped in the body of record 3", [](auto& b, auto& f) { b[f.at[2] + 20] ^= 0x10; },
       AllBut({3}), 30, true},
      {"one bit flipped in the length of record 3", [](auto& b, auto& f) { b[f.at[2]] ^= 0x40; },
       AllBut({3}), 30, true},
      {"records 4 and 5 zeroed",
       [](auto& b, auto& f) { std::fill(&b[f.at[3]], &b[f.at[5]], '\0'); }, AllBut({4, 5}), 60,
       true},
      {"cut short in record 10", [](auto& b, auto& f) { b.resize(f.at[9] + 25); }, AllBut({10}), 25,
       true},
      {"cut short in record 10, then the writer's zeros",
       [](auto& b, auto& f) { b.resize(f.at[9] + 25), b.append(4096, '\0'); }, AllBut({10}), 25,
       true},
      {"the writer's zeros after the last record", [](auto& b, auto&) { b.append(4096, '\0'); },
       all, 0, false},
      {"garbage after the last record", [](auto& b, auto&) { b += "\x01garbage\xff"; }, all, 9,
       true},
      {"a damaged header", [](auto& b, auto&) { b[0] ^= 0x01; }, all, 16, true},
      {"all zeros", [](auto& b, auto&) { b.assign(b.size(), '\0'); }, none, 16 + 10 * 30 + 1, true},
      {"a record forged in a request's text, its request damaged",
       [](auto& b, auto& f) {
         // Whoever wrote the text could not know the file's salt.
         std::string text = FrameRecord(NewJournalHeader(), JournalRecordType::kPut, 99, "forged");
         b = f.header + FrameRecord(f.header, JournalRecordType::kPut, 1, text);
         b[f.header.size() + 2] ^= 0x01;
       },
       none, 12 + 9 + 12 + 9 + 6, true},
      {"the first form", [](auto& b, auto&) { b = FirstFormFile(); }, legacy, 0, false},
      {"the first form, one bit flipped in its first record",
       [](auto& b, auto&) { b = FirstFormFile(), b[8 + 12] ^= 0x04; }, legacy, 27, true},
  };
  for (const auto& [what, damage, expected, skipped, damaged] : cases) {
    SCOPED_TRACE(what);
    TenRecords file;
    damage(file.bytes, file);
    JournalContents contents = ReadJournal(file.bytes);
    Payloads live;
    for (const auto& [key, entry] : contents.live) live.push_back(entry.payload);
    EXPECT_EQ(live, expected);
    EXPECT_EQ(contents.skipped_bytes, skipped);
    EXPECT_EQ(contents.damaged(), damaged);
  }
}

// A file with anything unreadable in it is kept aside once its requests are
// this run's, whether nothing of it is left (all zeros) or however large it
// is (hundreds of MiB, mostly holes, garbage at 100 MiB and a removal at
// 250 MiB); the next run finds nothing to repeat.
TEST(RequestJournalTest, DamagedFilesAreRecoveredAndKeptAside) {
  constexpr off_t kMiB = 1 << 20;
  for (const bool zeros : {true, false}) {
    SCOPED_TRACE(zeros ? "all zeros" : "hundreds of MiB");
    TempFolder folder;
    std::string path;
    {
      auto killed = OpenJournal(folder);
      for (uint64_t key = 1; key <= 10; ++key)
        ASSERT_TRUE(killed->Put(killed->NewKey(), "request-" + std::to_string(key)));
      path = killed->file_path();
    }
    {
      UniqueFd fd(open(path.c_str(), O_RDWR | O_CLOEXEC));
      const size_t end = ReadJournal(fd.get()).valid_end;
      std::string header(16, '\0'), last = std::string(end, '\0');
      ASSERT_EQ(pread(fd.get(), header.data(), header.size(), 0), 16);
      off_t at = 0;
      if (!zeros) {
        ASSERT_EQ(ftruncate(fd.get(), 300 * kMiB), 0);
        const std::string garbage(4096, '\x5a');
        ASSERT_EQ(pwrite(fd.get(), garbage.data(), garbage.size(), 100 * kMiB), 4096);
        last = FrameRecord(header, JournalRecordType::kRemove, 10), at = 250 * kMiB + 3;
      }
      ASSERT_EQ(pwrite(fd.get(), last.data(), last.size(), at), static_cast<ssize_t>(last.size()));
    }
    EXPECT_EQ(TakenOver(folder), zeros ? Payloads{} : AllBut({10}));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / kJournalFolderName / "damaged"), {}),
              1);
    EXPECT_TRUE(TakenOver(folder).empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / kJournalFolderName), {}), 1);
  }
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
