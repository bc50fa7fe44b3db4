#pragma once
// The attribute table of a layer for a table view: one row per feature, one
// column per field in host order, values as text. Rows come in identifier
// order until the user sorts by a column; the sort is kept (by the field's
// name) when the table is read again after an operation. Read-only.

#include <cstdint>
#include <string>
#include <vector>

#include <QAbstractTableModel>

namespace quilta {
class FeatureTable;
}

namespace quilta::desktop {

class AttributeTableModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  // Shows `table` (null: nothing); also re-reads the fields and features of
  // the same table after they changed. Throws HostError when the table
  // cannot be read (the view then shows nothing).
  void setTable(FeatureTable* table);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Orders the rows by the values of a column (a header click).
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  // The feature a row shows, and the row that shows a feature (-1: none).
  std::int64_t oidAt(int row) const;
  int rowOf(std::int64_t oid) const;

 private:
  void order();
  FeatureTable* table_ = nullptr;
  std::vector<std::int64_t> oids_;
  std::vector<int> rows_;  // by identifier
  int columns_ = 0;
  std::string sortField_;  // empty: identifier order
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

}  // namespace quilta::desktop
