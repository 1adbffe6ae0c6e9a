// What `qznotes journal` reads and clears, and how its command line is read.
#include <gtest/gtest.h>

#include <sstream>

#include "client/command_line.h"
#include "client/runners.h"
#include "dispatch/journal_listing.h"
#include "dispatch/request_journal.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

using testing::TempFolder;

RequestRecord Request(std::string test_id) {
  RequestRecord r;
  r.mstrTestID = std::move(test_id);
  r.procedure = "SendMessageCallBack";
  r.object_path = "/org/qznotes/QzNotes/cNotify/1";
  return r;
}

TEST(JournalListingTest, ListsAndClearsOnlyWhatNoRunningDaemonHolds) {
  TempFolder folder;
  Status error;
  {
    // A daemon that was killed: its file stays, unlocked.
    auto gone = RequestJournal::Open(folder.path(), error);
    ASSERT_TRUE(gone) << error;
    ASSERT_TRUE(gone->Put(gone->NewKey(), EncodeRequest(Request("left-1"))));
    ASSERT_TRUE(gone->Put(gone->NewKey(), EncodeRequest(Request("left-2"))));
  }
  auto running = RequestJournal::Open(folder.path(), error);
  ASSERT_TRUE(running) << error;
  ASSERT_TRUE(running->Put(running->NewKey(), EncodeRequest(Request("live"))));

  auto files = ListJournal(folder.path(), error);
  ASSERT_TRUE(files) << error;
  ASSERT_EQ(files->size(), 2u);
  size_t in_use = 0;
  for (const JournalFileReport& file : *files) {
    in_use += file.in_use;
    std::vector<std::string> ids;
    for (auto& r : file.requests) ids.push_back(r.mstrTestID);
    const std::vector<std::string> expected = file.in_use
                                                  ? std::vector<std::string>{"live"}
                                                  : std::vector<std::string>{"left-1", "left-2"};
    EXPECT_EQ(ids, expected);
  }
  EXPECT_EQ(in_use, 1u);

  JournalClearing cleared = ClearJournal(folder.path());
  EXPECT_TRUE(cleared.status.ok()) << cleared.status;
  EXPECT_EQ(cleared.files_removed, 1u);
  EXPECT_EQ(cleared.requests_removed, 2u);
  ASSERT_EQ(cleared.in_use.size(), 1u);
  EXPECT_EQ(running->LiveCount(), 1u);
  // The running daemon's entry is still there for the next run.
  EXPECT_EQ(ListJournal(folder.path(), error)->size(), 1u);
}

TEST(JournalListingTest, NoJournalFolderIsAnEmptyJournal) {
  TempFolder folder;
  Status error;
  auto files = ListJournal(folder.path(), error);
  ASSERT_TRUE(files) << error;
  EXPECT_TRUE(files->empty());
  EXPECT_EQ(ClearJournal(folder.path()).files_removed, 0u);
}

TEST(JournalCommandTest, CommandLines) {
  using A = client::JournalCommand::Action;
  struct Case {
    std::vector<std::string_view> words;
    bool ok;
    A action;
    bool system;
    std::string folder;
  };
  const Case cases[] = {
      {{"journal"}, true, A::kList, false, ""},
      {{"journal", "list"}, true, A::kList, false, ""},
      {{"--system", "journal", "clear"}, true, A::kClear, true, ""},
      {{"journal", "clear", "--folder", "/srv/qz"}, true, A::kClear, false, "/srv/qz"},
      {{"journal", "--folder=/srv/qz", "list"}, true, A::kList, false, "/srv/qz"},
      {{"journal", "purge"}, false, A::kList, false, ""},
      {{"journal", "list", "extra"}, false, A::kList, false, ""},
      {{"journal", "--folder"}, false, A::kList, false, ""},
      {{"journal", "--folder="}, false, A::kList, false, ""},
  };
  for (const Case& c : cases) {
    client::ParsedCommandLine parsed = client::ParseCommandLine(c.words);
    ASSERT_EQ(parsed.error.empty(), c.ok) << c.words.back() << " " << parsed.error;
    if (!c.ok) continue;
    const auto* journal = std::get_if<client::JournalCommand>(&parsed.invocation.command);
    ASSERT_NE(journal, nullptr) << c.words.back();
    EXPECT_EQ(journal->action, c.action);
    EXPECT_EQ(journal->system, c.system);
    EXPECT_EQ(journal->folder.value_or(""), c.folder);
  }
}

TEST(JournalCommandTest, ListAndClearThroughTheClient) {
  TempFolder folder;
  Status error;
  {
    auto gone = RequestJournal::Open(folder.path(), error);
    ASSERT_TRUE(gone) << error;
    ASSERT_TRUE(gone->Put(gone->NewKey(), EncodeRequest(Request("T-77"))));
  }
  std::ostringstream out, err;
  client::JournalCommand list{client::JournalCommand::Action::kList, false, folder.path()};
  EXPECT_EQ(client::RunJournal(nullptr, {}, list, {out, err}), client::kExitOk) << err.str();
  EXPECT_NE(out.str().find("left by a daemon that is gone"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("  T-77  SendMessageCallBack  accepted "), std::string::npos);
  EXPECT_NE(out.str().find("1 requests in "), std::string::npos);

  out.str("");
  client::JournalCommand clear{client::JournalCommand::Action::kClear, false, folder.path()};
  EXPECT_EQ(client::RunJournal(nullptr, {}, clear, {out, err}), client::kExitOk) << err.str();
  EXPECT_NE(out.str().find("removed 1 requests in 1 files"), std::string::npos) << out.str();
  EXPECT_TRUE(ListJournal(folder.path(), error)->empty());
}

}  // namespace
}  // namespace qz
