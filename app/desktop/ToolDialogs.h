#pragma once
// Dialogs of the tool window and its small windows: the class field chooser,
// the class chooser, the field deletion window and the About window.

#include <map>
#include <string>

#include "app/desktop/WindowDialog.h"
#include "ui/Windows.h"

class QPlainTextEdit;
class QProgressBar;

namespace quilta::desktop {

// The tool window: documentation, analysis buttons with the class block,
// utilities, About/Help/Close, the logo links, and the progress bar with its
// Cancel button. While an operation runs only Cancel reacts; the window
// cannot be closed then.
class MainDialog : public WindowDialog {
 public:
  MainDialog(frmMain& model, QWidget* parent);
  // The progress bar and Cancel only: the rest does not change while an
  // operation runs.
  void paintNow() override;

 protected:
  void draw() override;

 private:
  frmMain& main_;
  std::map<std::string, QLabel*> images_;
  QLabel* title_;
  QLabel* lblclass_;
  QLabel* lblselected_;
  QProgressBar* progress_;
};

class FieldsDialog : public WindowDialog {
 public:
  FieldsDialog(frmFields& model, QWidget* parent);

 protected:
  void draw() override;

 private:
  frmFields& fields_;
  ListBoxView* list_;
};

class ClassesDialog : public WindowDialog {
 public:
  ClassesDialog(frmClasses& model, QWidget* parent);

 protected:
  void draw() override;

 private:
  frmClasses& classes_;
  ListBoxView* list_;
};

class DelFieldsDialog : public WindowDialog {
 public:
  DelFieldsDialog(frmDelFields& model, QWidget* parent);

 protected:
  void draw() override;

 private:
  frmDelFields& delFields_;
  ListBoxView* list_;
};

// The About window. What the user types into the text is the model's text
// (the OK handler compares it).
class AboutDialog : public WindowDialog {
 public:
  AboutDialog(frmAbout& model, QWidget* parent);

 protected:
  void draw() override;

 private:
  frmAbout& about_;
  QPlainTextEdit* text_;
  bool drawing_ = false;
};

}  // namespace quilta::desktop
