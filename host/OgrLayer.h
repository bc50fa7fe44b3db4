#pragma once
// Reading layers through the vector data library: opening a data source,
// the host's codes for its geometry type and units, and every shape of a
// layer. Private to host/: shared by the shapefile, GeoPackage and PostGIS
// layers.

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/Geometry.h"

namespace quilta::ogr {

struct DatasetCloser {
  void operator()(GDALDataset* ds) const { GDALClose(ds); }
};
using Dataset = std::unique_ptr<GDALDataset, DatasetCloser>;

// Opens `location` read-only with the driver `driver` ("ESRI Shapefile",
// "GPKG", "PostgreSQL") and the driver's open options ("NAME=VALUE").
// Throws HostError naming `shown` (the location as users know it) and the
// library's cause.
Dataset openVector(const std::string& location, const char* driver, const std::string& shown,
                   const std::vector<std::string>& openOptions = {});

// 4 polygon, 1 point, 2 multipoint, 3 polyline, 0 other.
int geometryCode(OGRwkbGeometryType type);
// The units code of a coordinate system (0 for none, a GeoPackage's
// undefined one, or units without a code).
int unitsOf(const OGRSpatialReference* srs);

// Every shape of `layer`, indexed by record: `recordOf` gives the record of a
// feature identifier, or -1 for a feature that is no record of the table
// (skipped). Records without shape stay empty. Attribute values are not read.
// Throws HostError naming `shown` when a shape cannot be read.
std::vector<Polygon> readShapes(OGRLayer& layer, std::int64_t records,
                                const std::function<std::int64_t(GIntBig)>& recordOf, const std::string& shown);

}  // namespace quilta::ogr
