#include "map/Viewport.h"

#include <algorithm>
#include <cmath>

#include "host/PolygonLayer.h"
#include "session/NumberText.h"

namespace quilta::map {

Box Box::united(const Box& o) const {
  if (empty()) return o;
  if (o.empty()) return *this;
  return Box{std::min(minX, o.minX), std::min(minY, o.minY), std::max(maxX, o.maxX), std::max(maxY, o.maxY)};
}

void Viewport::setSize(double width, double height) {
  width_ = std::max(width, 0.0);
  height_ = std::max(height, 0.0);
}

double Viewport::clampScale(double s) const {
  if (maxScale_ > 0) s = std::min(s, maxScale_);
  if (minScale_ > 0) s = std::max(s, minScale_);
  return s;
}

void Viewport::setScaleLimits(double minScale, double maxScale) {
  minScale_ = minScale;
  maxScale_ = maxScale;
  if (valid()) scale_ = clampScale(scale_);
}

void Viewport::fit(const Box& box, double margin) {
  if (box.empty()) return;
  const double w = std::max(width_ - 2 * margin, 1.0), h = std::max(height_ - 2 * margin, 1.0);
  // A box of no extent in one direction is fitted by the other; a point
  // gets a scale that shows a unit square.
  const double bw = box.width(), bh = box.height();
  double s = 0;
  if (bw > 0 && bh > 0)
    s = std::min(w / bw, h / bh);
  else if (bw > 0)
    s = w / bw;
  else if (bh > 0)
    s = h / bh;
  else
    s = std::min(w, h);
  scale_ = clampScale(s);
  centre_ = Point{0.5 * (box.minX + box.maxX), 0.5 * (box.minY + box.maxY)};
}

void Viewport::zoomAt(double px, double py, double factor) {
  if (!valid() || !(factor > 0)) return;
  const Point anchor = toMap(px, py);
  scale_ = clampScale(scale_ * factor);
  // The anchor stays under the pixel: solve toPixel(anchor) == (px, py).
  centre_.x = anchor.x - (px - 0.5 * width_) / scale_;
  centre_.y = anchor.y + (py - 0.5 * height_) / scale_;
}

void Viewport::pan(double dx, double dy) {
  if (!valid()) return;
  centre_.x -= dx / scale_;
  centre_.y += dy / scale_;
}

Point Viewport::toMap(double px, double py) const {
  return Point{centre_.x + (px - 0.5 * width_) / scale_, centre_.y - (py - 0.5 * height_) / scale_};
}

Point Viewport::toPixel(double x, double y) const {
  return Point{0.5 * width_ + (x - centre_.x) * scale_, 0.5 * height_ - (y - centre_.y) * scale_};
}

Box Viewport::visibleBox() const {
  if (!valid()) return {};
  const Point a = toMap(0, height_), b = toMap(width_, 0);
  return Box{a.x, a.y, b.x, b.y};
}

ScaleBar scaleBarFor(double scale, double maxPixels, int unitsCode) {
  ScaleBar bar;
  if (!(scale > 0) || !(maxPixels > 0)) return bar;
  const double most = maxPixels / scale;  // the longest length that fits
  double power = std::pow(10.0, std::floor(std::log10(most)));
  double length = power;
  for (double step : {5.0, 2.0, 1.0})
    if (step * power <= most) {
      length = step * power;
      break;
    }
  bar.length = length;
  bar.pixels = length * scale;
  bar.label = text::general(length) + " " + unitsAbbreviation(unitsCode);
  return bar;
}

std::string unitsAbbreviation(int unitsCode) {
  switch (unitsCode) {
    case kInches: return "in";
    case kFeet: return "ft";
    case kYards: return "yd";
    case kMiles: return "mi";
    case kMillimeters: return "mm";
    case kCentimeters: return "cm";
    case kMeters: return "m";
    case kKilometers: return "km";
    case kDecimalDegrees: return "\u00b0";
    default: return "map units";
  }
}

}  // namespace quilta::map
