#include "host/Overlay.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

#include "host/GeosContext.h"
#include "host/HostError.h"

namespace quilta {
namespace {

GEOSGeometry* checked(GEOSGeometry* g, const char* what) {
  if (!g) geos::fail(what);
  return g;
}

// The polygonal part of an overlay result (the engine hands back a
// collection with lines and points where the shapes only touch).
GEOSGeometry* polygonalPart(GEOSContextHandle_t ctx, GEOSGeometry* g) {
  const int type = GEOSGeomTypeId_r(ctx, g);
  if (type == GEOS_POLYGON || type == GEOS_MULTIPOLYGON) return g;
  std::vector<GEOSGeometry*> parts;
  const int n = GEOSGetNumGeometries_r(ctx, g);
  for (int i = 0; i < n; ++i) {
    const GEOSGeometry* part = GEOSGetGeometryN_r(ctx, g, i);
    const int t = GEOSGeomTypeId_r(ctx, part);
    if (t == GEOS_POLYGON && !GEOSisEmpty_r(ctx, part)) {
      parts.push_back(checked(GEOSGeom_clone_r(ctx, part), "cannot copy a shape part"));
    } else if (t == GEOS_MULTIPOLYGON || t == GEOS_GEOMETRYCOLLECTION) {
      GEOSGeometry* sub = polygonalPart(ctx, checked(GEOSGeom_clone_r(ctx, part), "cannot copy a shape part"));
      const int m = GEOSGetNumGeometries_r(ctx, sub);
      for (int j = 0; j < m; ++j) {
        const GEOSGeometry* p = GEOSGetGeometryN_r(ctx, sub, j);
        if (!GEOSisEmpty_r(ctx, p)) parts.push_back(checked(GEOSGeom_clone_r(ctx, p), "cannot copy a shape part"));
      }
      GEOSGeom_destroy_r(ctx, sub);
    }
  }
  GEOSGeom_destroy_r(ctx, g);
  if (parts.empty()) return checked(GEOSGeom_createEmptyPolygon_r(ctx), "empty polygon");
  if (parts.size() == 1) return parts[0];
  return checked(GEOSGeom_createCollection_r(ctx, GEOS_MULTIPOLYGON, parts.data(), static_cast<unsigned>(parts.size())),
                 "cannot assemble the parts of a shape");
}

// A copy of `g`, repaired when it is not valid.
GEOSGeometry* validCopy(GEOSContextHandle_t ctx, const GEOSGeometry* g) {
  if (GEOSisValid_r(ctx, g) == 1) return checked(GEOSGeom_clone_r(ctx, g), "cannot copy a shape");
  return polygonalPart(ctx, checked(GEOSMakeValid_r(ctx, g), "cannot repair a shape"));
}

GEOSGeometry* intersectionOf(GEOSContextHandle_t ctx, const GEOSGeometry* a, const GEOSGeometry* b) {
  GEOSGeometry* r = GEOSIntersection_r(ctx, a, b);
  if (!r) {
    // Repaired copies when the engine refuses the shapes as they are.
    GEOSGeometry* va = validCopy(ctx, a);
    GEOSGeometry* vb = validCopy(ctx, b);
    r = GEOSIntersection_r(ctx, va, vb);
    GEOSGeom_destroy_r(ctx, va);
    GEOSGeom_destroy_r(ctx, vb);
  }
  return polygonalPart(ctx, checked(r, "cannot clip a patch to its region"));
}

}  // namespace

Polygon clipToRegion(const Polygon& patch, const Polygon& region) {
  auto ctx = geos::context();
  if (patch.isEmpty() || region.isEmpty()) return Polygon();
  GEOSGeometry* a = validCopy(ctx, patch.handle());
  GEOSGeometry* b = validCopy(ctx, region.handle());
  GEOSGeometry* r = GEOSIntersection_r(ctx, a, b);
  GEOSGeom_destroy_r(ctx, a);
  GEOSGeom_destroy_r(ctx, b);
  return Polygon(polygonalPart(ctx, checked(r, "cannot clip a patch to its region")));
}

// The rim of a circle region: its vertices in counter-clockwise order from
// angle 0, vertex k at angle k * step.
struct ClipRegion::Circle {
  double x = 0, y = 0, radius = 0, inradius = 0, step = 0;
  std::vector<std::pair<double, double>> rim;
};

struct ClipRegion::Prepared {
  const GEOSPreparedGeometry* geometry = nullptr;
  std::unique_ptr<ClipRegion::Circle> circle;
};

ClipRegion::ClipRegion(const Polygon& region) : bounds_(region.bounds()), prepared_(new Prepared) {
  auto ctx = geos::context();
  region_ = Polygon(validCopy(ctx, region.handle()));
  prepared_->geometry = GEOSPrepare_r(ctx, region_.handle());
  if (!prepared_->geometry) {
    delete prepared_;
    geos::fail("cannot prepare a region");
  }
}

ClipRegion::ClipRegion(double x, double y, double radius) : ClipRegion(circleAround(x, y, radius)) {
  auto ctx = geos::context();
  const GEOSGeometry* ring = GEOSGetExteriorRing_r(ctx, region_.handle());
  const GEOSCoordSequence* seq = ring ? GEOSGeom_getCoordSeq_r(ctx, ring) : nullptr;
  unsigned int size = 0;
  if (!seq || !GEOSCoordSeq_getSize_r(ctx, seq, &size) || size < 5) return;
  auto c = std::make_unique<Circle>();
  c->x = x, c->y = y, c->radius = radius;
  for (unsigned int i = 0; i + 1 < size; ++i) {
    double px = 0, py = 0;
    if (!GEOSCoordSeq_getXY_r(ctx, seq, i, &px, &py)) return;
    c->rim.emplace_back(px, py);
  }
  const std::size_t n = c->rim.size();
  // Counter-clockwise, starting at the vertex at angle 0.
  double twice = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto &p = c->rim[i], &q = c->rim[(i + 1) % n];
    twice += (p.first - x) * (q.second - y) - (q.first - x) * (p.second - y);
  }
  if (twice < 0) std::reverse(c->rim.begin(), c->rim.end());
  std::size_t first = 0;
  double firstAngle = INFINITY;
  for (std::size_t i = 0; i < n; ++i) {
    const double a = std::fabs(std::atan2(c->rim[i].second - y, c->rim[i].first - x));
    if (a < firstAngle) first = i, firstAngle = a;
  }
  std::rotate(c->rim.begin(), c->rim.begin() + static_cast<std::ptrdiff_t>(first), c->rim.end());
  c->step = 2 * std::numbers::pi / static_cast<double>(n);
  // Squared distances; the radii below carry a margin for their rounding.
  double far = 0, near = INFINITY;
  for (std::size_t i = 0; i < n; ++i) {
    const auto &p = c->rim[i], &q = c->rim[(i + 1) % n];
    const double px = p.first - x, py = p.second - y;
    const double mx = 0.5 * (p.first + q.first) - x, my = 0.5 * (p.second + q.second) - y;
    far = std::max(far, px * px + py * py);
    near = std::min(near, mx * mx + my * my);
    // Vertex i must sit at angle i * step for the stretches to be found.
    double angle = std::atan2(p.second - y, p.first - x);
    if (angle < 0) angle += 2 * std::numbers::pi;
    const double expected = c->step * static_cast<double>(i);
    if (std::fabs(angle - expected) > 0.25 * c->step && std::fabs(angle - expected) < 2 * std::numbers::pi - c->step)
      return;
  }
  c->radius = std::sqrt(far) * (1 + 1e-12);
  c->inradius = std::sqrt(near) * (1 - 1e-12);
  prepared_->circle = std::move(c);
}

ClipRegion::~ClipRegion() {
  GEOSPreparedGeom_destroy_r(geos::context(), prepared_->geometry);
  delete prepared_;
}

Polygon ClipRegion::clip(const Polygon& patch, const Polygon::Box* box) const {
  auto ctx = geos::context();
  const Polygon::Box b = box ? *box : patch.bounds();
  if (b.maxX < bounds_.minX || b.minX > bounds_.maxX || b.maxY < bounds_.minY || b.minY > bounds_.maxY) return Polygon();
  if (patch.isEmpty() || region_.isEmpty()) return Polygon();
  if (prepared_->circle) return clipNearRim(patch, b);
  const char inside = GEOSPreparedContains_r(ctx, prepared_->geometry, patch.handle());
  if (inside == 1) return patch;
  const char meets = GEOSPreparedIntersects_r(ctx, prepared_->geometry, patch.handle());
  if (meets == 0) return Polygon();
  return Polygon(intersectionOf(ctx, patch.handle(), region_.handle()));
}

Polygon ClipRegion::clipNearRim(const Polygon& patch, const Polygon::Box& b) const {
  auto ctx = geos::context();
  const Circle& c = *prepared_->circle;
  const double corners[4][2] = {{b.minX, b.minY}, {b.maxX, b.minY}, {b.maxX, b.maxY}, {b.minX, b.maxY}};
  double farthest = 0;
  for (const auto& p : corners) farthest = std::max(farthest, std::hypot(p[0] - c.x, p[1] - c.y));
  if (farthest < c.inradius) return patch;  // the box lies inside the polygon's inscribed circle
  const double dx = std::max({b.minX - c.x, 0.0, c.x - b.maxX}), dy = std::max({b.minY - c.y, 0.0, c.y - b.maxY});
  if (std::hypot(dx, dy) > c.radius) return Polygon();
  const bool centreNear = dx == 0 && dy == 0;
  if (!centreNear) {
    if (GEOSPreparedContains_r(ctx, prepared_->geometry, patch.handle()) == 1) return patch;
    // The box lies in an angular sector narrower than half a turn: the
    // circle's part there is the fan from the centre over the rim's
    // vertices of that sector (one step more on either side).
    double lo = INFINITY, hi = -INFINITY;
    const double mid = std::atan2(0.5 * (b.minY + b.maxY) - c.y, 0.5 * (b.minX + b.maxX) - c.x);
    for (const auto& p : corners) {
      double a = std::atan2(p[1] - c.y, p[0] - c.x) - mid;
      if (a > std::numbers::pi) a -= 2 * std::numbers::pi;
      if (a < -std::numbers::pi) a += 2 * std::numbers::pi;
      lo = std::min(lo, a), hi = std::max(hi, a);
    }
    lo += mid, hi += mid;
    const auto n = static_cast<long long>(c.rim.size());
    const long long k0 = static_cast<long long>(std::floor(lo / c.step)) - 1;
    const long long k1 = static_cast<long long>(std::ceil(hi / c.step)) + 1;
    if (k1 - k0 < n / 2) {
      GEOSCoordSequence* seq = GEOSCoordSeq_create_r(ctx, static_cast<unsigned>(k1 - k0 + 3), 2);
      if (!seq) geos::fail("cannot make a stretch of the circle");
      unsigned int at = 0;
      GEOSCoordSeq_setXY_r(ctx, seq, at++, c.x, c.y);
      for (long long k = k0; k <= k1; ++k) {
        const auto& p = c.rim[static_cast<std::size_t>(((k % n) + n) % n)];
        GEOSCoordSeq_setXY_r(ctx, seq, at++, p.first, p.second);
      }
      GEOSCoordSeq_setXY_r(ctx, seq, at++, c.x, c.y);
      GEOSGeometry* shell = GEOSGeom_createLinearRing_r(ctx, seq);
      GEOSGeometry* fan = shell ? GEOSGeom_createPolygon_r(ctx, shell, nullptr, 0) : nullptr;
      if (!fan) geos::fail("cannot make a stretch of the circle");
      GEOSGeometry* r = intersectionOf(ctx, patch.handle(), fan);
      GEOSGeom_destroy_r(ctx, fan);
      return Polygon(r);
    }
  }
  if (GEOSPreparedIntersects_r(ctx, prepared_->geometry, patch.handle()) == 0) return Polygon();
  return Polygon(intersectionOf(ctx, patch.handle(), region_.handle()));
}

Polygon circleAround(double x, double y, double radius) {
  auto ctx = geos::context();
  GEOSGeometry* point = checked(GEOSGeom_createPointFromXY_r(ctx, x, y), "cannot make a point");
  GEOSGeometry* circle = GEOSBuffer_r(ctx, point, radius, 1024);
  GEOSGeom_destroy_r(ctx, point);
  return Polygon(checked(circle, "cannot draw the circle around a point"));
}

namespace {

struct Circle {
  double x = 0, y = 0, r = -1;
  bool holds(double px, double py) const { return std::hypot(px - x, py - y) <= r * (1 + 1e-12) + 1e-300; }
};

Circle circleOn(double ax, double ay, double bx, double by) {
  const double x = 0.5 * (ax + bx), y = 0.5 * (ay + by);
  return {x, y, std::max(std::hypot(ax - x, ay - y), std::hypot(bx - x, by - y))};
}

Circle circleThrough(double ax, double ay, double bx, double by, double cx, double cy) {
  const double bxr = bx - ax, byr = by - ay, cxr = cx - ax, cyr = cy - ay;
  const double d = 2 * (bxr * cyr - byr * cxr);
  if (d != 0) {
    const double b2 = bxr * bxr + byr * byr, c2 = cxr * cxr + cyr * cyr;
    const double ux = (cyr * b2 - byr * c2) / d, uy = (bxr * c2 - cxr * b2) / d;
    const Circle c{ax + ux, ay + uy, std::max({std::hypot(ux, uy), std::hypot(bx - ax - ux, by - ay - uy),
                                               std::hypot(cx - ax - ux, cy - ay - uy)})};
    if (std::isfinite(c.r)) return c;
  }
  // In line: the circle on the two points farthest apart.
  Circle best = circleOn(ax, ay, bx, by);
  for (const Circle& c : {circleOn(ax, ay, cx, cy), circleOn(bx, by, cx, cy)})
    if (c.r > best.r) best = c;
  return best;
}

}  // namespace

double enclosingCircleRadius(const Polygon& shape) {
  // Every point of a patch lies inside the circle when its outer rings'
  // vertices do. The smallest circle around them by the randomised
  // incremental construction (expected linear time), the points taken in a
  // fixed shuffled order so that the answer does not vary between runs.
  auto ctx = geos::context();
  const GEOSGeometry* g = shape.handle();
  if (GEOSisEmpty_r(ctx, g)) return 0;
  std::vector<std::pair<double, double>> pts;
  auto ring = [&](const GEOSGeometry* r) {
    const GEOSCoordSequence* seq = GEOSGeom_getCoordSeq_r(ctx, r);
    unsigned int size = 0;
    if (!seq || !GEOSCoordSeq_getSize_r(ctx, seq, &size)) geos::fail("cannot read the vertices of a ring");
    for (unsigned int i = 0; i < size; ++i) {
      double x = 0, y = 0;
      if (!GEOSCoordSeq_getXY_r(ctx, seq, i, &x, &y)) geos::fail("cannot read a vertex");
      pts.emplace_back(x, y);
    }
  };
  const int type = GEOSGeomTypeId_r(ctx, g);
  if (type == GEOS_POLYGON || type == GEOS_MULTIPOLYGON) {
    const int parts = GEOSGetNumGeometries_r(ctx, g);
    for (int i = 0; i < parts; ++i) {
      const GEOSGeometry* part = GEOSGetGeometryN_r(ctx, g, i);
      if (!GEOSisEmpty_r(ctx, part)) ring(GEOSGetExteriorRing_r(ctx, part));
    }
  } else {
    double radius = 0;
    GEOSGeometry* centre = nullptr;
    GEOSGeometry* circle = GEOSMinimumBoundingCircle_r(ctx, g, &radius, &centre);
    if (!circle) geos::fail("cannot find the circle enclosing a patch");
    GEOSGeom_destroy_r(ctx, circle);
    if (centre) GEOSGeom_destroy_r(ctx, centre);
    return radius;
  }
  std::uint64_t state = 0x9e3779b97f4a7c15ULL;
  for (std::size_t i = pts.size(); i > 1; --i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    std::swap(pts[i - 1], pts[(state >> 33) % i]);
  }
  Circle c;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    if (c.r >= 0 && c.holds(pts[i].first, pts[i].second)) continue;
    c = {pts[i].first, pts[i].second, 0};
    for (std::size_t j = 0; j < i; ++j) {
      if (c.holds(pts[j].first, pts[j].second)) continue;
      c = circleOn(pts[i].first, pts[i].second, pts[j].first, pts[j].second);
      for (std::size_t k = 0; k < j; ++k)
        if (!c.holds(pts[k].first, pts[k].second))
          c = circleThrough(pts[i].first, pts[i].second, pts[j].first, pts[j].second, pts[k].first, pts[k].second);
    }
  }
  return std::max(c.r, 0.0);
}

std::optional<std::pair<double, double>> pointPosition(const Polygon& shape) {
  auto ctx = geos::context();
  const GEOSGeometry* g = shape.handle();
  if (GEOSGeomTypeId_r(ctx, g) != GEOS_POINT || GEOSisEmpty_r(ctx, g)) return std::nullopt;
  double x = 0, y = 0;
  if (!GEOSGeomGetX_r(ctx, g, &x) || !GEOSGeomGetY_r(ctx, g, &y)) geos::fail("cannot read a point");
  return std::make_pair(x, y);
}

}  // namespace quilta
