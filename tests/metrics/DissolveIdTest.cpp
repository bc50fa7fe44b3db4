// Tests of the dissolve identifier: the confirmation, the fresh field, which
// patches share a number (chains, corners, other classes in between), how the
// numbers run across groups and classes, cancel, and the comparison with the
// group growth of the definition on random landscapes.

#include <gtest/gtest.h>

#include "tests/metrics/NeighbourhoodFixture.h"

namespace quilta::test {
namespace {

constexpr const char* kConfirmation =
    "Calculates a unique ID for adjacent patches of the same class. Use Toolbox to dissolve theme based on this ID. "
    "Attention, may take a long time!";

class DissolveIdTest : public NeighbourhoodTest {
 protected:
  std::vector<double> ids() { return column("DissolveID"); }
};

TEST_F(DissolveIdTest, AsksFirstAndDoesNothingWhenCancelled) {
  openPatches({{rect(0, 0, 10, 10), "a"}}, {"DissolveID"}, {{7}});
  ws.answers.push_back(Answer::Cancel);
  run("cmdDissolveID");
  ASSERT_EQ(1u, ws.messages.size());
  EXPECT_EQ(kConfirmation, ws.messages[0].text);
  EXPECT_EQ(Buttons::OKCancel, ws.messages[0].buttons);
  EXPECT_EQ(Icon::None, ws.messages[0].icon);
  EXPECT_EQ(kComponentTitle, ws.messages[0].title);
  EXPECT_TRUE(ws.windowsShown.empty());
  EXPECT_EQ((std::vector<double>{7}), ids());
  EXPECT_EQ(Outcome::Cancelled, session().lastOutcome);
}

TEST_F(DissolveIdTest, AChainOfTouchingPatchesSharesANumber) {
  openPatches({{rect(0, 0, 10, 10), "a"}, {rect(10, 0, 20, 10), "a"}, {rect(20, 0, 30, 10), "a"}});
  run("cmdDissolveID");
  EXPECT_EQ((std::vector<double>{1, 1, 1}), ids());
  EXPECT_EQ(1, messagesWith("Calculation finished!"));
}

TEST_F(DissolveIdTest, ACommonCornerConnects) {
  openPatches({{rect(0, 0, 10, 10), "a"}, {rect(10, 10, 20, 20), "a"}});
  run("cmdDissolveID");
  EXPECT_EQ((std::vector<double>{1, 1}), ids());
}

TEST_F(DissolveIdTest, APatchOfAnotherClassInBetweenSeparates) {
  openPatches({{rect(0, 0, 10, 10), "a"}, {rect(10, 0, 20, 10), "b"}, {rect(20, 0, 30, 10), "a"}});
  run("cmdDissolveID");
  EXPECT_EQ((std::vector<double>{1, 3, 2}), ids());
}

TEST_F(DissolveIdTest, TouchingPatchesOfTwoClassesGetNumbersOfTheirOwnClass) {
  openPatches({{rect(0, 0, 10, 10), "b"}, {rect(10, 0, 20, 10), "a"}, {rect(100, 0, 110, 10), "b"}});
  run("cmdDissolveID");
  EXPECT_EQ((std::vector<double>{2, 1, 3}), ids()) << "a first, then b's two groups";
}

TEST_F(DissolveIdTest, NumbersRunThroughTheClassesInTheirSelectedOrder) {
  // Class a: two groups; class b: one group.
  openPatches(
      {{rect(0, 0, 10, 10), "a"}, {rect(50, 0, 60, 10), "a"}, {rect(0, 50, 10, 60), "b"}, {rect(10, 50, 20, 60), "b"}});
  run("cmdDissolveID");
  EXPECT_EQ((std::vector<double>{1, 2, 3, 3}), ids());
  presetClasses({"b", "a"});
  click("cmdDissolveID");
  EXPECT_EQ((std::vector<double>{2, 3, 1, 1}), ids());
}

TEST_F(DissolveIdTest, GroupsAreNumberedByTheirFirstPatch) {
  // 0 and 2 touch; 1 is alone; 3 touches 1 only through 4.
  openPatches({{rect(0, 0, 10, 10), "a"},
               {rect(50, 0, 60, 10), "a"},
               {rect(10, 0, 20, 10), "a"},
               {rect(70, 0, 80, 10), "a"},
               {rect(60, 0, 70, 10), "a"}});
  run("cmdDissolveID");
  EXPECT_EQ((std::vector<double>{1, 2, 1, 2, 2}), ids());
  EXPECT_EQ((std::vector<std::int64_t>{1, 3, 4}), host.document().selectedLayer()->selection().oids())
      << "the last group numbered stays selected";
}

TEST_F(DissolveIdTest, AnIslandInAHoleIsApartUnlessItTouchesTheHole) {
  openPatches({{"POLYGON((0 0,0 30,30 30,30 0,0 0),(10 10,20 10,20 20,10 20,10 10))", "a"},
               {rect(12, 12, 18, 18), "a"},
               {"POLYGON((40 0,40 30,70 30,70 0,40 0),(50 10,60 10,60 20,50 20,50 10))", "a"},
               {rect(50, 10, 55, 15), "a"}});
  run("cmdDissolveID");
  EXPECT_EQ((std::vector<double>{1, 2, 3, 3}), ids());
}

TEST_F(DissolveIdTest, TheFieldIsRebuiltSoUnselectedClassesReadZero) {
  openPatches({{rect(0, 0, 10, 10), "a"}, {rect(20, 0, 30, 10), "b"}}, {"DissolveID"}, {{5}, {6}});
  run("cmdDissolveID", {"a"});
  EXPECT_EQ((std::vector<double>{1, 0}), ids());
  EXPECT_EQ(3, table().field(table().findField("DissolveID")).type);
}

TEST_F(DissolveIdTest, CancelKeepsTheGroupsAlreadyNumbered) {
  openPatches({{rect(0, 0, 10, 10), "a"}, {rect(10, 0, 20, 10), "a"}, {rect(0, 50, 10, 60), "b"}});
  presetClasses({"a", "b"});
  cancelAtYield(2);
  click("cmdDissolveID");
  EXPECT_EQ(Outcome::Cancelled, session().lastOutcome);
  EXPECT_EQ((std::vector<double>{1, 1, 0}), ids());
  EXPECT_EQ(0, messagesWith("Calculation finished!"));
}

TEST_F(DissolveIdTest, RandomLandscapeMatchesTheGroupGrowthOfTheDefinition) {
  openRandomPatches(15);
  run("cmdDissolveID");
  ASSERT_EQ(Outcome::Completed, session().lastOutcome);
  std::vector<std::string> order;
  for (const auto& [cls, members] : classesOf) order.push_back(cls);
  const auto expected = pairwiseDissolve(order);
  std::map<double, int> sizes;
  for (const auto& [oid, id] : expected) {
    EXPECT_EQ(id, number(oid, "DissolveID")) << "patch " << oid;
    ++sizes[id];
  }
  int largeGroups = 0;
  for (const auto& [id, size] : sizes) largeGroups += size >= 3;
  EXPECT_GE(largeGroups, 10) << "the landscape should hold groups of several patches";
}

}  // namespace
}  // namespace quilta::test
