// The Polling frequency page: once only, one of the fixed periods, or a custom number of
// seconds.
#pragma once

#include "settings/PropertyPage.h"

class QComboBox;
class QLineEdit;

namespace vantrel {

class ScannerSettings;

class CSettings_PollFrequencyDlg : public CPropertyPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 135;

  explicit CSettings_PollFrequencyDlg(const ScannerSettings& settings, QWidget* parent = nullptr);

  // A custom value is taken over here, when the page is left or the sheet confirmed.
  bool OnKillActive() override;
  // Reads the seconds edit and the list into poll_frequency; false when the edit fails.
  bool ReadBack();

  int poll_frequency;  // seconds, 0 polls once

  QComboBox* pollCombo() const { return combo_; }
  QLineEdit* pollEdit() const { return edit_; }

 protected:
  void OnInitDialog() override;

 private:
  QComboBox* combo_;  // 1036
  QLineEdit* edit_;   // 1037
  bool loading_ = false;
};

}  // namespace vantrel
