// "Diagnostics": the current slave's counters and diagnostic register (function 08), read on
// demand or at a period, with the change of each since the read before; and its commands,
// Clear Counters and Restart Communications. A thin view over DiagnosticsRead; the requests
// go through the main window's line session, between its polls. Non-modal; one at a time.
#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>
#include <iterator>
#include <vector>

#include "session/DiagnosticsRead.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QMessageBox;
class QPushButton;
class QTableWidget;
class QTimer;

namespace vantrel {

class CDiagnosticsDlg : public QDialog {
  Q_OBJECT

 public:
  // The periods offered, in milliseconds; 0 reads on demand only.
  static constexpr int kPeriodsMs[] = {0, 1000, 5000};

  // send: how its requests go (CMainDlg::SendPdu); slaveId: the device asked, the poll in
  // front's at each read.
  CDiagnosticsDlg(PduSender send, std::function<int()> slaveId, QWidget* parent = nullptr);

  // "Read": every row again (ignored while a read is under way).
  void Read();
  void ClearCounters();
  // Asks first (runBox), then restarts the device's communications port, clearing its event
  // log too when the box's check box is ticked.
  void RestartCommunications();
  // Runs the confirmation box and returns the button pressed; unset, the box's exec().
  std::function<int(QMessageBox& box)> runBox;

  const DiagnosticsRead& reading() const { return read_; }
  QTableWidget* table() const { return table_; }
  QLabel* statusLabel() const { return status_; }
  QComboBox* periodBox() const { return period_; }
  QPushButton* readButton() const { return readButton_; }

 private:
  void SendNext();
  void Command(const char* done, std::vector<std::uint8_t> pdu);
  // The rows and the status line as the reading has them.
  void ShowRows();
  void ShowStatus(const std::string& text);

  PduSender send_;
  std::function<int()> slaveId_;
  DiagnosticsRead read_;
  int readSlave_ = 0;  // the slave id of the read under way
  QTableWidget* table_ = nullptr;
  QLabel* status_ = nullptr;
  QComboBox* period_ = nullptr;
  QPushButton* readButton_ = nullptr;
  QTimer* timer_ = nullptr;
};

}  // namespace vantrel
