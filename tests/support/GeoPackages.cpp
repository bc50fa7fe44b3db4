#include "tests/support/GeoPackages.h"

#include <gdal_priv.h>

#include "tests/support/OgrRows.h"

#include <memory>
#include <stdexcept>

namespace quilta::test {

void writeGeoPackage(const std::filesystem::path& gpkg, const std::string& layerName,
                     const std::vector<FieldDef>& fields, const std::vector<KeyedRow>& rows,
                     const std::string& geometry) {
  GDALAllRegister();
  std::unique_ptr<GDALDataset> ds;
  if (std::filesystem::exists(gpkg)) {
    ds.reset(static_cast<GDALDataset*>(
        GDALOpenEx(gpkg.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, nullptr, nullptr, nullptr)));
  } else {
    ds.reset(GetGDALDriverManager()->GetDriverByName("GPKG")->Create(gpkg.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
  }
  if (!ds) throw std::runtime_error("cannot write " + gpkg.string());
  OGRSpatialReference srs;
  srs.importFromEPSG(32725);
  OGRLayer* layer =
      ds->CreateLayer(layerName.c_str(), &srs, geometry == "line" ? wkbLineString : wkbPolygon, nullptr);
  if (!layer) throw std::runtime_error("cannot create the layer " + layerName);
  createFields(*layer, fields);
  for (const auto& row : rows) createFeature(*layer, row.values, row.wkt, row.key ? row.key : OGRNullFID);
}

namespace {

// Stand-ins for the functions that the spatial index triggers name: enough
// for statements that never change a shape or a key.
void standIn(sqlite3_context* context, int, sqlite3_value**) { sqlite3_result_int(context, 0); }

}  // namespace

RawGeoPackage::RawGeoPackage(const std::filesystem::path& gpkg) {
  if (sqlite3_open_v2(gpkg.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot open " + gpkg.string());
  for (const char* name : {"ST_IsEmpty", "ST_MinX", "ST_MaxX", "ST_MinY", "ST_MaxY"})
    sqlite3_create_function_v2(db_, name, 1, SQLITE_UTF8, nullptr, standIn, nullptr, nullptr, nullptr);
}

RawGeoPackage::~RawGeoPackage() { sqlite3_close_v2(db_); }

void RawGeoPackage::exec(const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string cause = error ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw std::runtime_error(sql + ": " + cause);
  }
}

std::vector<std::string> RawGeoPackage::column(const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
    throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
  std::vector<std::string> out;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    const auto* text = sqlite3_column_blob(stmt, 0);
    out.emplace_back(text ? std::string(static_cast<const char*>(text),
                                        static_cast<std::size_t>(sqlite3_column_bytes(stmt, 0)))
                          : std::string());
  }
  sqlite3_finalize(stmt);
  return out;
}

}  // namespace quilta::test
