#include "app/desktop/MapUnitsDialog.h"

#include <algorithm>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>

#include "host/HostApplication.h"

namespace quilta::desktop {
namespace {

struct Units {
  int code;
  const char* name;
};
constexpr Units kUnits[] = {{kUnitsUndefined, "Undefined"},
                            {kInches, "Inches"},
                            {kFeet, "Feet"},
                            {kYards, "Yards"},
                            {kMiles, "Miles"},
                            {kMillimeters, "Millimeters"},
                            {kCentimeters, "Centimeters"},
                            {kMeters, "Meters"},
                            {kKilometers, "Kilometers"},
                            {kDecimalDegrees, "Decimal Degrees"}};

QComboBox* unitsBox(int current, QWidget* parent) {
  auto* box = new QComboBox(parent);
  for (const auto& u : kUnits) box->addItem(QString::fromLatin1(u.name), u.code);
  box->setCurrentIndex(std::max(0, box->findData(current)));
  return box;
}

}  // namespace

QString unitsName(int code) {
  for (const auto& u : kUnits)
    if (u.code == code) return QString::fromLatin1(u.name);
  return QStringLiteral("Undefined");
}

MapUnitsDialog::MapUnitsDialog(FocusMap& map, QWidget* parent) : QDialog(parent), map_(map) {
  setWindowTitle(QStringLiteral("Map Units"));
  auto* form = new QFormLayout(this);
  mapUnits_ = unitsBox(map.mapUnits(), this);
  mapUnits_->setObjectName("mapUnits");
  distanceUnits_ = unitsBox(map.distanceUnits(), this);
  distanceUnits_->setObjectName("distanceUnits");
  form->addRow(QStringLiteral("Map units:"), mapUnits_);
  form->addRow(QStringLiteral("Distance units:"), distanceUnits_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(this, &QDialog::accepted, this, [this] { apply(); });
}

void MapUnitsDialog::apply() {
  map_.setMapUnits(mapUnits_->currentData().toInt());
  map_.setDistanceUnits(distanceUnits_->currentData().toInt());
}

}  // namespace quilta::desktop
