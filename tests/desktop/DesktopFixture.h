#pragma once
// Driving the desktop program's dialogs without a display or a person: the
// application object, actions that run once a modal window is up (as a user
// would react to it), and a watchdog that closes windows a test forgot.

#include <gtest/gtest.h>

#include <functional>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

namespace quilta::test {

// The one application object of the test program (offscreen unless the
// environment names another platform).
inline QApplication& application() {
  static QApplication* app = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "desktop_tests";
    static char* argv[] = {name, nullptr};
    // The offscreen platform remarks on every window it cannot size by hints;
    // keep the test log for the tests.
    static const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
          if (previous && !message.contains(QLatin1String("does not support propagateSizeHints")))
            previous(type, context, message);
        });
    return new QApplication(argc, argv);
  }();
  return *app;
}

// Runs `action` once the active modal window is the one called `name`: a
// window model's name ("frmFields") or the class of a standard dialog
// ("QMessageBox", "QFileDialog", "QInputDialog").
inline void whenShown(const QString& name, std::function<void(QWidget*)> action) {
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, name, action] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || !w->isVisible() || (w->objectName() != name && QString(w->metaObject()->className()) != name)) return;
    poll->stop();
    poll->deleteLater();
    action(w);
  });
  poll->start();
}

// Clicks the button called `name` in `window`; fails the test when absent.
inline void clickButton(QWidget* window, const QString& name) {
  auto* button = window->findChild<QAbstractButton*>(name);
  ASSERT_NE(button, nullptr) << "no button " << name.toStdString();
  ASSERT_TRUE(button->isVisible()) << "button " << name.toStdString() << " is hidden";
  button->click();
}

class DesktopTest : public ::testing::Test {
 protected:
  DesktopTest() {
    // A window left open would block the test for ever: close it and fail.
    watchdog_.setSingleShot(true);
    QObject::connect(&watchdog_, &QTimer::timeout, [] {
      ADD_FAILURE() << "a window was still open after 20 s";
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->done(QDialog::Rejected);
    });
    watchdog_.start(20000);
  }

 private:
  QApplication& application_ = application();  // before any timer
  QTimer watchdog_;
};

}  // namespace quilta::test
