#pragma once
// The dialog of a result window: the layer name, the class level list with
// one row per class, the landscape level values with their labels and units,
// and the save and close buttons.

#include <string>
#include <vector>

#include "app/desktop/WindowDialog.h"
#include "results/ResultWindows.h"

class QLineEdit;
class QPlainTextEdit;
class QTreeWidget;

namespace quilta::desktop {

class ResultDialog : public WindowDialog {
 public:
  ResultDialog(ResultWindow& model, QWidget* parent);

 protected:
  void draw() override;

 private:
  void drawList();
  ResultWindow& window_;
  QLineEdit* layerName_;
  QTreeWidget* list_;
  std::vector<std::string> drawnColumns_;
  std::vector<std::vector<std::string>> drawnRows_;
  // One entry per landscape value, in the order of landscapeValues().
  std::vector<QWidget*> values_;
  QPlainTextEdit* artefact_ = nullptr;  // the form analysis warning
};

}  // namespace quilta::desktop
