#pragma once
// One loaded instance of the tool: the host it runs in, the user's window
// system, the shared session state and the windows of the tool.

#include <cstdint>
#include <filesystem>
#include <string>

#include "host/HostApplication.h"
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
  void finish();

 private:
  std::int64_t lastYieldNs_ = 0;
  int callsSinceYield_ = 0;
};

}  // namespace quilta
