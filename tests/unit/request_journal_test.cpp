// The request journal on real files: what a later run finds of what an
// earlier one kept, removed, replaced or had cut short by a crash.
#include "dispatch/request_journal.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "automation/variant_codec.h"
#include "dispatch/journal_file.h"
#include "dispatch/request_record.h"
#include "platform/file_io.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

using testing::TempFolder;
namespace fs = std::filesystem;

std::vector<fs::path> JournalFiles(const TempFolder& folder) {
  std::vector<fs::path> files;
  for (auto& e : fs::directory_iterator(folder / kJournalFolderName)) files.push_back(e.path());
  return files;
}

// The payloads a new run takes over, in key order.
std::vector<std::string> TakenOver(const TempFolder& folder) {
  Status error;
  auto next = RequestJournal::Open(folder.path(), error);
  EXPECT_TRUE(next) << error;
  std::vector<std::string> payloads;
  for (auto& [key, payload] : next->TakeOverEarlierRuns()) {
    payloads.push_back(payload);
    next->Remove(key);
  }
  return payloads;
}

// A run that is killed: its file stays as it was written, lock released.
void Abandon(std::unique_ptr<RequestJournal>& journal) {
  std::string path = journal->file_path();
  std::string bytes = *ReadFileText(path.c_str());
  journal.reset();  // removes the file only when nothing is left in it
  if (!fs::exists(path)) std::ofstream(path, std::ios::binary) << bytes;
}

TEST(RequestJournalTest, LaterRunGetsWhatWasKeptAndNotRemovedOrReplaced) {
  TempFolder folder;
  Status error;
  auto journal = RequestJournal::Open(folder.path(), error);
  ASSERT_TRUE(journal) << error;
  uint64_t kept = journal->NewKey(), removed = journal->NewKey(), replaced = journal->NewKey();
  ASSERT_TRUE(journal->Put(kept, "kept"));
  ASSERT_TRUE(journal->Put(removed, "removed"));
  ASSERT_TRUE(journal->Put(replaced, "first"));
  ASSERT_TRUE(journal->Put(replaced, "second"));
  ASSERT_TRUE(journal->Remove(removed));
  EXPECT_EQ(journal->LiveCount(), 2u);
  Abandon(journal);

  EXPECT_EQ(TakenOver(folder), (std::vector<std::string>{"kept", "second"}));
  // Taken over once: the next run finds nothing, and no file is left.
  EXPECT_TRUE(TakenOver(folder).empty());
  EXPECT_TRUE(JournalFiles(folder).empty());
}

// A server losing its bus destroys its objects without running them: their
// removals must not reach the file, and its orderly end keeps the file.
TEST(RequestJournalTest, KeptEverythingSurvivesRemovalsAndAnOrderlyEnd) {
  TempFolder folder;
  Status error;
  {
    auto journal = RequestJournal::Open(folder.path(), error);
    ASSERT_TRUE(journal) << error;
    const uint64_t key = journal->NewKey();
    ASSERT_TRUE(journal->Put(key, "pending"));
    journal->KeepEverything();
    EXPECT_TRUE(journal->Remove(key));
  }
  EXPECT_EQ(TakenOver(folder), (std::vector<std::string>{"pending"}));
}

TEST(RequestJournalTest, FolderAndFileAreOwnerOnly) {
  TempFolder folder;
  Status error;
  auto journal = RequestJournal::Open(folder.path(), error);
  ASSERT_TRUE(journal) << error;
  struct stat st {};
  ASSERT_EQ(::stat((folder / kJournalFolderName).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat(journal->file_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(RequestJournalTest, LiveRunsFileIsNotTakenOver) {
  TempFolder folder;
  Status error;
  auto running = RequestJournal::Open(folder.path(), error);
  ASSERT_TRUE(running) << error;
  ASSERT_TRUE(running->Put(running->NewKey(), "still running"));
  EXPECT_TRUE(TakenOver(folder).empty());
  EXPECT_EQ(running->LiveCount(), 1u);
  Abandon(running);
  EXPECT_EQ(TakenOver(folder), std::vector<std::string>{"still running"});
}

// Every cut through the last record (a crash mid-write) and every damaged
// byte in it leaves the records before it, and only those.
TEST(RequestJournalTest, TornOrDamagedTailIsIgnored) {
  std::string whole = std::string(kJournalHeader) +
                      FrameRecord(JournalRecordType::kPut, 1, "first") +
                      FrameRecord(JournalRecordType::kPut, 2, "second");
  std::string last = FrameRecord(JournalRecordType::kPut, 3, "cut short");
  for (size_t cut = 0; cut < last.size(); ++cut) {
    JournalContents c = ReadJournal(whole + last.substr(0, cut));
    ASSERT_EQ(c.live.size(), 2u) << "cut at " << cut;
    EXPECT_EQ(c.torn, cut > 0);
    EXPECT_EQ(c.valid_end, whole.size());
  }
  for (size_t at = 0; at < last.size(); ++at) {
    std::string damaged = last;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
    JournalContents c = ReadJournal(whole + damaged);
    EXPECT_EQ(c.live.count(3), 0u) << "damage at " << at;
    EXPECT_EQ(c.live.size(), 2u);
  }
  EXPECT_FALSE(ReadJournal("not a journal").recognised);
  // Zeros the writer set aside after the records are neither data nor damage.
  JournalContents padded = ReadJournal(whole + std::string(4096, '\0'));
  EXPECT_EQ(padded.live.size(), 2u);
  EXPECT_FALSE(padded.torn);
}

TEST(RequestJournalTest, TornTailOnDiskIsIgnoredByTheNextRun) {
  TempFolder folder;
  Status error;
  auto journal = RequestJournal::Open(folder.path(), error);
  ASSERT_TRUE(journal) << error;
  ASSERT_TRUE(journal->Put(journal->NewKey(), "whole"));
  std::string path = journal->file_path();
  Abandon(journal);
  // Cut short right where the next record goes, over the zeros set aside.
  uint64_t end = ReadJournal(*ReadFileText(path.c_str())).valid_end;
  std::string torn = FrameRecord(JournalRecordType::kPut, 99, "torn");
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(static_cast<std::streamoff>(end));
  file << torn.substr(0, torn.size() - 3);
  file.close();
  ASSERT_TRUE(ReadJournal(*ReadFileText(path.c_str())).torn);
  EXPECT_EQ(TakenOver(folder), std::vector<std::string>{"whole"});
}

TEST(RequestJournalTest, CompactionKeepsOnlyLiveEntries) {
  TempFolder folder;
  Status error;
  RequestJournal::Options options;
  options.compact_after_dead_bytes = 4096;
  auto journal = RequestJournal::Open(folder.path(), error, options);
  ASSERT_TRUE(journal) << error;
  std::string payload(100, 'x');
  std::map<uint64_t, std::string> expected;
  for (int i = 0; i < 500; ++i) {
    uint64_t key = journal->NewKey();
    std::string text = payload + std::to_string(i);
    ASSERT_TRUE(journal->Put(key, text));
    if (i % 50 == 0)
      expected[key] = text;
    else
      ASSERT_TRUE(journal->Remove(key));
  }
  // 490 dead records of about 130 bytes could not all still be there.
  std::string path = journal->file_path();
  EXPECT_LT(ReadJournal(*ReadFileText(path.c_str())).valid_end, 20000u);
  EXPECT_EQ(journal->LiveCount(), expected.size());
  // Writes after a compaction land in the new file.
  uint64_t late = journal->NewKey();
  ASSERT_TRUE(journal->Put(late, "after compaction"));
  Abandon(journal);
  std::vector<std::string> taken = TakenOver(folder);
  std::vector<std::string> want;
  for (auto& [key, text] : expected) want.push_back(text);
  want.push_back("after compaction");
  EXPECT_EQ(taken, want);
  EXPECT_EQ(JournalFiles(folder).size(), 0u);  // no temporary left either
}

TEST(RequestJournalTest, ConcurrentPutsAreAllDurableAndShareWrites) {
  TempFolder folder;
  Status error;
  auto journal = RequestJournal::Open(folder.path(), error);
  ASSERT_TRUE(journal) << error;
  constexpr int kThreads = 8, kEach = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i)
        EXPECT_TRUE(journal->Put(journal->NewKey(), std::to_string(t * 1000 + i)));
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(journal->LiveCount(), size_t{kThreads * kEach});
  Abandon(journal);
  EXPECT_EQ(TakenOver(folder).size(), size_t{kThreads * kEach});
}

TEST(RequestRecordTest, EveryFieldAndKindOfValueSurvives) {
  RequestRecord r;
  r.object_path = "/org/qznotes/QzNotes/cNotify/42";
  r.owner = ":1.7";
  r.procedure = "SendMessageCallBack";
  r.accepted_unix_ms = 1'700'000'000'123;
  r.mstrTestID = "T-ü";
  r.mvarNotes =
      Variant::Array({Variant("a"), Variant(int16_t{-7}), Variant(int32_t{70000}), Variant(2.5),
                      Variant::Boolean(true), Variant::Null(), Variant(), Variant::Missing(),
                      Variant::NoDimensions(), Variant::Array({Variant("nested")}, 3)},
                     1);
  r.mvarEmail = Variant::Array({Variant::Array({Variant("x@example.org")})});
  r.mvarPager = Variant("555");
  r.mblnMailEnabled = true;
  r.mstrSubject = "subject";
  r.mstrMailFrom = "from";
  r.mstrProfile = "profile";
  r.mstrSMTPServer = "smtp";
  r.mstrNotifyServer = "host";
  r.callback_bus = "org.example.Cb";
  r.callback_path = "/cb";
  r.callback_uid = 1000;
  r.mstrLastLogged = "Page Status: ::";
  RequestRecord back = DecodeRequest(EncodeRequest(r));
  EXPECT_EQ(back.object_path, r.object_path);
  EXPECT_EQ(back.owner, r.owner);
  EXPECT_EQ(back.procedure, r.procedure);
  EXPECT_EQ(back.accepted_unix_ms, r.accepted_unix_ms);
  EXPECT_EQ(back.mstrTestID, r.mstrTestID);
  EXPECT_EQ(back.mvarNotes, r.mvarNotes);
  EXPECT_EQ(back.mvarEmail, r.mvarEmail);
  EXPECT_EQ(back.mvarPager, r.mvarPager);
  EXPECT_TRUE(back.mblnMailEnabled);
  EXPECT_EQ(back.mstrSubject, r.mstrSubject);
  EXPECT_EQ(back.mstrMailFrom, r.mstrMailFrom);
  EXPECT_EQ(back.mstrProfile, r.mstrProfile);
  EXPECT_EQ(back.mstrSMTPServer, r.mstrSMTPServer);
  EXPECT_EQ(back.mstrNotifyServer, r.mstrNotifyServer);
  EXPECT_EQ(back.callback_bus, r.callback_bus);
  EXPECT_EQ(back.callback_path, r.callback_path);
  EXPECT_EQ(back.callback_uid, r.callback_uid);
  EXPECT_EQ(back.mstrLastLogged, r.mstrLastLogged);

  // A record of the layout before callback users decodes without one.
  std::string bytes = EncodeRequest(r);
  std::string earlier = bytes.substr(0, bytes.size() - 5);
  earlier[0] = 1;
  EXPECT_EQ(DecodeRequest(earlier).callback_uid, std::nullopt);
  EXPECT_EQ(DecodeRequest(earlier).callback_path, r.callback_path);
  for (size_t cut = 0; cut < bytes.size(); cut += 7)
    EXPECT_THROW(DecodeRequest(bytes.substr(0, cut)), ByteCodecError) << cut;
}

}  // namespace
}  // namespace qz
