// The Request page: slave id, read function, offset and length, with the request frame
// shown in hexadecimal as it would go on the line in the mode of the Connection page.
#pragma once

#include <QString>

#include "sheet/PropertyPage.h"

class QComboBox;
class QLineEdit;

namespace vantrel {

class ScannerSettings;

class CSettings_requestDlg : public CPropertyPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 134;

  explicit CSettings_requestDlg(const ScannerSettings& settings, QWidget* parent = nullptr);

  // Reads the controls; false, with the reason in a box, when an edit fails its check or
  // the request is one the main window would refuse (a length the function cannot carry,
  // a range past the last address): the page stays.
  bool OnKillActive() override;
  // Reads the controls and rebuilds the preview; false when an edit fails its check (the
  // fields after it keep their values). The preview shows the frame that would be sent,
  // or nothing, with the reason as its placeholder, while the request would be refused.
  bool RebuildPreview();
  // The mode the Connection page of the same sheet has chosen (a ModbusMode's integer):
  // the preview shows the frame in it.
  void SetMode(int modbusMode);

  int modbus_mode;
  int request_function_code;
  int request_id;
  int request_length;
  int request_offset;
  QString preview;

  QLineEdit* slaveIdEdit() const { return slaveId_; }
  QComboBox* functionCombo() const { return function_; }
  QLineEdit* offsetEdit() const { return offset_; }
  QLineEdit* lengthEdit() const { return length_; }
  QLineEdit* previewEdit() const { return preview_; }

 protected:
  void OnInitDialog() override;

 private:
  void OnChange();
  // The preview of the fields as they are; check_ is what the request check says of them.
  void ShowPreview();

  QLineEdit* slaveId_;   // 1009
  QComboBox* function_;  // 1035
  QLineEdit* offset_;    // 1010
  QLineEdit* length_;    // 1011
  QLineEdit* preview_;   // 1012, read-only
  bool loading_ = false;
  int check_ = 0;
};

}  // namespace vantrel
