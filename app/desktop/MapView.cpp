#include "app/desktop/MapView.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include <QPainter>

#include "host/HostApplication.h"

namespace quilta::desktop {
namespace {

constexpr int kMargin = 12;
// Patches smaller than this on screen, on average, are drawn without outline.
constexpr double kMinPatchPixels = 64;

// Fill colours of the layers, from the bottom layer up.
QColor fillColour(int index) {
  static const QColor colours[] = {QColor(0x9c, 0xc5, 0x8a), QColor(0xe8, 0xc1, 0x7a), QColor(0x8f, 0xb8, 0xd8),
                                   QColor(0xd8, 0x9a, 0x9a), QColor(0xb9, 0xa6, 0xd6)};
  return colours[index % 5];
}

}  // namespace

MapView::MapView(MapDocument& document, QWidget* parent) : QWidget(parent), document_(document) {
  setObjectName("mapView");
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, QColor(0xfb, 0xfb, 0xf8));
  setPalette(p);
  setMinimumSize(200, 150);
}

void MapView::reload() {
  layers_.clear();
  extent_ = QRectF();
  failure_.clear();
  FocusMap& map = document_.focusMap();
  for (int i = map.layerCount() - 1; i >= 0; --i) {
    PolygonLayer& layer = *map.layer(i);
    LayerDrawing drawing{&layer, {}, {}, 0};
    drawing.path.setFillRule(Qt::OddEvenFill);
    try {
      for (const Polygon& shape : layer.featureTable().shapes()) {
        if (!shape.isEmpty()) ++drawing.patches;
        for (const auto& ring : shape.rings()) {
          QPolygonF polygon;
          polygon.reserve(static_cast<qsizetype>(ring.size()));
          for (const auto& [x, y] : ring) polygon << QPointF(x, y);
          drawing.path.addPolygon(polygon);
          drawing.path.closeSubpath();
        }
      }
    } catch (const std::exception& e) {
      failure_ = QString::fromStdString(layer.name() + ": " + e.what());
      continue;
    }
    drawing.bounds = drawing.path.boundingRect();
    if (!drawing.path.isEmpty()) extent_ = extent_.isNull() ? drawing.bounds : extent_.united(drawing.bounds);
    layers_.push_back(std::move(drawing));
  }
  update();
}

QRectF MapView::viewExtent() const {
  for (const LayerDrawing& drawing : layers_)
    if (drawing.layer == document_.selectedLayer() && !drawing.path.isEmpty()) return drawing.bounds;
  return extent_;
}

std::optional<QTransform> MapView::transform() const {
  const QRectF extent = viewExtent();
  if (extent.isNull()) return std::nullopt;
  const QRectF area = QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin);
  if (area.width() <= 0 || area.height() <= 0) return std::nullopt;
  // A single point or a line still gets a scale.
  const double w = std::max(extent.width(), 1e-9), h = std::max(extent.height(), 1e-9);
  const double scale = std::min(area.width() / w, area.height() / h);
  QTransform t;
  t.translate(area.center().x(), area.center().y());
  t.scale(scale, -scale);
  t.translate(-extent.center().x(), -extent.center().y());
  return t;
}

std::optional<QPointF> MapView::toMap(const QPointF& widgetPoint) const {
  auto t = transform();
  if (!t) return std::nullopt;
  return t->inverted().map(widgetPoint);
}

std::optional<QPointF> MapView::toWidget(const QPointF& mapPoint) const {
  auto t = transform();
  if (!t) return std::nullopt;
  return t->map(mapPoint);
}

void MapView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  auto t = transform();
  if (!t) {
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const QString hint = failure_.isEmpty() ? QStringLiteral("No layers: add a shapefile with File > Add Layer.")
                                            : QStringLiteral("The layer cannot be drawn: ") + failure_;
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, hint);
    return;
  }
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setTransform(*t);
  // Fills and outlines bottom up; each layer keeps the colour of its place
  // in the order the layers were added. Patches of a few pixels show as
  // their fill alone: outlines would cover them.
  const double scale = std::abs(t->m11());
  auto outlined = [scale](const LayerDrawing& d) {
    return d.patches > 0 &&
           d.bounds.width() * d.bounds.height() * scale * scale / static_cast<double>(d.patches) >= kMinPatchPixels;
  };
  const QPen thin(QColor(0x55, 0x55, 0x55), 0);  // width 0: one pixel at any scale
  for (std::size_t i = 0; i < layers_.size(); ++i) {
    painter.setPen(outlined(layers_[i]) ? thin : QPen(Qt::NoPen));
    painter.setBrush(fillColour(static_cast<int>(i)));
    painter.drawPath(layers_[i].path);
  }
  // The selected layer's outline stays in sight above the layers over it.
  const PolygonLayer* selected = document_.selectedLayer();
  QPen outline(QColor(0x1f, 0x3f, 0x9f), 1.4);
  outline.setCosmetic(true);
  painter.setPen(outline);
  painter.setBrush(Qt::NoBrush);
  for (const LayerDrawing& drawing : layers_)
    if (drawing.layer == selected && outlined(drawing)) painter.drawPath(drawing.path);
}

}  // namespace quilta::desktop
