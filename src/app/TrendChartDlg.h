// The trend chart window: chosen items of the response table plotted over time, live, one
// line per address. A thin view over TrendHistory, redrawn at most twice a second however
// fast the replies come.
#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "session/TrendHistory.h"

class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QImage;
class QLabel;
class QPushButton;
class QTimer;
class QValueAxis;

namespace vantrel {

struct TimeWindow {
  const char* caption;
  std::int64_t ms;
  int ticks;  // time labels: 10 s, 1, 2, 5 and 10 min apart
};
inline constexpr TimeWindow kTimeWindows[] = {{"1 min", 60'000, 7},
                                              {"5 min", 300'000, 6},
                                              {"10 min", 600'000, 6},
                                              {"30 min", 1'800'000, 7},
                                              {"1 h", 3'600'000, 7}};

// Where the chart's values come from, as a saved picture names it.
struct ChartSource {
  std::string connection;  // "COM 3:9600,N,8,1"
  int slaveId = 0;
  int function = 0;  // the request: read function, first offset, length
  int offset = 0;
  int length = 0;
};

class CTrendChartDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CTrendChartDlg(QWidget* parent = nullptr);

  // Adds a line for each of these rows of the table (rows charted already keep theirs); poll
  // names the definition they come from when several share the line.
  void AddRows(const ResponseTable& table, int device, const std::vector<int>& rows, const std::string& poll = "");
  // A good reply of the device (of the poll named, with several on the line): a point for
  // each line whose item the table holds, at the time the clock tells.
  void AddReply(const ResponseTable& table, int device, const std::string& poll = "");
  // Draws the lines from the history now. The window does it by itself after replies,
  // while it is not paused: at most once for every two pixels the plot moves, at most twice
  // a second and at least every two seconds.
  void Redraw();
  // An index of kTimeWindows.
  void SetTimeWindow(int index);
  // Paused, the plot stops where it is; replies are still recorded.
  void SetPaused(bool paused);
  // Saves the chart as a PNG image in the file choosePngFile names; false when no file was
  // chosen or it could not be written (said in a box). Above the plot the picture says what
  // it shows: a title, the connection, the slave id, the request and the time span with its
  // date; the same is in the file's Title and Description texts.
  bool SavePng();

  // The file to save the chart in, from a proposed name ("" when cancelled); unset, a
  // save-file dialog asks.
  std::function<std::string(const std::string& proposed)> choosePngFile;
  // Milliseconds since the epoch; unset, the system clock.
  std::function<std::int64_t()> clock;
  // The source of the values now, asked when the chart is saved; unset, none is named.
  std::function<ChartSource()> source;

  const TrendHistory& history() const { return history_; }
  QChart* chart() const { return chart_; }
  QDateTimeAxis* timeAxis() const { return timeAxis_; }
  QLabel* note() const { return note_; }
  QValueAxis* valueAxis() const { return valueAxis_; }

 private:
  std::int64_t NowMs() const;
  // The plot's right edge when it follows the replies: the latest, or now before the first.
  std::int64_t LiveEdge() const;
  // The plot under its heading, as SavePng saves it.
  QImage Picture() const;

  TrendHistory history_;
  QChart* chart_ = nullptr;
  QChartView* view_ = nullptr;
  QDateTimeAxis* timeAxis_ = nullptr;
  QValueAxis* valueAxis_ = nullptr;
  QComboBox* window_ = nullptr;
  QPushButton* pause_ = nullptr;
  QLabel* note_ = nullptr;
  QTimer* redrawTimer_ = nullptr;         // runs while replies wait to be drawn
  std::int64_t drawnAt_ = 0;              // the clock at the last redraw
  std::optional<std::int64_t> pausedAt_;  // the plot's right edge while paused
};

}  // namespace vantrel
