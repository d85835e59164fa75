// The About page: the product's picture, a button to the vendor's web site, and the
// version text.
#pragma once

#include "sheet/PropertyPage.h"

class QPlainTextEdit;
class QPushButton;

namespace vantrel {

class CSettings_aboutDlg : public CPropertyPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 131;
  explicit CSettings_aboutDlg(QWidget* parent = nullptr);

  // "%s %s%c%c\r\nLast Updated %s", filled when the page is first shown.
  std::string version_text;

  QPushButton* webSiteButton() const { return webSite_; }
  QPlainTextEdit* versionEdit() const { return versionEdit_; }
  // Opens the vendor's site with the referral tag.
  void OnWebSite();

 protected:
  void OnInitDialog() override;

 private:
  QPushButton* webSite_ = nullptr;
  QPlainTextEdit* versionEdit_ = nullptr;
};

// The About page's two lines: product name and version text, then the last-updated date.
std::string AboutVersionText();

}  // namespace vantrel
