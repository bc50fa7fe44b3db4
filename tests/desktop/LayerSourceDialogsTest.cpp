// File > Add Layer beyond shapefiles: a GeoPackage layer chosen in a list when
// the file holds several, and a PostGIS table through the connection dialog,
// on the test server.

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <sstream>

#include "app/desktop/LayerSourceDialogs.h"
#include "app/desktop/MapWindow.h"
#include "app/desktop/QtWindowSystem.h"
#include "host/HostApplication.h"
#include "metrics/Extension.h"
#include "tests/desktop/DesktopFixture.h"
#include "tests/support/GeoPackages.h"
#include "tests/support/Stores.h"

namespace quilta {
namespace {

using test::rect;

class LayerSourceDialogsTest : public test::DesktopTest {
 protected:
  test::TempDir dir;
  HostApplication host;
  desktop::QtWindowSystem ws;
  Extension extension{host, ws, dir.path()};

  // A GeoPackage with the polygon layers "fields" and "patches".
  std::filesystem::path twoLayers() {
    const auto gpkg = dir / "land.gpkg";
    test::writeGeoPackage(gpkg, "patches", {{"cover", 'S', 10}},
                          {{0, rect(0, 0, 1, 1), {std::string("a")}}, {0, rect(2, 0, 3, 1), {std::string("b")}}});
    test::writeGeoPackage(gpkg, "fields", {{"crop", 'S', 10}}, {{0, rect(0, 0, 5, 5), {std::string("rye")}}});
    return gpkg;
  }
  // Picks `file` in the open dialog of Add Layer.
  static void pickFile(const std::filesystem::path& file) {
    test::whenShown("QFileDialog", [file](QWidget* w) {
      auto* dialog = static_cast<QFileDialog*>(w);
      EXPECT_TRUE(dialog->nameFilters().join(";").contains("*.gpkg"));
      dialog->setDirectory(QString::fromStdString(file.parent_path().string()));
      dialog->selectFile(QString::fromStdString(file.filename().string()));
      QMetaObject::invokeMethod(dialog, "accept");
    });
  }
};

TEST_F(LayerSourceDialogsTest, AGeoPackageOfSeveralLayersAsksWhichOne) {
  const auto gpkg = twoLayers();
  desktop::MapWindow window(host, extension, ws);
  pickFile(gpkg);
  QStringList offered;
  test::whenShown("layerChoice", [&offered](QWidget* w) {
    auto* list = w->findChild<QListWidget*>("layers");
    for (int i = 0; i < list->count(); ++i) offered << list->item(i)->text();
    list->setCurrentRow(1);
    test::clickButton(w, "ok");
  });
  window.findChild<QAction*>("addLayer")->trigger();
  EXPECT_EQ(offered, (QStringList{"fields", "patches"}));
  ASSERT_EQ(host.document().focusMap().layerCount(), 1);
  EXPECT_EQ(host.document().selectedLayer()->name(), "patches");
  EXPECT_EQ(host.document().selectedLayer()->featureTable().count(), 2);

  // Cancelling the choice adds nothing.
  pickFile(gpkg);
  test::whenShown("layerChoice", [](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
  window.findChild<QAction*>("addLayer")->trigger();
  EXPECT_EQ(host.document().focusMap().layerCount(), 1);
}

TEST_F(LayerSourceDialogsTest, AGeoPackageOfOneLayerIsAddedWithoutAQuestion) {
  const auto gpkg = dir / "one.gpkg";
  test::writeGeoPackage(gpkg, "patches", {{"cover", 'S', 10}}, {{0, rect(0, 0, 1, 1), {std::string("a")}}});
  desktop::MapWindow window(host, extension, ws);
  pickFile(gpkg);
  window.findChild<QAction*>("addLayer")->trigger();
  ASSERT_EQ(host.document().focusMap().layerCount(), 1);
  EXPECT_EQ(host.document().selectedLayer()->source().kind, LayerSource::Kind::GeoPackage);
}

TEST_F(LayerSourceDialogsTest, ThePostgisDialogListsThePolygonTablesAndAddsTheOneChosen) {
  test::StoreLayers stores(test::Store::PostGIS);
  const std::string table = stores.schema() + ".patches";
  test::pgExecute("CREATE TABLE " + table + " (id serial PRIMARY KEY, cover text, geom geometry(Polygon, 32725));" +
                  "INSERT INTO " + table + " (cover, geom) VALUES ('a', ST_MakeEnvelope(0, 0, 1, 1, 32725))");
  // The test server's parameters, as a user types them into the fields.
  std::map<std::string, QString> given;
  std::istringstream words(test::pgConnection());
  for (std::string word; words >> word;)
    if (auto eq = word.find('='); eq != std::string::npos)
      given[word.substr(0, eq)] = QString::fromStdString(word.substr(eq + 1));

  desktop::MapWindow window(host, extension, ws);
  QStringList offered;
  QString refusal;
  test::whenShown("postgisLayer", [&](QWidget* w) {
    w->findChild<QLineEdit*>("host")->setText(given["host"]);
    w->findChild<QLineEdit*>("port")->setText(given["port"]);
    w->findChild<QLineEdit*>("database")->setText("nosuchdatabase");
    w->findChild<QLineEdit*>("user")->setText(given["user"]);
    test::clickButton(w, "connect");
    refusal = w->findChild<QLabel*>("status")->text();
    w->findChild<QLineEdit*>("database")->setText(given["dbname"]);
    test::clickButton(w, "connect");
    auto* list = w->findChild<QListWidget*>("tables");
    for (int i = 0; i < list->count(); ++i) offered << list->item(i)->text();
    auto found = list->findItems(QString::fromStdString(table), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    list->setCurrentItem(found.front());
    test::clickButton(w, "ok");
  });
  window.findChild<QAction*>("addPostgisLayer")->trigger();
  EXPECT_TRUE(refusal.contains("nosuchdatabase")) << refusal.toStdString();
  EXPECT_TRUE(offered.contains(QString::fromStdString(table)));
  ASSERT_EQ(host.document().focusMap().layerCount(), 1);
  EXPECT_EQ(host.document().selectedLayer()->name(), "patches");
  EXPECT_EQ(host.document().selectedLayer()->source().kind, LayerSource::Kind::PostGIS);
  EXPECT_EQ(host.document().selectedLayer()->featureTable().count(), 1);
  host.document().focusMap() = FocusMap();  // the table's connections close before the schema goes
}

}  // namespace
}  // namespace quilta
