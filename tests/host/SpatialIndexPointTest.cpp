// The spatial index's point query against its definition: a point belongs to
// a shape when the geometry engine finds that they intersect (inside or on
// the boundary, not in a hole).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "host/Geometry.h"
#include "host/SpatialIndex.h"
#include "tests/support/Fixtures.h"
#include "tests/support/RandomPatches.h"

namespace quilta {
namespace {

std::vector<std::size_t> pointQuery(const std::vector<Polygon>& shapes, double x, double y) {
  std::vector<const Polygon*> pointers;
  for (const Polygon& p : shapes) pointers.push_back(&p);
  SpatialIndex index(pointers);
  std::vector<std::size_t> out;
  index.containing(x, y, out);
  return out;
}

TEST(SpatialIndexPointTest, HoleBoundaryAndOutside) {
  const std::vector<Polygon> shapes = {
      Polygon::fromWkt("POLYGON((0 0,10 0,10 10,0 10,0 0),(4 4,6 4,6 6,4 6,4 4))"),  // frame with a hole
      Polygon::fromWkt(test::rect(10, 0, 12, 2)),                                    // touches the frame's side
      Polygon(),                                                                     // no shape
      Polygon::fromWkt("MULTIPOLYGON(((20 0,21 0,21 1,20 1,20 0)),((30 0,31 0,31 1,30 1,30 0)))"),
  };
  EXPECT_EQ(pointQuery(shapes, 2, 2), std::vector<std::size_t>{0});
  EXPECT_TRUE(pointQuery(shapes, 5, 5).empty());                          // in the hole
  EXPECT_EQ(pointQuery(shapes, 4, 5), std::vector<std::size_t>{0});       // on the hole's edge
  EXPECT_EQ(pointQuery(shapes, 10, 1), (std::vector<std::size_t>{0, 1}));  // the shared side
  EXPECT_TRUE(pointQuery(shapes, 11, 5).empty());                         // inside the frame's box only
  EXPECT_EQ(pointQuery(shapes, 30.5, 0.5), std::vector<std::size_t>{3});  // the second part
  EXPECT_TRUE(pointQuery(shapes, 25, 0.5).empty());                       // between the parts
}

TEST(SpatialIndexPointTest, RandomPointsMatchTheEngine) {
  std::vector<Polygon> shapes;
  for (const auto& p : test::randomPatches(7, 12, 12, 3)) shapes.push_back(Polygon::fromWkt(p.wkt));
  std::vector<const Polygon*> pointers;
  for (const Polygon& p : shapes) pointers.push_back(&p);
  SpatialIndex index(pointers);
  double maxX = 0, maxY = 0;
  for (const Polygon& p : shapes) maxX = std::max(maxX, p.bounds().maxX), maxY = std::max(maxY, p.bounds().maxY);

  std::mt19937 rng(11);
  std::uniform_real_distribution<double> ux(-1, maxX + 1), uy(-1, maxY + 1);
  std::vector<std::size_t> got;
  int hits = 0;
  for (int i = 0; i < 3000; ++i) {
    // Half of the points on whole coordinates, where edges and corners lie.
    double x = ux(rng), y = uy(rng);
    if (i % 2) x = std::round(x), y = std::round(y);
    const Polygon point = Polygon::fromWkt("POINT(" + test::random_patches_detail::number(x) + " " + test::random_patches_detail::number(y) + ")");
    std::vector<std::size_t> expected;
    for (std::size_t m = 0; m < shapes.size(); ++m)
      if (shapes[m].intersects(point)) expected.push_back(m);
    index.containing(x, y, got);
    ASSERT_EQ(got, expected) << "at " << x << " " << y;
    hits += !expected.empty();
  }
  EXPECT_GT(hits, 1000);  // the points did land in patches
}

}  // namespace
}  // namespace quilta
