// quilta-desktop [LAYER.shp ...]: the map shell with the tool's command; the
// shapefiles named on the command line are added to the map at start.

#include <cstdio>

#include <QApplication>
#include <QStringList>

#include "app/desktop/MapWindow.h"
#include "app/desktop/QtWindowSystem.h"
#include "host/HostApplication.h"
#include "metrics/Extension.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quilta Desktop"));
  QStringList layers = QApplication::arguments();
  layers.removeFirst();
  for (const QString& arg : layers) {
    if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
      std::printf("usage: quilta-desktop [LAYER.shp ...]\n");
      return 0;
    }
    if (arg.startsWith(QChar('-'))) {
      std::fprintf(stderr, "quilta-desktop: unknown option %s\nusage: quilta-desktop [LAYER.shp ...]\n",
                   arg.toLocal8Bit().constData());
      return 2;
    }
  }

  quilta::HostApplication host;
  quilta::desktop::QtWindowSystem windows;
  // The help document lies next to the program.
  quilta::Extension extension(host, windows, QApplication::applicationDirPath().toStdString());
  quilta::desktop::MapWindow window(host, extension, windows);
  windows.setOwner(&window);
  window.show();
  for (const QString& layer : layers) window.addLayer(layer);
  return application.exec();
}
