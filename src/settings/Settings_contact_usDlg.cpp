#include "settings/Settings_contact_usDlg.h"

namespace vantrel {

CSettings_contact_usDlg::CSettings_contact_usDlg(QWidget* parent)
    : CPropertyPage(kDialogId, QStringLiteral("About::Contact us"), parent) {
  setObjectName(QStringLiteral("contactUsPage"));
}

}  // namespace vantrel
