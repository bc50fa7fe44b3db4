#pragma once
// The window system of the desktop program: real Qt message boxes, input
// boxes and file dialogs, one modal dialog per window model, event processing
// for long operations, and the desktop shell.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <QString>

#include "ui/WindowSystem.h"

class QWidget;

namespace quilta::desktop {

class WindowDialog;

// Shows a message box over `parent`: the texts exactly (a carriage return
// breaks the line), the title, the buttons and icon, and the detail as the
// box's detailed text. Closing the box answers Cancel or No where the box has
// them, else OK.
Answer showMessageBox(QWidget* parent, const MessageBox& box);

// "Textfile | *.txt" (pairs of description and patterns) in Qt's form
// "Textfile (*.txt)"; several pairs are joined by ";;".
QString qtFileFilter(const std::string& filter);

class QtWindowSystem : public WindowSystem {
 public:
  // Dialogs are owned by the active modal dialog, else by `owner` (the main
  // window; may be null).
  explicit QtWindowSystem(QWidget* owner = nullptr) : owner_(owner) {}
  void setOwner(QWidget* owner) { owner_ = owner; }

  Answer messageBox(const MessageBox& box) override;
  std::optional<std::string> inputBox(const InputBox& box) override;
  std::optional<std::string> fileDialog(const FileDialog& dialog) override;
  // Opens the dialog of the model's window (by its name) and returns when it
  // has closed. Throws HostError for a window this program has no dialog for.
  void showModal(WindowModel& window) override;
  // True when events have not been processed for a few milliseconds: the
  // check is cheap, the processing is not.
  bool inputPending() override;
  // Redraws the open dialogs from their models and processes the queued
  // events, within a small time budget.
  void processEvents() override;
  void repaint(WindowModel& window) override;
  // Files and folders open with their associated program, addresses with
  // the browser.
  void shellOpen(const std::string& target) override;
  bool startProgram(const std::string& path, int windowStyle) override;

  // The open dialog showing `window`, or null.
  WindowDialog* dialogFor(const WindowModel& window) const;
  // Called after the handler of a button of any window has returned, with
  // the window's model and the button's control name: the map shell reads
  // the layers again while the tool window stays open.
  using AfterClick = std::function<void(const WindowModel& window, const std::string& control)>;
  void setAfterClick(AfterClick afterClick) { afterClick_ = std::move(afterClick); }

 private:
  QWidget* dialogParent() const;
  // Draws every open dialog from its model: an operation changed them since
  // the last handler returned (progress, labels), and a box it opens now
  // should not stand over an outdated window.
  void refreshOpen();

  QWidget* owner_;
  std::vector<WindowDialog*> open_;  // innermost last
  QString lastFolder_;
  std::chrono::steady_clock::time_point lastProcessed_{};
  AfterClick afterClick_;
};

}  // namespace quilta::desktop
