#include "tests/support/Fixtures.h"

#include "tests/support/OgrRows.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <atomic>
#include <cstdlib>
#include <random>
#include <sstream>
#include <stdexcept>

namespace quilta::test {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() /
          ("quilta-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path sourceDir() {
  const char* dir = std::getenv("QUILTA_SOURCE_DIR");
  return dir ? std::filesystem::path(dir) : std::filesystem::current_path();
}

std::filesystem::path copySample(const std::filesystem::path& dir) {
  for (const char* ext : {".shp", ".shx", ".dbf", ".prj"})
    std::filesystem::copy_file(sourceDir() / "data/sample" / (std::string("olinda_elevation") + ext),
                               dir / (std::string("olinda_elevation") + ext),
                               std::filesystem::copy_options::overwrite_existing);
  // The copies are the test's own, writable whatever the mode of the source.
  for (const char* ext : {".shp", ".shx", ".dbf", ".prj"})
    std::filesystem::permissions(dir / (std::string("olinda_elevation") + ext), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
  return dir / "olinda_elevation.shp";
}

std::string rect(double x0, double y0, double x1, double y1) {
  std::ostringstream s;
  s.precision(17);
  s << "POLYGON((" << x0 << " " << y0 << "," << x0 << " " << y1 << "," << x1 << " " << y1 << "," << x1 << " " << y0
    << "," << x0 << " " << y0 << "))";
  return s.str();
}

void writeShapefile(const std::filesystem::path& shp, const std::vector<FieldDef>& fields,
                    const std::vector<Row>& rows, int epsg, const std::string& geometry) {
  GDALAllRegister();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
  std::unique_ptr<GDALDataset> ds(driver->Create(shp.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
  if (!ds) throw std::runtime_error("cannot create " + shp.string());
  OGRSpatialReference srs;
  OGRSpatialReference* srsPtr = nullptr;
  if (epsg) {
    srs.importFromEPSG(epsg);
    srsPtr = &srs;
  }
  OGRwkbGeometryType type = geometry == "point" ? wkbPoint : geometry == "line" ? wkbLineString : wkbPolygon;
  OGRLayer* layer = ds->CreateLayer(shp.stem().string().c_str(), srsPtr, type, nullptr);
  createFields(*layer, fields);
  for (const auto& row : rows) createFeature(*layer, row.values, row.wkt);
}

void createFields(OGRLayer& layer, const std::vector<FieldDef>& fields) {
  for (const auto& f : fields) {
    OGRFieldDefn defn(f.name.c_str(), f.type == 'I' ? OFTInteger : f.type == 'R' ? OFTReal : OFTString);
    if (f.width) defn.SetWidth(f.width);
    if (f.precision) defn.SetPrecision(f.precision);
    if (layer.CreateField(&defn) != OGRERR_NONE) throw std::runtime_error("cannot create field " + f.name);
  }
}

void createFeature(OGRLayer& layer, const std::vector<Value>& values, const std::string& wkt, GIntBig key) {
  OGRFeature feature(layer.GetLayerDefn());
  feature.SetFID(key);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const Value& v = values[i];
    int idx = static_cast<int>(i);
    if (auto n = std::get_if<std::int64_t>(&v)) feature.SetField(idx, static_cast<GIntBig>(*n));
    else if (auto d = std::get_if<double>(&v)) feature.SetField(idx, *d);
    else if (auto s = std::get_if<std::string>(&v)) feature.SetField(idx, s->c_str());
  }
  if (!wkt.empty()) {
    OGRGeometry* g = nullptr;
    if (OGRGeometryFactory::createFromWkt(wkt.c_str(), nullptr, &g) != OGRERR_NONE)
      throw std::runtime_error("bad shape text " + wkt);
    feature.SetGeometryDirectly(g);
  }
  if (layer.CreateFeature(&feature) != OGRERR_NONE) throw std::runtime_error("cannot write a feature");
}

}  // namespace quilta::test
