#include "host/OgrLayer.h"

#include <algorithm>
#include <string>
#include <cmath>

#include "host/Gdal.h"
#include "host/GeosContext.h"
#include "host/HostError.h"
#include "host/PolygonLayer.h"

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

namespace ogr {

Dataset openVector(const std::string& location, const char* driver, const std::string& shown,
                   const std::vector<std::string>& openOptions) {
  gdal::init();
  const char* const drivers[] = {driver, nullptr};
  std::vector<const char*> options;
  for (const auto& o : openOptions) options.push_back(o.c_str());
  options.push_back(nullptr);
  CPLErrorReset();
  auto* ds = static_cast<GDALDataset*>(
      GDALOpenEx(location.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, options.data(), nullptr));
  if (!ds) {
    const std::string what = std::string(driver) == "GPKG"         ? "GeoPackage"
                             : std::string(driver) == "PostgreSQL" ? "PostGIS database"
                                                                   : "shapefile";
    throw HostError("cannot open \"" + shown + "\": " + gdal::lastError("not a readable " + what));
  }
  if (ds->GetLayerCount() < 1) {
    GDALClose(ds);
    throw HostError("\"" + shown + "\" holds no layer");
  }
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
  // A GeoPackage layer without coordinate system names one of its two
  // placeholders ("Undefined geographic SRS", "Undefined Cartesian SRS").
  if (const char* name = srs->GetName(); name && std::string(name).rfind("Undefined ", 0) == 0) return kUnitsUndefined;
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

std::vector<Polygon> readShapes(OGRLayer& layer, std::int64_t records,
                                const std::function<std::int64_t(GIntBig)>& recordOf, const std::string& shown) {
  // Only the shapes are wanted here; the attribute table is read elsewhere.
  std::vector<const char*> ignored;
  OGRFeatureDefn* defn = layer.GetLayerDefn();
  for (int i = 0; i < defn->GetFieldCount(); ++i) ignored.push_back(defn->GetFieldDefn(i)->GetNameRef());
  ignored.push_back(nullptr);
  layer.SetIgnoredFields(ignored.data());

  std::vector<Polygon> shapes(static_cast<std::size_t>(std::max<std::int64_t>(records, 0)));
  auto ctx = geos::context();
  layer.ResetReading();
  CPLErrorReset();
  while (OGRFeature* raw = layer.GetNextFeature()) {
    std::unique_ptr<OGRFeature> feature(raw);
    // A damaged shape file still hands out features, without their shapes:
    // stop rather than measure them as empty.
    if (CPLGetLastErrorType() >= CE_Failure)
      throw HostError("cannot read the shape of feature " + std::to_string(feature->GetFID()) + " of \"" + shown +
                      "\": " + gdal::lastError("damaged shape file"));
    const std::int64_t record = recordOf(feature->GetFID());
    if (record < 0) continue;
    if (static_cast<std::size_t>(record) >= shapes.size()) shapes.resize(static_cast<std::size_t>(record) + 1);
    const OGRGeometry* g = feature->GetGeometryRef();
    if (!g || g->IsEmpty()) continue;
    GEOSGeometry* converted = g->exportToGEOS(ctx);
    if (!converted) geos::fail("cannot read the shape of feature " + std::to_string(record) + " of \"" + shown + "\"");
    shapes[static_cast<std::size_t>(record)] = Polygon(converted);
  }
  if (CPLGetLastErrorType() >= CE_Failure)
    throw HostError("cannot read the shapes of \"" + shown + "\": " + gdal::lastError("read failed"));
  return shapes;
}

}  // namespace ogr
}  // namespace quilta
