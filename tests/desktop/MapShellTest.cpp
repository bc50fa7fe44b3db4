// The map shell: layers drawn on the map with their holes, the attribute
// table, the map units, the edit mode and the command button that opens the
// tool.

#include <QAction>
#include <QComboBox>
#include <QLineF>
#include <QTreeWidget>
#include <QMessageBox>

#include "app/desktop/AttributeTableModel.h"
#include "app/desktop/MapUnitsDialog.h"
#include "app/desktop/MapView.h"
#include "app/desktop/MapWindow.h"
#include "app/desktop/QtWindowSystem.h"
#include "host/HostApplication.h"
#include "metrics/Extension.h"
#include "tests/desktop/DesktopFixture.h"
#include "tests/support/Fixtures.h"

namespace quilta {
namespace {

using test::rect;

class MapShellTest : public test::DesktopTest {
 protected:
  test::TempDir dir;
  HostApplication host;
  desktop::QtWindowSystem ws;

  // A 10 x 10 patch of forest with a 2 x 2 hole, and a unit square of water
  // beside it.
  std::filesystem::path patches() {
    auto shp = dir / "patches.shp";
    test::writeShapefile(shp, {{"cover", 'S', 12}},
                         {{"POLYGON((0 0,10 0,10 10,0 10,0 0),(4 4,6 4,6 6,4 6,4 4))", {std::string("forest")}},
                          {rect(12, 0, 13, 1), {std::string("water")}}});
    return shp;
  }
  static QColor pixel(const QImage& image, const desktop::MapView& view, double x, double y) {
    auto at = view.toWidget(QPointF(x, y));
    if (!at) return {};
    return image.pixelColor(at->toPoint());
  }
  // Answers the next message box with OK and keeps what it showed.
  static void acceptMessage(QString* text, QString* detail = nullptr) {
    test::whenShown("QMessageBox", [text, detail](QWidget* w) {
      auto* box = static_cast<QMessageBox*>(w);
      *text = box->text();
      if (detail) *detail = box->detailedText();
      box->button(QMessageBox::Ok)->click();
    });
  }
};

TEST_F(MapShellTest, MapDrawsPatchesAndLeavesHolesOpen) {
  host.document().addShapefile(patches());
  desktop::MapView view(host.document());
  view.resize(300, 200);
  view.reload();
  const QImage image = view.grab().toImage();
  const QColor background = view.palette().color(QPalette::Window);
  const QColor patch = pixel(image, view, 2, 2);
  EXPECT_NE(patch, background);
  EXPECT_EQ(pixel(image, view, 12.5, 0.5), patch);   // the same layer, the same fill
  EXPECT_EQ(pixel(image, view, 5, 5), background);   // the hole
  EXPECT_EQ(pixel(image, view, 11, 8), background);  // between the patches
  // North up: the map's top edge is nearer the widget's top.
  EXPECT_LT(view.toWidget({2, 9})->y(), view.toWidget({2, 1})->y());
}

TEST_F(MapShellTest, MapShowsTheSelectedLayersExtentThenZoomsToALayer) {
  PolygonLayer& near = host.document().addShapefile(patches());
  test::writeShapefile(dir / "far.shp", {{"cover", 'S', 12}}, {{rect(5000, 5000, 5004, 5002), {std::string("x")}}});
  host.document().addShapefile(dir / "far.shp");  // selected
  desktop::MapView view(host.document());
  view.resize(300, 200);
  view.reload();
  const QPointF centre(150, 100);
  EXPECT_LT(QLineF(*view.toWidget({5002, 5001}), centre).length(), 1.0);
  // Selecting another layer keeps the view; zooming to it shows it.
  host.document().selectItem(&near);
  EXPECT_LT(QLineF(*view.toWidget({5002, 5001}), centre).length(), 1.0);
  ASSERT_TRUE(view.zoomToLayer(&near));
  EXPECT_LT(QLineF(*view.toWidget({6.5, 5}), centre).length(), 1.0);  // the bounds 0..13 x 0..10
}

TEST_F(MapShellTest, TopLayerIsDrawnAboveTheLayersUnderIt) {
  PolygonLayer& below = host.document().addShapefile(patches());
  test::writeShapefile(dir / "cores.shp", {{"Orig_ID", 'I', 8}}, {{rect(1, 1, 3, 3), {std::int64_t{0}}}});
  PolygonLayer& above = host.document().addShapefile(dir / "cores.shp");  // on top, as a core area layer is
  host.document().selectItem(&below);
  desktop::MapView view(host.document());
  view.resize(300, 200);
  view.reload();
  const QImage image = view.grab().toImage();
  EXPECT_EQ(pixel(image, view, 2, 2), desktop::toQColor(view.symbology(&above)->legend[0].symbol.fill));
  EXPECT_EQ(pixel(image, view, 8, 8), desktop::toQColor(view.symbology(&below)->legend[0].symbol.fill));
}

TEST_F(MapShellTest, AttributeTableShowsFieldsInHostOrderReadOnly) {
  PolygonLayer& layer = host.document().addShapefile(patches());
  desktop::AttributeTableModel model;
  model.setTable(&layer.featureTable());
  ASSERT_EQ(model.columnCount(), 3);
  ASSERT_EQ(model.rowCount(), 2);
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "FID");
  EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Shape");
  EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), "cover");
  EXPECT_EQ(model.data(model.index(1, 0)).toString(), "1");
  EXPECT_EQ(model.data(model.index(0, 1)).toString(), "Polygon");
  EXPECT_EQ(model.data(model.index(1, 2)).toString(), "water");
  EXPECT_FALSE(model.flags(model.index(0, 2)) & Qt::ItemIsEditable);
  // A field added by an operation shows after the table is read again.
  layer.featureTable().addField("Area", kDouble);
  model.setTable(&layer.featureTable());
  EXPECT_EQ(model.headerData(3, Qt::Horizontal).toString(), "Area");
}

TEST_F(MapShellTest, AttributeTableSortsByAColumnAndKeepsTheSortWhenReadAgain) {
  PolygonLayer& layer = host.document().addShapefile(patches());
  desktop::AttributeTableModel model;
  model.setTable(&layer.featureTable());
  model.sort(2, Qt::DescendingOrder);  // cover: water before forest
  EXPECT_EQ(model.data(model.index(0, 2)).toString(), "water");
  EXPECT_EQ(model.oidAt(0), 1);
  EXPECT_EQ(model.rowOf(0), 1);
  layer.featureTable().addField("Area", kDouble);
  model.setTable(&layer.featureTable());
  EXPECT_EQ(model.data(model.index(0, 2)).toString(), "water");
  model.sort(0, Qt::AscendingOrder);
  EXPECT_EQ(model.oidAt(0), 0);
}

TEST_F(MapShellTest, MapUnitsDialogSetsBothUnitsCodes) {
  FocusMap& map = host.document().focusMap();
  desktop::MapUnitsDialog dialog(map);
  auto* mapUnits = dialog.findChild<QComboBox*>("mapUnits");
  auto* distanceUnits = dialog.findChild<QComboBox*>("distanceUnits");
  ASSERT_NE(mapUnits, nullptr);
  ASSERT_NE(distanceUnits, nullptr);
  EXPECT_EQ(mapUnits->currentText(), "Undefined");
  mapUnits->setCurrentIndex(mapUnits->findText("Feet"));
  distanceUnits->setCurrentIndex(distanceUnits->findText("Meters"));
  dialog.accept();
  EXPECT_EQ(map.mapUnits(), kFeet);
  EXPECT_EQ(map.distanceUnits(), kMeters);
}

TEST_F(MapShellTest, LayerThatCannotBeOpenedIsReportedWithItsCause) {
  Extension ext(host, ws, dir.path());
  desktop::MapWindow window(host, ext, ws);
  ws.setOwner(&window);
  QString text, detail;
  acceptMessage(&text, &detail);
  EXPECT_FALSE(window.addLayer(QString::fromStdString((dir / "missing.shp").string())));
  EXPECT_EQ(text, "The layer missing.shp cannot be added to the map.");
  EXPECT_TRUE(detail.contains("missing.shp")) << detail.toStdString();
  EXPECT_FALSE(window.findChild<QAction*>("quiltaCommand")->isEnabled());  // the map is empty
}

TEST_F(MapShellTest, AddedLayerIsListedSelectedAndEnablesTheCommand) {
  Extension ext(host, ws, dir.path());
  desktop::MapWindow window(host, ext, ws);
  ws.setOwner(&window);
  ASSERT_TRUE(window.addLayer(QString::fromStdString(patches().string())));
  auto* contents = window.findChild<QTreeWidget*>("tableOfContents");
  ASSERT_EQ(contents->topLevelItemCount(), 1);
  EXPECT_EQ(contents->topLevelItem(0)->text(0), "patches");
  EXPECT_EQ(contents->currentItem(), contents->topLevelItem(0));
  auto* command = window.findChild<QAction*>("quiltaCommand");
  EXPECT_TRUE(command->isEnabled());
  EXPECT_EQ(command->text(), "Quilta 1.1");
  EXPECT_EQ(command->toolTip(), "Quilta Workbench");
}

TEST_F(MapShellTest, CommandInEditModeRefusesWithTheHostsMessage) {
  Extension ext(host, ws, dir.path());
  desktop::MapWindow window(host, ext, ws);
  ws.setOwner(&window);
  ASSERT_TRUE(window.addLayer(QString::fromStdString(patches().string())));
  window.findChild<QAction*>("editMode")->trigger();
  EXPECT_EQ(host.findExtension("vexaEditor.Editor")->editState(), 1);
  QString text;
  acceptMessage(&text);
  window.findChild<QAction*>("quiltaCommand")->trigger();
  EXPECT_EQ(text, "This tool requires that Plotvane is not in edit mode");
  EXPECT_EQ(host.currentTool(), "none");
}

}  // namespace
}  // namespace quilta
