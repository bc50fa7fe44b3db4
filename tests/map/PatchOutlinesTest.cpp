// The outlines the map draws from: rings kept with their holes, relative to
// the layer's corner; what a view selects, and which patches it draws as a
// single pixel.

#include <gtest/gtest.h>

#include "host/Geometry.h"
#include "map/PatchOutlines.h"
#include "tests/support/Fixtures.h"

namespace quilta::map {
namespace {

using test::rect;

class PatchOutlinesTest : public ::testing::Test {
 protected:
  std::vector<Polygon> shapes{
      Polygon::fromWkt("POLYGON((1000 2000,1010 2000,1010 2010,1000 2010,1000 2000),"
                       "(1004 2004,1006 2004,1006 2006,1004 2006,1004 2004))"),
      Polygon(),  // a feature without shape
      Polygon::fromWkt(rect(1020, 2000, 1020.1, 2000.1)),
      Polygon::fromWkt("MULTIPOLYGON(((1100 2100,1101 2100,1101 2101,1100 2100)),((1200 2200,1201 2200,1201 2201,1200 "
                       "2200)))"),
  };
  PatchOutlines outlines{shapes};

  static Viewport showing(const Box& box, double pixels) {
    Viewport v;
    v.setSize(pixels, pixels);
    v.fit(box, 0);
    return v;
  }
};

TEST_F(PatchOutlinesTest, RingsKeepTheirHolesRelativeToTheCorner) {
  ASSERT_EQ(outlines.size(), 4u);
  EXPECT_DOUBLE_EQ(outlines.extent().minX, 1000);
  EXPECT_DOUBLE_EQ(outlines.extent().maxY, 2201);
  EXPECT_DOUBLE_EQ(outlines.origin().x, 1000);
  ASSERT_EQ(outlines.ringCount(0), 2u);
  const auto hole = outlines.ring(0, 1);
  ASSERT_EQ(hole.count, 5u);
  EXPECT_FLOAT_EQ(hole.xy[0], 4);
  EXPECT_FLOAT_EQ(hole.xy[1], 4);
  EXPECT_FALSE(outlines.hasOutline(1));
  EXPECT_TRUE(outlines.bounds(1).empty());
  EXPECT_EQ(outlines.ringCount(3), 2u);  // one outer ring per part
  EXPECT_DOUBLE_EQ(outlines.bounds(3).maxX, 1201);
}

TEST_F(PatchOutlinesTest, ViewSelectsWhatItShowsAndDotsWhatIsSmallerThanAPixel) {
  PatchOutlines::DrawList list;
  // 20 pixels per unit over the first two patches: both are outlines.
  outlines.select(showing(Box{995, 1995, 1025, 2025}, 600), list);
  EXPECT_EQ(list.outlines, (std::vector<std::uint32_t>{0, 2}));
  EXPECT_TRUE(list.dots.empty());
  // 1 pixel per unit: the small square fits in a pixel.
  outlines.select(showing(Box{995, 1995, 1025, 2025}, 30), list);
  EXPECT_EQ(list.outlines, std::vector<std::uint32_t>{0});
  EXPECT_EQ(list.dots, std::vector<std::uint32_t>{2});
  // Everything at once, far out: all patches but the one without shape.
  outlines.select(showing(outlines.extent(), 20), list);
  EXPECT_EQ(list.outlines.size() + list.dots.size(), 3u);
  // A view beside the patches selects none.
  outlines.select(showing(Box{5000, 5000, 5010, 5010}, 100), list);
  EXPECT_TRUE(list.outlines.empty() && list.dots.empty());
}

}  // namespace
}  // namespace quilta::map
