#include "sheet/Settings_contact_usDlg.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "diag/Diagnostics.h"
#include "sheet/Settings_auto_updateDlg.h"
#include "web/Product.h"
#include "web/WebServices.h"

namespace vantrel {
namespace {
constexpr char kSource[] = "Settings_contact_usDlg";
}

CSettings_contact_usDlg::CSettings_contact_usDlg(QWidget* parent)
    : CPropertyPage(kDialogId, QStringLiteral("About::Contact us"), parent) {
  setObjectName(QStringLiteral("contactUsPage"));
  nameEdit_ = new QLineEdit;
  nameEdit_->setObjectName(QStringLiteral("nameEdit"));
  messageEdit_ = new QPlainTextEdit;
  messageEdit_->setObjectName(QStringLiteral("messageEdit"));
  send_ = new QPushButton(QStringLiteral("Send Message"));
  send_->setObjectName(QStringLiteral("sendMessageButton"));

  auto* group = new QGroupBox(QStringLiteral("Contact us"));
  auto* grid = new QGridLayout(group);
  auto* nameLabel = new QLabel(QStringLiteral("Your name"));
  nameLabel->setBuddy(nameEdit_);
  auto* messageLabel = new QLabel(QStringLiteral("Message"));
  messageLabel->setBuddy(messageEdit_);
  grid->addWidget(nameLabel, 0, 0, 1, 2);
  grid->addWidget(nameEdit_, 1, 0, 1, 2);
  grid->addWidget(messageLabel, 2, 0, 1, 2);
  grid->addWidget(messageEdit_, 3, 0, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Dont forget to include your contact info")), 4, 0);
  grid->addWidget(send_, 4, 1);
  grid->setColumnStretch(0, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);

  connect(send_, &QPushButton::clicked, this, [this] { OnSendMessage(); });
}

void CSettings_contact_usDlg::OnSendMessage() {
  name = nameEdit_->text().toStdString();
  const QString typed = messageEdit_->toPlainText();
  // The edit box ends its lines with LF alone; the request sends CR LF, as after the name.
  message = WithCrLfLineEnds(typed.toStdString());
  if (name.empty() || message.empty()) {
    Panic(kSource, __LINE__, __DATE__, __TIME__, "Error Please enter your name and your message ");
    return;
  }
  // Characters as the user sees them: an emoji is one, not the two UTF-16 units of size().
  if (typed.toUcs4().size() > kMessageLimit) {
    Panic(kSource, __LINE__, __DATE__, __TIME__,
          "Error. Message is too long please shorten it and try again");
    return;
  }
  const std::string version = VersionText();
  const std::string notes = CompileNotes();
  send_->setText(QStringLiteral("Please wait..."));
  const std::string text = "Name: " + name + "\r\n" + message;
  const int result = SendFeedback(kProductName, version, text, notes);
  ShowMessage("%s", result < 0 ? "Could not send message" : "Message Sent");
  send_->setText(QStringLiteral("Send Message"));
}

}  // namespace vantrel
