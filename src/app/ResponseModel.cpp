#include "app/ResponseModel.h"

#include <QColor>

#include <cstdint>

namespace vantrel {

namespace {

// A changed value stands out for a moment, in a colour that keeps the text readable.
const QColor kChangedBackground(0xFF, 0xE8, 0x8C);
const QColor kStaleText(0x90, 0x90, 0x90);
constexpr std::int64_t kUnmarked = INT64_MIN;

bool SameShape(const ResponseTable& a, const ResponseTable& b) {
  if (a.function != b.function || a.firstOffset != b.firstOffset || a.rows.size() != b.rows.size() ||
      a.columns.size() != b.columns.size() || a.rows.empty()) {
    return false;
  }
  for (std::size_t c = 0; c < a.columns.size(); ++c) {
    if (std::string(a.columns[c].caption) != b.columns[c].caption) return false;
  }
  return true;
}

}  // namespace

void ResponseModel::SetTable(ResponseTable table) {
  beginResetModel();
  table_ = std::move(table);
  markedAt_.clear();
  changes_ = 0;
  stale_ = false;
  endResetModel();
}

bool ResponseModel::Update(const ResponseTable& table, std::int64_t nowMs) {
  if (!SameShape(table_, table)) return false;
  markedAt_.resize(table.rows.size());
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    auto& old = table_.rows[r];
    const auto& now = table.rows[r];
    markedAt_[r].resize(now.size(), kUnmarked);
    int first = -1, last = -1;
    for (std::size_t c = 0; c < now.size() && c < old.size(); ++c) {
      if (old[c] == now[c]) continue;
      old[c] = now[c];
      if (markedAt_[r][c] == kUnmarked) ++changes_;
      markedAt_[r][c] = nowMs;  // changed again: marked afresh
      if (first < 0) first = static_cast<int>(c);
      last = static_cast<int>(c);
    }
    if (first >= 0) {
      emit dataChanged(index(static_cast<int>(r), ViewColumn(first)), index(static_cast<int>(r), ViewColumn(last)));
    }
  }
  table_.values = table.values;
  table_.numbers = table.numbers;  // the chart's values of a table read by map
  table_.headings = table.headings;
  SetStale(false);
  return true;
}

void ResponseModel::SetStale(bool stale) {
  if (stale == stale_) return;
  stale_ = stale;
  if (!table_.rows.empty()) {
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::ForegroundRole});
  }
}

int ResponseModel::ExpireChanges(std::int64_t nowMs, int lifeMs) {
  std::int64_t next = -1;
  for (std::size_t r = 0; r < markedAt_.size() && changes_ > 0; ++r) {
    int first = -1, last = -1;
    for (std::size_t c = 0; c < markedAt_[r].size(); ++c) {
      std::int64_t& at = markedAt_[r][c];
      if (at == kUnmarked) continue;
      const std::int64_t left = at + lifeMs - nowMs;
      if (left > 0) {
        if (next < 0 || left < next) next = left;
        continue;
      }
      at = kUnmarked;
      --changes_;
      if (first < 0) first = static_cast<int>(c);
      last = static_cast<int>(c);
    }
    if (first >= 0) {
      emit dataChanged(index(static_cast<int>(r), ViewColumn(first)), index(static_cast<int>(r), ViewColumn(last)),
                       {Qt::BackgroundRole});
    }
  }
  return static_cast<int>(next);
}

bool ResponseModel::IsChanged(int row, int column) const {
  if (row < 0 || column < 0 || static_cast<std::size_t>(row) >= markedAt_.size()) return false;
  const auto& cells = markedAt_[static_cast<std::size_t>(row)];
  return static_cast<std::size_t>(column) < cells.size() && cells[static_cast<std::size_t>(column)] != kUnmarked;
}

int ResponseModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(table_.rows.size());
}

int ResponseModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(table_.columns.size()) + (NamesShown() ? 1 : 0);
}

bool ResponseModel::NamesShown() const {
  return showNames_ && table_.headings.empty() && static_cast<int>(table_.columns.size()) > kNameColumn;
}

int ResponseModel::ViewColumn(int tableColumn) const {
  return NamesShown() && tableColumn >= kNameColumn ? tableColumn + 1 : tableColumn;
}

int ResponseModel::TableColumn(int viewColumn) const {
  if (!NamesShown() || viewColumn < kNameColumn) return viewColumn;
  return viewColumn == kNameColumn ? -1 : viewColumn - 1;
}

void ResponseModel::ShowNames(bool on) {
  if (on == showNames_) return;
  beginResetModel();
  showNames_ = on;
  endResetModel();
}

void ResponseModel::SetNames(std::vector<std::string> names) {
  if (names == names_) return;
  names_ = std::move(names);
  if (NamesShown() && rowCount() > 0) emit dataChanged(index(0, kNameColumn), index(rowCount() - 1, kNameColumn));
}

Qt::ItemFlags ResponseModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && TableColumn(index.column()) < 0) f |= Qt::ItemIsEditable;
  return f;
}

bool ResponseModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !index.isValid() || TableColumn(index.column()) >= 0) return false;
  if (nameEdited) nameEdited(index.row(), value.toString().toStdString());
  return true;
}

QVariant ResponseModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const int column = TableColumn(index.column());
  if (role == Qt::BackgroundRole) {
    return column >= 0 && IsChanged(index.row(), column) ? QVariant(kChangedBackground) : QVariant();
  }
  if (role == Qt::ForegroundRole) return stale_ ? QVariant(kStaleText) : QVariant();
  if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
  const auto r = static_cast<std::size_t>(index.row());
  if (column < 0) return QString::fromStdString(r < names_.size() ? names_[r] : std::string());
  if (role == Qt::EditRole) return {};
  return QString::fromStdString(table_.rows[r][static_cast<std::size_t>(column)]);
}

QVariant ResponseModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
  const int column = TableColumn(section);
  if (role == Qt::DisplayRole) {
    return column < 0 ? QStringLiteral("Name") : QString::fromLatin1(table_.columns[static_cast<std::size_t>(column)].caption);
  }
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

}  // namespace vantrel
