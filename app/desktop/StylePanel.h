#pragma once
// The style of the selected layer: one colour, categories of a field, or
// graduated colours of a numeric field (quantiles or equal intervals, 5 to 9
// classes). What the user changes is applied at once; the fields that the
// last operation wrote are offered first and in bold.

#include <string>
#include <vector>

#include <QGroupBox>

#include "map/Classification.h"

class QComboBox;
class QSpinBox;

namespace quilta::desktop {

class StylePanel : public QGroupBox {
  Q_OBJECT

 public:
  explicit StylePanel(QWidget* parent = nullptr);

  struct FieldChoice {
    std::string name;
    bool numeric = false;
    bool isNew = false;  // written by the last operation
  };
  // Shows a layer's style and the attribute fields it may use.
  // `categoryDefault` is the field categories start from (the class field
  // once chosen); empty: the first field.
  void showStyle(const map::Style& style, std::vector<FieldChoice> fields, const std::string& categoryDefault);
  // No layer selected: nothing to choose.
  void clear();
  // The style as the controls show it.
  map::Style chosenStyle() const;

 signals:
  void styleChosen(quilta::map::Style style);

 private:
  void fillFields();
  void userChanged();
  QComboBox* kind_;
  QComboBox* field_;
  QComboBox* method_;
  QSpinBox* classes_;
  std::vector<FieldChoice> fields_;
  std::string categoryDefault_;
  map::Style shown_;
  bool drawing_ = false;
};

}  // namespace quilta::desktop
