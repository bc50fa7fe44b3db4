#pragma once
// A thin owner of SQLite handles for the GeoPackage store: a connection and
// prepared statements, failures as HostError with SQLite's message. Private
// to host/.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "host/Value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace quilta::sqlite {

class Connection {
 public:
  // Opens an existing database file for reading and writing, or for reading
  // only when the system does not let it be written. Nothing is created.
  // Throws HostError naming `shown`.
  static Connection open(const std::filesystem::path& path, const std::string& shown);

  Connection(Connection&&) noexcept;
  Connection& operator=(Connection&&) noexcept;
  ~Connection();

  sqlite3* get() const { return db_; }
  // Runs statements without results. Throws HostError "`context`: message".
  void exec(const std::string& sql, const std::string& context);
  // SQLite's message and primary result code (SQLITE_BUSY, ...) for the
  // last failure.
  std::string message() const;
  int errorCode() const;
  // True when the file could be opened for reading only.
  bool readOnly() const;
  // How long a statement waits for another connection's lock before failing.
  void setBusyTimeout(int milliseconds);

 private:
  explicit Connection(sqlite3* db) : db_(db) {}
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  // Throws HostError "`context`: message" when `sql` cannot be prepared.
  Statement(const Connection& db, const std::string& sql, const std::string& context);
  Statement(Statement&&) noexcept;
  Statement& operator=(Statement&&) noexcept;
  ~Statement();

  // Binds parameter `index` (from 1): NULL, a whole number, a double (bit
  // for bit) or UTF-8 text (copied).
  void bind(int index, const Value& value);
  // Runs one step: true when a row is there to read, false when done. Throws
  // HostError with SQLite's message and resets the statement on failure.
  bool step();
  void reset();

  int columns() const;
  // The value of column `index` (from 0) of the current row as stored:
  // NULL, a whole number, a double, or text (a blob comes as its bytes).
  Value value(int index) const;
  std::int64_t integer(int index) const;
  std::string text(int index) const;
  bool isNull(int index) const;

 private:
  sqlite3_stmt* stmt_ = nullptr;
  const Connection* db_ = nullptr;
  std::string context_;
};

// `name` as a quoted SQL identifier ("a""b").
std::string identifier(const std::string& name);

}  // namespace quilta::sqlite
