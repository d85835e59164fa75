// The Connection page: the Modbus mode; for the serial modes the port (from the list, or a
// device path typed in), the line settings and RS-485; for the network modes the host and
// TCP port; the reply time-out, and the turnaround a broadcast leaves the line quiet for.
#pragma once

#include "sheet/PropertyPage.h"

#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;

namespace vantrel {

class ScannerSettings;

class CSettings_connectionDlg2 : public CPropertyPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 107;

  // Copies the connection values of settings; the page never writes them back itself.
  explicit CSettings_connectionDlg2(const ScannerSettings& settings, QWidget* parent = nullptr);

  bool OnKillActive() override;
  // Reads the controls into the fields; false when the time-out, the turnaround, or (strict) for the mode in
  // use the port, the host or the TCP port, fails its check.
  bool ReadBack(bool strict = true);
  bool IsNetwork() const;
  // Whether the page's values are those of settings; and writing them there.
  bool Matches(const ScannerSettings& settings) const;
  void StoreIn(ScannerSettings& settings) const;

  int modbus_mode;
  int com_port;
  int buad_rate;
  int data_bits;
  int stop_bits;
  char parity;
  int recv_time_out;  // milliseconds
  int timeout_seconds = 0;
  std::string device_path;
  int rs485;
  std::string tcp_host;
  int tcp_port;
  int turnaround_ms;  // milliseconds

  QComboBox* modeCombo() const { return mode_; }
  QComboBox* portCombo() const { return port_; }
  QComboBox* baudCombo() const { return baud_; }
  QComboBox* dataBitsCombo() const { return dataBits_; }
  QComboBox* stopBitsCombo() const { return stopBits_; }
  QComboBox* parityCombo() const { return parity_; }
  QLineEdit* timeoutEdit() const { return timeout_; }
  QLineEdit* turnaroundEdit() const { return turnaround_; }
  QCheckBox* rs485Check() const { return rs485_; }
  QLineEdit* hostEdit() const { return host_; }
  QLineEdit* tcpPortEdit() const { return tcpPort_; }

 signals:
  // Another mode was chosen in the list (its position, a ModbusMode's integer).
  void modeChanged(int modbusMode);

 protected:
  void OnInitDialog() override;

 private:
  void OnChange();
  // Shows the serial or the network settings, as the mode asks.
  void ShowModeSettings();

  QComboBox* mode_;      // 1007
  QComboBox* port_;      // 1000
  QComboBox* baud_;      // 1001
  QComboBox* dataBits_;  // 1002
  QComboBox* stopBits_;  // 1004
  QComboBox* parity_;    // 1003
  QLineEdit* timeout_;   // 1040
  QLineEdit* turnaround_;
  QCheckBox* rs485_;
  QLineEdit* host_;
  QLineEdit* tcpPort_;
  QGroupBox* group_;
  std::vector<QWidget*> serialWidgets_;   // the labels and controls of the serial settings
  std::vector<QWidget*> networkWidgets_;  // and of the network ones
  bool loading_ = false;
};

}  // namespace vantrel
