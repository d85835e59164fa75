// The Auto Update page: the switch of the automatic update check. For now it shows only
// its caption and carries the stored switch through unchanged.
#pragma once

#include "settings/PropertyPage.h"

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
};

}  // namespace vantrel
