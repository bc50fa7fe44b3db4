// Clipping patches to regions and circles, the circle around a point, and
// the smallest enclosing circle.

#include "host/Overlay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace quilta {
namespace {

TEST(Overlay, CircleIsTheInscribed4096Gon) {
  const Polygon c = circleAround(100, 200, 50);
  const double exact = std::numbers::pi * 50 * 50;
  EXPECT_NEAR(c.area(), exact, 1e-6 * exact);
  EXPECT_LT(c.area(), exact);
  EXPECT_EQ(c.rings().front().size(), 4097u);
}

TEST(Overlay, PatchesAroundTheRimClipAsAgainstTheWholeCircle) {
  // Squares of all sizes all round the circle and across its centre: the
  // fast clip near the rim gives the shapes the whole circle gives.
  const double cx = 1000.5, cy = -300.25, r = 250;
  const ClipRegion circle(cx, cy, r);
  const Polygon whole = circleAround(cx, cy, r);
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> angle(0, 2 * std::numbers::pi), offset(-40, 40), size(0.5, 60);
  int clipped = 0;
  for (int i = 0; i < 300; ++i) {
    const double a = angle(rng), d = i % 10 == 0 ? offset(rng) : r + offset(rng), s = size(rng);
    const double x = cx + d * std::cos(a), y = cy + d * std::sin(a);
    const Polygon square = Polygon::fromWkt("POLYGON((" + std::to_string(x) + " " + std::to_string(y) + "," +
                                            std::to_string(x + s) + " " + std::to_string(y) + "," +
                                            std::to_string(x + s) + " " + std::to_string(y + s) + "," +
                                            std::to_string(x) + " " + std::to_string(y + s) + "," +
                                            std::to_string(x) + " " + std::to_string(y) + "))");
    const Polygon fast = circle.clip(square), slow = clipToRegion(square, whole);
    EXPECT_NEAR(fast.area(), slow.area(), 1e-9 * s * s) << square.toWkt();
    EXPECT_NEAR(fast.length(), slow.length(), 1e-9 * s) << square.toWkt();
    clipped += fast.area() > 0 && fast.area() < square.area() ? 1 : 0;
  }
  EXPECT_GT(clipped, 100);
}

TEST(Overlay, RegionClipKeepsOnlyWhatBothCover) {
  const ClipRegion region(Polygon::fromWkt("POLYGON((0 0,10 0,10 10,0 10,0 0))"));
  EXPECT_TRUE(region.clip(Polygon::fromWkt("POLYGON((10 0,20 0,20 10,10 10,10 0))")).isEmpty()) << "touches along a line";
  EXPECT_DOUBLE_EQ(region.clip(Polygon::fromWkt("POLYGON((5 5,15 5,15 15,5 15,5 5))")).area(), 25);
  // An arch whose legs reach into the region falls apart into two parts of
  // one patch.
  const Polygon legs = region.clip(Polygon::fromWkt("POLYGON((2 8,4 8,4 12,6 12,6 8,8 8,8 15,2 15,2 8))"));
  EXPECT_EQ(legs.exteriorParts().size(), 2u);
  EXPECT_DOUBLE_EQ(legs.area(), 2 * 2 * 2);
}

TEST(Overlay, SmallestEnclosingCircle) {
  EXPECT_DOUBLE_EQ(enclosingCircleRadius(Polygon::fromWkt("POLYGON((0 0,2 0,2 2,0 2,0 0))")), std::sqrt(2.0));
  // An obtuse triangle: the circle on its longest side.
  EXPECT_DOUBLE_EQ(enclosingCircleRadius(Polygon::fromWkt("POLYGON((0 0,10 0,5 1,0 0))")), 5);
  // An equilateral triangle: the circumcircle.
  EXPECT_NEAR(enclosingCircleRadius(Polygon::fromWkt("POLYGON((0 0,2 0,1 1.7320508075688772,0 0))")),
              2 / std::sqrt(3.0), 1e-12);
  // Both parts of a multipolygon.
  EXPECT_DOUBLE_EQ(enclosingCircleRadius(Polygon::fromWkt("MULTIPOLYGON(((0 0,1 0,1 1,0 1,0 0)),((9 0,10 0,10 1,9 1,9 0)))")),
                   std::hypot(5.0, 0.5));
  EXPECT_EQ(enclosingCircleRadius(Polygon()), 0);
}

}  // namespace
}  // namespace quilta
