#pragma once
// Where File > Add Layer finds a layer besides a shapefile: the layer of a
// GeoPackage (chosen in a list when it has several polygon layers) and a
// PostGIS table (through a connection dialog that lists the database's
// polygon tables). The dialogs only ask; the host opens what they name.

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "host/LayerSource.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace quilta::desktop {

// A list of layer names to choose one from ("layerChoice").
class LayerChoiceDialog : public QDialog {
  Q_OBJECT

 public:
  LayerChoiceDialog(const QString& prompt, const std::vector<std::string>& names, QWidget* parent = nullptr);
  // The name chosen; none when nothing is selected.
  std::optional<std::string> chosen() const;

 private:
  QListWidget* list_;
  QPushButton* ok_;
};

// The connection to a PostgreSQL database and one of its polygon tables
// ("postgisLayer"): host (or socket folder), port, database, user and
// password; "Connect" lists the tables.
class PostgisDialog : public QDialog {
  Q_OBJECT

 public:
  explicit PostgisDialog(QWidget* parent = nullptr);
  // The connection parameters the fields make ("host='...' dbname='...'").
  std::string parameters() const;
  // The table chosen, as a layer source; none before one is.
  std::optional<LayerSource> source() const;
  // Lists the database's polygon tables, or says why it cannot.
  void connectToDatabase();

 private:
  QLineEdit *host_, *port_, *database_, *user_, *password_;
  QListWidget* tables_;
  QLabel* status_;
  QPushButton* ok_;
};

// The layer of the GeoPackage `path` to add: its only polygon layer, the one
// the user chooses among several, or none when the user cancels. Throws
// HostError when the file cannot be read.
std::optional<LayerSource> chooseGeoPackageLayer(QWidget* parent, const std::string& path);

}  // namespace quilta::desktop
