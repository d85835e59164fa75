// The bus monitor window: listens on a serial line (opened listen-only, never transmitting)
// and lists the frames other masters and slaves exchange on it, with a details pane, filters,
// the per-slave figures and a file the frames are saved to as they come. Non-modal; one per
// line. The list, its filters and texts are MonitorList's (session/MonitorList.h).
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QElapsedTimer>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "session/BusMonitor.h"
#include "session/MonitorList.h"
#include "session/PollDefinition.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTableView;
class QTimer;

namespace vantrel {

class LinkWatch;

// The rows of a MonitorList that pass its filter.
class MonitorModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit MonitorModel(const MonitorList& list, QObject* parent = nullptr) : QAbstractTableModel(parent), list_(list) {}
  int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : list_.RowCount(); }
  int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : kColumnCount; }
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // The list changed so: the rows follow.
  void Apply(const MonitorListChange& change);
  void Reset();

 private:
  const MonitorList& list_;
};

class CBusMonitorDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr std::size_t kKeptFrames = 10000;

  // line: the connection settings proposed (the main window's). mainDevice tells the device
  // the main window has open ("" when none): that one is refused, as a listener there would
  // take the main window's replies.
  CBusMonitorDlg(const LineConnection& line, std::function<std::string()> mainDevice, QWidget* parent = nullptr);
  ~CBusMonitorDlg() override;

  // Opens the line of the fields listen-only and starts the list afresh; false with the
  // reason in the status line when it cannot.
  bool StartListening();
  // The frames still waiting are completed, and the file being saved to is closed.
  void StopListening();
  bool Listening() const { return port_.IsOpen() != 0; }
  // Pause: frames are still recorded (figures, the saved file) but the list stands still;
  // it takes them when the pause ends.
  void SetPaused(bool paused);
  void ClearList();
  // Saves the frames kept so far to path (CSV, or pcap for a name ending in .pcap); while
  // listening, every later frame follows until Stop. False with the reason in the status line.
  bool SaveTo(const std::string& path);
  // Asks for the file to save to ("" when cancelled); the program shows a file dialog.
  std::function<std::string()> chooseSaveFile;

  // For the tests and the screenshot.
  QLineEdit* deviceEdit() const { return device_; }
  QComboBox* baudBox() const { return baud_; }
  QComboBox* modeBox() const { return mode_; }
  QSpinBox* slaveFilter() const { return slaveFilter_; }
  QSpinBox* functionFilter() const { return functionFilter_; }
  QCheckBox* errorsOnlyBox() const { return errorsOnly_; }
  QTableView* listView() const { return view_; }
  MonitorModel* model() const { return model_; }
  QPlainTextEdit* detailsPane() const { return details_; }
  QPlainTextEdit* figuresPane() const { return figures_; }
  QLabel* statusLabel() const { return status_; }
  const MonitorList& list() const { return list_; }

 private:
  void OnReadable();
  void OnTick();
  void Take(std::vector<MonitorFrame>& frames);
  void ApplyFilter();
  void ShowDetails();
  void ShowFigures();
  void SetStatus(const QString& text, bool error);
  void UpdateButtons();
  double NowMs() const { return clock_.nsecsElapsed() / 1e6; }

  std::function<std::string()> mainDevice_;
  SerialPort port_;
  std::unique_ptr<BusMonitor> monitor_;
  MonitorList list_;
  std::deque<MonitorFrame> held_;  // frames taken while paused
  bool paused_ = false;
  MonitorSaveFile saveFile_;
  QElapsedTimer clock_;
  double originEpochMs_ = 0;

  QLineEdit* device_ = nullptr;
  QComboBox* baud_ = nullptr;
  QComboBox* dataBits_ = nullptr;
  QComboBox* parity_ = nullptr;
  QComboBox* stopBits_ = nullptr;
  QComboBox* mode_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* pause_ = nullptr;
  QPushButton* clear_ = nullptr;
  QPushButton* save_ = nullptr;
  QSpinBox* slaveFilter_ = nullptr;
  QSpinBox* functionFilter_ = nullptr;
  QCheckBox* errorsOnly_ = nullptr;
  QTableView* view_ = nullptr;
  MonitorModel* model_ = nullptr;
  QPlainTextEdit* details_ = nullptr;
  QPlainTextEdit* figures_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* count_ = nullptr;
  LinkWatch* watch_ = nullptr;
  QTimer* tick_ = nullptr;
};

}  // namespace vantrel
