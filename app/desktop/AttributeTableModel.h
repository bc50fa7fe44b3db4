#pragma once
// The attribute table of a layer for a table view: one row per feature in
// identifier order, one column per field in host order, values as text.
// Read-only.

#include <cstdint>
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

 private:
  FeatureTable* table_ = nullptr;
  std::vector<std::int64_t> oids_;
  int columns_ = 0;
};

}  // namespace quilta::desktop
