// Owning holders for SQLite's C handles: a connection closes and a prepared
// statement finalizes when its holder goes out of scope, on every path.
// Move-only; a holder is used by one thread at a time, like its handle.
#pragma once

#include <sqlite3.h>

#include <memory>

namespace qz {

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct SqliteFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

using SqliteDb = std::unique_ptr<sqlite3, SqliteCloser>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

}  // namespace qz
