// Area and perimeter fields, and the field deletion window.

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/ToolFixture.h"

namespace quilta {
namespace {

using test::rect;

class AreaPerimeterTest : public test::ToolTest {
 protected:
  double number(std::int64_t oid, const char* field) {
    return std::get<double>(table().value(oid, table().findField(field)));
  }
  std::vector<std::string> fieldNames() {
    std::vector<std::string> names;
    for (int i = 0; i < table().fieldCount(); ++i) names.push_back(table().field(i).name);
    return names;
  }
};

TEST_F(AreaPerimeterTest, WritesTheShapeAreaAndBoundaryLengthOfEveryPatch) {
  auto shp = test::copySample(dir.path());
  open(shp);
  click("cmdArea");
  EXPECT_EQ(ws.messageTexts(), std::vector<std::string>{"Calculation finished!"});
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
  EXPECT_FALSE(wb().main.ProgressBar1.visible);
  EXPECT_EQ(wb().main.ProgressBar1.max, 413);

  // Reopened from the file, every value matches the geometry.
  auto reopened = reopen(shp);
  FeatureTable& t = reopened->featureTable();
  int a = t.findField("Area"), p = t.findField("Perimeter");
  ASSERT_EQ(a, 4);
  ASSERT_EQ(p, 5);
  EXPECT_EQ(t.field(a).type, kDouble);
  for (std::int64_t oid = 0; oid < t.count(); ++oid) {
    const Polygon& shape = t.shape(oid);
    EXPECT_NEAR(std::get<double>(t.value(oid, a)), shape.area(), shape.area() * 1e-9);
    EXPECT_NEAR(std::get<double>(t.value(oid, p)), shape.length(), shape.length() * 1e-9);
  }
}

TEST_F(AreaPerimeterTest, SecondRunAddsNoFieldAndExistingAreaIsReused) {
  test::writeShapefile(dir / "l.shp", {{"Area", 'I', 9}},
                       {{rect(0, 0, 2, 3), {std::int64_t{99}}}, {"POLYGON((0 0,0 10,10 10,10 0,0 0),(2 2,4 2,4 4,2 4,2 2))", {std::int64_t{1}}}});
  open(dir / "l.shp");
  click("cmdArea");
  EXPECT_EQ(fieldNames(), (std::vector<std::string>{"FID", "Shape", "Area", "Perimeter"}));
  EXPECT_EQ(std::get<std::int64_t>(table().value(0, 2)), 6);  // the integer field kept its type
  EXPECT_DOUBLE_EQ(number(1, "Perimeter"), 48.0);
  click("cmdArea");
  EXPECT_EQ(fieldNames().size(), 4u);
  EXPECT_EQ(messagesWith("Calculation finished!"), 2);
}

TEST_F(AreaPerimeterTest, CancelStopsBeforeTheNextPatch) {
  std::vector<test::Row> rows;
  for (int i = 0; i < 2000; ++i) rows.push_back({rect(i, 0, i + 1, 2), {std::int64_t{i}}});
  test::writeShapefile(dir / "many.shp", {{"id", 'I'}}, rows);
  open(dir / "many.shp");
  // The user presses Cancel at the first chance to process input.
  ws.pending = [] { return true; };
  ws.onProcessEvents = [this] { click("cmdCancel"); };
  click("cmdArea");
  EXPECT_EQ(session().lastOutcome, Outcome::Cancelled);
  EXPECT_EQ(messagesWith("Calculation finished!"), 0);
  EXPECT_FALSE(wb().main.ProgressBar1.visible);
  EXPECT_FALSE(wb().main.cmdCancel.visible);
  int a = table().findField("Area");
  ASSERT_GE(a, 0);
  // Patches before the cancel point have their values, the others none.
  std::int64_t written = 0;
  for (std::int64_t oid = 0; oid < 2000; ++oid) written += isNull(table().value(oid, a)) ? 0 : 1;
  EXPECT_GT(written, 0);
  EXPECT_LT(written, 2000);
  for (std::int64_t oid = 0; oid < written; ++oid) EXPECT_DOUBLE_EQ(number(oid, "Area"), 2.0);
}

TEST_F(AreaPerimeterTest, ReadOnlyLayerGetsTheShapefileErrorAndStaysUntouched) {
  auto shp = test::copySample(dir.path());
  auto before = std::filesystem::file_size(dir / "olinda_elevation.dbf");
  open(shp, PolygonLayer::Mode::ReadOnly);
  click("cmdArea");
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_EQ(ws.messages[0].text, kShapefileError);
  EXPECT_EQ(ws.messages[0].title, kComponentTitle);
  EXPECT_NE(ws.messages[0].detail.find("read-only"), std::string::npos) << ws.messages[0].detail;
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  EXPECT_FALSE(wb().main.ProgressBar1.visible);
  EXPECT_EQ(std::filesystem::file_size(dir / "olinda_elevation.dbf"), before);
  EXPECT_EQ(reopen(shp)->featureTable().findField("Area"), -1);
}

TEST_F(AreaPerimeterTest, DamagedShapeFileFailsBeforeAnythingIsWritten) {
  QUILTA_SHAPEFILE_ONLY();
  auto shp = test::copySample(dir.path());
  std::filesystem::resize_file(shp, std::filesystem::file_size(shp) / 2);
  open(shp);
  click("cmdArea");
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_EQ(ws.messages[0].text, kShapefileError);
  EXPECT_NE(ws.messages[0].detail.find("cannot read the shape"), std::string::npos) << ws.messages[0].detail;
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  EXPECT_EQ(PolygonLayer::open(shp)->featureTable().findField("Area"), -1);
}

class DeleteFieldsTest : public AreaPerimeterTest {
 protected:
  void SetUp() override {
    test::writeShapefile(dir / "d.shp", {{"cover", 'S', 5}, {"Area", 'R'}, {"Perimeter", 'R'}, {"NNDist", 'R'}},
                         {{rect(0, 0, 1, 1), {std::string("a"), 1.0, 4.0, 2.0}}});
    open(dir / "d.shp");
  }
  // Opens the deletion window and selects `names` in it before `action`.
  void deleteFields(const std::vector<std::string>& names, const std::string& button = "cmdDelFlds") {
    ws.onShow("frmDelFields", [this, names, button](WindowModel&) {
      auto& w = wb().delFields;
      for (const auto& n : names) {
        auto it = std::find(w.lstDelFlds.items.begin(), w.lstDelFlds.items.end(), n);
        ASSERT_NE(it, w.lstDelFlds.items.end()) << n;
        w.lstDelFlds.click(static_cast<std::size_t>(it - w.lstDelFlds.items.begin()));
      }
      if (button == "cmdDelFlds") w.cmdDelFlds_Click();
      else w.cmdCancel2_Click();
      windowStayedOpen = w.open;
    });
    click("cmdDelFlds");
  }
  bool windowStayedOpen = false;
};

TEST_F(DeleteFieldsTest, ListsEveryFieldIncludingIdentifierAndShape) {
  std::vector<std::string> listed;
  ws.onShow("frmDelFields", [&](WindowModel&) { listed = wb().delFields.lstDelFlds.items; });
  click("cmdDelFlds");
  EXPECT_EQ(listed, (std::vector<std::string>{"FID", "Shape", "cover", "Area", "Perimeter", "NNDist"}));
}

TEST_F(DeleteFieldsTest, NothingSelectedKeepsTheWindowOpen) {
  deleteFields({});
  EXPECT_EQ(ws.messageTexts(), std::vector<std::string>{"Select at least one field!"});
  EXPECT_TRUE(windowStayedOpen);
  EXPECT_EQ(fieldNames().size(), 6u);
}

TEST_F(DeleteFieldsTest, ShapeIsSkippedAndTheOthersDeleted) {
  deleteFields({"Shape", "Area", "Perimeter"});
  EXPECT_EQ(ws.messageTexts(), (std::vector<std::string>{"It is not advisable to delete the Shape field!",
                                                         "Calculation finished!"}));
  EXPECT_EQ(fieldNames(), (std::vector<std::string>{"FID", "Shape", "cover", "NNDist"}));
  EXPECT_FALSE(windowStayedOpen);
  // The deletion is in the file.
  EXPECT_EQ(reopen(dir / "d.shp")->featureTable().findField("Area"), -1);
}

TEST_F(DeleteFieldsTest, RefusedDeletionEndsTheHandlerAtOnce) {
  // The host refuses to delete the identifier; "cover" after it is kept.
  deleteFields({"FID", "cover"});
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_EQ(ws.messages[0].text, kShapefileError);
  EXPECT_TRUE(windowStayedOpen);
  EXPECT_NE(std::find(fieldNames().begin(), fieldNames().end(), "cover"), fieldNames().end());
}

TEST_F(DeleteFieldsTest, FieldsBeforeAFailureStayDeleted) {
  // "Area" is deleted, then "NNDist" disappears behind the window's back
  // (another program), so its deletion fails: "Area" stays deleted, "cover"
  // after it is kept.
  ws.onShow("frmDelFields", [this](WindowModel&) {
    auto& w = wb().delFields;
    w.lstDelFlds.click(3);  // Area
    w.lstDelFlds.click(5);  // NNDist
    table().deleteField(table().findField("NNDist"));
    w.cmdDelFlds_Click();
    windowStayedOpen = w.open;
  });
  click("cmdDelFlds");
  EXPECT_EQ(ws.messageTexts(), std::vector<std::string>{kShapefileError});
  EXPECT_TRUE(windowStayedOpen);
  EXPECT_EQ(reopen(dir / "d.shp")->featureTable().findField("Area"), -1);
  EXPECT_GE(reopen(dir / "d.shp")->featureTable().findField("cover"), 0);
}

TEST_F(DeleteFieldsTest, CancelChangesNothing) {
  deleteFields({"Area"}, "cmdCancel2");
  EXPECT_TRUE(ws.messages.empty());
  EXPECT_EQ(fieldNames().size(), 6u);
}

}  // namespace
}  // namespace quilta
