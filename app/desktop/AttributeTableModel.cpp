#include "app/desktop/AttributeTableModel.h"

#include <algorithm>
#include <exception>

#include "host/FeatureTable.h"
#include "map/TableOrder.h"
#include "session/NumberText.h"

namespace quilta::desktop {

void AttributeTableModel::setTable(FeatureTable* table) {
  beginResetModel();
  table_ = nullptr;
  oids_.clear();
  rows_.clear();
  columns_ = 0;
  try {
    if (table) {
      columns_ = table->fieldCount();
      table_ = table;
      order();
    }
  } catch (...) {
    table_ = nullptr;
    oids_.clear();
    rows_.clear();
    columns_ = 0;
    endResetModel();
    throw;
  }
  endResetModel();
}

void AttributeTableModel::order() {
  const int field = sortField_.empty() ? -1 : table_->findField(sortField_);
  oids_ = field < 0 ? table_->selectAll().oids()
                    : map::sortedByField(*table_, field, sortOrder_ == Qt::AscendingOrder);
  rows_.assign(oids_.empty() ? 0 : static_cast<std::size_t>(*std::max_element(oids_.begin(), oids_.end())) + 1, -1);
  for (std::size_t r = 0; r < oids_.size(); ++r) rows_[static_cast<std::size_t>(oids_[r])] = static_cast<int>(r);
}

void AttributeTableModel::sort(int column, Qt::SortOrder order) {
  if (!table_ || column < 0 || column >= columns_) return;
  beginResetModel();
  try {
    sortField_ = table_->field(column).name;
    sortOrder_ = order;
    this->order();
  } catch (const std::exception&) {
    // The table could not be read: the rows stay as they were.
  }
  endResetModel();
}

std::int64_t AttributeTableModel::oidAt(int row) const {
  return row >= 0 && row < rowCount() ? oids_[static_cast<std::size_t>(row)] : -1;
}

int AttributeTableModel::rowOf(std::int64_t oid) const {
  return oid >= 0 && static_cast<std::size_t>(oid) < rows_.size() ? rows_[static_cast<std::size_t>(oid)] : -1;
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
