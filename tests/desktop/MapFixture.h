#pragma once
// A map shell over small layers of hand-checkable patches, and the user's
// mouse on the map.

#include <memory>

#include <QMouseEvent>
#include <QWheelEvent>

#include "app/desktop/MapView.h"
#include "app/desktop/MapWindow.h"
#include "app/desktop/QtWindowSystem.h"
#include "host/HostApplication.h"
#include "metrics/Extension.h"
#include "tests/desktop/DesktopFixture.h"
#include "tests/support/Fixtures.h"

namespace quilta::test {

class MapTest : public DesktopTest {
 protected:
  TempDir dir;
  HostApplication host;
  desktop::QtWindowSystem ws;

  // Eight patches with the nearest-neighbour fields:
  //   0  a 10 x 10 frame of forest with a 4 x 4 hole, NNDist 2, NNId 1
  //   1  forest east of it, 2 away, NNDist 2, NNId 0
  //   2  water, alone in its class: NNDist -999, NNId 0
  //   3..7 meadow squares with NNDist 1, 3, 4, 5, 6
  std::filesystem::path metricsLayer() {
    auto shp = dir / "patches.shp";
    auto row = [](const std::string& wkt, const char* cover, double dist, double id) {
      return Row{wkt, {Value(std::string(cover)), Value(dist), Value(id)}};
    };
    std::vector<Row> rows = {
        row("POLYGON((0 0,10 0,10 10,0 10,0 0),(3 3,7 3,7 7,3 7,3 3))", "forest", 2, 1),
        row(rect(12, 0, 16, 4), "forest", 2, 0),
        row(rect(0, 12, 4, 16), "water", -999, 0),
    };
    const double dists[] = {1, 3, 4, 5, 6};
    for (int i = 0; i < 5; ++i) rows.push_back(row(rect(6.0 + 2 * i, 12, 7.0 + 2 * i, 13), "meadow", dists[i], 0));
    writeShapefile(shp, {{"cover", 'S', 12}, {"NNDist", 'R', 19, 6}, {"NNId", 'R', 19, 6}}, rows);
    return shp;
  }

  // The map shell over metricsLayer(), shown.
  std::unique_ptr<Extension> ext;
  std::unique_ptr<desktop::MapWindow> window;
  PolygonLayer* layer = nullptr;
  desktop::MapView& openWindow() {
    layer = &host.document().addShapefile(metricsLayer());
    ext = std::make_unique<Extension>(host, ws, dir.path());
    window = std::make_unique<desktop::MapWindow>(host, *ext, ws);
    ws.setOwner(window.get());
    window->resize(1100, 800);
    window->show();
    QApplication::processEvents();
    return *window->mapView();
  }

  // The colour the view shows at a map point.
  static QColor pixel(const QImage& image, const desktop::MapView& view, double x, double y) {
    auto at = view.toWidget(QPointF(x, y));
    if (!at) return {};
    return image.pixelColor(at->toPoint());
  }
  // A click (press and release in place) at a widget point.
  static void click(QWidget* w, const QPointF& at) {
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &release);
  }
  // A drag with the left button from one widget point to another.
  static void drag(QWidget* w, const QPointF& from, const QPointF& to) {
    QMouseEvent press(QEvent::MouseButtonPress, from, w->mapToGlobal(from), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    const QPointF mid = (from + to) / 2;
    QMouseEvent move(QEvent::MouseMove, mid, w->mapToGlobal(mid), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, to, w->mapToGlobal(to), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &release);
  }
  // Wheel notches (positive: away from the user, zooming in) at a point.
  static void wheel(QWidget* w, const QPointF& at, int notches) {
    QWheelEvent event(at, w->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
  }
  // Runs the steps one after the other, each once its window is the active
  // modal one: a step may open the next window, whose step is then ready.
  static void inTurn(std::vector<std::pair<QString, std::function<void(QWidget*)>>> steps, std::size_t i = 0) {
    if (i >= steps.size()) return;
    const QString name = steps[i].first;
    whenShown(name, [steps, i](QWidget* w) {
      inTurn(steps, i + 1);
      steps[i].second(w);
    });
  }
  static void pressOk(QWidget* w) {
    for (auto* b : w->findChildren<QAbstractButton*>())
      if (b->text().remove('&') == QLatin1String("OK")) return b->click();
    ADD_FAILURE() << "no OK button";
  }
};

}  // namespace quilta::test
