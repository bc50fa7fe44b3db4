#pragma once
// A layer of the map: a shapefile, a GeoPackage layer or a PostGIS table,
// opened for update (or read-only), with its attribute table and its shapes.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/FeatureTable.h"
#include "host/LayerSource.h"

namespace quilta {

// Units codes of the map and of layer coordinate systems.
enum UnitsCode : int {
  kUnitsUndefined = 0,
  kInches = 1,
  kFeet = 3,
  kYards = 4,
  kMiles = 5,
  kMillimeters = 7,
  kCentimeters = 8,
  kMeters = 9,
  kKilometers = 10,
  kDecimalDegrees = 11,
};

// The units code for a name such as "meters", "feet", "degrees"; -1 if unknown.
int unitsCodeFromName(const std::string& name);

// The set of features the user (or an operation) has selected on a layer.
class LayerSelection {
 public:
  const std::vector<std::int64_t>& oids() const { return oids_; }
  void replace(std::vector<std::int64_t> oids) { oids_ = std::move(oids); }
  void clear() { oids_.clear(); }

 private:
  std::vector<std::int64_t> oids_;
};

class PolygonLayer {
 public:
  enum class Mode { Update, ReadOnly };

  // Opens the shapefile at `path` (the .shp). Throws HostError naming the file
  // and the cause when it is missing, unreadable, not a shapefile or has no
  // attribute table.
  // A path ending in ".gpkg" opens the GeoPackage's only polygon layer, as
  // open(LayerSource::parse(path)) does.
  static std::shared_ptr<PolygonLayer> open(const std::filesystem::path& path, Mode mode = Mode::Update);
  // Opens the layer `source` names: a shapefile as above; a GeoPackage layer
  // or a PostGIS table (its only polygon layer or table when the source names
  // none). Throws HostError naming the source and the cause when it cannot be
  // read, names no layer there, or names none while there are several.
  static std::shared_ptr<PolygonLayer> open(const LayerSource& source, Mode mode = Mode::Update);

  // The layer name: the file name without extension (a shapefile), the
  // layer's name (a GeoPackage), the table's name without its schema (PostGIS).
  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  // The .shp or .gpkg file; empty for a database table.
  const std::filesystem::path& path() const { return path_; }
  // Where the layer is kept, its layer or table named.
  const LayerSource& source() const { return source_; }
  FeatureTable& featureTable() { return *table_; }
  // Units of the layer's coordinate system (0 when it has none).
  int unitsCode() const { return unitsCode_; }
  // Extent rectangle of the shapes.
  double extentWidth() const { return width_; }
  double extentHeight() const { return height_; }
  LayerSelection& selection() { return selection_; }

 private:
  PolygonLayer() = default;
  friend std::shared_ptr<PolygonLayer> openDatabaseLayer(const LayerSource& source, PolygonLayer::Mode mode);
  std::string name_;
  std::filesystem::path path_;
  LayerSource source_;
  std::unique_ptr<FeatureTable> table_;
  int unitsCode_ = kUnitsUndefined;
  double width_ = 0, height_ = 0;
  LayerSelection selection_;
};

}  // namespace quilta
