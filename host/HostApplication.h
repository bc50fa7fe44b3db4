#pragma once
// The map application the tool runs in: one map document with one map of
// ordered layers, a selected layer, the map's units, an editor with an edit
// state and a current tool.

#include <memory>
#include <string>
#include <vector>

#include "host/PolygonLayer.h"

namespace quilta {

class FocusMap {
 public:
  int layerCount() const { return static_cast<int>(layers_.size()); }
  const std::shared_ptr<PolygonLayer>& layer(int index) const { return layers_.at(static_cast<std::size_t>(index)); }
  // Adds a layer on top of the contents. The first layer added sets the map
  // units and the distance units from its coordinate system.
  void addLayer(std::shared_ptr<PolygonLayer> layer);
  int mapUnits() const { return mapUnits_; }
  int distanceUnits() const { return distanceUnits_; }
  void setMapUnits(int code) { mapUnits_ = code; }
  void setDistanceUnits(int code) { distanceUnits_ = code; }

 private:
  std::vector<std::shared_ptr<PolygonLayer>> layers_;
  int mapUnits_ = kUnitsUndefined;
  int distanceUnits_ = kUnitsUndefined;
};

class MapDocument {
 public:
  FocusMap& focusMap() { return map_; }
  // The layer selected in the table of contents, or null.
  PolygonLayer* selectedLayer() const { return selected_; }
  void selectItem(PolygonLayer* layer) { selected_ = layer; }
  // Opens a shapefile, adds it to the map and selects it.
  PolygonLayer& addShapefile(const std::filesystem::path& path, PolygonLayer::Mode mode = PolygonLayer::Mode::Update);
  // Opens a shapefile, GeoPackage layer or PostGIS table, adds it to the map
  // and selects it.
  PolygonLayer& addLayer(const LayerSource& source, PolygonLayer::Mode mode = PolygonLayer::Mode::Update);
  // Writes what the layers have pending.
  // Drops the schema changes no layer has written yet (after a failed operation).
  void dropPendingSchemaChanges();
  void syncLayers();

 private:
  FocusMap map_;
  PolygonLayer* selected_ = nullptr;
};

// The host's editor extension: edit state 1 while editing.
class Editor {
 public:
  int editState() const { return editState_; }
  void setEditState(int state) { editState_ = state; }

 private:
  int editState_ = 0;
};

class HostApplication {
 public:
  MapDocument& document() { return document_; }
  // The extension registered under `progId` ("vexaEditor.Editor" is the
  // editor), or null.
  Editor* findExtension(const std::string& progId);
  // The current map tool; "none" after setCurrentToolNone().
  const std::string& currentTool() const { return tool_; }
  void setCurrentTool(std::string tool) { tool_ = std::move(tool); }
  void setCurrentToolNone() { tool_ = "none"; }

 private:
  MapDocument document_;
  Editor editor_;
  std::string tool_ = "select";
};

}  // namespace quilta
