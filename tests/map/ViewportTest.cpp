// The view's transform: fitting a box, zooming about the cursor, panning
// with the pointer, the scale limits and the scale bar.

#include <gtest/gtest.h>

#include <random>

#include "host/PolygonLayer.h"
#include "map/Viewport.h"

namespace quilta::map {
namespace {

Viewport view(double w, double h, const Box& box, double margin = 0) {
  Viewport v;
  v.setSize(w, h);
  v.fit(box, margin);
  return v;
}

TEST(ViewportTest, FitCentresTheBoxNorthUp) {
  const Viewport v = view(200, 100, Box{0, 0, 10, 10}, 10);
  EXPECT_DOUBLE_EQ(v.scale(), 8.0);  // the height limits: 80 pixels for 10 units
  const Point centre = v.toPixel(5, 5);
  EXPECT_DOUBLE_EQ(centre.x, 100);
  EXPECT_DOUBLE_EQ(centre.y, 50);
  EXPECT_LT(v.toPixel(5, 10).y, v.toPixel(5, 0).y);  // north is up
  EXPECT_DOUBLE_EQ(v.toPixel(5, 10).y, 10);            // the margin
  const Box shown = v.visibleBox();
  EXPECT_DOUBLE_EQ(shown.minX, 5 - 12.5);
  EXPECT_DOUBLE_EQ(shown.maxY, 5 + 6.25);
  // A point still gets a scale; an empty box changes nothing.
  Viewport p = view(100, 100, Box{3, 3, 3, 3});
  EXPECT_GT(p.scale(), 0);
  p.fit(Box{}, 0);
  EXPECT_DOUBLE_EQ(p.toPixel(3, 3).x, 50);
}

TEST(ViewportTest, ZoomKeepsThePointUnderTheCursor) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> px(0, 640), py(0, 480), f(0.2, 5);
  Viewport v = view(640, 480, Box{288776, 9110771, 298765, 9120760});
  for (int i = 0; i < 200; ++i) {
    const double x = px(rng), y = py(rng), factor = f(rng);
    const Point before = v.toMap(x, y);
    const double scale = v.scale();
    v.zoomAt(x, y, factor);
    EXPECT_NEAR(v.scale(), scale * factor, 1e-9 * scale * factor);
    const Point after = v.toMap(x, y);
    EXPECT_NEAR(after.x, before.x, 1e-9 * std::abs(before.x));
    EXPECT_NEAR(after.y, before.y, 1e-9 * std::abs(before.y));
  }
}

TEST(ViewportTest, PanMovesTheMapWithThePointer) {
  Viewport v = view(100, 100, Box{0, 0, 100, 100});
  const Point grabbed = v.toMap(20, 30);
  v.pan(15, -10);
  const Point now = v.toPixel(grabbed.x, grabbed.y);
  EXPECT_DOUBLE_EQ(now.x, 35);
  EXPECT_DOUBLE_EQ(now.y, 20);
}

TEST(ViewportTest, ScaleStaysWithinItsLimits) {
  Viewport v = view(100, 100, Box{0, 0, 100, 100});  // 1 pixel per unit
  v.setScaleLimits(0.5, 4);
  const Point anchor = v.toMap(10, 10);
  v.zoomAt(10, 10, 100);
  EXPECT_DOUBLE_EQ(v.scale(), 4);
  EXPECT_NEAR(v.toMap(10, 10).x, anchor.x, 1e-9);  // still about the cursor
  v.zoomAt(10, 10, 1e-6);
  EXPECT_DOUBLE_EQ(v.scale(), 0.5);
  v.fit(Box{0, 0, 1, 1}, 0);  // would be 100 pixels per unit
  EXPECT_DOUBLE_EQ(v.scale(), 4);
}

TEST(ViewportTest, ScaleBarTakesARoundLengthThatFits) {
  ScaleBar b = scaleBarFor(0.5, 120, kMeters);  // at most 240 m
  EXPECT_DOUBLE_EQ(b.length, 200);
  EXPECT_DOUBLE_EQ(b.pixels, 100);
  EXPECT_EQ(b.label, "200 m");
  b = scaleBarFor(1.0 / 64, 160, kMeters);  // at most 10240 m
  EXPECT_DOUBLE_EQ(b.length, 10000);
  EXPECT_EQ(b.label, "10000 m");
  b = scaleBarFor(3, 100, kFeet);  // at most 33.3 ft
  EXPECT_DOUBLE_EQ(b.length, 20);
  EXPECT_EQ(b.label, "20 ft");
  b = scaleBarFor(2000, 150, kUnitsUndefined);  // at most 0.075 units
  EXPECT_DOUBLE_EQ(b.length, 0.05);
  EXPECT_EQ(b.label.substr(b.label.find(' ')), " map units");
  EXPECT_DOUBLE_EQ(scaleBarFor(0, 100, kMeters).length, 0);
}

}  // namespace
}  // namespace quilta::map
