#pragma once
// The command line's user: answers every window of the tool from the options,
// as a person would click through a batch of operations.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/ScriptedWindowSystem.h"
#include "ui/Workbench.h"

namespace quilta {

class Extension;
class ResultWindow;

namespace cli {

struct Options {
  std::string layer;
  std::optional<std::string> layerName;  // --layer: a GeoPackage layer or a table
  std::vector<std::string> operations;
  std::optional<std::string> classField;
  bool noClassField = false;
  std::vector<std::string> classes;
  std::optional<std::string> buffer;
  std::optional<std::string> suffix;
  std::string distance = "10";
  // The core area output; none: the save dialog's proposal (core_area.shp,
  // or a layer core_area in the analysed GeoPackage).
  std::optional<std::string> coreOutput;
  std::optional<std::string> potential;
  std::vector<std::string> fields;
  std::optional<std::string> reportsDir;
  std::optional<std::string> mapUnits;
  bool json = false;
  bool progressJson = false;  // --progress json
  unsigned threads = 0;       // --threads; 0: every core
};

// The operation names in frmMain button order, with their buttons.
const std::map<std::string, std::string>& operationButtons();

class ScriptedUser {
 public:
  ScriptedUser(ScriptedWindowSystem& ws, const Options& options);
  // Connects the windows of `ext` to the options.
  void attach(Extension& ext);
  // Set when the options cannot answer a window: a missing option (a usage
  // error) or a name the layer does not have (the operation is refused).
  const std::optional<std::string>& usageError() const { return usageError_; }
  const std::optional<std::string>& inputError() const { return inputError_; }
  // Set when a report of a result window could not be saved.
  bool reportFailed() const { return reportFailed_; }
  // Called for every Ctrl-C.
  static void interrupt();
  // True when a Ctrl-C came that no operation has taken as its cancel yet.
  static bool interruptPending();
  // Bracket one operation of the run, for the progress lines: `name` is the
  // operation's name on the command line.
  void beginOperation(const std::string& name);
  void endOperation(bool completed);

 private:
  void onMessage(const MessageBox& box);
  void showProgress(Extension& ext);
  // One line of --progress json; unless `now`, at most one line every 100 ms.
  void printProgressLine(const Workbench& wb, bool now);
  // Prints a result window, saves its reports when asked to, closes it.
  void showResult(ResultWindow& window);
  ScriptedWindowSystem& ws_;
  const Options& options_;
  std::optional<std::string> usageError_;
  std::optional<std::string> inputError_;
  bool progressShown_ = false;
  bool reportFailed_ = false;
  bool terminal_ = false;
  std::string operation_;
  bool operationLinePrinted_ = false;
  std::int64_t lastLineNs_ = 0;
  std::int64_t lastSteps_ = 0;
};

}  // namespace cli
}  // namespace quilta
