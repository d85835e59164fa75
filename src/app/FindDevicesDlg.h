// "Find devices": which slave ids answer, and for a serial line at which line settings. The
// ids and the read sent to each, the time-out per id, a sweep of line settings, a progress
// bar with the time left, and a row for each find. A thin view over DeviceScan, run by a
// ScanDriver; the main window pauses its polling meanwhile.
#pragma once

#include <QDialog>

#include <functional>
#include <vector>

#include "session/DeviceScan.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace vantrel {

class ModbusMaster;
class ScanDriver;

class CFindDevicesDlg : public QDialog {
  Q_OBJECT

 public:
  // network: the link is a TCP connection (nothing to sweep); where: the connection as the
  // rows name it without a sweep; line: the serial line's settings now, ticked in the sweep.
  CFindDevicesDlg(ModbusMaster& master, bool network, std::string where, const LineSettings& line,
                  QWidget* parent = nullptr);
  ~CFindDevicesDlg() override;

  // The scan as the controls set it; "" or why it cannot run (shown under the buttons).
  ScanOptions Options() const;
  void StartScan();
  void CancelScan();
  bool Scanning() const;
  const DeviceScan* scan() const;

  // Applies a sweep's line settings to the serial link; false when it cannot.
  std::function<bool(const LineSettings&)> setLine;
  // A found row was taken (double-clicked, or "Open as a new poll"): its id, its line
  // settings (nullptr without a sweep), and whether it is to be polled in a tab of its own.
  std::function<void(int id, const LineSettings* line, bool newPoll)> chosen;

  QSpinBox* firstIdSpin() const { return firstId_; }
  QSpinBox* lastIdSpin() const { return lastId_; }
  QSpinBox* timeoutSpin() const { return timeout_; }
  QGroupBox* sweepGroup() const { return sweep_; }
  QCheckBox* identifyCheck() const { return identify_; }
  const std::vector<QCheckBox*>& baudChecks() const { return bauds_; }
  const std::vector<QCheckBox*>& parityChecks() const { return parities_; }
  const std::vector<QCheckBox*>& stopBitsChecks() const { return stopBits_; }
  QPushButton* startButton() const { return start_; }
  QPushButton* cancelButton() const { return cancel_; }
  QProgressBar* progressBar() const { return progress_; }
  QLabel* statusLabel() const { return status_; }
  QTableWidget* foundTable() const { return found_; }
  // What a double-click on a row does (rows show devices first, then what is there but no
  // device); newPoll: what "Open as a new poll" does with the row selected.
  void ChooseRow(int row, bool newPoll = false);
  QPushButton* openAsPollButton() const { return openAsPoll_; }

 protected:
  void reject() override;

 private:
  void ShowProgress();
  void ShowFinds();
  void Finished();

  ModbusMaster& master_;
  bool network_;
  std::string where_;
  ScanDriver* driver_;
  QSpinBox* firstId_;
  QSpinBox* lastId_;
  QComboBox* function_;
  QSpinBox* offset_;
  QSpinBox* length_;
  QSpinBox* timeout_;
  QCheckBox* identify_;
  QGroupBox* sweep_;
  std::vector<QCheckBox*> bauds_;
  std::vector<QCheckBox*> parities_;
  std::vector<QCheckBox*> stopBits_;
  QPushButton* start_;
  QPushButton* cancel_;
  QPushButton* openAsPoll_;
  QProgressBar* progress_;
  QLabel* status_;
  QTableWidget* found_;
  std::size_t shown_ = 0;  // finds that have their row
  std::vector<std::size_t> rowFinds_;  // each row's find (devices come first)
  int devicesShown_ = 0;               // rows of devices, at the top
};

}  // namespace vantrel
