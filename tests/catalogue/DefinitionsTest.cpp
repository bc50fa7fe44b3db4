// Every metric of the catalogue against a brute-force computation of its
// definition on random landscapes, clean coverages and layers with overlaps,
// gaps and slivers alike. The reference below uses the geometry engine
// directly: class unions and their boundaries, pairwise distances, the
// engine's own buffer for cores and a search over vertex pairs and triples
// for the smallest enclosing circle.

#include <geos_c.h>

#include <cmath>
#include <memory>
#include <numbers>

#include "CatalogueFixture.h"
#include "RandomLandscapes.h"
#include "host/Boundaries.h"
#include "host/Overlay.h"

namespace quilta::test {
namespace {

using catalogue::Level;
using Value = std::optional<double>;

struct Engine {
  GEOSContextHandle_t ctx = GEOS_init_r();
  ~Engine() { GEOS_finish_r(ctx); }
};

Engine& engine() {
  static Engine e;
  return e;
}

struct Geom {
  GEOSGeometry* g = nullptr;
  explicit Geom(GEOSGeometry* geometry = nullptr) : g(geometry) {}
  Geom(Geom&& o) noexcept : g(o.g) { o.g = nullptr; }
  Geom& operator=(Geom&& o) noexcept {
    std::swap(g, o.g);
    return *this;
  }
  ~Geom() {
    if (g) GEOSGeom_destroy_r(engine().ctx, g);
  }
};

Geom read(const std::string& wkt) {
  auto ctx = engine().ctx;
  GEOSWKTReader* r = GEOSWKTReader_create_r(ctx);
  Geom g(GEOSWKTReader_read_r(ctx, r, wkt.c_str()));
  GEOSWKTReader_destroy_r(ctx, r);
  return g;
}

double area(const GEOSGeometry* g) {
  double a = 0;
  GEOSArea_r(engine().ctx, g, &a);
  return a;
}
double length(const GEOSGeometry* g) {
  double l = 0;
  GEOSLength_r(engine().ctx, g, &l);
  return l;
}

// Smallest enclosing circle by exhaustion over the hull's vertices.
double enclosingRadius(const GEOSGeometry* g) {
  auto ctx = engine().ctx;
  Geom hull(GEOSConvexHull_r(ctx, g));
  Geom points(GEOSGeom_extractUniquePoints_r(ctx, hull.g));
  std::vector<std::pair<double, double>> p;
  for (int i = 0; i < GEOSGetNumGeometries_r(ctx, points.g); ++i) {
    double x, y;
    GEOSGeomGetX_r(ctx, GEOSGetGeometryN_r(ctx, points.g, i), &x);
    GEOSGeomGetY_r(ctx, GEOSGetGeometryN_r(ctx, points.g, i), &y);
    p.emplace_back(x, y);
  }
  double best = INFINITY;
  auto consider = [&](double cx, double cy, double r) {
    if (r >= best) return;
    for (const auto& q : p)
      if (std::hypot(q.first - cx, q.second - cy) > r * (1 + 1e-12)) return;
    best = r;
  };
  for (std::size_t i = 0; i < p.size(); ++i)
    for (std::size_t j = i + 1; j < p.size(); ++j) {
      const double cx = (p[i].first + p[j].first) / 2, cy = (p[i].second + p[j].second) / 2;
      consider(cx, cy, std::hypot(p[i].first - cx, p[i].second - cy));
      for (std::size_t k = j + 1; k < p.size(); ++k) {
        const double ax = p[i].first, ay = p[i].second, bx = p[j].first, by = p[j].second, qx = p[k].first,
                     qy = p[k].second;
        const double d = 2 * (ax * (by - qy) + bx * (qy - ay) + qx * (ay - by));
        if (d == 0) continue;
        const double ux = ((ax * ax + ay * ay) * (by - qy) + (bx * bx + by * by) * (qy - ay) + (qx * qx + qy * qy) * (ay - by)) / d;
        const double uy = ((ax * ax + ay * ay) * (qx - bx) + (bx * bx + by * by) * (ax - qx) + (qx * qx + qy * qy) * (bx - ax)) / d;
        consider(ux, uy, std::hypot(ax - ux, ay - uy));
      }
    }
  return best;
}

struct Stats {
  Value mn, sd, cv;
};
Stats stats(const std::vector<Value>& v) {
  std::vector<double> d;
  for (const auto& x : v)
    if (x) d.push_back(*x);
  Stats s;
  if (d.empty()) return s;
  double sum = 0;
  for (double x : d) sum += x;
  s.mn = sum / static_cast<double>(d.size());
  if (d.size() < 2) return s;
  double ss = 0;
  for (double x : d) ss += (x - *s.mn) * (x - *s.mn);
  s.sd = std::sqrt(ss / static_cast<double>(d.size() - 1));
  if (*s.mn != 0) s.cv = *s.sd / *s.mn * 100;
  return s;
}

// Every metric of every level by its definition.
RowMap reference(const std::vector<WktPatch>& patches, int classes, const catalogue::Settings& s) {
  auto ctx = engine().ctx;
  const double pi = std::numbers::pi;
  const std::size_t n = patches.size();
  std::vector<Geom> g;
  for (const auto& p : patches) g.push_back(read(p.wkt));
  std::vector<double> a(n), p(n);
  std::vector<Value> para(n), shape(n), frac(n), circle(n), enn(n), core(n), ncore(n), cai(n), prox(n);
  for (std::size_t i = 0; i < n; ++i) a[i] = area(g[i].g), p[i] = length(g[i].g);
  for (std::size_t i = 0; i < n; ++i) {
    para[i] = p[i] / a[i];
    shape[i] = p[i] / (2 * std::sqrt(pi * a[i]));
    if (a[i] > 1 && p[i] > 1) frac[i] = 2 * std::log(p[i]) / std::log(a[i]);
    const double r = enclosingRadius(g[i].g);
    circle[i] = 1 - a[i] / (pi * r * r);
    double nearest = INFINITY, sum = 0;
    bool others = false;
    for (std::size_t j = 0; j < n; ++j) {
      if (j == i || patches[j].cls != patches[i].cls) continue;
      others = true;
      double d = 0;
      GEOSDistance_r(ctx, g[i].g, g[j].g, &d);
      nearest = std::min(nearest, d);
      if (s.searchRadius && d > 0 && d <= *s.searchRadius) sum += a[j] / (d * d);
    }
    if (others) enn[i] = nearest;
    if (s.searchRadius) prox[i] = sum;
    if (s.edgeDepth) {
      Geom eroded(GEOSBuffer_r(ctx, g[i].g, -*s.edgeDepth, 1024));
      double c = 0, pieces = 0;
      for (int q = 0; q < GEOSGetNumGeometries_r(ctx, eroded.g); ++q) {
        const double pa = area(GEOSGetGeometryN_r(ctx, eroded.g, q));
        if (pa >= 1e-9 * a[i]) c += pa, pieces += 1;
      }
      core[i] = c, ncore[i] = pieces, cai[i] = c / a[i] * 100;
    }
  }

  // Unions and boundary lengths.
  std::vector<Geom> unions, boundaries;
  for (int k = 0; k < classes; ++k) {
    std::vector<GEOSGeometry*> members;
    for (std::size_t i = 0; i < n; ++i)
      if (patches[i].cls == k) members.push_back(GEOSGeom_clone_r(ctx, g[i].g));
    Geom coll(GEOSGeom_createCollection_r(ctx, GEOS_GEOMETRYCOLLECTION, members.data(),
                                          static_cast<unsigned>(members.size())));
    unions.emplace_back(GEOSUnaryUnion_r(ctx, coll.g));
    boundaries.emplace_back(GEOSBoundary_r(ctx, unions.back().g));
  }
  std::vector<GEOSGeometry*> all;
  for (const auto& u : unions) all.push_back(GEOSGeom_clone_r(ctx, u.g));
  Geom allColl(GEOSGeom_createCollection_r(ctx, GEOS_GEOMETRYCOLLECTION, all.data(), static_cast<unsigned>(all.size())));
  Geom L(GEOSUnaryUnion_r(ctx, allColl.g));
  Geom dL(GEOSBoundary_r(ctx, L.g));
  auto shared = [&](int k, int j) {
    Geom both(GEOSIntersection_r(ctx, boundaries[static_cast<std::size_t>(k)].g, boundaries[static_cast<std::size_t>(j)].g));
    return length(both.g);
  };

  RowMap out;
  auto put = [&](Level level, int k, std::int64_t id, const std::string& name, Value v) {
    out[{level, k, id, name}] = v;
  };
  double A = 0, maxA = 0;
  for (double x : a) A += x, maxA = std::max(maxA, x);
  std::vector<double> CA(static_cast<std::size_t>(classes), 0.0);
  for (std::size_t i = 0; i < n; ++i) CA[static_cast<std::size_t>(patches[i].cls)] += a[i];
  int m = 0;
  for (double x : CA) m += x > 0 ? 1 : 0;

  for (std::size_t i = 0; i < n; ++i) {
    const int k = patches[i].cls;
    const auto id = static_cast<std::int64_t>(i);
    put(Level::Patch, k, id, "area", a[i] / 1e4);
    put(Level::Patch, k, id, "perim", p[i]);
    put(Level::Patch, k, id, "para", para[i]);
    put(Level::Patch, k, id, "shape", shape[i]);
    put(Level::Patch, k, id, "frac", frac[i]);
    put(Level::Patch, k, id, "circle", circle[i]);
    put(Level::Patch, k, id, "enn", enn[i]);
    if (s.edgeDepth) {
      put(Level::Patch, k, id, "core", *core[i] / 1e4);
      put(Level::Patch, k, id, "ncore", ncore[i]);
      put(Level::Patch, k, id, "cai", cai[i]);
    }
    if (s.searchRadius) put(Level::Patch, k, id, "prox", prox[i]);
  }

  // The statistics of a group of patches (one class, or all).
  auto group = [&](Level level, int k, const std::vector<std::size_t>& ids) {
    auto putStats = [&](const std::string& stem, const std::vector<Value>& v) {
      const Stats st = stats(v);
      put(level, k, -1, stem + "_mn", st.mn);
      put(level, k, -1, stem + "_sd", st.sd);
      put(level, k, -1, stem + "_cv", st.cv);
    };
    auto pick = [&](const std::vector<Value>& v) {
      std::vector<Value> o;
      for (std::size_t i : ids) o.push_back(v[i]);
      return o;
    };
    std::vector<Value> areas;
    double sa2 = 0, sumCore = 0, sumNcore = 0;
    for (std::size_t i : ids) areas.push_back(a[i] / 1e4), sa2 += a[i] * a[i];
    putStats("area", areas);
    putStats("para", pick(para));
    putStats("shape", pick(shape));
    putStats("frac", pick(frac));
    putStats("circle", pick(circle));
    putStats("enn", pick(enn));
    // Regression of ln a on ln p.
    Value pafrac;
    if (ids.size() >= 10) {
      double mx = 0, my = 0;
      for (std::size_t i : ids) mx += std::log(p[i]), my += std::log(a[i]);
      mx /= static_cast<double>(ids.size()), my /= static_cast<double>(ids.size());
      double sxx = 0, sxy = 0;
      for (std::size_t i : ids)
        sxx += (std::log(p[i]) - mx) * (std::log(p[i]) - mx), sxy += (std::log(p[i]) - mx) * (std::log(a[i]) - my);
      if (sxx > 0 && sxy != 0) pafrac = 2 / (sxy / sxx);
    }
    put(level, k, -1, "pafrac", pafrac);
    put(level, k, -1, "division", 1 - sa2 / (A * A));
    put(level, k, -1, "split", A * A / sa2);
    put(level, k, -1, "mesh", sa2 / A / 1e4);
    if (s.edgeDepth) {
      std::vector<Value> cores;
      for (std::size_t i : ids) cores.push_back(*core[i] / 1e4), sumCore += *core[i], sumNcore += *ncore[i];
      putStats("core", cores);
      put(level, k, -1, "tca", sumCore / 1e4);
      if (level == Level::Class) put(level, k, -1, "cpland", sumCore / A * 100);
      put(level, k, -1, "ndca", sumNcore);
      put(level, k, -1, "dcad", sumNcore / A * 1e6);
    }
    if (s.searchRadius) putStats("prox", pick(prox));
  };

  for (int k = 0; k < classes; ++k) {
    std::vector<std::size_t> ids;
    double maxK = 0;
    for (std::size_t i = 0; i < n; ++i)
      if (patches[i].cls == k) ids.push_back(i), maxK = std::max(maxK, a[i]);
    if (ids.empty()) continue;
    group(Level::Class, k, ids);
    const auto nk = static_cast<double>(ids.size());
    put(Level::Class, k, -1, "ca", CA[static_cast<std::size_t>(k)] / 1e4);
    put(Level::Class, k, -1, "pland", CA[static_cast<std::size_t>(k)] / A * 100);
    put(Level::Class, k, -1, "np", nk);
    put(Level::Class, k, -1, "pd", nk / A * 1e6);
    put(Level::Class, k, -1, "lpi", maxK / A * 100);
    const double dU = length(boundaries[static_cast<std::size_t>(k)].g);
    Geom inner(GEOSDifference_r(ctx, boundaries[static_cast<std::size_t>(k)].g, dL.g));
    const double te = s.countBoundary ? dU : length(inner.g);
    put(Level::Class, k, -1, "te", te);
    put(Level::Class, k, -1, "ed", te / A * 1e4);
    put(Level::Class, k, -1, "lsi", dU / (2 * std::sqrt(pi * CA[static_cast<std::size_t>(k)])));
    double Ek = 0;
    std::vector<double> e;
    for (int j = 0; j < classes; ++j)
      if (j != k) e.push_back(shared(k, j)), Ek += e.back();
    Value iji;
    if (m >= 3 && Ek > 0) {
      double h = 0;
      for (double x : e)
        if (x > 0) h -= x / Ek * std::log(x / Ek);
      iji = h / std::log(m - 1.0) * 100;
    }
    put(Level::Class, k, -1, "iji", iji);
  }

  std::vector<std::size_t> everyone(n);
  for (std::size_t i = 0; i < n; ++i) everyone[i] = i;
  group(Level::Landscape, -1, everyone);
  put(Level::Landscape, -1, -1, "ta", A / 1e4);
  put(Level::Landscape, -1, -1, "np", static_cast<double>(n));
  put(Level::Landscape, -1, -1, "pd", static_cast<double>(n) / A * 1e6);
  put(Level::Landscape, -1, -1, "lpi", maxA / A * 100);
  double E = 0;
  std::vector<double> e;
  for (int k = 0; k < classes; ++k)
    for (int j = k + 1; j < classes; ++j) e.push_back(shared(k, j)), E += e.back();
  const double te = E + (s.countBoundary ? length(dL.g) : 0);
  put(Level::Landscape, -1, -1, "te", te);
  put(Level::Landscape, -1, -1, "ed", te / A * 1e4);
  put(Level::Landscape, -1, -1, "lsi", (E + length(dL.g)) / (2 * std::sqrt(pi * A)));
  Value iji;
  if (m >= 3 && E > 0) {
    double h = 0;
    for (double x : e)
      if (x > 0) h -= x / E * std::log(x / E);
    iji = h / std::log(m * (m - 1) / 2.0) * 100;
  }
  put(Level::Landscape, -1, -1, "iji", iji);
  double shdi = 0, simpson = 0;
  for (double ca : CA)
    if (ca > 0) shdi -= ca / A * std::log(ca / A), simpson += (ca / A) * (ca / A);
  put(Level::Landscape, -1, -1, "pr", m);
  put(Level::Landscape, -1, -1, "prd", m / A * 1e6);
  put(Level::Landscape, -1, -1, "shdi", shdi);
  put(Level::Landscape, -1, -1, "sidi", 1 - simpson);
  put(Level::Landscape, -1, -1, "msidi", -std::log(simpson));
  put(Level::Landscape, -1, -1, "shei", m > 1 ? Value(shdi / std::log(m)) : Value{});
  put(Level::Landscape, -1, -1, "siei", m > 1 ? Value((1 - simpson) / (1 - 1.0 / m)) : Value{});
  put(Level::Landscape, -1, -1, "msiei", m > 1 ? Value(-std::log(simpson) / std::log(m)) : Value{});
  return out;
}

bool coreRelated(const std::string& name) {
  for (const char* stem : {"core", "ncore", "cai", "tca", "cpland", "ndca", "dcad"})
    if (name == stem || name.rfind(std::string(stem) + "_", 0) == 0) return true;
  return false;
}

void expectSame(const RowMap& got, const RowMap& want, const std::string& what) {
  EXPECT_EQ(got.size(), want.size()) << what << ": number of rows";
  int mismatches = 0;
  for (const auto& [key, v] : want) {
    auto it = got.find(key);
    const std::string name = std::get<3>(key);
    const std::string where = what + " " + catalogue::levelName(std::get<0>(key)) + " class " +
                              std::to_string(std::get<1>(key)) + " id " + std::to_string(std::get<2>(key)) + " " + name;
    if (it == got.end()) {
      ADD_FAILURE() << where << ": no row";
      if (++mismatches > 20) return;
      continue;
    }
    if (it->second.has_value() != v.has_value()) {
      ADD_FAILURE() << where << ": defined " << it->second.has_value() << ", by definition " << v.has_value();
      if (++mismatches > 20) return;
      continue;
    }
    if (!v) continue;
    // Cores: the engine's buffer against the exact offset; the rest to rounding.
    const double tolerance = coreRelated(name) ? 1e-5 : 1e-9;
    if (std::fabs(*it->second - *v) > tolerance * std::max(1.0, std::fabs(*v))) {
      ADD_FAILURE() << where << ": " << *it->second << ", by definition " << *v;
      if (++mismatches > 20) return;
    }
  }
}

catalogue::Settings everything(bool countBoundary) {
  catalogue::Settings s = allLevels();
  s.edgeDepth = 0.5;
  s.searchRadius = 30;
  s.countBoundary = countBoundary;
  return s;
}

bool cleanByEdges(const catalogue::Landscape& land) {
  std::vector<const Polygon*> shapes;
  std::vector<int> classOf;
  for (const auto& p : land.patches) shapes.push_back(&p.shape), classOf.push_back(p.cls);
  return boundaryLengths(shapes, classOf, land.classes).fromEdges;
}

TEST(Definitions, CleanCoveragesFromTheEdgeIndex) {
  for (std::uint32_t seed = 1; seed <= 4; ++seed) {
    const auto patches = cleanCoverage(seed, 12, 10, 4);
    const auto land = landscapeOf(patches, 4);
    EXPECT_TRUE(cleanByEdges(land)) << "seed " << seed;
    const auto s = everything(seed % 2 == 0);
    expectSame(rowMap(catalogue::computeMetrics(land, s)), reference(patches, 4, s), "clean seed " + std::to_string(seed));
  }
}

TEST(Definitions, OverlapsGapsAndSliversFromTheUnions) {
  for (std::uint32_t seed = 1; seed <= 3; ++seed) {
    const auto patches = faultyLandscape(seed, 8, 8, 5);
    const auto land = landscapeOf(patches, 5);
    EXPECT_FALSE(cleanByEdges(land)) << "seed " << seed;
    const auto s = everything(seed % 2 == 1);
    expectSame(rowMap(catalogue::computeMetrics(land, s)), reference(patches, 5, s), "faulty seed " + std::to_string(seed));
  }
}

TEST(Definitions, CleanCoverageWithOneFaultLeavesTheEdgeIndex) {
  auto patches = cleanCoverage(7, 8, 8, 3);
  // A sliver across a shared edge overlaps two patches.
  patches.push_back({"POLYGON((31 30.05,45 30.05,45 29.95,31 29.95,31 30.05))", 2});
  const auto land = landscapeOf(patches, 3);
  EXPECT_FALSE(cleanByEdges(land));
  const auto s = everything(false);
  expectSame(rowMap(catalogue::computeMetrics(land, s)), reference(patches, 3, s), "sliver");
}

// Circles around sample points on one layer, as the point mode cuts them:
// patches wholly inside stay whole and share their measures (enn from the
// layer-wide nearest neighbour among them) across the circles, the others
// are clipped pieces. Every value must equal the definition on the pieces.
TEST(Definitions, CirclesCutFromOneLayer) {
  const auto layerPatches = cleanCoverage(11, 14, 12, 3);
  std::vector<catalogue::Patch> layer;
  for (std::size_t i = 0; i < layerPatches.size(); ++i)
    layer.push_back({static_cast<std::int64_t>(i), layerPatches[i].cls, Polygon::fromWkt(layerPatches[i].wkt),
                     static_cast<std::int64_t>(i)});
  std::vector<catalogue::ShapeMeasures> measures(layer.size());
  catalogue::measureNearest(layer, 3, measures);
  RingCache rings(layer.size());
  // No cores: the reference's engine buffer simplifies the dense rim of a
  // clipped piece beyond the tolerance.
  catalogue::Settings s = allLevels();
  s.searchRadius = 30;
  const double circles[][3] = {{70, 60, 25}, {70, 60, 45}, {20, 30, 18}, {120, 100, 30}};
  for (const auto& c : circles) {
    const ClipRegion circle(c[0], c[1], c[2]);
    catalogue::Landscape land;
    land.classes = 3;
    land.measures = &measures;
    land.rings = &rings;
    std::vector<WktPatch> pieces;
    std::size_t whole = 0;
    for (const catalogue::Patch& p : layer) {
      Polygon piece = circle.clip(p.shape);
      const bool inside = piece.handle() == p.shape.handle();
      if (!inside && (piece.isEmpty() || piece.area() <= 0)) continue;
      const auto id = static_cast<std::int64_t>(pieces.size());
      pieces.push_back({piece.toWkt(), p.cls});
      land.patches.push_back({id, p.cls, std::move(piece), inside ? p.whole : -1});
      whole += inside ? 1 : 0;
    }
    const std::string what = "circle " + std::to_string(c[2]) + " at " + std::to_string(c[0]);
    EXPECT_GT(whole, 0u) << what;
    EXPECT_GT(land.patches.size(), whole) << what;
    EXPECT_TRUE(cleanByEdges(land)) << what;
    expectSame(rowMap(catalogue::computeMetrics(land, s)), reference(pieces, 3, s), what);
  }
}

}  // namespace
}  // namespace quilta::test
