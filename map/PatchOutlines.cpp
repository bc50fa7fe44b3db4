#include "map/PatchOutlines.h"

#include <algorithm>
#include <limits>

#include "host/Geometry.h"
#include "host/HostError.h"

namespace quilta::map {

PatchOutlines::PatchOutlines(const std::vector<Polygon>& shapes) {
  std::vector<Polygon::Box> bounds(shapes.size());
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    if (shapes[i].isEmpty()) continue;
    bounds[i] = shapes[i].bounds();
    extent_ = extent_.united(Box{bounds[i].minX, bounds[i].minY, bounds[i].maxX, bounds[i].maxY});
  }
  if (!extent_.empty()) origin_ = Point{extent_.minX, extent_.minY};
  auto rel = [](double v, double o) { return static_cast<float>(v - o); };

  firstRing_.reserve(shapes.size() + 1);
  boxes_.reserve(shapes.size());
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    firstRing_.push_back(static_cast<std::uint32_t>(ringStart_.size()));
    const Polygon::Box& b = bounds[i];
    boxes_.push_back(PatchBox{rel(b.minX, origin_.x), rel(b.minY, origin_.y), rel(b.maxX, origin_.x),
                              rel(b.maxY, origin_.y)});
    if (shapes[i].isEmpty()) continue;
    for (const Polygon::Ring& r : shapes[i].rings()) {
      if (r.empty()) continue;
      if (xy_.size() / 2 + r.size() > std::numeric_limits<std::uint32_t>::max())
        throw HostError("the layer has too many vertices to draw");
      ringStart_.push_back(static_cast<std::uint32_t>(xy_.size() / 2));
      for (const auto& [x, y] : r) {
        xy_.push_back(rel(x, origin_.x));
        xy_.push_back(rel(y, origin_.y));
      }
    }
  }
  firstRing_.push_back(static_cast<std::uint32_t>(ringStart_.size()));
  ringStart_.push_back(static_cast<std::uint32_t>(xy_.size() / 2));
}

Box PatchOutlines::bounds(std::size_t patch) const {
  if (!hasOutline(patch)) return {};
  const PatchBox& b = boxes_[patch];
  return Box{origin_.x + b.minX, origin_.y + b.minY, origin_.x + b.maxX, origin_.y + b.maxY};
}

PatchOutlines::Ring PatchOutlines::ring(std::size_t patch, std::size_t r) const {
  const std::size_t index = firstRing_[patch] + r;
  const std::size_t first = ringStart_[index];
  return Ring{xy_.data() + 2 * first, ringStart_[index + 1] - first};
}

void PatchOutlines::select(const Viewport& view, DrawList& out) const {
  out.outlines.clear();
  out.dots.clear();
  if (!view.valid() || extent_.empty()) return;
  const double scale = view.scale();
  const double margin = 1.0 / scale;
  const Box visible = view.visibleBox();
  const double minX = visible.minX - margin - origin_.x, maxX = visible.maxX + margin - origin_.x;
  const double minY = visible.minY - margin - origin_.y, maxY = visible.maxY + margin - origin_.y;
  // A pixel's width in the units of the stored boxes.
  const double pixel = 1.0 / scale;
  const std::size_t n = size();
  for (std::size_t i = 0; i < n; ++i) {
    if (firstRing_[i + 1] == firstRing_[i]) continue;
    const PatchBox& b = boxes_[i];
    if (b.maxX < minX || b.minX > maxX || b.maxY < minY || b.minY > maxY) continue;
    const bool subPixel = b.maxX - b.minX < pixel && b.maxY - b.minY < pixel;
    (subPixel ? out.dots : out.outlines).push_back(static_cast<std::uint32_t>(i));
  }
}

}  // namespace quilta::map
