#pragma once
// One loaded instance of the tool: the host it runs in, the user's window
// system, the shared session state and the windows of the tool.

#include <cstdint>
#include <filesystem>
#include <string>

#include "host/HostApplication.h"
#include "host/WorkerPool.h"
#include "session/SessionState.h"
#include "ui/WindowSystem.h"
#include "ui/Windows.h"

namespace quilta {

inline constexpr const char* kShapefileError =
    "Error in shapefile or shapefile is in use by another program or shapefile is read-only!";
inline constexpr const char* kCalculationFinished = "Calculation finished!";

class Workbench {
 public:
  // `programFolder` holds the help document and is the working folder of
  // programs the tool starts.
  Workbench(HostApplication& app, WindowSystem& ws, std::filesystem::path programFolder = {});
  Workbench(const Workbench&) = delete;
  Workbench& operator=(const Workbench&) = delete;

  HostApplication& app;
  WindowSystem& ws;
  std::filesystem::path programFolder;
  SessionState session;
  frmMain main;
  frmFields fields;
  frmClasses classes;
  frmDelFields delFields;
  frmAbout about;
  // Threads that compute the per-patch work of the operations (at least 1;
  // every core unless a front end says otherwise). Results are the same for
  // any number.
  unsigned threads = allCores();

  // A message box; without a title of its own it carries the component title.
  Answer message(const std::string& text, const std::string& title = kComponentTitle, Buttons buttons = Buttons::OK,
                 Icon icon = Icon::None, const std::string& detail = {});

  // The selected layer of the current document; throws HostError when none.
  PolygonLayer& selectedLayer();

  // Progress convention of long operations, on the tool window's progress bar:
  // arm() resets the counter, sets the range 0..max and shows the bar and the
  // Cancel button; step() counts one item done, lets pending input through
  // and tells whether the user cancelled; finish() hides both.
  void arm(std::int64_t max);
  bool step();
  // Lets pending input through without counting, every 256 calls or 30 ms,
  // whichever comes first; true when the user cancelled. Call it once per
  // patch (or per member of a group) in long loops.
  bool poll();
  // Lets pending input through now; true when the user cancelled.
  bool yield();
  // Redraws the tool window and lets pending input through, without counting
  // an item: for the interface thread while it waits for worker threads.
  // True when the user cancelled.
  bool idle();
  void finish();
  // Warns once per run and layer, naming up to ten of them, when the shapes
  // the selected layer has read hold patches that are not valid polygons:
  // they are analysed as they are, but their measures mean little.
  void reportInvalidShapes();

  // Progress within the current step, for front ends that show more than
  // the bar's whole steps. beginItems() says how many items the step has
  // (the patches of the class just selected); every poll() from then on
  // counts one item done. step() and arm() end the step's items.
  void beginItems(std::int64_t items);
  struct Progress {
    std::int64_t step = 0, steps = 0;  // the bar: value and maximum
    std::int64_t item = 0, items = 0;  // items done in the current step, of items (0 of 0: not counted)
    double fraction = 0;               // the operation's part done, 0..1
  };
  // Where the running operation stands. While steps are counted, step k of
  // n with i of m items done is (k - 1 + i/m) / n; otherwise (a bar set
  // directly, one position per feature) it is value / max.
  Progress progress() const;

  // poll() lets input through every 256 items or after this much time,
  // whichever comes first. Tests that cancel at the n-th chance set it out
  // of reach, so that a slow moment does not add a chance.
  std::int64_t yieldIntervalNs = 30'000'000;

 private:
  std::int64_t lastYieldNs_ = 0;
  int callsSinceYield_ = 0;
  bool stepping_ = false;
  std::int64_t items_ = 0, itemsDone_ = 0;
};

}  // namespace quilta
