// The Auto Update page: the switch of the automatic update check and a button that checks
// at once.
#pragma once

#include "sheet/PropertyPage.h"

class QCheckBox;
class QPushButton;

namespace vantrel {

class ScannerSettings;

class CSettings_auto_updateDlg : public CPropertyPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 133;
  // Starts from the stored switch, so that confirming the sheet without visiting this
  // page leaves the update check as it was.
  explicit CSettings_auto_updateDlg(const ScannerSettings& settings, QWidget* parent = nullptr);

  int auto_check;  // 0 or 1

  bool OnKillActive() override;
  // Asks the vendor's server now and tells the answer; offers the installer when newer.
  void OnCheckForUpdates();

  QCheckBox* autoCheckBox() const { return autoCheck_; }
  QPushButton* checkButton() const { return check_; }

 protected:
  void OnInitDialog() override;

 private:
  const ScannerSettings& settings_;
  QCheckBox* autoCheck_ = nullptr;
  QPushButton* check_ = nullptr;
};

// "Last Compile date: %s %s" with the build date and time, sent as the notes of the
// page's web calls.
std::string CompileNotes();

}  // namespace vantrel
