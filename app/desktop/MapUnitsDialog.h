#pragma once
// The map's units: the units of the map coordinates and the units distances
// are given in, each chosen from the host's units codes.

#include <QDialog>

class QComboBox;

namespace quilta {
class FocusMap;
}

namespace quilta::desktop {

class MapUnitsDialog : public QDialog {
 public:
  MapUnitsDialog(FocusMap& map, QWidget* parent = nullptr);
  // Sets the map's units to the chosen ones.
  void apply();

 private:
  FocusMap& map_;
  QComboBox* mapUnits_;
  QComboBox* distanceUnits_;
};

// The name of a units code ("Meters"; "Undefined" for 0 and unknown codes).
QString unitsName(int code);

}  // namespace quilta::desktop
