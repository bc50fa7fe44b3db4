// Diversity analysis: class shares, richness against the potential richness
// the user enters, Shannon's diversity and evenness, and dominance.

#include <gtest/gtest.h>

#include <cmath>

#include "tests/metrics/StatisticsFixture.h"

namespace quilta {
namespace {

using test::Patch;
using test::Rows;

class DiversityAnalysisTest : public test::StatisticsTest {
 protected:
  frmDiversity& window() { return ext->results.diversity; }
  Rows rows() { return window().lstViewClass.rows; }
  // The landscape values as shown: diversity, evenness, dominance.
  std::vector<std::string> indices() {
    return {window().txtDiversity.text, window().txtEvenness.text, window().txtDominance.text};
  }
  void answerPotential(std::optional<std::string> answer) { ws.inputAnswers.push_back(std::move(answer)); }
};

TEST_F(DiversityAnalysisTest, AreasThreeAndOneWithPotentialTwoAndAHalf) {
  openPatches({{"a", 3.0, 1.0, ""}, {"b", 1.0, 1.0, ""}});
  answerPotential("2.5");
  run("cmdDiversity");
  ASSERT_TRUE(shown("frmDiversity"));
  ASSERT_EQ(ws.inputs.size(), 1u);
  EXPECT_EQ(ws.inputs[0].prompt, "Specify maximum possible number of different patch types in the area! (number: 2)");
  EXPECT_EQ(ws.inputs[0].title, " Potential Richness");
  EXPECT_EQ(ws.inputs[0].defaultText, "2");
  EXPECT_EQ(rows(), (Rows{{"a", "1", "3.00", "75.00"}, {"b", "1", "1.00", "25.00"}}));
  EXPECT_EQ(indices(), (std::vector<std::string>{"0.562", "0.811", "0.131"}));
  EXPECT_EQ(window().txtRichness.text, "2");
  EXPECT_EQ(window().txtRelRichness.text, "80.00");
  EXPECT_EQ(window().txtClassespot.text, "2.5");
  EXPECT_EQ(window().txtLayername.text, "patches");
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
}

TEST_F(DiversityAnalysisTest, IndicesFollowTheirDefinitionsForFourClasses) {
  const std::vector<double> areas = {5, 3, 1.5, 0.5};
  openPatches(
      {{"a", 2.0, 1.0, ""}, {"a", 3.0, 1.0, ""}, {"b", 3.0, 1.0, ""}, {"c", 1.5, 1.0, ""}, {"d", 0.5, 1.0, ""}});
  run("cmdDiversity");
  double h = 0;
  for (double a : areas) h -= (a / 10) * std::log(a / 10);
  EXPECT_EQ(indices(), (std::vector<std::string>{text::pattern000(h), text::pattern000(h / std::log(4.0)),
                                                 text::pattern000(std::log(4.0) - h)}));
  EXPECT_EQ(rows()[0], (std::vector<std::string>{"a", "2", "5.00", "50.00"}));
  // The default answer is the number of classes: all of the potential is there.
  EXPECT_EQ(window().txtRelRichness.text, "100.00");
  EXPECT_EQ(window().txtClassespot.text, "4");
}

TEST_F(DiversityAnalysisTest, EqualAreasAreEvenAndNotDominated) {
  openPatches({{"a", 2.0, 1.0, ""}, {"b", 2.0, 1.0, ""}});
  run("cmdDiversity");
  EXPECT_EQ(rows(), (Rows{{"a", "1", "2.00", "50.00"}, {"b", "1", "2.00", "50.00"}}));
  EXPECT_EQ(indices(), (std::vector<std::string>{"0.693", "1.000", "0.000"}));
}

TEST_F(DiversityAnalysisTest, SingleClassHasNoEvenness) {
  openPatches({{"a", 2.0, 1.0, ""}, {"a", 5.0, 1.0, ""}});
  run("cmdDiversity");
  EXPECT_EQ(rows(), (Rows{{"a", "2", "7.00", "100.00"}}));
  EXPECT_EQ(indices(), (std::vector<std::string>{"0.000", "-", "0.000"}));
  EXPECT_EQ(window().txtRichness.text, "1");
}

TEST_F(DiversityAnalysisTest, DecimalCommaLocaleReadsAndShowsCommas) {
  text::setDecimalSeparator(',');
  openPatches({{"a", 3.0, 1.0, ""}, {"b", 1.0, 1.0, ""}});
  answerPotential("2,5");
  run("cmdDiversity");
  EXPECT_EQ(rows(), (Rows{{"a", "1", "3,00", "75,00"}, {"b", "1", "1,00", "25,00"}}));
  EXPECT_EQ(indices(), (std::vector<std::string>{"0,562", "0,811", "0,131"}));
  EXPECT_EQ(window().txtRelRichness.text, "80,00");
  EXPECT_EQ(window().txtClassespot.text, "2,5");
}

TEST_F(DiversityAnalysisTest, PotentialBelowTheClassCountIsRefused) {
  openPatches({{"a", 3.0, 1.0, ""}, {"b", 1.0, 1.0, ""}});
  answerPotential("1");
  run("cmdDiversity");
  auto last = lastMessage();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->text, "Value must be higher than or equal 2");
  EXPECT_EQ(last->title, kComponentTitle);
  EXPECT_EQ(last->icon, Icon::None);
  EXPECT_EQ(ws.inputs.size(), 1u);  // not asked again
  EXPECT_FALSE(shown("frmDiversity"));
  EXPECT_EQ(session().lastOutcome, Outcome::Refused);
}

TEST_F(DiversityAnalysisTest, EmptyAnswerEndsSilently) {
  openPatches({{"a", 3.0, 1.0, ""}});
  presetClasses({"a"});
  answerPotential("");
  click("cmdDiversity");
  EXPECT_TRUE(ws.messages.empty());
  EXPECT_FALSE(shown("frmDiversity"));
  EXPECT_EQ(session().lastOutcome, Outcome::Cancelled);
  EXPECT_FALSE(wb().main.ProgressBar1.visible);
}

TEST_F(DiversityAnalysisTest, CancelledPromptEndsSilently) {
  openPatches({{"a", 3.0, 1.0, ""}});
  presetClasses({"a"});
  answerPotential(std::nullopt);
  click("cmdDiversity");
  EXPECT_TRUE(ws.messages.empty());
  EXPECT_FALSE(shown("frmDiversity"));
  EXPECT_EQ(session().lastOutcome, Outcome::Cancelled);
}

TEST_F(DiversityAnalysisTest, AnswerThatIsNotANumberIsAnUnexpectedError) {
  openPatches({{"a", 3.0, 1.0, ""}});
  answerPotential("many");
  run("cmdDiversity");
  auto last = lastMessage();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->text, "Unexpected error!");
  EXPECT_EQ(last->detail, "the potential richness \"many\" is not a number");
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
}

TEST_F(DiversityAnalysisTest, PerimeterIsNotNeeded) {
  openPatches({{"a", 3.0, {}, ""}}, true, false);
  run("cmdDiversity");
  EXPECT_TRUE(shown("frmDiversity"));
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
}

TEST_F(DiversityAnalysisTest, MissingAreaIsRefused) {
  openPatches({{"a", {}, 1.0, ""}}, false, true);
  run("cmdDiversity");
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_EQ(ws.messages[0].text, "Please calculate Area and Perimeter!");
  EXPECT_EQ(ws.messages[0].title, "No Area/Perimeter field");
  EXPECT_EQ(ws.messages[0].icon, Icon::Exclamation);
  EXPECT_TRUE(ws.inputs.empty());
  EXPECT_EQ(session().lastOutcome, Outcome::Refused);
}

TEST_F(DiversityAnalysisTest, ClassOfAreaZeroIsAnUnexpectedError) {
  openPatches({{"a", 3.0, 1.0, ""}, {"b", 0.0, 1.0, ""}});
  run("cmdDiversity");
  auto last = lastMessage();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->text, "Unexpected error!");
  EXPECT_NE(last->detail.find("class \"b\""), std::string::npos) << last->detail;
  EXPECT_FALSE(shown("frmDiversity"));
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
}

TEST_F(DiversityAnalysisTest, TotalAreaOfZeroIsAnUnexpectedError) {
  openPatches({{"a", 0.0, 1.0, ""}});
  run("cmdDiversity");
  auto last = lastMessage();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->text, "Unexpected error!");
  EXPECT_EQ(last->detail, "the selected classes have a total area of 0");
}

TEST_F(DiversityAnalysisTest, CancelInTheSecondPassShowsNothing) {
  openPatches({{"a", 3.0, 1.0, ""}, {"b", 1.0, 1.0, ""}});
  presetClasses({"a", "b"});
  cancelAtYield(2);
  click("cmdDiversity");
  EXPECT_EQ(session().lastOutcome, Outcome::Cancelled);
  EXPECT_FALSE(shown("frmDiversity"));
  EXPECT_TRUE(ws.messages.empty());
  EXPECT_EQ(rows().size(), 1u);  // the first class of the second pass was done
}

}  // namespace
}  // namespace quilta
