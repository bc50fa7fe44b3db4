#include "app/desktop/MapRenderer.h"

#include <algorithm>
#include <cmath>

#include <QPainter>


namespace quilta::desktop {
namespace {

// A patch this many pixels wide and high, or more, shows its outline.
constexpr double kOutlinePixels = 6;
const QColor kOutline(0x55, 0x55, 0x55);
const QColor kHatch(0, 0, 0, 150);
const QColor kSelectionFill(255, 230, 0, 120);
const QColor kSelectionLine(230, 160, 0);

Qt::BrushStyle hatchStyle(map::FillPattern pattern) {
  switch (pattern) {
    case map::FillPattern::Diagonal: return Qt::BDiagPattern;
    case map::FillPattern::BackDiagonal: return Qt::FDiagPattern;
    case map::FillPattern::Cross: return Qt::DiagCrossPattern;
    case map::FillPattern::Solid: break;
  }
  return Qt::NoBrush;
}

}  // namespace

QColor toQColor(const map::Rgb& c) { return QColor(c.r, c.g, c.b); }

void drawSwatch(QPainter& painter, const QRectF& rect, const map::Symbol& symbol) {
  painter.save();
  painter.setPen(QPen(kOutline, 0));
  painter.setBrush(toQColor(symbol.fill));
  painter.drawRect(rect);
  if (const Qt::BrushStyle hatch = hatchStyle(symbol.pattern); hatch != Qt::NoBrush) {
    painter.setBrush(QBrush(kHatch, hatch));
    painter.drawRect(rect);
  }
  painter.restore();
}

bool MapRenderer::project(const map::PatchOutlines& outlines, std::size_t patch, const map::Viewport& view) {
  const map::Point origin = view.toPixel(outlines.origin().x, outlines.origin().y);
  const double s = view.scale();
  ringsUsed_ = 0;
  const std::size_t rings = outlines.ringCount(patch);
  for (std::size_t r = 0; r < rings; ++r) {
    const map::PatchOutlines::Ring ring = outlines.ring(patch, r);
    if (ringsUsed_ == rings_.size()) rings_.emplace_back();
    QPolygonF& out = rings_[ringsUsed_];
    out.resize(0);
    // Vertices snap to a quarter pixel and repeats are dropped. Neighbours
    // share their boundary vertex for vertex, so both snap it alike: the
    // patches still meet without a gap, with as few vertices as the pixels
    // can show.
    double lastX = 0, lastY = 0;
    for (std::size_t j = 0; j < ring.count; ++j) {
      const double x = std::round((origin.x + ring.xy[2 * j] * s) * 4) / 4;
      const double y = std::round((origin.y - ring.xy[2 * j + 1] * s) * 4) / 4;
      if (j > 0 && x == lastX && y == lastY) continue;
      out.append(QPointF(x, y));
      lastX = x, lastY = y;
    }
    if (out.size() >= 3) ++ringsUsed_;
  }
  return ringsUsed_ > 0;
}

void MapRenderer::addPatch(QPainterPath& path, const map::PatchOutlines& outlines, std::size_t patch,
                           const map::Viewport& view) {
  path.setFillRule(Qt::OddEvenFill);
  const map::Point origin = view.toPixel(outlines.origin().x, outlines.origin().y);
  const double s = view.scale();
  for (std::size_t r = 0; r < outlines.ringCount(patch); ++r) {
    const map::PatchOutlines::Ring ring = outlines.ring(patch, r);
    QPolygonF polygon;
    polygon.reserve(static_cast<qsizetype>(ring.count));
    for (std::size_t j = 0; j < ring.count; ++j)
      polygon.append(QPointF(origin.x + ring.xy[2 * j] * s, origin.y - ring.xy[2 * j + 1] * s));
    path.addPolygon(polygon);
    path.closeSubpath();
  }
}

void MapRenderer::render(QImage& image, const map::Viewport& view, const std::vector<LayerDrawing>& layers,
                         const QColor& background) {
  image.fill(background);
  for (const LayerDrawing& layer : layers) {
    if (!layer.visible || !layer.outlines) continue;
    QPainter painter;
    drawLayer(painter, image, view, layer);
  }
  QPainter painter(&image);
  for (const LayerDrawing& layer : layers)
    if (layer.visible && layer.outlines && !layer.selection.empty()) drawSelection(painter, view, layer);
}

void MapRenderer::drawLayer(QPainter& painter, QImage& image, const map::Viewport& view, const LayerDrawing& layer) {
  const map::PatchOutlines& outlines = *layer.outlines;
  const map::Symbology& symbology = layer.symbology;
  outlines.select(view, list_);

  const std::size_t entries = symbology.legend.size();
  std::vector<QBrush> fills(entries), hatches(entries);
  std::vector<QRgb> dots(entries);
  for (std::size_t e = 0; e < entries; ++e) {
    const map::Symbol& symbol = symbology.legend[e].symbol;
    fills[e] = QBrush(toQColor(symbol.fill));
    hatches[e] = QBrush(kHatch, hatchStyle(symbol.pattern));
    dots[e] = toQColor(symbol.fill).rgb();
  }

  // Patches smaller than a pixel: the one or two pixels their box touches
  // each way take the patch's colour, written straight into the image
  // (before a painter holds it). In a mosaic every pixel touches some box,
  // so the layer shows without holes at any distance.
  const int w = image.width(), h = image.height();
  uchar* bits = image.bits();
  const qsizetype stride = image.bytesPerLine();
  for (std::uint32_t patch : list_.dots) {
    const std::int32_t entry = symbology.classOfFeature(patch);
    if (entry < 0) continue;
    const map::Box b = outlines.bounds(patch);
    const map::Point lo = view.toPixel(b.minX, b.maxY), hi = view.toPixel(b.maxX, b.minY);
    const int x0 = std::max(static_cast<int>(std::floor(lo.x)), 0), x1 = std::min(static_cast<int>(std::floor(hi.x)), w - 1);
    const int y0 = std::max(static_cast<int>(std::floor(lo.y)), 0), y1 = std::min(static_cast<int>(std::floor(hi.y)), h - 1);
    const QRgb colour = dots[static_cast<std::size_t>(entry)];
    for (int y = y0; y <= y1; ++y) {
      QRgb* line = reinterpret_cast<QRgb*>(bits + y * stride);
      for (int x = x0; x <= x1; ++x) line[x] = colour;
    }
  }

  painter.begin(&image);
  painter.setRenderHint(QPainter::Antialiasing, false);
  const QPen outlinePen(kOutline, 0);
  bool outlined = false;
  painter.setPen(Qt::NoPen);
  const double scale = view.scale();
  for (std::uint32_t patch : list_.outlines) {
    const std::int32_t entry = symbology.classOfFeature(patch);
    if (entry < 0) continue;
    const map::Box b = outlines.bounds(patch);
    if (!project(outlines, patch, view)) {
      // A sliver that snapped to a line: its box, so that it still shows.
      const map::Point lo = view.toPixel(b.minX, b.maxY), hi = view.toPixel(b.maxX, b.minY);
      painter.fillRect(QRectF(QPointF(std::floor(lo.x), std::floor(lo.y)), QPointF(std::floor(hi.x) + 1, std::floor(hi.y) + 1)),
                       fills[static_cast<std::size_t>(entry)]);
      continue;
    }
    const bool outline = b.width() * scale >= kOutlinePixels && b.height() * scale >= kOutlinePixels;
    if (outline != outlined) {
      painter.setPen(outline ? outlinePen : QPen(Qt::NoPen));
      outlined = outline;
    }
    const auto e = static_cast<std::size_t>(entry);
    auto fill = [&](const QBrush& brush) {
      painter.setBrush(brush);
      if (ringsUsed_ == 1) {
        painter.drawPolygon(rings_[0], Qt::OddEvenFill);
        return;
      }
      QPainterPath path;
      path.setFillRule(Qt::OddEvenFill);
      for (std::size_t r = 0; r < ringsUsed_; ++r) path.addPolygon(rings_[r]);
      painter.drawPath(path);
    };
    fill(fills[e]);
    if (hatches[e].style() != Qt::NoBrush) {
      const QPen pen = painter.pen();
      painter.setPen(Qt::NoPen);
      fill(hatches[e]);
      painter.setPen(pen);
    }
  }
  painter.end();
}

void MapRenderer::drawSelection(QPainter& painter, const map::Viewport& view, const LayerDrawing& layer) {
  const map::PatchOutlines& outlines = *layer.outlines;
  const map::Box visible = view.visibleBox();
  QPen line(kSelectionLine, 2);
  line.setCosmetic(true);
  for (std::int64_t oid : layer.selection) {
    if (oid < 0 || static_cast<std::size_t>(oid) >= outlines.size() || !outlines.hasOutline(static_cast<std::size_t>(oid)))
      continue;
    const auto patch = static_cast<std::size_t>(oid);
    const map::Box b = outlines.bounds(patch);
    if (!b.intersects(visible)) continue;
    if (b.width() * view.scale() < 3 && b.height() * view.scale() < 3) {
      // Too small to outline: a mark of a few pixels stays visible.
      const map::Point p = view.toPixel(0.5 * (b.minX + b.maxX), 0.5 * (b.minY + b.maxY));
      painter.fillRect(QRectF(p.x - 1.5, p.y - 1.5, 3, 3), kSelectionLine);
      continue;
    }
    QPainterPath path;
    addPatch(path, outlines, patch, view);
    painter.setPen(line);
    painter.setBrush(kSelectionFill);
    painter.drawPath(path);
  }
}

}  // namespace quilta::desktop
