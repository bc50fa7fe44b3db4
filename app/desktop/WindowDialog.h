#pragma once
// The dialog of one window model: it draws the model's controls, forwards
// clicks to the model's handlers, redraws after every handler and closes as
// soon as the model is no longer open.

#include <functional>
#include <map>
#include <memory>
#include <string>

#include <QDialog>
#include <QLabel>
#include <QListWidget>

#include "ui/Controls.h"

class QPushButton;

namespace quilta::desktop {

class WindowDialog : public QDialog {
 public:
  WindowDialog(WindowModel& model, QWidget* parent);
  WindowModel& model() const { return model_; }

  // Draws the model's state; closes the dialog when the model was closed.
  void refresh();
  // Paints what a long operation changes, at once, without taking input.
  virtual void paintNow() { repaint(); }
  // A push button of the dialog by control name, or null (tests use it).
  QPushButton* button(const std::string& control) const;
  // Called with the control's name after a button's handler has returned
  // and the dialog has been redrawn.
  void setAfterClick(std::function<void(const std::string& control)> afterClick) {
    afterClick_ = std::move(afterClick);
  }

 protected:
  // Draws the controls; called by refresh().
  virtual void draw() = 0;
  // Runs a click handler of the model, then redraws. A failure the handler
  // did not report itself is shown as an unexpected error.
  void forward(const std::function<void()>& handler);
  // True while a handler of this dialog runs (an operation with its progress
  // bar, a nested window).
  bool busy() const { return busy_ > 0; }
  // A push button named after its control; a click forwards `handler`. While
  // a handler of this dialog runs, clicks are ignored unless `whileBusy`
  // (the Cancel button of a running operation).
  QPushButton* makeButton(const std::string& control, std::function<void()> handler, bool whileBusy = false);
  // Caption, tooltip and visibility of a button from its control.
  static void drawButton(QPushButton* button, const Control& control);

  // The close box and Escape: close the window without a handler of the
  // model, except while a handler runs.
  void reject() override;

 private:
  WindowModel& model_;
  int busy_ = 0;
  std::map<std::string, QPushButton*> buttons_;
  std::function<void(const std::string&)> afterClick_;
};

// Plain text of the models for widgets: carriage returns (alone or before a
// line feed) become line breaks.
QString displayText(const std::string& text);

// A list box drawn from a ListBox model. A click (or keyboard selection)
// becomes clicks on the model's items; the drawing then follows the model.
class ListBoxView : public QListWidget {
 public:
  ListBoxView(ListBox& list, std::function<void(const std::function<void()>&)> forward, QWidget* parent);
  void draw();

 private:
  void selectionChangedByUser();
  ListBox& list_;
  std::function<void(const std::function<void()>&)> forward_;
  bool drawing_ = false;
};

// An image that reacts to a click.
class ClickableLabel : public QLabel {
 public:
  ClickableLabel(std::function<void()> onClick, QWidget* parent) : QLabel(parent), onClick_(std::move(onClick)) {}

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  std::function<void()> onClick_;
};

// A label in bold type, as the windows' headings are.
QLabel* bold(const QString& text, QWidget* parent);

// Makes the dialog for `model` by its name; null when there is none.
std::unique_ptr<WindowDialog> makeDialog(WindowModel& model, QWidget* parent);

}  // namespace quilta::desktop
