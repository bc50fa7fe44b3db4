#pragma once
// Offsets of a patch, constructed exactly: the core of a patch (its boundary
// moved inward by a distance, the edge zone of that width removed all round)
// and the patch widened by a distance.
//
// Definitions. For a distance D > 0 the offset is the erosion of the patch by
// a disk of radius D: the points of the patch at distance >= D from its
// boundary (its outer boundaries and its holes). For D < 0 it is the dilation
// by a disk of radius |D|: the points at distance <= |D| from the patch. For
// D = 0 it is the patch itself. The boundary of an offset is made of straight
// pieces parallel to the patch's edges and of circular arcs of radius |D|
// around its corners (reflex corners inward, convex corners outward).
//
// Units: distances in map units, areas in square map units.

#include <vector>

#include "host/Geometry.h"

namespace quilta {

// One separate piece of an offset: one outer boundary and the holes inside it.
struct OffsetPiece {
  Polygon shape;
  double area = 0;  // the exact area of the piece (see Offset::area)
};

struct Offset {
  // All pieces: an empty polygon when there are none, the piece itself when
  // there is one, a multipolygon of the pieces otherwise.
  Polygon shape;
  // The area of the exact offset, the true arcs counted: within 1e-6 relative
  // of it, and within 1e-9 of the patch's area where the offset is tiny. (It
  // is the exact area at the distance nudged by 1e-9 relative, see `pieces`:
  // typically 1e-9 relative from the area at the distance itself.) It equals
  // the area of `shape` to rounding, and is the sum of the pieces' areas.
  double area = 0;
  // The separate pieces, each at least 1e-9 of the patch's area (smaller
  // fragments are no piece and are left out, area included; holes smaller
  // than that are no holes). Pieces that meet only in a point, or are joined
  // only by a neck of width zero, are separate pieces, and a hole that just
  // closes is gone; configurations within 1e-9 relative of the distance of
  // touching count as touching.
  std::vector<OffsetPiece> pieces;
  // False only when the exact construction could not resolve the patch and
  // the result is the geometry engine's polygonal buffer (64 segments per
  // quarter circle) instead; not expected on real data.
  bool exact = true;
};

// The offset of `patch` by `distance` (positive: inward, negative: outward).
//
// Shapes: each arc is drawn as a chain of straight segments of at most 1/64
// of a full turn whose inner vertices sit slightly outside the circle, so that
// a shape's own area equals its piece's area (to rounding) and its boundary
// lies within 1e-3 of |D| of the true one. Each piece's shape is valid: where
// such chains would cross (arcs that nearly touch), the patch is drawn with
// fine chords on the circles instead (1024 per quarter circle) and its
// pieces' areas are those of that drawing, within 1e-6 of the exact ones.
// Pieces that nearly touch may overlap each other by the drawing tolerance.
//
// An empty patch gives an empty offset. An invalid patch (self-crossing
// rings, holes outside their shell, ...) is first repaired the way the
// geometry engine's make-valid does, and the offset is that of the repaired
// shape. A multipolygon has one offset of the whole patch: inward, the cores
// of its parts; outward, parts that come within 2|D| of each other merge into
// one piece. Holes keep the core away from them by D inward; outward they
// shrink by |D|, and vanish when they are too narrow.
//
// Safe to call from several threads at once: nothing is shared between calls,
// and each call uses its own thread's geometry engine context.
// Throws HostError when the distance is not a finite number or the geometry
// engine fails.
Offset inwardOffset(const Polygon& patch, double distance);

}  // namespace quilta
