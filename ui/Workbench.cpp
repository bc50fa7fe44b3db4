#include "ui/Workbench.h"

#include <algorithm>
#include <chrono>

#include "host/HostError.h"

namespace quilta {
namespace {

std::int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

Workbench::Workbench(HostApplication& application, WindowSystem& windows, std::filesystem::path folder)
    : app(application),
      ws(windows),
      programFolder(std::move(folder)),
      main(*this),
      fields(*this),
      classes(*this),
      delFields(*this),
      about(*this) {
  session.application = &app;
}

Answer Workbench::message(const std::string& text, const std::string& title, Buttons buttons, Icon icon,
                          const std::string& detail) {
  return ws.messageBox(MessageBox{text, title, buttons, icon, detail});
}

PolygonLayer& Workbench::selectedLayer() {
  PolygonLayer* layer = app.document().selectedLayer();
  if (!layer) throw HostError("no layer is selected in the map");
  return *layer;
}

void Workbench::arm(std::int64_t max) {
  session.progressCounter = 0;
  main.ProgressBar1.min = 0;
  main.ProgressBar1.max = max;
  main.ProgressBar1.value = 0;
  main.ProgressBar1.visible = true;
  main.cmdCancel.visible = true;
  ws.repaint(main);
  lastYieldNs_ = nowNs();
  callsSinceYield_ = 0;
  stepping_ = false;
  items_ = itemsDone_ = 0;
}

bool Workbench::step() {
  stepping_ = true;
  items_ = itemsDone_ = 0;
  ++session.progressCounter;
  main.ProgressBar1.value = session.progressCounter;
  return yield();
}

bool Workbench::yield() {
  lastYieldNs_ = nowNs();
  callsSinceYield_ = 0;
  if (ws.inputPending()) ws.processEvents();
  return session.cancel;
}

bool Workbench::idle() {
  ws.repaint(main);
  return yield();
}

bool Workbench::poll() {
  // Yield every 256 calls, or sooner when 30 ms have passed (a patch with
  // many candidates). The clock costs some tens of nanoseconds, far less
  // than the work between two calls.
  ++itemsDone_;
  if (++callsSinceYield_ < 256 && nowNs() - lastYieldNs_ < yieldIntervalNs) return session.cancel;
  ws.repaint(main);
  return yield();
}

void Workbench::beginItems(std::int64_t items) {
  items_ = items;
  itemsDone_ = 0;
}

Workbench::Progress Workbench::progress() const {
  const ProgressBar& bar = main.ProgressBar1;
  Progress p;
  p.step = bar.value;
  p.steps = bar.max;
  p.items = items_;
  p.item = std::min(itemsDone_, items_);
  if (bar.max <= 0) return p;
  // A step is counted when it begins, so its own work lies below its value.
  double done = static_cast<double>(bar.value);
  if (stepping_ && bar.value > 0)
    done += (items_ > 0 ? static_cast<double>(p.item) / static_cast<double>(items_) : 0) - 1;
  p.fraction = std::clamp(done / static_cast<double>(bar.max), 0.0, 1.0);
  return p;
}

void Workbench::reportInvalidShapes() {
  PolygonLayer* layer = app.document().selectedLayer();
  if (!layer) return;
  const FeatureTable& table = layer->featureTable();
  const std::vector<std::int64_t>& invalid = table.invalidShapes();
  auto& reported = session.invalidShapesReported;
  if (invalid.empty() || std::find(reported.begin(), reported.end(), &table) != reported.end()) return;
  reported.push_back(&table);
  std::string fids;
  for (std::size_t i = 0; i < invalid.size() && i < 10; ++i) fids += (i ? ", " : "") + std::to_string(invalid[i]);
  if (invalid.size() > 10) fids += ", ...";
  message("Patches that are not valid polygons (self-intersecting rings, bow-ties, rings outside their shell): " +
              std::to_string(invalid.size()) +
              ". They were analysed as they are; their areas, edges and core areas may be wrong. FID: " + fids,
          "Invalid patches", Buttons::OK, Icon::Exclamation);
}

void Workbench::finish() {
  main.ProgressBar1.visible = false;
  main.cmdCancel.visible = false;
}

}  // namespace quilta
