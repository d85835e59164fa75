// The Polling frequency page: once only, one of the fixed periods, or a custom number of
// seconds (down to 0.1); and what a failure does while polling at a frequency.
#pragma once

#include "sheet/PropertyPage.h"

class QComboBox;
class QLineEdit;
class QRadioButton;

namespace vantrel {

class ScannerSettings;

class CSettings_PollFrequencyDlg : public CPropertyPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 135;

  explicit CSettings_PollFrequencyDlg(const ScannerSettings& settings, QWidget* parent = nullptr);

  // A custom value is taken over here, when the page is left or the sheet confirmed.
  bool OnKillActive() override;
  // Reads the seconds edit, the list and the failure choice; false when the edit fails.
  bool ReadBack();

  int poll_period_ms;  // 0 polls once
  int keep_polling_on_failure;

  QComboBox* pollCombo() const { return combo_; }
  QLineEdit* pollEdit() const { return edit_; }
  QRadioButton* keepPollingRadio() const { return keepPolling_; }

 protected:
  void OnInitDialog() override;

 private:
  QComboBox* combo_;  // 1036
  QLineEdit* edit_;   // 1037
  QRadioButton* stopOnFailure_;
  QRadioButton* keepPolling_;
  bool loading_ = false;
};

}  // namespace vantrel
