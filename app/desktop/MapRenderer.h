#pragma once
// Draws the layers of a map into an image as one view shows them: each
// patch filled with the symbol of its class, outlined where it is large
// enough for an outline to show, a patch smaller than a pixel as the pixels
// its box touches, and the layer's selection highlighted above. Only what
// the view shows is drawn, with no more vertices than its pixels can show,
// so the cost follows the screen, not the layer.

#include <cstdint>
#include <memory>
#include <vector>

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPolygonF>

#include "map/Classification.h"
#include "map/PatchOutlines.h"

class QPainter;
class QRectF;

namespace quilta {
class PolygonLayer;
}

namespace quilta::desktop {

// One layer as the map draws it.
struct LayerDrawing {
  const PolygonLayer* layer = nullptr;
  std::shared_ptr<const map::PatchOutlines> outlines;
  map::Symbology symbology;
  bool visible = true;
  // The features to highlight (the layer's selection), by identifier.
  std::vector<std::int64_t> selection;
};

QColor toQColor(const map::Rgb& c);
// Paints a legend swatch of `symbol` into `rect`.
void drawSwatch(QPainter& painter, const QRectF& rect, const map::Symbol& symbol);

class MapRenderer {
 public:
  // Draws `layers` (the bottom layer first) into `image` over `background`.
  // The image must have the view's size and a 32-bit format.
  void render(QImage& image, const map::Viewport& view, const std::vector<LayerDrawing>& layers,
              const QColor& background);
  // Appends the rings of a patch to `path` in pixel coordinates.
  static void addPatch(QPainterPath& path, const map::PatchOutlines& outlines, std::size_t patch,
                       const map::Viewport& view);

 private:
  void drawLayer(QPainter& painter, QImage& image, const map::Viewport& view, const LayerDrawing& layer);
  void drawSelection(QPainter& painter, const map::Viewport& view, const LayerDrawing& layer);
  // The rings of one patch in pixels, snapped to a quarter pixel without
  // repeated vertices; false when no ring keeps three vertices.
  bool project(const map::PatchOutlines& outlines, std::size_t patch, const map::Viewport& view);

  map::PatchOutlines::DrawList list_;
  std::vector<QPolygonF> rings_;
  std::size_t ringsUsed_ = 0;
};

}  // namespace quilta::desktop
