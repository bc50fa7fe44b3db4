// Identify: the patch under a point (holes excluded, the one drawn last on a
// shared boundary), all its attributes, and the nearest neighbour that the
// nearest-neighbour analysis recorded, checked on hand-made patches and on
// the sample landscape against the geometry engine.

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "host/Geometry.h"
#include "map/Classification.h"
#include "map/Identify.h"
#include "tests/support/RandomPatches.h"
#include "tests/support/ToolFixture.h"

namespace quilta::map {
namespace {

using test::rect;

class IdentifyTest : public test::ToolTest {
 protected:
  // A frame with a hole (0) and an island in the hole (1), a square 5 units
  // away (2) and a square that shares the frame's right side (3).
  FeatureTable& patches() {
    test::writeShapefile(
        dir / "patches.shp", {{"cover", 'S', 12}, {"NNDist", 'R', 19, 6}, {"NNId", 'R', 19, 6}},
        {{"POLYGON((0 0,10 0,10 10,0 10,0 0),(2 2,8 2,8 8,2 8,2 2))", {Value(std::string("forest")), 5.0, 2.0}},
         {rect(4, 4, 6, 6), {Value(std::string("forest")), -999.0, 0.0}},  // alone in its class
         {rect(-7, 0, -5, 2), {Value(std::string("forest")), 5.0, 2.0}},   // names itself
         {rect(10, 0, 12, 2), {Value{}, 0.0, Value{}}}});
    return open(dir / "patches.shp").featureTable();
  }
  static Polygon point(double x, double y) {
    return Polygon::fromWkt("POINT(" + test::random_patches_detail::number(x) + " " +
                            test::random_patches_detail::number(y) + ")");
  }
};

TEST_F(IdentifyTest, FindsThePatchUnderAPointButNotInAHole) {
  FeatureTable& t = patches();
  const PatchFinder finder(t);
  EXPECT_EQ(finder.patchAt(1, 1), 0);
  EXPECT_EQ(finder.patchAt(3, 5), std::nullopt);  // in the hole, beside the island
  EXPECT_EQ(finder.patchAt(5, 5), 1);             // the island
  EXPECT_EQ(finder.patchAt(10, 1), 3);            // the shared side: the patch drawn last
  EXPECT_EQ(finder.patchAt(20, 20), std::nullopt);
}

TEST_F(IdentifyTest, ShowsEveryFieldAndTheRecordedNeighbour) {
  FeatureTable& t = patches();
  const PatchFinder finder(t);
  const auto found = identify(t, finder, 1, 1);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->oid, 0);
  ASSERT_EQ(found->attributes.size(), 5u);
  EXPECT_EQ(found->attributes[0].field, "FID");
  EXPECT_EQ(found->attributes[0].text, "0");
  EXPECT_EQ(found->attributes[1].text, "Polygon");
  EXPECT_EQ(found->attributes[2].text, "forest");
  EXPECT_EQ(found->attributes[3].field, "NNDist");
  EXPECT_EQ(found->attributes[3].text, "5");
  EXPECT_FALSE(found->attributes[3].noValue);
  // The link joins the nearest points: from the frame's left side to the
  // square's right side, the distance apart that the engine measures.
  ASSERT_TRUE(found->neighbour);
  EXPECT_EQ(found->neighbour->oid, 2);
  EXPECT_DOUBLE_EQ(found->neighbour->length, t.shape(0).distance(t.shape(2)));
  EXPECT_DOUBLE_EQ(found->neighbour->from.x, 0);
  EXPECT_DOUBLE_EQ(found->neighbour->to.x, -5);
  EXPECT_LE(found->neighbour->from.y, 2);

  // Alone in its class (-999 beside NNId 0), naming itself, empty: none.
  const auto island = identify(t, finder, 5, 5);
  ASSERT_TRUE(island);
  EXPECT_TRUE(island->attributes[3].noValue);
  EXPECT_FALSE(island->neighbour);
  EXPECT_FALSE(recordedNeighbour(t, 2));
  EXPECT_FALSE(recordedNeighbour(t, 3));
  EXPECT_TRUE(identify(t, finder, 10.5, 1)->attributes[2].noValue);  // an empty text
}

TEST_F(IdentifyTest, SampleLandscapeAfterNearestNeighbourAnalysis) {
  FeatureTable& t = open(test::copySample(dir.path())).featureTable();
  chooseField("zone");
  chooseClasses();
  click("cmdClasses");
  ASSERT_EQ(session().lastOutcome, Outcome::Completed);
  const int nnId = t.findField("NNId"), nnDist = t.findField("NNDist");
  ASSERT_GE(nnId, 2);

  const PatchFinder finder(t);
  const std::vector<std::int64_t> oids = t.selectAll().oids();
  std::mt19937 rng(2);
  std::uniform_real_distribution<double> ux(288776.25, 298765.59), uy(9110771.41, 9120760.75);
  int linked = 0;
  for (int i = 0; i < 300; ++i) {
    const double x = ux(rng), y = uy(rng);
    const Polygon p = point(x, y);
    std::optional<std::int64_t> expected;
    for (std::int64_t oid : oids)
      if (t.shape(oid).intersects(p)) expected = oid;  // the last one drawn
    const auto found = identify(t, finder, x, y);
    ASSERT_EQ(found ? std::optional<std::int64_t>(found->oid) : std::nullopt, expected) << x << " " << y;
    if (!found) continue;
    const double recordedDistance = *numericValue(t.value(found->oid, nnDist));
    if (recordedDistance == -999) {
      EXPECT_FALSE(found->neighbour);
      continue;
    }
    ASSERT_TRUE(found->neighbour);
    EXPECT_EQ(found->neighbour->oid, static_cast<std::int64_t>(*numericValue(t.value(found->oid, nnId))));
    EXPECT_NEAR(found->neighbour->length, recordedDistance, 1e-6);
    ++linked;
  }
  EXPECT_GT(linked, 100);
}

}  // namespace
}  // namespace quilta::map
