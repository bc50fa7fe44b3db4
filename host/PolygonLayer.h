#pragma once
// A layer of the map: one shapefile, opened for update (or read-only), with
// its attribute table and its shapes.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/FeatureTable.h"

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
  static std::shared_ptr<PolygonLayer> open(const std::filesystem::path& path, Mode mode = Mode::Update);

  // The layer name: the file name without extension.
  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  const std::filesystem::path& path() const { return path_; }
  FeatureTable& featureTable() { return *table_; }
  // Units of the layer's coordinate system (0 when it has none).
  int unitsCode() const { return unitsCode_; }
  // Extent rectangle of the shapes.
  double extentWidth() const { return width_; }
  double extentHeight() const { return height_; }
  LayerSelection& selection() { return selection_; }

 private:
  PolygonLayer() = default;
  std::string name_;
  std::filesystem::path path_;
  std::unique_ptr<FeatureTable> table_;
  int unitsCode_ = kUnitsUndefined;
  double width_ = 0, height_ = 0;
  LayerSelection selection_;
};

}  // namespace quilta
