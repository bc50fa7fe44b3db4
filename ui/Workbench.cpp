#include "ui/Workbench.h"

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
}

bool Workbench::step() {
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

bool Workbench::poll() {
  // Yield every 256 calls, or sooner when 30 ms have passed (a patch with
  // many candidates). The clock costs some tens of nanoseconds, far less
  // than the work between two calls.
  if (++callsSinceYield_ < 256 && nowNs() - lastYieldNs_ < 30'000'000) return session.cancel;
  ws.repaint(main);
  return yield();
}

void Workbench::finish() {
  main.ProgressBar1.visible = false;
  main.cmdCancel.visible = false;
}

}  // namespace quilta
