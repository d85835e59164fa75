// The About page. For now it shows only its caption.
#pragma once

#include "settings/PropertyPage.h"

namespace vantrel {

class CSettings_aboutDlg : public CPropertyPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 131;
  explicit CSettings_aboutDlg(QWidget* parent = nullptr);
};

}  // namespace vantrel
