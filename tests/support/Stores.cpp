#include "tests/support/Stores.h"

#include <gdal_priv.h>
#include <gdal_utils.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace quilta::test {
namespace {

// Runs a vector translation as the command-line tool would take `args`.
void translate(const std::string& destination, const std::filesystem::path& shp, std::vector<std::string> args) {
  GDALAllRegister();
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  GDALVectorTranslateOptions* options = GDALVectorTranslateOptionsNew(argv.data(), nullptr);
  if (!options) throw std::runtime_error("bad conversion options");
  GDALDatasetH source = GDALOpenEx(shp.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
  if (!source) {
    GDALVectorTranslateOptionsFree(options);
    throw std::runtime_error("cannot open " + shp.string() + ": " + CPLGetLastErrorMsg());
  }
  int usageError = 0;
  GDALDatasetH out = GDALVectorTranslate(destination.c_str(), nullptr, 1, &source, options, &usageError);
  const std::string cause = CPLGetLastErrorMsg();
  GDALVectorTranslateOptionsFree(options);
  GDALClose(source);
  if (!out) throw std::runtime_error("cannot convert " + shp.string() + " to " + destination + ": " + cause);
  GDALClose(out);
}

}  // namespace

Store store() {
  const char* name = std::getenv("QUILTA_TEST_STORE");
  const std::string s = name ? name : "";
  if (s.empty() || s == "shapefile") return Store::Shapefile;
  if (s == "gpkg") return Store::GeoPackage;
  if (s == "postgis") return Store::PostGIS;
  throw std::runtime_error("QUILTA_TEST_STORE=" + s + ": expected shapefile, gpkg or postgis");
}

const char* storeName(Store s) {
  switch (s) {
    case Store::Shapefile: return "shapefile";
    case Store::GeoPackage: return "gpkg";
    case Store::PostGIS: return "postgis";
  }
  return "";
}

std::string pgConnection() {
  const char* c = std::getenv("QUILTA_TEST_PG");
  if (!c || !*c) throw std::runtime_error("QUILTA_TEST_PG is not set: the PostGIS tests need the test server");
  return c;
}

PgSession::PgSession() : conn_(PQconnectdb(pgConnection().c_str())) {
  if (PQstatus(conn_) != CONNECTION_OK) {
    std::string cause = PQerrorMessage(conn_);
    PQfinish(conn_);
    throw std::runtime_error("cannot connect to the test database: " + cause);
  }
  PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
}

PgSession::~PgSession() { PQfinish(conn_); }

int PgSession::pid() const { return PQbackendPID(conn_); }

std::vector<std::string> PgSession::exec(const std::string& sql) {
  PGresult* r = PQexec(conn_, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
  std::string cause = PQresultErrorMessage(r);
  std::vector<std::string> rows;
  for (int i = 0; ok && PQnfields(r) > 0 && i < PQntuples(r); ++i)
    rows.push_back(PQgetisnull(r, i, 0) ? "NULL" : PQgetvalue(r, i, 0));
  PQclear(r);
  if (!ok) throw std::runtime_error("test database: " + sql + ": " + cause);
  return rows;
}

std::vector<std::string> pgExecute(const std::string& sql) { return PgSession().exec(sql); }

void shapefileToGeoPackage(const std::filesystem::path& shp, const std::filesystem::path& gpkg,
                           const std::string& layer) {
  std::vector<std::string> args = {"-f", "GPKG", "-nln", layer};
  if (std::filesystem::exists(gpkg)) args.insert(args.begin(), "-update");
  translate(gpkg.string(), shp, args);
}

void shapefileToPostgis(const std::filesystem::path& shp, const std::string& table) {
  // Field names keep their letter case; several-part patches make the
  // geometry type a multipolygon, as layers are usually loaded.
  translate("PG:" + pgConnection(), shp,
            {"-f", "PostgreSQL", "-nln", table, "-nlt", "PROMOTE_TO_MULTI", "-lco", "LAUNDER=NO", "-lco",
             "GEOMETRY_NAME=geom", "-lco", "FID=fid"});
}

const std::string& StoreLayers::schema() {
  if (schema_.empty()) {
    static std::atomic<int> counter{0};
    schema_ = "quilta_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    pgExecute("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE; CREATE SCHEMA " + schema_);
  }
  return schema_;
}

LayerSource StoreLayers::layerFor(const std::filesystem::path& shp) {
  if (store_ == Store::Shapefile) return LayerSource::parse(shp.string());
  if (auto it = converted_.find(shp); it != converted_.end()) return it->second;
  const std::string name = shp.stem().string();
  LayerSource source;
  if (store_ == Store::GeoPackage) {
    std::filesystem::path gpkg = shp;
    gpkg.replace_extension(".gpkg");
    shapefileToGeoPackage(shp, gpkg, name);
    source = {LayerSource::Kind::GeoPackage, gpkg.string(), name};
  } else {
    shapefileToPostgis(shp, schema() + "." + name);
    source = {LayerSource::Kind::PostGIS, pgConnection(), schema() + "." + name};
  }
  converted_.emplace(shp, source);
  return source;
}

StoreLayers::~StoreLayers() {
  if (schema_.empty()) return;
  try {
    pgExecute("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
  } catch (const std::exception&) {
    // The server is gone; the cluster goes with it.
  }
}

}  // namespace quilta::test
