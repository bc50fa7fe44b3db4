#pragma once
// The map: every layer of the map's contents drawn with its style, the top
// layer last, the layers' selections highlighted, and the patch the user
// identified outlined with its recorded nearest neighbour and the line
// between them. North up.
//
// Navigation: the mouse wheel zooms about the cursor, dragging pans, and the
// view zooms to a layer or to a selection on request. The drawing is kept in
// an image and made again only when the view or what it shows changed, so
// repainting (a window passing over it, a drag) costs a copy.

#include <memory>
#include <optional>
#include <vector>

#include <QImage>
#include <QWidget>

#include "app/desktop/MapRenderer.h"
#include "map/Identify.h"
#include "map/Viewport.h"

namespace quilta {
class MapDocument;
class PolygonLayer;
}  // namespace quilta

namespace quilta::desktop {

class MapView : public QWidget {
  Q_OBJECT

 public:
  explicit MapView(MapDocument& document, QWidget* parent = nullptr);

  // Reads the layers of the map again: the outlines of layers new to the
  // view (a layer's shapes are read once), and the selections. The first
  // layers shown are fitted into the view; a new layer wholly outside the
  // view is zoomed to.
  void reload();
  // The classes that draw a layer (its legend); until set, one colour.
  void setSymbology(const PolygonLayer* layer, map::Symbology symbology);
  const map::Symbology* symbology(const PolygonLayer* layer) const;
  void setLayerVisible(const PolygonLayer* layer, bool visible);
  // False for a hidden layer and one the view does not draw.
  bool layerVisible(const PolygonLayer* layer) const;
  // The colour a layer takes in a single-colour style: one per layer, in
  // the order the layers first came into view.
  map::Rgb singleColour(const PolygonLayer* layer) const;
  // The outlines the view draws a layer from, or null.
  const map::PatchOutlines* outlines(const PolygonLayer* layer) const;

  // The patch the user identified, with its recorded neighbour; none
  // clears the highlight.
  struct Highlight {
    const PolygonLayer* layer = nullptr;
    std::int64_t patch = -1;
    std::optional<map::NeighbourLink> neighbour;
  };
  void setHighlight(std::optional<Highlight> highlight);
  const std::optional<Highlight>& highlight() const { return highlight_; }

  // Shows the whole layer; false when it has nothing to show.
  bool zoomToLayer(const PolygonLayer* layer);
  // Shows every selected feature of the layer; false when none is selected.
  bool zoomToSelection(PolygonLayer* layer);
  // Zooms by `factor` about a widget point (above 1 zooms in).
  void zoomAt(const QPointF& widgetPoint, double factor);

  const map::Viewport& viewport() const;
  // The map coordinates under a point of the widget; none when nothing is
  // drawn.
  std::optional<QPointF> toMap(const QPointF& widgetPoint) const;
  // The widget point that shows a map coordinate.
  std::optional<QPointF> toWidget(const QPointF& mapPoint) const;

  // The map as shown, with the legend of the visible layers beside it and
  // the scale bar: the image File > Export Map Image writes.
  QImage exportImage() const;
  // Seconds the last drawing of the layers took (the status bar shows it).
  double lastDrawSeconds() const { return lastDrawSeconds_; }

  QSize sizeHint() const override { return {640, 480}; }

 signals:
  // A click (not a drag) on the map, in map coordinates.
  void clicked(QPointF mapPoint);
  // The pointer moved over the map, in map coordinates.
  void pointerMoved(QPointF mapPoint);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  LayerDrawing* drawing(const PolygonLayer* layer);
  const LayerDrawing* drawing(const PolygonLayer* layer) const;
  map::Box contentsExtent() const;
  // Fits the view when it has never been placed; sets its size. Called
  // before anything uses the transform.
  void placeView() const;
  void invalidate();
  // Draws the layers into the cache when it is out of date.
  void drawCache() const;
  void drawOverlays(QPainter& painter) const;
  void drawScaleBar(QPainter& painter, const QRect& area) const;
  QString failureText() const;

  MapDocument& document_;
  std::vector<LayerDrawing> layers_;  // bottom layer first
  std::vector<const PolygonLayer*> known_;  // every layer ever shown, for its colour
  QString failure_;
  std::optional<Highlight> highlight_;

  mutable map::Viewport view_;
  mutable std::optional<map::Box> pendingFit_;  // fitted once the widget has its size
  mutable map::Box fitted_;                      // what the view was last fitted to
  bool userPlaced_ = false;                      // zoomed or panned by the user
  mutable MapRenderer renderer_;
  mutable QImage cache_;
  mutable bool cacheValid_ = false;
  mutable double lastDrawSeconds_ = 0;

  // Dragging: where the button went down, how far the map has been pulled.
  std::optional<QPointF> pressed_;
  QPointF dragOffset_;
  bool dragging_ = false;
};

}  // namespace quilta::desktop
