#include "host/Offset.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/GeosContext.h"
#include "host/HostError.h"
#include "host/offset/BoundaryOffset.h"

namespace quilta {
namespace {

struct GeometryDeleter {
  GEOSContextHandle_t ctx;
  void operator()(GEOSGeometry* g) const { GEOSGeom_destroy_r(ctx, g); }
};
using Owned = std::unique_ptr<GEOSGeometry, GeometryDeleter>;

// A fragment smaller than this share of the patch's area is no piece.
constexpr double kSmallestPiece = 1e-9;

// The patch's rings, centred on the middle of its bounds so that rounding is
// relative to the patch's size rather than to its place on the map.
struct Rings {
  offset::Point centre;
  double extent = 0;  // largest distance of a vertex from the centre, per axis
  std::vector<offset::Part> parts;
};

offset::Ring readRing(GEOSContextHandle_t ctx, const GEOSGeometry* ring) {
  const GEOSCoordSequence* seq = GEOSGeom_getCoordSeq_r(ctx, ring);
  unsigned int size = 0;
  if (!seq || !GEOSCoordSeq_getSize_r(ctx, seq, &size)) geos::fail("cannot read the vertices of a ring");
  std::vector<double> xy(2 * static_cast<std::size_t>(size));
  if (size > 0 && !GEOSCoordSeq_copyToBuffer_r(ctx, seq, xy.data(), 0, 0)) geos::fail("cannot read a ring");
  offset::Ring out(size);
  for (unsigned int i = 0; i < size; ++i) out[i] = {xy[2 * i], xy[2 * i + 1]};
  return out;
}

void collectParts(GEOSContextHandle_t ctx, const GEOSGeometry* g, std::vector<offset::Part>& parts) {
  const int type = GEOSGeomTypeId_r(ctx, g);
  if (type == GEOS_POLYGON) {
    if (GEOSisEmpty_r(ctx, g)) return;
    offset::Part part;
    part.shell = readRing(ctx, GEOSGetExteriorRing_r(ctx, g));
    const int holes = GEOSGetNumInteriorRings_r(ctx, g);
    for (int h = 0; h < holes; ++h) part.holes.push_back(readRing(ctx, GEOSGetInteriorRingN_r(ctx, g, h)));
    parts.push_back(std::move(part));
  } else if (type == GEOS_MULTIPOLYGON || type == GEOS_GEOMETRYCOLLECTION) {
    const int n = GEOSGetNumGeometries_r(ctx, g);
    for (int i = 0; i < n; ++i) collectParts(ctx, GEOSGetGeometryN_r(ctx, g, i), parts);
  }
  // Points and lines (what a repair leaves of collapsed rings) have no area.
}

// Outer rings counter-clockwise and holes clockwise: the patch on the left.
void orient(offset::Ring& ring, bool shell) {
  const double area = offset::polylineArea(ring);
  if ((shell && area < 0) || (!shell && area > 0)) std::reverse(ring.begin(), ring.end());
}

Rings readRings(GEOSContextHandle_t ctx, const GEOSGeometry* g) {
  Rings out;
  collectParts(ctx, g, out.parts);
  double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
  for (const offset::Part& part : out.parts)
    for (const offset::Point& p : part.shell)
      minX = std::min(minX, p.x), minY = std::min(minY, p.y), maxX = std::max(maxX, p.x), maxY = std::max(maxY, p.y);
  if (out.parts.empty()) return out;
  out.centre = {(minX + maxX) / 2, (minY + maxY) / 2};
  out.extent = std::max(maxX - minX, maxY - minY) / 2;
  auto centred = [&](offset::Ring& ring) {
    for (offset::Point& p : ring) p = {p.x - out.centre.x, p.y - out.centre.y};
  };
  for (offset::Part& part : out.parts) {
    centred(part.shell);
    orient(part.shell, true);
    for (offset::Ring& hole : part.holes) {
      centred(hole);
      orient(hole, false);
    }
  }
  return out;
}

GEOSGeometry* makeRing(GEOSContextHandle_t ctx, const std::vector<offset::Point>& line, offset::Point centre) {
  std::vector<double> xy;
  xy.reserve(2 * line.size());
  for (const offset::Point& p : line) {
    xy.push_back(p.x + centre.x);
    xy.push_back(p.y + centre.y);
  }
  // The closing vertex must repeat the first exactly after the shift back.
  xy[xy.size() - 2] = xy[0];
  xy[xy.size() - 1] = xy[1];
  GEOSCoordSequence* seq = GEOSCoordSeq_copyFromBuffer_r(ctx, xy.data(), static_cast<unsigned int>(line.size()), 0, 0);
  if (!seq) geos::fail("cannot make the vertices of an offset ring");
  GEOSGeometry* ring = GEOSGeom_createLinearRing_r(ctx, seq);
  if (!ring) geos::fail("cannot make an offset ring");
  return ring;
}

// A piece's shape; holes below `smallest` (those the nudge leaves where a
// hole just closes) are no holes.
Polygon makePiece(GEOSContextHandle_t ctx, const offset::BoundaryPiece& piece, offset::Point centre, double smallest) {
  GEOSGeometry* shell = makeRing(ctx, piece.shell.polyline, centre);
  std::vector<GEOSGeometry*> holes;
  holes.reserve(piece.holes.size());
  for (const offset::BoundaryRing& h : piece.holes)
    if (-h.area >= smallest) holes.push_back(makeRing(ctx, h.polyline, centre));
  GEOSGeometry* g = GEOSGeom_createPolygon_r(ctx, shell, holes.data(), static_cast<unsigned int>(holes.size()));
  if (!g) geos::fail("cannot make an offset piece");
  return Polygon(g);
}

// The shape of all pieces: the one piece, or a multipolygon of copies.
Polygon wholeShape(GEOSContextHandle_t ctx, const std::vector<OffsetPiece>& pieces) {
  if (pieces.empty()) return Polygon();
  if (pieces.size() == 1) return pieces.front().shape;
  std::vector<GEOSGeometry*> parts;
  parts.reserve(pieces.size());
  for (const OffsetPiece& p : pieces) {
    GEOSGeometry* copy = GEOSGeom_clone_r(ctx, p.shape.handle());
    if (!copy) geos::fail("cannot copy an offset piece");
    parts.push_back(copy);
  }
  GEOSGeometry* g =
      GEOSGeom_createCollection_r(ctx, GEOS_MULTIPOLYGON, parts.data(), static_cast<unsigned int>(parts.size()));
  if (!g) geos::fail("cannot make the offset shape");
  return Polygon(g);
}

double areaOf(GEOSContextHandle_t ctx, const GEOSGeometry* g) {
  double a = 0;
  if (!GEOSArea_r(ctx, g, &a)) geos::fail("cannot measure the area");
  return a;
}

// The engine's polygonal buffer, split into pieces: the last resort.
void engineBuffer(GEOSContextHandle_t ctx, const GEOSGeometry* g, double distance, Offset& out) {
  Polygon whole(GEOSBuffer_r(ctx, g, -distance, 64));
  if (!whole.handle()) geos::fail("cannot buffer the shape");
  for (Polygon& part : whole.exteriorParts()) {
    const double a = part.area();
    out.pieces.push_back({std::move(part), a});
  }
  out.exact = false;
}

}  // namespace

Offset inwardOffset(const Polygon& patch, double distance) {
  if (!std::isfinite(distance)) throw HostError("the offset distance is not a finite number");
  GEOSContextHandle_t ctx = geos::context();
  Offset out;
  const GEOSGeometry* g = patch.handle();
  if (GEOSisEmpty_r(ctx, g)) return out;

  Owned repaired(nullptr, GeometryDeleter{ctx});
  const char valid = GEOSisValid_r(ctx, g);
  if (valid == 2) geos::fail("cannot test whether a patch is valid");
  if (valid == 0) {
    repaired.reset(GEOSMakeValid_r(ctx, g));
    if (!repaired) geos::fail("cannot repair an invalid patch");
    g = repaired.get();
  }
  const double patchArea = areaOf(ctx, g);

  if (distance == 0) {
    Polygon shape = repaired ? Polygon(GEOSGeom_clone_r(ctx, g)) : patch;
    for (Polygon& part : shape.exteriorParts()) {
      const double a = part.area();
      if (a > kSmallestPiece * patchArea) out.pieces.push_back({std::move(part), a});
    }
  } else {
    const Rings rings = readRings(ctx, g);
    const double d = std::abs(distance);
    // The nudge resolves exact touching (see BoundaryOffset.h). It must stay
    // far above the rounding of the map coordinates the shapes are written
    // in, or gaps it opens close again. It changes the area by the boundary
    // length times the nudge, about 1e-9 relative, and is not added back:
    // the area stays that of the shape drawn.
    // (Inward the gaps it opens are far wider than the nudge; outward they
    // are twice the nudge.)
    const double magnitude = std::max(std::abs(rings.centre.x), std::abs(rings.centre.y)) + rings.extent;
    double nudge = std::max({1e-9 * d, 1e-12 * rings.extent, distance > 0 ? 0.0 : 1e-15 * magnitude});
    offset::BoundaryOffset result;
    for (int attempt = 0; attempt < 3; ++attempt, nudge *= 16) {
      result = offset::offsetBoundary(rings.parts, d, distance > 0, nudge);
      if (result.resolved) break;
    }
    if (!result.resolved) {
      engineBuffer(ctx, g, distance, out);
    } else {
      // Where arcs nearly touch, the equal-area chains may cross each other;
      // then the patch is drawn again with chords on the circles, and each
      // piece's area is that of its drawing (within 1e-7 of the exact one),
      // so that a shape's area stays the area given for it.
      const double smallest = kSmallestPiece * patchArea;
      bool redraw = false;
      for (const offset::BoundaryPiece& piece : result.pieces) {
        if (piece.area < smallest) continue;
        double area = piece.area;
        for (const offset::BoundaryRing& h : piece.holes)
          if (-h.area < smallest) area -= h.area;
        out.pieces.push_back({makePiece(ctx, piece, rings.centre, smallest), area});
        redraw = redraw || GEOSisValid_r(ctx, out.pieces.back().shape.handle()) != 1;
      }
      if (redraw) {
        out.pieces.clear();
        result = offset::offsetBoundary(rings.parts, d, distance > 0, nudge, offset::Drawing::kChords);
        for (const offset::BoundaryPiece& piece : result.pieces) {
          if (piece.area < smallest) continue;
          Polygon shape = makePiece(ctx, piece, rings.centre, smallest);
          const double a = shape.area();
          out.pieces.push_back({std::move(shape), a});
        }
      }
    }
  }
  for (const OffsetPiece& p : out.pieces) out.area += p.area;
  out.shape = wholeShape(ctx, out.pieces);
  return out;
}

}  // namespace quilta
