// What the neighbourhood operations make of awkward shapes: features without
// a shape, empty polygons, multipolygons, holes, duplicates, overlaps and
// self-intersecting polygons. Every operation must finish; these tests pin
// down what each kind of shape gets.

#include <gtest/gtest.h>

#include "tests/metrics/NeighbourhoodFixture.h"

namespace quilta::test {
namespace {

class NeighbourhoodBadShapesTest : public NeighbourhoodTest {
 protected:
  // Class a: the awkward shapes; class b: one real patch and one without a
  // shape; class c: one patch, without a shape.
  enum : std::int64_t {
    kNull,
    kSquare,
    kEmpty,
    kMulti,
    kHoled,
    kDuplicate,
    kOverlap,
    kBowTie,
    kReal,
    kNullOfB,
    kNullOfC
  };

  void SetUp() override {
    openPatches({
        {"", "a"},
        {rect(0, 0, 10, 10), "a"},
        {"POLYGON EMPTY", "a"},
        {"MULTIPOLYGON(((20 0,20 10,30 10,30 0,20 0)),((40 0,40 10,50 10,50 0,40 0)))", "a"},
        {"POLYGON((80 0,80 30,110 30,110 0,80 0),(90 10,100 10,100 20,90 20,90 10))", "a"},
        {rect(0, 0, 10, 10), "a"},
        {rect(5, 5, 15, 15), "a"},
        {"POLYGON((60 0,70 10,70 0,60 10,60 0))", "a"},
        {rect(200, 0, 210, 10), "b"},
        {"", "b"},
        {"", "c"},
    });
  }
};

TEST_F(NeighbourhoodBadShapesTest, NearestNeighbour) {
  run("cmdClasses");
  ASSERT_EQ(Outcome::Completed, session().lastOutcome);
  for (std::int64_t oid : {kNull, kEmpty, kNullOfB, kNullOfC}) {
    SCOPED_TRACE(oid);
    EXPECT_EQ(0, number(oid, "NNId"));
    EXPECT_EQ(kNoValue, number(oid, "NNDist"));
    EXPECT_EQ(kNoValue, number(oid, "NN_Area"));
  }
  // A duplicate and an overlapping square are both at 0: the earlier wins.
  EXPECT_EQ(kDuplicate, number(kSquare, "NNId"));
  EXPECT_EQ(kSquare, number(kDuplicate, "NNId"));
  EXPECT_EQ(kSquare, number(kOverlap, "NNId"));
  EXPECT_EQ(0, number(kOverlap, "NNDist"));
  // A multipolygon is measured from its nearest part.
  EXPECT_EQ(kOverlap, number(kMulti, "NNId"));
  EXPECT_EQ(5, number(kMulti, "NNDist"));
  // The bow tie is measured as drawn: 10 from the multipolygon's second part
  // and 10 from the holed square; the multipolygon comes first.
  EXPECT_EQ(kMulti, number(kBowTie, "NNId"));
  EXPECT_EQ(10, number(kBowTie, "NNDist"));
  EXPECT_EQ(200, number(kBowTie, "NN_Area"));
  EXPECT_EQ(kBowTie, number(kHoled, "NNId"));
  EXPECT_EQ(0, number(kHoled, "NN_Area")) << "a bow tie's two halves cancel out";
  // b's real patch has no measurable neighbour; c has one patch only.
  EXPECT_EQ(0, number(kReal, "NNId"));
  EXPECT_EQ(kNoValue, number(kReal, "NNDist"));
  EXPECT_EQ(0, messagesWith("There is only one patch in the class: b"));
  EXPECT_EQ(1, messagesWith("There is only one patch in the class: c"));
}

TEST_F(NeighbourhoodBadShapesTest, ProximityPX94) {
  run("cmdArea");
  run("cmdClasses");
  type({"10"});
  run("cmdPX94");
  ASSERT_EQ(Outcome::Completed, session().lastOutcome);
  EXPECT_EQ(kNoValue, number(kNull, "PX94_10"));
  EXPECT_EQ(kNoValue, number(kEmpty, "PX94_10"));
  EXPECT_EQ(kNoValue, number(kNullOfC, "PX94_10"));
  // Within 10 of the bow tie: itself (area 0), the multipolygon (area 200,
  // NNDist 5) and the holed square (area 800, NNDist 10).
  EXPECT_EQ(200.0 / 5 + 800.0 / 10, number(kBowTie, "PX94_10"));
  EXPECT_EQ(0, number(kReal, "PX94_10"));
}

TEST_F(NeighbourhoodBadShapesTest, ProximityFragstats) {
  type({"10"});
  run("cmdPXfrag");
  ASSERT_EQ(Outcome::Completed, session().lastOutcome);
  EXPECT_EQ(kNoValue, number(kNull, "PXfg_10"));
  EXPECT_EQ(kNoValue, number(kEmpty, "PXfg_10"));
  EXPECT_EQ(200.0 / 100 + 800.0 / 100, number(kBowTie, "PXfg_10"));
  // The duplicate and the overlap are at 0 and add nothing; the multipolygon
  // is 10 away.
  EXPECT_EQ(200.0 / 100, number(kSquare, "PXfg_10"));
  const auto& rows = ext->results.proximity.lstViewClass.rows;
  ASSERT_EQ(3u, rows.size());
  EXPECT_EQ("6", rows[0][1]) << "patches without a shape are not counted";
  EXPECT_EQ("1", rows[1][1]);
  EXPECT_EQ((std::vector<std::string>{"c", "0", "-999"}), rows[2]);
}

TEST_F(NeighbourhoodBadShapesTest, DissolveId) {
  run("cmdDissolveID");
  ASSERT_EQ(Outcome::Completed, session().lastOutcome);
  // Class a in identifier order: null 1; square, duplicate, overlap 2; empty
  // 3; multipolygon 4; holed 5; bow tie 6. Then b: 7, 8; c: 9.
  EXPECT_EQ((std::vector<double>{1, 2, 3, 4, 5, 2, 2, 6, 7, 8, 9}), column("DissolveID"));
}

}  // namespace
}  // namespace quilta::test
