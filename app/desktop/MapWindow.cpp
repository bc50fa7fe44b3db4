#include "app/desktop/MapWindow.h"

#include <exception>

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

#include "app/desktop/AttributeTableModel.h"
#include "app/desktop/LayerSourceDialogs.h"
#include "app/desktop/MapUnitsDialog.h"
#include "app/desktop/MapView.h"
#include "app/desktop/QtWindowSystem.h"
#include "host/HostApplication.h"
#include "metrics/Extension.h"

namespace quilta::desktop {
namespace {

constexpr const char* kEditorId = "vexaEditor.Editor";

void showFailure(QtWindowSystem& windows, const std::string& text, const std::string& title, const std::exception& e) {
  windows.messageBox(MessageBox{text, title, Buttons::OK, Icon::Critical, e.what()});
}

}  // namespace

MapWindow::MapWindow(HostApplication& app, Extension& extension, QtWindowSystem& windows, QWidget* parent)
    : QMainWindow(parent), app_(app), extension_(extension), windows_(windows) {
  setWindowTitle(QStringLiteral("Quilta Desktop"));
  setObjectName("mapWindow");

  auto* addLayerAction = new QAction(QStringLiteral("&Add Layer..."), this);
  addLayerAction->setObjectName("addLayer");
  addLayerAction->setShortcut(QKeySequence::Open);
  addLayerAction->setToolTip(QStringLiteral("Add a polygon shapefile to the map"));
  connect(addLayerAction, &QAction::triggered, this, &MapWindow::chooseLayer);
  auto* addPostgisAction = new QAction(QStringLiteral("Add &PostGIS Layer..."), this);
  addPostgisAction->setObjectName("addPostgisLayer");
  addPostgisAction->setToolTip(QStringLiteral("Add a polygon table of a PostGIS database to the map"));
  connect(addPostgisAction, &QAction::triggered, this, &MapWindow::choosePostgisLayer);
  auto* quitAction = new QAction(QStringLiteral("E&xit"), this);
  quitAction->setShortcut(QKeySequence::Quit);
  connect(quitAction, &QAction::triggered, this, &QWidget::close);
  auto* unitsAction = new QAction(QStringLiteral("Map &Units..."), this);
  unitsAction->setObjectName("mapUnits");
  connect(unitsAction, &QAction::triggered, this, &MapWindow::editMapUnits);
  editMode_ = new QAction(QStringLiteral("&Edit Mode"), this);
  editMode_->setObjectName("editMode");
  editMode_->setCheckable(true);
  editMode_->setToolTip(QStringLiteral("Start or stop editing the map"));
  connect(editMode_, &QAction::toggled, this, &MapWindow::setEditMode);

  const auto& command = extension_.command;
  command_ = new QAction(QString::fromStdString(command.Caption()), this);
  command_->setObjectName("quiltaCommand");
  command_->setToolTip(QString::fromStdString(command.Tooltip()));
  command_->setStatusTip(QString::fromStdString(command.Message()));
  connect(command_, &QAction::triggered, this, &MapWindow::runCommand);

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->addAction(addLayerAction);
  file->addAction(addPostgisAction);
  file->addSeparator();
  file->addAction(quitAction);
  QMenu* mapMenu = menuBar()->addMenu(QStringLiteral("&Map"));
  mapMenu->addAction(unitsAction);
  QMenu* editor = menuBar()->addMenu(QStringLiteral("&Editor"));
  editor->addAction(editMode_);
  QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
  tools->addAction(command_);

  QToolBar* bar = addToolBar(QStringLiteral("Tools"));
  bar->setObjectName("toolbar");
  bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  bar->setMovable(false);
  bar->addAction(addLayerAction);
  bar->addAction(unitsAction);
  bar->addAction(editMode_);
  bar->addSeparator();
  bar->addAction(command_);

  contents_ = new QListWidget(this);
  contents_->setObjectName("tableOfContents");
  connect(contents_, &QListWidget::currentRowChanged, this, &MapWindow::layerSelected);
  map_ = new MapView(app_.document(), this);
  attributes_ = new AttributeTableModel(this);
  table_ = new QTableView(this);
  table_->setObjectName("attributeTable");
  table_->setModel(attributes_);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setAlternatingRowColors(true);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);

  auto* right = new QSplitter(Qt::Vertical, this);
  right->addWidget(map_);
  right->addWidget(table_);
  right->setStretchFactor(0, 3);
  right->setStretchFactor(1, 2);
  auto* split = new QSplitter(Qt::Horizontal, this);
  split->addWidget(contents_);
  split->addWidget(right);
  split->setStretchFactor(0, 0);
  split->setStretchFactor(1, 1);
  split->setSizes({220, 900});
  setCentralWidget(split);
  // The map's state stays in view; hints of menus and buttons pass over it.
  status_ = new QLabel(this);
  statusBar()->addPermanentWidget(status_, 1);
  resize(1180, 800);
  refresh();
}

bool MapWindow::addLayer(const QString& path) { return addLayer(LayerSource::parse(path.toStdString())); }

bool MapWindow::addLayer(const LayerSource& source) {
  try {
    app_.document().addLayer(source);
  } catch (const std::exception& e) {
    const std::string name = source.kind == LayerSource::Kind::PostGIS
                                 ? source.layer
                                 : QFileInfo(QString::fromStdString(source.location)).fileName().toStdString();
    showFailure(windows_, "The layer " + name + " cannot be added to the map.", "Add Layer", e);
    refresh();
    return false;
  }
  refresh();
  return true;
}

void MapWindow::chooseLayer() {
  auto chosen = windows_.fileDialog(FileDialog{false, 4096, "Shapefile or GeoPackage | *.shp;*.gpkg", ".shp", ""});
  if (!chosen) return;
  if (LayerSource::parse(*chosen).kind != LayerSource::Kind::GeoPackage) {
    addLayer(QString::fromStdString(*chosen));
    return;
  }
  try {
    if (auto source = chooseGeoPackageLayer(this, *chosen)) addLayer(*source);
  } catch (const std::exception& e) {
    showFailure(windows_, "The layer " + QFileInfo(QString::fromStdString(*chosen)).fileName().toStdString() +
                              " cannot be added to the map.",
                "Add Layer", e);
  }
}

void MapWindow::choosePostgisLayer() {
  PostgisDialog dialog(this);
  if (dialog.exec() == QDialog::Accepted)
    if (auto source = dialog.source()) addLayer(*source);
}

void MapWindow::refresh() {
  drawing_ = true;
  MapDocument& document = app_.document();
  FocusMap& map = document.focusMap();
  contents_->clear();
  int current = -1;
  for (int i = 0; i < map.layerCount(); ++i) {
    const PolygonLayer& layer = *map.layer(i);
    auto* item = new QListWidgetItem(QString::fromStdString(layer.name()), contents_);
    item->setToolTip(QString::fromStdString(layer.path().string()));
    if (&layer == document.selectedLayer()) current = i;
  }
  contents_->setCurrentRow(current);
  drawing_ = false;
  map_->reload();
  showAttributes();
  if (Editor* e = app_.findExtension(kEditorId)) {
    const QSignalBlocker block(editMode_);
    editMode_->setChecked(e->editState() == 1);
  }
  command_->setEnabled(extension_.command.Enabled());
  showStatus();
}

void MapWindow::layerSelected(int row) {
  if (drawing_) return;
  FocusMap& map = app_.document().focusMap();
  app_.document().selectItem(row >= 0 && row < map.layerCount() ? map.layer(row).get() : nullptr);
  map_->update();
  showAttributes();
  showStatus();
}

void MapWindow::showAttributes() {
  PolygonLayer* layer = app_.document().selectedLayer();
  attributeFailure_.clear();
  try {
    attributes_->setTable(layer ? &layer->featureTable() : nullptr);
  } catch (const std::exception& e) {
    attributes_->setTable(nullptr);
    attributeFailure_ = QString::fromStdString(std::string("The attribute table cannot be read: ") + e.what());
    return;
  }
  table_->resizeColumnsToContents();
}

void MapWindow::editMapUnits() {
  MapUnitsDialog dialog(app_.document().focusMap(), this);
  if (dialog.exec() == QDialog::Accepted) showStatus();
}

void MapWindow::setEditMode(bool editing) {
  if (Editor* e = app_.findExtension(kEditorId)) e->setEditState(editing ? 1 : 0);
  showStatus();
}

void MapWindow::runCommand() {
  try {
    extension_.command.OnClick();
  } catch (const std::exception& e) {
    showFailure(windows_, "Unexpected error!", kComponentTitle, e);
  }
  // The operations add fields and layers and may select another layer.
  refresh();
}

void MapWindow::showStatus() {
  FocusMap& map = app_.document().focusMap();
  const Editor* e = app_.findExtension(kEditorId);
  QString text = QStringLiteral("Map units: %1    Distance units: %2    %3")
                     .arg(unitsName(map.mapUnits()), unitsName(map.distanceUnits()),
                          e && e->editState() == 1 ? QStringLiteral("Editing") : QStringLiteral("Not editing"));
  if (PolygonLayer* layer = app_.document().selectedLayer())
    text +=
        QStringLiteral("    %1: %2 features").arg(QString::fromStdString(layer->name())).arg(attributes_->rowCount());
  if (!attributeFailure_.isEmpty()) text += QStringLiteral("    ") + attributeFailure_;
  status_->setText(text);
}

}  // namespace quilta::desktop
