// The map as the user handles it: the wheel zooms about the cursor, a drag
// pans, a click identifies the patch under it (not in its hole) with its
// recorded nearest neighbour, a selection shows on the map and in the table,
// and the exported image carries the legend and the scale bar.

#include <QAbstractButton>
#include <QAction>
#include <QImageReader>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QTableView>
#include <QTreeWidget>

#include <set>

#include "app/desktop/AttributeTableModel.h"
#include "tests/desktop/MapFixture.h"

namespace quilta {
namespace {

class MapViewTest : public test::MapTest {
 protected:
  // The text of the Identify panel's row for `field`.
  QString identified(const QString& field) const {
    auto* panel = window->findChild<QTreeWidget*>("identifyResults");
    for (int i = 0; i < panel->topLevelItemCount(); ++i)
      if (panel->topLevelItem(i)->text(0) == field) return panel->topLevelItem(i)->text(1);
    return QStringLiteral("<no row %1>").arg(field);
  }
};

TEST_F(MapViewTest, WheelZoomsAboutTheCursorAndDragPans) {
  desktop::MapView& view = openWindow();
  const QPointF cursor(200, 150);
  const QPointF under = *view.toMap(cursor);
  const double scale = view.viewport().scale();
  test::MapTest::wheel(&view, cursor, 2);
  EXPECT_NEAR(view.viewport().scale(), scale * 1.5625, 1e-9 * scale);  // 1.25 per notch
  EXPECT_NEAR(view.toMap(cursor)->x(), under.x(), 1e-9);
  EXPECT_NEAR(view.toMap(cursor)->y(), under.y(), 1e-9);
  test::MapTest::wheel(&view, cursor, -1);
  EXPECT_NEAR(view.toMap(cursor)->x(), under.x(), 1e-9);

  // The map point under the pointer goes where the pointer goes.
  const QPointF grabbed = *view.toMap(QPointF(100, 100));
  test::MapTest::drag(&view, QPointF(100, 100), QPointF(160, 70));
  EXPECT_NEAR(view.toWidget(grabbed)->x(), 160, 1e-6);
  EXPECT_NEAR(view.toWidget(grabbed)->y(), 70, 1e-6);
  EXPECT_FALSE(view.highlight());  // a drag identifies nothing

  // Zoom to layer brings the whole layer back.
  window->findChild<QAction*>("zoomLayer")->trigger();
  const map::Box shown = view.viewport().visibleBox();
  EXPECT_LE(shown.minX, 0);
  EXPECT_GE(shown.maxX, 16);
  EXPECT_GE(shown.maxY, 16);
}

TEST_F(MapViewTest, ClickIdentifiesThePatchAndItsNearestNeighbourButNotTheHole) {
  desktop::MapView& view = openWindow();
  test::MapTest::click(&view, *view.toWidget({1, 5}));
  ASSERT_TRUE(view.highlight());
  EXPECT_EQ(view.highlight()->patch, 0);
  ASSERT_TRUE(view.highlight()->neighbour);
  EXPECT_EQ(view.highlight()->neighbour->oid, 1);
  EXPECT_DOUBLE_EQ(view.highlight()->neighbour->length, 2);  // from x 10 to x 12
  EXPECT_EQ(identified("FID"), "0");
  EXPECT_EQ(identified("cover"), "forest");
  EXPECT_EQ(identified("NNDist"), "2");
  EXPECT_TRUE(identified("Nearest neighbour").startsWith("FID 1, 2.00 away")) << identified("Nearest neighbour").toStdString();

  // The highlight is drawn: the patch tinted red, the neighbour blue, the
  // link between them dark.
  const QImage image = view.grab().toImage();
  const QColor base = desktop::toQColor(view.symbology(layer)->legend[0].symbol.fill);
  const QColor patch = test::MapTest::pixel(image, view, 1, 5), neighbour = test::MapTest::pixel(image, view, 14, 2.5);
  EXPECT_GT(patch.red(), base.red() + 10) << patch.name().toStdString();
  EXPECT_LT(patch.blue(), base.blue() - 10) << patch.name().toStdString();
  EXPECT_GT(neighbour.blue(), base.blue() + 10) << neighbour.name().toStdString();
  EXPECT_LT(neighbour.red(), base.red() - 10) << neighbour.name().toStdString();
  const auto& link = *view.highlight()->neighbour;
  EXPECT_LT(test::MapTest::pixel(image, view, 0.5 * (link.from.x + link.to.x), 0.5 * (link.from.y + link.to.y))
                .lightness(),
            80);

  // In the hole: nothing there.
  test::MapTest::click(&view, *view.toWidget({5, 5}));
  EXPECT_FALSE(view.highlight());
  EXPECT_EQ(identified("Click a patch on the map"), "");
  // Alone in its class: identified, but no neighbour recorded.
  test::MapTest::click(&view, *view.toWidget({2, 14}));
  ASSERT_TRUE(view.highlight());
  EXPECT_EQ(view.highlight()->patch, 2);
  EXPECT_FALSE(view.highlight()->neighbour);
  EXPECT_EQ(identified("NNDist"), "-999  (no value)");
  EXPECT_EQ(identified("Nearest neighbour"), "none recorded");
}

TEST_F(MapViewTest, SelectionShowsOnTheMapAndInTheTable) {
  desktop::MapView& view = openWindow();
  const QColor before = test::MapTest::pixel(view.grab().toImage(), view, 14, 2);
  layer->selection().replace({1, 4});
  window->refresh();
  const QImage image = view.grab().toImage();
  const QColor after = test::MapTest::pixel(image, view, 14, 2);
  EXPECT_NE(after, before);
  EXPECT_GT(after.red() + after.green(), 2 * after.blue() + 100) << after.name().toStdString();  // yellowish
  auto* table = window->findChild<QTableView*>("attributeTable");
  auto* model = static_cast<desktop::AttributeTableModel*>(table->model());
  const QModelIndexList rows = table->selectionModel()->selectedRows();
  ASSERT_EQ(rows.size(), 2);
  std::set<std::int64_t> oids;
  for (const QModelIndex& r : rows) oids.insert(model->oidAt(r.row()));
  EXPECT_EQ(oids, (std::set<std::int64_t>{1, 4}));
  // Zoom to the selection: both selected patches in view, closer than the
  // whole layer.
  window->findChild<QAction*>("zoomLayer")->trigger();
  const double wholeLayer = view.viewport().scale();
  window->findChild<QAction*>("zoomSelection")->trigger();
  const map::Box shown = view.viewport().visibleBox();
  EXPECT_LE(shown.minX, 8);
  EXPECT_GE(shown.maxX, 16);
  EXPECT_LE(shown.minY, 0);
  EXPECT_GE(shown.maxY, 13);
  EXPECT_GT(view.viewport().scale(), wholeLayer * 1.1);
}

TEST_F(MapViewTest, ExportedImageHasTheMapTheLegendAndTheScaleBar) {
  desktop::MapView& view = openWindow();
  window->setStyle(layer, map::Style{map::StyleKind::Graduated, "NNDist", map::BreakMethod::Quantiles, 5});
  const auto path = dir / "map.png";
  QString failure;
  ASSERT_TRUE(window->exportMapImage(QString::fromStdString(path.string())));
  QImageReader reader(QString::fromStdString(path.string()));
  EXPECT_EQ(reader.format(), "png");
  const QImage image = reader.read();
  ASSERT_FALSE(image.isNull());
  EXPECT_GT(image.width(), view.width());  // the legend beside the map
  EXPECT_GE(image.height(), view.height());
  // Every legend colour appears in the legend column; the darkest class too.
  auto legendHas = [&](const QColor& c) {
    for (int y = 0; y < image.height(); ++y)
      for (int x = view.width(); x < image.width(); ++x)
        if (image.pixelColor(x, y) == c) return true;
    return false;
  };
  for (const map::LegendEntry& e : view.symbology(layer)->legend)
    EXPECT_TRUE(legendHas(desktop::toQColor(e.symbol.fill))) << e.label;
  // The scale bar: dark pixels in the bottom left corner of the map.
  int dark = 0;
  for (int y = view.height() - 40; y < view.height(); ++y)
    for (int x = 0; x < 200; ++x) dark += image.pixelColor(x, y).lightness() < 60;
  EXPECT_GT(dark, 50);
  // A folder that does not exist: the cause is shown, nothing is written.
  test::whenShown("QMessageBox", [&](QWidget* w) {
    failure = static_cast<QMessageBox*>(w)->text();
    test::MapTest::pressOk(w);
  });
  EXPECT_FALSE(window->exportMapImage(QString::fromStdString((dir / "missing" / "map.png").string())));
  EXPECT_EQ(failure, "The map image map.png cannot be written.");
}

}  // namespace
}  // namespace quilta
