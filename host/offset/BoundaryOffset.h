#pragma once
// The exact offset of a polygonal region, worked out on plain coordinates (no
// geometry engine). Private to the host layer: host/Offset.h is the interface.
//
// Words used here. The region is a set of parts, each an outer ring with its
// holes; rings are closed chains of vertices given without the repeated last
// vertex. The offset at distance r > 0 inward (erosion) is the set of points of
// the region at distance ≥ r from its boundary; outward (dilation) the set of
// points at distance ≤ r from the region. Its boundary is made of generators:
// the offset segment of every edge (the edge moved by r along its normal) and,
// at every corner that turns away from the offset side (reflex corners inward,
// convex corners outward), the arc of radius r around the corner. The offset
// boundary is what is left of the generators after cutting them where they
// cross and dropping every part closer than r to the region's boundary.

#include <vector>

namespace quilta::offset {

struct Point {
  double x = 0, y = 0;
};

using Ring = std::vector<Point>;

struct Part {
  Ring shell;
  std::vector<Ring> holes;
};

// One ring of the offset boundary.
struct BoundaryRing {
  // Exact signed area enclosed (positive: an outer boundary, the offset on its
  // left; negative: a hole), arcs counted as true circular arcs.
  double area = 0;
  // The ring drawn as a closed polyline (last vertex repeats the first), its
  // arcs drawn as the Drawing says.
  std::vector<Point> polyline;
};

// One separate piece of the offset: an outer boundary and the holes in it.
struct BoundaryPiece {
  BoundaryRing shell;
  std::vector<BoundaryRing> holes;
  double area = 0;  // shell area less the holes' areas
};

// How arcs are drawn in the polylines.
enum class Drawing {
  // Chains of at most π/32 per segment whose inner vertices sit a little
  // outside the circle (by at most 1e-3 of the radius), so that each chain
  // encloses exactly the area of its arc: a ring's polyline has the ring's
  // exact area. Where two arcs nearly touch from outside, their chains may
  // cross.
  kEqualArea,
  // Chords of at most π/2048 with their ends on the circle: inside the arc,
  // so they cross nothing the arc does not; a ring's polyline falls short of
  // its area by about 1e-7 of its arcs' sectors.
  kChords,
};

struct BoundaryOffset {
  // False when the construction met a configuration it could not resolve
  // (the pieces are then empty and must not be used).
  bool resolved = true;
  std::vector<BoundaryPiece> pieces;
};

// The offset of `parts` at `distance` > 0, inward when `inward`, otherwise
// outward. The coordinates should be centred near the origin (the caller
// subtracts a centre) so that rounding stays far below the distance.
//
// Touching: configurations where the offset only just touches itself (two arcs
// tangent, a corridor exactly twice the distance wide) are resolved as if the
// distance were larger by `nudge` inward (smaller outward): pieces that meet in
// a point or along a line are separate pieces, and a neck of width zero does
// not join them. The result is the offset at that nudged distance; `nudge`
// must be far above the rounding of the coordinates and far below the
// distance.
BoundaryOffset offsetBoundary(const std::vector<Part>& parts, double distance, bool inward, double nudge,
                              Drawing drawing = Drawing::kEqualArea);

// Signed area of a closed polyline (last vertex may or may not repeat the first).
double polylineArea(const std::vector<Point>& ring);

}  // namespace quilta::offset
