// Area analysis: patch counts, class areas, mean patch size and its
// population standard deviation, and the landscape totals.

#include <gtest/gtest.h>

#include "tests/metrics/StatisticsFixture.h"

namespace quilta {
namespace {

using test::Patch;
using test::Rows;

class AreaAnalysisTest : public test::StatisticsTest {
 protected:
  frmArea& window() { return ext->results.area; }
  Rows rows() { return window().lstViewClass.rows; }
};

TEST_F(AreaAnalysisTest, TwoPatchesOfAreaOneAndThreeDeviateByOne) {
  openPatches({{"a", 1.0, 4.0, ""}, {"a", 3.0, 8.0, ""}});
  run("cmdAreaForm");
  ASSERT_TRUE(shown("frmArea"));
  EXPECT_EQ(rows(), (Rows{{"a", "2", "4.00", "2.00", "1.00"}}));
  EXPECT_EQ(window().txtTotalArea.text, "4.00");
  EXPECT_EQ(window().txtTotalPatches.text, "2");
  EXPECT_EQ(window().txtLayername.text, "patches");
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
  EXPECT_FALSE(wb().main.ProgressBar1.visible);
}

TEST_F(AreaAnalysisTest, DeviationDividesByThePatchCount) {
  // Mean 5; squared deviations 9+1+1+1+0+0+4+16 = 32; 32 / 8 = 4; root 2.
  std::vector<Patch> patches;
  for (double a : {2.0, 4.0, 4.0, 4.0, 5.0, 5.0, 7.0, 9.0}) patches.push_back({"a", a, 1.0, ""});
  openPatches(patches);
  run("cmdAreaForm");
  EXPECT_EQ(rows(), (Rows{{"a", "8", "40.00", "5.00", "2.00"}}));
}

TEST_F(AreaAnalysisTest, SinglePatchHasNoDeviationAndItsAreaAsMean) {
  openPatches({{"a", 12.345, 1.0, ""}});
  run("cmdAreaForm");
  EXPECT_EQ(rows(), (Rows{{"a", "1", "12.35", "12.35", "0.00"}}));
}

TEST_F(AreaAnalysisTest, LandscapeCountsOnlyTheSelectedClasses) {
  openPatches({{"a", 1.0, 1.0, ""}, {"b", 100.0, 1.0, ""}, {"a", 3.0, 1.0, ""}, {"c", 10.0, 1.0, ""}});
  run("cmdAreaForm", {"a", "c"});
  EXPECT_EQ(rows(), (Rows{{"a", "2", "4.00", "2.00", "1.00"}, {"c", "1", "10.00", "10.00", "0.00"}}));
  EXPECT_EQ(window().txtTotalArea.text, "14.00");
  EXPECT_EQ(window().txtTotalPatches.text, "3");
}

TEST_F(AreaAnalysisTest, RowsFollowTheOrderOfTheSelectedClasses) {
  openPatches({{"a", 1.0, 1.0, ""}, {"b", 2.0, 1.0, ""}});
  presetClasses({"b", "a"});
  click("cmdAreaForm");
  ASSERT_EQ(rows().size(), 2u);
  EXPECT_EQ(rows()[0][0], "b");
  EXPECT_EQ(rows()[1][0], "a");
}

TEST_F(AreaAnalysisTest, DecimalCommaLocaleShowsCommas) {
  text::setDecimalSeparator(',');
  openPatches({{"a", 1.0, 4.0, ""}, {"a", 3.5, 8.0, ""}});
  run("cmdAreaForm");
  EXPECT_EQ(rows(), (Rows{{"a", "2", "4,50", "2,25", "1,25"}}));
  EXPECT_EQ(window().txtTotalArea.text, "4,50");
}

TEST_F(AreaAnalysisTest, MissingPerimeterIsRefusedBeforeAnyChoice) {
  openPatches({{"a", 1.0, {}, ""}}, true, false);
  run("cmdAreaForm");
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_EQ(ws.messages[0].text, "Please calculate Area and Perimeter!");
  EXPECT_EQ(ws.messages[0].title, "No Area/Perimeter field");
  EXPECT_EQ(ws.messages[0].icon, Icon::Exclamation);
  EXPECT_FALSE(shown("frmFields"));
  EXPECT_FALSE(shown("frmArea"));
  EXPECT_EQ(session().lastOutcome, Outcome::Refused);
}

TEST_F(AreaAnalysisTest, EmptyAreaValueFailsWithTheCause) {
  openPatches({{"a", 1.0, 1.0, ""}, {"a", {}, 1.0, ""}});
  run("cmdAreaForm");
  auto last = lastMessage();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->text, kShapefileError);
  EXPECT_EQ(last->title, kComponentTitle);
  EXPECT_NE(last->detail.find("Area"), std::string::npos) << last->detail;
  EXPECT_FALSE(shown("frmArea"));
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  EXPECT_FALSE(wb().main.ProgressBar1.visible);
}

TEST_F(AreaAnalysisTest, ClassWithoutPatchesFailsAndShowsNoWindow) {
  openPatches({{"a", 1.0, 1.0, ""}});
  presetClasses({"a", "ghost"});
  click("cmdAreaForm");
  auto last = lastMessage();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->text, kShapefileError);
  EXPECT_EQ(last->detail, "class \"ghost\" has no patches");
  EXPECT_FALSE(shown("frmArea"));
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
}

TEST_F(AreaAnalysisTest, CancelStopsBetweenClassesWithoutWindowOrMessage) {
  openPatches({{"a", 1.0, 1.0, ""}, {"b", 2.0, 1.0, ""}, {"c", 3.0, 1.0, ""}});
  presetClasses({"a", "b", "c"});
  cancelAtYield(2);
  click("cmdAreaForm");
  EXPECT_EQ(session().lastOutcome, Outcome::Cancelled);
  EXPECT_FALSE(shown("frmArea"));
  EXPECT_TRUE(ws.messages.empty());
  EXPECT_FALSE(wb().main.ProgressBar1.visible);
  EXPECT_FALSE(wb().main.cmdCancel.visible);
}

TEST_F(AreaAnalysisTest, RowsOfACancelledRunDoNotReachTheNextRun) {
  openPatches({{"a", 1.0, 1.0, ""}, {"b", 2.0, 1.0, ""}, {"c", 3.0, 1.0, ""}});
  cancelAtYield(2);
  run("cmdAreaForm");
  ASSERT_EQ(rows().size(), 1u);  // class "a" was done when Cancel came
  ws.pending = nullptr;
  click("cmdAreaForm");
  EXPECT_EQ(rows(), (Rows{{"a", "1", "1.00", "1.00", "0.00"},
                          {"b", "1", "2.00", "2.00", "0.00"},
                          {"c", "1", "3.00", "3.00", "0.00"}}));
}

TEST_F(AreaAnalysisTest, RowsOfAFailedRunDoNotReachTheNextRun) {
  openPatches({{"a", 1.0, 1.0, ""}});
  presetClasses({"a", "ghost"});
  click("cmdAreaForm");
  ASSERT_EQ(session().lastOutcome, Outcome::Failed);
  presetClasses({"a"});
  click("cmdAreaForm");
  EXPECT_EQ(rows(), (Rows{{"a", "1", "1.00", "1.00", "0.00"}}));
}

TEST_F(AreaAnalysisTest, ReportsOfARunMatchTheGoldenFiles) {
  openPatches({{"forest", 1.0, 4.0, ""}, {"várzea", 3.0, 7.0, ""}, {"forest", 3.0, 8.0, ""}});
  ws.onShow("frmArea", [this](WindowModel&) {
    EXPECT_EQ(saveReport([this] { window().cmdTextfile_Click(); }, "class.txt"), golden("class_area_analysis.txt"));
    EXPECT_EQ(saveReport([this] { window().cmdLandscape_Click(); }, "landscape.txt"),
              golden("landscape_area_analysis.txt"));
    window().cmdClose_Click();
  });
  run("cmdAreaForm");
  EXPECT_TRUE(shown("frmArea"));
  // Closed by the user: rows and columns are gone.
  EXPECT_TRUE(rows().empty());
  EXPECT_TRUE(window().lstViewClass.columns.empty());
  EXPECT_FALSE(window().loaded);
}

}  // namespace
}  // namespace quilta
