#include "host/postgres/PostgresStore.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>

#include "host/HostError.h"

namespace quilta {
namespace {

// The columns' types by the server's type names.
SqlColumn columnOf(const std::string& name, const std::string& type, int typmod, const std::string& declared) {
  SqlColumn c(name, declared);
  if (type == "int2") {
    c.holdIntegers(kSmallInteger, -32768, 32767);
  } else if (type == "int4") {
    c.holdIntegers(kLong, INT32_MIN, INT32_MAX);
  } else if (type == "int8") {
    c.holdIntegers(kLong, INT64_MIN, INT64_MAX);
  } else if (type == "float4") {
    c.holdReals(kSingle, FLT_MAX);
  } else if (type == "float8") {
    c.holdReals(kDouble);
  } else if (type == "numeric") {
    c.holdReals(kDouble);
    if (typmod >= 4) {
      // Precision and scale as a dBASE N(width, decimals) column.
      const int precision = ((typmod - 4) >> 16) & 0xFFFF;
      const int scale = (typmod - 4) & 0x7FF;
      c.info.length = precision;
      c.info.precision = scale;
      c.integerDigits = precision - scale;
      if (scale == 0 && precision <= 18) {
        std::int64_t limit = 1;
        for (int i = 0; i < precision; ++i) limit *= 10;
        c.holdIntegers(precision <= 4 ? kSmallInteger : precision <= 9 ? kLong : kDouble, -(limit - 1), limit - 1);
      }
    }
  } else if (type == "varchar" || type == "bpchar") {
    c.holdTexts(typmod > 4 ? typmod - 4 : 0);
  } else if (type == "text" || type == "name" || type == "citext") {
    c.holdTexts(0);
  } else if (type == "date") {
    c.holdOther(kDate);
  } else {
    c.holdOther(kText);
  }
  return c;
}

// The value of a column from its text form.
Value hostValue(const SqlColumn& c, std::string text, bool blankPadded) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (c.storage == SqlColumn::Storage::Integer) {
    std::int64_t whole = 0;
    if (auto [end, ec] = std::from_chars(first, last, whole); ec == std::errc() && end == last) return whole;
  }
  if (c.storage == SqlColumn::Storage::Integer || c.storage == SqlColumn::Storage::Real) {
    double real = 0;
    if (auto [end, ec] = std::from_chars(first, last, real, std::chars_format::general);
        ec == std::errc() && end == last)
      return real;
  }
  if (blankPadded)
    while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// "schema.table" or "table", either part in double quotes if it must be.
std::vector<std::string> nameParts(const std::string& layer) {
  std::vector<std::string> parts(1);
  bool quoted = false;
  for (std::size_t i = 0; i < layer.size(); ++i) {
    const char ch = layer[i];
    if (ch == '"') {
      if (quoted && i + 1 < layer.size() && layer[i + 1] == '"') {
        parts.back() += '"';
        ++i;
      } else {
        quoted = !quoted;
      }
    } else if (ch == '.' && !quoted) {
      parts.emplace_back();
    } else {
      parts.back() += ch;
    }
  }
  if (quoted || parts.size() > 2 || parts.back().empty() || parts.front().empty())
    throw HostError("\"" + layer + "\" is not a table name (schema.table)");
  return parts;
}

std::string shownConnection(const std::string& parameters) { return "PG:" + pg::withoutPassword(parameters); }

const std::string kPolygonTypes =
    "('POLYGON', 'MULTIPOLYGON', 'CURVEPOLYGON', 'MULTISURFACE', 'POLYGONM', 'MULTIPOLYGONM', 'CURVEPOLYGONM', "
    "'MULTISURFACEM')";

}  // namespace

std::vector<std::string> PostgresStore::polygonTables(const std::string& parameters) {
  const std::string shown = shownConnection(parameters);
  pg::Connection db = pg::Connection::connect(parameters, shown);
  pg::Result r = db.exec("SELECT DISTINCT f_table_schema::text, f_table_name::text FROM geometry_columns WHERE "
                         "upper(type) IN " + kPolygonTypes + " ORDER BY 1, 2",
                         "cannot list the tables of \"" + shown + "\"");
  std::vector<std::string> names;
  for (int i = 0; i < r.rows(); ++i) names.push_back(r.text(i, 0) + "." + r.text(i, 1));
  return names;
}

std::unique_ptr<PostgresStore> PostgresStore::open(const std::string& parameters, const std::string& layer,
                                                   bool readOnly) {
  const std::string shown = shownConnection(parameters);
  pg::Connection db = pg::Connection::connect(parameters, shown);
  const std::vector<std::string> parts = nameParts(layer);
  const std::string context = "cannot read the table \"" + layer + "\" of \"" + shown + "\"";
  const std::string select =
      "SELECT c.oid::text, n.nspname::text, c.relname::text FROM pg_class c JOIN pg_namespace n ON n.oid = "
      "c.relnamespace WHERE c.relkind IN ('r', 'p') AND ";
  auto find = [&](const char* compare) {
    std::string sql = parts.size() == 1 ? select + "pg_table_is_visible(c.oid) AND " + compare + "(c.relname) = " +
                                              compare + "($1)"
                                        : select + compare + "(n.nspname) = " + compare + "($1) AND " + compare +
                                              "(c.relname) = " + compare + "($2)";
    std::vector<Value> values(parts.begin(), parts.end());
    return db.exec(sql, context, values);
  };
  pg::Result found = find("");
  if (found.rows() == 0) found = find("lower");  // a name given in another letter case
  if (found.rows() != 1)
    throw HostError("\"" + shown + "\" has " + (found.rows() == 0 ? "no table" : "several tables called") + " \"" +
                    layer + "\"");
  const std::string oid = found.text(0, 0), schema = found.text(0, 1), table = found.text(0, 2);

  pg::Result key = db.exec(
      "SELECT a.attname::text, t.typname::text FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid AND "
      "a.attnum = ANY(i.indkey) JOIN pg_type t ON t.oid = a.atttypid WHERE i.indrelid = $1::text::oid AND "
      "i.indisprimary",
      context, {oid});
  const std::string keyType = key.rows() == 1 ? key.text(0, 1) : "";
  if (keyType != "int2" && keyType != "int4" && keyType != "int8")
    throw HostError("the table " + schema + "." + table + " of \"" + shown +
                    "\" has no primary key of one whole-number column, by whose order its features are numbered");

  pg::Result geometry = db.exec(
      "SELECT f_geometry_column::text, upper(type) IN " + kPolygonTypes +
          " FROM geometry_columns WHERE f_table_schema = $1 AND f_table_name = $2 ORDER BY 2 DESC, 1",
      context, {schema, table});
  if (geometry.rows() == 0)
    throw HostError("the table " + schema + "." + table + " of \"" + shown + "\" has no geometry column");

  std::unique_ptr<PostgresStore> store(new PostgresStore(std::move(db), shown, oid, schema, table, key.text(0, 0),
                                                         geometry.text(0, 0), readOnly));
  store->adopt(store->readTable());
  return store;
}

PostgresStore::PostgresStore(pg::Connection db, std::string shown, std::string oid, std::string schema,
                             std::string table, std::string key, std::string geometry, bool readOnly)
    : SqlTableStore("the table " + schema + "." + table + " of \"" + shown + "\"", readOnly),
      db_(std::move(db)),
      shown_(std::move(shown)),
      oid_(std::move(oid)),
      schema_(std::move(schema)),
      table_(std::move(table)),
      key_(std::move(key)),
      geometry_(std::move(geometry)) {
  qualified_ = db_.identifier(schema_) + "." + db_.identifier(table_);
}

std::vector<SqlColumn> PostgresStore::readColumns() {
  pg::Result r = db_.exec(
      "SELECT a.attname::text, t.typname::text, a.atttypmod, format_type(a.atttypid, a.atttypmod) FROM "
      "pg_attribute a JOIN pg_type t ON t.oid = a.atttypid WHERE a.attrelid = $1::text::oid AND a.attnum > 0 AND "
      "NOT a.attisdropped ORDER BY a.attnum",
      "cannot read the fields of " + what(), {oid_});
  std::vector<SqlColumn> columns;
  for (int i = 0; i < r.rows(); ++i) {
    const std::string name = r.text(i, 0), type = r.text(i, 1);
    // The key is the object identifier; shapes are not attributes.
    if (name == key_ || type == "geometry" || type == "geography" || type == "raster") continue;
    columns.push_back(columnOf(name, type, std::atoi(r.text(i, 2).c_str()), r.text(i, 3)));
  }
  return columns;
}

std::vector<std::int64_t> PostgresStore::readKeys() {
  pg::Result r = db_.exec("SELECT " + db_.identifier(key_) + " FROM " + qualified_ + " ORDER BY 1",
                          "cannot read the keys of " + what());
  std::vector<std::int64_t> keys(static_cast<std::size_t>(r.rows()));
  for (int i = 0; i < r.rows(); ++i) keys[static_cast<std::size_t>(i)] = std::stoll(r.text(i, 0));
  return keys;
}

SqlTable PostgresStore::readTable() {
  const std::string context = "cannot read " + what();
  const bool own = db_.idle();
  // One snapshot: the fields and every row as of one moment.
  if (own) db_.exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", context);
  try {
    SqlTable t;
    t.columns = readColumns();
    t.values.resize(t.columns.size());
    std::string sql = "DECLARE quilta_rows NO SCROLL CURSOR FOR SELECT " + db_.identifier(key_);
    for (const auto& c : t.columns) sql += ", " + db_.identifier(c.name);
    sql += " FROM " + qualified_ + " ORDER BY 1";
    db_.exec(sql, context);
    for (;;) {
      pg::Result rows = db_.exec("FETCH FORWARD 50000 FROM quilta_rows", context);
      if (rows.rows() == 0) break;
      for (int r = 0; r < rows.rows(); ++r) {
        t.keys.push_back(std::stoll(rows.text(r, 0)));
        for (std::size_t c = 0; c < t.columns.size(); ++c) {
          const int column = static_cast<int>(c) + 1;
          t.values[c].push_back(rows.isNull(r, column) ? Value()
                                                       : hostValue(t.columns[c], rows.text(r, column),
                                                                   t.columns[c].declared.rfind("character(", 0) == 0));
        }
      }
    }
    db_.exec("CLOSE quilta_rows", context);
    if (own) db_.exec("COMMIT", context);
    return t;
  } catch (...) {
    if (own) db_.run("ROLLBACK");
    throw;
  }
}

std::string PostgresStore::lockHolder() {
  pg::Result r = db_.run(
      "SELECT a.pid, coalesce(a.application_name, ''), coalesce(a.usename::text, '') FROM pg_locks l JOIN "
      "pg_stat_activity a ON a.pid = l.pid WHERE l.locktype = 'relation' AND l.relation = $1::text::oid AND "
      "l.granted AND a.pid <> pg_backend_pid() AND l.mode IN ('RowExclusiveLock', 'ShareUpdateExclusiveLock', "
      "'ShareLock', 'ShareRowExclusiveLock', 'ExclusiveLock', 'AccessExclusiveLock') ORDER BY a.backend_start "
      "LIMIT 1",
      {oid_});
  if (!r.ok() || r.rows() == 0) return {};
  std::string holder = "the server process " + r.text(0, 0);
  if (!r.text(0, 1).empty()) holder += " of \"" + r.text(0, 1) + "\"";
  if (!r.text(0, 2).empty()) holder += " (user " + r.text(0, 2) + ")";
  return holder;
}

void PostgresStore::beginTransaction() {
  const std::string context = "cannot begin writing " + what();
  db_.exec("BEGIN", context);
  try {
    pg::Result rights = db_.exec(
        "SELECT has_table_privilege($1::text::oid, 'UPDATE'), current_setting('transaction_read_only')", context,
        {oid_});
    if (rights.text(0, 1) == "on")
      throw HostError(what() + " cannot be written: the database is read-only (transaction_read_only is on)");
    if (rights.text(0, 0) != "t")
      throw HostError("the user \"" + db_.user() + "\" has no right to update " + what());
    // Writers are kept out for the whole operation; readers are not.
    pg::Result lock = db_.run("LOCK TABLE " + qualified_ + " IN SHARE ROW EXCLUSIVE MODE NOWAIT");
    if (!lock.ok()) {
      const std::string cause = lock.message();
      if (lock.sqlState() != "55P03") throw HostError(context + ": " + cause);
      rollbackTransaction();
      const std::string holder = lockHolder();
      throw HostError(what() + " is being written by " + (holder.empty() ? "another program" : holder) + " (" +
                      cause + ")");
    }
    // Adding a field waits for readers to finish, but not for ever.
    db_.exec("SET LOCAL lock_timeout TO '10s'", context);
    checkUnchanged(readKeys(), readColumns());
  } catch (...) {
    rollbackTransaction();
    throw;
  }
  pendingFields_.clear();
  pendingRecords_.assign(static_cast<std::size_t>(recordCount()), 0);
  pendingAll_ = false;
}

void PostgresStore::commitTransaction() {
  pg::Result r = db_.exec("COMMIT", "cannot commit the writes to " + what());
  // A transaction that failed on the way ends in a rollback, not an error.
  if (r.commandStatus() != "COMMIT")
    throw HostError("the database did not commit the writes to " + what() + " (" + r.commandStatus() + ")");
}

void PostgresStore::rollbackTransaction() noexcept {
  if (!db_.idle()) db_.run("ROLLBACK");
}

SqlColumn PostgresStore::newColumn(const std::string& name, int type, int length, int precision) {
  if (name.size() > 63)
    throw HostError("invalid field name \"" + name + "\": a PostgreSQL name has at most 63 bytes");
  switch (type) {
    case kSmallInteger: return columnOf(name, "int2", -1, "smallint");
    case kLong: return columnOf(name, "int4", -1, "integer");
    case kSingle: return columnOf(name, "float4", -1, "real");
    case kDouble:
      if (length > 0) {
        if (length > 1000 || precision < 0 || precision > length)
          throw HostError("invalid length " + std::to_string(length) + " and precision " + std::to_string(precision) +
                          " for the field \"" + name + "\"");
        return columnOf(name, "numeric", ((length << 16) | precision) + 4,
                        "numeric(" + std::to_string(length) + "," + std::to_string(precision) + ")");
      }
      return columnOf(name, "float8", -1, "double precision");
    case kText: {
      const int n = length > 0 ? length : 50;
      return columnOf(name, "varchar", n + 4, "character varying(" + std::to_string(n) + ")");
    }
    case kDate: return columnOf(name, "date", -1, "date");
    default: throw HostError("a field of type " + std::to_string(type) + " cannot be added to " + what());
  }
}

void PostgresStore::behindSavepoint(const std::string& sql, const std::string& context) {
  db_.exec("SAVEPOINT quilta_field", context);
  pg::Result r = db_.run(sql);
  if (!r.ok()) {
    db_.run("ROLLBACK TO SAVEPOINT quilta_field");
    db_.run("RELEASE SAVEPOINT quilta_field");
    throw HostError(context + ": " + r.message());
  }
  db_.exec("RELEASE SAVEPOINT quilta_field", context);
}

void PostgresStore::createColumn(const SqlColumn& column) {
  behindSavepoint("ALTER TABLE " + qualified_ + " ADD COLUMN " + db_.identifier(column.name) + " " + column.declared,
                  "cannot add the field \"" + column.name + "\" to " + what());
}

void PostgresStore::dropColumn(int field) {
  behindSavepoint("ALTER TABLE " + qualified_ + " DROP COLUMN " + db_.identifier(column(field).name),
                  "cannot delete the field \"" + column(field).name + "\" of " + what());
}

void PostgresStore::addPendingField(int field) {
  auto at = std::lower_bound(pendingFields_.begin(), pendingFields_.end(), field);
  if (at == pendingFields_.end() || *at != field) pendingFields_.insert(at, field);
}

void PostgresStore::writeRecord(std::int64_t record, const std::vector<int>& fields) {
  pendingRecords_[static_cast<std::size_t>(record)] = 1;
  for (int f : fields) addPendingField(f);
}

bool PostgresStore::transactionUsable() const { return db_.inTransaction(); }

void PostgresStore::writeColumn(int field, const Value&) {
  pendingAll_ = true;
  addPendingField(field);
}

void PostgresStore::finishWrites() {
  if (pendingFields_.empty()) return;
  using Storage = SqlColumn::Storage;
  const std::string context = "cannot write into " + what();
  std::string create = "CREATE TEMP TABLE quilta_values (k int8";
  std::string assignments;
  for (std::size_t i = 0; i < pendingFields_.size(); ++i) {
    const SqlColumn& c = column(pendingFields_[i]);
    const std::string v = "v" + std::to_string(i);
    create += ", " + v + (c.storage == Storage::Integer ? " int8" : c.storage == Storage::Real ? " float8" : " text");
    // Numbers and texts go in by assignment (a value the column cannot hold
    // fails the statement); other types are read from their text.
    assignments += (i ? ", " : "") + db_.identifier(c.name) + " = w." + v +
                   (c.storage == Storage::Other ? "::" + c.declared : "");
  }
  create += ") ON COMMIT DROP";

  pg::BinaryCopy copy;
  for (std::int64_t r = 0; r < recordCount(); ++r) {
    if (!pendingAll_ && !pendingRecords_[static_cast<std::size_t>(r)]) continue;
    copy.tuple(static_cast<int>(pendingFields_.size()) + 1);
    copy.addInt8(keys()[static_cast<std::size_t>(r)]);
    for (int f : pendingFields_) {
      const Value& v = cell(r, f);
      const Storage storage = column(f).storage;
      if (isNull(v)) {
        copy.addNull();
      } else if (storage == Storage::Integer) {
        if (const auto* i = std::get_if<std::int64_t>(&v)) copy.addInt8(*i);
        else if (const auto* d = std::get_if<double>(&v)) copy.addInt8(static_cast<std::int64_t>(std::llround(*d)));
        else throw HostError(context + ": the field \"" + column(f).name + "\" holds a text that is not a number");
      } else if (storage == Storage::Real) {
        if (const auto* d = std::get_if<double>(&v)) copy.addFloat8(*d);
        else if (const auto* i = std::get_if<std::int64_t>(&v)) copy.addFloat8(static_cast<double>(*i));
        else throw HostError(context + ": the field \"" + column(f).name + "\" holds a text that is not a number");
      } else if (const auto* s = std::get_if<std::string>(&v)) {
        copy.addText(*s);
      } else if (const auto* i = std::get_if<std::int64_t>(&v)) {
        copy.addText(std::to_string(*i));
      } else {
        char buf[32];
        auto end = std::to_chars(buf, buf + sizeof buf, std::get<double>(v)).ptr;
        copy.addText(std::string(buf, end));
      }
    }
  }
  db_.exec(create, context);
  db_.copyIn("COPY quilta_values FROM STDIN (FORMAT binary)", copy.data(), context);
  db_.exec("UPDATE " + qualified_ + " AS t SET " + assignments + " FROM quilta_values AS w WHERE t." +
               db_.identifier(key_) + " = w.k",
           context);
  db_.exec("DROP TABLE quilta_values", context);
  pendingFields_.clear();
  std::fill(pendingRecords_.begin(), pendingRecords_.end(), 0);
  pendingAll_ = false;
}

}  // namespace quilta
