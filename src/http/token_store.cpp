#include "http/token_store.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>

#include "http/front_door.h"
#include "platform/file_io.h"
#include "platform/holders.h"
#include "platform/ini_syntax.h"
#include "platform/trim.h"
#include "platform/unique_fd.h"

namespace qz {
namespace {

struct RightWord {
  std::string_view word;
  Right right;
};
constexpr std::array<RightWord, 5> kRightWords = {{{"send", Right::kSend},
                                                   {"test", Right::kTest},
                                                   {"read", Right::kRead},
                                                   {"settings", Right::kSettings},
                                                   {"journal", Right::kJournal}}};
constexpr size_t kTokenHashChars = 64;

bool IsHexHash(std::string_view text) {
  if (text.size() != kTokenHashChars) return false;
  for (char c : text)
    if (!g_ascii_isxdigit(c)) return false;
  return true;
}

// Equal texts of equal length, in a time that does not depend on where they differ.
bool SameHash(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char differ = 0;
  for (size_t i = 0; i < a.size(); ++i)
    differ |= static_cast<unsigned char>(g_ascii_tolower(a[i]) ^ g_ascii_tolower(b[i]));
  return differ == 0;
}

int64_t Nanoseconds(const timespec& t) { return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec; }

}  // namespace

std::string TokenHash(std::string_view token) {
  CharPtr hex(g_compute_checksum_for_data(
      G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(token.data()), token.size()));
  return hex.get();
}

std::optional<unsigned> ParseRights(std::string_view text) {
  unsigned rights = 0;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view word = TrimBlanks(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (word.empty()) continue;
    bool known = false;
    for (const RightWord& row : kRightWords)
      if (word == row.word) {
        rights |= static_cast<unsigned>(row.right);
        known = true;
      }
    if (!known) return std::nullopt;
  }
  return rights;
}

std::string RightsText(unsigned rights) {
  std::string text;
  for (const RightWord& row : kRightWords)
    if (rights & static_cast<unsigned>(row.right))
      text += (text.empty() ? "" : ",") + std::string(row.word);
  return text;
}

bool IsTokenName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name)
    if (!g_ascii_isalnum(c) && c != '-' && c != '_' && c != '.') return false;
  return true;
}

std::vector<TokenEntry> ParseTokenFile(std::string_view text) {
  std::vector<TokenEntry> entries;
  std::vector<bool> rights_ok;
  if (text.starts_with(ini::kUtf8Bom)) text.remove_prefix(ini::kUtf8Bom.size());
  while (!text.empty()) {
    const ini::ParsedLine line = ini::ParseLine(ini::NextLine(text).text);
    if (line.kind == ini::LineKind::kSection) {
      entries.push_back({std::string(line.name), {}, 0});
      rights_ok.push_back(true);
    } else if (line.kind == ini::LineKind::kEntry && !entries.empty()) {
      const std::string_view value = ini::Unquote(line.raw_value);
      if (ini::FoldedCaseEqual(line.name, "Hash")) {
        entries.back().hash = std::string(value);
      } else if (ini::FoldedCaseEqual(line.name, "Rights")) {
        const std::optional<unsigned> rights = ParseRights(value);
        entries.back().rights = rights.value_or(0);
        rights_ok.back() = rights.has_value();
      }
    }
  }
  std::vector<TokenEntry> usable;
  for (size_t i = 0; i < entries.size(); ++i)
    if (rights_ok[i] && IsHexHash(entries[i].hash)) usable.push_back(std::move(entries[i]));
  return usable;
}

std::string TokenFileText(const std::vector<TokenEntry>& entries) {
  std::string text;
  for (const TokenEntry& entry : entries)
    text += (text.empty() ? "[" : "\n[") + entry.name + "]\nHash=" + entry.hash +
            "\nRights=" + RightsText(entry.rights) + "\n";
  return text;
}

std::optional<std::string> TokenFileFault(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return "it is not a plain file";
  if (st.st_uid != geteuid())
    return "it belongs to user " + std::to_string(st.st_uid) + ", not to " +
           std::to_string(geteuid());
  if (st.st_mode & 077) {
    char mode[8];
    g_snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string("its mode is ") + mode + "; others may read it (chmod 600)";
  }
  return std::nullopt;
}

TokenStore::TokenStore(std::string path, std::function<void(std::string_view)> report)
    : path_(std::move(path)), report_(std::move(report)) {}

std::optional<TokenStore::Grant> TokenStore::Find(std::string_view token) {
  const std::string hash = TokenHash(token);
  std::lock_guard lock(mutex_);
  ReloadIfChanged();
  std::optional<Grant> found;
  // Every entry is compared, so the time taken says nothing of which matched.
  for (const TokenEntry& entry : entries_)
    if (SameHash(entry.hash, hash) && !found) found = Grant{entry.name, entry.rights};
  return found;
}

void TokenStore::ReloadIfChanged() {
  struct stat st {};
  std::optional<Seen> now;
  if (::stat(path_.c_str(), &st) == 0)
    now = Seen{st.st_dev, st.st_ino, st.st_size, Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
  if (read_once_ && now == seen_) return;
  read_once_ = true;
  seen_ = now;
  entries_.clear();
  if (!now) return;  // no file: no token is valid, as with an empty one
  // The checks and the read are of one open file, whatever the path names meanwhile.
  UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  std::optional<std::string> fault;
  std::optional<std::string> text;
  if (!fd || ::fstat(fd.get(), &st) != 0) fault = "it cannot be opened";
  if (!fault) fault = TokenFileFault(st);
  if (!fault && !(text = ReadAll(fd.get()))) fault = "it cannot be read";
  if (fault) {
    if (*fault != last_fault_ && report_)
      report_("tokens: " + path_ + " refused: " + *fault + "; no token is valid");
    last_fault_ = *fault;
    return;
  }
  last_fault_.clear();
  entries_ = ParseTokenFile(*text);
}

}  // namespace qz
