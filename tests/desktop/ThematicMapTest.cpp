// Thematic maps in the shell: a graduated map of a patch metric with -999 in
// grey and its legend under the layer, categories of the class field once the
// tool knows it, and the fields an operation writes offered at once (the
// attribute table too) while the tool window is still open, the chosen field
// staying chosen.

#include <QComboBox>
#include <QHeaderView>
#include <QListWidget>
#include <QSpinBox>
#include <QTableView>
#include <QTreeWidget>

#include "app/desktop/StylePanel.h"
#include "tests/desktop/MapFixture.h"

namespace quilta {
namespace {

class ThematicMapTest : public test::MapTest {
 protected:
  QComboBox* combo(const char* name) const { return window->findChild<QComboBox*>(name); }
  static QStringList items(const QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
    return out;
  }
  // The legend lines under the layer in the table of contents.
  QStringList legend() const {
    QStringList out;
    QTreeWidgetItem* item = window->findChild<QTreeWidget*>("tableOfContents")->topLevelItem(0);
    for (int i = 0; i < item->childCount(); ++i) out << item->child(i)->text(0);
    return out;
  }
  QStringList headers() const {
    QStringList out;
    auto* table = window->findChild<QTableView*>("attributeTable");
    for (int c = 0; c < table->model()->columnCount(); ++c)
      out << table->model()->headerData(c, Qt::Horizontal).toString();
    return out;
  }
};

TEST_F(ThematicMapTest, GraduatedMapOfAMetricWithNoValueInGreyAndItsLegend) {
  openWindow();
  combo("styleKind")->setCurrentIndex(combo("styleKind")->findText("Graduated colours"));
  // Only numeric fields can be graduated.
  EXPECT_EQ(items(combo("styleField")), (QStringList{"NNDist", "NNId"}));
  combo("styleField")->setCurrentIndex(combo("styleField")->findText("NNDist"));
  const map::Style style = window->styleOf(layer);
  EXPECT_EQ(style.kind, map::StyleKind::Graduated);
  EXPECT_EQ(style.field, "NNDist");
  EXPECT_EQ(style.classes, 5);
  // Seven values 1, 2, 2, 3, 4, 5, 6 for five quantile classes: the bounds
  // are the values of rank 2, 3, 5, 6 and 7, that is 2, 2, 4, 5, 6, and the
  // repeated 2 merges two classes; -999 apart.
  EXPECT_EQ(legend(), (QStringList{"NNDist", "1 \u2013 2  (3)", "2 \u2013 4  (2)", "4 \u2013 5  (1)",
                                   "5 \u2013 6  (1)", "no value  (1)"}));
  desktop::MapView& view = *window->mapView();
  const QImage image = view.grab().toImage();
  const map::Symbology& s = *view.symbology(layer);
  EXPECT_EQ(pixel(image, view, 1, 5), desktop::toQColor(s.legend[0].symbol.fill));  // NNDist 2
  EXPECT_EQ(pixel(image, view, 2, 14), desktop::toQColor(map::kNoValueGrey));      // -999
  EXPECT_EQ(pixel(image, view, 14.5, 12.5), desktop::toQColor(s.legend[3].symbol.fill));  // NNDist 6
  // Equal intervals, nine classes: the legend follows.
  combo("styleMethod")->setCurrentIndex(combo("styleMethod")->findText("Equal intervals"));
  window->findChild<QSpinBox*>("styleClasses")->setValue(9);
  EXPECT_EQ(window->styleOf(layer).classes, 9);
  EXPECT_EQ(legend().size(), 1 + 9 + 1);
}

TEST_F(ThematicMapTest, CategoriesStartFromTheClassFieldAndRepeatColoursWithAPattern) {
  openWindow();
  // The user picks the class field "cover" in the tool window (Change).
  QString selected;
  inTurn({{"frmMain", [&](QWidget* w) { test::clickButton(w, "cmdField"); }},
          {"frmFields",
           [&](QWidget* w) {
             auto* list = w->findChild<QListWidget*>("lstFieldNames");
             list->findItems("cover", Qt::MatchExactly).front()->setSelected(true);
             test::clickButton(w, "cmdlist");
           }},
          {"QMessageBox", [&](QWidget* w) { pressOk(w); }},  // Selected class field: cover
          {"frmClasses", [&](QWidget* w) { test::clickButton(w, "cmdSelectAll"); }},
          {"QMessageBox",
           [&](QWidget* w) {
             pressOk(w);  // the summary
             // Back in the tool window: the map shows the classes already.
             test::whenShown("frmMain", [&](QWidget* main) {
               selected = legend().join("|");
               test::clickButton(main, "cmdClose");
             });
           }}});
  window->findChild<QAction*>("quiltaCommand")->trigger();
  EXPECT_EQ(selected, "cover|forest  (2)|meadow  (5)|water  (1)");
  EXPECT_EQ(window->styleOf(layer).kind, map::StyleKind::Categories);
  EXPECT_EQ(combo("styleField")->currentText(), "cover");
}

TEST_F(ThematicMapTest, AnOperationsNewFieldsShowAtOnceAndTheChosenFieldStays) {
  openWindow();
  window->setStyle(layer, map::Style{map::StyleKind::Graduated, "NNDist"});
  QStringList tableDuringRun, offeredDuringRun;
  QFont areaFont;
  inTurn({{"frmMain",
           [&](QWidget* w) {
             inTurn({{"QMessageBox", [&](QWidget* box) { pressOk(box); }}});  // Calculation finished!
             test::clickButton(w, "cmdArea");
             // The tool window is still open: the table and the style
             // choice have the two new fields, offered first and in bold.
             tableDuringRun = headers();
             combo("styleKind")->setCurrentIndex(combo("styleKind")->findText("Categories"));
             offeredDuringRun = items(combo("styleField"));
             areaFont = combo("styleField")->itemData(0, Qt::FontRole).value<QFont>();
             combo("styleKind")->setCurrentIndex(combo("styleKind")->findText("Graduated colours"));
             combo("styleField")->setCurrentIndex(combo("styleField")->findText("NNDist"));
             test::clickButton(w, "cmdClose");
           }}});
  window->findChild<QAction*>("quiltaCommand")->trigger();
  EXPECT_EQ(tableDuringRun, (QStringList{"FID", "Shape", "cover", "NNDist", "NNId", "Area", "Perimeter"}));
  EXPECT_EQ(offeredDuringRun, (QStringList{"Area", "Perimeter", "cover", "NNDist", "NNId"}));
  EXPECT_TRUE(areaFont.bold());
  // The metric chosen before the run is still the layer's style after it.
  EXPECT_EQ(window->styleOf(layer).field, "NNDist");
  EXPECT_EQ(window->styleOf(layer).kind, map::StyleKind::Graduated);
  EXPECT_EQ(combo("styleField")->currentText(), "NNDist");
}

}  // namespace
}  // namespace quilta
