// The registry store: root keys, keys named by "\"-separated paths (rules in
// registry_path.h), named string values and sub-key enumeration, all in one
// SQLite database file. Key and value names compare without regard to ASCII
// case; sub-keys enumerate in that case-insensitive alphabetical order. Each
// write is one transaction (WAL journal), so several processes may share the
// file; a writer that finds it locked waits up to the busy timeout. Answers
// are the platform's status codes; nothing here throws. The file and its
// -wal and -shm, when an earlier run left them open to other users, are
// tightened to owner and group. Safe from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry_path.h"
#include "platform/sqlite_holders.h"

namespace qz {

enum RegStatus : int32_t {
  kRegOk = 0,
  kRegNotFound = 2,       // no such key or value
  kRegInvalidHandle = 6,  // not a root key nor a key opened here
  kRegLocked = 33,        // another process held the file past the busy timeout
  kRegInvalidParameter = 87,
  kRegBadPath = 161,      // a path the rules refuse
  kRegMoreData = 234,     // the value or name does not fit the buffer given
  kRegNoMoreItems = 259,  // enumeration index past the last sub-key
  kRegCorrupt = 1009,     // the file is no database or a damaged one; left as it is
  kRegIoFailed = 1016,    // the file can't be opened, read or written
};

// A sentence saying what a status means, for logs and error replies.
std::string_view RegStatusText(int32_t status);

inline constexpr std::string_view kRegistryFileName = "QzRegistry.db";

class RegistryStore {
 public:
  // `path` names the database file; it is created by the first write.
  explicit RegistryStore(std::string path, int busy_timeout_ms = 5000);
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  const std::string& path() const { return path_; }

  // Opens an existing key under `key`; the empty path answers `key` itself.
  int32_t OpenKey(RegHandle key, std::string_view sub_key, RegHandle& opened);
  // Opens a key, creating it and every missing key along its path.
  int32_t CreateKey(RegHandle key, std::string_view sub_key, RegHandle& opened);
  // Closing a root key does nothing and succeeds.
  int32_t CloseKey(RegHandle key);

  // `capacity` is a buffer size in characters, its terminator included: a
  // value of capacity characters or more answers kRegMoreData.
  int32_t QueryValue(RegHandle key, std::string_view name, size_t capacity, std::string& data);
  int32_t SetValue(RegHandle key, std::string_view name, std::string_view data);
  // Name of sub-key `index` (from 0) of `key`, with the same buffer rule.
  int32_t EnumKey(RegHandle key, uint32_t index, size_t capacity, std::string& name);

  // Whole-key operations, each one transaction.
  using Values = std::vector<std::pair<std::string, std::string>>;
  // Creates `path` under `root` and replaces all of its values with `values`.
  int32_t ReplaceValues(RegHandle root, std::string_view path, const Values& values);
  // Every value of the key, in name order.
  int32_t ReadValues(RegHandle root, std::string_view path, Values& values);
  // Deletes the key with its values and every key below it.
  int32_t DeleteTree(RegHandle root, std::string_view path);

 private:
  struct KeyRef {
    RegHandle root;
    std::string path;  // stored spelling, names joined by "\"
  };

  // Caller holds mutex_. Opens the file on first use; `create` makes it.
  int32_t Connect(bool create);
  int32_t Resolve(RegHandle key, KeyRef& ref) const;
  int32_t Locate(RegHandle key, std::string_view sub_key, KeyRef& ref, bool& exists);
  RegHandle Remember(KeyRef ref);
  int32_t CreatePath(const KeyRef& base, const std::vector<std::string>& names, KeyRef& created);

  std::string path_;
  int busy_timeout_ms_;
  std::mutex mutex_;
  SqliteDb db_;
  // Prepared once per connection, keyed by their constant SQL text; after
  // db_, so they are finalized before it closes.
  std::map<const char*, SqliteStatement> statements_;
  std::map<RegHandle, KeyRef> open_keys_;
  RegHandle next_handle_ = 0x100;
};

}  // namespace qz
