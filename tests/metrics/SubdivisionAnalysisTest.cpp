// Subdivision analysis: division index, splitting index and effective mesh
// size of every class, each class a landscape of its own.

#include <gtest/gtest.h>

#include "tests/metrics/StatisticsFixture.h"

namespace quilta {
namespace {

using test::Patch;
using test::Rows;

class SubdivisionAnalysisTest : public test::StatisticsTest {
 protected:
  frmDivision& window() { return ext->results.division; }
  Rows rows() { return window().lstViewClass.rows; }
};

TEST_F(SubdivisionAnalysisTest, PatchesOfAreaThreeAndOne) {
  // Q = (3/4)^2 + (1/4)^2 = 0.625; M = 9 + 1 = 10.
  openPatches({{"a", 3.0, 1.0, ""}, {"a", 1.0, 1.0, ""}});
  run("cmdDivision");
  ASSERT_TRUE(shown("frmDivision"));
  EXPECT_EQ(rows(), (Rows{{"a", "2", "4.00", "37.50", "1.60", "2.50"}}));
  EXPECT_EQ(window().txtLayername.text, "patches");
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
}

TEST_F(SubdivisionAnalysisTest, SinglePatchIsUndivided) {
  openPatches({{"a", 7.25, 1.0, ""}});
  run("cmdDivision");
  EXPECT_EQ(rows(), (Rows{{"a", "1", "7.25", "0.00", "1.00", "7.25"}}));
}

TEST_F(SubdivisionAnalysisTest, TwoEqualPatchesSplitInTwo) {
  openPatches({{"a", 6.0, 1.0, ""}, {"a", 6.0, 1.0, ""}});
  run("cmdDivision");
  EXPECT_EQ(rows(), (Rows{{"a", "2", "12.00", "50.00", "2.00", "6.00"}}));
}

TEST_F(SubdivisionAnalysisTest, ClassValuesDoNotDependOnTheOtherClasses) {
  openPatches({{"a", 3.0, 1.0, ""}, {"b", 50.0, 1.0, ""}, {"a", 1.0, 1.0, ""}});
  run("cmdDivision", {"a"});
  const Rows alone = rows();
  presetClasses({"b", "a"});
  click("cmdDivision");
  // In the order of the selection, not sorted; "a" as before.
  ASSERT_EQ(rows().size(), 2u);
  EXPECT_EQ(rows()[0], (std::vector<std::string>{"b", "1", "50.00", "0.00", "1.00", "50.00"}));
  EXPECT_EQ(rows()[1], alone.at(0));
}

TEST_F(SubdivisionAnalysisTest, WindowHasNoLandscapeLevel) {
  openPatches({{"a", 3.0, 1.0, ""}});
  run("cmdDivision");
  EXPECT_FALSE(window().hasLandscapeLevel());
  EXPECT_FALSE(window().cmdLandscape_Click());
  EXPECT_TRUE(ws.fileDialogs.empty());
  EXPECT_EQ(saveReport([this] { window().cmdTextfile_Click(); }, "division.txt"),
            "Class\tNP\tCA\tDIVISION\tSPLIT\tMESH\r\na\t1\t3.00\t0.00\t1.00\t3.00\r\n");
}

TEST_F(SubdivisionAnalysisTest, MissingAreaIsRefused) {
  openPatches({{"a", {}, 1.0, ""}}, false, true);
  run("cmdDivision");
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_EQ(ws.messages[0].text, "Please calculate Area and Perimeter!");
  EXPECT_EQ(ws.messages[0].title, "No Area/Perimeter field");
  EXPECT_EQ(session().lastOutcome, Outcome::Refused);
}

TEST_F(SubdivisionAnalysisTest, ClassOfAreaZeroIsAnUnexpectedError) {
  openPatches({{"a", 3.0, 1.0, ""}, {"b", 0.0, 1.0, ""}});
  run("cmdDivision");
  auto last = lastMessage();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->text, "Unexpected error!");
  EXPECT_EQ(last->title, kComponentTitle);
  EXPECT_EQ(last->detail, "class \"b\" has an area of 0");
  EXPECT_FALSE(shown("frmDivision"));
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
}

TEST_F(SubdivisionAnalysisTest, EmptyAreaValueIsAnUnexpectedError) {
  openPatches({{"a", {}, 1.0, ""}});
  run("cmdDivision");
  auto last = lastMessage();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->text, "Unexpected error!");
  EXPECT_NE(last->detail.find("Area"), std::string::npos) << last->detail;
}

TEST_F(SubdivisionAnalysisTest, RowsOfACancelledRunDoNotReachTheNextRun) {
  openPatches({{"a", 3.0, 1.0, ""}, {"b", 1.0, 1.0, ""}});
  cancelAtYield(2);
  run("cmdDivision");
  EXPECT_EQ(session().lastOutcome, Outcome::Cancelled);
  EXPECT_FALSE(shown("frmDivision"));
  ws.pending = nullptr;
  click("cmdDivision");
  EXPECT_EQ(rows(), (Rows{{"a", "1", "3.00", "0.00", "1.00", "3.00"}, {"b", "1", "1.00", "0.00", "1.00", "1.00"}}));
}

}  // namespace
}  // namespace quilta
