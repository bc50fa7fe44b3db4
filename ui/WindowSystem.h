#pragma once
// The one interface through which the tool talks to the user: message boxes,
// input boxes, file dialogs, modal windows, pending-input processing, and the
// desktop shell. The desktop program implements it with real dialogs; tests
// and the command line use ScriptedWindowSystem.

#include <optional>
#include <string>

namespace quilta {

class WindowModel;

inline constexpr const char* kComponentTitle = "Quilta 1.1";

enum class Buttons { OK, OKCancel, YesNo };
enum class Icon { None, Exclamation, Information, Critical };
enum class Answer { OK = 1, Cancel = 2, Yes = 6, No = 7 };

struct MessageBox {
  std::string text;
  std::string title = kComponentTitle;
  Buttons buttons = Buttons::OK;
  Icon icon = Icon::None;
  // What went wrong underneath a general error message (shown as details).
  std::string detail;
};

struct InputBox {
  std::string prompt;
  std::string title;
  std::string defaultText;
};

struct FileDialog {
  bool save = true;
  int flags = 0;  // 2: ask before replacing a file; 4096: the file must exist
  std::string filter;
  std::string defaultExtension;
  std::string fileName;
};

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  virtual Answer messageBox(const MessageBox& box) = 0;
  // The text entered; none when the user cancelled.
  virtual std::optional<std::string> inputBox(const InputBox& box) = 0;
  // The full path chosen; none when the user cancelled.
  virtual std::optional<std::string> fileDialog(const FileDialog& dialog) = 0;
  // Shows `window` and returns when it has been closed.
  virtual void showModal(WindowModel& window) = 0;
  // True when user input waits to be processed.
  virtual bool inputPending() = 0;
  virtual void processEvents() = 0;
  // Redraws a window after its controls changed during a long run.
  virtual void repaint(WindowModel& window) { (void)window; }
  // Opens a document or web address with its associated program.
  virtual void shellOpen(const std::string& target) = 0;
  // Starts a program; false when it cannot be started.
  virtual bool startProgram(const std::string& path, int windowStyle) = 0;
};

}  // namespace quilta
