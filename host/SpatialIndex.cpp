#include "host/SpatialIndex.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <numeric>
#include <string>

#include "host/FeatureTable.h"
#include "host/Geometry.h"
#include "host/GeosContext.h"
#include "host/HostError.h"
#include "host/WorkerPool.h"

// The distance arithmetic below must round exactly as the geometry engine's
// own segment distance does, so that equal distances stay equal and the
// nearest-neighbour ties fall the same way as in Polygon::distance. This file
// is therefore compiled without contracting a*b+c into fused multiply-adds
// (see host/CMakeLists.txt).

namespace quilta {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// Entries per tree node.
constexpr std::size_t kFanout = 16;

struct Pt {
  double x, y;
};

bool operator==(const Pt& a, const Pt& b) { return a.x == b.x && a.y == b.y; }

struct Box {
  double minX = kInf, minY = kInf, maxX = -kInf, maxY = -kInf;
  void add(const Pt& p) {
    minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
  }
  void add(const Box& b) {
    minX = std::min(minX, b.minX), maxX = std::max(maxX, b.maxX);
    minY = std::min(minY, b.minY), maxY = std::max(maxY, b.maxY);
  }
  bool contains(const Pt& p) const { return p.x >= minX && p.x <= maxX && p.y >= minY && p.y <= maxY; }
  double centreX() const { return 0.5 * (minX + maxX); }
  double centreY() const { return 0.5 * (minY + maxY); }
};

[[gnu::always_inline]] inline Box segmentBox(const Pt& a, const Pt& b) {
  return Box{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

// Gap between two intervals (0 when they overlap).
[[gnu::always_inline]] inline double gap(double aMin, double aMax, double bMin, double bMax) {
  if (bMin > aMax) return bMin - aMax;
  if (aMin > bMax) return aMin - bMax;
  return 0.0;
}

[[gnu::always_inline]] inline double boxDistance2(const Box& a, const Box& b) {
  const double dx = gap(a.minX, a.maxX, b.minX, b.maxX);
  const double dy = gap(a.minY, a.maxY, b.minY, b.maxY);
  return dx * dx + dy * dy;
}

[[gnu::always_inline]] inline bool boxesMeet(const Box& a, const Box& b) {
  return a.minX <= b.maxX && b.minX <= a.maxX && a.minY <= b.maxY && b.minY <= a.maxY;
}

// --- Exact predicates --------------------------------------------------------

constexpr int kDoubtful = 2;

// Side of c relative to the directed line a->b: 1 left, -1 right, 0 on it;
// kDoubtful when rounding could have changed the sign. The error bound is the
// classic one for this evaluation order (Shewchuk's orient2d, stage A), so a
// sign that is returned is the sign of the exact determinant.
int orientation(const Pt& a, const Pt& b, const Pt& c) {
  const double detLeft = (a.x - c.x) * (b.y - c.y);
  const double detRight = (a.y - c.y) * (b.x - c.x);
  const double det = detLeft - detRight;
  auto sign = [](double v) { return v > 0 ? 1 : (v < 0 ? -1 : 0); };
  double detSum = 0;
  if (detLeft > 0) {
    if (detRight <= 0) return sign(det);
    detSum = detLeft + detRight;
  } else if (detLeft < 0) {
    if (detRight >= 0) return sign(det);
    detSum = -detLeft - detRight;
  } else {
    return sign(det);
  }
  const double bound = 3.3306690738754716e-16 * detSum;
  if (det >= bound || -det >= bound) return sign(det);
  return kDoubtful;
}

enum class Location { Interior, Boundary, Exterior, Doubtful };

// Where p lies relative to a closed ring, by counting the ring's crossings of
// the ray from p towards +x (edges that touch the ray at their lower end do
// not count), with exact boundary detection.
Location locateInRing(const Pt& p, const Pt* ring, std::size_t count) {
  std::size_t crossings = 0;
  for (std::size_t i = 1; i < count; ++i) {
    const Pt& p1 = ring[i];
    const Pt& p2 = ring[i - 1];
    if (p1.x < p.x && p2.x < p.x) continue;
    if (p == p2) return Location::Boundary;
    if (p1.y == p.y && p2.y == p.y) {
      if (p.x >= std::min(p1.x, p2.x) && p.x <= std::max(p1.x, p2.x)) return Location::Boundary;
      continue;
    }
    if ((p1.y > p.y && p2.y <= p.y) || (p2.y > p.y && p1.y <= p.y)) {
      int side = orientation(p1, p2, p);
      if (side == kDoubtful) return Location::Doubtful;
      if (side == 0) return Location::Boundary;
      if (p2.y < p1.y) side = -side;
      if (side > 0) ++crossings;
    }
  }
  return crossings % 2 == 1 ? Location::Interior : Location::Exterior;
}

// Whether the closed segments ab and cd share a point; kDoubtful when a
// rounding-sensitive orientation decides it.
int segmentsMeet(const Pt& a, const Pt& b, const Pt& c, const Pt& d) {
  const int o1 = orientation(a, b, c), o2 = orientation(a, b, d);
  const int o3 = orientation(c, d, a), o4 = orientation(c, d, b);
  if (o1 == kDoubtful || o2 == kDoubtful || o3 == kDoubtful || o4 == kDoubtful) return kDoubtful;
  if (o1 * o2 < 0 && o3 * o4 < 0) return 1;
  const Box ab = segmentBox(a, b), cd = segmentBox(c, d);
  if ((o1 == 0 && ab.contains(c)) || (o2 == 0 && ab.contains(d)) || (o3 == 0 && cd.contains(a)) ||
      (o4 == 0 && cd.contains(b)))
    return 1;
  return 0;
}

// --- Distance arithmetic -----------------------------------------------------
// The three functions below evaluate the same expressions in the same order as
// the geometry engine's point and segment distances, so that they give the same
// doubles.

double pointDistance(const Pt& p, const Pt& q) {
  const double dx = p.x - q.x;
  const double dy = p.y - q.y;
  return std::sqrt(dx * dx + dy * dy);
}

double pointToSegment(const Pt& p, const Pt& A, const Pt& B) {
  if (A == B) return pointDistance(p, A);
  const double r =
      ((p.x - A.x) * (B.x - A.x) + (p.y - A.y) * (B.y - A.y)) / ((B.x - A.x) * (B.x - A.x) + (B.y - A.y) * (B.y - A.y));
  if (r <= 0.0) return pointDistance(p, A);
  if (r >= 1.0) return pointDistance(p, B);
  const double s =
      ((A.y - p.y) * (B.x - A.x) - (A.x - p.x) * (B.y - A.y)) / ((B.x - A.x) * (B.x - A.x) + (B.y - A.y) * (B.y - A.y));
  return std::fabs(s) * std::sqrt(((B.x - A.x) * (B.x - A.x) + (B.y - A.y) * (B.y - A.y)));
}

bool segmentBoxesMeet(const Pt& p1, const Pt& p2, const Pt& q1, const Pt& q2) {
  double minq = std::min(q1.x, q2.x), maxq = std::max(q1.x, q2.x);
  double minp = std::min(p1.x, p2.x), maxp = std::max(p1.x, p2.x);
  if (minp > maxq || maxp < minq) return false;
  minq = std::min(q1.y, q2.y), maxq = std::max(q1.y, q2.y);
  minp = std::min(p1.y, p2.y), maxp = std::max(p1.y, p2.y);
  return !(minp > maxq || maxp < minq);
}

double segmentToSegment(const Pt& A, const Pt& B, const Pt& C, const Pt& D) {
  if (A == B) return pointToSegment(A, C, D);
  if (C == D) return pointToSegment(D, A, B);
  bool noIntersection = false;
  if (!segmentBoxesMeet(A, B, C, D)) {
    noIntersection = true;
  } else {
    const double denom = (B.x - A.x) * (D.y - C.y) - (B.y - A.y) * (D.x - C.x);
    if (denom == 0) {
      noIntersection = true;
    } else {
      const double rNum = (A.y - C.y) * (D.x - C.x) - (A.x - C.x) * (D.y - C.y);
      const double sNum = (A.y - C.y) * (B.x - A.x) - (A.x - C.x) * (B.y - A.y);
      const double s = sNum / denom;
      const double r = rNum / denom;
      if (r < 0 || r > 1 || s < 0 || s > 1) noIntersection = true;
    }
  }
  if (noIntersection)
    return std::min(pointToSegment(A, C, D),
                    std::min(pointToSegment(B, C, D), std::min(pointToSegment(C, A, B), pointToSegment(D, A, B))));
  return 0.0;
}

}  // namespace

// --- The index ---------------------------------------------------------------

struct SpatialIndex::Impl {
  struct Ring {
    std::size_t first = 0, count = 0;  // points[first .. first+count), closed
    Box box;
  };
  struct Part {
    std::size_t firstRing = 0, ringCount = 0;  // the shell, then the holes
    Box box;
  };
  struct Shape {
    const Polygon* polygon = nullptr;
    std::size_t firstPart = 0, partCount = 0;
    std::size_t firstRing = 0, ringEnd = 0;  // the rings of every part
    Box box;
    bool measurable = false;
    // Not made of polygons only (or holding empty parts): every question about
    // it goes to the geometry engine.
    bool engineOnly = false;
  };
  // One tree entry: a member (level 0) or a node over entries [first, last) of
  // the level below. minMember is the lowest member position underneath.
  struct Entry {
    Box box;
    std::size_t first = 0, last = 0;
    std::size_t minMember = 0;
  };

  std::vector<Pt> points;
  std::vector<Ring> rings;
  std::vector<Part> parts;
  std::vector<Shape> shapes;
  std::vector<std::vector<Entry>> levels;  // levels.back() is the root level
  // Slack for comparing box distances with shape distances: far above the
  // rounding error of either, far below any distance that matters.
  double slack = 0;

  // Scratch space of the construction.
  std::vector<double> buffer;

  explicit Impl(const std::vector<const Polygon*>& polygons);
  void addShape(const Polygon* polygon);
  bool addGeometry(const GEOSGeometry* g);
  bool addPolygon(const GEOSGeometry* g);
  bool addRing(const GEOSGeometry* ring, Box& box);
  void buildTree();

  template <class Accept, class Visit>
  void search(Accept accept, Visit visit) const;

  double measure(std::size_t a, std::size_t b, double limit, bool settleEarly) const;
  int containment(const Shape& inner, const Shape& outer) const;
  // Calls `visit` with every member whose bounding box lies within
  // `maxDistance` of `member`'s (nothing when `member` is not measurable or
  // the distance is negative).
  template <class Visit>
  void candidatesWithin(std::size_t member, double maxDistance, Visit&& visit) const;
  // Whether `p` lies in or on `shape`: 1 yes, 0 no, kDoubtful undecided.
  int pointInShape(const Pt& p, const Shape& shape) const;
  Location locateInPart(const Pt& p, const Part& part) const;
  bool meet(std::size_t a, std::size_t b) const;
  double engineDistance(std::size_t a, std::size_t b) const;
  bool engineIntersects(std::size_t a, std::size_t b) const;
  const Pt* ringPoints(const Ring& r) const { return points.data() + r.first; }
};

SpatialIndex::Impl::Impl(const std::vector<const Polygon*>& polygons) {
  shapes.reserve(polygons.size());
  for (const Polygon* p : polygons) addShape(p);
  double magnitude = 1.0;
  for (const Shape& s : shapes)
    if (s.measurable)
      magnitude = std::max(
          {magnitude, std::fabs(s.box.minX), std::fabs(s.box.maxX), std::fabs(s.box.minY), std::fabs(s.box.maxY)});
  slack = 1e-10 * magnitude;
  buildTree();
}

void SpatialIndex::Impl::addShape(const Polygon* polygon) {
  Shape shape;
  shape.polygon = polygon;
  if (!polygon || polygon->isEmpty()) {
    shapes.push_back(shape);
    return;
  }
  shape.measurable = true;
  shape.firstPart = parts.size();
  shape.firstRing = rings.size();
  const std::size_t pointMark = points.size(), ringMark = rings.size();
  if (addGeometry(polygon->handle())) {
    shape.partCount = parts.size() - shape.firstPart;
    shape.ringEnd = rings.size();
    for (std::size_t i = shape.firstPart; i < parts.size(); ++i) shape.box.add(parts[i].box);
  } else {
    points.resize(pointMark), rings.resize(ringMark), parts.resize(shape.firstPart);
    shape.engineOnly = true;
    shape.partCount = 0;
    shape.ringEnd = shape.firstRing;
    Polygon::Box b = polygon->bounds();
    shape.box = Box{b.minX, b.minY, b.maxX, b.maxY};
  }
  shapes.push_back(shape);
}

bool SpatialIndex::Impl::addGeometry(const GEOSGeometry* g) {
  auto ctx = geos::context();
  switch (GEOSGeomTypeId_r(ctx, g)) {
    case GEOS_POLYGON:
      return addPolygon(g);
    case GEOS_MULTIPOLYGON:
    case GEOS_GEOMETRYCOLLECTION: {
      const int n = GEOSGetNumGeometries_r(ctx, g);
      for (int i = 0; i < n; ++i)
        if (!addGeometry(GEOSGetGeometryN_r(ctx, g, i))) return false;
      return n > 0;
    }
    default:
      return false;
  }
}

bool SpatialIndex::Impl::addPolygon(const GEOSGeometry* g) {
  auto ctx = geos::context();
  if (GEOSisEmpty_r(ctx, g)) return false;
  Part part;
  part.firstRing = rings.size();
  if (!addRing(GEOSGetExteriorRing_r(ctx, g), part.box)) return false;
  const int holes = GEOSGetNumInteriorRings_r(ctx, g);
  if (holes < 0) return false;
  for (int i = 0; i < holes; ++i) {
    Box ignored;
    if (!addRing(GEOSGetInteriorRingN_r(ctx, g, i), ignored)) return false;
  }
  part.ringCount = rings.size() - part.firstRing;
  parts.push_back(part);
  return true;
}

bool SpatialIndex::Impl::addRing(const GEOSGeometry* ring, Box& box) {
  auto ctx = geos::context();
  if (!ring) return false;
  const GEOSCoordSequence* seq = GEOSGeom_getCoordSeq_r(ctx, ring);
  unsigned int n = 0;
  if (!seq || !GEOSCoordSeq_getSize_r(ctx, seq, &n) || n == 0) return false;
  buffer.resize(2 * static_cast<std::size_t>(n));
  if (!GEOSCoordSeq_copyToBuffer_r(ctx, seq, buffer.data(), 0, 0)) return false;
  Ring r;
  r.first = points.size();
  r.count = n;
  for (std::size_t i = 0; i < n; ++i) {
    Pt p{buffer[2 * i], buffer[2 * i + 1]};
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
    points.push_back(p);
    r.box.add(p);
  }
  box.add(r.box);
  rings.push_back(r);
  return true;
}

// Packs the tree bottom-up. Each level is ordered by sort-tile-recursive
// packing (vertical slices by centre x, each slice by centre y), then cut into
// nodes of kFanout consecutive entries.
void SpatialIndex::Impl::buildTree() {
  std::vector<Entry> level;
  for (std::size_t m = 0; m < shapes.size(); ++m)
    if (shapes[m].measurable) level.push_back(Entry{shapes[m].box, m, m + 1, m});
  if (level.empty()) return;
  for (;;) {
    const std::size_t n = level.size();
    const std::size_t nodes = (n + kFanout - 1) / kFanout;
    const auto slices = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(nodes))));
    const std::size_t perSlice = slices * kFanout;
    std::sort(level.begin(), level.end(),
              [](const Entry& a, const Entry& b) { return a.box.centreX() < b.box.centreX(); });
    for (std::size_t s = 0; s < n; s += perSlice)
      std::sort(level.begin() + static_cast<std::ptrdiff_t>(s),
                level.begin() + static_cast<std::ptrdiff_t>(std::min(n, s + perSlice)),
                [](const Entry& a, const Entry& b) { return a.box.centreY() < b.box.centreY(); });
    levels.push_back(std::move(level));
    const std::vector<Entry>& below = levels.back();
    if (below.size() == 1) break;
    level.clear();
    for (std::size_t s = 0; s < below.size(); s += kFanout) {
      Entry node;
      node.first = s;
      node.last = std::min(below.size(), s + kFanout);
      node.minMember = kNone;
      for (std::size_t i = node.first; i < node.last; ++i) {
        node.box.add(below[i].box);
        node.minMember = std::min(node.minMember, below[i].minMember);
      }
      level.push_back(node);
    }
  }
}

template <class Accept, class Visit>
void SpatialIndex::Impl::search(Accept accept, Visit visit) const {
  if (levels.empty()) return;
  // Each query has its own stack: several threads may query one index.
  std::vector<std::pair<std::size_t, std::size_t>> stack;
  stack.reserve(64);
  const std::size_t top = levels.size() - 1;
  for (std::size_t i = 0; i < levels[top].size(); ++i) stack.emplace_back(top, i);
  while (!stack.empty()) {
    auto [level, index] = stack.back();
    stack.pop_back();
    const Entry& e = levels[level][index];
    if (!accept(e.box)) continue;
    if (level == 0) {
      visit(e.first);
    } else {
      for (std::size_t c = e.first; c < e.last; ++c) stack.emplace_back(level - 1, c);
    }
  }
}

Location SpatialIndex::Impl::locateInPart(const Pt& p, const Part& part) const {
  const Ring& shell = rings[part.firstRing];
  if (!shell.box.contains(p)) return Location::Exterior;
  Location shellLoc = locateInRing(p, ringPoints(shell), shell.count);
  if (shellLoc != Location::Interior) return shellLoc;
  for (std::size_t h = part.firstRing + 1; h < part.firstRing + part.ringCount; ++h) {
    const Ring& hole = rings[h];
    if (!hole.box.contains(p)) continue;
    Location holeLoc = locateInRing(p, ringPoints(hole), hole.count);
    if (holeLoc == Location::Interior) return Location::Exterior;
    if (holeLoc != Location::Exterior) return holeLoc;
  }
  return Location::Interior;
}

// Whether the first point of some ring of `inner` lies in or on `outer`: 1
// yes, 0 no, kDoubtful undecided. These are the points at which the shortest
// distance is known to be 0 before any edge is measured.
int SpatialIndex::Impl::containment(const Shape& inner, const Shape& outer) const {
  bool doubtful = false;
  for (std::size_t ri = inner.firstRing; ri < inner.ringEnd; ++ri) {
    const int in = pointInShape(points[rings[ri].first], outer);
    if (in == 1) return 1;
    doubtful = doubtful || in == kDoubtful;
  }
  return doubtful ? kDoubtful : 0;
}

int SpatialIndex::Impl::pointInShape(const Pt& p, const Shape& shape) const {
  if (!shape.box.contains(p)) return 0;
  bool doubtful = false;
  for (std::size_t qi = shape.firstPart; qi < shape.firstPart + shape.partCount; ++qi) {
    const Location loc = locateInPart(p, parts[qi]);
    if (loc == Location::Doubtful)
      doubtful = true;
    else if (loc != Location::Exterior)
      return 1;
  }
  return doubtful ? kDoubtful : 0;
}

namespace {

// The geometry engine computes bounding boxes of a shape on first use and
// keeps them inside it: two threads asking it about one shape at once would
// race there. The pairs that go to the engine are few; they take turns.
std::mutex& engineTurn() {
  static std::mutex turn;
  return turn;
}

}  // namespace

double SpatialIndex::Impl::engineDistance(std::size_t a, std::size_t b) const {
  const std::lock_guard turn(engineTurn());
  return shapes[a].polygon->distance(*shapes[b].polygon);
}

bool SpatialIndex::Impl::engineIntersects(std::size_t a, std::size_t b) const {
  const std::lock_guard turn(engineTurn());
  try {
    return shapes[a].polygon->intersects(*shapes[b].polygon);
  } catch (const HostError&) {
    // The full topological test gave up (a self-intersecting polygon can make
    // it fail); ask the lighter point and segment test instead.
    auto ctx = geos::context();
    const GEOSPreparedGeometry* prepared = GEOSPrepare_r(ctx, shapes[a].polygon->handle());
    if (!prepared) return false;
    char r = GEOSPreparedIntersects_r(ctx, prepared, shapes[b].polygon->handle());
    GEOSPreparedGeom_destroy_r(ctx, prepared);
    return r == 1;
  }
}

// Shortest distance between members a and b when it is at most `limit`;
// otherwise some value above `limit` (infinity). With `settleEarly` a value
// within the limit may be returned as soon as one is found, not the least.
double SpatialIndex::Impl::measure(std::size_t a, std::size_t b, double limit, bool settleEarly) const {
  const Shape& A = shapes[a];
  const Shape& B = shapes[b];
  auto within = [limit](double d) { return d <= limit ? d : kInf; };
  if (std::sqrt(boxDistance2(A.box, B.box)) > limit + slack) return kInf;
  if (A.engineOnly || B.engineOnly) return within(engineDistance(a, b));

  // A ring's first point inside or on the other shape: the shapes overlap or
  // touch, distance 0.
  int inside = containment(A, B);
  if (inside == 0) inside = containment(B, A);
  if (inside == 1) return within(0.0);
  if (inside == kDoubtful) return within(engineDistance(a, b));

  // Otherwise the least distance between an edge of one and an edge of the
  // other. The closest pair of vertices bounds it from above, which lets the
  // edge pairs whose boxes are further apart than that (or than the limit) be
  // skipped, and settles a question about the limit alone at once.
  double cut = limit + slack;
  double cut2 = cut * cut;
  double closest2 = kInf;
  for (std::size_t ra = A.firstRing; ra < A.ringEnd; ++ra) {
    const Ring& ringA = rings[ra];
    const Pt* pts = ringPoints(ringA);
    for (std::size_t i = 0; i + 1 < ringA.count; ++i) {
      const Pt& p = pts[i];
      const double gx = gap(p.x, p.x, B.box.minX, B.box.maxX), gy = gap(p.y, p.y, B.box.minY, B.box.maxY);
      if (gx * gx + gy * gy > std::min(cut2, closest2)) continue;
      for (std::size_t rb = B.firstRing; rb < B.ringEnd; ++rb) {
        const Ring& ringB = rings[rb];
        const Pt* qts = ringPoints(ringB);
        for (std::size_t j = 0; j + 1 < ringB.count; ++j) {
          const double dx = p.x - qts[j].x, dy = p.y - qts[j].y;
          closest2 = std::min(closest2, dx * dx + dy * dy);
        }
      }
    }
  }
  if (closest2 != kInf) {
    const double closest = std::sqrt(closest2);
    // (With a margin: an edge distance may round a hair above the distance
    // of its end points.)
    if (settleEarly && closest + slack <= limit) return closest;
    cut = std::min(closest, limit) + slack;
    cut2 = cut * cut;
  }
  double best = kInf;
  for (std::size_t ra = A.firstRing; ra < A.ringEnd; ++ra) {
    const Ring& ringA = rings[ra];
    if (boxDistance2(ringA.box, B.box) > cut2) continue;
    const Pt* pts = ringPoints(ringA);
    for (std::size_t rb = B.firstRing; rb < B.ringEnd; ++rb) {
      const Ring& ringB = rings[rb];
      if (boxDistance2(ringA.box, ringB.box) > cut2) continue;
      const Pt* qts = ringPoints(ringB);
      for (std::size_t i = 0; i + 1 < ringA.count; ++i) {
        const Box segA = segmentBox(pts[i], pts[i + 1]);
        if (boxDistance2(segA, ringB.box) > cut2) continue;
        for (std::size_t j = 0; j + 1 < ringB.count; ++j) {
          if (boxDistance2(segA, segmentBox(qts[j], qts[j + 1])) > cut2) continue;
          const double d = segmentToSegment(pts[i], pts[i + 1], qts[j], qts[j + 1]);
          if (d < best) {
            best = d;
            if (best == 0.0 || (settleEarly && best <= limit)) return within(best);
            cut = std::min(best, limit) + slack;
            cut2 = cut * cut;
          }
        }
      }
    }
  }
  return within(best);
}

// Whether members a and b share a point (touch or overlap).
bool SpatialIndex::Impl::meet(std::size_t a, std::size_t b) const {
  const Shape& A = shapes[a];
  const Shape& B = shapes[b];
  if (!A.measurable || !B.measurable || !boxesMeet(A.box, B.box)) return false;
  if (a == b) return true;
  if (A.engineOnly || B.engineOnly) return engineIntersects(a, b);

  auto forRingPairs = [&](auto&& f) -> int {
    for (std::size_t ra = A.firstRing; ra < A.ringEnd; ++ra)
      for (std::size_t rb = B.firstRing; rb < B.ringEnd; ++rb) {
        if (!boxesMeet(rings[ra].box, rings[rb].box)) continue;
        if (int r = f(rings[ra], rings[rb]); r != 0) return r;
      }
    return 0;
  };

  // A shared vertex settles it at once; neighbours in a mosaic share theirs.
  int found = forRingPairs([&](const Ring& ra, const Ring& rb) {
    const Pt* pts = ringPoints(ra);
    const Pt* qts = ringPoints(rb);
    for (std::size_t i = 0; i < ra.count; ++i) {
      if (!rb.box.contains(pts[i])) continue;
      for (std::size_t j = 0; j < rb.count; ++j)
        if (pts[i] == qts[j]) return 1;
    }
    return 0;
  });
  if (found == 1) return true;

  // Boundaries that meet.
  found = forRingPairs([&](const Ring& ra, const Ring& rb) {
    const Pt* pts = ringPoints(ra);
    const Pt* qts = ringPoints(rb);
    for (std::size_t i = 0; i + 1 < ra.count; ++i) {
      const Box segA = segmentBox(pts[i], pts[i + 1]);
      if (!boxesMeet(segA, rb.box)) continue;
      for (std::size_t j = 0; j + 1 < rb.count; ++j) {
        if (!boxesMeet(segA, segmentBox(qts[j], qts[j + 1]))) continue;
        if (int r = segmentsMeet(pts[i], pts[i + 1], qts[j], qts[j + 1]); r != 0) return r;
      }
    }
    return 0;
  });
  if (found == 1) return true;
  if (found == kDoubtful) return engineIntersects(a, b);

  // Disjoint boundaries: a part of one lies inside the other wholly or not at
  // all, so one point of each part tells.
  auto partInside = [&](const Shape& inner, const Shape& outer) {
    bool doubtful = false;
    for (std::size_t pi = inner.firstPart; pi < inner.firstPart + inner.partCount; ++pi) {
      const int in = pointInShape(points[rings[parts[pi].firstRing].first], outer);
      if (in == 1) return 1;
      doubtful = doubtful || in == kDoubtful;
    }
    return doubtful ? kDoubtful : 0;
  };
  int inside = partInside(A, B);
  if (inside == 0) inside = partInside(B, A);
  if (inside == kDoubtful) return engineIntersects(a, b);
  return inside == 1;
}

// --- Public interface ----------------------------------------------------------

namespace {

std::vector<const Polygon*> shapesOf(FeatureTable& table, const std::vector<std::int64_t>& oids) {
  const std::vector<Polygon>& all = table.shapes();
  std::vector<const Polygon*> out;
  out.reserve(oids.size());
  for (std::int64_t oid : oids) {
    if (oid < 0 || static_cast<std::size_t>(oid) >= all.size()) throw HostError("no feature " + std::to_string(oid));
    out.push_back(&all[static_cast<std::size_t>(oid)]);
  }
  return out;
}

}  // namespace

SpatialIndex::SpatialIndex(FeatureTable& table, const std::vector<std::int64_t>& oids)
    : SpatialIndex(shapesOf(table, oids)) {}
SpatialIndex::SpatialIndex(const std::vector<const Polygon*>& shapes) : impl_(std::make_unique<Impl>(shapes)) {}
SpatialIndex::~SpatialIndex() = default;
SpatialIndex::SpatialIndex(SpatialIndex&&) noexcept = default;
SpatialIndex& SpatialIndex::operator=(SpatialIndex&&) noexcept = default;

std::size_t SpatialIndex::size() const { return impl_->shapes.size(); }

bool SpatialIndex::measurable(std::size_t member) const { return impl_->shapes.at(member).measurable; }

std::optional<SpatialIndex::Neighbour> SpatialIndex::nearest(std::size_t member) const {
  const Impl& x = *impl_;
  if (!x.shapes.at(member).measurable || x.levels.empty()) return std::nullopt;
  const Box& query = x.shapes[member].box;

  // Branch and bound, depth first, the children of a node visited in the order
  // of their box distance (a lower bound of the distance of every member below
  // them), so that a close candidate is met early and prunes the rest.
  double best = kInf;
  std::size_t bestMember = kNone;
  // An entry can still matter when it may hold a member closer than the best,
  // or as close and earlier in the set. At distance 0 nothing is closer, so
  // only entries holding an earlier member are worth opening.
  auto hopeless = [&](double bound, std::size_t minMember) {
    return bound > best + x.slack || (best == 0.0 && minMember > bestMember);
  };
  struct Child {
    double bound;
    std::size_t index;
  };
  auto visit = [&](auto&& self, std::size_t level, std::size_t first, std::size_t last) -> void {
    const auto& entries = x.levels[level];
    Child children[kFanout];
    std::size_t n = 0;
    for (std::size_t i = first; i < last; ++i) {
      Child c{std::sqrt(boxDistance2(query, entries[i].box)), i};
      std::size_t at = n++;
      for (; at > 0 && children[at - 1].bound > c.bound; --at) children[at] = children[at - 1];
      children[at] = c;
    }
    for (std::size_t k = 0; k < n; ++k) {
      const auto& e = entries[children[k].index];
      if (hopeless(children[k].bound, e.minMember)) continue;
      if (level > 0) {
        self(self, level - 1, e.first, e.last);
        continue;
      }
      const std::size_t g = e.first;
      if (g == member) continue;
      const double d = x.measure(member, g, best, false);
      if (d < best || (d == best && d != kInf && g < bestMember)) best = d, bestMember = g;
    }
  };
  const std::size_t top = x.levels.size() - 1;
  visit(visit, top, 0, x.levels[top].size());
  if (bestMember == kNone) return std::nullopt;
  return Neighbour{bestMember, best};
}

template <class Visit>
void SpatialIndex::Impl::candidatesWithin(std::size_t member, double maxDistance, Visit&& visit) const {
  if (!shapes.at(member).measurable || !(maxDistance >= 0)) return;
  const Box& query = shapes[member].box;
  const double reach = maxDistance + slack;
  const double reach2 = reach * reach;
  search([&](const Box& b) { return boxDistance2(query, b) <= reach2; }, visit);
}

void SpatialIndex::withinDistance(std::size_t member, double maxDistance, std::vector<Neighbour>& out) const {
  const Impl& x = *impl_;
  out.clear();
  x.candidatesWithin(member, maxDistance, [&](std::size_t g) {
    if (g == member) return out.push_back({g, 0.0});
    const double d = x.measure(member, g, maxDistance, false);
    if (d <= maxDistance) out.push_back({g, d});
  });
  std::sort(out.begin(), out.end(), [](const Neighbour& a, const Neighbour& b) { return a.member < b.member; });
}

void SpatialIndex::withinDistance(std::size_t member, double maxDistance, std::vector<std::size_t>& out) const {
  const Impl& x = *impl_;
  out.clear();
  x.candidatesWithin(member, maxDistance, [&](std::size_t g) {
    if (g == member || x.measure(member, g, maxDistance, true) <= maxDistance) out.push_back(g);
  });
  std::sort(out.begin(), out.end());
}

void SpatialIndex::intersecting(std::size_t member, std::vector<std::size_t>& out) const {
  const Impl& x = *impl_;
  out.clear();
  if (!x.shapes.at(member).measurable) return;
  const Box& query = x.shapes[member].box;
  x.search([&](const Box& b) { return boxesMeet(query, b); },
           [&](std::size_t g) {
             if (x.meet(member, g)) out.push_back(g);
           });
  std::sort(out.begin(), out.end());
}

void SpatialIndex::containing(double x, double y, std::vector<std::size_t>& out) const {
  const Impl& ix = *impl_;
  out.clear();
  const Pt p{x, y};
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  // Undecided by the exact predicates (a point almost exactly on an edge) or
  // not made of polygons: the geometry engine tells.
  auto engineHolds = [&](std::size_t g) {
    const std::lock_guard turn(engineTurn());
    auto ctx = geos::context();
    GEOSGeometry* point = GEOSGeom_createPointFromXY_r(ctx, x, y);
    if (!point) return false;
    const char r = GEOSIntersects_r(ctx, ix.shapes[g].polygon->handle(), point);
    GEOSGeom_destroy_r(ctx, point);
    return r == 1;
  };
  ix.search([&](const Box& b) { return b.contains(p); },
            [&](std::size_t g) {
              const Impl::Shape& shape = ix.shapes[g];
              const int in = shape.engineOnly ? kDoubtful : ix.pointInShape(p, shape);
              if (in == 1 || (in == kDoubtful && engineHolds(g))) out.push_back(g);
            });
  std::sort(out.begin(), out.end());
}

std::optional<std::vector<std::size_t>> SpatialIndex::components(const std::function<bool()>& cancelled,
                                                                 unsigned threads,
                                                                 const std::function<bool()>& waiting) const {
  const Impl& x = *impl_;
  const std::size_t n = x.shapes.size();
  // Union-find whose roots are the lowest position of their group: a union
  // always hangs the higher root under the lower one.
  std::vector<std::size_t> parent(n);
  std::iota(parent.begin(), parent.end(), std::size_t{0});
  auto find = [&](std::size_t m) {
    while (parent[m] != m) {
      parent[m] = parent[parent[m]];
      m = parent[m];
    }
    return m;
  };
  auto unite = [&](std::size_t a, std::size_t b) {
    std::size_t ra = find(a), rb = find(b);
    if (ra < rb)
      parent[rb] = ra;
    else
      parent[ra] = rb;
  };
  auto groups = [&] {
    std::vector<std::size_t> group(n);
    for (std::size_t m = 0; m < n; ++m) group[m] = find(m);
    return group;
  };
  if (threads > 1) {
    // The workers find, for each member, the earlier members it touches; the
    // calling thread joins them in member order. Which pairs are tested
    // differs from one thread, the connections found do not.
    const bool complete = runInOrder(
        threads, n,
        [&](std::size_t m) {
          std::vector<std::size_t> touching;
          if (!x.shapes[m].measurable) return touching;
          const Box& query = x.shapes[m].box;
          x.search([&](const Box& b) { return boxesMeet(query, b); },
                   [&](std::size_t g) {
                     if (g < m && x.meet(m, g)) touching.push_back(g);
                   });
          return touching;
        },
        [&](std::size_t m, std::vector<std::size_t>&& touching) {
          if (cancelled && cancelled()) return false;
          for (std::size_t g : touching) unite(m, g);
          return true;
        },
        [&] { return !(waiting && waiting()); });
    if (!complete) return std::nullopt;
    return groups();
  }
  for (std::size_t m = 0; m < n; ++m) {
    if (cancelled && cancelled()) return std::nullopt;
    if (!x.shapes[m].measurable) continue;
    const Box& query = x.shapes[m].box;
    // Each pair once (the later member of the pair asks), and only when the
    // two are not yet known to be connected.
    x.search([&](const Box& b) { return boxesMeet(query, b); },
             [&](std::size_t g) {
               if (g >= m) return;
               if (find(m) == find(g) || !x.meet(m, g)) return;
               unite(m, g);
             });
  }
  return groups();
}

double SpatialIndex::distance(std::size_t a, std::size_t b) const {
  const Impl& x = *impl_;
  if (!x.shapes.at(a).measurable || !x.shapes.at(b).measurable)
    throw HostError("cannot measure a distance to an empty shape");
  if (a == b) return 0.0;
  return x.measure(a, b, kInf, false);
}

bool SpatialIndex::intersects(std::size_t a, std::size_t b) const {
  impl_->shapes.at(a);
  impl_->shapes.at(b);
  return impl_->meet(a, b);
}

}  // namespace quilta
