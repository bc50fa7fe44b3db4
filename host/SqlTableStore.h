#pragma once
// The attribute store of a table in a database, a GeoPackage (SQLite) or a
// PostgreSQL database: what the two database stores share.
//
// The table's values are read into memory when the layer opens, so that reads
// (every selection, every metric) never wait for the database. Writes go to
// the database inside one transaction per operation: the first write of an
// operation (or openForWriting()) takes the database's write lock and begins
// the transaction, flush() commits it. A process killed in between leaves the
// table as it was before the operation. A write the database refuses alone
// (a rule of the table) fails that write only: what was stored before is
// committed, as a shapefile keeps it. A failure that ends the transaction (a
// full disk, a lost connection) makes flush() roll it back, read the table
// again and report that nothing of the operation was kept. A field name or
// type the database refuses changes nothing.
//
// Records are the table's rows in ascending primary-key order: record i is
// the feature with object identifier i, whatever its key. Fields are the
// table's columns but the primary key and the geometry.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/AttributeStore.h"

namespace quilta {

// A column of a table as the store sees it.
struct SqlColumn {
  // How the database holds the column's values, which decides what may be
  // written into it.
  enum class Storage { Integer, Real, Text, Other };
  std::string name;      // as the database spells it
  std::string declared;  // its type as the database declares it ("REAL", "TEXT(20)", "numeric(24,15)")
  FieldInfo info;        // the host's view: name, type code, length, precision
  Storage storage = Storage::Text;
  // Integer columns: the range the type holds.
  std::int64_t minInteger = INT64_MIN, maxInteger = INT64_MAX;
  // Real columns: the largest magnitude the type holds; for a fixed-point
  // type (numeric(p,s)) the digits before the decimal point, else 0.
  double maxReal = 1.7976931348623157e308;
  int integerDigits = 0;
  // Text columns: the most characters a value may have; 0 for any number.
  int maxCharacters = 0;

  SqlColumn() = default;
  SqlColumn(std::string columnName, std::string declaredType)
      : name(columnName), declared(std::move(declaredType)), info{std::move(columnName), kText, 0, 0} {}
  // What the column holds, shown as host type `code`: whole numbers from
  // `lo` to `hi`; numbers up to `largest` in magnitude; texts of at most
  // `characters` (0: any); other values, read and written as text.
  void holdIntegers(int code, std::int64_t lo, std::int64_t hi) {
    storage = Storage::Integer, info.type = code, minInteger = lo, maxInteger = hi;
  }
  void holdReals(int code, double largest = 1.7976931348623157e308) {
    storage = Storage::Real, info.type = code, maxReal = largest;
  }
  void holdTexts(int characters) {
    storage = Storage::Text, info.type = kText, info.length = characters, maxCharacters = characters;
  }
  void holdOther(int code) { storage = Storage::Other, info.type = code; }
};

// A table as read from the database.
struct SqlTable {
  std::vector<std::int64_t> keys;          // primary keys, ascending
  std::vector<SqlColumn> columns;          // attribute columns, in table order
  std::vector<std::vector<Value>> values;  // values[column][record]
};

class SqlTableStore : public AttributeStore {
 public:
  // True unless the layer was opened read-only or the table is known to have
  // been changed by another program (its writes are refused then).
  bool writable() const override { return !readOnly_ && !stale_; }
  // Begins the operation's transaction, taking the write lock, unless it has
  // begun. Throws HostError with the database's cause when the table cannot
  // be written or another program writes it.
  void openForWriting() override { beginWriting(); }

  std::int64_t recordCount() const override { return static_cast<std::int64_t>(keys_.size()); }
  bool isDeleted(std::int64_t) const override { return false; }
  int fieldCount() const override { return static_cast<int>(columns_.size()); }
  FieldInfo field(int index) const override;
  int findField(std::string_view name) const override;
  Value value(std::int64_t record, int field) const override;
  // Values are converted to what the column holds, as a dBASE column would:
  // numbers into whole-number columns rounded, number texts into numeric
  // columns parsed, numbers into text columns written with up to 15
  // significant digits. Throws HostError for a value the column cannot hold
  // (a number out of its range, text longer than it, text that is not a
  // number, a number that is not finite).
  void setValue(std::int64_t record, int field, const Value& value) override;
  void store(std::int64_t record) override;
  void addField(const std::string& name, int type, int length, int precision, const Value& fill) override;
  void deleteField(int index) override;
  void fillField(int index, const Value& value) override;
  // Writes the cells set but not stored, then commits the transaction.
  void flush() override;

  // The primary key of each record, ascending.
  const std::vector<std::int64_t>& keys() const { return keys_; }

 protected:
  // `what` names the table in messages ("the GeoPackage layer \"x\" of \"f.gpkg\"").
  SqlTableStore(std::string what, bool readOnly) : what_(std::move(what)), readOnly_(readOnly) {}
  // Takes the table as read (when the layer opens, or again after a rollback).
  void adopt(SqlTable table);
  // For beginTransaction(): throws HostError when the keys or the columns of
  // `current` differ from the store's (another program added or deleted
  // features or fields since the table was read); else takes its values.
  void adoptIfUnchanged(SqlTable current);
  void checkUnchanged(const std::vector<std::int64_t>& keys, const std::vector<SqlColumn>& columns) const;

  const std::string& what() const { return what_; }
  const SqlColumn& column(int field) const { return columns_.at(static_cast<std::size_t>(field)); }
  const std::vector<SqlColumn>& columns() const { return columns_; }
  const Value& cell(std::int64_t record, int field) const {
    return values_[static_cast<std::size_t>(field)][static_cast<std::size_t>(record)];
  }

  // --- What each database does. -------------------------------------------
  // Reads the whole table.
  virtual SqlTable readTable() = 0;
  // Checks that the table can be written, takes the write lock and begins the
  // transaction; throws HostError with the cause (nothing begun then).
  virtual void beginTransaction() = 0;
  virtual void commitTransaction() = 0;
  // Never throws: a transaction that cannot be rolled back is dropped by the
  // database when the connection closes.
  virtual void rollbackTransaction() noexcept = 0;
  // The column a new field of host type `type` becomes (nothing is written).
  // Throws HostError when the database cannot take the name.
  virtual SqlColumn newColumn(const std::string& name, int type, int length, int precision) = 0;
  // Adds or drops a column in the transaction. Throws HostError with the
  // database's cause when refused; nothing has changed then.
  virtual void createColumn(const SqlColumn& column) = 0;
  virtual void dropColumn(int field) = 0;
  // Writes the values in memory of `fields` of `record`, now or before the
  // commit (finishWrites()).
  virtual void writeRecord(std::int64_t record, const std::vector<int>& fields) = 0;
  // Writes `value` (in memory already) into field `field` of every record.
  virtual void writeColumn(int field, const Value& value) = 0;
  // Writes what writeRecord() and writeColumn() left for the commit.
  virtual void finishWrites() {}
  // After a write failed: true when the database rolled back only that
  // statement and the transaction goes on (what was written before stays to
  // be committed), false when it ended or spoilt the transaction.
  virtual bool transactionUsable() const = 0;

 private:
  void beginWriting();
  // Runs a write; a failure leaves the transaction unusable.
  template <class Write>
  void guarded(Write&& write);
  void storeDirty(std::int64_t record);
  Value convert(const SqlColumn& column, const Value& value) const;
  void checkField(int field) const;
  void checkRecord(std::int64_t record) const;

  std::string what_;
  bool readOnly_;
  std::optional<std::string> stale_;   // why writes are refused for good
  bool inTransaction_ = false;
  std::optional<std::string> failed_;  // why the open transaction cannot be committed
  std::vector<std::int64_t> keys_;
  std::vector<SqlColumn> columns_;
  std::vector<std::vector<Value>> values_;
  // Cells set and not yet stored: record -> fields.
  std::unordered_map<std::int64_t, std::vector<int>> dirty_;
};

}  // namespace quilta
