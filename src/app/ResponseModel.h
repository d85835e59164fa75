// The response table as a Qt item model: the cells are kept as made, so filling a view
// with 2000 rows costs one model reset, not one widget item per cell.
#pragma once

#include <QAbstractTableModel>

#include "app/ResponseTable.h"

namespace vantrel {

class ResponseModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;

  // Rows and columns of the table; an empty table has neither.
  void SetTable(ResponseTable table);
  void Clear() { SetTable({}); }
  const ResponseTable& table() const { return table_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  ResponseTable table_;
};

}  // namespace vantrel
