// The response table as a Qt item model: the cells are kept as made, so filling a view
// with 2000 rows costs one model reset, not one widget item per cell.
#pragma once

#include <QAbstractTableModel>

#include <functional>
#include <string>
#include <vector>

#include "session/ResponseTable.h"

namespace vantrel {

class ResponseModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;

  // Rows and columns of the table; an empty table has neither.
  void SetTable(ResponseTable table);
  void Clear() { SetTable({}); }
  // The same question answered again (the same function, first offset, rows and columns):
  // the cells change in place, so that a view keeps its scroll position, selection and
  // column widths, and the cells whose text changed are marked, at nowMs, until
  // ExpireChanges takes the mark away. False, with nothing done, when the table has another
  // shape.
  bool Update(const ResponseTable& table, std::int64_t nowMs);
  // Takes away the marks made lifeMs or longer before nowMs; each mark lasts its own time,
  // whatever was marked after it. Returns the milliseconds until the next mark is due, or -1
  // when none is left.
  int ExpireChanges(std::int64_t nowMs, int lifeMs);
  // Values from before a failed poll: still the last good ones, drawn grey until the next
  // reply, so that they are not taken for fresh.
  void SetStale(bool stale);
  bool IsStale() const { return stale_; }
  bool HasChanges() const { return changes_ > 0; }
  bool IsChanged(int row, int column) const;
  const ResponseTable& table() const { return table_; }

  // An editable "Name" column before "Offset" in a table of a reply (not one read by map):
  // each row's name of the definition's map. The table itself keeps its columns; the view's
  // columns after Write are one further right while it shows.
  void ShowNames(bool on);
  bool NamesShown() const;
  // The rows' names ("" for none); shorter lists leave the other rows blank.
  void SetNames(std::vector<std::string> names);
  static constexpr int kNameColumn = 1;
  // The view's column of a column of the table, and back (-1 for the Name column).
  int ViewColumn(int tableColumn) const;
  int TableColumn(int viewColumn) const;
  // A name typed into a row's Name cell (the window changes the map, then SetNames).
  std::function<void(int row, const std::string& name)> nameEdited;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 private:
  ResponseTable table_;
  std::vector<std::vector<std::int64_t>> markedAt_;  // per cell: when it changed, or kUnmarked
  int changes_ = 0;
  bool stale_ = false;
  bool showNames_ = false;
  std::vector<std::string> names_;
};

}  // namespace vantrel
