#include "host/gpkg/GpkgStore.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <fstream>
#include <sstream>

#include "host/GeosContext.h"
#include "host/FileLock.h"
#include "host/HostError.h"

namespace quilta {
namespace {

using sqlite::identifier;

std::string upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

bool equalsNoCase(const std::string& a, const std::string& b) { return upper(a) == upper(b); }

// --- The geometry functions the GeoPackage's spatial index triggers name ---
//
// The triggers that keep the R-tree index in step with the geometries call
// ST_IsEmpty, ST_MinX, ST_MaxX, ST_MinY and ST_MaxY. SQLite compiles every
// trigger an UPDATE may fire, so the functions must exist for any UPDATE of
// the table, even though the triggers only run when a geometry or a key
// changes, which this store never does. They read the GeoPackage geometry
// header (magic "GP", version, flags, srs id, optional envelope) and, for a
// geometry stored without an envelope, the geometry itself.

struct Envelope {
  bool empty = false;
  bool known = false;
  double minX = 0, maxX = 0, minY = 0, maxY = 0;
};

double readDouble(const unsigned char* p, bool littleEndian) {
  unsigned char b[8];
  std::memcpy(b, p, 8);
  const bool hostLittle = [] {
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
  }();
  if (littleEndian != hostLittle) std::reverse(b, b + 8);
  double d;
  std::memcpy(&d, b, 8);
  return d;
}

// The envelope of a GeoPackage geometry blob; false when it is none.
bool envelopeOf(const unsigned char* blob, int size, Envelope& out) {
  if (size < 8 || blob[0] != 'G' || blob[1] != 'P') return false;
  const unsigned flags = blob[3];
  const bool littleEndian = (flags & 1) != 0;
  const unsigned indicator = (flags >> 1) & 7;
  static const int envelopeBytes[] = {0, 32, 48, 48, 64};
  if (indicator > 4 || size < 8 + envelopeBytes[indicator]) return false;
  out.empty = (flags & 0x10) != 0;
  if (out.empty) return true;
  if (indicator > 0) {
    out.known = true;
    out.minX = readDouble(blob + 8, littleEndian);
    out.maxX = readDouble(blob + 16, littleEndian);
    out.minY = readDouble(blob + 24, littleEndian);
    out.maxY = readDouble(blob + 32, littleEndian);
    return true;
  }
  // No envelope in the header: measure the geometry (standard WKB after it).
  auto ctx = geos::context();
  GEOSWKBReader* reader = GEOSWKBReader_create_r(ctx);
  GEOSGeometry* g = GEOSWKBReader_read_r(ctx, reader, blob + 8, static_cast<std::size_t>(size - 8));
  GEOSWKBReader_destroy_r(ctx, reader);
  if (!g) return false;
  if (GEOSisEmpty_r(ctx, g) == 1) {
    out.empty = true;
  } else {
    out.known = GEOSGeom_getXMin_r(ctx, g, &out.minX) == 1 && GEOSGeom_getXMax_r(ctx, g, &out.maxX) == 1 &&
                GEOSGeom_getYMin_r(ctx, g, &out.minY) == 1 && GEOSGeom_getYMax_r(ctx, g, &out.maxY) == 1;
  }
  GEOSGeom_destroy_r(ctx, g);
  return out.empty || out.known;
}

// Which of the envelope's values a function gives: 0 ST_IsEmpty, 1 minX,
// 2 maxX, 3 minY, 4 maxY.
void geometryFunction(sqlite3_context* context, int, sqlite3_value** args) {
  const auto which = reinterpret_cast<std::intptr_t>(sqlite3_user_data(context));
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const auto* blob = static_cast<const unsigned char*>(sqlite3_value_blob(args[0]));
  Envelope e;
  if (!blob || !envelopeOf(blob, sqlite3_value_bytes(args[0]), e))
    return sqlite3_result_error(context, "not a GeoPackage geometry", -1);
  if (which == 0) return sqlite3_result_int(context, e.empty ? 1 : 0);
  if (e.empty) return sqlite3_result_null(context);
  const double values[] = {0, e.minX, e.maxX, e.minY, e.maxY};
  sqlite3_result_double(context, values[which]);
}

void registerGeometryFunctions(sqlite3* db) {
  const char* names[] = {"ST_IsEmpty", "ST_MinX", "ST_MaxX", "ST_MinY", "ST_MaxY"};
  for (std::intptr_t i = 0; i < 5; ++i)
    sqlite3_create_function_v2(db, names[i], 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, reinterpret_cast<void*>(i),
                               geometryFunction, nullptr, nullptr, nullptr);
}

// --- Column types ---------------------------------------------------------

// The store's view of a column declared `declared`, as the vector data
// library reads GeoPackage types; other declarations by SQLite's affinity.
SqlColumn columnOf(const std::string& name, const std::string& declared) {
  SqlColumn c(name, declared);
  const std::string type = upper(declared);
  const std::string base = type.substr(0, type.find('('));
  int length = 0;
  if (auto open = type.find('('); open != std::string::npos) length = std::atoi(type.c_str() + open + 1);
  auto has = [&type](const char* part) { return type.find(part) != std::string::npos; };
  if (base == "BOOLEAN") c.holdIntegers(kSmallInteger, 0, 1);
  else if (base == "TINYINT") c.holdIntegers(kSmallInteger, -128, 127);
  else if (base == "SMALLINT") c.holdIntegers(kSmallInteger, -32768, 32767);
  else if (base == "MEDIUMINT") c.holdIntegers(kLong, INT32_MIN, INT32_MAX);
  else if (base == "FLOAT") c.holdReals(kSingle, FLT_MAX);
  else if (base == "DOUBLE" || base == "REAL") c.holdReals(kDouble);
  else if (base == "TEXT") c.holdTexts(length);
  else if (base == "DATE" || base == "DATETIME") c.holdOther(kDate);
  else if (has("INT")) c.holdIntegers(kLong, INT64_MIN, INT64_MAX);
  else if (has("CHAR") || has("CLOB")) c.holdTexts(length);
  else if (has("REAL") || has("FLOA") || has("DOUB")) c.holdReals(kDouble);
  else c.holdOther(kText);
  return c;
}

// A value as stored, in the form the host gives for the column's type: a
// whole number read from a REAL column is a double, as is a fraction in a
// whole-number column.
Value hostValue(const SqlColumn& c, Value v) {
  if (c.storage == SqlColumn::Storage::Real)
    if (const auto* i = std::get_if<std::int64_t>(&v)) return Value(static_cast<double>(*i));
  return v;
}

// --- Another writer ---------------------------------------------------------

// The process that holds SQLite's write lock on `path`: a POSIX lock on the
// byte after the pending byte at 1 GiB.
std::string lockHolder(const std::filesystem::path& path) { return writeLockHolder(path, 0x40000001LL); }

std::string described(const std::filesystem::path& path, const std::string& table) {
  return "the GeoPackage layer \"" + table + "\" of \"" + path.string() + "\"";
}

}  // namespace

// ---------------------------------------------------------------------------

bool GpkgStore::isPolygonType(const std::string& geometryType) {
  const std::string t = upper(geometryType);
  return t == "POLYGON" || t == "MULTIPOLYGON" || t == "CURVEPOLYGON" || t == "MULTISURFACE" || t == "SURFACE";
}

namespace {

sqlite::Connection openGeoPackage(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) throw HostError("\"" + path.string() + "\" does not exist");
  sqlite::Connection db = sqlite::Connection::open(path, path.string());
  // The first read rolls back what a crashed writer left in a hot journal;
  // it fails when the file cannot be written to do so.
  try {
    sqlite::Statement check(db,
                            "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND lower(name) IN "
                            "('gpkg_contents', 'gpkg_geometry_columns')",
                            "cannot read \"" + path.string() + "\"");
    check.step();
    if (check.integer(0) != 2)
      throw HostError("\"" + path.string() + "\" is not a GeoPackage (it has no gpkg_contents and "
                      "gpkg_geometry_columns tables)");
  } catch (const HostError& e) {
    if ((sqlite3_extended_errcode(db.get()) == SQLITE_READONLY_ROLLBACK))
      throw HostError("\"" + path.string() +
                      "\" holds an unfinished write of a program that stopped (a hot journal), which cannot be "
                      "rolled back while the file or its folder is read-only");
    throw;
  }
  return db;
}

std::vector<GpkgStore::Layer> featureLayers(const sqlite::Connection& db, const std::filesystem::path& path) {
  sqlite::Statement list(db,
                         "SELECT c.table_name, g.geometry_type_name FROM gpkg_contents c JOIN gpkg_geometry_columns g "
                         "ON lower(g.table_name) = lower(c.table_name) WHERE lower(c.data_type) = 'features' "
                         "ORDER BY c.table_name",
                         "cannot list the layers of \"" + path.string() + "\"");
  std::vector<GpkgStore::Layer> layers;
  while (list.step()) layers.push_back({list.text(0), list.text(1)});
  return layers;
}

}  // namespace

std::vector<GpkgStore::Layer> GpkgStore::layers(const std::filesystem::path& path) {
  sqlite::Connection db = openGeoPackage(path);
  return featureLayers(db, path);
}

std::unique_ptr<GpkgStore> GpkgStore::open(const std::filesystem::path& path, const std::string& name,
                                           bool readOnly) {
  sqlite::Connection db = openGeoPackage(path);
  std::string table, geometry;
  for (const auto& layer : featureLayers(db, path))
    if (equalsNoCase(layer.name, name)) table = layer.name;
  if (table.empty()) throw HostError("\"" + path.string() + "\" has no layer \"" + name + "\"");
  {
    sqlite::Statement column(db, "SELECT column_name FROM gpkg_geometry_columns WHERE lower(table_name) = lower(?)",
                             "cannot read the geometry column of " + described(path, table));
    column.bind(1, table);
    if (column.step()) geometry = column.text(0);
  }
  std::string key;
  {
    sqlite::Statement info(db, "SELECT name, type, pk FROM pragma_table_info(?)",
                           "cannot read the columns of " + described(path, table));
    info.bind(1, table);
    int keyColumns = 0;
    while (info.step()) {
      if (info.integer(2) == 0) continue;
      ++keyColumns;
      if (upper(info.text(1)).find("INT") != std::string::npos) key = info.text(0);
    }
    if (keyColumns != 1 || key.empty())
      throw HostError(described(path, table) + " has no integer primary key, which a GeoPackage layer must have");
  }
  std::unique_ptr<GpkgStore> store(new GpkgStore(std::move(db), path, table, key, geometry, readOnly));
  store->adopt(store->readTable());
  return store;
}

GpkgStore::GpkgStore(sqlite::Connection db, std::filesystem::path path, std::string table, std::string key,
                     std::string geometry, bool readOnly)
    : SqlTableStore(described(path, table), readOnly),
      db_(std::move(db)),
      path_(std::move(path)),
      table_(std::move(table)),
      key_(std::move(key)),
      geometry_(std::move(geometry)) {
  registerGeometryFunctions(db_.get());
  // The operation's writes stay in memory until the commit rather than spill
  // into the file (which would lock readers out for the rest of it).
  db_.exec("PRAGMA cache_size = -262144", "cannot set up " + what());
  struct stat st {};
  if (stat(path_.c_str(), &st) == 0) {
    device_ = st.st_dev;
    inode_ = st.st_ino;
  }
}

std::int64_t GpkgStore::dataVersion() {
  sqlite::Statement version(db_, "PRAGMA data_version", "cannot read the version of " + what());
  version.step();
  return version.integer(0);
}

SqlTable GpkgStore::readTable() {
  SqlTable t;
  const std::string context = "cannot read " + what();
  // One read transaction (or the write transaction under way): the columns,
  // the values and the version agree.
  const bool own = sqlite3_get_autocommit(db_.get()) != 0;
  if (own) db_.exec("BEGIN", context);
  try {
    {
      sqlite::Statement info(db_, "SELECT name, type FROM pragma_table_info(?) ORDER BY cid", context);
      info.bind(1, table_);
      while (info.step()) {
        std::string name = info.text(0);
        if (equalsNoCase(name, key_) || equalsNoCase(name, geometry_)) continue;
        t.columns.push_back(columnOf(name, info.text(1)));
      }
    }
    std::string sql = "SELECT " + identifier(key_);
    for (const auto& c : t.columns) sql += ", " + identifier(c.name);
    sql += " FROM " + identifier(table_) + " ORDER BY " + identifier(key_);
    sqlite::Statement rows(db_, sql, context);
    t.values.resize(t.columns.size());
    while (rows.step()) {
      t.keys.push_back(rows.integer(0));
      for (std::size_t i = 0; i < t.columns.size(); ++i)
        t.values[i].push_back(hostValue(t.columns[i], rows.value(static_cast<int>(i) + 1)));
    }
    dataVersion_ = dataVersion();
    if (own) db_.exec("COMMIT", context);
  } catch (...) {
    if (own) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  return t;
}

void GpkgStore::checkSameFile() const {
  struct stat st {};
  if (stat(path_.c_str(), &st) != 0 || st.st_dev != device_ || st.st_ino != inode_)
    throw HostError("\"" + path_.string() + "\" was replaced or removed by another program since it was opened");
}

void GpkgStore::checkWritable() const {
  auto readOnly = [](const std::filesystem::path& p) {
    struct stat st {};
    // Write permission for nobody marks a file read-only even for a process
    // whose privileges would let it write regardless.
    return stat(p.c_str(), &st) != 0 || access(p.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0;
  };
  if (readOnly(path_)) throw HostError("the GeoPackage \"" + path_.string() + "\" is read-only");
  const std::filesystem::path folder = path_.has_parent_path() ? path_.parent_path() : std::filesystem::path(".");
  if (readOnly(folder))
    throw HostError("the folder of the GeoPackage \"" + path_.string() +
                    "\" is read-only, so the journal that keeps a write atomic cannot be made there");
  if (db_.readOnly()) throw HostError("the GeoPackage \"" + path_.string() + "\" can only be opened for reading");
}

void GpkgStore::beginTransaction() {
  checkWritable();
  checkSameFile();
  db_.setBusyTimeout(0);
  try {
    db_.exec("BEGIN IMMEDIATE", "cannot begin writing " + what());
  } catch (const HostError& e) {
    if (db_.errorCode() != SQLITE_BUSY && db_.errorCode() != SQLITE_LOCKED) throw;
    const std::string holder = lockHolder(path_);
    throw HostError("\"" + path_.string() + "\" is being written by " + (holder.empty() ? "another program" : holder) +
                    " (" + db_.message() + ")");
  }
  // Committing waits for readers to finish their reads.
  db_.setBusyTimeout(30000);
  const std::int64_t versionRead = dataVersion_;
  try {
    if (dataVersion() != dataVersion_) adoptIfUnchanged(readTable());
    // Every trigger an UPDATE of the table may fire is compiled now, so that
    // one the store cannot run refuses the operation before it writes.
    sqlite::Statement probe(db_, "UPDATE " + identifier(table_) + " SET " + identifier(key_) + " = " + identifier(key_) +
                                     " WHERE 0",
                            what() + " cannot be updated");
  } catch (...) {
    dataVersion_ = versionRead;  // the change stays to be found by the next try
    rollbackTransaction();
    throw;
  }
  wrote_ = false;
}

void GpkgStore::commitTransaction() {
  checkSameFile();
  if (wrote_) {
    sqlite::Statement touch(db_,
                            "UPDATE gpkg_contents SET last_change = strftime('%Y-%m-%dT%H:%M:%fZ', 'now') "
                            "WHERE lower(table_name) = lower(?)",
                            "cannot record the change of " + what());
    touch.bind(1, table_);
    touch.step();
  }
  db_.exec("COMMIT", "cannot commit the writes to " + what());
  dataVersion_ = dataVersion();
}

void GpkgStore::rollbackTransaction() noexcept {
  if (sqlite3_get_autocommit(db_.get()) == 0) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

SqlColumn GpkgStore::newColumn(const std::string& name, int type, int length, int) {
  std::string declared;
  switch (type) {
    case kSmallInteger: declared = "SMALLINT"; break;
    case kLong: declared = "MEDIUMINT"; break;
    case kSingle: declared = "FLOAT"; break;
    case kDouble: declared = "REAL"; break;
    case kText: declared = "TEXT(" + std::to_string(length > 0 ? length : 50) + ")"; break;
    case kDate: declared = "DATE"; break;
    default: throw HostError("a field of type " + std::to_string(type) + " cannot be added to " + what());
  }
  return columnOf(name, declared);
}

void GpkgStore::createColumn(const SqlColumn& column) {
  db_.exec("SAVEPOINT quilta_field", "cannot add the field \"" + column.name + "\" to " + what());
  try {
    db_.exec("ALTER TABLE " + identifier(table_) + " ADD COLUMN " + identifier(column.name) + " " + column.declared,
             "cannot add the field \"" + column.name + "\" to " + what());
  } catch (...) {
    sqlite3_exec(db_.get(), "ROLLBACK TO quilta_field; RELEASE quilta_field", nullptr, nullptr, nullptr);
    throw;
  }
  db_.exec("RELEASE quilta_field", "cannot add the field \"" + column.name + "\" to " + what());
  wrote_ = true;
}

void GpkgStore::dropColumn(int field) {
  const std::string name = column(field).name;
  const std::string context = "cannot delete the field \"" + name + "\" of " + what();
  db_.exec("SAVEPOINT quilta_field", context);
  try {
    db_.exec("ALTER TABLE " + identifier(table_) + " DROP COLUMN " + identifier(name), context);
    // The column's description, if the GeoPackage keeps one, goes with it.
    sqlite::Statement described(db_, "SELECT count(*) FROM sqlite_master WHERE name = 'gpkg_data_columns'", context);
    described.step();
    if (described.integer(0) > 0) {
      sqlite::Statement forget(db_,
                               "DELETE FROM gpkg_data_columns WHERE lower(table_name) = lower(?) AND "
                               "lower(column_name) = lower(?)",
                               context);
      forget.bind(1, table_);
      forget.bind(2, name);
      forget.step();
    }
  } catch (...) {
    sqlite3_exec(db_.get(), "ROLLBACK TO quilta_field; RELEASE quilta_field", nullptr, nullptr, nullptr);
    throw;
  }
  db_.exec("RELEASE quilta_field", context);
  updates_.clear();  // their field numbers have moved
  wrote_ = true;
}

void GpkgStore::writeRecord(std::int64_t record, const std::vector<int>& fields) {
  auto it = updates_.find(fields);
  if (it == updates_.end()) {
    std::string sql = "UPDATE " + identifier(table_) + " SET ";
    for (std::size_t i = 0; i < fields.size(); ++i)
      sql += (i ? ", " : "") + identifier(column(fields[i]).name) + " = ?" + std::to_string(i + 1);
    sql += " WHERE " + identifier(key_) + " = ?" + std::to_string(fields.size() + 1);
    it = updates_.emplace(fields, sqlite::Statement(db_, sql, "cannot write into " + what())).first;
  }
  sqlite::Statement& update = it->second;
  for (std::size_t i = 0; i < fields.size(); ++i) update.bind(static_cast<int>(i) + 1, cell(record, fields[i]));
  update.bind(static_cast<int>(fields.size()) + 1, keys()[static_cast<std::size_t>(record)]);
  update.step();
  update.reset();
  wrote_ = true;
}

bool GpkgStore::transactionUsable() const { return sqlite3_get_autocommit(db_.get()) == 0; }

void GpkgStore::writeColumn(int field, const Value& value) {
  sqlite::Statement update(db_, "UPDATE " + identifier(table_) + " SET " + identifier(column(field).name) + " = ?1",
                           "cannot write into " + what());
  update.bind(1, value);
  update.step();
  wrote_ = true;
}

}  // namespace quilta
