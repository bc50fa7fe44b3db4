// The exact offset of a patch: cores and widened patches whose areas are known
// in closed form (moved far from the origin and turned, as map coordinates
// are), necks just wider and just narrower than twice the distance, the
// contract for empty, invalid and multipart patches, and a brute-force check
// against the definition on staircases of raster cells and on star-shaped
// patches with holes.

#include <gdal_alg.h>
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "host/HostError.h"
#include "host/Offset.h"
#include "host/offset/BoundaryOffset.h"
#include "tests/host/OffsetReference.h"

namespace quilta {
namespace {

constexpr double kPi = std::numbers::pi;
using Points = std::vector<std::pair<double, double>>;
using Shape = std::vector<std::vector<Points>>;  // parts, each an outer ring and holes

Points box(double x0, double y0, double x1, double y1) { return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}; }

// The shape as text, turned by `angle` about the origin, then moved by (dx, dy).
std::string wkt(const Shape& shape, double angle = 0, double dx = 0, double dy = 0) {
  std::ostringstream s;
  s.precision(17);
  s << "MULTIPOLYGON(";
  const double c = std::cos(angle), sn = std::sin(angle);
  for (std::size_t p = 0; p < shape.size(); ++p) {
    s << (p ? "," : "") << "(";
    for (std::size_t r = 0; r < shape[p].size(); ++r) {
      s << (r ? "," : "") << "(";
      const Points& ring = shape[p][r];
      for (std::size_t i = 0; i <= ring.size(); ++i) {
        const auto [x, y] = ring[i % ring.size()];
        s << (i ? "," : "") << c * x - sn * y + dx << " " << sn * x + c * y + dy;
      }
      s << ")";
    }
    s << ")";
  }
  s << ")";
  return s.str();
}

// The area of the overlap of two disks of radius r whose centres are d apart.
double lens(double r, double d) { return 2 * r * r * std::acos(d / (2 * r)) - d / 2 * std::sqrt(4 * r * r - d * d); }

// Two 10 x 10 squares 10 apart joined by a neck 10 long and `w` wide.
Shape dumbbell(double w) {
  const double lo = 5 - w / 2, hi = 5 + w / 2;
  return {{{{0, 0},
            {10, 0},
            {10, lo},
            {20, lo},
            {20, 0},
            {30, 0},
            {30, 10},
            {20, 10},
            {20, hi},
            {10, hi},
            {10, 10},
            {0, 10}}}};
}

// The core of the dumbbell at distance 1: each square's 8 x 8 and, where the
// neck opens, the strip 1 deep and w high less the two quarter disks around
// the neck's corners (less their overlap once they meet); the neck's own core
// while it is wider than 2.
double dumbbellCore(double w) {
  const double mouth = w - kPi / 2 + (w < 2 ? lens(1, w) / 2 : 0);
  return 2 * (64 + mouth) + (w > 2 ? 10 * (w - 2) : 0);
}

struct Analytic {
  const char* what;
  Shape shape;
  double distance;
  double area;
  std::size_t pieces;
  int rings;  // outer rings and holes of all pieces
};

const Points kL{{0, 0}, {10, 0}, {10, 4}, {4, 4}, {4, 10}, {0, 10}};
const Points kStairs{{0, 0}, {6, 0}, {6, 2}, {4, 2}, {4, 4}, {2, 4}, {2, 6}, {0, 6}};

std::vector<Analytic> analyticCases() {
  const double w = 1e-6;  // how much wider or narrower than 2 the necks are, relative
  return {
      {"square: (s - 2D)^2", {{box(0, 0, 10, 10)}}, 1, 64, 1, 1},
      {"square nearly gone", {{box(0, 0, 10, 10)}}, 4.9, 0.04, 1, 1},
      {"square gone", {{box(0, 0, 10, 10)}}, 5, 0, 0, 0},
      // The arms' cores (28) and the corner square at the reflex corner less
      // its quarter circle.
      {"L shape", {{kL}}, 1, 29 - kPi / 4, 1, 1},
      // 8 x 8 less the hole grown by 1: 2 x 2, four sides 2 x 1, a circle.
      {"square with a hole", {{box(0, 0, 10, 10), box(4, 4, 6, 6)}}, 1, 52 - kPi, 1, 2},
      // A square ring 1.5 wide: 9 x 9 less the 7 x 7 hole grown by 0.5.
      {"ring", {{box(0, 0, 10, 10), box(1.5, 1.5, 8.5, 8.5)}}, 0.5, 81 - (49 + 14 + kPi / 4), 1, 2},
      // Rows 5, 6 and 2 of the staircase moved in by 0.5, and a corner square
      // less its quarter circle at each of the two reflex corners.
      {"staircase", {{kStairs}}, 0.5, 13.5 - kPi / 8, 1, 1},
      {"neck just wider than 2D", {dumbbell(2 * (1 + w))}, 1, dumbbellCore(2 * (1 + w)), 1, 1},
      {"neck just narrower than 2D", {dumbbell(2 * (1 - w))}, 1, dumbbellCore(2 * (1 - w)), 2, 2},
      {"neck exactly 2D", {dumbbell(2)}, 1, dumbbellCore(2), 2, 2},
      {"neck much narrower", {dumbbell(1.2)}, 1, dumbbellCore(1.2), 2, 2},
      // The chamfer is farther than 100 from the core's corner: 800 x 800.
      {"chamfered square", {{{{0, 0}, {1000, 0}, {1000, 999.6}, {999.6, 1000}, {0, 1000}}}}, 100, 640000, 1, 1},
      {"two parts", {{box(0, 0, 10, 10)}, {box(20, 0, 30, 10)}}, 1, 128, 2, 2},
      // Outward: the sides' strips and a quarter circle at every convex corner
      // (and at the L's reflex corner the two strips overlap in a unit square).
      {"square widened", {{box(0, 0, 10, 10)}}, -1, 140 + kPi, 1, 1},
      {"L shape widened", {{kL}}, -1, 64 + 40 - 1 + 5 * kPi / 4, 1, 1},
      // The hole's corners are reflex corners of the patch: it shrinks to 1 x 1.
      {"hole shrinks", {{box(0, 0, 10, 10), box(4, 4, 6, 6)}}, -0.5, 120 + kPi / 4 - 1, 1, 2},
      {"hole closes", {{box(0, 0, 10, 10), box(4, 4, 6, 6)}}, -1, 140 + kPi, 1, 1},
      {"parts stay apart", {{box(0, 0, 4, 4)}, {box(5, 0, 9, 4)}}, -0.4, 2 * (16 + 6.4 + 0.16 * kPi), 2, 2},
      {"parts that just touch", {{box(0, 0, 4, 4)}, {box(5, 0, 9, 4)}}, -0.5, 2 * (16 + 8 + 0.25 * kPi), 2, 2},
      // A notch exactly 2 wide fills; above it the two corners' quarter
      // circles just touch: the widened square less [4, 6] x [10, 11] outside
      // them.
      {"notch that just closes",
       {{{{0, 0}, {10, 0}, {10, 10}, {6, 10}, {6, 2}, {4, 2}, {4, 10}, {0, 10}}}},
       -1,
       140 + kPi - (2 - kPi / 2),
       1,
       1},
      // Both widened squares less what they share: the strips between them
      // (0.2 x 4) and the two disks' overlap at the gap's ends.
      {"parts merge",
       {{box(0, 0, 4, 4)}, {box(5, 0, 9, 4)}},
       -0.6,
       2 * (16 + 9.6 + 0.36 * kPi) - 0.8 - lens(0.6, 1),
       1,
       1},
  };
}

// Relative difference, with the floor the contract allows.
void expectArea(double actual, double exact, double patchArea, const std::string& what) {
  const double allowed = std::max(1e-6 * std::abs(exact), 1e-9 * patchArea);
  EXPECT_NEAR(actual, exact, allowed) << what;
}

// Whether the vector library finds the shape valid (no ring crossing or
// touching itself, holes inside).
bool valid(const Polygon& shape) {
  OGRGeometry* g = nullptr;
  const std::string text = shape.toWkt();
  if (OGRGeometryFactory::createFromWkt(text.c_str(), nullptr, &g) != OGRERR_NONE) return false;
  const bool ok = g->IsValid();
  OGRGeometryFactory::destroyGeometry(g);
  return ok;
}

// The offset's own bookkeeping: the shape's area is the area, the pieces add
// up to it, and each piece's shape is valid and has that piece's area.
void expectConsistent(const Offset& o, const std::string& what) {
  double sum = 0;
  for (const OffsetPiece& p : o.pieces) {
    EXPECT_NEAR(p.shape.area(), p.area, 1e-9 * std::max(1.0, p.area)) << what;
    EXPECT_EQ(p.shape.exteriorParts().size(), 1u) << what;
    EXPECT_TRUE(valid(p.shape)) << what << ": " << p.shape.toWkt();
    sum += p.area;
  }
  EXPECT_NEAR(sum, o.area, 1e-9 * std::max(1.0, o.area)) << what;
  EXPECT_NEAR(o.shape.area(), o.area, 1e-9 * std::max(1.0, o.area)) << what;
  EXPECT_EQ(o.shape.isEmpty(), o.pieces.empty()) << what;
  EXPECT_TRUE(o.exact) << what;
}

TEST(OffsetTest, AnalyticCoresAndWidenedPatchesWhereverTheyLieAndHoweverTheyTurn) {
  for (const Analytic& c : analyticCases()) {
    for (const auto& [angle, dx, dy] : {std::tuple{0.0, 0.0, 0.0}, std::tuple{0.7, 500000.0, 9000000.0},
                                        std::tuple{kPi / 2, -3e5, 4e6}, std::tuple{2.9, 123.456, -789.0}}) {
      const std::string what = std::string(c.what) + " turned by " + std::to_string(angle);
      const Polygon patch = Polygon::fromWkt(wkt(c.shape, angle, dx, dy));
      const Offset o = inwardOffset(patch, c.distance);
      expectArea(o.area, c.area, patch.area(), what);
      EXPECT_EQ(o.pieces.size(), c.pieces) << what;
      EXPECT_EQ(o.shape.ringCount(), c.rings) << what;
      expectConsistent(o, what);
    }
  }
}

TEST(OffsetTest, TheDrawnArcsStayCloseToTheTrueCircle) {
  // The widened square's corners: every vertex within 1e-3 D of the circle
  // around its corner, or on the straight sides.
  const Offset o = inwardOffset(Polygon::fromWkt(wkt({{box(0, 0, 10, 10)}})), -2);
  ASSERT_EQ(o.pieces.size(), 1u);
  const auto rings = o.shape.rings();
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_GE(rings[0].size(), 4u * 16u);
  for (const auto& [x, y] : rings[0]) {
    const double cx = std::clamp(x, 0.0, 10.0), cy = std::clamp(y, 0.0, 10.0);
    EXPECT_NEAR(std::hypot(x - cx, y - cy), 2, 2e-3) << x << " " << y;
  }
}

TEST(OffsetTest, BothDrawingsOfTheArcsKeepTheExactArea) {
  // The widened square at distance 2: 100 + 80 + 4 pi. The equal-area
  // chains enclose it to rounding; chords on the circle fall short by their
  // circular segments, 1024 per quarter circle: 4 pi (1 - sin(x) / x) with
  // x = pi / 2048, about 4e-6 of the arcs' area.
  const std::vector<offset::Part> square{{{{0, 0}, {10, 0}, {10, 10}, {0, 10}}, {}}};
  const double exact = 180 + 4 * kPi, step = kPi / 2048;
  for (const offset::Drawing drawing : {offset::Drawing::kEqualArea, offset::Drawing::kChords}) {
    const offset::BoundaryOffset o = offset::offsetBoundary(square, 2, false, 1e-9, drawing);
    ASSERT_TRUE(o.resolved);
    ASSERT_EQ(o.pieces.size(), 1u);
    EXPECT_NEAR(o.pieces[0].area, exact, 1e-6);
    const double drawn = offset::polylineArea(o.pieces[0].shell.polyline);
    const double shortfall = drawing == offset::Drawing::kChords ? 4 * kPi * (1 - std::sin(step) / step) : 0;
    EXPECT_NEAR(drawn, exact - shortfall, 1e-6);
    for (const offset::Point& p : o.pieces[0].shell.polyline) {
      const double cx = std::clamp(p.x, 0.0, 10.0), cy = std::clamp(p.y, 0.0, 10.0);
      const double r = std::hypot(p.x - cx, p.y - cy);
      if (drawing == offset::Drawing::kChords) {
        EXPECT_NEAR(r, 2, 1e-6);
      }
      EXPECT_GE(r, 2 - 2e-6);
    }
  }
}

TEST(OffsetTest, AtDistanceZeroTheOffsetIsThePatch) {
  const Polygon patch = Polygon::fromWkt("MULTIPOLYGON(((0 0,4 0,4 4,0 4,0 0)),((10 0,12 0,12 3,10 3,10 0)))");
  const Offset o = inwardOffset(patch, 0);
  EXPECT_EQ(o.pieces.size(), 2u);
  EXPECT_DOUBLE_EQ(o.area, 22);
  expectConsistent(o, "distance 0");
}

TEST(OffsetTest, AnEmptyPatchHasAnEmptyOffset) {
  for (double d : {1.0, 0.0, -1.0}) {
    const Offset o = inwardOffset(Polygon(), d);
    EXPECT_TRUE(o.pieces.empty());
    EXPECT_EQ(o.area, 0);
    EXPECT_TRUE(o.shape.isEmpty());
  }
}

TEST(OffsetTest, AnInvalidPatchIsRepairedFirst) {
  // A figure eight: two triangles, each with inradius 50 / (10 + 10 sqrt 2),
  // whose cores are the triangles scaled by (1 - D / inradius).
  const Polygon bowtie = Polygon::fromWkt("POLYGON((0 0,10 10,10 0,0 10,0 0))");
  const double inradius = 50 / (10 + 10 * std::sqrt(2.0));
  const Offset o = inwardOffset(bowtie, 0.5);
  EXPECT_EQ(o.pieces.size(), 2u);
  expectArea(o.area, 2 * 25 * std::pow(1 - 0.5 / inradius, 2), 50, "figure eight");
  expectConsistent(o, "figure eight");
  // A hole outside its shell is no hole of it.
  const Offset apart =
      inwardOffset(Polygon::fromWkt("POLYGON((60 0,70 0,70 10,60 10,60 0),(80 0,85 0,85 5,80 5,80 0))"), 1);
  EXPECT_FALSE(apart.pieces.empty());
  expectConsistent(apart, "hole outside");
}

TEST(OffsetTest, ADistanceThatIsNoNumberIsRefused) {
  const Polygon square = Polygon::fromWkt(wkt({{box(0, 0, 10, 10)}}));
  EXPECT_THROW(inwardOffset(square, std::nan("")), HostError);
  EXPECT_THROW(inwardOffset(square, INFINITY), HostError);
}

// --- against the definition -------------------------------------------------

struct Checked {
  int cases = 0;
  double worst = 0;  // largest relative area difference
};

// The offset against the brute-force reference: the area within 1e-6
// relative (floor 1e-9 of the patch's area) and the same number of pieces.
void checkAgainstReference(const Polygon& patch, double d, const std::string& what, Checked& checked) {
  const Offset o = inwardOffset(patch, d);
  expectConsistent(o, what);
  const test::OffsetReference reference(patch, d);
  const double patchArea = patch.area();
  // The reference integrates to 1e-11 of the patch's bounding box, far
  // below what is checked.
  const Polygon::Box b = patch.bounds();
  const double exact =
      reference.area(1e-11 * (b.maxX - b.minX + 2 * std::abs(d)) * (b.maxY - b.minY + 2 * std::abs(d)));
  const double allowed = std::max(1e-6 * std::abs(exact), 1e-9 * patchArea);
  EXPECT_NEAR(o.area, exact, allowed) << what;
  if (exact > 0) checked.worst = std::max(checked.worst, std::abs(o.area - exact) / exact);
  EXPECT_EQ(static_cast<int>(o.pieces.size()), reference.pieces(4000, 1e-9 * patchArea)) << what;
  ++checked.cases;
}

// The patches of a random classified raster of `cells` x `cells` cells of
// 30 m, polygonised the way gdal_polygonize.py does, placed at map
// coordinates: staircases with many reflex corners, corridors one and two
// cells wide and cells touching at a corner.
std::vector<Polygon> rasterPatches(int cells, unsigned seed) {
  GDALAllRegister();
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  std::unique_ptr<GDALDataset> raster(mem->Create("", cells, cells, 1, GDT_Byte, nullptr));
  double transform[6] = {500000, 30, 0, 9000000, 0, -30};
  raster->SetGeoTransform(transform);
  std::mt19937 rng(seed);
  std::vector<unsigned char> values(static_cast<std::size_t>(cells * cells));
  // Each cell takes its left or lower neighbour's class most of the time, so
  // that classes form patches of many cells.
  for (int y = 0; y < cells; ++y)
    for (int x = 0; x < cells; ++x) {
      const auto roll = rng() % 10;
      unsigned char v = static_cast<unsigned char>(1 + rng() % 3);
      if (roll < 4 && x > 0) v = values[static_cast<std::size_t>(y * cells + x - 1)];
      if (roll >= 4 && roll < 7 && y > 0) v = values[static_cast<std::size_t>((y - 1) * cells + x)];
      values[static_cast<std::size_t>(y * cells + x)] = v;
    }
  if (raster->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, cells, cells, values.data(), cells, cells, GDT_Byte, 0, 0,
                                         nullptr) != CE_None)
    throw std::runtime_error("cannot fill the raster");
  GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("Memory");
  std::unique_ptr<GDALDataset> vectors(memory->Create("", 0, 0, 0, GDT_Unknown, nullptr));
  OGRLayer* layer = vectors->CreateLayer("patches", nullptr, wkbPolygon, nullptr);
  OGRFieldDefn field("class", OFTInteger);
  layer->CreateField(&field);
  if (GDALPolygonize(raster->GetRasterBand(1), nullptr, layer, 0, nullptr, nullptr, nullptr) != CE_None)
    throw std::runtime_error("cannot polygonise the raster");
  std::vector<Polygon> out;
  for (auto& f : layer) {
    char* text = nullptr;
    f->GetGeometryRef()->exportToWkt(&text);
    out.push_back(Polygon::fromWkt(text));
    CPLFree(text);
  }
  return out;
}

TEST(OffsetTest, OnStaircasesOfRasterCellsAreaAndPiecesAreThoseOfTheDefinition) {
  Checked checked;
  // Distances of half a cell and whole cells make arcs touch exactly.
  const std::vector<double> distances{15, 30, 37.3, 45, 60, 71.9, -15, -30, -52.1};
  int patches = 0;
  for (const Polygon& patch : rasterPatches(20, 7)) {
    if (patch.area() < 6 * 900) continue;  // the larger patches: the small ones have no core
    ++patches;
    for (double d : distances) checkAgainstReference(patch, d, patch.toWkt() + " at " + std::to_string(d), checked);
  }
  EXPECT_GE(patches, 8);
  RecordProperty("worst_relative_area_difference", std::to_string(checked.worst));
  std::cout << "staircases: " << checked.cases << " cores, worst relative area difference " << checked.worst << "\n";
}

// A star-shaped patch around (cx, cy): n vertices at random radii between 0.4
// and 1 times `size`, sometimes with a smaller star as a hole.
Polygon star(std::mt19937& rng, double cx, double cy, double size) {
  std::uniform_real_distribution<double> unit(0, 1);
  auto ring = [&](int n, double scale, bool reverse) {
    std::vector<double> angles;
    for (int i = 0; i < n; ++i) angles.push_back(2 * kPi * unit(rng));
    std::sort(angles.begin(), angles.end());
    if (reverse) std::reverse(angles.begin(), angles.end());
    Points out;
    for (double a : angles) {
      const double r = scale * (0.4 + 0.6 * unit(rng));
      out.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
    return out;
  };
  std::vector<Points> rings{ring(5 + static_cast<int>(rng() % 30), size, false)};
  if (rng() % 3 == 0) rings.push_back(ring(3 + static_cast<int>(rng() % 6), 0.3 * size, true));
  return Polygon::fromWkt(wkt({rings}));
}

TEST(OffsetTest, OnStarShapedPatchesAreaAndPiecesAreThoseOfTheDefinition) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> depth(0.01, 0.35);
  Checked checked;
  for (int i = 0; i < 40; ++i) {
    const Polygon patch = star(rng, 512345.678, 8765432.1, 100);
    const double d = 100 * depth(rng) * (i % 4 == 3 ? -1 : 1);
    checkAgainstReference(patch, d, patch.toWkt() + " at " + std::to_string(d), checked);
  }
  std::cout << "stars: " << checked.cases << " offsets, worst relative area difference " << checked.worst << "\n";
}

TEST(OffsetTest, TheReferenceItselfMatchesTheAnalyticCases) {
  // The brute force is only a check if it is right: it must find the closed
  // forms far more closely than the offset is checked.
  for (const Analytic& c : analyticCases()) {
    const Polygon patch = Polygon::fromWkt(wkt(c.shape, 0.3, 1000, 2000));
    const test::OffsetReference reference(patch, c.distance);
    EXPECT_NEAR(reference.area(1e-10 * patch.area()), c.area, 1e-8 * patch.area()) << c.what;
  }
}

}  // namespace
}  // namespace quilta
