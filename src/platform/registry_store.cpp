#include "platform/registry_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/utf8.h"

namespace qz {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS reg_keys("
    " root INTEGER NOT NULL, path TEXT NOT NULL COLLATE NOCASE,"
    " parent TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL,"
    " PRIMARY KEY(root, path)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS reg_keys_parent ON reg_keys(root, parent, name COLLATE NOCASE);"
    "CREATE TABLE IF NOT EXISTS reg_values("
    " root INTEGER NOT NULL, path TEXT NOT NULL COLLATE NOCASE,"
    " name TEXT NOT NULL COLLATE NOCASE, data TEXT NOT NULL,"
    " PRIMARY KEY(root, path, name)) WITHOUT ROWID;";

int32_t FromSqlite(int code) {
  switch (code & 0xff) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return kRegOk;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kRegLocked;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return kRegCorrupt;
    default:
      return kRegIoFailed;
  }
}

using StatementCache = std::map<const char*, SqliteStatement>;

// One use of a cached prepared statement, parameters bound in order. It is
// reset when the use ends, so no read stays open on the file.
class Query {
 public:
  Query(StatementCache& cache, sqlite3* db, const char* sql) {
    SqliteStatement& cached = cache[sql];
    if (!cached) {
      sqlite3_stmt* raw = nullptr;
      status_ = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
      cached.reset(raw);
      if (status_ != SQLITE_OK) cache.erase(sql);
    }
    if (status_ == SQLITE_OK) statement_ = cache[sql].get();
  }
  ~Query() {
    if (statement_) {
      sqlite3_reset(statement_);
      sqlite3_clear_bindings(statement_);
    }
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;
  Query& Bind(int64_t value) {
    if (status_ == SQLITE_OK) status_ = sqlite3_bind_int64(statement_, ++index_, value);
    return *this;
  }
  Query& Bind(std::string_view text) {
    if (status_ == SQLITE_OK)
      status_ = sqlite3_bind_text64(statement_, ++index_, text.data(), text.size(),
                                    SQLITE_TRANSIENT, SQLITE_UTF8);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or the error.
  int Step() { return status_ == SQLITE_OK ? sqlite3_step(statement_) : status_; }
  // Runs a statement that answers no rows.
  int32_t Run() {
    int code = Step();
    return code == SQLITE_DONE ? kRegOk : FromSqlite(code);
  }
  std::string Text(int column) const {
    const auto* text = sqlite3_column_text(statement_, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              sqlite3_column_bytes(statement_, column))
                : std::string();
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
  int status_ = SQLITE_OK;
  int index_ = 0;
};

// A write transaction: the write lock is taken at the start (waiting up to
// the busy timeout), and anything not committed is rolled back.
class WriteTransaction {
 public:
  explicit WriteTransaction(sqlite3* db) : db_(db) {
    status_ = FromSqlite(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
  }
  ~WriteTransaction() {
    if (status_ == kRegOk && !committed_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  int32_t status() const { return status_; }
  int32_t Commit() {
    int32_t result = FromSqlite(sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr));
    committed_ = result == kRegOk;
    return result;
  }

 private:
  sqlite3* db_;
  int32_t status_;
  bool committed_ = false;
};

// Profiles hold credentials in their URLs, so the file is for its owner and
// group only. SQLite makes it, and its -wal and -shm with the same mode,
// under the daemon's umask; what an earlier run left open to others is
// tightened here. By name: a descriptor opened and closed here would drop
// SQLite's own locks on the file.
void KeepFromOthers(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) {
    const std::string name = path + suffix;
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & S_IRWXO) != 0)
      (void)::chmod(name.c_str(), st.st_mode & 07770);
  }
}

std::string ChildPath(std::string_view base, std::string_view rest) {
  if (base.empty()) return std::string(rest);
  if (rest.empty()) return std::string(base);
  return std::string(base) + "\\" + std::string(rest);
}

bool KeyExists(StatementCache& cache, sqlite3* db, RegHandle root, std::string_view path) {
  if (path.empty()) return true;
  Query q(cache, db, "SELECT 1 FROM reg_keys WHERE root = ?1 AND path = ?2");
  return q.Bind(root).Bind(path).Step() == SQLITE_ROW;
}

}  // namespace

std::string_view RegStatusText(int32_t status) {
  switch (status) {
    case kRegOk:
      return "The operation completed successfully";
    case kRegNotFound:
      return "The registry key or value does not exist";
    case kRegInvalidHandle:
      return "The registry key handle is invalid";
    case kRegLocked:
      return "The registry store is locked by another process; try again later";
    case kRegInvalidParameter:
      return "A registry name or value is invalid";
    case kRegBadPath:
      return "The registry key path is invalid (empty key name, leading \\ or a name too long)";
    case kRegMoreData:
      return "The registry data does not fit the buffer";
    case kRegNoMoreItems:
      return "No more registry keys";
    case kRegCorrupt:
      return "The registry store file is damaged or is no database; it was left as it is";
    case kRegIoFailed:
      return "The registry store file cannot be opened, read or written";
    default:
      return "Unknown registry status";
  }
}

constexpr int kSetupRetryMs = 10;

RegistryStore::RegistryStore(std::string path, int busy_timeout_ms)
    : path_(std::move(path)), busy_timeout_ms_(busy_timeout_ms) {}

RegistryStore::~RegistryStore() = default;

int32_t RegistryStore::Connect(bool create) {
  if (db_) return kRegOk;
  if (!create && ::access(path_.c_str(), F_OK) != 0) return kRegNotFound;
  KeepFromOthers(path_);
  sqlite3* raw = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  int code = sqlite3_open_v2(path_.c_str(), &raw, flags, nullptr);
  SqliteDb db(raw);
  if (code != SQLITE_OK)
    return code == SQLITE_CANTOPEN && !create ? kRegNotFound : FromSqlite(code);
  sqlite3_busy_timeout(db.get(), busy_timeout_ms_);
  // The first statements read the file header: a file that is no database
  // fails here, before anything is written to it.
  // Several processes opening a new file at once race to switch it to WAL
  // and create the tables; SQLite answers that race with BUSY at once,
  // without its busy handler, so the setup is tried again within the limit.
  for (int waited_ms = 0;; waited_ms += kSetupRetryMs) {
    code = sqlite3_exec(db.get(), "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (code == SQLITE_OK) code = sqlite3_exec(db.get(), kSchema, nullptr, nullptr, nullptr);
    if ((code != SQLITE_BUSY && code != SQLITE_LOCKED) || waited_ms >= busy_timeout_ms_) break;
    sqlite3_sleep(kSetupRetryMs);
  }
  if (code != SQLITE_OK) return FromSqlite(code);
  db_ = std::move(db);
  return kRegOk;
}

int32_t RegistryStore::Resolve(RegHandle key, KeyRef& ref) const {
  if (IsRootKey(key)) {
    ref = {key, {}};
    return kRegOk;
  }
  auto it = open_keys_.find(key);
  if (it == open_keys_.end()) return kRegInvalidHandle;
  ref = it->second;
  return kRegOk;
}

int32_t RegistryStore::Locate(RegHandle key, std::string_view sub_key, KeyRef& ref, bool& exists) {
  KeyRef base;
  if (int32_t status = Resolve(key, base); status != kRegOk) return status;
  auto names = SplitKeyPath(sub_key);
  if (!names) return kRegBadPath;
  ref = {base.root, ChildPath(base.path, JoinKeyPath(*names, names->size()))};
  if (ref.path.empty()) {
    exists = true;
    return kRegOk;
  }
  int32_t status = Connect(false);
  if (status == kRegNotFound) {
    exists = false;
    return kRegOk;
  }
  if (status != kRegOk) return status;
  exists = KeyExists(statements_, db_.get(), ref.root, ref.path);
  return kRegOk;
}

RegHandle RegistryStore::Remember(KeyRef ref) {
  RegHandle handle = next_handle_;
  next_handle_ += 4;
  if (next_handle_ >= kHkeyClassesRoot) next_handle_ = 0x100;
  open_keys_[handle] = std::move(ref);
  return handle;
}

int32_t RegistryStore::OpenKey(RegHandle key, std::string_view sub_key, RegHandle& opened) {
  std::lock_guard lock(mutex_);
  opened = 0;
  KeyRef ref;
  bool exists = false;
  if (int32_t status = Locate(key, sub_key, ref, exists); status != kRegOk) return status;
  if (!exists) return kRegNotFound;
  opened = ref.path.empty() ? key : Remember(std::move(ref));
  return kRegOk;
}

int32_t RegistryStore::CreatePath(const KeyRef& base, const std::vector<std::string>& names,
                                  KeyRef& created) {
  std::string path = base.path;
  for (const std::string& name : names) {
    std::string parent = path;
    path = ChildPath(parent, name);
    Query insert(statements_, db_.get(),
                 "INSERT OR IGNORE INTO reg_keys(root, path, parent, name) VALUES(?1, ?2, ?3, ?4)");
    if (int32_t status = insert.Bind(base.root).Bind(path).Bind(parent).Bind(name).Run();
        status != kRegOk)
      return status;
  }
  created = {base.root, path};
  return kRegOk;
}

int32_t RegistryStore::CreateKey(RegHandle key, std::string_view sub_key, RegHandle& opened) {
  std::lock_guard lock(mutex_);
  opened = 0;
  KeyRef base;
  if (int32_t status = Resolve(key, base); status != kRegOk) return status;
  auto names = SplitKeyPath(sub_key);
  if (!names) return kRegBadPath;
  if (names->empty()) {
    opened = key;
    return kRegOk;
  }
  if (int32_t status = Connect(true); status != kRegOk) return status;
  WriteTransaction transaction(db_.get());
  if (transaction.status() != kRegOk) return transaction.status();
  if (!KeyExists(statements_, db_.get(), base.root, base.path)) return kRegNotFound;
  KeyRef created;
  if (int32_t status = CreatePath(base, *names, created); status != kRegOk) return status;
  if (int32_t status = transaction.Commit(); status != kRegOk) return status;
  opened = Remember(std::move(created));
  return kRegOk;
}

int32_t RegistryStore::CloseKey(RegHandle key) {
  std::lock_guard lock(mutex_);
  if (IsRootKey(key)) return kRegOk;
  return open_keys_.erase(key) ? kRegOk : kRegInvalidHandle;
}

int32_t RegistryStore::QueryValue(RegHandle key, std::string_view name, size_t capacity,
                                  std::string& data) {
  std::lock_guard lock(mutex_);
  KeyRef ref;
  if (int32_t status = Resolve(key, ref); status != kRegOk) return status;
  if (int32_t status = Connect(false); status != kRegOk) return status;
  Query q(statements_, db_.get(),
          "SELECT data FROM reg_values WHERE root = ?1 AND path = ?2 AND name = ?3");
  int code = q.Bind(ref.root).Bind(ref.path).Bind(name).Step();
  if (code == SQLITE_DONE) return kRegNotFound;
  if (code != SQLITE_ROW) return FromSqlite(code);
  std::string found = q.Text(0);
  if (Utf8Length(found) + 1 > capacity) return kRegMoreData;
  data = std::move(found);
  return kRegOk;
}

int32_t RegistryStore::SetValue(RegHandle key, std::string_view name, std::string_view data) {
  std::lock_guard lock(mutex_);
  KeyRef ref;
  if (int32_t status = Resolve(key, ref); status != kRegOk) return status;
  if (int32_t status = Connect(true); status != kRegOk) return status;
  WriteTransaction transaction(db_.get());
  if (transaction.status() != kRegOk) return transaction.status();
  if (!KeyExists(statements_, db_.get(), ref.root, ref.path))
    return kRegNotFound;  // deleted since it was opened
  Query q(statements_, db_.get(),
          "INSERT OR REPLACE INTO reg_values(root, path, name, data) VALUES(?1, ?2, ?3, ?4)");
  if (int32_t status = q.Bind(ref.root).Bind(ref.path).Bind(name).Bind(data).Run();
      status != kRegOk)
    return status;
  return transaction.Commit();
}

int32_t RegistryStore::EnumKey(RegHandle key, uint32_t index, size_t capacity, std::string& name) {
  std::lock_guard lock(mutex_);
  KeyRef ref;
  if (int32_t status = Resolve(key, ref); status != kRegOk) return status;
  int32_t status = Connect(false);
  if (status == kRegNotFound) return kRegNoMoreItems;
  if (status != kRegOk) return status;
  Query q(statements_, db_.get(),
          "SELECT name FROM reg_keys WHERE root = ?1 AND parent = ?2"
          " ORDER BY name COLLATE NOCASE, name LIMIT 1 OFFSET ?3");
  int code = q.Bind(ref.root).Bind(ref.path).Bind(int64_t{index}).Step();
  if (code == SQLITE_DONE) return kRegNoMoreItems;
  if (code != SQLITE_ROW) return FromSqlite(code);
  std::string found = q.Text(0);
  if (Utf8Length(found) + 1 > capacity) return kRegMoreData;
  name = std::move(found);
  return kRegOk;
}

int32_t RegistryStore::ReplaceValues(RegHandle root, std::string_view path, const Values& values) {
  std::lock_guard lock(mutex_);
  if (!IsRootKey(root)) return kRegInvalidHandle;
  auto names = SplitKeyPath(path);
  if (!names) return kRegBadPath;
  if (int32_t status = Connect(true); status != kRegOk) return status;
  WriteTransaction transaction(db_.get());
  if (transaction.status() != kRegOk) return transaction.status();
  KeyRef key;
  if (int32_t status = CreatePath({root, {}}, *names, key); status != kRegOk) return status;
  Query clear(statements_, db_.get(), "DELETE FROM reg_values WHERE root = ?1 AND path = ?2");
  if (int32_t status = clear.Bind(root).Bind(key.path).Run(); status != kRegOk) return status;
  for (const auto& [name, data] : values) {
    Query insert(
        statements_, db_.get(),
        "INSERT OR REPLACE INTO reg_values(root, path, name, data) VALUES(?1, ?2, ?3, ?4)");
    if (int32_t status = insert.Bind(root).Bind(key.path).Bind(name).Bind(data).Run();
        status != kRegOk)
      return status;
  }
  return transaction.Commit();
}

int32_t RegistryStore::ReadValues(RegHandle root, std::string_view path, Values& values) {
  std::lock_guard lock(mutex_);
  values.clear();
  if (!IsRootKey(root)) return kRegInvalidHandle;
  auto names = SplitKeyPath(path);
  if (!names) return kRegBadPath;
  if (int32_t status = Connect(false); status != kRegOk) return status;
  std::string joined = JoinKeyPath(*names, names->size());
  if (!KeyExists(statements_, db_.get(), root, joined)) return kRegNotFound;
  Query q(statements_, db_.get(),
          "SELECT name, data FROM reg_values WHERE root = ?1 AND path = ?2 ORDER BY name COLLATE "
          "NOCASE");
  q.Bind(root).Bind(joined);
  int code;
  while ((code = q.Step()) == SQLITE_ROW) values.emplace_back(q.Text(0), q.Text(1));
  return code == SQLITE_DONE ? kRegOk : FromSqlite(code);
}

int32_t RegistryStore::DeleteTree(RegHandle root, std::string_view path) {
  std::lock_guard lock(mutex_);
  if (!IsRootKey(root)) return kRegInvalidHandle;
  auto names = SplitKeyPath(path);
  if (!names) return kRegBadPath;
  if (names->empty()) return kRegInvalidParameter;  // a root key is never deleted
  if (int32_t status = Connect(false); status != kRegOk) return status;
  std::string joined = JoinKeyPath(*names, names->size());
  WriteTransaction transaction(db_.get());
  if (transaction.status() != kRegOk) return transaction.status();
  if (!KeyExists(statements_, db_.get(), root, joined)) return kRegNotFound;
  for (const char* sql : {"DELETE FROM reg_keys WHERE root = ?1 AND (path = ?2 OR"
                          " substr(path, 1, length(?2) + 1) = ?2 || '\\' COLLATE NOCASE)",
                          "DELETE FROM reg_values WHERE root = ?1 AND (path = ?2 OR"
                          " substr(path, 1, length(?2) + 1) = ?2 || '\\' COLLATE NOCASE)"}) {
    Query q(statements_, db_.get(), sql);
    if (int32_t status = q.Bind(root).Bind(joined).Run(); status != kRegOk) return status;
  }
  return transaction.Commit();
}

}  // namespace qz
