// One connection to a PostgreSQL server through libpq, and the results of
// its statements, each freed by its holder on every path. Errors never
// throw: a failed statement answers a result that is not ok() with libpq's
// message. Parameters travel as text; a bytea goes in as hex text
// (decode($n, 'hex') in the statement) and comes out through Bytes().
// A connection is used by one thread at a time.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace qz {

class PgResult {
 public:
  PgResult() = default;
  PgResult(PGresult* result, std::string error);

  // The statement ran: a command, or a query with its rows.
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }  // empty when ok
  // The SQLSTATE code of a failure reported by the server; empty otherwise.
  std::string sqlstate() const;
  int rows() const;
  bool null(int row, int column) const;
  std::string value(int row, int column) const;  // "" for NULL
  int64_t Int(int row, int column) const;        // 0 for NULL or non-numbers
  // A bytea column in the server's hex output ("\x…"), as its bytes.
  std::string Bytes(int row, int column) const;

 private:
  struct Clear {
    void operator()(PGresult* result) const { PQclear(result); }
  };
  std::unique_ptr<PGresult, Clear> result_;
  std::string error_;
};

class PgConnection {
 public:
  // Connects to `conninfo` (keywords or a postgresql:// URL), giving up
  // after `connect_timeout_s` unless `conninfo` says otherwise. Null, with
  // `status` carrying libpq's message, when it cannot.
  static std::unique_ptr<PgConnection> Open(const std::string& conninfo, Status& status,
                                            int connect_timeout_s = 2);

  PgResult Exec(const std::string& sql);
  // `params` as $1, $2, …: text, or NULL for nullopt.
  PgResult ExecParams(const std::string& sql, std::span<const std::optional<std::string>> params);
  // As ExecParams, for a statement prepared once per connection under
  // `name` (planned once, not at each call).
  PgResult ExecPrepared(const std::string& name, const std::string& sql,
                        std::span<const std::optional<std::string>> params);
  bool Connected() const;
  // Connects again after the server went away; true once connected.
  bool Reset();
  std::string error() const;  // libpq's latest message, one line

 private:
  struct Finish {
    void operator()(PGconn* connection) const { PQfinish(connection); }
  };
  struct Made {};  // only Open() makes one

 public:
  PgConnection(Made, PGconn* connection) : connection_(connection) {}

 private:
  PgResult Take(PGresult* result);

  std::unique_ptr<PGconn, Finish> connection_;
  std::set<std::string> prepared_;
};

// Hex text of `bytes`, for decode($n, 'hex').
std::string PgHex(std::string_view bytes);
// A text[] literal of `items`, each quoted.
std::string PgTextArray(std::span<const std::string> items);

}  // namespace qz
