#include "app/desktop/WindowDialog.h"

#include <exception>

#include <QMouseEvent>
#include <QPushButton>

#include "app/desktop/QtWindowSystem.h"

namespace quilta::desktop {

QString displayText(const std::string& text) {
  QString s = QString::fromStdString(text);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QChar('\r'), QChar('\n'));
  return s;
}

// --- WindowDialog ----------------------------------------------------------

WindowDialog::WindowDialog(WindowModel& model, QWidget* parent) : QDialog(parent), model_(model) {
  setObjectName(QString::fromStdString(model.name()));
  setModal(true);
}

void WindowDialog::refresh() {
  if (windowTitle() != QString::fromStdString(model_.caption)) setWindowTitle(QString::fromStdString(model_.caption));
  draw();
  if (!model_.open && isVisible()) done(QDialog::Accepted);
}

QPushButton* WindowDialog::button(const std::string& control) const {
  auto it = buttons_.find(control);
  return it == buttons_.end() ? nullptr : it->second;
}

void WindowDialog::forward(const std::function<void()>& handler) {
  ++busy_;
  try {
    handler();
  } catch (const std::exception& e) {
    showMessageBox(this, MessageBox{"Unexpected error!", kComponentTitle, Buttons::OK, Icon::Critical, e.what()});
  }
  --busy_;
  refresh();
}

QPushButton* WindowDialog::makeButton(const std::string& control, std::function<void()> handler, bool whileBusy) {
  auto* b = new QPushButton(this);
  b->setObjectName(QString::fromStdString(control));
  // Enter in a list or text box must not start an analysis.
  b->setAutoDefault(false);
  // Hidden buttons keep their place so the layout does not jump.
  QSizePolicy policy = b->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  b->setSizePolicy(policy);
  connect(b, &QPushButton::clicked, this, [this, control, h = std::move(handler), whileBusy] {
    // A second operation must not start inside a running one.
    if (busy() && !whileBusy) return;
    forward(h);
    if (afterClick_ && !busy()) afterClick_(control);
  });
  buttons_[control] = b;
  return b;
}

void WindowDialog::drawButton(QPushButton* button, const Control& control) {
  const QString caption = QString::fromStdString(control.caption);
  if (button->text() != caption) button->setText(caption);
  button->setToolTip(QString::fromStdString(control.tooltip));
  if (button->isVisibleTo(button->parentWidget()) != control.visible) button->setVisible(control.visible);
}

void WindowDialog::reject() {
  if (busy()) return;
  model_.hide();
  QDialog::reject();
}

// --- ListBoxView -----------------------------------------------------------

ListBoxView::ListBoxView(ListBox& list, std::function<void(const std::function<void()>&)> forward, QWidget* parent)
    : QListWidget(parent), list_(list), forward_(std::move(forward)) {
  setSelectionMode(list.multiSelect ? QAbstractItemView::MultiSelection : QAbstractItemView::SingleSelection);
  connect(this, &QListWidget::itemSelectionChanged, this, [this] {
    if (!drawing_) selectionChangedByUser();
  });
}

void ListBoxView::draw() {
  drawing_ = true;
  bool same = count() == static_cast<int>(list_.items.size());
  for (int i = 0; same && i < count(); ++i)
    same = item(i)->text() == QString::fromStdString(list_.items[static_cast<std::size_t>(i)]);
  if (!same) {
    clear();
    for (const auto& text : list_.items) addItem(QString::fromStdString(text));
  }
  for (int i = 0; i < count(); ++i) {
    const bool selected = static_cast<std::size_t>(i) < list_.selected.size() && list_.selected[i];
    if (item(i)->isSelected() != selected) item(i)->setSelected(selected);
  }
  drawing_ = false;
}

void ListBoxView::selectionChangedByUser() {
  // Items whose selection the user changed become clicks on the model: in a
  // multiple selection every toggled item, in a single selection the newly
  // chosen one.
  std::vector<std::size_t> clicked;
  for (int i = 0; i < count() && static_cast<std::size_t>(i) < list_.items.size(); ++i) {
    const std::size_t index = static_cast<std::size_t>(i);
    const bool shown = item(i)->isSelected();
    if (shown == list_.selected[index]) continue;
    if (list_.multiSelect || shown) clicked.push_back(index);
  }
  forward_([this, clicked] {
    for (std::size_t index : clicked) list_.click(index);
  });
  draw();
}

// --- ClickableLabel --------------------------------------------------------

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && onClick_) onClick_();
  QLabel::mouseReleaseEvent(event);
}

QLabel* bold(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  return label;
}

}  // namespace quilta::desktop
