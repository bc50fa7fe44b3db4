#include "host/gpkg/Sqlite.h"

#include <sqlite3.h>

#include "host/HostError.h"

namespace quilta::sqlite {

Connection Connection::open(const std::filesystem::path& path, const std::string& shown) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string cause = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    throw HostError("cannot open \"" + shown + "\": " + cause);
  }
  sqlite3_extended_result_codes(db, 1);
  return Connection(db);
}

Connection::Connection(Connection&& other) noexcept : db_(other.db_) { other.db_ = nullptr; }

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    if (db_) sqlite3_close_v2(db_);
    db_ = other.db_;
    other.db_ = nullptr;
  }
  return *this;
}

Connection::~Connection() {
  // An open transaction is rolled back by the close.
  if (db_) sqlite3_close_v2(db_);
}

void Connection::exec(const std::string& sql, const std::string& context) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string cause = error ? error : message();
    sqlite3_free(error);
    throw HostError(context + ": " + cause);
  }
}

std::string Connection::message() const { return sqlite3_errmsg(db_); }

int Connection::errorCode() const { return sqlite3_errcode(db_) & 0xFF; }

bool Connection::readOnly() const { return sqlite3_db_readonly(db_, "main") == 1; }

void Connection::setBusyTimeout(int milliseconds) { sqlite3_busy_timeout(db_, milliseconds); }

Statement::Statement(const Connection& db, const std::string& sql, const std::string& context)
    : db_(&db), context_(context) {
  if (sqlite3_prepare_v2(db.get(), sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
    std::string cause = db.message();
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    throw HostError(context + ": " + cause);
  }
}

Statement::Statement(Statement&& other) noexcept
    : stmt_(other.stmt_), db_(other.db_), context_(std::move(other.context_)) {
  other.stmt_ = nullptr;
}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    stmt_ = other.stmt_;
    db_ = other.db_;
    context_ = std::move(other.context_);
    other.stmt_ = nullptr;
  }
  return *this;
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

void Statement::bind(int index, const Value& value) {
  int rc = SQLITE_OK;
  if (const auto* i = std::get_if<std::int64_t>(&value)) {
    rc = sqlite3_bind_int64(stmt_, index, *i);
  } else if (const auto* d = std::get_if<double>(&value)) {
    rc = sqlite3_bind_double(stmt_, index, *d);
  } else if (const auto* s = std::get_if<std::string>(&value)) {
    rc = sqlite3_bind_text64(stmt_, index, s->data(), s->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  } else {
    rc = sqlite3_bind_null(stmt_, index);
  }
  if (rc != SQLITE_OK) throw HostError(context_ + ": " + db_->message());
}

bool Statement::step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  std::string cause = db_->message();
  sqlite3_reset(stmt_);
  throw HostError(context_ + ": " + cause);
}

void Statement::reset() { sqlite3_reset(stmt_); }

int Statement::columns() const { return sqlite3_column_count(stmt_); }

Value Statement::value(int index) const {
  switch (sqlite3_column_type(stmt_, index)) {
    case SQLITE_INTEGER: return Value(static_cast<std::int64_t>(sqlite3_column_int64(stmt_, index)));
    case SQLITE_FLOAT: return Value(sqlite3_column_double(stmt_, index));
    case SQLITE_NULL: return Value();
    default: return Value(text(index));
  }
}

std::int64_t Statement::integer(int index) const { return sqlite3_column_int64(stmt_, index); }

std::string Statement::text(int index) const {
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt_, index));
  const int size = sqlite3_column_bytes(stmt_, index);
  return bytes ? std::string(bytes, static_cast<std::size_t>(size)) : std::string();
}

bool Statement::isNull(int index) const { return sqlite3_column_type(stmt_, index) == SQLITE_NULL; }

std::string identifier(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace quilta::sqlite
