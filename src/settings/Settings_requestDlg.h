// The Request page: slave id, read function, offset and length, with the request frame
// shown in hexadecimal as it would go on the line.
#pragma once

#include <QString>

#include "settings/PropertyPage.h"

class QComboBox;
class QLineEdit;

namespace vantrel {

class ScannerSettings;

class CSettings_requestDlg : public CPropertyPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 134;

  explicit CSettings_requestDlg(const ScannerSettings& settings, QWidget* parent = nullptr);

  bool OnKillActive() override;
  // Reads the controls and rebuilds the preview; false when an edit fails its check
  // (the fields after it keep their values and the preview its text).
  bool RebuildPreview();

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

  QLineEdit* slaveId_;   // 1009
  QComboBox* function_;  // 1035
  QLineEdit* offset_;    // 1010
  QLineEdit* length_;    // 1011
  QLineEdit* preview_;   // 1012, read-only
  bool loading_ = false;
};

}  // namespace vantrel
