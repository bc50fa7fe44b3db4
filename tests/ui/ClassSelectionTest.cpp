// Choosing the class field and the classes: the dialog flow across runs, the
// Change buttons, the summary message, refusals and the "noclass" pseudo field.

#include <gtest/gtest.h>

#include "session/NumberText.h"
#include "ui/ClassSelection.h"
#include "tests/support/ToolFixture.h"

namespace quilta {
namespace {

using test::rect;

class ClassSelectionTest : public test::ToolTest {
 protected:
  // `n` patches in a row, patch i of class "c<i % classes>".
  PolygonLayer& stripes(int n, int classes) {
    std::vector<test::Row> rows;
    for (int i = 0; i < n; ++i)
      rows.push_back({rect(i, 0, i + 1, 1), {std::string("c") + std::to_string(i % classes), std::int64_t{i % classes}}});
    test::writeShapefile(dir / "stripes.shp", {{"cover", 'S', 10}, {"code", 'I', 9}}, rows);
    return open(dir / "stripes.shp");
  }
  bool run() { return RunClassSelection(wb()); }
};

TEST_F(ClassSelectionTest, FirstRunAsksFieldThenClassesAndArmsProgress) {
  open(test::copySample(dir.path()));
  chooseField("zone");
  chooseClasses({"slope", "hilltop"});
  ASSERT_TRUE(run());
  EXPECT_EQ(ws.windowsShown, (std::vector<std::string>{"frmFields", "frmClasses"}));
  ASSERT_GE(ws.messages.size(), 2u);
  EXPECT_EQ(ws.messages[0].text, "Selected class field: zone");
  EXPECT_EQ(ws.messages[1].text, "Number of selected classes: 2\rSelected classes: \rhilltop\rslope");
  EXPECT_EQ(session().classes(), (std::vector<std::string>{"hilltop", "slope"}));  // list order
  EXPECT_EQ(session().classFieldType, kText);
  EXPECT_EQ(wb().main.lblclass.caption, "zone");
  EXPECT_EQ(wb().main.lblselected.caption, "2 class(es) of 5");
  EXPECT_EQ(wb().main.ProgressBar1.max, 2);
  EXPECT_EQ(wb().main.ProgressBar1.value, 0);
  EXPECT_TRUE(wb().main.ProgressBar1.visible);
  EXPECT_EQ(session().layerName, "olinda_elevation");
}

TEST_F(ClassSelectionTest, SecondRunAsksNothing) {
  open(test::copySample(dir.path()));
  chooseField("band");
  chooseClasses();
  ASSERT_TRUE(run());
  ws.windowsShown.clear();
  ws.messages.clear();
  ASSERT_TRUE(run());
  EXPECT_TRUE(ws.windowsShown.empty());
  EXPECT_TRUE(ws.messages.empty());
  EXPECT_EQ(wb().main.ProgressBar1.max, 5);
  EXPECT_EQ(session().classes(), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
}

TEST_F(ClassSelectionTest, ChangeFieldAsksBeforeChoosing) {
  open(test::copySample(dir.path()));
  chooseField("band");
  chooseClasses();
  ASSERT_TRUE(run());
  ws.windowsShown.clear();
  ws.messages.clear();
  // No to the field, then No to new classes: the selection stays.
  ws.answers = {Answer::No, Answer::No};
  click("cmdField");
  ASSERT_EQ(ws.messages.size(), 3u) << testing::PrintToString(ws.messageTexts());
  EXPECT_EQ(ws.messages[0].text, "Change class field: 'band' ?");
  EXPECT_EQ(ws.messages[0].title, "Class field band");
  EXPECT_EQ(ws.messages[1].text, "Selected class field: band");
  EXPECT_EQ(ws.messages[2].text, "Select new classes? (currently 5 classes)");
  EXPECT_EQ(ws.messages[2].title, "Class Field band");
  EXPECT_TRUE(ws.windowsShown.empty());
  EXPECT_FALSE(session().changeFieldRequest);

  // Yes to the field and a new field: the classes are offered without a question.
  ws.messages.clear();
  ws.answers = {Answer::Yes};
  chooseField("zone");
  chooseClasses({"lowland"});
  click("cmdField");
  EXPECT_EQ(ws.windowsShown, (std::vector<std::string>{"frmFields", "frmClasses"}));
  EXPECT_EQ(session().classes(), std::vector<std::string>{"lowland"});
}

TEST_F(ClassSelectionTest, ChangeClassesGoesStraightToTheClassOffer) {
  open(test::copySample(dir.path()));
  chooseField("band");
  chooseClasses({"1"});
  ASSERT_TRUE(run());
  ws.windowsShown.clear();
  ws.messages.clear();
  ws.answers = {Answer::Yes};
  chooseClasses({"2", "3"});
  click("cmdClass");
  EXPECT_EQ(ws.messages[0].text, "Select new classes? (currently 1 classes)");
  EXPECT_EQ(ws.windowsShown, std::vector<std::string>{"frmClasses"});
  EXPECT_EQ(session().classes(), (std::vector<std::string>{"2", "3"}));
  EXPECT_FALSE(session().changeClassesRequest);
}

TEST_F(ClassSelectionTest, SummaryListsAtMostThirtyClasses) {
  stripes(31, 31);
  chooseField("cover");
  ws.onShow("frmClasses", [this](WindowModel&) {
    auto& w = wb().classes;
    for (std::size_t i = 0; i < 30; ++i) w.lstClassNames.click(i);
    w.cmdclasslist_Click();
  });
  ASSERT_TRUE(run());
  const std::string thirty = ws.messages.back().text;
  EXPECT_EQ(thirty.rfind("Number of selected classes: 30\rSelected classes: \rc0\rc1\rc10", 0), 0u) << thirty;
  EXPECT_EQ(std::count(thirty.begin(), thirty.end(), '\r'), 31);

  chooseClasses();
  ws.answers = {Answer::Yes};
  click("cmdClass");
  EXPECT_EQ(ws.messages.back().text, "Number of selected classes: 31 of 31");
  EXPECT_EQ(wb().main.lblselected.caption, "31 class(es) of 31");
}

TEST_F(ClassSelectionTest, EmptySelectionIsRefusedAndCancelStops) {
  open(test::copySample(dir.path()));
  chooseField("band");
  chooseClasses({"1"});
  ASSERT_TRUE(run());
  ws.messages.clear();
  ws.answers = {Answer::Yes};
  ws.onShow("frmClasses", [this](WindowModel&) {
    wb().classes.cmdclasslist_Click();  // nothing selected
    EXPECT_TRUE(wb().classes.open);     // the window stays
    wb().classes.cmdCancel2_Click();
  });
  wb().main.ProgressBar1.visible = false;
  click("cmdClass");
  EXPECT_EQ(messagesWith("Select at least one class!"), 1);
  EXPECT_TRUE(session().classes().empty());
  EXPECT_TRUE(session().selectionCancelled);
  EXPECT_TRUE(session().changeClassesRequest);  // asked again by the next run
  EXPECT_FALSE(wb().main.ProgressBar1.visible);
}

TEST_F(ClassSelectionTest, FieldChooserLeavesOutExactlyShapeAreaPerimeter) {
  test::writeShapefile(dir / "names.shp",
                       {{"Area", 'R'}, {"AREA2", 'R'}, {"Perimeter", 'R'}, {"shape_", 'S', 5}, {"cover", 'S', 5}},
                       {{rect(0, 0, 1, 1), {1.0, 1.0, 4.0, std::string("x"), std::string("a")}}});
  open(dir / "names.shp");
  std::vector<std::string> offered;
  ws.onShow("frmFields", [&](WindowModel&) {
    offered = wb().fields.lstFieldNames.items;
    wb().fields.cmdlist_Click();  // nothing chosen
    EXPECT_TRUE(wb().fields.open);
    wb().fields.cmdCancel1_Click();
  });
  EXPECT_FALSE(run());
  EXPECT_EQ(offered, (std::vector<std::string>{"FID", "AREA2", "shape_", "cover"}));
  EXPECT_EQ(ws.messageTexts(), std::vector<std::string>{"Select a field"});
}

TEST_F(ClassSelectionTest, SelectAllOnAnEmptyLayerFindsNoClasses) {
  test::writeShapefile(dir / "empty.shp", {{"cover", 'S', 5}}, {});
  open(dir / "empty.shp");
  chooseField("cover");
  chooseClasses();
  EXPECT_FALSE(run());
  EXPECT_EQ(messagesWith("There are no classes available!"), 1);
}

TEST_F(ClassSelectionTest, NoClassFieldPutsEveryPatchInOneClass) {
  stripes(4, 2);
  ws.onShow("frmFields", [this](WindowModel&) { wb().fields.cmdnoclass_Click(); });
  std::vector<std::string> offered;
  ws.onShow("frmClasses", [&](WindowModel&) {
    offered = wb().classes.lstClassNames.items;
    wb().classes.cmdSelectAll_Click();
  });
  ASSERT_TRUE(run());
  EXPECT_EQ(offered, std::vector<std::string>{"no class"});
  int f = table().findField("noclass");
  ASSERT_GE(f, 0);
  EXPECT_EQ(table().field(f).type, kText);
  for (std::int64_t oid = 0; oid < 4; ++oid) EXPECT_EQ(std::get<std::string>(table().value(oid, f)), "no class");
  EXPECT_EQ(ClassClause(session(), session().classes()[0]), "noclass = 'no class '");
  EXPECT_EQ(table().select(AttributeFilter(ClassClause(session(), "no class"))).count(), 4);
}

TEST_F(ClassSelectionTest, ExistingNoClassFieldIsCompletedNotRewritten) {
  test::writeShapefile(dir / "partial.shp", {{"noclass", 'S', 20}},
                       {{rect(0, 0, 1, 1), {std::string("kept as is")}},
                        {rect(1, 0, 2, 1), {}},
                        {rect(2, 0, 3, 1), {std::string("no class")}}});
  open(dir / "partial.shp");
  ws.onShow("frmFields", [this](WindowModel&) { wb().fields.cmdnoclass_Click(); });
  chooseClasses();
  ASSERT_TRUE(run());
  int f = table().findField("noclass");
  EXPECT_EQ(std::get<std::string>(table().value(0, f)), "kept as is");
  EXPECT_EQ(std::get<std::string>(table().value(1, f)), "no class");  // the missing value is filled
  EXPECT_EQ(session().classes(), (std::vector<std::string>{"kept as is", "no class"}));
}

TEST_F(ClassSelectionTest, ReadOnlyLayerCannotPrepareNoClass) {
  stripes(2, 1);
  host.document().focusMap();
  auto& layer = host.document().addShapefile(dir / "stripes.shp", PolygonLayer::Mode::ReadOnly);
  (void)layer;
  ws.onShow("frmFields", [this](WindowModel&) { wb().fields.cmdnoclass_Click(); });
  EXPECT_FALSE(run());
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_EQ(ws.messages[0].text, kShapefileError);
  EXPECT_FALSE(ws.messages[0].detail.empty());
  EXPECT_FALSE(session().selectionCancelled);
}

TEST_F(ClassSelectionTest, DecimalValuesOfNumericFieldsSelectTheirPatches) {
  test::writeShapefile(dir / "ratio.shp", {{"ratio", 'R', 10, 2}},
                       {{rect(0, 0, 1, 1), {2.5}}, {rect(1, 0, 2, 1), {2.5}}, {rect(2, 0, 3, 1), {3.0}}});
  open(dir / "ratio.shp");
  text::setDecimalSeparator(',');
  chooseField("ratio");
  chooseClasses({"2,5"});
  ASSERT_TRUE(run());
  text::setDecimalSeparator(0);
  EXPECT_EQ(ClassClause(session(), "2,5"), "ratio = 2.5");
  EXPECT_EQ(table().select(AttributeFilter(ClassClause(session(), "2,5"))).count(), 2);
}

}  // namespace
}  // namespace quilta
