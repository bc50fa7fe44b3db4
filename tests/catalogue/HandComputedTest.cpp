// The catalogue on tiny landscapes whose every value can be worked out by
// hand: unit squares, a 10 x 10 square, an L shape, touching classes, a
// frame with a hole and an island.

#include <cmath>
#include <numbers>

#include "CatalogueFixture.h"

namespace quilta::test {
namespace {

using catalogue::Level;
constexpr double kPi = std::numbers::pi;

const char* kSquare10 = "POLYGON((0 0,10 0,10 10,0 10,0 0))";
const char* kSquare10Right = "POLYGON((10 0,20 0,20 10,10 10,10 0))";
const char* kSquare10Far = "POLYGON((30 0,40 0,40 10,30 10,30 0))";

class HandComputed : public ::testing::Test {
 protected:
  RowMap run(const std::vector<WktPatch>& patches, int classes, catalogue::Settings s = allLevels()) {
    rows_ = rowMap(catalogue::computeMetrics(landscapeOf(patches, classes), s));
    return rows_;
  }
  std::optional<double> patch(std::int64_t id, int cls, const std::string& m) { return at({Level::Patch, cls, id, m}); }
  std::optional<double> cls(int k, const std::string& m) { return at({Level::Class, k, -1, m}); }
  std::optional<double> land(const std::string& m) { return at({Level::Landscape, -1, -1, m}); }
  void expectValue(std::optional<double> v, double expected, const std::string& what, double relative = 1e-12) {
    ASSERT_TRUE(v.has_value()) << what << " undefined";
    EXPECT_NEAR(*v, expected, relative * std::max(1.0, std::fabs(expected))) << what;
  }
  // Cores are exact offsets to 1e-6 relative.
  void expectCore(std::optional<double> v, double expected, const std::string& what) {
    expectValue(v, expected, what, 1e-6);
  }

 private:
  std::optional<double> at(const RowKey& key) {
    auto it = rows_.find(key);
    EXPECT_NE(it, rows_.end()) << "no row for " << std::get<3>(key);
    return it == rows_.end() ? std::nullopt : it->second;
  }
  RowMap rows_;
};

TEST_F(HandComputed, UnitSquareAndTenByTenSquareShapes) {
  run({{"POLYGON((0 0,1 0,1 1,0 1,0 0))", 0}, {"POLYGON((5 0,15 0,15 10,5 10,5 0))", 1}}, 2);
  expectValue(patch(0, 0, "area"), 1e-4, "unit area");
  expectValue(patch(0, 0, "perim"), 4, "unit perim");
  expectValue(patch(0, 0, "para"), 4, "unit para");
  expectValue(patch(0, 0, "shape"), 4 / (2 * std::sqrt(kPi)), "unit shape");
  EXPECT_FALSE(patch(0, 0, "frac")) << "a of 1 m² leaves frac undefined";
  expectValue(patch(0, 0, "circle"), 1 - 1 / (kPi * 0.5), "unit circle");
  EXPECT_FALSE(patch(0, 0, "enn")) << "a lone patch of its class";

  expectValue(patch(1, 1, "area"), 0.01, "square area");
  expectValue(patch(1, 1, "para"), 0.4, "square para");
  expectValue(patch(1, 1, "shape"), 40 / (2 * std::sqrt(100 * kPi)), "square shape");
  expectValue(patch(1, 1, "frac"), 2 * std::log(40.0) / std::log(100.0), "square frac");
  expectValue(patch(1, 1, "circle"), 1 - 100 / (kPi * 50), "square circle");

  expectValue(land("ta"), 101e-4, "ta");
  expectValue(land("np"), 2, "np");
  expectValue(land("pd"), 2 / 101.0 * 1e6, "pd");
  expectValue(land("lpi"), 100 / 101.0 * 100, "lpi");
  expectValue(land("area_mn"), 101e-4 / 2, "area_mn");
  expectValue(land("area_sd"), std::sqrt(2 * std::pow(99e-4 / 2, 2)), "area_sd");
  expectValue(land("area_cv"), std::sqrt(2 * std::pow(99e-4 / 2, 2)) / (101e-4 / 2) * 100, "area_cv");
  // frac is defined for one patch only: a mean, no spread.
  expectValue(land("frac_mn"), 2 * std::log(40.0) / std::log(100.0), "frac_mn");
  EXPECT_FALSE(land("frac_sd"));
  EXPECT_FALSE(land("frac_cv"));
  EXPECT_FALSE(land("enn_mn")) << "no patch has a neighbour of its class";
  EXPECT_FALSE(land("pafrac")) << "fewer than 10 patches";
}

TEST_F(HandComputed, LShapeEnclosingCircleAndCore) {
  catalogue::Settings s = allLevels();
  s.edgeDepth = 0.25;
  run({{"POLYGON((0 0,2 0,2 1,1 1,1 2,0 2,0 0))", 0}}, 1, s);
  expectValue(patch(0, 0, "area"), 3e-4, "area");
  expectValue(patch(0, 0, "perim"), 8, "perim");
  expectValue(patch(0, 0, "circle"), 1 - 3 / (kPi * 2), "circle through (2,0), (0,2) and (0,0)");
  // The L eroded by 0.25: an L of arm width 0.5 with a quarter disc rounding
  // its reflex corner at (1,1): 1.5·0.5 + 1.0·0.5 + (0.25² - π·0.25²/4).
  const double core = 1.5 * 0.5 + 1.0 * 0.5 + (0.0625 - kPi * 0.0625 / 4);
  expectCore(patch(0, 0, "core"), core / 1e4, "core");
  expectValue(patch(0, 0, "ncore"), 1, "ncore");
  expectCore(patch(0, 0, "cai"), core / 3 * 100, "cai");
  expectCore(cls(0, "tca"), core / 1e4, "tca");
  expectCore(cls(0, "cpland"), core / 3 * 100, "cpland");
  expectValue(cls(0, "ndca"), 1, "ndca");
  expectValue(cls(0, "dcad"), 1 / 3.0 * 1e6, "dcad");
  EXPECT_FALSE(cls(0, "core_sd"));
  EXPECT_FALSE(land("shei")) << "evenness of one class";
  expectValue(land("shdi"), 0, "shdi");
}

TEST_F(HandComputed, TwoTouchingClassesShareOneEdge) {
  run({{kSquare10, 0}, {kSquare10Right, 1}}, 2);
  expectValue(cls(0, "te"), 10, "te without the boundary");
  expectValue(cls(0, "ed"), 10 / 200.0 * 1e4, "ed");
  expectValue(cls(0, "lsi"), 40 / (2 * std::sqrt(100 * kPi)), "class lsi");
  expectValue(land("te"), 10, "landscape te");
  expectValue(land("lsi"), (10 + 60) / (2 * std::sqrt(200 * kPi)), "landscape lsi");
  expectValue(cls(0, "pland"), 50, "pland");
  expectValue(cls(0, "division"), 0.75, "class division");
  expectValue(cls(0, "split"), 4, "class split");
  expectValue(cls(0, "mesh"), 100 * 100 / 200.0 / 1e4, "class mesh");
  expectValue(land("division"), 0.5, "division");
  expectValue(land("split"), 2, "split");
  expectValue(land("mesh"), 0.01, "mesh");
  expectValue(land("pr"), 2, "pr");
  expectValue(land("prd"), 2 / 200.0 * 1e6, "prd");
  expectValue(land("shdi"), std::log(2.0), "shdi");
  expectValue(land("shei"), 1, "shei");
  expectValue(land("sidi"), 0.5, "sidi");
  expectValue(land("siei"), 1, "siei");
  expectValue(land("msidi"), std::log(2.0), "msidi");
  expectValue(land("msiei"), 1, "msiei");
  EXPECT_FALSE(land("iji")) << "fewer than three classes";
  EXPECT_FALSE(cls(0, "iji"));

  catalogue::Settings s;
  s.countBoundary = true;
  run({{kSquare10, 0}, {kSquare10Right, 1}}, 2, s);
  expectValue(cls(0, "te"), 40, "te with the boundary");
  expectValue(land("te"), 70, "landscape te with the boundary");
  expectValue(land("ed"), 70 / 200.0 * 1e4, "ed with the boundary");
}

TEST_F(HandComputed, InterspersionOfThreeClassesInARow) {
  run({{kSquare10, 0}, {kSquare10Right, 1}, {"POLYGON((20 0,30 0,30 10,20 10,20 0))", 2}}, 3);
  // e_ab = e_bc = 10, e_ac = 0.
  expectValue(land("iji"), std::log(2.0) / std::log(3.0) * 100, "landscape iji");
  expectValue(cls(1, "iji"), 100, "the middle class meets both others equally");
  expectValue(cls(0, "iji"), 0, "an end class meets one other only");
  expectValue(land("te"), 20, "te");
}

TEST_F(HandComputed, FrameWithHoleAndIsland) {
  const char* frame = "POLYGON((0 0,10 0,10 10,0 10,0 0),(4 4,6 4,6 6,4 6,4 4))";
  const char* island = "POLYGON((4 4,6 4,6 6,4 6,4 4))";
  run({{frame, 0}, {island, 1}}, 2);
  expectValue(patch(0, 0, "area"), 96e-4, "frame area");
  expectValue(patch(0, 0, "perim"), 48, "frame perim, hole included");
  expectValue(patch(1, 1, "perim"), 8, "island perim");
  expectValue(cls(1, "te"), 8, "the island's edge is all shared");
  expectValue(cls(0, "te"), 8, "the frame's outer edge is landscape boundary");
  expectValue(cls(0, "lsi"), 48 / (2 * std::sqrt(96 * kPi)), "frame lsi");
  expectValue(land("lsi"), (8 + 40) / (2 * std::sqrt(100 * kPi)), "landscape lsi");
  expectValue(patch(1, 1, "circle"), 1 - 4 / (kPi * 2), "island circle");
}

TEST_F(HandComputed, NearestNeighbourAndProximity) {
  catalogue::Settings s = allLevels();
  s.searchRadius = 20;
  // Two class-0 squares 20 m apart, a third class-0 square touching the first.
  run({{kSquare10, 0}, {kSquare10Far, 0}, {"POLYGON((0 10,10 10,10 20,0 20,0 10))", 0}}, 1, s);
  expectValue(patch(0, 0, "enn"), 0, "touching");
  expectValue(patch(1, 0, "enn"), 20, "edge to edge");
  // Only neighbours at 0 < d <= 20 count: the far square for the first, the
  // first (d 20) and the third (d = distance (10,10)-(30,10) = 20) for the far one.
  expectValue(patch(0, 0, "prox"), 100 / 400.0, "prox of the first");
  expectValue(patch(1, 0, "prox"), 100 / 400.0 + 100 / 400.0, "prox of the far one");
  expectValue(cls(0, "enn_mn"), 20 / 3.0, "enn_mn");
  s.searchRadius = 19.5;
  run({{kSquare10, 0}, {kSquare10Far, 0}}, 1, s);
  expectValue(patch(0, 0, "prox"), 0, "none within reach");
}

TEST_F(HandComputed, CoreFallsApartIntoTwoPieces) {
  catalogue::Settings s = allLevels();
  s.edgeDepth = 1;
  // Two 10 x 10 squares joined by a corridor one metre wide: the corridor's
  // core vanishes, the squares keep theirs, each with a bulge towards the
  // corridor's mouth between the unit circles around its two corners:
  // 2 * integral over t in [0, 0.5] of (1 - sqrt(1 - t²)).
  run({{"POLYGON((0 0,10 0,10 4.5,14 4.5,14 0,24 0,24 10,14 10,14 5.5,10 5.5,10 10,0 10,0 0))", 0}}, 1, s);
  const double bulge = 2 * (0.5 - (0.5 * std::sqrt(0.75) + kPi / 6) / 2);
  expectCore(patch(0, 0, "core"), (128 + 2 * bulge) / 1e4, "core");
  expectValue(patch(0, 0, "ncore"), 2, "ncore");
}

TEST_F(HandComputed, PerimeterAreaFractalOfSimilarSquares) {
  std::vector<WktPatch> squares;
  for (int i = 1; i <= 10; ++i) {
    const double x = 20.0 * i, s = i;
    squares.push_back({"POLYGON((" + std::to_string(x) + " 0," + std::to_string(x + s) + " 0," + std::to_string(x + s) +
                           " " + std::to_string(s) + "," + std::to_string(x) + " " + std::to_string(s) + "," +
                           std::to_string(x) + " 0))",
                       0});
  }
  run(squares, 1);
  // ln a = 2 ln p - 2 ln 4: the slope is 2.
  expectValue(land("pafrac"), 1, "pafrac");
  expectValue(cls(0, "pafrac"), 1, "class pafrac");
  squares.pop_back();
  run(squares, 1);
  EXPECT_FALSE(land("pafrac")) << "nine patches";
}

TEST_F(HandComputed, EmptyLandscapeHasOnlyCountsOfZero) {
  const auto rows = catalogue::computeMetrics(landscapeOf({}, 2), allLevels());
  int defined = 0;
  for (const auto& r : rows) {
    EXPECT_EQ(r.level, Level::Landscape);
    if (r.value) {
      ++defined;
      EXPECT_TRUE(*r.metric == "np" || *r.metric == "ta") << *r.metric;
      EXPECT_EQ(*r.value, 0);
    }
  }
  EXPECT_EQ(defined, 2);
}

TEST(CatalogueSettings, RefusesWhatCannotBeComputed) {
  catalogue::Settings s;
  s.metrics = {"core"};
  EXPECT_EQ(catalogue::checkSettings(s).value_or(""), "the metric \"core\" is not computed at the chosen levels");
  s.levels.insert(Level::Patch);
  EXPECT_EQ(catalogue::checkSettings(s).value_or(""), "the metric \"core\" needs --edge-depth");
  s.edgeDepth = 2;
  EXPECT_FALSE(catalogue::checkSettings(s));
  s.metrics = {"nosuch"};
  EXPECT_EQ(catalogue::checkSettings(s).value_or(""), "unknown metric \"nosuch\"");
  s.metrics.clear();
  s.edgeDepth = -1;
  EXPECT_TRUE(catalogue::checkSettings(s));
}

TEST(CatalogueRows, SortedByLevelClassIdAndNameAndScaledToMetres) {
  catalogue::Settings s = allLevels();
  s.metresPerUnit = 0.3048;  // feet
  s.metrics = {"area", "ca", "np", "ta", "te"};
  const auto land = landscapeOf({{kSquare10Right, 1}, {kSquare10, 0}, {kSquare10Far, 1}}, 2);
  const auto rows = catalogue::computeMetrics(land, s);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto& a = rows[i - 1];
    const auto& b = rows[i];
    EXPECT_LE(std::tie(a.level, a.cls, a.id, *a.metric), std::tie(b.level, b.cls, b.id, *b.metric));
  }
  const auto m = rowMap(rows);
  EXPECT_NEAR(*m.at({Level::Patch, 1, 0, "area"}), 100 * 0.3048 * 0.3048 / 1e4, 1e-15);
  EXPECT_NEAR(*m.at({Level::Landscape, -1, -1, "te"}), 10 * 0.3048, 1e-12);
}

}  // namespace
}  // namespace quilta::test
