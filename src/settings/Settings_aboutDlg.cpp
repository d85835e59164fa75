#include "settings/Settings_aboutDlg.h"

namespace vantrel {

CSettings_aboutDlg::CSettings_aboutDlg(QWidget* parent) : CPropertyPage(kDialogId, QStringLiteral("About"), parent) {
  setObjectName(QStringLiteral("aboutPage"));
}

}  // namespace vantrel
