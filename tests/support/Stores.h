#pragma once
// The store a test suite runs on: the suites that write shapefile fixtures
// run again with every fixture converted to a GeoPackage layer and to a
// PostGIS table with the same fields and features, so that each operation is
// checked on every kind of layer. The environment says which:
//   QUILTA_TEST_STORE  "shapefile" (or unset), "gpkg" or "postgis";
//   QUILTA_TEST_PG     the connection parameters of the test database
//                      ("host=SOCKET_DIR port=5432 dbname=quilta user=quilta").

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "host/LayerSource.h"

struct pg_conn;

namespace quilta::test {

enum class Store { Shapefile, GeoPackage, PostGIS };

// The store of this run of the suite.
Store store();
const char* storeName(Store s);
// The test database's connection parameters; fails the test when unset.
std::string pgConnection();

// Runs SQL on the test database (a test's own set-up) as its owner; the
// first column of every row of the last result, as text ("NULL" for NULL).
std::vector<std::string> pgExecute(const std::string& sql);

// A session of the test server held open, as another program holds one.
class PgSession {
 public:
  PgSession();
  ~PgSession();
  PgSession(const PgSession&) = delete;
  PgSession& operator=(const PgSession&) = delete;
  // Runs SQL; the first column of every row of the last result, as text.
  std::vector<std::string> exec(const std::string& sql);
  // The server process of the session.
  int pid() const;

 private:
  pg_conn* conn_;
};

// The layers of one test in the store of the run: each shapefile fixture is
// converted once, the first time it is asked for, into a GeoPackage beside
// it (<name>.gpkg, layer <name>) or into a table <name> of a schema of the
// test's own, dropped at the end.
class StoreLayers {
 public:
  explicit StoreLayers(Store s = store()) : store_(s) {}
  ~StoreLayers();
  StoreLayers(const StoreLayers&) = delete;
  StoreLayers& operator=(const StoreLayers&) = delete;

  Store kind() const { return store_; }
  // The layer that stands for the shapefile `shp` in the store.
  LayerSource layerFor(const std::filesystem::path& shp);
  // The schema of the test's tables (PostGIS); made on first use.
  const std::string& schema();

 private:
  Store store_;
  std::string schema_;
  std::map<std::filesystem::path, LayerSource> converted_;
};

// Converts the shapefile `shp` into the layer `layer` of the GeoPackage
// `gpkg` (made if missing), or into the table `table` ("schema.table") of the
// test database, with the fields, values and feature order of the shapefile.
void shapefileToGeoPackage(const std::filesystem::path& shp, const std::filesystem::path& gpkg,
                           const std::string& layer);
void shapefileToPostgis(const std::filesystem::path& shp, const std::string& table);

}  // namespace quilta::test
