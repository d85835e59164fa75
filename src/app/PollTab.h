// One poll definition's page of the main window: its response table, whose rows are updated
// in place while the question stays the same, and its status line with the counters.
#pragma once

#include <QWidget>

#include <cstdint>
#include <ctime>
#include <functional>
#include <vector>

#include "session/MapReads.h"
#include "session/PollDefinition.h"
#include "session/ResponseTable.h"

class QLabel;
class QTableView;

namespace vantrel {

class ResponseModel;

class PollTab : public QWidget {
  Q_OBJECT

 public:
  explicit PollTab(QWidget* parent = nullptr);

  QTableView* view() const { return view_; }
  ResponseModel* model() const { return model_; }
  QLabel* statusLine() const { return status_; }

  // A good reply's table. While the question stays the same (the same function, first
  // offset, rows and columns) the rows change in place, so that the view keeps its scroll
  // position, selection and column widths, and the values that changed are marked at nowMs
  // (true); another table is shown anew, keeping the selection when only its format
  // changed.
  bool Show(ResponseTable table, std::int64_t nowMs);
  void Clear();
  // The editable Name column of a reply's table (see ResponseModel::ShowNames).
  void ShowNames(bool on);
  void ShowStatistics(const std::string& line);
  // The rows selected, in order.
  std::vector<int> SelectedRows() const;
  // Ctrl+C and the context menu: the selected rows (or all of them) with the captions, as
  // tab-separated text on the clipboard.
  void CopyRows(bool all);
  // Whether a point of the view's viewport is over the "Write" cell of a row.
  bool IsCursorOnWriteColumn(const QPoint& viewportPos) const;

  // A click on a row's first cell: the rows chosen (the clicked one, or the selection it
  // belongs to).
  std::function<void(std::vector<int> rows)> writeClicked;
  // The status line's Reset.
  std::function<void()> resetClicked;

  // The window's bookkeeping of this definition: the request its rows answer, and when its
  // last poll went out (the Start button's countdown counts from it).
  PollDefinition shown;
  std::time_t lastPollTime = 0;
  // Read by map: the raw values of the last cycle shown, which a write of a bit keeps.
  MapReading reading;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Widens the columns to their designed widths, captions and longest texts; with
  // widenOnly, a column that is wide enough keeps the width it has (the user's, say).
  void FitColumns(const ResponseTable& table, bool widenOnly);

  QTableView* view_;
  ResponseModel* model_;
  QLabel* status_;
};

}  // namespace vantrel
