#include "host/Overlay.h"

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

struct ClipRegion::Prepared {
  const GEOSPreparedGeometry* geometry = nullptr;
  GEOSGeometry* valid = nullptr;
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

ClipRegion::~ClipRegion() {
  GEOSPreparedGeom_destroy_r(geos::context(), prepared_->geometry);
  delete prepared_;
}

Polygon ClipRegion::clip(const Polygon& patch) const {
  auto ctx = geos::context();
  if (patch.isEmpty() || region_.isEmpty()) return Polygon();
  const Polygon::Box b = patch.bounds();
  if (b.maxX < bounds_.minX || b.minX > bounds_.maxX || b.maxY < bounds_.minY || b.minY > bounds_.maxY) return Polygon();
  const char inside = GEOSPreparedContains_r(ctx, prepared_->geometry, patch.handle());
  if (inside == 1) return patch;
  const char meets = GEOSPreparedIntersects_r(ctx, prepared_->geometry, patch.handle());
  if (meets == 0) return Polygon();
  return Polygon(intersectionOf(ctx, patch.handle(), region_.handle()));
}

Polygon circleAround(double x, double y, double radius) {
  auto ctx = geos::context();
  GEOSGeometry* point = checked(GEOSGeom_createPointFromXY_r(ctx, x, y), "cannot make a point");
  GEOSGeometry* circle = GEOSBuffer_r(ctx, point, radius, 1024);
  GEOSGeom_destroy_r(ctx, point);
  return Polygon(checked(circle, "cannot draw the circle around a point"));
}

double enclosingCircleRadius(const Polygon& shape) {
  if (shape.isEmpty()) return 0;
  auto ctx = geos::context();
  double radius = 0;
  GEOSGeometry* centre = nullptr;
  GEOSGeometry* circle = GEOSMinimumBoundingCircle_r(ctx, shape.handle(), &radius, &centre);
  if (!circle) geos::fail("cannot find the circle enclosing a patch");
  GEOSGeom_destroy_r(ctx, circle);
  if (centre) GEOSGeom_destroy_r(ctx, centre);
  return radius;
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
