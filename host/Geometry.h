#pragma once
// Patch geometry. A patch is one polygon feature of the analysed layer: a
// polygon or a multipolygon (several outer rings), possibly with holes, possibly
// empty. Lengths are in map units, areas in square map units.

#include <memory>
#include <string>
#include <utility>
#include <vector>

// The geometry engine's handle type, kept opaque outside the host layer.
struct GEOSGeom_t;

namespace quilta {

// Threads: isEmpty(), area(), length(), ringCount() and rings() of one shape
// may be asked from several threads at once. The other questions make the
// geometry engine compute and keep bounding boxes inside the shape on first
// use: ask them of one shape from one thread at a time.
class Polygon {
 public:
  // An empty polygon.
  Polygon();

  // Parses well-known text (tests and fixtures). Throws HostError on bad text.
  static Polygon fromWkt(const std::string& wkt);
  std::string toWkt() const;

  bool isEmpty() const;
  // False for a shape that is not a valid polygon: a self-intersecting ring
  // (a bow-tie), a hole outside its shell, overlapping parts. Its area and
  // other measures are still computed, but do not mean what they should.
  bool isValid() const;
  double area() const;
  // Length of the boundary: every ring of every part, holes included.
  double length() const;
  // Shortest distance between the two shapes, 0 when they touch or overlap.
  // Throws HostError when either shape is empty.
  double distance(const Polygon& other) const;
  bool intersects(const Polygon& other) const;
  // The shape grown by `distance` (shrunk when negative); may be empty.
  Polygon buffer(double distance) const;
  // Number of rings: the outer ring and the holes of every part.
  int ringCount() const;
  // One polygon per outer ring, each with the holes that lie inside it.
  std::vector<Polygon> exteriorParts() const;
  // Bounding box; all zeros for an empty shape.
  struct Box {
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
  };
  Box bounds() const;
  // The vertices of every ring, for drawing: for each part its outer ring,
  // then its holes; each ring closed (last vertex equals the first). Empty for
  // an empty shape. Drawn with the even-odd rule the holes stay open.
  using Ring = std::vector<std::pair<double, double>>;
  std::vector<Ring> rings() const;
  // The two points, the first on this shape and the second on `other`, that
  // lie the shortest distance apart (one point twice when the shapes touch
  // or overlap). Throws HostError when either shape is empty.
  std::pair<Ring::value_type, Ring::value_type> nearestPoints(const Polygon& other) const;

  // For the host layer only: wraps (and takes ownership of) an engine
  // geometry, which nobody changes from then on.
  explicit Polygon(GEOSGeom_t* geometry);
  const GEOSGeom_t* handle() const { return geometry_.get(); }

 private:
  std::shared_ptr<GEOSGeom_t> geometry_;
};

}  // namespace quilta
