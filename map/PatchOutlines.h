#pragma once
// The outlines of a layer's patches in the compact form the map draws from:
// every ring's vertices in one array, relative to the layer's lower left
// corner in single precision (a millimetre over a thousand kilometres), with
// each patch's bounding box. Read once from the shapes; the map then picks
// what a view shows without touching the geometry engine.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "map/Viewport.h"

namespace quilta {
class Polygon;
}

namespace quilta::map {

class PatchOutlines {
 public:
  PatchOutlines() = default;
  // Patch i is shapes[i] (the feature with object identifier i); an empty
  // shape is a patch without outline. Throws HostError when a shape cannot be
  // read.
  explicit PatchOutlines(const std::vector<Polygon>& shapes);

  std::size_t size() const { return firstRing_.empty() ? 0 : firstRing_.size() - 1; }
  // The box around every patch; empty when no patch has an outline.
  const Box& extent() const { return extent_; }
  // The map point every vertex is stored relative to.
  Point origin() const { return origin_; }
  Box bounds(std::size_t patch) const;
  bool hasOutline(std::size_t patch) const { return ringCount(patch) > 0; }

  // Rings of a patch: each part's outer ring, then its holes; every ring
  // closed. Drawn with the even-odd rule, holes stay open.
  std::size_t ringCount(std::size_t patch) const { return firstRing_[patch + 1] - firstRing_[patch]; }
  // Vertex j of ring r of a patch is (xy[2j], xy[2j+1]) relative to origin().
  struct Ring {
    const float* xy;
    std::size_t count;
  };
  Ring ring(std::size_t patch, std::size_t r) const;

  // What a view shows of the patches, and how each is drawn.
  struct DrawList {
    std::vector<std::uint32_t> outlines;  // drawn as polygons
    std::vector<std::uint32_t> dots;      // smaller than a pixel both ways: the pixels their box touches
  };
  // Every patch whose box meets the view (by a pixel's margin), in ascending
  // identifier order within each list, so later patches draw over earlier
  // ones as the table orders them.
  void select(const Viewport& view, DrawList& out) const;

 private:
  struct PatchBox {
    float minX, minY, maxX, maxY;  // relative to origin_
  };
  Point origin_;
  Box extent_;
  std::vector<float> xy_;
  std::vector<std::uint32_t> ringStart_;  // first vertex of each ring; one past the last at the end
  std::vector<std::uint32_t> firstRing_;  // first ring of each patch; the ring count at the end
  std::vector<PatchBox> boxes_;
};

}  // namespace quilta::map
