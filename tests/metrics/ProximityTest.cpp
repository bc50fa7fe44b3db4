// Tests of the three proximity indices: the prompts for the buffer and the
// field name (default buffer, suffix loop, refusals), the value of a patch in
// small hand-checked layouts (the buffer boundary, touching neighbours, other
// classes, lone patches), the class and landscape means of the fragstats
// variant, and the comparison with the pairwise definitions on random
// landscapes.

#include <gtest/gtest.h>

#include "tests/metrics/NeighbourhoodFixture.h"

namespace quilta::test {
namespace {

constexpr const char* kBufferPrompt = "Enter Proximity Buffer in Distance Units (default value: maximum extent)!";
constexpr const char* kSuffixPrompt =
    "Proximity field name in attribute table too long, please enter new field name (< 6 characters):";

class ProximityTest : public NeighbourhoodTest {
 protected:
  // Patches whose nearest-neighbour fields are given: {NNDist, NN_Area}.
  void openWithNearest(const std::vector<ClassPatch>& patches, const std::vector<std::pair<double, double>>& nearest,
                       const std::vector<double>& areas = {}) {
    std::vector<std::string> fields = {"NNDist", "NNId", "NN_Area"};
    if (!areas.empty()) fields.push_back("Area");
    std::vector<std::vector<double>> values;
    for (std::size_t i = 0; i < nearest.size(); ++i) {
      values.push_back({nearest[i].first, 0.0, nearest[i].second});
      if (!areas.empty()) values.back().push_back(areas[i]);
    }
    openPatches(patches, fields, values);
  }
  // Patches in a row along x, 10 apart, each 10 x 10, all of class "a".
  static std::vector<ClassPatch> row(int n, const std::string& cls = "a") {
    std::vector<ClassPatch> out;
    for (int i = 0; i < n; ++i) out.push_back({rect(20.0 * i, 0, 20.0 * i + 10, 10), cls});
    return out;
  }
  frmProximity& window() { return ext->results.proximity; }
  std::vector<std::string> windowRow(std::size_t i) { return window().lstViewClass.rows.at(i); }
};

// --- the buffer and field name prompts ----------------------------------------

TEST_F(ProximityTest, TheDefaultBufferIsTheLongerExtentSideRoundedHalfToEven) {
  struct Case {
    double width, height;
    std::string expected;
  };
  for (const Case& c :
       {Case{1234.5, 800, "1234"}, Case{1235.5, 800, "1236"}, Case{800, 1236.5, "1236"}, Case{99.4, 99.4, "99"}}) {
    SCOPED_TRACE(c.expected);
    TempDir folder;
    writeShapefile(folder / "patches.shp", {{"cover", 'S', 20}}, {{rect(0, 0, c.width, c.height), {"a"}}});
    host.document().addShapefile(folder / "patches.shp");
    ext = std::make_unique<Extension>(host, ws, dir.path());
    ws.inputs.clear();
    type({""});
    run("cmdPXfrag");
    ASSERT_EQ(1u, ws.inputs.size());
    EXPECT_EQ(kBufferPrompt, ws.inputs[0].prompt);
    EXPECT_EQ("Proximity Buffer", ws.inputs[0].title);
    EXPECT_EQ(c.expected, ws.inputs[0].defaultText);
  }
}

TEST_F(ProximityTest, AnEmptyBufferAnswerEndsTheRunQuietly) {
  openPatches(row(2));
  ws.inputAnswers.push_back(std::nullopt);  // Cancel in the input box
  run("cmdPXfrag");
  EXPECT_FALSE(hasField("PXfg_"));
  EXPECT_NE("frmProximity", ws.windowsShown.back());
  EXPECT_EQ(Outcome::Cancelled, session().lastOutcome);
}

TEST_F(ProximityTest, ABufferThatIsNotANumberFailsTheRunBeforeAnyField) {
  openPatches(row(2));
  type({"ten"});
  run("cmdPXfrag");
  EXPECT_EQ(1, messagesWith(kShapefileError));
  EXPECT_NE(std::string::npos, ws.messages.back().detail.find("ten"));
  EXPECT_FALSE(hasField("PXfg_ten"));
  EXPECT_EQ(Outcome::Failed, session().lastOutcome);
}

TEST_F(ProximityTest, ALongBufferTextAsksForTheFieldNameAndKeepsTheBuffer) {
  // NNDist 1000.5 is within a buffer of 1000.5; 1000.6 is not.
  openWithNearest(row(2), {{1000.5, 2001}, {1000.6, 2001}});
  type({"1000.5", "toolong", "big"});
  run("cmdPX");
  ASSERT_EQ(3u, ws.inputs.size());
  EXPECT_EQ(kSuffixPrompt, ws.inputs[1].prompt);
  EXPECT_EQ("PX", ws.inputs[1].title);
  EXPECT_EQ("", ws.inputs[1].defaultText);
  EXPECT_EQ(2, number(0, "PX92_big"));
  EXPECT_EQ(0, number(1, "PX92_big"));
}

TEST_F(ProximityTest, CancellingTheFieldNamePromptLeavesTheBarePrefix) {
  openWithNearest(row(1), {{5, 10}});
  type({"123456"});
  ws.inputAnswers.push_back(std::nullopt);
  run("cmdPX");
  EXPECT_TRUE(hasField("PX92_"));
  EXPECT_EQ(2, number(0, "PX92_"));
}

TEST_F(ProximityTest, AFieldNameTheTableRefusesFailsTheRunWithTheCause) {
  QUILTA_SHAPEFILE_ONLY();  // a dBASE table's rule on field names
  openWithNearest(row(1), {{5, 10}});
  type({"12.5"});  // "PX92_12.5": a point is not allowed in a field name
  run("cmdPX");
  EXPECT_EQ(1, messagesWith(kShapefileError));
  EXPECT_NE(std::string::npos, ws.messages.back().detail.find("PX92_12.5"));
}

// --- PX92 -----------------------------------------------------------------

TEST_F(ProximityTest, PX92RefusesWithoutTheNearestNeighbourFields) {
  openPatches(row(2));
  run("cmdPX");
  ASSERT_EQ(1u, ws.messages.size());
  EXPECT_EQ("Please perform Nearest Neighbour Analysis!", ws.messages[0].text);
  EXPECT_EQ("No NN", ws.messages[0].title);
  EXPECT_EQ(Icon::Exclamation, ws.messages[0].icon);
  EXPECT_TRUE(ws.windowsShown.empty()) << "the class selection is not run";
  EXPECT_EQ(Outcome::Refused, session().lastOutcome);
}

TEST_F(ProximityTest, PX92DividesTheNeighboursAreaByItsDistanceWithinTheBuffer) {
  // NNDist: at the buffer, just beyond, touching, the marker, inside.
  openWithNearest(row(5), {{10, 50}, {10.000001, 50}, {0, 50}, {kNoValue, 50}, {4, 8}});
  type({"10"});
  run("cmdPX");
  EXPECT_EQ((std::vector<double>{5, 0, 0, 0, 2}), column("PX92_10"));
  EXPECT_EQ(1, messagesWith("Calculation finished!"));
}

TEST_F(ProximityTest, PX92PresetsANewFieldAndReusesAnExistingOne) {
  openWithNearest({{rect(0, 0, 1, 1), "a"}, {rect(5, 0, 6, 1), "b"}}, {{4, 8}, {4, 12}});
  type({"10"});
  run("cmdPX", {"a"});
  EXPECT_EQ((std::vector<double>{2, kNoValue}), column("PX92_10"));
  presetClasses({"b"});
  type({"10"});
  click("cmdPX");
  EXPECT_EQ((std::vector<double>{2, 3}), column("PX92_10"));
}

// --- PX94 -----------------------------------------------------------------

TEST_F(ProximityTest, PX94RefusesWithoutNearestNeighbourFieldsOrArea) {
  openWithNearest(row(1), {{5, 10}});
  run("cmdPX94");
  ASSERT_EQ(1u, ws.messages.size());
  EXPECT_EQ("Please calculate Area!", ws.messages[0].text);
  EXPECT_EQ("No Area field", ws.messages[0].title);
  EXPECT_EQ(Icon::Exclamation, ws.messages[0].icon);
}

TEST_F(ProximityTest, PX94ALonePatchCountsItsOwnAreaOverNearestDistance) {
  openWithNearest({{rect(0, 0, 10, 10), "a"}, {rect(100, 0, 110, 10), "b"}, {rect(200, 0, 210, 10), "c"}},
                  {{4, 0}, {kNoValue, 0}, {0, 0}}, {100, 100, 100});
  type({"10"});
  run("cmdPX94");
  EXPECT_EQ((std::vector<double>{25, 0, 0}), column("PX94_10"));
}

TEST_F(ProximityTest, PX94SumsThePatchesWithinTheBufferWhateverTheirDistance) {
  // 0 and 1 touch; 2 is exactly 10 from 1; 3 is just beyond 10 from 2; 4 is
  // of another class and touches 0.
  openWithNearest({{rect(0, 0, 10, 10), "a"},
                   {rect(10, 0, 20, 10), "a"},
                   {rect(30, 0, 40, 10), "a"},
                   {rect(50.000001, 0, 60, 10), "a"},
                   {rect(0, 10, 10, 20), "b"}},
                  {{1, 0}, {2, 0}, {4, 0}, {5, 0}, {1, 0}}, {10, 20, 40, 50, 1000});
  type({"10"});
  run("cmdPX94", {"a"});
  // Contributions Area / NNDist: 10, 10, 10, 10.
  EXPECT_EQ(20, number(0, "PX94_10"));  // itself and 1
  EXPECT_EQ(30, number(1, "PX94_10"));  // 0, itself, 2 at exactly 10
  EXPECT_EQ(20, number(2, "PX94_10"));  // 1, itself
  EXPECT_EQ(10, number(3, "PX94_10"));  // itself only
  EXPECT_EQ(kNoValue, number(4, "PX94_10"));
}

TEST_F(ProximityTest, PX94WithBufferZeroCountsItselfAndWhatTouches) {
  openWithNearest({{rect(0, 0, 10, 10), "a"}, {rect(10, 10, 20, 20), "a"}, {rect(11, 0, 20, 9), "a"}},
                  {{1, 0}, {2, 0}, {4, 0}}, {10, 10, 10});
  type({"0"});
  run("cmdPX94");
  EXPECT_EQ((std::vector<double>{15, 15, 2.5}), column("PX94_0"));
}

// --- fragstats ---------------------------------------------------------------

TEST_F(ProximityTest, FragstatsAddsAreaOverSquaredDistanceOfEachNeighbour) {
  // 1 and 2 (area 200 each) lie 10 from 0; 3 touches 0; 4 is beyond the buffer.
  openPatches({{rect(0, 0, 10, 10), "a"},
               {rect(20, 0, 30, 20), "a"},
               {rect(0, 20, 20, 30), "a"},
               {rect(-10, 0, 0, 10), "a"},
               {rect(100, 0, 110, 10), "a"}});
  type({"15"});
  run("cmdPXfrag");
  EXPECT_EQ(4, number(0, "PXfg_15"));
  EXPECT_EQ(0, number(4, "PXfg_15")) << "nothing within the buffer";
  EXPECT_EQ("frmProximity", ws.windowsShown.back());
  EXPECT_EQ(0, messagesWith("Calculation finished!"));
}

TEST_F(ProximityTest, FragstatsTakesANeighbourExactlyAtTheBufferEvenAtACorner) {
  // Corner to corner 3 by 4: exactly 5 apart. A polygonal buffer would cut
  // the rounded corner of the buffer and miss it.
  openPatches({{rect(0, 0, 10, 10), "a"}, {rect(13, 14, 23, 24), "a"}, {rect(0, 15.000001, 10, 25), "a"}});
  type({"5"});
  run("cmdPXfrag");
  EXPECT_EQ(4, number(0, "PXfg_5"));  // 100 / 25; the third is just beyond
}

TEST_F(ProximityTest, FragstatsWithBufferZeroGivesZeroEverywhere) {
  openPatches({{rect(0, 0, 10, 10), "a"}, {rect(10, 0, 20, 10), "a"}, {rect(30, 0, 40, 10), "a"}});
  type({"0"});
  run("cmdPXfrag");
  EXPECT_EQ((std::vector<double>{0, 0, 0}), column("PXfg_0"));
  EXPECT_EQ("0.00", windowRow(0)[2]);
  EXPECT_EQ("0.00", window().txtProximity.text);
}

TEST_F(ProximityTest, FragstatsShowsPatchCountAndMeanPerClass) {
  text::setDecimalSeparator(',');
  // 10 apart: the larger (200) gets 100 / 10^2 = 1, the smaller 200 / 10^2 = 2.
  openPatches({{rect(0, 0, 10, 20), "a"}, {rect(20, 0, 30, 10), "a"}});
  type({"10"});
  run("cmdPXfrag");
  EXPECT_EQ((std::vector<double>{1, 2}), column("PXfg_10"));
  ASSERT_EQ(1u, window().lstViewClass.rows.size());
  EXPECT_EQ((std::vector<std::string>{"a", "2", "1,50"}), windowRow(0));
  EXPECT_EQ("patches", window().txtLayername.text);
  EXPECT_EQ("1,50", window().txtProximity.text);
}

TEST_F(ProximityTest, FragstatsLandscapeMeanIsOverPatchesNotClasses) {
  // Class a: three pairs of 10 x 30 rectangles 10 apart, far from each other:
  // six patches of value 3. Class b: two 10 x 10 squares 10 apart: value 1.
  std::vector<ClassPatch> patches;
  for (int pair = 0; pair < 3; ++pair) {
    const double x = 200.0 * pair;
    patches.push_back({rect(x, 0, x + 10, 30), "a"});
    patches.push_back({rect(x + 20, 0, x + 30, 30), "a"});
  }
  patches.push_back({rect(0, 500, 10, 510), "b"});
  patches.push_back({rect(20, 500, 30, 510), "b"});
  openPatches(patches);
  type({"15"});
  run("cmdPXfrag");
  EXPECT_EQ((std::vector<std::string>{"a", "6", "3.00"}), windowRow(0));
  EXPECT_EQ((std::vector<std::string>{"b", "2", "1.00"}), windowRow(1));
  EXPECT_EQ("2.50", window().txtProximity.text) << "not the mean of the class means, 2.00";
}

TEST_F(ProximityTest, FragstatsIgnoresOtherClassesAndLeavesThemAlone) {
  openPatches({{rect(0, 0, 10, 10), "a"}, {rect(20, 0, 30, 10), "b"}, {rect(40, 0, 50, 10), "a"}});
  type({"100"});
  run("cmdPXfrag", {"a"});
  expectClose(100.0 / 900, number(0, "PXfg_100"), "a, 30 from the other a");
  EXPECT_EQ(kNoValue, number(1, "PXfg_100"));
  expectClose(100.0 / 900, number(2, "PXfg_100"), "a, 30 from the other a");
}

TEST_F(ProximityTest, FragstatsLeavesTheLastPatchAndItsCandidatesSelected) {
  openPatches({{rect(0, 0, 10, 10), "a"},
               {rect(20, 0, 30, 10), "a"},
               {rect(500, 0, 510, 10), "a"},
               {rect(40, 0, 50, 10), "a"}});
  type({"10"});
  run("cmdPXfrag");
  EXPECT_EQ((std::vector<std::int64_t>{1, 3}), host.document().selectedLayer()->selection().oids());
}

TEST_F(ProximityTest, FragstatsCancelShowsNoWindowAndKeepsStoredPatches) {
  openPatches(
      {{rect(0, 0, 10, 10), "a"}, {rect(20, 0, 30, 10), "a"}, {rect(0, 50, 10, 60), "b"}, {rect(20, 50, 30, 60), "b"}});
  presetClasses({"a", "b"});
  type({"10"});
  cancelAtYield(2);
  click("cmdPXfrag");
  EXPECT_EQ(Outcome::Cancelled, session().lastOutcome);
  EXPECT_EQ((std::vector<double>{1, 1, kNoValue, kNoValue}), column("PXfg_10"));
  EXPECT_TRUE(ws.windowsShown.empty());
}

// --- random landscapes ---------------------------------------------------------

TEST_F(ProximityTest, PX94OnARandomLandscapeMatchesThePairwiseDefinition) {
  openRandomPatches(12);
  run("cmdArea");
  run("cmdClasses");
  type({"5"});
  run("cmdPX94");
  ASSERT_EQ(Outcome::Completed, session().lastOutcome);
  for (const auto& [cls, members] : classesOf)
    for (const auto& [oid, expected] : pairwisePX94(cls, 5))
      expectClose(expected, number(oid, "PX94_5"), "patch " + std::to_string(oid));
}

TEST_F(ProximityTest, PX92OnARandomLandscapeMatchesTheDefinition) {
  openRandomPatches(13);
  run("cmdClasses");
  type({"5"});
  run("cmdPX");
  for (std::int64_t oid = 0; oid < table().count(); ++oid) {
    const double d = number(oid, "NNDist");
    expectClose(d > 0 && d <= 5 ? number(oid, "NN_Area") / d : 0.0, number(oid, "PX92_5"), std::to_string(oid));
  }
}

TEST_F(ProximityTest, FragstatsOnARandomLandscapeMatchesThePairwiseDefinition) {
  openRandomPatches(14);
  type({"5"});
  run("cmdPXfrag");
  ASSERT_EQ(Outcome::Completed, session().lastOutcome);
  double landscapeSum = 0;
  std::size_t row = 0;
  for (const auto& [cls, members] : classesOf) {  // classes offered in ascending order
    double classSum = 0;
    for (const auto& [oid, expected] : pairwiseFragstats(cls, 5)) {
      expectClose(expected, number(oid, "PXfg_5"), "patch " + std::to_string(oid));
      classSum += expected;
    }
    landscapeSum += classSum;
    const double n = static_cast<double>(members.size());
    EXPECT_EQ((std::vector<std::string>{cls, text::general(n), text::fixed(classSum / n)}), windowRow(row++));
  }
  EXPECT_EQ(text::pattern00(landscapeSum / static_cast<double>(table().count())), window().txtProximity.text);
  int atBuffer = 0;
  for (const auto& [cls, members] : classesOf)
    for (std::int64_t p : members)
      for (std::int64_t g : members) atBuffer += g != p && shape(p).distance(shape(g)) == 5.0;
  EXPECT_GT(atBuffer, 10) << "the landscape should hold patches exactly at the buffer";
}

}  // namespace
}  // namespace quilta::test
