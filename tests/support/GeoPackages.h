#pragma once
// Test helpers for GeoPackages: layers written through the vector library with
// chosen feature keys, and a plain SQLite connection standing for another
// program (its GeoPackage trigger functions are simple stand-ins).

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "host/Value.h"
#include "tests/support/Fixtures.h"

namespace quilta::test {

// One feature under its own key (0: the next key the GeoPackage gives).
struct KeyedRow {
  std::int64_t key = 0;
  std::string wkt;  // empty: no shape
  std::vector<Value> values;
};

// Adds the layer `layer` ("polygon" or "line" features, metric projection) to
// the GeoPackage `gpkg`, which is made if missing.
void writeGeoPackage(const std::filesystem::path& gpkg, const std::string& layer, const std::vector<FieldDef>& fields,
                     const std::vector<KeyedRow>& rows, const std::string& geometry = "polygon");

// Another program's connection to a GeoPackage.
class RawGeoPackage {
 public:
  explicit RawGeoPackage(const std::filesystem::path& gpkg);
  ~RawGeoPackage();
  RawGeoPackage(const RawGeoPackage&) = delete;
  RawGeoPackage& operator=(const RawGeoPackage&) = delete;

  // Runs statements; throws std::runtime_error with SQLite's message.
  void exec(const std::string& sql);
  // The first column of every row of `sql`, as text ("" for NULL).
  std::vector<std::string> column(const std::string& sql);
  sqlite3* get() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace quilta::test
