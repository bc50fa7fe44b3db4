#pragma once
// The map shell the tool runs in: layers added from shapefiles, a table of
// contents with each layer's legend that selects the layer to analyse, the
// layer's style, the map with its navigation and identify, the selected
// layer's attribute table, the map's units, the editor's edit mode, and the
// command button that opens the tool window. What the tool's operations
// write shows at once, while the tool window is still open.

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <QMainWindow>

#include "map/Classification.h"

class QAction;
class QLabel;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;

namespace quilta {
class Extension;
class HostApplication;
class PolygonLayer;
namespace map {
class PatchFinder;
}
struct LayerSource;
}  // namespace quilta

namespace quilta::desktop {

class AttributeTableModel;
class MapView;
class QtWindowSystem;
class StylePanel;

class MapWindow : public QMainWindow {
  Q_OBJECT

 public:
  MapWindow(HostApplication& app, Extension& extension, QtWindowSystem& windows, QWidget* parent = nullptr);
  ~MapWindow() override;

  // Opens a shapefile and adds it on top of the map, selected. A failure is
  // shown with its cause; false then.
  bool addLayer(const QString& path);
  // The same for a shapefile, a GeoPackage layer or a PostGIS table.
  bool addLayer(const LayerSource& source);
  // Draws the contents with their legends, the map, the styles, the
  // attribute table, the identified patch and the command's state from the
  // document again.
  void refresh();
  // Identifies the patch under a map point of the selected layer (else of
  // the visible layers from the top): its attributes in the Identify panel,
  // it and its recorded nearest neighbour highlighted. False when no patch
  // is there.
  bool identifyAt(const QPointF& mapPoint);
  // Writes the map as shown, with its legend and scale bar, as a PNG file.
  // A failure is shown with its cause; false then.
  bool exportMapImage(const QString& path);

  // The style of a layer as the user (or the class field) chose it.
  map::Style styleOf(const PolygonLayer* layer) const;
  void setStyle(const PolygonLayer* layer, const map::Style& style);

  MapView* mapView() const { return map_; }

 private:
  struct LayerState {
    map::Style style;
    bool chosen = false;             // set by the user or from the class field
    bool seen = false;               // the fields were read once
    std::vector<std::string> fields;  // the attribute fields last seen
    std::set<std::string> newFields;  // added since the refresh before
  };

  void createMapActions();
  void chooseLayer();
  void chooseExportFile();
  void choosePostgisLayer();
  void editMapUnits();
  void setEditMode(bool editing);
  void runCommand();
  void afterToolClick(const std::string& control);
  void layerSelected(QTreeWidgetItem* item);
  void layerChecked(QTreeWidgetItem* item);
  void styleChosen(const map::Style& style);
  void zoomToLayer();
  void zoomToSelection();
  // Reads a layer's fields and applies its style (falling back to one
  // colour when its field is gone).
  void restyle(PolygonLayer& layer);
  void showContents();
  void showStyle();
  void showAttributes();
  void showSelectionInTable();
  void showIdentified();
  void showStatus();
  PolygonLayer* layerOfItem(QTreeWidgetItem* item) const;

  HostApplication& app_;
  Extension& extension_;
  QtWindowSystem& windows_;
  QTreeWidget* contents_;
  StylePanel* style_;
  MapView* map_;
  QTableView* table_;
  AttributeTableModel* attributes_;
  QTreeWidget* identify_;
  QLabel* status_;
  QString attributeFailure_;
  QString styleNote_;
  QString pointer_;
  QAction* editMode_;
  QAction* command_;
  bool drawing_ = false;
  std::map<const PolygonLayer*, LayerState> layers_;
  std::map<const PolygonLayer*, std::unique_ptr<map::PatchFinder>> finders_;
};

}  // namespace quilta::desktop
