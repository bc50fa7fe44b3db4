#pragma once
// Overlays and measures of single shapes that the metric catalogue needs:
// a patch clipped to a region, the circle around a sample point, the
// smallest circle enclosing a patch, and the position of a point feature.
//
// Units: map units throughout.

#include <optional>
#include <utility>

#include "host/Geometry.h"

namespace quilta {

// The part of `patch` inside `region`: the area both cover, as a polygon or
// multipolygon (lines and points where they only touch are left out, so a
// patch that meets the region only along a line gives an empty polygon).
// An invalid patch or region is first repaired the way the geometry
// engine's make-valid does. Throws HostError when the engine fails.
Polygon clipToRegion(const Polygon& patch, const Polygon& region);

// A region prepared for clipping many patches: patches that lie wholly
// inside it come back unchanged (no overlay), the others are clipped as
// clipToRegion does. One thread at a time.
class ClipRegion {
 public:
  explicit ClipRegion(const Polygon& region);
  // The circle around a point (circleAround(x, y, radius)); clipping a patch
  // near its rim uses only the stretch of the rim that faces the patch.
  ClipRegion(double x, double y, double radius);
  ~ClipRegion();
  ClipRegion(const ClipRegion&) = delete;
  ClipRegion& operator=(const ClipRegion&) = delete;

  const Polygon& region() const { return region_; }
  Polygon::Box bounds() const { return bounds_; }
  // The part of `patch` inside the region (see clipToRegion). `box`, when
  // given, is the patch's bounding box (saves measuring it again).
  Polygon clip(const Polygon& patch, const Polygon::Box* box = nullptr) const;

 private:
  Polygon region_;
  Polygon::Box bounds_;
  struct Circle;
  Polygon clipNearRim(const Polygon& patch, const Polygon::Box& box) const;
  struct Prepared;
  Prepared* prepared_;
};

// The regular polygon of 4096 vertices inscribed in the circle of `radius`
// around (x, y), one vertex at angle 0: the geometry engine's buffer of the
// point with 1024 segments per quarter circle. Its area is within 1e-6
// relative of the circle's.
Polygon circleAround(double x, double y, double radius);

// The radius of the smallest circle that encloses every part of `shape`;
// 0 for an empty shape or a single point.
double enclosingCircleRadius(const Polygon& shape);

// The coordinates of a point feature's shape; none when the shape is not a
// single non-empty point.
std::optional<std::pair<double, double>> pointPosition(const Polygon& shape);

}  // namespace quilta
