// The About, Auto Update and Contact us pages against the vendor-server stand-in.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include <thread>

#include "settings/ScannerSettings.h"
#include "sheet/Settings_aboutDlg.h"
#include "sheet/Settings_auto_updateDlg.h"
#include "sheet/Settings_contact_usDlg.h"
#include "support/RecordingPresenter.h"
#include "support/TempDir.h"
#include "support/VendorServer.h"
#include "web/HttpRetriever.h"
#include "web/WebCall.h"
#include "web/WebServices.h"

using namespace vantrel;
using vantrel::test::RecordingPresenter;
using vantrel::test::ScopedCwd;
using vantrel::test::ScriptedReply;
using vantrel::test::TempDir;
using vantrel::test::VendorServer;

namespace {

class WebPages : public ::testing::Test {
 protected:
  WebPages() : cwd_(dir_.path()), settings_(dir_.path()) {
    ResetLogPathsForTesting();
    SetVendorRootUrl(vendor_.RootUrl());
    HttpRetriever::SetDefaultTimeouts({std::chrono::milliseconds(2000), std::chrono::milliseconds(3000)});
    SetBrowserOpener([this](const std::string& url) { opened_.push_back(url); });
    // The wait keeps the window live: record what the button says meanwhile.
    SetPumpFunction([this] {
      QApplication::processEvents();
      if (labels_ != nullptr) seen_.push_back(labels_->text().toStdString());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
  }
  ~WebPages() override {
    SetPumpFunction(nullptr);
    SetBrowserOpener(nullptr);
    SetVendorRootUrl("");
    HttpRetriever::SetDefaultTimeouts({kConnectTimeout, kTotalTimeout});
    ResetLogPathsForTesting();
  }
  std::string Body(std::size_t i = 0) const { return vendor_.Requests().at(i).body; }

  TempDir dir_;
  ScopedCwd cwd_;
  ScannerSettings settings_;
  VendorServer vendor_;
  std::vector<std::string> opened_;
  QPushButton* labels_ = nullptr;
  std::vector<std::string> seen_;
};

}  // namespace

TEST_F(WebPages, about_shows_the_version_and_opens_the_site) {
  CSettings_aboutDlg page;
  page.EnsureInitialised();
  EXPECT_EQ(page.version_text, "Vantrel Modbus Scanner 1.00bD\r\nLast Updated Jul 03 2007");
  EXPECT_EQ(page.versionEdit()->toPlainText(), "Vantrel Modbus Scanner 1.00bD\nLast Updated Jul 03 2007");
  EXPECT_EQ(page.webSiteButton()->text(), QString::fromStdString("127.0.0.1:" + std::to_string(vendor_.port())));
  page.webSiteButton()->click();
  EXPECT_EQ(opened_, (std::vector<std::string>{vendor_.RootUrl() + "?ref=Vantrel Modbus Scanner(1.00bD)"}));
}

TEST_F(WebPages, auto_update_starts_from_the_stored_switch) {
  settings_.check_for_updates = 0;
  CSettings_auto_updateDlg page(settings_);
  page.EnsureInitialised();
  EXPECT_EQ(page.auto_check, 0);
  EXPECT_FALSE(page.autoCheckBox()->isChecked());
  page.autoCheckBox()->setChecked(true);
  EXPECT_TRUE(page.OnKillActive());
  EXPECT_EQ(page.auto_check, 1);
  EXPECT_EQ(page.checkButton()->text(), "Check for updates");
}

TEST_F(WebPages, check_for_updates_tells_each_answer) {
  CSettings_auto_updateDlg page(settings_);
  page.EnsureInitialised();
  labels_ = page.checkButton();
  {
    RecordingPresenter box;
    page.checkButton()->click();  // the stand-in answers PASS
    ASSERT_EQ(box.boxes.size(), 1u);
    EXPECT_EQ(box.boxes[0].text, "No update available");
    EXPECT_NE(std::find(seen_.begin(), seen_.end(), "Please wait..."), seen_.end());
    EXPECT_EQ(page.checkButton()->text(), "Check for updates");
    EXPECT_EQ(Body().rfind("app_name=Vantrel Modbus Scanner&app_ver=1.00bD&Notes=Last%20Compile%20date%3A%20", 0), 0u)
        << Body();
  }
  {
    vendor_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Text("FAIL"));
    RecordingPresenter box;
    page.checkButton()->click();
    ASSERT_EQ(box.boxes.size(), 1u);
    EXPECT_EQ(box.boxes[0].text,
              "There was an error while attempting to check for a new version. \nPlease try again later. Error Code: -1");
  }
  {
    vendor_.SetReply(VendorServer::kCheckVersion, ScriptedReply::Text("UPDATE"));
    RecordingPresenter no(IDNO);
    page.checkButton()->click();
    ASSERT_EQ(no.boxes.size(), 1u);
    EXPECT_EQ(no.boxes[0].text, "There is a newer version, would you like to download it");
    EXPECT_EQ(no.boxes[0].type, kBoxYesNo);
    EXPECT_TRUE(opened_.empty());
    EXPECT_EQ(page.checkButton()->text(), "Check for updates");
  }
  {
    RecordingPresenter yes(IDYES);
    page.checkButton()->click();
    EXPECT_EQ(opened_, (std::vector<std::string>{vendor_.RootUrl() + "files/resources/Installer_Vantrel Modbus Scanner.exe"}));
  }
}

TEST_F(WebPages, contact_sends_name_and_message) {
  CSettings_contact_usDlg page;
  page.EnsureInitialised();
  RecordingPresenter box;
  page.nameEdit()->setText(" ");  // blanks count as a name
  page.messageEdit()->setPlainText(QString(1024, 'm'));
  labels_ = page.sendButton();
  page.sendButton()->click();
  ASSERT_EQ(box.boxes.size(), 1u);
  EXPECT_EQ(box.boxes[0].text, "Message Sent");
  ASSERT_EQ(vendor_.RequestCount(), 1u);
  EXPECT_EQ(vendor_.Requests()[0].target, "/script/sendfeedback.php");
  EXPECT_EQ(Body().rfind("Product=Vantrel Modbus Scanner&ProductV=1.00bD&Msg=Name%3A%20%20\r\n" + std::string(1024, 'm') +
                             "&Notes=Last%20Compile%20date%3A%20", 0),
            0u);
  EXPECT_NE(std::find(seen_.begin(), seen_.end(), "Please wait..."), seen_.end());
  EXPECT_EQ(page.sendButton()->text(), "Send Message");
  EXPECT_EQ(page.messageEdit()->toPlainText().size(), 1024) << "the fields keep their text";
}

TEST_F(WebPages, contact_refuses_empty_fields_and_long_messages) {
  CSettings_contact_usDlg page;
  page.EnsureInitialised();
  RecordingPresenter box;
  page.messageEdit()->setPlainText("hello");
  page.sendButton()->click();
  page.nameEdit()->setText("Ann");
  page.messageEdit()->setPlainText(QString(1025, 'm'));
  page.sendButton()->click();
  ASSERT_EQ(box.boxes.size(), 2u);
  EXPECT_EQ(box.boxes[0].text.rfind("PANIC!\r\n\r\nFile=[Settings_contact_usDlg] \r\n", 0), 0u);
  EXPECT_NE(box.boxes[0].text.find("Message=[Error Please enter your name and your message ]"), std::string::npos);
  EXPECT_NE(box.boxes[1].text.find("Message=[Error. Message is too long please shorten it and try again]"),
            std::string::npos);
  EXPECT_EQ(vendor_.RequestCount(), 0u);
}

TEST_F(WebPages, a_failed_send_says_so) {
  vendor_.SetReply(VendorServer::kSendFeedback, ScriptedReply::NotFound());
  CSettings_contact_usDlg page;
  page.EnsureInitialised();
  RecordingPresenter box;
  page.nameEdit()->setText("Ann");
  page.messageEdit()->setPlainText("100% & more");
  page.sendButton()->click();
  ASSERT_EQ(box.boxes.size(), 1u);
  EXPECT_EQ(box.boxes[0].text, "Could not send message");
  EXPECT_NE(Body().find("&Msg=Name%3A%20Ann\r\n100%25%20%26%20more&"), std::string::npos) << Body();
}

TEST_F(WebPages, contact_sends_the_message_lines_ended_by_cr_lf) {
  CSettings_contact_usDlg page;
  page.EnsureInitialised();
  RecordingPresenter box;
  page.nameEdit()->setText("Ann");
  page.messageEdit()->setPlainText("one\ntwo\r\n\nthree\n");
  page.sendButton()->click();
  ASSERT_EQ(box.boxes.size(), 1u);
  EXPECT_EQ(box.boxes[0].text, "Message Sent");
  EXPECT_NE(Body().find("&Msg=Name%3A%20Ann\r\none\r\ntwo\r\n\r\nthree\r\n&Notes="),
            std::string::npos)
      << Body();
}

TEST_F(WebPages, contact_limit_counts_characters_not_utf16_units) {
  const QString emoji = QString::fromUcs4(U"\U0001F600");  // one character, two UTF-16 units
  const std::string emojiBytes = "\xF0\x9F\x98\x80";
  const struct {
    int emoji, letters;
    std::string box;
  } cases[] = {
      {200, 800, "Message Sent"},
      {1, 1023, "Message Sent"},
      {1, 1024, "too long"},
      {1025, 0, "too long"},
      {600, 0, "Message Sent"},  // 2400 bytes, but 600 characters of a body of 2048 at most
  };
  CSettings_contact_usDlg page;
  page.EnsureInitialised();
  page.nameEdit()->setText("Ann");
  std::size_t sent = 0;
  for (const auto& c : cases) {
    RecordingPresenter box;
    page.messageEdit()->setPlainText(emoji.repeated(c.emoji) + QString(c.letters, 'm'));
    page.sendButton()->click();
    ASSERT_EQ(box.boxes.size(), 1u);
    if (c.box == "too long") {
      EXPECT_NE(box.boxes[0].text.find("Message is too long"), std::string::npos) << c.emoji;
    } else {
      EXPECT_EQ(box.boxes[0].text, c.box) << c.emoji;
    }
    if (c.box != "Message Sent") continue;
    ASSERT_EQ(vendor_.RequestCount(), ++sent);
    std::string message;
    for (int i = 0; i < c.emoji; ++i) message += emojiBytes;
    EXPECT_NE(Body(sent - 1).find("\r\n" + message + std::string(c.letters, 'm') + "&Notes="),
              std::string::npos);
  }
  EXPECT_EQ(vendor_.RequestCount(), 3u);
}
