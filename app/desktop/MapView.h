#pragma once
// A plain map: every layer of the map's contents drawn from its shapes, the
// top layer last, the selected layer outlined. North up; the selected layer's
// extent in view (all layers' when none is selected), as layers of one map
// may lie far apart.

#include <optional>
#include <vector>

#include <QPainterPath>
#include <QWidget>

namespace quilta {
class MapDocument;
class PolygonLayer;
}  // namespace quilta

namespace quilta::desktop {

class MapView : public QWidget {
 public:
  explicit MapView(MapDocument& document, QWidget* parent = nullptr);
  // Reads the layers' shapes again: after layers were added or changed.
  void reload();
  // The map coordinates under a point of the widget (tests and the status
  // bar); none when nothing is drawn.
  std::optional<QPointF> toMap(const QPointF& widgetPoint) const;
  // The widget point that shows a map coordinate.
  std::optional<QPointF> toWidget(const QPointF& mapPoint) const;

  QSize sizeHint() const override { return {640, 480}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  struct LayerDrawing {
    const PolygonLayer* layer;
    QPainterPath path;
    QRectF bounds;
    std::size_t patches;
  };
  // The map rectangle to show.
  QRectF viewExtent() const;
  std::optional<QTransform> transform() const;

  MapDocument& document_;
  std::vector<LayerDrawing> layers_;  // bottom layer first
  QRectF extent_;
  QString failure_;
};

}  // namespace quilta::desktop
