#include "app/desktop/ResultDialog.h"

#include <algorithm>

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace quilta::desktop {
namespace {

QPlainTextEdit* multiLine(QWidget* parent, int lines) {
  auto* box = new QPlainTextEdit(parent);
  box->setReadOnly(true);
  box->setFixedHeight(box->fontMetrics().lineSpacing() * lines + 12);
  return box;
}

void setText(QWidget* box, const QString& text) {
  if (auto* line = qobject_cast<QLineEdit*>(box)) {
    if (line->text() != text) line->setText(text), line->setCursorPosition(0);
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(box)) {
    if (plain->toPlainText() != text) plain->setPlainText(text);
  }
}

}  // namespace

ResultDialog::ResultDialog(ResultWindow& model, QWidget* parent) : WindowDialog(model, parent), window_(model) {
  makeButton("cmdTextfile", [this] { window_.cmdTextfile_Click(); });
  if (model.hasLandscapeLevel()) makeButton("cmdLandscape", [this] { window_.cmdLandscape_Click(); });
  makeButton("cmdClose", [this] { window_.cmdClose_Click(); });

  auto* outer = new QVBoxLayout(this);
  auto* layerRow = new QHBoxLayout;
  layerRow->addWidget(bold(QString::fromStdString(model.lblLayerName.caption), this));
  layerName_ = new QLineEdit(this);
  layerName_->setObjectName("txtLayername");
  layerName_->setReadOnly(true);
  layerRow->addWidget(layerName_, 1);
  outer->addLayout(layerRow);

  auto* frame = new QGroupBox(this);
  frame->setObjectName("Frame1");
  auto* inside = new QVBoxLayout(frame);
  inside->addWidget(bold(QString::fromStdString(model.lblClassLevel.caption), frame));
  list_ = new QTreeWidget(frame);
  list_->setObjectName("lstViewClass");
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAlternatingRowColors(true);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->header()->setSectionsMovable(false);
  list_->header()->setStretchLastSection(false);
  list_->setMinimumHeight(160);
  inside->addWidget(list_, 1);

  if (model.lblLandscapeLevel.visible) {
    inside->addSpacing(6);
    inside->addWidget(bold(QString::fromStdString(model.lblLandscapeLevel.caption), frame));
    auto* values = new QGridLayout;
    values->setColumnStretch(3, 1);
    int row = 0;
    for (const auto& value : model.landscapeValues()) {
      QWidget* box;
      if (value.label.empty()) {
        // An information text without a label of its own spans the row.
        box = multiLine(frame, 2);
        values->addWidget(box, row, 0, 1, 4);
      } else {
        values->addWidget(new QLabel(QString::fromStdString(value.label), frame), row, 0);
        auto* line = new QLineEdit(frame);
        line->setReadOnly(true);
        line->setMinimumWidth(200);
        box = line;
        values->addWidget(box, row, 1);
        if (!value.unit.empty()) values->addWidget(new QLabel(QString::fromStdString(value.unit), frame), row, 2);
      }
      box->setObjectName(QString::fromStdString(value.control));
      values_.push_back(box);
      ++row;
    }
    inside->addLayout(values);
  }
  if (dynamic_cast<frmForm*>(&model)) {
    artefact_ = multiLine(frame, 7);
    artefact_->setObjectName("txtArtefact");
    artefact_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    inside->addWidget(artefact_);
  }
  outer->addWidget(frame, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(button("cmdTextfile"));
  if (auto* landscape = button("cmdLandscape")) buttons->addWidget(landscape);
  buttons->addStretch();
  buttons->addWidget(button("cmdClose"));
  outer->addLayout(buttons);

  resize(620, 540);
  refresh();
}

void ResultDialog::draw() {
  drawButton(button("cmdTextfile"), window_.cmdTextfile);
  if (auto* landscape = button("cmdLandscape")) drawButton(landscape, window_.cmdLandscape);
  drawButton(button("cmdClose"), window_.cmdClose);
  setText(layerName_, QString::fromStdString(window_.txtLayername.text));
  drawList();
  const auto values = window_.landscapeValues();
  for (std::size_t i = 0; i < values.size() && i < values_.size(); ++i)
    setText(values_[i], displayText(values[i].box->text));
  if (artefact_) {
    const auto& form = dynamic_cast<const frmForm&>(window_);
    setText(artefact_, displayText(form.txtArtefact.text));
    artefact_->setVisible(form.txtArtefact.visible);
  }
}

void ResultDialog::drawList() {
  const ListView& view = window_.lstViewClass;
  if (view.columns == drawnColumns_ && view.rows == drawnRows_) return;
  if (view.columns != drawnColumns_) {
    QStringList headers;
    for (const auto& c : view.columns) headers << QString::fromStdString(c);
    list_->setColumnCount(static_cast<int>(view.columns.size()));
    list_->setHeaderLabels(headers);
    for (int c = 1; c < list_->columnCount(); ++c)
      list_->headerItem()->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
  }
  list_->clear();
  QList<QTreeWidgetItem*> items;
  for (const auto& row : view.rows) {
    QStringList texts;
    for (const auto& cell : row) texts << QString::fromStdString(cell);
    auto* item = new QTreeWidgetItem(texts);
    // Values read best aligned on the right; the class stays on the left.
    for (int c = 1; c < texts.size(); ++c) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    items << item;
  }
  list_->addTopLevelItems(items);
  for (int c = 0; c < list_->columnCount(); ++c) {
    list_->resizeColumnToContents(c);
    list_->setColumnWidth(c, std::max(list_->columnWidth(c) + 16, 70));
  }
  drawnColumns_ = view.columns;
  drawnRows_ = view.rows;
}

}  // namespace quilta::desktop
