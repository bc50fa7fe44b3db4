#include "app/desktop/MapView.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>

#include <QMouseEvent>
#include <QPainter>
#include <QLineF>
#include <QPainterPath>
#include <QResizeEvent>
#include <QWheelEvent>

#include "host/HostApplication.h"

namespace quilta::desktop {
namespace {

constexpr int kMargin = 12;
// A press that moves less than this many pixels is a click, not a drag.
constexpr double kClickSlop = 4;
// Wheel rotation: one notch (120 eighths of a degree) zooms by 1.25.
const double kZoomPerEighth = std::pow(1.25, 1.0 / 120);
// A view shows between a millionth of the map and a thousand maps; beyond
// that, pixel coordinates of the map would leave the painter's range.
constexpr double kMaxZoomIn = 1e6;
constexpr double kMaxZoomOut = 1e-3;

const QColor kBackground(0xfb, 0xfb, 0xf8);
const QColor kHighlight(0xd0, 0x10, 0x10);
const QColor kNeighbour(0x10, 0x30, 0xd0);

QPointF qt(const map::Point& p) { return {p.x, p.y}; }

}  // namespace

MapView::MapView(MapDocument& document, QWidget* parent) : QWidget(parent), document_(document) {
  setObjectName("mapView");
  setAutoFillBackground(false);
  setAttribute(Qt::WA_OpaquePaintEvent);
  QPalette p = palette();
  p.setColor(QPalette::Window, kBackground);
  setPalette(p);
  setMinimumSize(200, 150);
  setMouseTracking(true);
  setCursor(Qt::OpenHandCursor);
}

LayerDrawing* MapView::drawing(const PolygonLayer* layer) {
  for (LayerDrawing& d : layers_)
    if (d.layer == layer) return &d;
  return nullptr;
}

const LayerDrawing* MapView::drawing(const PolygonLayer* layer) const {
  return const_cast<MapView*>(this)->drawing(layer);
}

map::Rgb MapView::singleColour(const PolygonLayer* layer) const {
  auto it = std::find(known_.begin(), known_.end(), layer);
  return map::layerColour(it == known_.end() ? known_.size() : static_cast<std::size_t>(it - known_.begin()));
}

void MapView::reload() {
  failure_.clear();
  std::vector<LayerDrawing> next;
  std::vector<const PolygonLayer*> added;
  FocusMap& map = document_.focusMap();
  for (int i = map.layerCount() - 1; i >= 0; --i) {
    PolygonLayer& layer = *map.layer(i);
    LayerDrawing d;
    if (LayerDrawing* old = drawing(&layer)) {
      d = std::move(*old);
      old->layer = nullptr;  // taken
    } else {
      d.layer = &layer;
      if (std::find(known_.begin(), known_.end(), &layer) == known_.end()) known_.push_back(&layer);
      try {
        d.outlines = std::make_shared<map::PatchOutlines>(layer.featureTable().shapes());
        d.symbology = map::symbolize(layer.featureTable(), map::Style{}, singleColour(&layer));
      } catch (const std::exception& e) {
        failure_ = QString::fromStdString(layer.name() + ": " + e.what());
        continue;
      }
      added.push_back(&layer);
    }
    d.selection = layer.selection().oids();
    next.push_back(std::move(d));
  }
  layers_ = std::move(next);
  if (highlight_ && !drawing(highlight_->layer)) highlight_.reset();

  // Where to look: everything at first; then a new layer only when none of
  // it is in sight.
  const map::Box extent = contentsExtent();
  if (!view_.valid() && !pendingFit_) {
    map::Box first;
    if (const LayerDrawing* selected = drawing(document_.selectedLayer()))
      first = selected->outlines->extent();
    pendingFit_ = first.empty() ? extent : first;
    if (pendingFit_->empty()) pendingFit_.reset();
  } else if (view_.valid()) {
    for (const PolygonLayer* layer : added) {
      const map::Box box = drawing(layer)->outlines->extent();
      if (!box.empty() && !box.intersects(view_.visibleBox())) {
        pendingFit_ = box;
        userPlaced_ = false;
      }
    }
  }
  // Zoom limits around the whole map.
  if (!extent.empty()) {
    const double size = std::max({extent.width(), extent.height(), 1e-9});
    const double pixels = std::max(width(), height());
    view_.setScaleLimits(kMaxZoomOut * pixels / size, kMaxZoomIn * pixels / size);
  }
  invalidate();
}

void MapView::setSymbology(const PolygonLayer* layer, map::Symbology symbology) {
  if (LayerDrawing* d = drawing(layer)) {
    d->symbology = std::move(symbology);
    invalidate();
  }
}

const map::Symbology* MapView::symbology(const PolygonLayer* layer) const {
  const LayerDrawing* d = drawing(layer);
  return d ? &d->symbology : nullptr;
}

bool MapView::layerVisible(const PolygonLayer* layer) const {
  const LayerDrawing* d = drawing(layer);
  return d && d->visible;
}

void MapView::setLayerVisible(const PolygonLayer* layer, bool visible) {
  if (LayerDrawing* d = drawing(layer); d && d->visible != visible) {
    d->visible = visible;
    invalidate();
  }
}

const map::PatchOutlines* MapView::outlines(const PolygonLayer* layer) const {
  const LayerDrawing* d = drawing(layer);
  return d ? d->outlines.get() : nullptr;
}

void MapView::setHighlight(std::optional<Highlight> highlight) {
  highlight_ = std::move(highlight);
  update();
}

map::Box MapView::contentsExtent() const {
  map::Box box;
  for (const LayerDrawing& d : layers_) box = box.united(d.outlines->extent());
  return box;
}

void MapView::placeView() const {
  view_.setSize(width(), height());
  if (pendingFit_ && width() > 0 && height() > 0) {
    view_.fit(*pendingFit_, kMargin);
    fitted_ = *pendingFit_;
    pendingFit_.reset();
    cacheValid_ = false;
  }
}

const map::Viewport& MapView::viewport() const {
  placeView();
  return view_;
}

bool MapView::zoomToLayer(const PolygonLayer* layer) {
  const LayerDrawing* d = drawing(layer);
  if (!d || d->outlines->extent().empty()) return false;
  pendingFit_ = d->outlines->extent();
  userPlaced_ = false;
  invalidate();
  return true;
}

bool MapView::zoomToSelection(PolygonLayer* layer) {
  const LayerDrawing* d = drawing(layer);
  if (!d) return false;
  map::Box box;
  for (std::int64_t oid : layer->selection().oids())
    if (oid >= 0 && static_cast<std::size_t>(oid) < d->outlines->size())
      box = box.united(d->outlines->bounds(static_cast<std::size_t>(oid)));
  if (box.empty()) return false;
  pendingFit_ = box;
  userPlaced_ = false;
  invalidate();
  return true;
}

void MapView::zoomAt(const QPointF& widgetPoint, double factor) {
  placeView();
  if (!view_.valid()) return;
  view_.zoomAt(widgetPoint.x(), widgetPoint.y(), factor);
  userPlaced_ = true;
  invalidate();
}

std::optional<QPointF> MapView::toMap(const QPointF& widgetPoint) const {
  placeView();
  if (!view_.valid() || layers_.empty()) return std::nullopt;
  return qt(view_.toMap(widgetPoint.x(), widgetPoint.y()));
}

std::optional<QPointF> MapView::toWidget(const QPointF& mapPoint) const {
  placeView();
  if (!view_.valid() || layers_.empty()) return std::nullopt;
  return qt(view_.toPixel(mapPoint.x(), mapPoint.y()));
}

void MapView::invalidate() {
  cacheValid_ = false;
  update();
}

void MapView::drawCache() const {
  placeView();
  if (cacheValid_ && cache_.size() == size()) return;
  const auto start = std::chrono::steady_clock::now();
  if (cache_.size() != size()) cache_ = QImage(size(), QImage::Format_ARGB32_Premultiplied);
  renderer_.render(cache_, view_, layers_, kBackground);
  lastDrawSeconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  cacheValid_ = true;
}

QString MapView::failureText() const {
  return failure_.isEmpty() ? QStringLiteral("No layers: add a shapefile with File > Add Layer.")
                            : QStringLiteral("The layer cannot be drawn: ") + failure_;
}

void MapView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  placeView();
  if (!view_.valid() || layers_.empty()) {
    painter.fillRect(rect(), kBackground);
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, failureText());
    return;
  }
  if (dragging_) {
    // While the map is pulled, the last drawing moves with the pointer.
    painter.fillRect(rect(), kBackground);
    painter.drawImage(dragOffset_, cache_);
    return;
  }
  drawCache();
  painter.drawImage(0, 0, cache_);
  drawOverlays(painter);
  if (!failure_.isEmpty()) {
    painter.setPen(Qt::darkRed);
    painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignTop | Qt::AlignLeft | Qt::TextWordWrap, failureText());
  }
}

void MapView::drawOverlays(QPainter& painter) const {
  painter.setRenderHint(QPainter::Antialiasing);
  if (highlight_) {
    const LayerDrawing* d = drawing(highlight_->layer);
    auto outline = [&](std::int64_t oid, const QColor& colour) -> std::optional<QPointF> {
      if (!d || oid < 0 || static_cast<std::size_t>(oid) >= d->outlines->size()) return std::nullopt;
      const auto patch = static_cast<std::size_t>(oid);
      if (!d->outlines->hasOutline(patch)) return std::nullopt;
      const map::Box b = d->outlines->bounds(patch);
      const QPointF centre = qt(view_.toPixel(0.5 * (b.minX + b.maxX), 0.5 * (b.minY + b.maxY)));
      QPen pen(colour, 2.5);
      pen.setCosmetic(true);
      painter.setPen(pen);
      if (b.width() * view_.scale() < 6 && b.height() * view_.scale() < 6) {
        // Too small to see: a ring around it.
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(centre, 7, 7);
        return centre;
      }
      QPainterPath path;
      MapRenderer::addPatch(path, *d->outlines, patch, view_);
      QColor fill = colour;
      fill.setAlpha(70);
      painter.setBrush(fill);
      painter.drawPath(path);
      return centre;
    };
    if (highlight_->neighbour) {
      outline(highlight_->neighbour->oid, kNeighbour);
      // The shortest line between the two, as the analysis measured it; a
      // circle where they touch.
      const QPointF a = qt(view_.toPixel(highlight_->neighbour->from.x, highlight_->neighbour->from.y));
      const QPointF b = qt(view_.toPixel(highlight_->neighbour->to.x, highlight_->neighbour->to.y));
      QPen link(QColor(0x20, 0x20, 0x20), 2);
      link.setCosmetic(true);
      painter.setPen(link);
      painter.setBrush(Qt::white);
      if (QLineF(a, b).length() >= 1) painter.drawLine(a, b);
      painter.drawEllipse(a, 3.5, 3.5);
      painter.drawEllipse(b, 3.5, 3.5);
    }
    outline(highlight_->patch, kHighlight);
  }
  drawScaleBar(painter, rect());
}

void MapView::drawScaleBar(QPainter& painter, const QRect& area) const {
  const map::ScaleBar bar =
      map::scaleBarFor(view_.scale(), std::min(160.0, area.width() / 3.0), document_.focusMap().mapUnits());
  if (bar.pixels <= 0) return;
  const QFontMetrics metrics(painter.font());
  const QString label = QString::fromStdString(bar.label);
  const double x = area.left() + 14, y = area.bottom() - 16;
  const QRectF plate(x - 6, y - metrics.height() - 10, std::max(bar.pixels, double(metrics.horizontalAdvance(label))) + 12,
                     metrics.height() + 18);
  painter.save();
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 255, 255, 200));
  painter.drawRoundedRect(plate, 3, 3);
  QPen pen(QColor(0x20, 0x20, 0x20), 2);
  pen.setCapStyle(Qt::FlatCap);
  painter.setPen(pen);
  painter.drawLine(QPointF(x, y), QPointF(x + bar.pixels, y));
  painter.drawLine(QPointF(x, y - 5), QPointF(x, y + 1));
  painter.drawLine(QPointF(x + bar.pixels, y - 5), QPointF(x + bar.pixels, y + 1));
  painter.drawText(QPointF(x, y - 7), label);
  painter.restore();
}

void MapView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // (A hidden widget hears of its size again whenever it is grabbed.)
  if (cacheValid_ && cache_.size() == event->size()) return;
  // Until the user moves the map, a new size shows what was fitted.
  if (!userPlaced_ && view_.valid() && !pendingFit_) pendingFit_ = fitted_;
  invalidate();
}

void MapView::wheelEvent(QWheelEvent* event) {
  const int eighths = event->angleDelta().y();
  if (eighths == 0) return;
  zoomAt(event->position(), std::pow(kZoomPerEighth, eighths));
  event->accept();
}

void MapView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  pressed_ = event->position();
  dragOffset_ = {};
  dragging_ = false;
}

void MapView::mouseMoveEvent(QMouseEvent* event) {
  if (auto p = toMap(event->position())) emit pointerMoved(*p);
  if (!pressed_ || !(event->buttons() & Qt::LeftButton)) return;
  dragOffset_ = event->position() - *pressed_;
  if (!dragging_ && QLineF(QPointF(), dragOffset_).length() >= kClickSlop) {
    dragging_ = true;
    drawCache();
    setCursor(Qt::ClosedHandCursor);
  }
  if (dragging_) update();
}

void MapView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) return QWidget::mouseReleaseEvent(event);
  const QPointF offset = event->position() - *pressed_;
  const bool wasDragging = dragging_ || QLineF(QPointF(), offset).length() >= kClickSlop;
  pressed_.reset();
  dragging_ = false;
  setCursor(Qt::OpenHandCursor);
  if (wasDragging) {
    placeView();
    view_.pan(offset.x(), offset.y());
    userPlaced_ = true;
    invalidate();
    return;
  }
  if (auto p = toMap(event->position())) emit clicked(*p);
}

QImage MapView::exportImage() const {
  drawCache();
  // The legend: each visible layer's name, then its entries, top layer first.
  QFont font = this->font();
  QFont bold = font;
  bold.setBold(true);
  const QFontMetrics fm(font), bm(bold);
  const int row = std::max(fm.height(), 14) + 4, swatch = 18, pad = 12;
  int legendWidth = 0, legendHeight = pad;
  struct Line {
    QString text;
    const map::Symbol* symbol;
    bool heading;
  };
  std::vector<Line> lines;
  for (auto it = layers_.rbegin(); it != layers_.rend(); ++it) {
    if (!it->visible) continue;
    const map::Symbology& s = it->symbology;
    const bool single = s.style.kind == map::StyleKind::Single;
    lines.push_back({QString::fromStdString(it->layer->name()), single ? &s.legend.front().symbol : nullptr, true});
    if (single) continue;
    lines.push_back({QString::fromStdString(s.style.field), nullptr, false});
    for (const map::LegendEntry& e : s.legend)
      lines.push_back({QString::fromStdString(e.label) + QStringLiteral("  (%1)").arg(e.patches), &e.symbol, false});
  }
  for (const Line& l : lines) {
    const int textWidth = (l.heading ? bm : fm).horizontalAdvance(l.text);
    legendWidth = std::max(legendWidth, textWidth + (l.symbol ? swatch + 8 : 0));
    legendHeight += row;
  }
  legendWidth += 2 * pad;
  legendHeight += pad;

  QImage image(cache_.width() + legendWidth, std::max(cache_.height(), legendHeight),
               QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.drawImage(0, 0, cache_);
  painter.setFont(font);
  drawOverlays(painter);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(QColor(0xc0, 0xc0, 0xc0));
  painter.drawLine(cache_.width(), 0, cache_.width(), image.height());
  int y = pad;
  for (const Line& l : lines) {
    int x = cache_.width() + pad;
    if (l.symbol) {
      drawSwatch(painter, QRectF(x, y + (row - 12) / 2.0, swatch, 12), *l.symbol);
      x += swatch + 8;
    }
    painter.setFont(l.heading ? bold : font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(x, y, legendWidth, row), Qt::AlignVCenter | Qt::AlignLeft, l.text);
    y += row;
  }
  return image;
}

}  // namespace quilta::desktop
