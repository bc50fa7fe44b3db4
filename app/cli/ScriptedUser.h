#pragma once
// The command line's user: answers every window of the tool from the options,
// as a person would click through a batch of operations.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/ScriptedWindowSystem.h"

namespace quilta {

class Extension;

namespace cli {

struct Options {
  std::string layer;
  std::vector<std::string> operations;
  std::optional<std::string> classField;
  bool noClassField = false;
  std::vector<std::string> classes;
  std::optional<std::string> buffer;
  std::optional<std::string> suffix;
  std::string distance = "10";
  std::string coreOutput = "core_area.shp";
  std::optional<std::string> potential;
  std::vector<std::string> fields;
  std::optional<std::string> reportsDir;
  std::optional<std::string> mapUnits;
  bool json = false;
};

// The operation names in frmMain button order, with their buttons.
const std::map<std::string, std::string>& operationButtons();

class ScriptedUser {
 public:
  ScriptedUser(ScriptedWindowSystem& ws, const Options& options);
  // Connects the windows of `ext` to the options.
  void attach(Extension& ext);
  // Set when the options cannot answer a window (unknown field or class).
  const std::optional<std::string>& usageError() const { return usageError_; }
  // Called for every Ctrl-C.
  static void interrupt();

 private:
  void onMessage(const MessageBox& box);
  void showProgress(Extension& ext);
  ScriptedWindowSystem& ws_;
  const Options& options_;
  std::optional<std::string> usageError_;
  bool progressShown_ = false;
  bool terminal_ = false;
};

}  // namespace cli
}  // namespace quilta
