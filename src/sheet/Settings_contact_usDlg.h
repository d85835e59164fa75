// The Contact us page, under "About" in the sheet's tree: a name and a message, sent to
// the vendor.
#pragma once

#include "sheet/PropertyPage.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace vantrel {

class CSettings_contact_usDlg : public CPropertyPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 132;
  // Longest message accepted, in characters (Unicode code points).
  static constexpr int kMessageLimit = 1024;
  explicit CSettings_contact_usDlg(QWidget* parent = nullptr);

  std::string name;
  std::string message;  // lines ended by CR LF

  // Checks the fields and sends the message; the fields keep their text.
  void OnSendMessage();

  QLineEdit* nameEdit() const { return nameEdit_; }
  QPlainTextEdit* messageEdit() const { return messageEdit_; }
  QPushButton* sendButton() const { return send_; }

 private:
  QLineEdit* nameEdit_ = nullptr;
  QPlainTextEdit* messageEdit_ = nullptr;
  QPushButton* send_ = nullptr;
};

}  // namespace vantrel
