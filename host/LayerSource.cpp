#include "host/LayerSource.h"

#include <algorithm>
#include <filesystem>

#include "host/gpkg/GpkgStore.h"
#include "host/postgres/Pg.h"
#include "host/postgres/PostgresStore.h"

namespace quilta {
namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

LayerSource LayerSource::parse(const std::string& text, const std::string& layer) {
  if (lower(text.substr(0, 3)) == "pg:") return {Kind::PostGIS, text.substr(3), layer};
  if (lower(std::filesystem::path(text).extension().string()) == ".gpkg") return {Kind::GeoPackage, text, layer};
  return {Kind::Shapefile, text, layer};
}

std::string LayerSource::display() const {
  std::string shown = kind == Kind::PostGIS ? "PG:" + pg::withoutPassword(location) : location;
  if (!layer.empty()) shown += " (" + layer + ")";
  return shown;
}

std::vector<std::string> polygonLayerNames(const LayerSource& source) {
  switch (source.kind) {
    case LayerSource::Kind::Shapefile: return {std::filesystem::path(source.location).stem().string()};
    case LayerSource::Kind::GeoPackage: {
      std::vector<std::string> names;
      for (const auto& layer : GpkgStore::layers(source.location))
        if (GpkgStore::isPolygonType(layer.geometryType)) names.push_back(layer.name);
      return names;
    }
    case LayerSource::Kind::PostGIS: return PostgresStore::polygonTables(source.location);
  }
  return {};
}

}  // namespace quilta
