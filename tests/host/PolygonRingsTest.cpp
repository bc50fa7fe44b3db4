// The vertices of a patch as a map view draws them: outer rings and holes of
// every part, in order, each closed.

#include <gtest/gtest.h>

#include "host/Geometry.h"

namespace quilta {
namespace {

using Ring = Polygon::Ring;

TEST(PolygonRingsTest, SquareGivesItsClosedOuterRing) {
  auto rings = Polygon::fromWkt("POLYGON((0 0,2 0,2 1,0 1,0 0))").rings();
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_EQ(rings[0], (Ring{{0, 0}, {2, 0}, {2, 1}, {0, 1}, {0, 0}}));
}

TEST(PolygonRingsTest, HoleFollowsItsOuterRing) {
  auto rings = Polygon::fromWkt("POLYGON((0 0,10 0,10 10,0 10,0 0),(2 2,2 4,4 4,4 2,2 2))").rings();
  ASSERT_EQ(rings.size(), 2u);
  EXPECT_EQ(rings[0].front(), (std::pair<double, double>{0, 0}));
  EXPECT_EQ(rings[1], (Ring{{2, 2}, {2, 4}, {4, 4}, {4, 2}, {2, 2}}));
}

TEST(PolygonRingsTest, EveryPartOfAMultipolygonInOrder) {
  auto rings = Polygon::fromWkt("MULTIPOLYGON(((0 0,1 0,1 1,0 0)),((5 5,9 5,9 9,5 9,5 5),(6 6,7 6,7 7,6 6)))").rings();
  ASSERT_EQ(rings.size(), 3u);
  EXPECT_EQ(rings[0].size(), 4u);
  EXPECT_EQ(rings[1][1], (std::pair<double, double>{9, 5}));
  EXPECT_EQ(rings[2][2], (std::pair<double, double>{7, 7}));
}

TEST(PolygonRingsTest, EmptyShapeHasNoRings) { EXPECT_TRUE(Polygon().rings().empty()); }

}  // namespace
}  // namespace quilta
