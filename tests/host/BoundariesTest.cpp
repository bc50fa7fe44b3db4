// Boundary lengths of classes: the edge index is taken only for clean
// coverages, and whichever way is taken the lengths are those of the unions.

#include "host/Boundaries.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quilta {
namespace {

struct Case {
  std::vector<std::string> wkt;
  std::vector<int> cls;
};

class Boundaries : public ::testing::Test {
 protected:
  BoundaryLengths lengths(const Case& c, bool fromUnions = false) {
    shapes_.clear();
    for (const auto& w : c.wkt) shapes_.push_back(Polygon::fromWkt(w));
    std::vector<const Polygon*> ptrs;
    for (const auto& s : shapes_) ptrs.push_back(&s);
    return fromUnions ? boundaryLengthsFromUnions(ptrs, c.cls, 3) : boundaryLengths(ptrs, c.cls, 3);
  }
  // The lengths either way agree; returns whether the edge index was used.
  bool agree(const Case& c) {
    const BoundaryLengths fast = lengths(c), slow = lengths(c, true);
    EXPECT_FALSE(slow.fromEdges);
    auto near = [](double x, double y) { return std::fabs(x - y) <= 1e-9 * std::max(1.0, std::fabs(y)); };
    EXPECT_TRUE(near(fast.landscapeBoundary, slow.landscapeBoundary))
        << fast.landscapeBoundary << " vs " << slow.landscapeBoundary;
    for (std::size_t k = 0; k < 3; ++k) {
      EXPECT_TRUE(near(fast.classBoundary[k], slow.classBoundary[k])) << "class " << k;
      EXPECT_TRUE(near(fast.onLandscapeBoundary[k], slow.onLandscapeBoundary[k])) << "class " << k;
    }
    for (std::size_t i = 0; i < 9; ++i) EXPECT_TRUE(near(fast.shared[i], slow.shared[i])) << "pair " << i;
    return fast.fromEdges;
  }

 private:
  std::vector<Polygon> shapes_;
};

const char* kA = "POLYGON((0 0,10 0,10 10,0 10,0 0))";
const char* kB = "POLYGON((10 0,20 0,20 10,10 10,10 0))";

TEST_F(Boundaries, CleanCoveragesTakeTheEdgeIndex) {
  EXPECT_TRUE(agree({{kA, kB}, {0, 1}}));
  // A checkerboard: diagonal squares meet at a corner only.
  EXPECT_TRUE(agree({{kA, kB, "POLYGON((0 10,10 10,10 20,0 20,0 10))", "POLYGON((10 10,20 10,20 20,10 20,10 10))"},
                     {0, 1, 1, 0}}));
  // A frame with an island filling its hole, and a second frame left empty.
  EXPECT_TRUE(agree({{"POLYGON((0 0,10 0,10 10,0 10,0 0),(4 4,6 4,6 6,4 6,4 4))", "POLYGON((4 4,6 4,6 6,4 6,4 4))",
                      "POLYGON((10 0,20 0,20 10,10 10,10 0),(14 4,16 4,16 6,14 6,14 4))"},
                     {0, 1, 2}}));
  const BoundaryLengths l = lengths({{kA, kB}, {0, 1}});
  EXPECT_DOUBLE_EQ(l.sharedBy(0, 1), 10);
  EXPECT_DOUBLE_EQ(l.landscapeBoundary, 60);
  EXPECT_DOUBLE_EQ(l.onLandscapeBoundary[0], 30);
}

TEST_F(Boundaries, FaultsThatEdgesAloneWouldMissTakeTheUnions) {
  // A diamond inside the square, its vertices on the square's vertices.
  EXPECT_FALSE(agree({{"POLYGON((0 0,5 0,10 0,10 5,10 10,5 10,0 10,0 5,0 0))", "POLYGON((5 0,10 5,5 10,0 5,5 0))"},
                      {0, 1}}));
  // Rings that cross at shared vertices only.
  EXPECT_FALSE(agree({{"POLYGON((0 0,2 0,2 2,0 2,0 0))", "POLYGON((2 2,1 1,0 2,-1 3,3 3,2 2))"}, {0, 1}}));
  // A square inside another, apart from its boundary.
  EXPECT_FALSE(agree({{kA, "POLYGON((2 2,4 2,4 4,2 4,2 2))"}, {0, 1}}));
  // Two touching squares that lie together inside a third.
  EXPECT_FALSE(agree({{"POLYGON((2 2,4 2,4 4,2 4,2 2))", "POLYGON((4 2,6 2,6 4,4 4,4 2))", kA}, {0, 1, 2}}));
  // The same patch twice.
  EXPECT_FALSE(agree({{kA, kA, kB}, {0, 1, 2}}));
  // Edges that meet part-way (a vertex in the middle of the neighbour's edge).
  EXPECT_FALSE(agree({{kA, "POLYGON((10 0,20 0,20 5,10 5,10 0))"}, {0, 1}}));
  // Overlapping squares.
  EXPECT_FALSE(agree({{kA, "POLYGON((5 5,15 5,15 15,5 15,5 5))"}, {0, 2}}));
}

}  // namespace
}  // namespace quilta
