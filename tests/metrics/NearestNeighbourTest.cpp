// Tests of the nearest-neighbour analysis: the three fields and their -999
// preset, the neighbour of a patch in small hand-checked layouts (touching,
// ties, other classes, a lone patch), reruns, cancel, and the comparison
// with the pairwise definition on random landscapes.

#include <gtest/gtest.h>

#include "tests/metrics/NeighbourhoodFixture.h"

namespace quilta::test {
namespace {

class NearestNeighbourTest : public NeighbourhoodTest {
 protected:
  void expectNeighbour(std::int64_t oid, double distance, double id, double area) {
    SCOPED_TRACE("patch " + std::to_string(oid));
    EXPECT_EQ(distance, number(oid, "NNDist"));
    EXPECT_EQ(id, number(oid, "NNId"));
    EXPECT_EQ(area, number(oid, "NN_Area"));
  }
};

TEST_F(NearestNeighbourTest, WritesDistanceIdentifierAndAreaOfTheClosestPatch) {
  openPatches({{rect(0, 0, 10, 10), "a"}, {rect(30, 0, 40, 20), "a"}, {rect(0, 14, 5, 20), "a"}});
  run("cmdClasses");
  expectNeighbour(0, 4, 2, 30);
  expectNeighbour(1, 20, 0, 100);
  expectNeighbour(2, 4, 0, 100);
  EXPECT_EQ(1, messagesWith("Calculation finished!"));
  EXPECT_EQ(Outcome::Completed, session().lastOutcome);
}

TEST_F(NearestNeighbourTest, TouchingPatchesAreAtDistanceZero) {
  openPatches({{rect(0, 0, 10, 10), "a"}, {rect(10, 0, 20, 5), "a"}});
  run("cmdClasses");
  expectNeighbour(0, 0, 1, 50);
  expectNeighbour(1, 0, 0, 100);
}

TEST_F(NearestNeighbourTest, OfTwoPatchesAtTheSameDistanceTheFirstWins) {
  openPatches({{rect(0, 0, 10, 10), "a"},       // 0
               {rect(20, 0, 30, 10), "a"},      // 1: 10 to the right of 3
               {rect(5, 20, 10, 25), "a"},      // 2: 10 above 3 (area 25)
               {rect(0, -20, 10, -10), "a"}});  // 3
  run("cmdClasses");
  // Patch 3: 0 is 10 above it, the others are further.
  expectNeighbour(3, 10, 0, 100);
  // Patch 0: 1 (to the right) and 2 (above) and 3 (below) are all 10 away.
  expectNeighbour(0, 10, 1, 100);
}

TEST_F(NearestNeighbourTest, PatchesOfOtherClassesAreNeverNeighbours) {
  openPatches(
      {{rect(0, 0, 10, 10), "a"}, {rect(10, 0, 20, 10), "b"}, {rect(50, 0, 60, 10), "a"}, {rect(70, 0, 75, 10), "b"}});
  run("cmdClasses");
  expectNeighbour(0, 40, 2, 100);
  expectNeighbour(1, 50, 3, 50);
}

TEST_F(NearestNeighbourTest, ALonePatchGetsIdentifierZeroAndNoValueAndAMessage) {
  openPatches({{rect(0, 0, 10, 10), "a"}, {rect(20, 0, 30, 10), "b"}, {rect(40, 0, 50, 10), "b"}});
  run("cmdClasses");
  expectNeighbour(0, kNoValue, 0, kNoValue);
  expectNeighbour(1, 10, 2, 100);
  EXPECT_EQ(1, messagesWith("There is only one patch in the class: a"));
  EXPECT_EQ(0, messagesWith("There is only one patch in the class: b"));
}

TEST_F(NearestNeighbourTest, NewFieldsArePresetForEveryFeatureAndExistingOnesAreKept) {
  openPatches(
      {{rect(0, 0, 10, 10), "a"}, {rect(20, 0, 30, 10), "a"}, {rect(40, 0, 50, 10), "b"}, {rect(60, 0, 70, 10), "b"}});
  run("cmdClasses", {"a"});
  EXPECT_EQ(kNoValue, number(2, "NNDist")) << "a class not selected keeps the preset";
  EXPECT_EQ(3, table().field(table().findField("NNId")).type);
  // A second run over "b" only: "a" keeps its values, the preset is not redone.
  presetClasses({"b"});
  click("cmdClasses");
  expectNeighbour(0, 10, 1, 100);
  expectNeighbour(2, 10, 3, 100);
}

TEST_F(NearestNeighbourTest, CancelStopsBetweenClassesAndKeepsWhatWasStored) {
  openPatches(
      {{rect(0, 0, 10, 10), "a"}, {rect(20, 0, 30, 10), "a"}, {rect(40, 0, 50, 10), "b"}, {rect(60, 0, 70, 10), "b"}});
  presetClasses({"a", "b"});
  cancelAtYield(2);  // the second class begins
  click("cmdClasses");
  EXPECT_EQ(Outcome::Cancelled, session().lastOutcome);
  EXPECT_EQ(10, number(0, "NNDist"));
  EXPECT_EQ(kNoValue, number(2, "NNDist"));
  EXPECT_EQ(0, messagesWith("Calculation finished!"));
  EXPECT_FALSE(wb().main.ProgressBar1.visible);
}

TEST_F(NearestNeighbourTest, ACancelledClassSelectionCreatesNoField) {
  openPatches({{rect(0, 0, 10, 10), "a"}});
  ws.onShow("frmFields", [this](WindowModel&) { wb().fields.cmdCancel1_Click(); });
  click("cmdClasses");
  EXPECT_FALSE(hasField("NNDist"));
}

TEST_F(NearestNeighbourTest, RandomLandscapeMatchesThePairwiseDefinition) {
  openRandomPatches(11);
  run("cmdClasses");
  ASSERT_EQ(Outcome::Completed, session().lastOutcome);
  int ties = 0;
  for (const auto& [cls, members] : classesOf) {
    for (const auto& [oid, expected] : pairwiseNearest(cls)) {
      const std::string what = "patch " + std::to_string(oid) + " of class " + cls;
      EXPECT_EQ(expected.id, number(oid, "NNId")) << what;
      expectClose(expected.distance, number(oid, "NNDist"), what);
      expectClose(expected.area, number(oid, "NN_Area"), what);
      for (std::int64_t g : members)
        ties += g != oid && static_cast<double>(g) != expected.id && shape(oid).distance(shape(g)) == expected.distance;
    }
  }
  EXPECT_GT(ties, 5) << "the landscape should hold equal distances";
}

}  // namespace
}  // namespace quilta::test
