#include "app/ResponseModel.h"

namespace vantrel {

void ResponseModel::SetTable(ResponseTable table) {
  beginResetModel();
  table_ = std::move(table);
  endResetModel();
}

int ResponseModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(table_.rows.size());
}

int ResponseModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(table_.columns.size());
}

QVariant ResponseModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  const auto& row = table_.rows[static_cast<std::size_t>(index.row())];
  return QString::fromStdString(row[static_cast<std::size_t>(index.column())]);
}

QVariant ResponseModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 ||
      section >= static_cast<int>(table_.columns.size())) {
    return {};
  }
  if (role == Qt::DisplayRole) return QString::fromLatin1(table_.columns[static_cast<std::size_t>(section)].caption);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

}  // namespace vantrel
