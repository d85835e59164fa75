// The Connection page: port, line settings, Modbus mode and the reply time-out.
#pragma once

#include "settings/PropertyPage.h"

class QComboBox;
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
  // Reads the controls into the fields; false when the time-out fails its check.
  bool ReadBack();

  int modbus_mode;
  int com_port;
  int buad_rate;
  int data_bits;
  int stop_bits;
  char parity;
  int recv_time_out;  // milliseconds
  int timeout_seconds = 0;

  QComboBox* modeCombo() const { return mode_; }
  QComboBox* portCombo() const { return port_; }
  QComboBox* baudCombo() const { return baud_; }
  QComboBox* dataBitsCombo() const { return dataBits_; }
  QComboBox* stopBitsCombo() const { return stopBits_; }
  QComboBox* parityCombo() const { return parity_; }
  QLineEdit* timeoutEdit() const { return timeout_; }

 protected:
  void OnInitDialog() override;

 private:
  void OnChange();

  QComboBox* mode_;      // 1007
  QComboBox* port_;      // 1000
  QComboBox* baud_;      // 1001
  QComboBox* dataBits_;  // 1002
  QComboBox* stopBits_;  // 1004
  QComboBox* parity_;    // 1003
  QLineEdit* timeout_;   // 1040
  bool loading_ = false;
};

}  // namespace vantrel
