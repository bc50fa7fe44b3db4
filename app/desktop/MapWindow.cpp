#include "app/desktop/MapWindow.h"

#include <algorithm>
#include <exception>

#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QFileInfo>
#include <QHeaderView>
#include <QImageWriter>
#include <QItemSelection>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/desktop/AttributeTableModel.h"
#include "app/desktop/MapRenderer.h"
#include "app/desktop/LayerSourceDialogs.h"
#include "app/desktop/MapUnitsDialog.h"
#include "app/desktop/MapView.h"
#include "app/desktop/QtWindowSystem.h"
#include "app/desktop/StylePanel.h"
#include "host/HostApplication.h"
#include "map/Identify.h"
#include "metrics/Extension.h"
#include "session/NumberText.h"

namespace quilta::desktop {
namespace {

constexpr const char* kEditorId = "vexaEditor.Editor";
// Legend entries listed under a layer; the rest are counted.
constexpr std::size_t kLegendLines = 100;
// Buttons of the tool window that change nothing in the layers.
const std::set<std::string> kViewOnlyButtons = {"cmdAbout", "cmdHelp", "cmdVETRIX", "cmdCancel", "cmdClose",
                                                "imgMOLT",  "imgBRIM", "imgKVAR"};

void showFailure(QtWindowSystem& windows, const std::string& text, const std::string& title, const std::exception& e) {
  windows.messageBox(MessageBox{text, title, Buttons::OK, Icon::Critical, e.what()});
}

QIcon swatch(const map::Symbol& symbol) {
  QPixmap pixmap(18, 12);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  drawSwatch(painter, QRectF(0.5, 0.5, 17, 11), symbol);
  return QIcon(pixmap);
}

std::vector<std::string> attributeFields(FeatureTable& table) {
  std::vector<std::string> names;
  for (int i = 2; i < table.fieldCount(); ++i) names.push_back(table.field(i).name);
  return names;
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
  auto* exportAction = new QAction(QStringLiteral("E&xport Map Image..."), this);
  exportAction->setObjectName("exportMap");
  exportAction->setToolTip(QStringLiteral("Save the map with its legend and scale bar as a PNG image"));
  connect(exportAction, &QAction::triggered, this, &MapWindow::chooseExportFile);
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
  file->addAction(exportAction);
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

  contents_ = new QTreeWidget(this);
  contents_->setObjectName("tableOfContents");
  contents_->setHeaderHidden(true);
  contents_->setIndentation(14);
  contents_->setIconSize(QSize(18, 12));
  connect(contents_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { layerSelected(item); });
  connect(contents_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) { layerChecked(item); });
  style_ = new StylePanel(this);
  connect(style_, &StylePanel::styleChosen, this, &MapWindow::styleChosen);
  map_ = new MapView(app_.document(), this);
  connect(map_, &MapView::clicked, this, [this](QPointF p) { identifyAt(p); });
  connect(map_, &MapView::pointerMoved, this, [this](QPointF p) {
    pointer_ = QStringLiteral("x %1  y %2").arg(QString::fromStdString(text::withDecimals(p.x(), 2)),
                                                QString::fromStdString(text::withDecimals(p.y(), 2)));
    showStatus();
  });
  attributes_ = new AttributeTableModel(this);
  table_ = new QTableView(this);
  table_->setObjectName("attributeTable");
  table_->setModel(attributes_);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setAlternatingRowColors(true);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  // A header click sorts by that column; identifier order to begin with.
  table_->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
  table_->setSortingEnabled(true);

  auto* left = new QSplitter(Qt::Vertical, this);
  left->addWidget(contents_);
  left->addWidget(style_);
  left->setStretchFactor(0, 1);
  left->setStretchFactor(1, 0);
  auto* right = new QSplitter(Qt::Vertical, this);
  right->addWidget(map_);
  right->addWidget(table_);
  right->setStretchFactor(0, 3);
  right->setStretchFactor(1, 2);
  auto* split = new QSplitter(Qt::Horizontal, this);
  split->addWidget(left);
  split->addWidget(right);
  split->setStretchFactor(0, 0);
  split->setStretchFactor(1, 1);
  split->setSizes({240, 900});
  setCentralWidget(split);

  identify_ = new QTreeWidget(this);
  identify_->setObjectName("identifyResults");
  identify_->setColumnCount(2);
  identify_->setHeaderLabels({QStringLiteral("Field"), QStringLiteral("Value")});
  identify_->setRootIsDecorated(false);
  auto* dock = new QDockWidget(QStringLiteral("Identify"), this);
  dock->setObjectName("identifyDock");
  dock->setWidget(identify_);
  dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  addDockWidget(Qt::RightDockWidgetArea, dock);

  createMapActions();
  // Every operation of the tool window shows in the map and the table at
  // once, while the window stays open.
  windows_.setAfterClick([this](const WindowModel& window, const std::string& control) {
    if (window.name() == "frmMain" && window.open && !kViewOnlyButtons.count(control)) afterToolClick(control);
  });

  // The map's state stays in view; hints of menus and buttons pass over it.
  status_ = new QLabel(this);
  statusBar()->addPermanentWidget(status_, 1);
  resize(1280, 820);
  refresh();
}

MapWindow::~MapWindow() { windows_.setAfterClick({}); }

void MapWindow::createMapActions() {
  auto* zoomLayer = new QAction(QStringLiteral("Zoom to &Layer"), this);
  zoomLayer->setObjectName("zoomLayer");
  zoomLayer->setToolTip(QStringLiteral("Show the whole selected layer"));
  connect(zoomLayer, &QAction::triggered, this, &MapWindow::zoomToLayer);
  auto* zoomSelection = new QAction(QStringLiteral("Zoom to &Selection"), this);
  zoomSelection->setObjectName("zoomSelection");
  zoomSelection->setToolTip(QStringLiteral("Show the selected features of the selected layer"));
  connect(zoomSelection, &QAction::triggered, this, &MapWindow::zoomToSelection);
  auto* zoomIn = new QAction(QStringLiteral("Zoom &In"), this);
  zoomIn->setShortcut(QKeySequence::ZoomIn);
  connect(zoomIn, &QAction::triggered, this, [this] { map_->zoomAt(QRectF(map_->rect()).center(), 2); });
  auto* zoomOut = new QAction(QStringLiteral("Zoom &Out"), this);
  zoomOut->setShortcut(QKeySequence::ZoomOut);
  connect(zoomOut, &QAction::triggered, this, [this] { map_->zoomAt(QRectF(map_->rect()).center(), 0.5); });
  for (QMenu* menu : menuBar()->findChildren<QMenu*>())
    if (menu->title() == QStringLiteral("&Map")) {
      menu->addSeparator();
      menu->addActions({zoomLayer, zoomSelection, zoomIn, zoomOut});
    }
  if (auto* bar = findChild<QToolBar*>("toolbar")) {
    QAction* before = bar->actions().value(bar->actions().size() - 2);  // the separator before the command
    bar->insertSeparator(before);
    bar->insertActions(before, {zoomLayer, zoomSelection});
  }
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

void MapWindow::chooseExportFile() {
  auto chosen = windows_.fileDialog(FileDialog{true, 2, "PNG image | *.png", ".png", "map"});
  if (chosen) exportMapImage(QString::fromStdString(*chosen));
}

bool MapWindow::exportMapImage(const QString& path) {
  QImageWriter writer(path, "png");
  if (writer.write(map_->exportImage())) return true;
  windows_.messageBox(MessageBox{"The map image " + QFileInfo(path).fileName().toStdString() + " cannot be written.",
                                 "Export Map Image", Buttons::OK, Icon::Critical,
                                 path.toStdString() + ": " + writer.errorString().toStdString()});
  return false;
}

map::Style MapWindow::styleOf(const PolygonLayer* layer) const {
  auto it = layers_.find(layer);
  return it == layers_.end() ? map::Style{} : it->second.style;
}

void MapWindow::setStyle(const PolygonLayer* layer, const map::Style& style) {
  FocusMap& map = app_.document().focusMap();
  for (int i = 0; i < map.layerCount(); ++i) {
    if (map.layer(i).get() != layer) continue;
    LayerState& state = layers_[layer];
    state.style = style;
    state.chosen = true;
    restyle(*map.layer(i));
    showContents();
    showStyle();
    showStatus();
  }
}

void MapWindow::styleChosen(const map::Style& style) {
  if (PolygonLayer* layer = app_.document().selectedLayer()) setStyle(layer, style);
}

void MapWindow::restyle(PolygonLayer& layer) {
  LayerState& state = layers_[&layer];
  FeatureTable& table = layer.featureTable();
  const std::vector<std::string> fields = attributeFields(table);
  // The fields an operation (or another program) added since the last look
  // are offered as new; the first look at a layer offers none.
  if (state.seen) {
    std::set<std::string> added;
    for (const auto& f : fields)
      if (std::find(state.fields.begin(), state.fields.end(), f) == state.fields.end()) added.insert(f);
    if (!added.empty() || fields != state.fields) state.newFields = std::move(added);
  }
  state.fields = fields;
  state.seen = true;
  // Once the tool knows the class field of this layer, an unstyled layer
  // shows its classes.
  const SessionState& session = extension_.workbench.session;
  if (!state.chosen && !session.classFieldName.empty() && session.classFieldName != kNoClassField &&
      &layer == app_.document().selectedLayer() && table.findField(session.classFieldName) >= 2) {
    state.style = map::Style{map::StyleKind::Categories, session.classFieldName};
    state.chosen = true;
  }
  map::Style style = state.style;
  try {
    map_->setSymbology(&layer, map::symbolize(table, style, map_->singleColour(&layer)));
    styleNote_.clear();
  } catch (const std::exception& e) {
    // The field is gone (deleted) or no longer fits: one colour until it
    // comes back; the choice itself is kept.
    styleNote_ = QString::fromStdString(layer.name() + ": " + e.what());
    try {
      map_->setSymbology(&layer, map::symbolize(table, map::Style{}, map_->singleColour(&layer)));
    } catch (const std::exception&) {
    }
  }
}

void MapWindow::refresh() {
  map_->reload();
  FocusMap& map = app_.document().focusMap();
  for (int i = 0; i < map.layerCount(); ++i) restyle(*map.layer(i));
  showContents();
  showStyle();
  showAttributes();
  showIdentified();
  if (Editor* e = app_.findExtension(kEditorId)) {
    const QSignalBlocker block(editMode_);
    editMode_->setChecked(e->editState() == 1);
  }
  command_->setEnabled(extension_.command.Enabled());
  showStatus();
}

void MapWindow::afterToolClick(const std::string&) {
  refresh();
  // Paint now: the tool window is modal and the next click may start a long
  // operation before the event loop comes back here.
  map_->repaint();
}

void MapWindow::showContents() {
  drawing_ = true;
  MapDocument& document = app_.document();
  FocusMap& map = document.focusMap();
  std::map<const PolygonLayer*, bool> expanded, hidden;
  for (int i = 0; i < contents_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = contents_->topLevelItem(i);
    if (const PolygonLayer* layer = layerOfItem(item)) {
      expanded[layer] = item->isExpanded();
      hidden[layer] = item->checkState(0) == Qt::Unchecked;
    }
  }
  contents_->clear();
  QTreeWidgetItem* current = nullptr;
  for (int i = 0; i < map.layerCount(); ++i) {
    const PolygonLayer& layer = *map.layer(i);
    auto* item = new QTreeWidgetItem(contents_, {QString::fromStdString(layer.name())});
    item->setData(0, Qt::UserRole, i);
    item->setToolTip(0, QString::fromStdString(layer.source().display()));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, hidden[&layer] ? Qt::Unchecked : Qt::Checked);
    if (const map::Symbology* s = map_->symbology(&layer)) {
      if (s->style.kind == map::StyleKind::Single) {
        if (!s->legend.empty()) item->setIcon(0, swatch(s->legend.front().symbol));
      } else {
        auto* field = new QTreeWidgetItem(item, {QString::fromStdString(s->style.field)});
        field->setFlags(Qt::ItemIsEnabled);
        QFont italic = field->font(0);
        italic.setItalic(true);
        field->setFont(0, italic);
        for (std::size_t e = 0; e < s->legend.size() && e < kLegendLines; ++e) {
          const map::LegendEntry& entry = s->legend[e];
          auto* line = new QTreeWidgetItem(
              item, {QString::fromStdString(entry.label) + QStringLiteral("  (%1)").arg(entry.patches)});
          line->setIcon(0, swatch(entry.symbol));
          line->setFlags(Qt::ItemIsEnabled);
        }
        if (s->legend.size() > kLegendLines) {
          auto* more = new QTreeWidgetItem(
              item, {QStringLiteral("... %1 more classes").arg(s->legend.size() - kLegendLines)});
          more->setFlags(Qt::ItemIsEnabled);
        }
      }
    }
    item->setExpanded(expanded.count(&layer) ? expanded[&layer] : true);
    map_->setLayerVisible(&layer, !hidden[&layer]);
    if (&layer == document.selectedLayer()) current = item;
  }
  contents_->setCurrentItem(current);
  drawing_ = false;
}

PolygonLayer* MapWindow::layerOfItem(QTreeWidgetItem* item) const {
  while (item && item->parent()) item = item->parent();
  if (!item) return nullptr;
  FocusMap& map = app_.document().focusMap();
  const int row = item->data(0, Qt::UserRole).toInt();
  return row >= 0 && row < map.layerCount() ? map.layer(row).get() : nullptr;
}

void MapWindow::layerSelected(QTreeWidgetItem* item) {
  if (drawing_) return;
  PolygonLayer* layer = layerOfItem(item);
  if (layer == app_.document().selectedLayer()) return;
  app_.document().selectItem(layer);
  showStyle();
  showAttributes();
  showStatus();
}

void MapWindow::layerChecked(QTreeWidgetItem* item) {
  if (drawing_ || item->parent()) return;
  map_->setLayerVisible(layerOfItem(item), item->checkState(0) == Qt::Checked);
}

void MapWindow::showStyle() {
  PolygonLayer* layer = app_.document().selectedLayer();
  if (!layer) return style_->clear();
  const LayerState& state = layers_[layer];
  FeatureTable& table = layer->featureTable();
  std::vector<StylePanel::FieldChoice> fields;
  try {
    for (int i = 2; i < table.fieldCount(); ++i) {
      const FieldInfo f = table.field(i);
      fields.push_back({f.name, map::isNumericField(f.type), state.newFields.count(f.name) > 0});
    }
  } catch (const std::exception&) {
    return style_->clear();
  }
  const std::string& classField = extension_.workbench.session.classFieldName;
  style_->showStyle(state.style, std::move(fields), classField == kNoClassField ? std::string() : classField);
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
  showSelectionInTable();
}

void MapWindow::showSelectionInTable() {
  PolygonLayer* layer = app_.document().selectedLayer();
  QItemSelection rows;
  if (layer) {
    std::vector<int> selected;
    for (std::int64_t oid : layer->selection().oids())
      if (int r = attributes_->rowOf(oid); r >= 0) selected.push_back(r);
    std::sort(selected.begin(), selected.end());
    const int last = attributes_->columnCount() - 1;
    for (std::size_t i = 0; i < selected.size();) {
      std::size_t j = i;
      while (j + 1 < selected.size() && selected[j + 1] == selected[j] + 1) ++j;
      rows.select(attributes_->index(selected[i], 0), attributes_->index(selected[j], last));
      i = j + 1;
    }
  }
  table_->selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect);
  if (!rows.isEmpty()) table_->scrollTo(rows.first().topLeft());
}

bool MapWindow::identifyAt(const QPointF& mapPoint) {
  std::vector<PolygonLayer*> candidates;
  if (PolygonLayer* selected = app_.document().selectedLayer()) candidates.push_back(selected);
  FocusMap& map = app_.document().focusMap();
  for (int i = 0; i < map.layerCount(); ++i)
    if (std::find(candidates.begin(), candidates.end(), map.layer(i).get()) == candidates.end())
      candidates.push_back(map.layer(i).get());
  for (PolygonLayer* layer : candidates) {
    if (layer != app_.document().selectedLayer() && !map_->layerVisible(layer)) continue;
    try {
      auto& finder = finders_[layer];
      if (!finder) finder = std::make_unique<map::PatchFinder>(layer->featureTable());
      if (auto oid = finder->patchAt(mapPoint.x(), mapPoint.y())) {
        map_->setHighlight(MapView::Highlight{layer, *oid, map::recordedNeighbour(layer->featureTable(), *oid)});
        showIdentified();
        return true;
      }
    } catch (const std::exception& e) {
      styleNote_ = QString::fromStdString(layer->name() + ": " + e.what());
    }
  }
  map_->setHighlight(std::nullopt);
  showIdentified();
  return false;
}

void MapWindow::showIdentified() {
  identify_->clear();
  const auto& h = map_->highlight();
  if (!h) {
    auto* hint = new QTreeWidgetItem({QStringLiteral("Click a patch on the map"), QString()});
    identify_->addTopLevelItem(hint);
    hint->setFirstColumnSpanned(true);
    return;
  }
  // The values as they are now: an operation may have written them since.
  PolygonLayer* layer = nullptr;
  FocusMap& map = app_.document().focusMap();
  for (int i = 0; i < map.layerCount(); ++i)
    if (map.layer(i).get() == h->layer) layer = map.layer(i).get();
  if (!layer) return;
  try {
    FeatureTable& table = layer->featureTable();
    auto* title = new QTreeWidgetItem({QStringLiteral("Layer"), QString::fromStdString(layer->name())});
    identify_->addTopLevelItem(title);
    for (const map::Attribute& a : map::attributesOf(table, h->patch)) {
      QString value = QString::fromStdString(a.text);
      if (a.noValue) value += value.isEmpty() ? QStringLiteral("(no value)") : QStringLiteral("  (no value)");
      identify_->addTopLevelItem(new QTreeWidgetItem({QString::fromStdString(a.field), value}));
    }
    const auto neighbour = map::recordedNeighbour(table, h->patch);
    auto* nn = new QTreeWidgetItem(
        {QStringLiteral("Nearest neighbour"),
         neighbour ? QStringLiteral("FID %1, %2 away (blue)")
                         .arg(neighbour->oid)
                         .arg(QString::fromStdString(text::withDecimals(neighbour->length, 2)))
                   : QStringLiteral("none recorded")});
    identify_->addTopLevelItem(nn);
    if ((neighbour.has_value() != h->neighbour.has_value()) ||
        (neighbour && h->neighbour && neighbour->oid != h->neighbour->oid))
      map_->setHighlight(MapView::Highlight{h->layer, h->patch, neighbour});
  } catch (const std::exception& e) {
    identify_->addTopLevelItem(new QTreeWidgetItem({QStringLiteral("Error"), QString::fromUtf8(e.what())}));
  }
  identify_->resizeColumnToContents(0);
}

void MapWindow::zoomToLayer() {
  if (!map_->zoomToLayer(app_.document().selectedLayer())) statusBar()->showMessage(QStringLiteral("Nothing to show"), 3000);
}

void MapWindow::zoomToSelection() {
  if (!map_->zoomToSelection(app_.document().selectedLayer()))
    statusBar()->showMessage(QStringLiteral("The selected layer has no selected features"), 3000);
}

void MapWindow::editMapUnits() {
  MapUnitsDialog dialog(app_.document().focusMap(), this);
  if (dialog.exec() == QDialog::Accepted) {
    showStatus();
    map_->update();  // the scale bar's units
  }
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
  if (!pointer_.isEmpty()) text += QStringLiteral("    ") + pointer_;
  if (!attributeFailure_.isEmpty()) text += QStringLiteral("    ") + attributeFailure_;
  if (!styleNote_.isEmpty()) text += QStringLiteral("    ") + styleNote_;
  status_->setText(text);
}

}  // namespace quilta::desktop
