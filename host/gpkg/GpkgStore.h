#pragma once
// The attribute store of a GeoPackage layer: its feature table, through
// SQLite itself. Host field types map onto columns as the vector data library
// writes them: doubles REAL, singles FLOAT, whole numbers MEDIUMINT, small
// integers SMALLINT, texts TEXT(50) unless given a length, dates DATE.
//
// Opening reads the table whole (rolling back a transaction that a crashed
// writer left in the journal). An operation's writes are one transaction: the
// first write checks that the file and its folder can be written, takes
// SQLite's write lock at once (BEGIN IMMEDIATE: another writer makes it fail
// instead of wait) and begins it; every store is a prepared UPDATE of the
// record's changed columns with doubles bound as doubles; flush() commits.
// The geometry column is never written.

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/SqlTableStore.h"
#include "host/gpkg/Sqlite.h"

namespace quilta {

class GpkgStore final : public SqlTableStore {
 public:
  struct Layer {
    std::string name;          // the table, as the GeoPackage spells it
    std::string geometryType;  // "POLYGON", "MULTIPOLYGON", "LINESTRING", ...
  };
  // The feature layers of the GeoPackage at `path`, in name order. Throws
  // HostError when it cannot be read or is no GeoPackage.
  static std::vector<Layer> layers(const std::filesystem::path& path);
  // True for a geometry type name whose features are polygons.
  static bool isPolygonType(const std::string& geometryType);

  // Opens the layer `name` (letter case ignored) and reads its table. With
  // `readOnly` every write is refused. Throws HostError when the file is no
  // GeoPackage, has no such layer, or cannot be read.
  static std::unique_ptr<GpkgStore> open(const std::filesystem::path& path, const std::string& name, bool readOnly);

  // The layer's table and its key column, as the GeoPackage spells them.
  const std::string& table() const { return table_; }
  const std::string& keyColumn() const { return key_; }

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

 private:
  GpkgStore(sqlite::Connection db, std::filesystem::path path, std::string table, std::string key,
            std::string geometry, bool readOnly);
  std::int64_t dataVersion();
  // Throws when the file at the path is no longer the one opened.
  void checkSameFile() const;
  void checkWritable() const;

  sqlite::Connection db_;
  std::filesystem::path path_;
  std::string table_, key_, geometry_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::int64_t dataVersion_ = 0;
  bool wrote_ = false;
  // One prepared UPDATE per set of columns written together.
  std::map<std::vector<int>, sqlite::Statement> updates_;
};

}  // namespace quilta
