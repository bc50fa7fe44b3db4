#include "app/desktop/StylePanel.h"

#include <algorithm>

#include <QComboBox>
#include <QFormLayout>
#include <QSpinBox>

namespace quilta::desktop {

StylePanel::StylePanel(QWidget* parent) : QGroupBox(QStringLiteral("Style"), parent) {
  setObjectName("stylePanel");
  auto* form = new QFormLayout(this);
  kind_ = new QComboBox(this);
  kind_->setObjectName("styleKind");
  kind_->addItem(QStringLiteral("Single colour"), static_cast<int>(map::StyleKind::Single));
  kind_->addItem(QStringLiteral("Categories"), static_cast<int>(map::StyleKind::Categories));
  kind_->addItem(QStringLiteral("Graduated colours"), static_cast<int>(map::StyleKind::Graduated));
  field_ = new QComboBox(this);
  field_->setObjectName("styleField");
  method_ = new QComboBox(this);
  method_->setObjectName("styleMethod");
  method_->addItem(QStringLiteral("Quantiles"), static_cast<int>(map::BreakMethod::Quantiles));
  method_->addItem(QStringLiteral("Equal intervals"), static_cast<int>(map::BreakMethod::EqualIntervals));
  classes_ = new QSpinBox(this);
  classes_->setObjectName("styleClasses");
  classes_->setRange(map::kMinClasses, map::kMaxClasses);
  form->addRow(QStringLiteral("Draw"), kind_);
  form->addRow(QStringLiteral("Field"), field_);
  form->addRow(QStringLiteral("Classes by"), method_);
  form->addRow(QStringLiteral("Classes"), classes_);
  connect(kind_, &QComboBox::currentIndexChanged, this, [this] {
    if (drawing_) return;
    fillFields();
    userChanged();
  });
  for (QComboBox* box : {field_, method_})
    connect(box, &QComboBox::currentIndexChanged, this, [this] {
      if (!drawing_) userChanged();
    });
  connect(classes_, &QSpinBox::valueChanged, this, [this] {
    if (!drawing_) userChanged();
  });
  clear();
}

void StylePanel::clear() {
  drawing_ = true;
  fields_.clear();
  shown_ = {};
  kind_->setCurrentIndex(0);
  field_->clear();
  setEnabled(false);
  drawing_ = false;
}

void StylePanel::showStyle(const map::Style& style, std::vector<FieldChoice> fields,
                           const std::string& categoryDefault) {
  drawing_ = true;
  setEnabled(true);
  // The fields the last operation wrote come first.
  std::stable_partition(fields.begin(), fields.end(), [](const FieldChoice& f) { return f.isNew; });
  fields_ = std::move(fields);
  categoryDefault_ = categoryDefault;
  shown_ = style;
  kind_->setCurrentIndex(kind_->findData(static_cast<int>(style.kind)));
  method_->setCurrentIndex(method_->findData(static_cast<int>(style.method)));
  classes_->setValue(style.classes);
  fillFields();
  drawing_ = false;
}

void StylePanel::fillFields() {
  const bool wasDrawing = drawing_;
  drawing_ = true;
  const auto kind = static_cast<map::StyleKind>(kind_->currentData().toInt());
  field_->clear();
  const bool graduated = kind == map::StyleKind::Graduated;
  for (const FieldChoice& f : fields_) {
    if (graduated && !f.numeric) continue;
    field_->addItem(QString::fromStdString(f.name));
    if (f.isNew) {
      const int i = field_->count() - 1;
      QFont bold = field_->font();
      bold.setBold(true);
      field_->setItemData(i, bold, Qt::FontRole);
      field_->setItemData(i, QStringLiteral("New: written by the last operation"), Qt::ToolTipRole);
    }
  }
  // The field stays what it was when the new kind can use it; categories
  // start from the class field, graduated colours from a field just written.
  int index = field_->findText(QString::fromStdString(shown_.field));
  if (index < 0 && kind == map::StyleKind::Categories) index = field_->findText(QString::fromStdString(categoryDefault_));
  if (index < 0) index = field_->count() > 0 ? 0 : -1;
  field_->setCurrentIndex(index);
  field_->setEnabled(kind != map::StyleKind::Single && field_->count() > 0);
  method_->setEnabled(graduated);
  classes_->setEnabled(graduated);
  drawing_ = wasDrawing;
}

map::Style StylePanel::chosenStyle() const {
  map::Style s;
  s.kind = static_cast<map::StyleKind>(kind_->currentData().toInt());
  s.field = s.kind == map::StyleKind::Single ? shown_.field : field_->currentText().toStdString();
  s.method = static_cast<map::BreakMethod>(method_->currentData().toInt());
  s.classes = classes_->value();
  return s;
}

void StylePanel::userChanged() {
  map::Style s = chosenStyle();
  // A kind without a field to use stays one colour.
  if (s.kind != map::StyleKind::Single && s.field.empty()) s.kind = map::StyleKind::Single;
  shown_ = s;
  emit styleChosen(s);
}

}  // namespace quilta::desktop
