#pragma once
// Opening a GeoPackage layer or a PostGIS table as a layer of the map: the
// table's attribute store, and its shapes read through the vector data
// library and placed by the store's primary keys. Private to host/.

#include <memory>

#include "host/PolygonLayer.h"

namespace quilta {

// `source` is a GeoPackage or PostGIS source (see PolygonLayer::open).
std::shared_ptr<PolygonLayer> openDatabaseLayer(const LayerSource& source, PolygonLayer::Mode mode);

}  // namespace quilta
