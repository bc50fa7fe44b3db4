#include "host/PolygonLayer.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <system_error>

#include "host/Gdal.h"
#include "host/GeosContext.h"
#include "host/HostError.h"
#include "host/dbase/DbaseStore.h"

namespace quilta {

namespace gdal {

void init() {
  static const bool done = [] {
    CPLSetErrorHandler(CPLQuietErrorHandler);
    GDALAllRegister();
    return true;
  }();
  (void)done;
}

std::string lastError(const std::string& fallback) {
  std::string msg = CPLGetLastErrorMsg();
  CPLErrorReset();
  return msg.empty() ? fallback : msg;
}

}  // namespace gdal

namespace {

struct DatasetCloser {
  void operator()(GDALDataset* ds) const { GDALClose(ds); }
};
using Dataset = std::unique_ptr<GDALDataset, DatasetCloser>;

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

Dataset openVector(const std::filesystem::path& path) {
  gdal::init();
  const char* const drivers[] = {"ESRI Shapefile", nullptr};
  auto* ds = static_cast<GDALDataset*>(
      GDALOpenEx(path.string().c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr));
  if (!ds) throw HostError("cannot open \"" + path.string() + "\": " + gdal::lastError("not a readable shapefile"));
  if (ds->GetLayerCount() < 1) throw HostError("\"" + path.string() + "\" holds no layer");
  return Dataset(ds);
}

int geometryCode(OGRwkbGeometryType type) {
  switch (wkbFlatten(type)) {
    case wkbPolygon:
    case wkbMultiPolygon:
    case wkbCurvePolygon:
    case wkbMultiSurface: return 4;
    case wkbPoint: return 1;
    case wkbMultiPoint: return 2;
    case wkbLineString:
    case wkbMultiLineString: return 3;
    default: return 0;
  }
}

int unitsOf(const OGRSpatialReference* srs) {
  if (!srs) return kUnitsUndefined;
  if (srs->IsGeographic()) return kDecimalDegrees;
  double metres = srs->GetLinearUnits();
  struct Unit {
    double metres;
    int code;
  };
  static const Unit units[] = {{1.0, kMeters},        {0.3048, kFeet},         {0.3048006096012192, kFeet},
                               {0.9144, kYards},      {1609.344, kMiles},      {0.0254, kInches},
                               {0.001, kMillimeters}, {0.01, kCentimeters},    {1000.0, kKilometers}};
  for (const auto& u : units)
    if (std::fabs(metres - u.metres) <= 1e-9 * u.metres) return u.code;
  return kUnitsUndefined;
}

std::filesystem::path sibling(const std::filesystem::path& shp, const std::string& ext) {
  auto candidate = shp;
  candidate.replace_extension(ext);
  if (std::filesystem::exists(candidate)) return candidate;
  std::string upper = ext;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  auto alt = shp;
  alt.replace_extension(upper);
  return std::filesystem::exists(alt) ? alt : candidate;
}

std::vector<Polygon> readShapes(const std::filesystem::path& path, std::int64_t records) {
  Dataset ds = openVector(path);
  OGRLayer* layer = ds->GetLayer(0);
  // Only the shapes are wanted here; the attribute table is read elsewhere.
  std::vector<const char*> ignored;
  OGRFeatureDefn* defn = layer->GetLayerDefn();
  for (int i = 0; i < defn->GetFieldCount(); ++i) ignored.push_back(defn->GetFieldDefn(i)->GetNameRef());
  ignored.push_back(nullptr);
  layer->SetIgnoredFields(ignored.data());

  std::vector<Polygon> shapes(static_cast<std::size_t>(std::max<std::int64_t>(records, 0)));
  auto ctx = geos::context();
  layer->ResetReading();
  CPLErrorReset();
  while (OGRFeature* raw = layer->GetNextFeature()) {
    std::unique_ptr<OGRFeature> feature(raw);
    // A damaged shape file still hands out features, without their shapes:
    // stop rather than measure them as empty.
    if (CPLGetLastErrorType() >= CE_Failure)
      throw HostError("cannot read the shape of feature " + std::to_string(feature->GetFID()) + " of \"" +
                      path.string() + "\": " + gdal::lastError("damaged shape file"));
    GIntBig fid = feature->GetFID();
    if (fid < 0) continue;
    if (static_cast<std::size_t>(fid) >= shapes.size()) shapes.resize(static_cast<std::size_t>(fid) + 1);
    const OGRGeometry* g = feature->GetGeometryRef();
    if (!g || g->IsEmpty()) continue;
    GEOSGeometry* converted = g->exportToGEOS(ctx);
    if (!converted)
      throw HostError("cannot read the shape of feature " + std::to_string(fid) + " of \"" + path.string() + "\"");
    shapes[static_cast<std::size_t>(fid)] = Polygon(converted);
  }
  return shapes;
}

}  // namespace

int unitsCodeFromName(const std::string& name) {
  static const std::pair<const char*, int> names[] = {
      {"meters", kMeters},       {"metres", kMeters},   {"m", kMeters},           {"feet", kFeet},
      {"ft", kFeet},             {"yards", kYards},     {"miles", kMiles},        {"inches", kInches},
      {"millimeters", kMillimeters}, {"mm", kMillimeters}, {"centimeters", kCentimeters}, {"cm", kCentimeters},
      {"kilometers", kKilometers}, {"km", kKilometers}, {"degrees", kDecimalDegrees}, {"decimal-degrees", kDecimalDegrees}};
  std::string n = lower(name);
  for (const auto& [text, code] : names)
    if (n == text) return code;
  return -1;
}

std::shared_ptr<PolygonLayer> PolygonLayer::open(const std::filesystem::path& path, Mode mode) {
  if (lower(path.extension().string()) != ".shp")
    throw HostError("\"" + path.string() + "\" is not a shapefile (.shp)");
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) throw HostError("\"" + path.string() + "\" does not exist");

  std::shared_ptr<PolygonLayer> layer(new PolygonLayer());
  layer->path_ = path;
  layer->name_ = path.stem().string();
  int geometryType = 0;
  {
    Dataset ds = openVector(path);
    OGRLayer* ogr = ds->GetLayer(0);
    geometryType = geometryCode(ogr->GetGeomType());
    layer->unitsCode_ = unitsOf(ogr->GetSpatialRef());
    OGREnvelope env;
    if (ogr->GetFeatureCount() > 0 && ogr->GetExtent(&env, TRUE) == OGRERR_NONE) {
      layer->width_ = env.MaxX - env.MinX;
      layer->height_ = env.MaxY - env.MinY;
    }
  }
  auto dbfPath = sibling(path, ".dbf");
  if (!std::filesystem::exists(dbfPath)) throw HostError("\"" + path.string() + "\" has no attribute table (.dbf)");
  DbfTable dbf = DbfTable::open(dbfPath, mode == Mode::Update);
  std::int64_t records = dbf.recordCount();
  layer->table_ = std::make_unique<FeatureTable>(std::make_unique<DbaseStore>(std::move(dbf)), geometryType,
                                                  [path, records] { return readShapes(path, records); });
  return layer;
}

}  // namespace quilta
