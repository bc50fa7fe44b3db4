// Edge analysis: total edge and mean patch edge per class; total edge, edge
// density and mean patch edge of the selected classes together.

#include <gtest/gtest.h>

#include "tests/metrics/StatisticsFixture.h"

namespace quilta {
namespace {

using test::Patch;
using test::rect;
using test::Rows;

class EdgeAnalysisTest : public test::StatisticsTest {
 protected:
  frmEdges& window() { return ext->results.edges; }
  Rows rows() { return window().lstViewClass.rows; }
};

TEST_F(EdgeAnalysisTest, TwoAdjacentUnitSquaresCountTheSharedSideTwice) {
  // Area and perimeter come from the shapes, as the user would compute them.
  test::writeShapefile(dir / "patches.shp", {{"cover", 'S', 20}},
                       {{rect(0, 0, 1, 1), {std::string("a")}}, {rect(1, 0, 2, 1), {std::string("a")}}});
  open(dir / "patches.shp");
  click("cmdArea");
  run("cmdEdges");
  ASSERT_TRUE(shown("frmEdges"));
  EXPECT_EQ(rows(), (Rows{{"a", "2", "8.00", "4.00"}}));
  EXPECT_EQ(window().txtTE.text, "8.00");
  EXPECT_EQ(window().txtED.text, "40000.00");
  EXPECT_EQ(window().txtMPE.text, "4.00");
  EXPECT_EQ(window().txtLayername.text, "patches");
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
  // The landscape report of this run.
  EXPECT_EQ(saveReport([this] { window().cmdLandscape_Click(); }, "edges.txt"), golden("landscape_edge_analysis.txt"));
}

TEST_F(EdgeAnalysisTest, LandscapeCountsOnlyTheSelectedClasses) {
  openPatches({{"a", 1.0, 4.0, ""}, {"b", 4.0, 10.0, ""}, {"a", 1.0, 4.0, ""}, {"c", 1000.0, 500.0, ""}});
  run("cmdEdges", {"a", "b"});
  EXPECT_EQ(rows(), (Rows{{"a", "2", "8.00", "4.00"}, {"b", "1", "10.00", "10.00"}}));
  EXPECT_EQ(window().txtTE.text, "18.00");
  EXPECT_EQ(window().txtED.text, "30000.00");  // 18 / 6 x 10000
  EXPECT_EQ(window().txtMPE.text, "6.00");     // 18 / 3
}

TEST_F(EdgeAnalysisTest, DecimalCommaLocaleShowsCommas) {
  text::setDecimalSeparator(',');
  openPatches({{"a", 4.0, 2.5, ""}, {"a", 4.0, 4.0, ""}});
  run("cmdEdges");
  EXPECT_EQ(rows(), (Rows{{"a", "2", "6,50", "3,25"}}));
  EXPECT_EQ(window().txtED.text, "8125,00");
}

TEST_F(EdgeAnalysisTest, MissingAreaIsRefused) {
  openPatches({{"a", {}, 4.0, ""}}, false, true);
  run("cmdEdges");
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_EQ(ws.messages[0].text, "Please calculate Area and Perimeter!");
  EXPECT_EQ(ws.messages[0].title, "No Area/Perimeter field");
  EXPECT_EQ(ws.messages[0].icon, Icon::Exclamation);
  EXPECT_EQ(session().lastOutcome, Outcome::Refused);
}

TEST_F(EdgeAnalysisTest, EmptyPerimeterFailsWithTheCause) {
  openPatches({{"a", 1.0, {}, ""}});
  run("cmdEdges");
  auto last = lastMessage();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->text, kShapefileError);
  EXPECT_NE(last->detail.find("Perimeter"), std::string::npos) << last->detail;
  EXPECT_FALSE(shown("frmEdges"));
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
}

TEST_F(EdgeAnalysisTest, TotalAreaOfZeroFailsWithoutWindow) {
  openPatches({{"a", 0.0, 4.0, ""}, {"b", 0.0, 4.0, ""}});
  run("cmdEdges");
  auto last = lastMessage();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->text, kShapefileError);
  EXPECT_EQ(last->detail, "the selected classes have a total area of 0");
  EXPECT_FALSE(shown("frmEdges"));
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
}

TEST_F(EdgeAnalysisTest, ClassWithoutPatchesFails) {
  openPatches({{"a", 1.0, 4.0, ""}});
  presetClasses({"ghost"});
  click("cmdEdges");
  auto last = lastMessage();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->text, kShapefileError);
  EXPECT_EQ(last->detail, "class \"ghost\" has no patches");
  EXPECT_FALSE(shown("frmEdges"));
}

TEST_F(EdgeAnalysisTest, CancelStopsBeforeTheNextClass) {
  openPatches({{"a", 1.0, 4.0, ""}, {"b", 1.0, 4.0, ""}});
  cancelAtYield(1);
  run("cmdEdges");
  EXPECT_EQ(session().lastOutcome, Outcome::Cancelled);
  EXPECT_FALSE(shown("frmEdges"));
  EXPECT_TRUE(rows().empty());
}

}  // namespace
}  // namespace quilta
