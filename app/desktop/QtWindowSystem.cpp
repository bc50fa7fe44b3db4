#include "app/desktop/QtWindowSystem.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QUrl>

#include "app/desktop/WindowDialog.h"
#include "host/HostError.h"

namespace quilta::desktop {
namespace {

using namespace std::chrono_literals;

// Events wait at most this long during a long operation before the next
// processing; short enough that Cancel reacts at once.
constexpr auto kProcessingInterval = 15ms;
// Time budget for one round of event processing, in milliseconds.
constexpr int kProcessingBudgetMs = 10;

QMessageBox::Icon qtIcon(Icon icon) {
  switch (icon) {
    case Icon::Exclamation:
      return QMessageBox::Warning;
    case Icon::Information:
      return QMessageBox::Information;
    case Icon::Critical:
      return QMessageBox::Critical;
    case Icon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

Answer showMessageBox(QWidget* parent, const MessageBox& box) {
  QMessageBox dialog(parent);
  dialog.setWindowTitle(QString::fromStdString(box.title));
  dialog.setTextFormat(Qt::PlainText);
  dialog.setText(displayText(box.text));
  dialog.setIcon(qtIcon(box.icon));
  switch (box.buttons) {
    case Buttons::OK:
      dialog.setStandardButtons(QMessageBox::Ok);
      dialog.setEscapeButton(QMessageBox::Ok);
      break;
    case Buttons::OKCancel:
      dialog.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      dialog.setDefaultButton(QMessageBox::Ok);
      dialog.setEscapeButton(QMessageBox::Cancel);
      break;
    case Buttons::YesNo:
      dialog.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      dialog.setDefaultButton(QMessageBox::Yes);
      dialog.setEscapeButton(QMessageBox::No);
      break;
  }
  if (!box.detail.empty()) dialog.setDetailedText(displayText(box.detail));
  dialog.exec();
  switch (dialog.standardButton(dialog.clickedButton())) {
    case QMessageBox::Cancel:
      return Answer::Cancel;
    case QMessageBox::Yes:
      return Answer::Yes;
    case QMessageBox::No:
      return Answer::No;
    default:
      return Answer::OK;
  }
}

QString qtFileFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QChar('|'));
  QStringList filters;
  for (qsizetype i = 0; i < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    QString patterns = i + 1 < parts.size() ? parts[i + 1].trimmed() : description;
    patterns.replace(QChar(';'), QChar(' '));
    if (description.isEmpty() && patterns.isEmpty()) continue;
    filters << (description.isEmpty() ? patterns : description) + " (" + patterns + ")";
  }
  return filters.join(QStringLiteral(";;"));
}

QWidget* QtWindowSystem::dialogParent() const {
  if (!open_.empty()) return open_.back();
  if (owner_) return owner_;
  return QApplication::activeModalWidget();
}

void QtWindowSystem::refreshOpen() {
  const std::vector<WindowDialog*> dialogs = open_;
  for (WindowDialog* dialog : dialogs) dialog->refresh();
}

Answer QtWindowSystem::messageBox(const MessageBox& box) {
  refreshOpen();
  return showMessageBox(dialogParent(), box);
}

std::optional<std::string> QtWindowSystem::inputBox(const InputBox& box) {
  refreshOpen();
  QInputDialog dialog(dialogParent());
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setWindowTitle(QString::fromStdString(box.title));
  dialog.setLabelText(displayText(box.prompt));
  dialog.setTextValue(QString::fromStdString(box.defaultText));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.textValue().toStdString();
}

std::optional<std::string> QtWindowSystem::fileDialog(const FileDialog& request) {
  refreshOpen();
  QFileDialog dialog(dialogParent());
  // The toolkit's own dialog behaves alike everywhere: flags, filter and
  // default extension work the same on every desktop.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setWindowTitle(request.save ? QStringLiteral("Save As") : QStringLiteral("Open"));
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode((request.flags & 4096) != 0 ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  if ((request.flags & 2) == 0) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  const QString filter = qtFileFilter(request.filter);
  if (!filter.isEmpty()) dialog.setNameFilter(filter);
  QString extension = QString::fromStdString(request.defaultExtension);
  while (extension.startsWith(QChar('.'))) extension.remove(0, 1);
  if (!extension.isEmpty()) dialog.setDefaultSuffix(extension);
  if (!lastFolder_.isEmpty()) dialog.setDirectory(lastFolder_);
  if (!request.fileName.empty()) dialog.selectFile(QString::fromStdString(request.fileName));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
  lastFolder_ = QFileInfo(chosen.front()).absolutePath();
  return QDir::toNativeSeparators(chosen.front()).toStdString();
}

void QtWindowSystem::showModal(WindowModel& window) {
  refreshOpen();
  std::unique_ptr<WindowDialog> dialog = makeDialog(window, dialogParent());
  if (!dialog) throw HostError("the desktop program has no dialog for the window " + window.name());
  window.loaded = true;
  window.open = true;
  if (afterClick_)
    dialog->setAfterClick([this, &window](const std::string& control) {
      if (afterClick_) afterClick_(window, control);
    });
  open_.push_back(dialog.get());
  dialog->refresh();
  dialog->exec();
  open_.pop_back();
  window.open = false;
}

bool QtWindowSystem::inputPending() { return std::chrono::steady_clock::now() - lastProcessed_ >= kProcessingInterval; }

void QtWindowSystem::processEvents() {
  lastProcessed_ = std::chrono::steady_clock::now();
  // Draw the progress made before the user reacts to it.
  refreshOpen();
  QCoreApplication::processEvents(QEventLoop::AllEvents, kProcessingBudgetMs);
}

void QtWindowSystem::repaint(WindowModel& window) {
  if (WindowDialog* dialog = dialogFor(window)) {
    dialog->refresh();
    // Hidden controls keep their place, so nothing needs laying out first.
    // (Processing events without user input here instead would park the
    // queued clicks where the next round of processing does not look.)
    dialog->paintNow();
  }
}

WindowDialog* QtWindowSystem::dialogFor(const WindowModel& window) const {
  for (auto it = open_.rbegin(); it != open_.rend(); ++it)
    if (&(*it)->model() == &window) return *it;
  return nullptr;
}

void QtWindowSystem::shellOpen(const std::string& target) {
  const QString text = QString::fromStdString(target);
  const QUrl url = text.contains(QStringLiteral("://")) ? QUrl(text) : QUrl::fromLocalFile(text);
  QDesktopServices::openUrl(url);
}

bool QtWindowSystem::startProgram(const std::string& path, int windowStyle) {
  // A window style (normal, minimised) is the started program's own affair
  // on this desktop.
  (void)windowStyle;
  const QFileInfo program(QString::fromStdString(path));
  if (!program.isFile()) return false;
  return QProcess::startDetached(program.absoluteFilePath(), {}, program.absolutePath());
}

}  // namespace quilta::desktop
