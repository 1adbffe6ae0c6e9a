#include "platform/pg_connection.h"

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace qz {

namespace {

// libpq's messages end with a newline and may span lines; the daemon's
// lines are one line each.
std::string OneLine(const char* message) {
  std::string line;
  for (const char* c = message ? message : ""; *c; ++c) {
    const bool blank = *c == '\n' || *c == '\t' || *c == ' ';
    if (!blank) {
      line += *c;
    } else if (!line.empty() && line.back() != ' ') {
      line += ' ';
    }
  }
  if (!line.empty() && line.back() == ' ') line.pop_back();
  return line.empty() ? "no answer from the database" : line;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

PgResult::PgResult(PGresult* result, std::string error)
    : result_(result), error_(std::move(error)) {}

std::string PgResult::sqlstate() const {
  const char* code = result_ ? PQresultErrorField(result_.get(), PG_DIAG_SQLSTATE) : nullptr;
  return code ? code : "";
}

int PgResult::rows() const { return result_ && ok() ? PQntuples(result_.get()) : 0; }

bool PgResult::null(int row, int column) const {
  return row >= rows() || column >= PQnfields(result_.get()) ||
         PQgetisnull(result_.get(), row, column);
}

std::string PgResult::value(int row, int column) const {
  if (null(row, column)) return {};
  return {PQgetvalue(result_.get(), row, column),
          static_cast<size_t>(PQgetlength(result_.get(), row, column))};
}

int64_t PgResult::Int(int row, int column) const {
  if (null(row, column)) return 0;
  return std::strtoll(PQgetvalue(result_.get(), row, column), nullptr, 10);
}

std::string PgResult::Bytes(int row, int column) const {
  const std::string text = value(row, column);
  if (!text.starts_with("\\x")) return text;
  std::string bytes;
  bytes.reserve((text.size() - 2) / 2);
  for (size_t i = 2; i + 1 < text.size(); i += 2)
    bytes.push_back(static_cast<char>(HexDigitValue(text[i]) * 16 + HexDigitValue(text[i + 1])));
  return bytes;
}

std::unique_ptr<PgConnection> PgConnection::Open(const std::string& conninfo, Status& status,
                                                 int connect_timeout_s) {
  // The defaults come first: the same keywords in `conninfo`, expanded in
  // place of dbname, override them. Over TCP a server that vanished without
  // closing (a dead host, a partition) is noticed within about half a
  // minute, so no call waits on it for the kernel's own minutes.
  const std::string timeout = std::to_string(connect_timeout_s);
  const char* keywords[] = {"connect_timeout",
                            "keepalives_idle",
                            "keepalives_interval",
                            "keepalives_count",
                            "tcp_user_timeout",
                            "dbname",
                            nullptr};
  const char* values[] = {timeout.c_str(), "10", "5", "3", "20000", conninfo.c_str(), nullptr};
  auto connection = std::make_unique<PgConnection>(
      Made{}, PQconnectdbParams(keywords, values, /*expand_dbname=*/1));
  if (!connection->connection_) {
    status = Status::IoError("out of memory connecting to the database");
    return nullptr;
  }
  // The server's notices ("already exists, skipping") are not errors.
  PQsetNoticeProcessor(
      connection->connection_.get(), [](void*, const char*) {}, nullptr);
  if (!connection->Connected()) {
    status = Status::IoError(connection->error());
    return nullptr;
  }
  status = Status();
  return connection;
}

PgResult PgConnection::Take(PGresult* result) {
  const ExecStatusType state = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
  if (state == PGRES_COMMAND_OK || state == PGRES_TUPLES_OK) return PgResult(result, {});
  return PgResult(
      result, OneLine(result && *PQresultErrorMessage(result) ? PQresultErrorMessage(result)
                                                              : PQerrorMessage(connection_.get())));
}

PgResult PgConnection::Exec(const std::string& sql) {
  return Take(PQexec(connection_.get(), sql.c_str()));
}

PgResult PgConnection::ExecParams(const std::string& sql,
                                  std::span<const std::optional<std::string>> params) {
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const auto& param : params) values.push_back(param ? param->c_str() : nullptr);
  return Take(PQexecParams(connection_.get(), sql.c_str(), static_cast<int>(values.size()), nullptr,
                           values.data(), nullptr, nullptr, /*resultFormat=*/0));
}

PgResult PgConnection::ExecPrepared(const std::string& name, const std::string& sql,
                                    std::span<const std::optional<std::string>> params) {
  if (!prepared_.contains(name)) {
    PgResult prepared = Take(PQprepare(connection_.get(), name.c_str(), sql.c_str(), 0, nullptr));
    if (!prepared.ok()) return prepared;
    prepared_.insert(name);
  }
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const auto& param : params) values.push_back(param ? param->c_str() : nullptr);
  return Take(PQexecPrepared(connection_.get(), name.c_str(), static_cast<int>(values.size()),
                             values.data(), nullptr, nullptr, /*resultFormat=*/0));
}

bool PgConnection::Connected() const { return PQstatus(connection_.get()) == CONNECTION_OK; }

bool PgConnection::Reset() {
  PQreset(connection_.get());
  prepared_.clear();  // a new session
  return Connected();
}

std::string PgConnection::error() const { return OneLine(PQerrorMessage(connection_.get())); }

std::string PgHex(std::string_view bytes) {
  static constexpr char kPgHexDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    hex.push_back(kPgHexDigits[c >> 4]);
    hex.push_back(kPgHexDigits[c & 15]);
  }
  return hex;
}

std::string PgTextArray(std::span<const std::string> items) {
  std::string literal = "{";
  for (const std::string& item : items) {
    if (literal.size() > 1) literal += ',';
    literal += '"';
    for (char c : item) {
      if (c == '"' || c == '\\') literal += '\\';
      literal += c;
    }
    literal += '"';
  }
  return literal + "}";
}

}  // namespace qz
