#include "host/HostApplication.h"

namespace quilta {

void FocusMap::addLayer(std::shared_ptr<PolygonLayer> layer) {
  if (layers_.empty()) {
    mapUnits_ = layer->unitsCode();
    distanceUnits_ = layer->unitsCode();
  }
  layers_.insert(layers_.begin(), std::move(layer));
}

PolygonLayer& MapDocument::addShapefile(const std::filesystem::path& path, PolygonLayer::Mode mode) {
  return addLayer(LayerSource::parse(path.string()), mode);
}

PolygonLayer& MapDocument::addLayer(const LayerSource& source, PolygonLayer::Mode mode) {
  auto layer = PolygonLayer::open(source, mode);
  PolygonLayer& ref = *layer;
  map_.addLayer(std::move(layer));
  selected_ = &ref;
  return ref;
}

void MapDocument::dropPendingSchemaChanges() {
  for (int i = 0; i < map_.layerCount(); ++i) map_.layer(i)->featureTable().dropPendingSchemaChanges();
}

void MapDocument::syncLayers() {
  for (int i = 0; i < map_.layerCount(); ++i) map_.layer(i)->featureTable().sync();
}

Editor* HostApplication::findExtension(const std::string& progId) {
  return progId == "vexaEditor.Editor" ? &editor_ : nullptr;
}

}  // namespace quilta
