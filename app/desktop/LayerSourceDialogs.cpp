#include "app/desktop/LayerSourceDialogs.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>

namespace quilta::desktop {
namespace {

// A value of a connection parameter, quoted as libpq reads it.
std::string quotedParameter(const QString& value) {
  std::string out = "'";
  for (char c : value.toStdString()) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

}  // namespace

LayerChoiceDialog::LayerChoiceDialog(const QString& prompt, const std::vector<std::string>& names, QWidget* parent)
    : QDialog(parent) {
  setObjectName("layerChoice");
  setWindowTitle(QStringLiteral("Add Layer"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(prompt, this));
  list_ = new QListWidget(this);
  list_->setObjectName("layers");
  for (const auto& n : names) list_->addItem(QString::fromStdString(n));
  layout->addWidget(list_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  ok_->setObjectName("ok");
  ok_->setEnabled(false);
  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) { ok_->setEnabled(row >= 0); });
  connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

std::optional<std::string> LayerChoiceDialog::chosen() const {
  if (!list_->currentItem()) return std::nullopt;
  return list_->currentItem()->text().toStdString();
}

PostgisDialog::PostgisDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("postgisLayer");
  setWindowTitle(QStringLiteral("Add PostGIS Layer"));
  auto* form = new QFormLayout;
  auto field = [this, form](const char* name, const QString& label, const QString& value) {
    auto* edit = new QLineEdit(value, this);
    edit->setObjectName(name);
    form->addRow(label, edit);
    return edit;
  };
  host_ = field("host", QStringLiteral("Host or socket folder:"), QStringLiteral("localhost"));
  port_ = field("port", QStringLiteral("Port:"), QStringLiteral("5432"));
  database_ = field("database", QStringLiteral("Database:"), QString());
  user_ = field("user", QStringLiteral("User:"), QString());
  password_ = field("password", QStringLiteral("Password:"), QString());
  password_->setEchoMode(QLineEdit::Password);

  auto* connectButton = new QPushButton(QStringLiteral("&Connect"), this);
  connectButton->setObjectName("connect");
  connect(connectButton, &QPushButton::clicked, this, &PostgisDialog::connectToDatabase);
  tables_ = new QListWidget(this);
  tables_->setObjectName("tables");
  status_ = new QLabel(this);
  status_->setObjectName("status");
  status_->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  ok_->setObjectName("ok");
  ok_->setEnabled(false);
  connect(tables_, &QListWidget::currentRowChanged, this, [this](int row) { ok_->setEnabled(row >= 0); });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(connectButton);
  layout->addWidget(new QLabel(QStringLiteral("Tables with polygons:"), this));
  layout->addWidget(tables_);
  layout->addWidget(status_);
  layout->addWidget(buttons);
}

std::string PostgisDialog::parameters() const {
  std::string out;
  auto add = [&out](const char* keyword, const QLineEdit* edit) {
    if (edit->text().trimmed().isEmpty()) return;
    out += (out.empty() ? "" : " ") + std::string(keyword) + "=" + quotedParameter(edit->text().trimmed());
  };
  add("host", host_);
  add("port", port_);
  add("dbname", database_);
  add("user", user_);
  add("password", password_);
  return out;
}

void PostgisDialog::connectToDatabase() {
  tables_->clear();
  try {
    const auto names = polygonLayerNames(LayerSource{LayerSource::Kind::PostGIS, parameters(), {}});
    for (const auto& n : names) tables_->addItem(QString::fromStdString(n));
    status_->setText(names.empty() ? QStringLiteral("The database has no table with polygons.")
                                   : QStringLiteral("Choose a table."));
  } catch (const std::exception& e) {
    status_->setText(QString::fromStdString(e.what()));
  }
}

std::optional<LayerSource> PostgisDialog::source() const {
  if (!tables_->currentItem()) return std::nullopt;
  return LayerSource{LayerSource::Kind::PostGIS, parameters(), tables_->currentItem()->text().toStdString()};
}

std::optional<LayerSource> chooseGeoPackageLayer(QWidget* parent, const std::string& path) {
  LayerSource source{LayerSource::Kind::GeoPackage, path, {}};
  const auto names = polygonLayerNames(source);
  if (names.size() <= 1) return source;  // the layer itself says what is wrong with none
  LayerChoiceDialog dialog(QStringLiteral("%1 holds several polygon layers. Add which one?")
                               .arg(QFileInfo(QString::fromStdString(path)).fileName()),
                           names, parent);
  if (dialog.exec() != QDialog::Accepted || !dialog.chosen()) return std::nullopt;
  source.layer = *dialog.chosen();
  return source;
}

}  // namespace quilta::desktop
