#pragma once
// Where an operation writes a new polygon layer, as a save dialog names it: a
// shapefile in a folder of shapefiles, or a layer of a GeoPackage. The two
// workspaces offer the same steps: find whether a layer of the map would be
// replaced, create the layer (replacing an earlier one of that name) and
// stream records into it, count its records, open it for the map.
//
// A GeoPackage layer is written in one transaction: it appears, with every
// record, when the writer is closed; a process killed before leaves the
// GeoPackage as it was (an earlier layer of the name included).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/AttributeStore.h"
#include "host/Geometry.h"
#include "host/PolygonLayer.h"
#include "host/Value.h"

namespace quilta {

// Appends records to a new polygon layer being written.
class PolygonLayerWriter {
 public:
  virtual ~PolygonLayerWriter() = default;
  // Appends one record: `shape` (an empty shape gives a record without shape)
  // and one value per field, in field order (NULL leaves it empty). Returns
  // the record's number, from 0. Throws HostError when the record cannot be
  // written or a value does not fit its field.
  virtual std::int64_t append(const Polygon& shape, const std::vector<Value>& values) = 0;
  // Completes the layer. Throws HostError naming it and the cause. Calling it
  // again does nothing.
  virtual void close() = 0;
};

class OutputWorkspace {
 public:
  // The workspace and the layer a save dialog's answer `fullName` names:
  //   "DIR/NAME.shp" (or "DIR/NAME") the shapefile NAME in the folder DIR;
  //     only one trailing ".shp" in exactly that spelling is cut from the
  //     file title, so "a.shp.shp" names the shapefile "a.shp";
  //   "DIR/FILE.gpkg" the layer `defaultLayer` of the GeoPackage FILE.gpkg;
  //   "DIR/FILE.gpkg:LAYER" its layer LAYER.
  // Throws HostError when it names no layer or the folder does not exist.
  struct Target;
  static Target forOutput(const std::string& fullName, const std::string& defaultLayer);

  virtual ~OutputWorkspace() = default;

  // "shapefile" or "layer": what a new layer is called in messages.
  virtual const char* layerWord() const = 0;
  // True when the layer `name` of this workspace is `layer` (its files, or
  // its GeoPackage layer), however the path is spelt.
  virtual bool isLayerOf(const std::string& name, const PolygonLayer& layer) const = 0;

  // Creates the polygon layer `name` with the attribute fields `fields`
  // (kLong, kDouble or kText, with their length and precision) and no
  // coordinate system, replacing a layer of that name, and returns its
  // writer. Throws HostError when something else is in the way (a file that
  // is not the shapefile or not a GeoPackage) or the layer cannot be made.
  virtual std::unique_ptr<PolygonLayerWriter> createPolygonLayer(const std::string& name,
                                                                  const std::vector<FieldInfo>& fields) = 0;
  // Number of records of the layer `name`. Throws HostError when it cannot
  // be opened.
  virtual std::int64_t recordCount(const std::string& name) const = 0;
  // Opens the layer `name` for the map, named `name`.
  virtual std::shared_ptr<PolygonLayer> openLayer(const std::string& name) const = 0;
};

struct OutputWorkspace::Target {
  std::unique_ptr<OutputWorkspace> workspace;
  std::string name;  // of the layer in the workspace
};

}  // namespace quilta
