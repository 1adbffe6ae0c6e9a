// The bearer tokens of the HTTP front door, kept in QzTokens.ini in the
// program folder: one section per token name with its SHA-256 `Hash` (hex)
// and its `Rights` ("send,read"). The token itself is never stored. The
// file must belong to the daemon's user and be readable by nobody else;
// otherwise no token is valid. The client writes the file; the daemon reads
// it again when it changes. TokenStore is safe from any thread.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace qz {

inline constexpr std::string_view kTokensFileName = "QzTokens.ini";

struct TokenEntry {
  std::string name;
  std::string hash;  // lower-case hex SHA-256 of the token
  unsigned rights = 0;
};

// Lower-case hex SHA-256 of `token`.
std::string TokenHash(std::string_view token);
// "send,read" as Right bits; nothing when a word is no right.
std::optional<unsigned> ParseRights(std::string_view text);
// The rights' words in their fixed order, comma-separated.
std::string RightsText(unsigned rights);
// Whether `name` can be a section of the file.
bool IsTokenName(std::string_view name);

// The entries of the file's text. Entries without a hash or with a
// malformed one are left out; an unknown right leaves out the entry.
std::vector<TokenEntry> ParseTokenFile(std::string_view text);
std::string TokenFileText(const std::vector<TokenEntry>& entries);

// Why a file with the stat `st` may not hold tokens (kind, owner, mode),
// or nothing when it may.
std::optional<std::string> TokenFileFault(const struct stat& st);

class TokenStore {
 public:
  // `report` gets one line each time the file turns unusable.
  TokenStore(std::string path, std::function<void(std::string_view)> report);

  struct Grant {
    std::string name;
    unsigned rights = 0;
  };
  // The token's name and rights, or nothing when no entry matches.
  std::optional<Grant> Find(std::string_view token);

 private:
  void ReloadIfChanged();

  const std::string path_;
  const std::function<void(std::string_view)> report_;
  std::mutex mutex_;
  struct Seen {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    int64_t mtime_ns = 0;
    int64_t ctime_ns = 0;  // a chmod or chown changes it too
    bool operator==(const Seen&) const = default;
  };
  std::optional<Seen> seen_;  // none: not read yet, or missing
  bool read_once_ = false;
  std::vector<TokenEntry> entries_;
  std::string last_fault_;
};

}  // namespace qz
