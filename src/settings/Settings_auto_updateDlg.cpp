#include "settings/Settings_auto_updateDlg.h"

#include "settings/ScannerSettings.h"

namespace vantrel {

CSettings_auto_updateDlg::CSettings_auto_updateDlg(const ScannerSettings& settings, QWidget* parent)
    : CPropertyPage(kDialogId, QStringLiteral("Auto Update"), parent), auto_check(settings.check_for_updates) {
  setObjectName(QStringLiteral("autoUpdatePage"));
}

}  // namespace vantrel
