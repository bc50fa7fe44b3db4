#pragma once
// The attribute store of a PostGIS table, through libpq. Host field types map
// onto columns: doubles double precision (numeric(l,p) when given a length),
// singles real, whole numbers integer, small integers smallint, texts
// character varying(50) unless given a length, dates date.
//
// Opening reads the table whole in one snapshot. An operation's writes are
// one transaction: the first write checks the right to update the table and
// locks it against other writers at once (LOCK TABLE ... NOWAIT: another
// writer makes it fail instead of wait; readers go on), then checks that no
// feature or field was added or removed since the table was read. New fields
// are added in the transaction, each behind a savepoint so that a refused one
// changes nothing. Stored values are collected and written by flush() in one
// statement: a binary COPY of the keys and values (doubles bit for bit) into a
// temporary table and one UPDATE ... FROM it; then the commit. The geometry
// column is never written.

#include <memory>
#include <string>
#include <vector>

#include "host/SqlTableStore.h"
#include "host/postgres/Pg.h"

namespace quilta {

class PostgresStore final : public SqlTableStore {
 public:
  // The tables with a polygon geometry column ("schema.table"), in name
  // order. Throws HostError when the database cannot be read or has no
  // PostGIS.
  static std::vector<std::string> polygonTables(const std::string& parameters);

  // Opens the table `layer` ("schema.table", or a table in the search path)
  // and reads it. With `readOnly` every write is refused. Throws HostError
  // when there is no such table or it has no primary key of one whole-number
  // column (whose order numbers the features).
  static std::unique_ptr<PostgresStore> open(const std::string& parameters, const std::string& layer, bool readOnly);

  const std::string& schema() const { return schema_; }
  const std::string& table() const { return table_; }
  const std::string& keyColumn() const { return key_; }
  const std::string& geometryColumn() const { return geometry_; }

 protected:
  SqlTable readTable() override;
  void beginTransaction() override;
  void commitTransaction() override;
  void rollbackTransaction() noexcept override;
  SqlColumn newColumn(const std::string& name, int type, int length, int precision) override;
  void createColumn(const SqlColumn& column) override;
  void dropColumn(int field) override;
  void writeRecord(std::int64_t record, const std::vector<int>& fields) override;
  void writeColumn(int field, const Value& value) override;
  bool transactionUsable() const override;
  void finishWrites() override;

 private:
  PostgresStore(pg::Connection db, std::string shown, std::string oid, std::string schema, std::string table,
                std::string key, std::string geometry, bool readOnly);
  std::vector<SqlColumn> readColumns();
  std::vector<std::int64_t> readKeys();
  // Runs `change` behind a savepoint: a failure undoes it alone.
  void behindSavepoint(const std::string& sql, const std::string& context);
  void addPendingField(int field);
  // Who holds a lock on the table that keeps writers out, or empty.
  std::string lockHolder();

  pg::Connection db_;
  std::string shown_;  // the connection as users know it, without a password
  std::string oid_;    // the table's identifier in the catalogue
  std::string schema_, table_, key_, geometry_;
  std::string qualified_;  // "schema"."table", quoted
  // What flush() still has to write: these fields of the records marked.
  std::vector<int> pendingFields_;
  std::vector<char> pendingRecords_;
  bool pendingAll_ = false;
};

}  // namespace quilta
