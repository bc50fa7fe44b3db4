#include "app/desktop/AttributeTableModel.h"

#include <exception>

#include "host/FeatureTable.h"
#include "session/NumberText.h"

namespace quilta::desktop {

void AttributeTableModel::setTable(FeatureTable* table) {
  std::vector<std::int64_t> oids;
  int columns = 0;
  if (table) {
    oids = table->selectAll().oids();
    columns = table->fieldCount();
  }
  beginResetModel();
  table_ = table;
  oids_ = std::move(oids);
  columns_ = columns;
  endResetModel();
}

int AttributeTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(oids_.size());
}

int AttributeTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columns_; }

QVariant AttributeTableModel::data(const QModelIndex& index, int role) const {
  if (!table_ || !index.isValid() || index.row() >= rowCount() || index.column() >= columns_) return {};
  if (role != Qt::DisplayRole && role != Qt::TextAlignmentRole) return {};
  const int column = index.column();
  // The geometry column shows the kind of shape, as GIS tables do.
  if (column == 1) return role == Qt::DisplayRole ? QVariant(QStringLiteral("Polygon")) : QVariant();
  try {
    // The table may have changed under the view while an operation runs;
    // read it as it is now.
    if (column >= table_->fieldCount()) return {};
    const Value value = table_->value(oids_[static_cast<std::size_t>(index.row())], column);
    if (role == Qt::TextAlignmentRole) {
      const bool number = std::holds_alternative<std::int64_t>(value) || std::holds_alternative<double>(value);
      return QVariant::fromValue(
          Qt::Alignment(number ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter));
    }
    return QString::fromStdString(text::ofValue(value));
  } catch (const std::exception&) {
    return {};
  }
}

QVariant AttributeTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  if (!table_ || section < 0 || section >= columns_) return {};
  try {
    if (section >= table_->fieldCount()) return {};
    return QString::fromStdString(table_->field(section).name);
  } catch (const std::exception&) {
    return {};
  }
}

Qt::ItemFlags AttributeTableModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

}  // namespace quilta::desktop
