#include "host/OgrLayer.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

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

namespace {

// A ring as an engine ring, its vertices copied as they are; null for a ring
// the engine would refuse (open, or of fewer than four vertices).
GEOSGeometry* engineRing(GEOSContextHandle_t ctx, const OGRLinearRing* ring, std::vector<double>& xy) {
  const int n = ring ? ring->getNumPoints() : 0;
  if (n < 4 || ring->getX(0) != ring->getX(n - 1) || ring->getY(0) != ring->getY(n - 1)) return nullptr;
  xy.resize(2 * static_cast<std::size_t>(n));
  ring->getPoints(xy.data(), 2 * sizeof(double), xy.data() + 1, 2 * sizeof(double));
  GEOSCoordSequence* seq = GEOSCoordSeq_copyFromBuffer_r(ctx, xy.data(), static_cast<unsigned int>(n), 0, 0);
  return seq ? GEOSGeom_createLinearRing_r(ctx, seq) : nullptr;
}

// A plain polygon (flat, without measures, no empty ring) as an engine
// polygon; null for any other.
GEOSGeometry* enginePolygon(GEOSContextHandle_t ctx, const OGRPolygon& polygon, std::vector<double>& xy) {
  GEOSGeometry* shell = engineRing(ctx, polygon.getExteriorRing(), xy);
  if (!shell) return nullptr;
  std::vector<GEOSGeometry*> holes;
  for (int i = 0; i < polygon.getNumInteriorRings(); ++i) {
    GEOSGeometry* hole = engineRing(ctx, polygon.getInteriorRing(i), xy);
    if (!hole) {
      for (GEOSGeometry* h : holes) GEOSGeom_destroy_r(ctx, h);
      GEOSGeom_destroy_r(ctx, shell);
      return nullptr;
    }
    holes.push_back(hole);
  }
  return GEOSGeom_createPolygon_r(ctx, shell, holes.data(), static_cast<unsigned int>(holes.size()));
}

// The shape as an engine geometry. Plain polygons and multipolygons, nearly
// every patch, are built from their vertices directly; any other shape goes
// through the vector library's own export. Either way the vertices are the
// same numbers. Null when the shape cannot be converted.
GEOSGeometry* toEngine(GEOSContextHandle_t ctx, const OGRGeometry& g) {
  thread_local std::vector<double> xy;
  GEOSGeometry* direct = nullptr;
  if (g.getGeometryType() == wkbPolygon) {
    direct = enginePolygon(ctx, *g.toPolygon(), xy);
  } else if (g.getGeometryType() == wkbMultiPolygon) {
    const OGRMultiPolygon& multi = *g.toMultiPolygon();
    std::vector<GEOSGeometry*> parts;
    for (int i = 0; i < multi.getNumGeometries(); ++i) {
      GEOSGeometry* part = enginePolygon(ctx, *multi.getGeometryRef(i), xy);
      if (!part) break;
      parts.push_back(part);
    }
    if (parts.size() == static_cast<std::size_t>(multi.getNumGeometries())) {
      direct = GEOSGeom_createCollection_r(ctx, GEOS_MULTIPOLYGON, parts.data(), static_cast<unsigned int>(parts.size()));
    } else {
      for (GEOSGeometry* p : parts) GEOSGeom_destroy_r(ctx, p);
    }
  }
  return direct ? direct : g.exportToGEOS(ctx);
}

}  // namespace

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
    GEOSGeometry* converted = toEngine(ctx, *g);
    if (!converted) geos::fail("cannot read the shape of feature " + std::to_string(record) + " of \"" + shown + "\"");
    shapes[static_cast<std::size_t>(record)] = Polygon(converted);
  }
  if (CPLGetLastErrorType() >= CE_Failure)
    throw HostError("cannot read the shapes of \"" + shown + "\": " + gdal::lastError("read failed"));
  return shapes;
}

}  // namespace ogr
}  // namespace quilta
