#include "host/postgres/Pg.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstring>
#include <regex>

#include "host/HostError.h"

namespace quilta::pg {
namespace {

// Type identifiers of the parameters bound (the server's catalogue numbers).
constexpr Oid kInt8 = 20;
constexpr Oid kText = 25;
constexpr Oid kFloat8 = 701;

void putBigEndian(std::string& out, std::uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string trimmed(std::string message) {
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  return message;
}

}  // namespace

Result::Result(Result&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }

Result& Result::operator=(Result&& other) noexcept {
  if (this != &other) {
    PQclear(result_);
    result_ = other.result_;
    other.result_ = nullptr;
  }
  return *this;
}

Result::~Result() { PQclear(result_); }

bool Result::ok() const {
  const ExecStatusType s = PQresultStatus(result_);
  return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK || s == PGRES_COPY_IN;
}

std::string Result::message() const {
  const char* m = PQresultErrorField(result_, PG_DIAG_MESSAGE_PRIMARY);
  return trimmed(m ? m : PQresultErrorMessage(result_));
}

std::string Result::sqlState() const {
  const char* s = PQresultErrorField(result_, PG_DIAG_SQLSTATE);
  return s ? s : "";
}

std::string Result::commandStatus() const { return PQcmdStatus(result_); }

int Result::rows() const { return PQntuples(result_); }

bool Result::isNull(int row, int column) const { return PQgetisnull(result_, row, column) == 1; }

std::string Result::text(int row, int column) const {
  return std::string(PQgetvalue(result_, row, column), static_cast<std::size_t>(PQgetlength(result_, row, column)));
}

Connection Connection::connect(const std::string& parameters, const std::string& shown) {
  const char* keywords[] = {"dbname", "fallback_application_name", nullptr};
  const char* values[] = {parameters.c_str(), "quilta", nullptr};
  PGconn* conn = PQconnectdbParams(keywords, values, 1);
  if (!conn) throw HostError("cannot connect to \"" + shown + "\": out of memory");
  if (PQstatus(conn) != CONNECTION_OK) {
    std::string cause = trimmed(PQerrorMessage(conn));
    PQfinish(conn);
    throw HostError("cannot connect to \"" + shown + "\": " + cause);
  }
  // The server's notices are not for the user's terminal.
  PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
  Connection c(conn);
  c.exec("SET client_encoding TO 'UTF8'; SET extra_float_digits TO 3; SET datestyle TO 'ISO'",
         "cannot set up the session with \"" + shown + "\"");
  return c;
}

Connection::Connection(Connection&& other) noexcept : conn_(other.conn_) { other.conn_ = nullptr; }

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    if (conn_) PQfinish(conn_);
    conn_ = other.conn_;
    other.conn_ = nullptr;
  }
  return *this;
}

Connection::~Connection() {
  if (conn_) PQfinish(conn_);
}

Result Connection::run(const std::string& sql, const std::vector<Value>& parameters) {
  if (parameters.empty()) return Result(PQexec(conn_, sql.c_str()));
  const auto n = parameters.size();
  std::vector<Oid> types(n, 0);
  std::vector<std::string> storage(n);
  std::vector<const char*> values(n, nullptr);
  std::vector<int> lengths(n, 0), formats(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const Value& v = parameters[i];
    if (const auto* whole = std::get_if<std::int64_t>(&v)) {
      putBigEndian(storage[i], static_cast<std::uint64_t>(*whole), 8);
      types[i] = kInt8;
      formats[i] = 1;
    } else if (const auto* d = std::get_if<double>(&v)) {
      std::uint64_t bits;
      std::memcpy(&bits, d, 8);
      putBigEndian(storage[i], bits, 8);
      types[i] = kFloat8;
      formats[i] = 1;
    } else if (const auto* s = std::get_if<std::string>(&v)) {
      storage[i] = *s;
      types[i] = kText;
    } else {
      continue;  // NULL
    }
    values[i] = storage[i].data();
    lengths[i] = static_cast<int>(storage[i].size());
  }
  return Result(PQexecParams(conn_, sql.c_str(), static_cast<int>(n), types.data(), values.data(), lengths.data(),
                             formats.data(), 0));
}

Result Connection::exec(const std::string& sql, const std::string& context, const std::vector<Value>& parameters) {
  Result r = run(sql, parameters);
  if (!r.ok()) throw HostError(context + ": " + (r.message().empty() ? trimmed(PQerrorMessage(conn_)) : r.message()));
  return r;
}

void Connection::copyIn(const std::string& sql, const std::string& data, const std::string& context) {
  Result start = run(sql);
  if (!start.ok()) throw HostError(context + ": " + start.message());
  // Sent in pieces so that a large table does not need one more copy.
  constexpr std::size_t kPiece = 1 << 20;
  for (std::size_t at = 0; at < data.size(); at += kPiece) {
    const std::size_t size = std::min(kPiece, data.size() - at);
    if (PQputCopyData(conn_, data.data() + at, static_cast<int>(size)) != 1) {
      PQputCopyEnd(conn_, "send failed");
      while (PGresult* r = PQgetResult(conn_)) PQclear(r);
      throw HostError(context + ": " + trimmed(PQerrorMessage(conn_)));
    }
  }
  if (PQputCopyEnd(conn_, nullptr) != 1) throw HostError(context + ": " + trimmed(PQerrorMessage(conn_)));
  std::string failure;
  while (PGresult* raw = PQgetResult(conn_)) {
    Result r(raw);
    if (!r.ok() && failure.empty()) failure = r.message();
  }
  if (!failure.empty()) throw HostError(context + ": " + failure);
}

std::string Connection::identifier(const std::string& name) const {
  char* quoted = PQescapeIdentifier(conn_, name.c_str(), name.size());
  if (!quoted) throw HostError("cannot quote the name \"" + name + "\": " + trimmed(PQerrorMessage(conn_)));
  std::string out(quoted);
  PQfreemem(quoted);
  return out;
}

bool Connection::idle() const { return PQtransactionStatus(conn_) == PQTRANS_IDLE; }

bool Connection::inTransaction() const { return PQtransactionStatus(conn_) == PQTRANS_INTRANS; }

std::string Connection::database() const { return PQdb(conn_); }

std::string Connection::user() const { return PQuser(conn_); }

BinaryCopy::BinaryCopy() {
  static const char signature[] = "PGCOPY\n\377\r\n";
  bytes_.assign(signature, 11);  // the signature ends with a zero byte
  putBigEndian(bytes_, 0, 4);    // flags
  putBigEndian(bytes_, 0, 4);    // no header extension
}

void BinaryCopy::tuple(int fields) { putBigEndian(bytes_, static_cast<std::uint64_t>(fields), 2); }

void BinaryCopy::addNull() { putBigEndian(bytes_, 0xFFFFFFFFu, 4); }

void BinaryCopy::addInt8(std::int64_t v) {
  putBigEndian(bytes_, 8, 4);
  putBigEndian(bytes_, static_cast<std::uint64_t>(v), 8);
}

void BinaryCopy::addFloat8(double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, 8);
  putBigEndian(bytes_, 8, 4);
  putBigEndian(bytes_, bits, 8);
}

void BinaryCopy::addText(const std::string& v) {
  putBigEndian(bytes_, v.size(), 4);
  bytes_ += v;
}

std::string BinaryCopy::data() const {
  std::string out = bytes_;
  putBigEndian(out, 0xFFFF, 2);  // the trailer: a tuple of -1 fields
  return out;
}

std::string withoutPassword(const std::string& parameters) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(parameters.c_str(), &error);
  if (!options) {
    PQfreemem(error);
    return std::regex_replace(parameters, std::regex(R"(password\s*=\s*('([^'\\]|\\.)*'|\S+))"), "");
  }
  std::string out;
  for (PQconninfoOption* o = options; o->keyword; ++o) {
    if (!o->val || std::strcmp(o->keyword, "password") == 0) continue;
    out += (out.empty() ? "" : " ") + std::string(o->keyword) + "=" + o->val;
  }
  PQconninfoFree(options);
  return out;
}

}  // namespace quilta::pg
