#pragma once
// A thin owner of libpq handles for the PostgreSQL store: a connection,
// results, parameters bound in binary form and COPY in binary form. Failures
// become HostError with the server's message. Private to host/.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/Value.h"

struct pg_conn;
struct pg_result;

namespace quilta::pg {

class Result {
 public:
  explicit Result(pg_result* result) : result_(result) {}
  Result(Result&&) noexcept;
  Result& operator=(Result&&) noexcept;
  ~Result();

  // True for a command that succeeded (with or without rows).
  bool ok() const;
  // The server's message and SQLSTATE code ("55P03") of a failure.
  std::string message() const;
  std::string sqlState() const;
  std::string commandStatus() const;

  int rows() const;
  bool isNull(int row, int column) const;
  std::string text(int row, int column) const;

 private:
  pg_result* result_ = nullptr;
};

class Connection {
 public:
  // Connects with libpq connection parameters ("dbname=... host=..."); the
  // session is set up for UTF-8 text and doubles written back exactly.
  // Throws HostError naming `shown` and libpq's cause.
  static Connection connect(const std::string& parameters, const std::string& shown);

  Connection(Connection&&) noexcept;
  Connection& operator=(Connection&&) noexcept;
  // Closing drops a transaction still open: the server rolls it back.
  ~Connection();

  // Runs `sql` with `parameters` ($1, $2, ...): whole numbers as int8 and
  // doubles as float8 in binary form (bit for bit), texts as text, NULL.
  Result run(const std::string& sql, const std::vector<Value>& parameters = {});
  // The same, throwing HostError "`context`: message" on failure.
  Result exec(const std::string& sql, const std::string& context, const std::vector<Value>& parameters = {});
  // Runs a COPY ... FROM STDIN and sends `data`. Throws HostError.
  void copyIn(const std::string& sql, const std::string& data, const std::string& context);

  // `name` as a quoted SQL identifier.
  std::string identifier(const std::string& name) const;
  // True when no transaction is open; inTransaction() when one is open and
  // has not failed.
  bool idle() const;
  bool inTransaction() const;
  // The database and the user of the session.
  std::string database() const;
  std::string user() const;

 private:
  explicit Connection(pg_conn* conn) : conn_(conn) {}
  pg_conn* conn_ = nullptr;
};

// Builds the rows of a binary COPY: one tuple after another, then data().
class BinaryCopy {
 public:
  BinaryCopy();
  // Starts a tuple of `fields` fields.
  void tuple(int fields);
  void addNull();
  void addInt8(std::int64_t v);
  void addFloat8(double v);
  void addText(const std::string& v);
  // The whole COPY data, trailer included.
  std::string data() const;

 private:
  std::string bytes_;
};

// The connection parameters as users write them, without a password.
std::string withoutPassword(const std::string& parameters);

}  // namespace quilta::pg
