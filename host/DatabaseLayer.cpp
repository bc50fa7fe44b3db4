#include "host/DatabaseLayer.h"

#include <algorithm>
#include <system_error>

#include "host/HostError.h"
#include "host/OgrLayer.h"
#include "host/gpkg/GpkgStore.h"
#include "host/postgres/PostgresStore.h"

namespace quilta {
namespace {

bool equalsNoCase(std::string a, std::string b) {
  auto lower = [](std::string& s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  };
  lower(a);
  lower(b);
  return a == b;
}

// The layer to open when the source names none: the only polygon layer.
std::string onlyPolygonLayer(const LayerSource& source) {
  const std::vector<std::string> names = polygonLayerNames(source);
  if (names.size() == 1) return names.front();
  if (names.empty()) throw HostError("\"" + source.display() + "\" holds no polygon layer");
  std::string listed;
  for (const auto& n : names) listed += (listed.empty() ? "\"" : ", \"") + n + "\"";
  throw HostError("\"" + source.display() + "\" holds several polygon layers; choose one of " + listed);
}

// Where the vector data library finds the layer's shapes: the layer by its
// name, or (a database table) by its geometry column.
struct ShapeSource {
  std::string location, driver, shown, layer, geometryColumn;
  std::vector<std::string> options;
};

OGRLayer& layerOf(const ogr::Dataset& ds, const ShapeSource& s) {
  OGRLayer* layer = s.layer.empty() ? nullptr : ds->GetLayerByName(s.layer.c_str());
  for (int i = 0; !layer && i < ds->GetLayerCount(); ++i)
    if (s.layer.empty() && equalsNoCase(ds->GetLayer(i)->GetGeometryColumn(), s.geometryColumn))
      layer = ds->GetLayer(i);
  if (!layer) throw HostError("the vector data library finds no layer \"" + s.layer + "\" in \"" + s.shown + "\"");
  return *layer;
}

}  // namespace

std::shared_ptr<PolygonLayer> openDatabaseLayer(const LayerSource& source, PolygonLayer::Mode mode) {
  const bool readOnly = mode == PolygonLayer::Mode::ReadOnly;
  std::shared_ptr<PolygonLayer> layer(new PolygonLayer());
  layer->source_ = source;
  if (source.kind == LayerSource::Kind::GeoPackage) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(source.location, ec))
      throw HostError("\"" + source.location + "\" does not exist");
  }
  const std::string name = source.layer.empty() ? onlyPolygonLayer(source) : source.layer;

  std::unique_ptr<SqlTableStore> store;
  ShapeSource shapes;
  std::string key;
  if (source.kind == LayerSource::Kind::GeoPackage) {
    auto gpkg = GpkgStore::open(source.location, name, readOnly);
    layer->name_ = gpkg->table();
    layer->path_ = source.location;
    layer->source_.layer = gpkg->table();
    shapes = {source.location, "GPKG", source.location, gpkg->table(), {}, {}};
    key = gpkg->keyColumn();
    store = std::move(gpkg);
  } else {
    auto table = PostgresStore::open(source.location, name, readOnly);
    layer->name_ = table->table();
    layer->source_.layer = table->schema() + "." + table->table();
    // Only this table is looked at.
    shapes = {"PG:" + source.location,          "PostgreSQL", layer->source_.display(), {}, table->geometryColumn(),
              {"TABLES=" + table->schema() + "." + table->table()}};
    key = table->keyColumn();
    store = std::move(table);
  }

  int geometryType = 0;
  {
    ogr::Dataset ds = ogr::openVector(shapes.location, shapes.driver.c_str(), shapes.shown, shapes.options);
    OGRLayer& ogr = layerOf(ds, shapes);
    // The library gives each feature its key as identifier, which places it.
    if (!equalsNoCase(ogr.GetFIDColumn(), key))
      throw HostError("the features of \"" + layer->source_.display() + "\" are numbered by \"" +
                      std::string(ogr.GetFIDColumn()) + "\", not by the primary key \"" + key + "\"");
    geometryType = ogr::geometryCode(ogr.GetGeomType());
    layer->unitsCode_ = ogr::unitsOf(ogr.GetSpatialRef());
    OGREnvelope env;
    if (store->recordCount() > 0 && ogr.GetExtent(&env, TRUE) == OGRERR_NONE) {
      layer->width_ = env.MaxX - env.MinX;
      layer->height_ = env.MaxY - env.MinY;
    }
  }
  auto keys = std::make_shared<const std::vector<std::int64_t>>(store->keys());
  layer->table_ = std::make_unique<FeatureTable>(std::move(store), geometryType, [shapes, keys] {
    ogr::Dataset ds = ogr::openVector(shapes.location, shapes.driver.c_str(), shapes.shown, shapes.options);
    auto recordOf = [&keys](GIntBig fid) -> std::int64_t {
      auto at = std::lower_bound(keys->begin(), keys->end(), static_cast<std::int64_t>(fid));
      return at != keys->end() && *at == fid ? at - keys->begin() : -1;
    };
    return ogr::readShapes(layerOf(ds, shapes), static_cast<std::int64_t>(keys->size()), recordOf, shapes.shown);
  });
  return layer;
}

}  // namespace quilta
