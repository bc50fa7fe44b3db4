#pragma once
// What part of the map a view shows: a centre in map coordinates and a scale
// in pixels per map unit, north up, over a view of a given size in pixels
// (x to the right, y downwards, the origin at the top left corner).

#include <string>

namespace quilta::map {

struct Point {
  double x = 0, y = 0;
};

// A rectangle in map coordinates; empty when min > max.
struct Box {
  double minX = 1, minY = 1, maxX = 0, maxY = 0;
  bool empty() const { return minX > maxX || minY > maxY; }
  double width() const { return maxX - minX; }
  double height() const { return maxY - minY; }
  bool intersects(const Box& o) const {
    return !empty() && !o.empty() && minX <= o.maxX && o.minX <= maxX && minY <= o.maxY && o.minY <= maxY;
  }
  // The smallest box holding both (an empty box adds nothing).
  Box united(const Box& o) const;
};

class Viewport {
 public:
  // The view's size in pixels.
  void setSize(double width, double height);
  double width() const { return width_; }
  double height() const { return height_; }
  // False until the view was fitted to something.
  bool valid() const { return scale_ > 0; }

  // Shows all of `box` as large as the view allows, centred, `margin` pixels
  // clear of each edge. A box without width or height (one point, one line)
  // still gets a scale.
  void fit(const Box& box, double margin);
  // Magnifies by `factor` (above 1 zooms in) and keeps the map point under
  // the pixel (px, py) under that pixel. The scale stays within the limits.
  void zoomAt(double px, double py, double factor);
  // Moves the map with the pointer: the point under pixel p ends under p + d.
  void pan(double dx, double dy);
  // The scale may not leave [minScale, maxScale] pixels per map unit (a
  // limit of 0 is none).
  void setScaleLimits(double minScale, double maxScale);

  double scale() const { return scale_; }  // pixels per map unit
  Point centre() const { return centre_; }
  Point toMap(double px, double py) const;
  Point toPixel(double x, double y) const;
  // The map rectangle the view shows.
  Box visibleBox() const;

 private:
  double clampScale(double s) const;
  double width_ = 0, height_ = 0;
  Point centre_;
  double scale_ = 0;
  double minScale_ = 0, maxScale_ = 0;
};

// A scale bar: a round length of map units (1, 2 or 5 times a power of ten)
// that is drawn at most `maxPixels` long at `scale` pixels per unit.
struct ScaleBar {
  double length = 0;  // map units
  double pixels = 0;
  std::string label;  // the length and the units, as "500 m"
};
// `unitsCode` names the map units (9 meters, 3 feet, 0 undefined, ...).
ScaleBar scaleBarFor(double scale, double maxPixels, int unitsCode);

// The short name of a units code: "m", "ft", "°", ...; "map units" when
// undefined or unknown.
std::string unitsAbbreviation(int unitsCode);

}  // namespace quilta::map
