#pragma once
// Where a layer of the map is kept: a shapefile, a layer of a GeoPackage, or a
// table of a PostgreSQL database with PostGIS.

#include <string>
#include <vector>

namespace quilta {

struct LayerSource {
  enum class Kind { Shapefile, GeoPackage, PostGIS };
  Kind kind = Kind::Shapefile;
  // The .shp or .gpkg path, or the database's connection parameters
  // ("dbname=... host=... user=...", the text after "PG:").
  std::string location;
  // The GeoPackage layer, or the table as "schema.table" (a bare "table" is
  // looked up in the database's search path). Empty: the only polygon layer
  // (table) there.
  std::string layer;

  // The kind from the text: "PG:..." (any letter case) a database, a path
  // ending in ".gpkg" a GeoPackage, anything else a shapefile.
  static LayerSource parse(const std::string& text, const std::string& layer = {});
  // The source as users write it, for messages: the path, or "PG:..." with a
  // password left out; the layer follows in brackets when one is named.
  std::string display() const;
};

// The polygon layers of a GeoPackage, or the tables with a polygon geometry
// column of a database ("schema.table"), in name order: the names `layer`
// takes. A shapefile is its one layer (its file name without extension).
// Throws HostError naming the source and the cause when it cannot be read.
std::vector<std::string> polygonLayerNames(const LayerSource& source);

}  // namespace quilta
