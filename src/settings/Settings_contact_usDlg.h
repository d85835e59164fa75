// The Contact us page, under "About" in the sheet's tree. For now it shows only its
// caption.
#pragma once

#include "settings/PropertyPage.h"

namespace vantrel {

class CSettings_contact_usDlg : public CPropertyPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 132;
  explicit CSettings_contact_usDlg(QWidget* parent = nullptr);
};

}  // namespace vantrel
