// Tests of the spatial index over patch shapes: every query against its
// pairwise definition written with Polygon::distance and Polygon::intersects,
// on tiny hand-checkable shapes and on random landscapes; shapes that cannot
// be measured; shapes and situations the fast path hands to the geometry
// engine.

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/Geometry.h"
#include "host/HostError.h"
#include "host/SpatialIndex.h"
#include "tests/support/Fixtures.h"
#include "tests/support/RandomPatches.h"

namespace quilta {
namespace {

using test::rect;

class SpatialIndexTest : public ::testing::Test {
 protected:
  std::vector<Polygon> shapes;

  // Adds a shape (empty text: an empty shape); returns its position.
  std::size_t add(const std::string& wkt) {
    shapes.push_back(wkt.empty() ? Polygon() : Polygon::fromWkt(wkt));
    return shapes.size() - 1;
  }
  SpatialIndex index() const {
    std::vector<const Polygon*> pointers;
    for (const Polygon& p : shapes) pointers.push_back(&p);
    return SpatialIndex(pointers);
  }
  bool measurable(std::size_t m) const { return !shapes[m].isEmpty(); }

  // The definitions, pair by pair, in position order.
  std::optional<SpatialIndex::Neighbour> pairwiseNearest(std::size_t m) const {
    std::optional<SpatialIndex::Neighbour> best;
    if (!measurable(m)) return best;
    for (std::size_t g = 0; g < shapes.size(); ++g) {
      if (g == m || !measurable(g)) continue;
      const double d = shapes[m].distance(shapes[g]);
      if (!best || d < best->distance) best = SpatialIndex::Neighbour{g, d};
    }
    return best;
  }
  std::vector<std::size_t> pairwiseWithin(std::size_t m, double limit) const {
    std::vector<std::size_t> out;
    if (!measurable(m)) return out;
    for (std::size_t g = 0; g < shapes.size(); ++g)
      if (measurable(g) && shapes[m].distance(shapes[g]) <= limit) out.push_back(g);
    return out;
  }
  std::vector<std::size_t> pairwiseIntersecting(std::size_t m) const {
    std::vector<std::size_t> out;
    for (std::size_t g = 0; g < shapes.size(); ++g)
      if (shapes[m].intersects(shapes[g])) out.push_back(g);
    return out;
  }
  // Groups grown from the first ungrouped shape by adding, pass after pass,
  // every shape that touches a member; each labelled by its seed.
  std::vector<std::size_t> pairwiseGroups() const {
    const std::size_t n = shapes.size();
    std::vector<std::vector<bool>> touch(n, std::vector<bool>(n));
    for (std::size_t a = 0; a < n; ++a)
      for (std::size_t b = a; b < n; ++b) touch[a][b] = touch[b][a] = shapes[a].intersects(shapes[b]);
    std::vector<std::size_t> label(n, SIZE_MAX);
    for (std::size_t seed = 0; seed < n; ++seed) {
      if (label[seed] != SIZE_MAX) continue;
      std::vector<bool> member(n);
      member[seed] = true;
      for (bool grew = true; grew;) {
        grew = false;
        for (std::size_t g = 0; g < n; ++g)
          for (std::size_t h = 0; h < n && !member[g]; ++h)
            if (member[h] && touch[h][g]) member[g] = grew = true;
      }
      for (std::size_t g = 0; g < n; ++g)
        if (member[g]) label[g] = seed;
    }
    return label;
  }

  std::vector<std::size_t> within(const SpatialIndex& idx, std::size_t m, double limit) const {
    std::vector<std::size_t> out;
    idx.withinDistance(m, limit, out);
    return out;
  }
  std::vector<std::size_t> intersecting(const SpatialIndex& idx, std::size_t m) const {
    std::vector<std::size_t> out;
    idx.intersecting(m, out);
    return out;
  }

  // Every query of the index equals its definition for every shape.
  void expectAllQueriesMatchDefinitions(double limit) {
    const SpatialIndex idx = index();
    for (std::size_t m = 0; m < shapes.size(); ++m) {
      SCOPED_TRACE("shape " + std::to_string(m) + ": " + shapes[m].toWkt());
      auto expected = pairwiseNearest(m);
      auto actual = idx.nearest(m);
      ASSERT_EQ(expected.has_value(), actual.has_value());
      if (expected) {
        EXPECT_EQ(expected->member, actual->member);
        EXPECT_EQ(expected->distance, actual->distance);  // the same arithmetic: equal, not close
      }
      EXPECT_EQ(pairwiseWithin(m, limit), within(idx, m, limit));
      std::vector<SpatialIndex::Neighbour> measured;
      idx.withinDistance(m, limit, measured);
      for (const auto& n : measured) EXPECT_EQ(shapes[m].distance(shapes[n.member]), n.distance);
      EXPECT_EQ(pairwiseIntersecting(m), intersecting(idx, m));
    }
    EXPECT_EQ(pairwiseGroups(), *idx.components());
  }
};

// --- nearest ---------------------------------------------------------------

TEST_F(SpatialIndexTest, NearestIsTheClosestOtherShape) {
  add(rect(0, 0, 10, 10));
  add(rect(30, 0, 40, 10));  // 20 away
  add(rect(0, 13, 10, 20));  // 3 away
  auto n = index().nearest(0);
  ASSERT_TRUE(n);
  EXPECT_EQ(2u, n->member);
  EXPECT_EQ(3.0, n->distance);
}

TEST_F(SpatialIndexTest, TouchingShapesAreAtDistanceZero) {
  add(rect(0, 0, 10, 10));
  add(rect(20, 0, 30, 10));
  add(rect(10, 0, 20, 10));  // shares an edge with both
  auto idx = index();
  EXPECT_EQ(0.0, idx.nearest(0)->distance);
  EXPECT_EQ(2u, idx.nearest(0)->member);
  EXPECT_EQ(0u, idx.nearest(2)->member) << "both at 0: the earlier one";
}

TEST_F(SpatialIndexTest, TiesGoToTheEarliestShape) {
  add(rect(20, 0, 30, 10));   // 0: 5 right of 3
  add(rect(0, 20, 10, 30));   // 1: 5 above 3
  add(rect(-15, 0, -5, 10));  // 2: 5 left of 3
  add(rect(0, 0, 15, 15));    // 3
  auto idx = index();
  EXPECT_EQ(0u, idx.nearest(3)->member);
  EXPECT_EQ(5.0, idx.nearest(3)->distance);
}

TEST_F(SpatialIndexTest, ALoneShapeHasNoNeighbour) {
  add(rect(0, 0, 10, 10));
  EXPECT_FALSE(index().nearest(0));
}

TEST_F(SpatialIndexTest, AnIslandInAHoleMeasuresToTheHolesEdge) {
  add("POLYGON((0 0,0 30,30 30,30 0,0 0),(10 10,20 10,20 20,10 20,10 10))");
  add(rect(12, 12, 18, 18));
  auto idx = index();
  EXPECT_EQ(2.0, idx.distance(0, 1));
  EXPECT_FALSE(idx.intersects(0, 1));
  EXPECT_EQ(2.0, idx.nearest(1)->distance);
}

TEST_F(SpatialIndexTest, AShapeInsideAnotherIsAtDistanceZero) {
  add(rect(0, 0, 30, 30));
  add(rect(12, 12, 18, 18));
  auto idx = index();
  EXPECT_EQ(0.0, idx.distance(0, 1));
  EXPECT_TRUE(idx.intersects(0, 1));
}

TEST_F(SpatialIndexTest, AMultipolygonIsMeasuredFromItsNearestPart) {
  add("MULTIPOLYGON(((0 0,0 1,1 1,1 0,0 0)),((50 0,50 1,51 1,51 0,50 0)))");
  add(rect(54, 0, 55, 1));
  EXPECT_EQ(3.0, index().distance(0, 1));
}

// --- within a distance --------------------------------------------------------

TEST_F(SpatialIndexTest, WithinIncludesTheShapeAtExactlyTheLimit) {
  add(rect(0, 0, 10, 10));
  add(rect(20, 0, 30, 10));         // 10 away
  add(rect(0, 20.000001, 10, 30));  // just beyond 10
  add(rect(13, 14, 20, 20));        // corner to corner: 3-4-5, exactly 5
  auto idx = index();
  EXPECT_EQ((std::vector<std::size_t>{0, 1, 3}), within(idx, 0, 10));
  EXPECT_EQ((std::vector<std::size_t>{0, 3}), within(idx, 0, 5));
  EXPECT_EQ((std::vector<std::size_t>{0}), within(idx, 0, 4.999999));
}

TEST_F(SpatialIndexTest, WithinZeroHoldsItselfAndWhatTouches) {
  add(rect(0, 0, 10, 10));
  add(rect(10, 10, 20, 20));  // corner
  add(rect(11, 0, 20, 9));
  EXPECT_EQ((std::vector<std::size_t>{0, 1}), within(index(), 0, 0));
}

TEST_F(SpatialIndexTest, ANegativeLimitHoldsNothing) {
  add(rect(0, 0, 10, 10));
  add(rect(0, 0, 10, 10));
  EXPECT_TRUE(within(index(), 0, -1).empty());
}

TEST_F(SpatialIndexTest, WithinGivesTheDistances) {
  add(rect(0, 0, 10, 10));
  add(rect(13, 14, 20, 20));
  std::vector<SpatialIndex::Neighbour> out;
  index().withinDistance(0, 100, out);
  ASSERT_EQ(2u, out.size());
  EXPECT_EQ(0.0, out[0].distance);
  EXPECT_EQ(1u, out[1].member);
  EXPECT_EQ(5.0, out[1].distance);
}

// --- intersecting and groups -------------------------------------------------

TEST_F(SpatialIndexTest, ACornerIsEnoughToIntersect) {
  add(rect(0, 0, 10, 10));
  add(rect(10, 10, 20, 20));
  add(rect(10.5, 0, 20, 9.5));
  auto idx = index();
  EXPECT_EQ((std::vector<std::size_t>{0, 1}), intersecting(idx, 0));
}

TEST_F(SpatialIndexTest, AVertexOnAnotherShapesSlantedEdgeTouches) {
  // (3 1.5) lies exactly on the edge from (0 0) to (6 3): a rounding-sensitive
  // case that the geometry engine settles.
  add("POLYGON((0 0,6 3,6 0,0 0))");
  add("POLYGON((3 1.5,3 5,1 5,3 1.5))");
  auto idx = index();
  EXPECT_TRUE(idx.intersects(0, 1));
  EXPECT_EQ(0.0, idx.distance(0, 1));
  EXPECT_EQ(0u, (*idx.components())[1]);
}

TEST_F(SpatialIndexTest, GroupsFollowChainsAndAreNamedByTheirFirstShape) {
  add(rect(100, 0, 110, 10));  // 0: alone
  add(rect(20, 0, 30, 10));    // 1: touches 3
  add(rect(0, 0, 10, 10));     // 2: touches 3
  add(rect(10, 0, 20, 10));    // 3
  add(rect(30, 10, 40, 20));   // 4: corner of 1
  auto groups = *index().components();
  EXPECT_EQ((std::vector<std::size_t>{0, 1, 1, 1, 1}), groups);
}

TEST_F(SpatialIndexTest, ComponentsStopWhenCancelled) {
  add(rect(0, 0, 10, 10));
  add(rect(10, 0, 20, 10));
  int asked = 0;
  EXPECT_FALSE(index().components([&] { return ++asked == 2; }));
  EXPECT_EQ(2, asked);
}

// --- shapes without area, odd shapes -----------------------------------------------

TEST_F(SpatialIndexTest, EmptyShapesAreNeverMeasured) {
  add("");
  add(rect(0, 0, 10, 10));
  add("POLYGON EMPTY");
  add(rect(12, 0, 20, 10));
  auto idx = index();
  EXPECT_FALSE(idx.measurable(0));
  EXPECT_FALSE(idx.measurable(2));
  EXPECT_FALSE(idx.nearest(0));
  EXPECT_EQ(3u, idx.nearest(1)->member);
  EXPECT_TRUE(within(idx, 0, 1e9).empty());
  EXPECT_EQ((std::vector<std::size_t>{1, 3}), within(idx, 1, 1e9));
  EXPECT_TRUE(intersecting(idx, 2).empty());
  EXPECT_EQ((std::vector<std::size_t>{0, 1, 2, 3}), *idx.components()) << "each empty shape is a group of its own";
  EXPECT_THROW(idx.distance(0, 1), HostError);
}

TEST_F(SpatialIndexTest, OnlyEmptyShapesGiveNoAnswers) {
  add("");
  add("");
  auto idx = index();
  EXPECT_FALSE(idx.nearest(0));
  EXPECT_EQ((std::vector<std::size_t>{0, 1}), *idx.components());
}

TEST_F(SpatialIndexTest, DuplicatesAndOverlapsAreAtDistanceZero) {
  add(rect(0, 0, 10, 10));
  add(rect(0, 0, 10, 10));
  add(rect(5, 5, 15, 15));
  expectAllQueriesMatchDefinitions(1);
  auto idx = index();
  EXPECT_EQ(1u, idx.nearest(0)->member);
  EXPECT_EQ(0u, idx.nearest(2)->member);
}

TEST_F(SpatialIndexTest, SelfIntersectingPolygonsAreMeasuredAsDrawn) {
  add("POLYGON((0 0,10 10,10 0,0 10,0 0))");  // bow tie
  add(rect(12, 0, 20, 10));
  add(rect(-5, 4, -1, 6));
  add("POLYGON((30 0,40 10,40 0,30 10,30 0))");
  auto idx = index();
  EXPECT_EQ(2.0, idx.distance(0, 1));
  EXPECT_EQ(1.0, idx.distance(0, 2));
  EXPECT_EQ(2u, idx.nearest(0)->member);
  EXPECT_FALSE(idx.intersects(0, 1));
  ASSERT_TRUE(idx.components());
}

TEST_F(SpatialIndexTest, ShapesThatAreNotPolygonsGoToTheGeometryEngine) {
  add(rect(0, 0, 10, 10));
  add("POINT(13 4)");
  add("LINESTRING(0 12,10 12)");
  add("GEOMETRYCOLLECTION(POINT(20 20),POLYGON((30 0,30 10,40 10,40 0,30 0)))");
  expectAllQueriesMatchDefinitions(3);
  EXPECT_EQ(2.0, index().distance(0, 2));
}

// --- random landscapes -----------------------------------------------------

TEST_F(SpatialIndexTest, RandomLandscapesMatchThePairwiseDefinitions) {
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    shapes.clear();
    for (const auto& p : test::randomPatches(seed, 16, 12, 1)) add(p.wkt);
    expectAllQueriesMatchDefinitions(4);  // whole-number distances lie exactly on the limit
  }
}

TEST_F(SpatialIndexTest, RandomLandscapesHaveTiesTouchesAndLimitCases) {
  // The landscape really contains what the comparison above is meant to test.
  for (const auto& p : test::randomPatches(1, 16, 12, 1)) add(p.wkt);
  const auto idx = index();
  int ties = 0, touching = 0, atLimit = 0, corners = 0;
  for (std::size_t m = 0; m < shapes.size(); ++m) {
    auto best = pairwiseNearest(m);
    int atBest = 0;
    for (std::size_t g = 0; g < shapes.size(); ++g) {
      if (g == m) continue;
      const double d = shapes[m].distance(shapes[g]);
      atBest += best && d == best->distance;
      atLimit += d == 4.0;
      touching += d == 0.0;
      corners += d == 0.0 && shapes[m].bounds().maxX == shapes[g].bounds().minX &&
                 shapes[m].bounds().maxY == shapes[g].bounds().minY;
    }
    ties += atBest > 1;
  }
  EXPECT_GT(ties, 10);
  EXPECT_GT(touching, 10);
  EXPECT_GT(atLimit, 10);
  EXPECT_GT(corners, 2);
}

}  // namespace
}  // namespace quilta
