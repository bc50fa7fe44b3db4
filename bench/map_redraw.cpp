// quilta-bench-map: how long the desktop map takes to draw a layer, offscreen.
//
//   quilta-bench-map LAYER.shp [--width W] [--height H] [--runs R] [--field F]
//
// Opens the layer as the desktop program does, reads its outlines, styles it
// by categories of a field (the class field of generated landscapes by
// default) and draws it R times at each of several views: the whole layer
// (zoomed out), then 4, 16 and 64 times closer about its centre, then the
// whole layer graduated by the identifiers. A redraw is one complete drawing
// of the map image, as after a zoom; repainting from the kept image (a window
// passing over the map, a drag) is timed too. Prints processor time and wall
// time of each step; the median of the R runs per view.

#include <CLI/CLI.hpp>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QImage>

#include "app/desktop/MapRenderer.h"
#include "app/desktop/MapView.h"
#include "host/HostApplication.h"
#include "map/Classification.h"
#include "map/Identify.h"
#include "map/PatchOutlines.h"

namespace {

struct Clock {
  double cpu, wall;
  static Clock now() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    const double cpu = static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    return {cpu, wall};
  }
};

struct Span {
  double cpu, wall;
};

template <class F>
Span timed(F&& f) {
  const Clock a = Clock::now();
  f();
  const Clock b = Clock::now();
  return {b.cpu - a.cpu, b.wall - a.wall};
}

Span median(std::vector<Span> runs) {
  auto mid = [&](auto key) {
    std::vector<double> v;
    for (const Span& s : runs) v.push_back(key(s));
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  return {mid([](const Span& s) { return s.cpu; }), mid([](const Span& s) { return s.wall; })};
}

void row(const std::string& what, Span s, const std::string& note = {}) {
  std::printf("%-40s %10.3f %10.3f  %s\n", what.c_str(), s.cpu, s.wall, note.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string layerPath, field = "class";
  int width = 1000, height = 700, runs = 5;
  CLI::App app{"Time the desktop map's drawing of a layer, offscreen"};
  app.add_option("layer", layerPath, "Polygon shapefile")->required();
  app.add_option("--width", width, "Map width in pixels")->capture_default_str();
  app.add_option("--height", height, "Map height in pixels")->capture_default_str();
  app.add_option("--runs", runs, "Drawings per view")->capture_default_str()->check(CLI::PositiveNumber);
  app.add_option("--field", field, "Field of the categories style")->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  char name[] = "quilta-bench-map";
  char* qtArgv[] = {name, nullptr};
  QApplication qt(qtArgc, qtArgv);

  try {
    using namespace quilta;
    HostApplication host;
    PolygonLayer* layer = nullptr;
    std::printf("%-40s %10s %10s\n", "step", "cpu s", "wall s");
    row("open the layer", timed([&] { layer = &host.document().addShapefile(layerPath); }));
    FeatureTable& table = layer->featureTable();
    const Span shapes = timed([&] { table.shapes(); });
    row("read the shapes", shapes, std::to_string(table.count()) + " patches");

    desktop::MapView view(host.document());
    view.resize(width, height);
    row("read the outlines", timed([&] { view.reload(); }));
    map::Symbology categories;
    const Span classify =
        timed([&] { categories = map::symbolize(table, map::Style{map::StyleKind::Categories, field}, {}); });
    row("classify: categories of " + field, classify, std::to_string(categories.legend.size()) + " classes");
    view.setSymbology(layer, categories);

    // The redraw as the view does it after a zoom: the map image drawn anew.
    std::vector<desktop::LayerDrawing> drawings(1);
    drawings[0].layer = layer;
    drawings[0].outlines = std::make_shared<map::PatchOutlines>(*view.outlines(layer));
    drawings[0].symbology = categories;
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    desktop::MapRenderer renderer;
    map::Viewport vp;
    vp.setSize(width, height);
    const map::Box extent = drawings[0].outlines->extent();
    for (double zoom : {1.0, 4.0, 16.0, 64.0}) {
      vp.fit(extent, 12);
      vp.zoomAt(width / 2.0, height / 2.0, zoom);
      map::PatchOutlines::DrawList list;
      drawings[0].outlines->select(vp, list);
      std::vector<Span> spans;
      for (int r = 0; r < runs; ++r)
        spans.push_back(timed([&] { renderer.render(image, vp, drawings, Qt::white); }));
      char note[120];
      std::snprintf(note, sizeof note, "%zu drawn as outlines, %zu as pixels", list.outlines.size(), list.dots.size());
      row(zoom == 1 ? std::string("redraw, whole layer (zoomed out)") : "redraw, " + std::to_string(int(zoom)) + "x closer",
          median(spans), note);
    }
    map::Symbology graduated;
    row("classify: graduated FID, 9 quantiles", timed([&] {
          graduated = map::symbolize(table, map::Style{map::StyleKind::Graduated, "FID", map::BreakMethod::Quantiles, 9}, {});
        }));
    drawings[0].symbology = graduated;
    vp.fit(extent, 12);
    std::vector<Span> spans;
    for (int r = 0; r < runs; ++r) spans.push_back(timed([&] { renderer.render(image, vp, drawings, Qt::white); }));
    row("redraw, whole layer graduated", median(spans));

    // The widget itself: the first paint draws the image, later paints copy it.
    const Span first = timed([&] { view.grab(); });
    row("map widget, first paint", first);
    spans.clear();
    for (int r = 0; r < runs; ++r) spans.push_back(timed([&] { view.grab(); }));
    row("map widget, repaint from the kept image", median(spans));

    // Identify: the first click indexes the patches; later clicks query.
    std::unique_ptr<map::PatchFinder> finder;
    row("identify: index the patches (first click)", timed([&] { finder = std::make_unique<map::PatchFinder>(table); }));
    const map::Point centre{0.5 * (extent.minX + extent.maxX), 0.5 * (extent.minY + extent.maxY)};
    std::optional<map::Identification> found;
    const Span click = timed([&] { found = map::identify(table, *finder, centre.x, centre.y); });
    row("identify: a click at the centre", click, found ? "patch " + std::to_string(found->oid) : "no patch");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quilta-bench-map: %s\n", e.what());
    return 1;
  }
  return 0;
}
