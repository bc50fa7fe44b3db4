#pragma once
// The map shell the tool runs in: layers added from shapefiles, a table of
// contents that selects the layer to analyse, the map, the selected layer's
// attribute table, the map's units, the editor's edit mode, and the command
// button that opens the tool window.

#include <QMainWindow>

class QAction;
class QLabel;
class QListWidget;
class QTableView;

namespace quilta {
class Extension;
class HostApplication;
struct LayerSource;
}  // namespace quilta

namespace quilta::desktop {

class AttributeTableModel;
class MapView;
class QtWindowSystem;

class MapWindow : public QMainWindow {
  Q_OBJECT

 public:
  MapWindow(HostApplication& app, Extension& extension, QtWindowSystem& windows, QWidget* parent = nullptr);

  // Opens a shapefile and adds it on top of the map, selected. A failure is
  // shown with its cause; false then.
  bool addLayer(const QString& path);
  // The same for a shapefile, a GeoPackage layer or a PostGIS table.
  bool addLayer(const LayerSource& source);
  // Draws the contents, the map, the attribute table and the command's state
  // from the document again.
  void refresh();

 private:
  void chooseLayer();
  void choosePostgisLayer();
  void editMapUnits();
  void setEditMode(bool editing);
  void runCommand();
  void layerSelected(int row);
  void showAttributes();
  void showStatus();

  HostApplication& app_;
  Extension& extension_;
  QtWindowSystem& windows_;
  QListWidget* contents_;
  MapView* map_;
  QTableView* table_;
  AttributeTableModel* attributes_;
  QLabel* status_;
  QString attributeFailure_;
  QAction* editMode_;
  QAction* command_;
  bool drawing_ = false;
};

}  // namespace quilta::desktop
