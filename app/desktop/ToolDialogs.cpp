#include "app/desktop/ToolDialogs.h"

#include <algorithm>
#include <climits>

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/desktop/ResultDialog.h"
#include "results/ResultWindows.h"

namespace quilta::desktop {
namespace {

QFrame* frame(QWidget* parent) {
  auto* f = new QFrame(parent);
  f->setFrameShape(QFrame::StyledPanel);
  f->setFrameShadow(QFrame::Sunken);
  return f;
}

// The logo of a partner site: its short name on a coloured plate.
QPixmap logo(const QString& name, const QColor& colour) {
  QPixmap pixmap(112, 40);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawRoundedRect(QRectF(1, 1, 110, 38), 6, 6);
  QFont font;
  font.setBold(true);
  font.setPointSize(14);
  font.setLetterSpacing(QFont::AbsoluteSpacing, 2);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(pixmap.rect(), Qt::AlignCenter, name);
  return pixmap;
}

// A progress value on a bar that counts in int: large ranges are scaled.
struct BarRange {
  int max;
  int value;
};
BarRange barRange(const ProgressBar& bar) {
  std::int64_t span = std::max<std::int64_t>(bar.max - bar.min, 0);
  std::int64_t value = std::clamp<std::int64_t>(bar.value - bar.min, 0, span);
  if (span == 0) return {1, 0};  // nothing to count: an empty bar, not a busy indicator
  std::int64_t divisor = span / INT_MAX + 1;
  return {static_cast<int>(span / divisor), static_cast<int>(value / divisor)};
}

}  // namespace

// --- MainDialog ------------------------------------------------------------

MainDialog::MainDialog(frmMain& model, QWidget* parent) : WindowDialog(model, parent), main_(model) {
  for (const auto& [name, control] : model.clickables()) {
    if (name.rfind("img", 0) == 0) continue;
    const std::string control_name = name;
    makeButton(
        control_name, [this, control_name] { main_.click(control_name); }, control_name == "cmdCancel");
  }
  auto* outer = new QVBoxLayout(this);

  title_ = bold({}, this);
  title_->setObjectName("lblQuilta_Extension");
  QFont titleFont = title_->font();
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
  title_->setFont(titleFont);
  title_->setAlignment(Qt::AlignCenter);
  outer->addWidget(title_);

  // Documentation.
  auto* documentation = frame(this);
  auto* docRow = new QHBoxLayout(documentation);
  docRow->addWidget(bold(QStringLiteral("  Documentation"), documentation));
  docRow->addStretch();
  docRow->addWidget(button("cmdVETRIX"));
  outer->addWidget(documentation);

  // Analyses: patch metrics on the left, statistics on the right, the class
  // block below.
  auto* analysis = frame(this);
  auto* grid = new QGridLayout(analysis);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);
  auto* left = new QVBoxLayout;
  left->addWidget(button("cmdArea"));
  left->addSpacing(8);
  left->addWidget(bold(QStringLiteral("Proximity Analysis"), analysis));
  left->addWidget(button("cmdClasses"));
  auto* proximityRow = new QHBoxLayout;
  proximityRow->addWidget(button("cmdPXfrag"), 1);
  for (const char* small : {"cmdPX", "cmdPX94"}) {
    button(small)->setMaximumWidth(52);
    proximityRow->addWidget(button(small));
  }
  left->addLayout(proximityRow);
  left->addStretch();
  auto* right = new QVBoxLayout;
  for (const char* name : {"cmdAreaForm", "cmdEdges", "cdmshpIx", "cmdCore", "cmdDiversity", "cmdDivision"})
    right->addWidget(button(name));
  grid->addLayout(left, 0, 0);
  grid->addLayout(right, 0, 1);

  auto* classes = new QGridLayout;
  classes->addWidget(new QLabel(QStringLiteral("selected class field:"), analysis), 0, 0);
  lblclass_ = bold({}, analysis);
  lblclass_->setObjectName("lblclass");
  classes->addWidget(lblclass_, 0, 1);
  classes->addWidget(button("cmdField"), 0, 2);
  classes->addWidget(new QLabel(QStringLiteral("selected classes: "), analysis), 1, 0);
  lblselected_ = bold({}, analysis);
  lblselected_->setObjectName("lblselected");
  classes->addWidget(lblselected_, 1, 1);
  classes->addWidget(button("cmdClass"), 1, 2);
  classes->setColumnStretch(1, 1);
  auto* line = new QFrame(analysis);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  grid->addWidget(line, 1, 0, 1, 2);
  grid->addLayout(classes, 2, 0, 1, 2);
  outer->addWidget(analysis);

  // Utilities beside About, Help and Close.
  auto* lowerRow = new QHBoxLayout;
  auto* utilities = frame(this);
  auto* utilityLayout = new QGridLayout(utilities);
  utilityLayout->addWidget(bold(QStringLiteral("  Utilities"), utilities), 0, 0, 1, 2);
  utilityLayout->addWidget(button("cmdDelFlds"), 1, 0);
  utilityLayout->addWidget(button("cmdDissolveID"), 1, 1);
  lowerRow->addWidget(utilities, 1);
  auto* closing = frame(this);
  auto* closingLayout = new QHBoxLayout(closing);
  for (const char* name : {"cmdAbout", "cmdHelp", "cmdClose"}) closingLayout->addWidget(button(name));
  lowerRow->addWidget(closing);
  outer->addLayout(lowerRow);

  // Logo links.
  auto* logos = frame(this);
  auto* logoRow = new QHBoxLayout(logos);
  const std::pair<const char*, QColor> plates[] = {{"imgMOLT", QColor(0x3b, 0x7d, 0x3b)},
                                                   {"imgBRIM", QColor(0x2f, 0x5d, 0x8a)},
                                                   {"imgKVAR", QColor(0x8a, 0x5a, 0x2f)}};
  for (const auto& [name, colour] : plates) {
    const std::string image = name;
    auto* label = new ClickableLabel(
        [this, image] {
          if (!busy()) forward([this, image] { main_.click(image); });
        },
        logos);
    label->setObjectName(name);
    label->setPixmap(logo(QString::fromLatin1(name + 3), colour));
    label->setCursor(Qt::PointingHandCursor);
    label->setAlignment(Qt::AlignCenter);
    logoRow->addWidget(label);
    images_[image] = label;
  }
  outer->addWidget(logos);

  // Progress of a running operation.
  auto* progressRow = new QHBoxLayout;
  progress_ = new QProgressBar(this);
  progress_->setObjectName("ProgressBar1");
  progress_->setTextVisible(false);
  QSizePolicy keep = progress_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  progress_->setSizePolicy(keep);
  progressRow->addWidget(progress_, 1);
  progressRow->addWidget(button("cmdCancel"));
  outer->addLayout(progressRow);

  refresh();
}

void MainDialog::draw() {
  title_->setText(QString::fromStdString(main_.lblQuilta_Extension.caption));
  for (const auto& [name, control] : main_.clickables()) {
    if (auto* b = button(name)) drawButton(b, *control);
    auto image = images_.find(name);
    if (image != images_.end()) image->second->setToolTip(QString::fromStdString(control->tooltip));
  }
  lblclass_->setText(QString::fromStdString(main_.lblclass.caption));
  lblselected_->setText(QString::fromStdString(main_.lblselected.caption));
  const BarRange range = barRange(main_.ProgressBar1);
  if (progress_->maximum() != range.max) progress_->setRange(0, range.max);
  if (progress_->value() != range.value) progress_->setValue(range.value);
  if (progress_->isVisibleTo(this) != main_.ProgressBar1.visible) progress_->setVisible(main_.ProgressBar1.visible);
}

void MainDialog::paintNow() {
  if (progress_->isVisible()) progress_->repaint();
  if (QPushButton* cancel = button("cmdCancel"); cancel && cancel->isVisible()) cancel->repaint();
}

// --- choosers --------------------------------------------------------------

namespace {

// The list above, the buttons in a row below.
template <class Dialog>
ListBoxView* chooserLayout(Dialog* dialog, ListBox& list, const char* listName,
                           std::initializer_list<const char*> buttonNames,
                           const std::function<void(const std::function<void()>&)>& forward) {
  auto* layout = new QVBoxLayout(dialog);
  auto* view = new ListBoxView(list, forward, dialog);
  view->setObjectName(listName);
  layout->addWidget(view, 1);
  auto* row = new QHBoxLayout;
  for (const char* name : buttonNames) row->addWidget(dialog->button(name));
  layout->addLayout(row);
  return view;
}

}  // namespace

FieldsDialog::FieldsDialog(frmFields& model, QWidget* parent) : WindowDialog(model, parent), fields_(model) {
  makeButton("cmdlist", [this] { fields_.cmdlist_Click(); });
  makeButton("cmdnoclass", [this] { fields_.cmdnoclass_Click(); });
  makeButton("cmdCancel1", [this] { fields_.cmdCancel1_Click(); });
  list_ = chooserLayout(this, model.lstFieldNames, "lstFieldNames", {"cmdlist", "cmdnoclass", "cmdCancel1"},
                        [this](const std::function<void()>& h) { forward(h); });
  resize(340, 360);
  refresh();
}

void FieldsDialog::draw() {
  drawButton(button("cmdlist"), fields_.cmdlist);
  drawButton(button("cmdnoclass"), fields_.cmdnoclass);
  drawButton(button("cmdCancel1"), fields_.cmdCancel1);
  list_->draw();
}

ClassesDialog::ClassesDialog(frmClasses& model, QWidget* parent) : WindowDialog(model, parent), classes_(model) {
  makeButton("cmdclasslist", [this] { classes_.cmdclasslist_Click(); });
  makeButton("cmdSelectAll", [this] { classes_.cmdSelectAll_Click(); });
  makeButton("cmdCancel2", [this] { classes_.cmdCancel2_Click(); });
  list_ = chooserLayout(this, model.lstClassNames, "lstClassNames", {"cmdclasslist", "cmdSelectAll", "cmdCancel2"},
                        [this](const std::function<void()>& h) { forward(h); });
  resize(340, 400);
  refresh();
}

void ClassesDialog::draw() {
  drawButton(button("cmdclasslist"), classes_.cmdclasslist);
  drawButton(button("cmdSelectAll"), classes_.cmdSelectAll);
  drawButton(button("cmdCancel2"), classes_.cmdCancel2);
  list_->draw();
}

DelFieldsDialog::DelFieldsDialog(frmDelFields& model, QWidget* parent)
    : WindowDialog(model, parent), delFields_(model) {
  makeButton("cmdDelFlds", [this] { delFields_.cmdDelFlds_Click(); });
  makeButton("cmdCancel2", [this] { delFields_.cmdCancel2_Click(); });
  list_ = chooserLayout(this, model.lstDelFlds, "lstDelFlds", {"cmdDelFlds", "cmdCancel2"},
                        [this](const std::function<void()>& h) { forward(h); });
  resize(340, 400);
  refresh();
}

void DelFieldsDialog::draw() {
  drawButton(button("cmdDelFlds"), delFields_.cmdDelFlds);
  drawButton(button("cmdCancel2"), delFields_.cmdCancel2);
  list_->draw();
}

// --- AboutDialog -----------------------------------------------------------

AboutDialog::AboutDialog(frmAbout& model, QWidget* parent) : WindowDialog(model, parent), about_(model) {
  makeButton("cmdOK", [this] { about_.cmdOK_Click(); });
  auto* layout = new QVBoxLayout(this);
  text_ = new QPlainTextEdit(this);
  text_->setObjectName("txtAbout");
  layout->addWidget(text_, 1);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(button("cmdOK"));
  layout->addLayout(row);
  connect(text_, &QPlainTextEdit::textChanged, this, [this] {
    if (drawing_) return;
    // The box holds Windows line ends, as the model's text does.
    QString typed = text_->toPlainText();
    typed.replace(QChar('\n'), QStringLiteral("\r\n"));
    about_.txtAbout.text = typed.toStdString();
  });
  resize(520, 320);
  refresh();
}

void AboutDialog::draw() {
  drawButton(button("cmdOK"), about_.cmdOK);
  const QString text = displayText(about_.txtAbout.text);
  if (text_->toPlainText() != text) {
    drawing_ = true;
    text_->setPlainText(text);
    drawing_ = false;
  }
}

// --- dialogs by window name ------------------------------------------------

std::unique_ptr<WindowDialog> makeDialog(WindowModel& model, QWidget* parent) {
  const std::string& name = model.name();
  if (name == "frmMain") return std::make_unique<MainDialog>(dynamic_cast<frmMain&>(model), parent);
  if (name == "frmFields") return std::make_unique<FieldsDialog>(dynamic_cast<frmFields&>(model), parent);
  if (name == "frmClasses") return std::make_unique<ClassesDialog>(dynamic_cast<frmClasses&>(model), parent);
  if (name == "frmDelFields") return std::make_unique<DelFieldsDialog>(dynamic_cast<frmDelFields&>(model), parent);
  if (name == "frmAbout") return std::make_unique<AboutDialog>(dynamic_cast<frmAbout&>(model), parent);
  for (const char* result :
       {"frmArea", "frmEdges", "frmForm", "frmCoreArea", "frmDiversity", "frmProximity", "frmDivision"})
    if (name == result) return std::make_unique<ResultDialog>(dynamic_cast<ResultWindow&>(model), parent);
  return nullptr;
}

}  // namespace quilta::desktop
