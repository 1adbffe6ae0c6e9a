// The token file's rights words, its entries, and a store that follows the
// file as the client rewrites it.
#include "http/token_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "http/front_door.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

constexpr unsigned kSendRead = unsigned(Right::kSend) | unsigned(Right::kRead);

TEST(TokenStore, RightsWords) {
  struct Row {
    const char* text;
    std::optional<unsigned> rights;
    const char* canonical;
  } const rows[] = {
      {"send,read", kSendRead, "send,read"},
      {" read , send ,", kSendRead, "send,read"},  // blanks and order do not matter
      {"journal", unsigned(Right::kJournal), "journal"},
      {"", 0u, ""},
      {"send,root", std::nullopt, ""},  // one unknown word spoils the lot
      {"Send", std::nullopt, ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ParseRights(row.text), row.rights) << row.text;
    if (row.rights) EXPECT_EQ(RightsText(*row.rights), row.canonical) << row.text;
  }
}

TEST(TokenStore, EntriesWithoutAUsableHashOrRightsAreLeftOut) {
  const std::string good = TokenHash("secret");
  const std::vector<TokenEntry> entries = ParseTokenFile(
      "[ok]\nHash=" + good + "\nRights=send\n[short]\nHash=abc\nRights=send\n[odd]\nHash=" + good +
      "\nRights=send,root\n[none]\nRights=read\n");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "ok");
  EXPECT_EQ(entries[0].rights, unsigned(Right::kSend));
}

TEST(TokenStore, FindsTokensByHashAndFollowsTheFile) {
  testing::TempFolder folder;
  const std::string path = folder.File(kTokensFileName);
  std::vector<std::string> lines;
  TokenStore store(path, [&](std::string_view line) { lines.emplace_back(line); });
  EXPECT_FALSE(store.Find("alpha")) << "no file: no token";

  auto write = [&](const std::vector<TokenEntry>& entries) {
    folder.Write(kTokensFileName, TokenFileText(entries));
    chmod(path.c_str(), 0600);
  };
  write({{"a", TokenHash("alpha"), kSendRead}, {"b", TokenHash("beta"), 0}});
  const std::optional<TokenStore::Grant> a = store.Find("alpha");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->name, "a");
  EXPECT_EQ(a->rights, kSendRead);
  EXPECT_EQ(store.Find("beta")->name, "b");
  EXPECT_FALSE(store.Find("alphA"));
  EXPECT_FALSE(store.Find(TokenHash("alpha"))) << "the hash is no token";

  write({{"b", TokenHash("beta"), 0}});  // "a" removed
  EXPECT_FALSE(store.Find("alpha"));
  EXPECT_TRUE(store.Find("beta"));
  EXPECT_TRUE(lines.empty());
}

}  // namespace
}  // namespace qz
