#include "host/Boundaries.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <optional>

#include "host/GeosContext.h"
#include "host/HostError.h"
#include "host/SpatialIndex.h"

namespace quilta {
namespace {

struct Pt {
  double x, y;
  bool operator==(const Pt& o) const { return x == o.x && y == o.y; }
  bool operator<(const Pt& o) const { return x < o.x || (x == o.x && y < o.y); }
};

// One edge of a patch's ring, its end points in ascending order; `forward`
// when the ring runs from `a` to `b`. Rings are taken with the patch's
// inside on their left.
struct Edge {
  Pt a, b;
  int patch;
  bool forward;
};

// The inside of a patch at one of its vertices: the angular sector swept
// counter-clockwise from the outgoing edge to the incoming one.
struct Corner {
  Pt v;
  double start, width;
  int patch;
};

struct TestPoint {
  Pt p;
  int patch;
  Pt a, b;  // the edge it sits on
};

// Side of c relative to the line a->b: 1 left, -1 right, 0 when on it or
// too close to tell (the classic forward error bound of the determinant).
int side(const Pt& a, const Pt& b, const Pt& c) {
  const double l = (a.x - c.x) * (b.y - c.y);
  const double r = (a.y - c.y) * (b.x - c.x);
  const double det = l - r;
  const double bound = 3.3306690738754716e-16 * (std::fabs(l) + std::fabs(r));
  if (det > bound) return 1;
  if (det < -bound) return -1;
  return 0;
}

// Two distinct edges meet only at a shared end point, never along a piece
// of both or elsewhere. False also when too close to tell.
bool meetOnlyAtEnds(const Edge& e, const Edge& f) {
  const Pt* shared = nullptr;
  const Pt *q = nullptr, *r = nullptr;
  if (e.a == f.a) shared = &e.a, q = &e.b, r = &f.b;
  else if (e.a == f.b) shared = &e.a, q = &e.b, r = &f.a;
  else if (e.b == f.a) shared = &e.b, q = &e.a, r = &f.b;
  else if (e.b == f.b) shared = &e.b, q = &e.a, r = &f.a;
  if (shared) {
    if (side(*shared, *q, *r) != 0) return true;
    // In line: fine when they leave the shared point in opposite directions.
    return (q->x - shared->x) * (r->x - shared->x) + (q->y - shared->y) * (r->y - shared->y) < 0;
  }
  const int s1 = side(e.a, e.b, f.a), s2 = side(e.a, e.b, f.b);
  if (s1 * s2 > 0) return true;
  const int s3 = side(f.a, f.b, e.a), s4 = side(f.a, f.b, e.b);
  return s3 * s4 > 0;
}

// No two distinct edges cross, touch or overlap except at shared ends. The
// edges are bucketed in a uniform grid; a pair is tested in the first cell
// both cover.
bool noded(const std::vector<Edge>& edges) {
  const std::size_t n = edges.size();
  if (n < 2) return true;
  double minX = edges[0].a.x, maxX = minX, minY = edges[0].a.y, maxY = minY;
  for (const Edge& e : edges) {
    minX = std::min(minX, e.a.x), maxX = std::max(maxX, e.b.x);
    minY = std::min({minY, e.a.y, e.b.y}), maxY = std::max({maxY, e.a.y, e.b.y});
  }
  const double w = std::max(maxX - minX, 1e-300), h = std::max(maxY - minY, 1e-300);
  std::size_t g = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(n))));
  g = std::clamp<std::size_t>(g, 1, 4096);
  struct Range {
    std::size_t x0, y0, x1, y1;
  };
  std::vector<Range> ranges(n);
  auto cellOf = [&](double v, double lo, double span) {
    const double c = std::floor((v - lo) / span * static_cast<double>(g));
    return static_cast<std::size_t>(std::clamp(c, 0.0, static_cast<double>(g - 1)));
  };
  std::size_t incidences = 0;
  for (;;) {
    incidences = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const Edge& e = edges[i];
      Range r{cellOf(e.a.x, minX, w), cellOf(std::min(e.a.y, e.b.y), minY, h), cellOf(e.b.x, minX, w),
              cellOf(std::max(e.a.y, e.b.y), minY, h)};
      ranges[i] = r;
      incidences += (r.x1 - r.x0 + 1) * (r.y1 - r.y0 + 1);
    }
    if (incidences <= 16 * n + 1024 || g == 1) break;
    g = std::max<std::size_t>(1, g / 2);
  }
  std::vector<std::size_t> start(g * g + 1, 0);
  for (const Range& r : ranges)
    for (std::size_t y = r.y0; y <= r.y1; ++y)
      for (std::size_t x = r.x0; x <= r.x1; ++x) ++start[y * g + x + 1];
  for (std::size_t c = 0; c < g * g; ++c) start[c + 1] += start[c];
  std::vector<std::size_t> fill(start.begin(), start.end() - 1);
  std::vector<std::size_t> members(incidences);
  for (std::size_t i = 0; i < n; ++i) {
    const Range& r = ranges[i];
    for (std::size_t y = r.y0; y <= r.y1; ++y)
      for (std::size_t x = r.x0; x <= r.x1; ++x) members[fill[y * g + x]++] = i;
  }
  for (std::size_t cy = 0; cy < g; ++cy)
    for (std::size_t cx = 0; cx < g; ++cx) {
      const std::size_t c = cy * g + cx;
      for (std::size_t p = start[c]; p < start[c + 1]; ++p)
        for (std::size_t q = p + 1; q < start[c + 1]; ++q) {
          const std::size_t i = members[p], j = members[q];
          const Range &ri = ranges[i], &rj = ranges[j];
          if (std::max(ri.x0, rj.x0) != cx || std::max(ri.y0, rj.y0) != cy) continue;
          const Edge &e = edges[i], &f = edges[j];
          if (e.b.x < f.a.x || f.b.x < e.a.x) continue;
          if (std::max(e.a.y, e.b.y) < std::min(f.a.y, f.b.y) || std::max(f.a.y, f.b.y) < std::min(e.a.y, e.b.y))
            continue;
          if (!meetOnlyAtEnds(e, f)) return false;
        }
    }
  return true;
}

// The insides of the patches meeting at each vertex do not overlap there.
bool cornersApart(std::vector<Corner>& corners) {
  std::sort(corners.begin(), corners.end(), [](const Corner& c, const Corner& d) { return c.v < d.v; });
  constexpr double kTurn = 2 * std::numbers::pi;
  auto startsInside = [&](const Corner& c, const Corner& d) {  // d starts within c
    double diff = d.start - c.start;
    if (diff < 0) diff += kTurn;
    return diff == 0 || diff < c.width;
  };
  for (std::size_t i = 0; i < corners.size();) {
    std::size_t j = i + 1;
    while (j < corners.size() && corners[j].v == corners[i].v) ++j;
    for (std::size_t p = i; p < j; ++p)
      for (std::size_t q = p + 1; q < j; ++q)
        if (startsInside(corners[p], corners[q]) || startsInside(corners[q], corners[p])) return false;
    i = j;
  }
  return true;
}

// Reads the rings of one patch into edges, corners and one test point per
// ring. False when the patch cannot be taken edge by edge (not polygons, a
// ring without area).
struct Bounds {
  double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
  bool holds(const Pt& p) const { return p.x >= minX && p.x <= maxX && p.y >= minY && p.y <= maxY; }
};

bool readPatch(GEOSContextHandle_t ctx, const GEOSGeometry* g, int patch, std::vector<Edge>& edges,
               std::vector<Corner>& corners, std::vector<TestPoint>& tests, Bounds& bounds) {
  const int type = GEOSGeomTypeId_r(ctx, g);
  if (type != GEOS_POLYGON && type != GEOS_MULTIPOLYGON) return false;
  std::vector<Pt> pts;
  auto ring = [&](const GEOSGeometry* r, bool hole) {
    const GEOSCoordSequence* seq = GEOSGeom_getCoordSeq_r(ctx, r);
    unsigned int size = 0;
    if (!seq || !GEOSCoordSeq_getSize_r(ctx, seq, &size)) geos::fail("cannot read the vertices of a ring");
    pts.clear();
    for (unsigned int i = 0; i < size; ++i) {
      Pt p{};
      if (!GEOSCoordSeq_getXY_r(ctx, seq, i, &p.x, &p.y)) geos::fail("cannot read a vertex");
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
      if (pts.empty() || !(pts.back() == p)) pts.push_back(p);
      bounds.minX = std::min(bounds.minX, p.x), bounds.maxX = std::max(bounds.maxX, p.x);
      bounds.minY = std::min(bounds.minY, p.y), bounds.maxY = std::max(bounds.maxY, p.y);
    }
    if (pts.size() > 1 && pts.front() == pts.back()) pts.pop_back();
    const std::size_t n = pts.size();
    if (n < 3) return false;
    double twice = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const Pt &p = pts[i], &q = pts[(i + 1) % n];
      twice += (p.x - pts[0].x) * (q.y - pts[0].y) - (q.x - pts[0].x) * (p.y - pts[0].y);
    }
    if (twice == 0) return false;
    // Inside on the left: outer rings counter-clockwise, holes clockwise.
    if ((twice < 0) != hole) std::reverse(pts.begin(), pts.end());
    for (std::size_t i = 0; i < n; ++i) {
      const Pt &u = pts[(i + n - 1) % n], &v = pts[i], &w = pts[(i + 1) % n];
      const bool fwd = v < w;
      edges.push_back({fwd ? v : w, fwd ? w : v, patch, fwd});
      const double s = std::atan2(w.y - v.y, w.x - v.x), e = std::atan2(u.y - v.y, u.x - v.x);
      double width = e - s;
      if (width < 0) width += 2 * std::numbers::pi;
      if (width == 0) return false;  // a spike
      corners.push_back({v, s, width, patch});
    }
    const Pt &a = pts[0], &b = pts[1];
    tests.push_back({{0.5 * (a.x + b.x), 0.5 * (a.y + b.y)}, patch, a < b ? a : b, a < b ? b : a});
    return true;
  };
  const int parts = GEOSGetNumGeometries_r(ctx, g);
  for (int i = 0; i < parts; ++i) {
    const GEOSGeometry* part = GEOSGetGeometryN_r(ctx, g, i);
    if (GEOSisEmpty_r(ctx, part)) continue;
    if (!ring(GEOSGetExteriorRing_r(ctx, part), false)) return false;
    const int holes = GEOSGetNumInteriorRings_r(ctx, part);
    for (int h = 0; h < holes; ++h)
      if (!ring(GEOSGetInteriorRingN_r(ctx, part, h), true)) return false;
  }
  return true;
}

BoundaryLengths emptyLengths(int classes) {
  BoundaryLengths out;
  const auto m = static_cast<std::size_t>(std::max(classes, 0));
  out.classBoundary.assign(m, 0.0);
  out.onLandscapeBoundary.assign(m, 0.0);
  out.shared.assign(m * m, 0.0);
  return out;
}

}  // namespace

// One shape's rings as readPatch gives them (patch number 0).
struct RingCache::Impl {
  struct Rings {
    bool read = false, usable = false;
    std::vector<Edge> edges;
    std::vector<Corner> corners;
    std::vector<TestPoint> tests;
    Bounds bounds;
  };
  std::vector<Rings> shapes;
};

RingCache::RingCache(std::size_t keys) : impl(std::make_unique<Impl>()) { impl->shapes.resize(keys); }
RingCache::~RingCache() = default;

namespace {

// The edge-index path: none when the patches are no clean coverage.
std::optional<BoundaryLengths> fromEdges(const std::vector<const Polygon*>& shapes, const std::vector<int>& classOf,
                                         int classes, RingCache* cache, const std::vector<std::int64_t>* keys) {
  auto ctx = geos::context();
  std::vector<Edge> edges;
  std::vector<Corner> corners;
  std::vector<TestPoint> tests;
  std::vector<Bounds> bounds(shapes.size());
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    if (!shapes[i] || shapes[i]->isEmpty()) continue;
    const std::int64_t key = cache && keys ? (*keys)[i] : -1;
    if (key < 0) {
      if (!readPatch(ctx, shapes[i]->handle(), static_cast<int>(i), edges, corners, tests, bounds[i]))
        return std::nullopt;
      continue;
    }
    RingCache::Impl::Rings& r = cache->impl->shapes[static_cast<std::size_t>(key)];
    if (!r.read) {
      r.read = true;
      r.usable = readPatch(ctx, shapes[i]->handle(), 0, r.edges, r.corners, r.tests, r.bounds);
    }
    if (!r.usable) return std::nullopt;
    const int patch = static_cast<int>(i);
    for (Edge e : r.edges) e.patch = patch, edges.push_back(e);
    for (Corner c : r.corners) c.patch = patch, corners.push_back(c);
    for (TestPoint t : r.tests) t.patch = patch, tests.push_back(t);
    bounds[i] = r.bounds;
  }
  auto byEnds = [](const Edge& e, const Edge& f) { return e.a < f.a || (e.a == f.a && e.b < f.b); };
  std::sort(edges.begin(), edges.end(), byEnds);

  // Coincident edges: at most two, of two patches, with the insides on
  // opposite sides.
  std::vector<Edge> distinct;
  distinct.reserve(edges.size());
  for (std::size_t i = 0; i < edges.size();) {
    std::size_t j = i + 1;
    while (j < edges.size() && edges[j].a == edges[i].a && edges[j].b == edges[i].b) ++j;
    if (j - i > 2) return std::nullopt;
    if (j - i == 2 && (edges[i].patch == edges[i + 1].patch || edges[i].forward == edges[i + 1].forward))
      return std::nullopt;
    distinct.push_back(edges[i]);
    i = j;
  }
  if (!noded(distinct) || !cornersApart(corners)) return std::nullopt;

  // With edges and corners clean, patches can overlap only where a group
  // of connected rings (rings that share a vertex are connected) lies
  // wholly inside another patch; then every point of the group does. So
  // the middle of one edge of each group must lie in no patch but the
  // ones along that edge.
  std::vector<std::size_t> group(shapes.size());
  for (std::size_t i = 0; i < group.size(); ++i) group[i] = i;
  auto root = [&](std::size_t i) {
    while (group[i] != i) i = group[i] = group[group[i]];
    return i;
  };
  for (std::size_t i = 0; i < corners.size();) {  // sorted by vertex
    std::size_t j = i + 1;
    for (; j < corners.size() && corners[j].v == corners[i].v; ++j) {
      const std::size_t a = root(static_cast<std::size_t>(corners[i].patch));
      const std::size_t b = root(static_cast<std::size_t>(corners[j].patch));
      if (a != b) group[std::max(a, b)] = std::min(a, b);
    }
    i = j;
  }
  std::vector<const TestPoint*> probes;
  {
    std::vector<char> probed(shapes.size(), 0);
    for (const TestPoint& t : tests) {
      const std::size_t r = root(static_cast<std::size_t>(t.patch));
      if (!probed[r]) probed[r] = 1, probes.push_back(&t);
    }
  }
  auto acrossOnly = [&](const TestPoint& t, std::size_t holder) {
    if (static_cast<int>(holder) == t.patch) return true;
    auto it = std::lower_bound(edges.begin(), edges.end(), Edge{t.a, t.b, 0, false}, byEnds);
    for (; it != edges.end() && it->a == t.a && it->b == t.b; ++it)
      if (it->patch == static_cast<int>(holder)) return true;
    return false;
  };
  if (probes.size() <= 256) {
    // Few groups: a scan of the bounding boxes finds the candidates.
    for (const TestPoint* t : probes) {
      GEOSGeometry* point = GEOSGeom_createPointFromXY_r(ctx, t->p.x, t->p.y);
      if (!point) geos::fail("cannot make a point");
      bool clean = true;
      for (std::size_t h = 0; h < shapes.size() && clean; ++h) {
        if (!bounds[h].holds(t->p) || acrossOnly(*t, h)) continue;
        const char in = GEOSIntersects_r(ctx, shapes[h]->handle(), point);
        clean = in == 0;
      }
      GEOSGeom_destroy_r(ctx, point);
      if (!clean) return std::nullopt;
    }
  } else {
    SpatialIndex index(shapes);
    std::vector<std::size_t> holders;
    for (const TestPoint* t : probes) {
      index.containing(t->p.x, t->p.y, holders);
      for (std::size_t h : holders)
        if (!acrossOnly(*t, h)) return std::nullopt;
    }
  }

  BoundaryLengths out = emptyLengths(classes);
  const auto m = static_cast<std::size_t>(classes);
  for (std::size_t i = 0; i < edges.size();) {
    const double len = std::hypot(edges[i].b.x - edges[i].a.x, edges[i].b.y - edges[i].a.y);
    const auto k = static_cast<std::size_t>(classOf[static_cast<std::size_t>(edges[i].patch)]);
    if (i + 1 < edges.size() && edges[i + 1].a == edges[i].a && edges[i + 1].b == edges[i].b) {
      const auto j = static_cast<std::size_t>(classOf[static_cast<std::size_t>(edges[i + 1].patch)]);
      if (j != k) {
        out.classBoundary[k] += len, out.classBoundary[j] += len;
        out.shared[k * m + j] += len, out.shared[j * m + k] += len;
      }
      i += 2;
    } else {
      out.classBoundary[k] += len;
      out.onLandscapeBoundary[k] += len;
      out.landscapeBoundary += len;
      i += 1;
    }
  }
  out.fromEdges = true;
  return out;
}

struct GeomDeleter {
  void operator()(GEOSGeometry* g) const {
    if (g) GEOSGeom_destroy_r(geos::context(), g);
  }
};
using Geom = std::unique_ptr<GEOSGeometry, GeomDeleter>;

Geom own(GEOSGeometry* g, const char* what) {
  if (!g) geos::fail(what);
  return Geom(g);
}

double lengthOf(const GEOSGeometry* g) {
  double l = 0;
  if (!GEOSLength_r(geos::context(), g, &l)) geos::fail("cannot measure a boundary");
  return l;
}

// The union of shapes (repaired when invalid).
Geom unionOf(std::vector<GEOSGeometry*> parts) {
  auto ctx = geos::context();
  if (parts.empty()) return own(GEOSGeom_createEmptyPolygon_r(ctx), "empty polygon");
  Geom collection = own(GEOSGeom_createCollection_r(ctx, GEOS_GEOMETRYCOLLECTION, parts.data(),
                                                     static_cast<unsigned>(parts.size())),
                        "cannot collect shapes");
  return own(GEOSUnaryUnion_r(ctx, collection.get()), "cannot unite the patches of a class");
}

}  // namespace

BoundaryLengths boundaryLengthsFromUnions(const std::vector<const Polygon*>& shapes, const std::vector<int>& classOf,
                                          int classes) {
  auto ctx = geos::context();
  BoundaryLengths out = emptyLengths(classes);
  const auto m = static_cast<std::size_t>(std::max(classes, 0));
  std::vector<std::vector<GEOSGeometry*>> members(m);
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    if (!shapes[i] || shapes[i]->isEmpty()) continue;
    const GEOSGeometry* g = shapes[i]->handle();
    GEOSGeometry* copy = GEOSisValid_r(ctx, g) == 1 ? GEOSGeom_clone_r(ctx, g) : GEOSMakeValid_r(ctx, g);
    if (!copy) geos::fail("cannot repair a patch");
    members[static_cast<std::size_t>(classOf[i])].push_back(copy);
  }
  std::vector<Geom> unions, boundaries;
  for (std::size_t k = 0; k < m; ++k) {
    unions.push_back(unionOf(std::move(members[k])));
    boundaries.push_back(own(GEOSBoundary_r(ctx, unions.back().get()), "cannot take the boundary of a class"));
    out.classBoundary[k] = lengthOf(boundaries.back().get());
  }
  std::vector<GEOSGeometry*> all;
  for (auto& u : unions) all.push_back(own(GEOSGeom_clone_r(ctx, u.get()), "cannot copy a union").release());
  Geom landscape = unionOf(std::move(all));
  Geom landscapeBoundary = own(GEOSBoundary_r(ctx, landscape.get()), "cannot take the boundary of the landscape");
  out.landscapeBoundary = lengthOf(landscapeBoundary.get());
  for (std::size_t k = 0; k < m; ++k) {
    if (out.classBoundary[k] == 0) continue;
    Geom onL = own(GEOSIntersection_r(ctx, boundaries[k].get(), landscapeBoundary.get()),
                   "cannot intersect a class boundary with the landscape's");
    out.onLandscapeBoundary[k] = lengthOf(onL.get());
    for (std::size_t j = k + 1; j < m; ++j) {
      if (out.classBoundary[j] == 0) continue;
      Geom both = own(GEOSIntersection_r(ctx, boundaries[k].get(), boundaries[j].get()),
                      "cannot intersect the boundaries of two classes");
      out.shared[k * m + j] = out.shared[j * m + k] = lengthOf(both.get());
    }
  }
  return out;
}

BoundaryLengths boundaryLengths(const std::vector<const Polygon*>& shapes, const std::vector<int>& classOf,
                                int classes, RingCache* cache, const std::vector<std::int64_t>* keys) {
  if (auto fast = fromEdges(shapes, classOf, classes, cache, keys)) return *fast;
  return boundaryLengthsFromUnions(shapes, classOf, classes);
}

}  // namespace quilta
