// The Diagnostics window, bit writes, writes read back and broadcasts from the main window,
// against vantrel-slave: its counters, 22 and 23 served for real; and the turnaround setting.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>

#include <functional>

#include "app/DiagnosticsDlg.h"
#include "app/MainWindowTest.h"
#include "app/WriteDlg.h"
#include "session/PollTexts.h"
#include "sheet/Settings_connectionDlg2.h"
#include "sheet/Settings_requestDlg.h"

using namespace vantrel;
using vantrel::test::MainWindow;
using vantrel::test::ReadFile;

namespace {

constexpr int kUint16 = 5;  // the table's uint16 column of a register row

// The table's cell of a row of the Diagnostics window.
std::string Cell(const CDiagnosticsDlg& d, int row, int column) {
  return d.table()->item(row, column)->text().toStdString();
}

}  // namespace

class Diagnostics : public MainWindow {
 protected:
  std::string Log() const { return dlg_->LogText().toStdString(); }
  void Write(int row, std::function<void(CWriteDlg&)> fill) {
    dlg_->runWriteDialog = [fill](CWriteDlg& d) {
      fill(d);
      return d.result();
    };
    dlg_->OpenWriteDialog({row});
    StepReplyTicks();
  }
  CDiagnosticsDlg* OpenFromMenu() {
    for (QAction* a : dlg_->findChildren<QAction*>()) {
      if (a->objectName() == QLatin1String("diagnosticsAction")) a->trigger();
    }
    return dlg_->findChild<CDiagnosticsDlg*>();
  }
};

TEST_F(Diagnostics, reads_the_counters_sees_polls_count_clears_and_restarts) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=4\nrecv_time_out=1000\n");
  StartWindow();
  CDiagnosticsDlg* d = OpenFromMenu();
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(OpenFromMenu(), d) << "one window, raised";
  EXPECT_EQ(dlg_->findChildren<CDiagnosticsDlg*>().size(), 1);

  d->readButton()->click();
  StepReplyTicks();
  EXPECT_FALSE(d->reading().Reading());
  EXPECT_EQ(Cell(*d, 0, 0), "Bus message count");
  const int before = std::stoi(Cell(*d, 0, 1));
  EXPECT_GE(before, 1);
  EXPECT_EQ(Cell(*d, 8, 0), "Diagnostic register");
  EXPECT_EQ(Cell(*d, 8, 1).substr(0, 2), "0x");
  for (int r = 0; r < 9; ++r) EXPECT_FALSE(Cell(*d, r, 1).empty()) << r;
  EXPECT_NE(d->statusLabel()->text().toStdString().find("Slave 1, read at"), std::string::npos);
  EXPECT_NE(Log().find("=>Request: 01 08 00 0B 00 00"), std::string::npos) << Log();

  for (int i = 0; i < 3; ++i) {
    dlg_->Poll();
    StepReplyTicks();
  }
  ASSERT_EQ(Rows().size(), 4u);
  d->readButton()->click();
  StepReplyTicks();
  const int after = std::stoi(Cell(*d, 0, 1));
  // Three polls, and the nine requests of the read before.
  EXPECT_GE(after - before, 3 + 9);
  EXPECT_EQ(Cell(*d, 0, 2), "+" + std::to_string(after - before));
  dlg_->show();
  d->show();
  QApplication::processEvents();
  QDir().mkpath(QStringLiteral(VANTREL_ARTIFACT_DIR));
  EXPECT_TRUE(d->grab().save(QStringLiteral(VANTREL_ARTIFACT_DIR "/diagnostics.png")));

  d->ClearCounters();
  StepReplyTicks();
  EXPECT_NE(d->statusLabel()->text().toStdString().find("Counters cleared (slave 1)"), std::string::npos);
  d->readButton()->click();
  StepReplyTicks();
  EXPECT_LT(std::stoi(Cell(*d, 0, 1)), after);
  EXPECT_EQ(Cell(*d, 0, 2).substr(0, 1), "-") << "cleared: the count fell";

  // Asked first; the box says what happens, and clears the event log when ticked.
  std::string question;
  d->runBox = [&](QMessageBox& box) {
    question = box.text().toStdString();
    if (box.checkBox() != nullptr) box.checkBox()->setChecked(true);
    return int(QMessageBox::Yes);
  };
  d->RestartCommunications();
  StepReplyTicks();
  EXPECT_NE(question.find("restarts its communications port"), std::string::npos) << question;
  EXPECT_NE(Log().find("=>Request: 01 08 00 01 FF 00"), std::string::npos) << Log();
  EXPECT_EQ(d->statusLabel()->text().toStdString(), "Communications restarted, event log cleared (slave 1)");
  d->runBox = [](QMessageBox&) { return int(QMessageBox::Cancel); };
  const auto requests = Log().size();
  d->RestartCommunications();
  EXPECT_EQ(Log().size(), requests) << "cancelled: nothing sent";

  // The device gone (its line with it): the status line explains, the counters show empty.
  slave_.reset();
  d->readButton()->click();
  StepReplyTicks();
  EXPECT_EQ(d->statusLabel()->text().toStdString(), "Bus message count: The line went away before the reply came.");
  for (int r = 0; r < 9; ++r) EXPECT_EQ(Cell(*d, r, 1), "") << r;
  EXPECT_TRUE(box_.boxes.empty()) << "no box: the window's status line says it";
}

TEST_F(Diagnostics, sets_and_clears_a_bit_and_writes_a_run_read_back_in_one_request) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=4\n");
  StartWindow();
  dlg_->Poll();
  StepReplyTicks();
  ASSERT_EQ(Rows()[2][kUint16], "3");  // offset 3 holds 0b0011
  Write(2, [](CWriteDlg& d) {
    ASSERT_TRUE(d.bitBox()->isVisibleTo(&d));
    d.bitBox()->setValue(3);
    d.setBitButton()->click();
  });
  EXPECT_NE(Log().find("=>Write request: 01 16 00 02 FF F7 00 08"), std::string::npos) << Log();
  EXPECT_EQ(Rows()[2][kUint16], "11") << "0b1011, read back";
  Write(2, [](CWriteDlg& d) {
    d.bitBox()->setValue(0);
    d.clearBitButton()->click();
  });
  EXPECT_EQ(Rows()[2][kUint16], "10") << "0b1010";

  dlg_->runWriteDialog = [](CWriteDlg& d) {
    EXPECT_TRUE(d.readBackBox()->isEnabled());
    EXPECT_FALSE(d.bitBox()->isVisibleTo(&d)) << "a bit is one register's";
    d.readBackBox()->setChecked(true);
    d.perRowButton()->setChecked(true);
    for (int i = 0; i < 3; ++i) d.valueTable()->item(i, 2)->setText(QString::number(500 + i));
    EXPECT_NE(d.planLabel()->text().toStdString().find("with function 23"), std::string::npos);
    d.OnWrite();
    return d.result();
  };
  dlg_->OpenWriteDialog({1, 2, 3});
  StepReplyTicks();
  EXPECT_NE(Log().find("=>Write request: 01 17 00 01 00 03 00 01 00 03 06 01 F4 01 F5 01 F6"), std::string::npos)
      << Log();
  EXPECT_NE(Log().find("<= Write reply: 06 01 F4 01 F5 01 F6"), std::string::npos) << "what the device holds";
  EXPECT_EQ(Rows()[3][kUint16], "502");
  EXPECT_TRUE(box_.boxes.empty());
}

// Slave id 0 in the Write dialog broadcasts: the slave carries it out without a reply, and
// the line waits the turnaround set on the Connection page, which settings.ini keeps.
TEST_F(Diagnostics, a_broadcast_write_after_the_turnaround_set_and_a_poll_of_id_0_refused) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=2\n");
  StartWindow();
  dlg_->runSettingsSheet = [](CTreePropSheet& sheet) {
    sheet.show();
    QApplication::processEvents();
    auto* page = sheet.findChild<CSettings_connectionDlg2*>();
    EXPECT_EQ(page->turnaroundEdit()->text(), "100") << "the default";
    page->turnaroundEdit()->setText(QStringLiteral("40"));
    sheet.okButton()->click();
    return sheet.result();
  };
  dlg_->connectionButton()->click();
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("\nturnaround_ms=40\n"), std::string::npos);
  ScannerSettings reread(dir_.path());
  ASSERT_TRUE(reread.Load());
  EXPECT_EQ(reread.turnaround_ms, 40);
  EXPECT_EQ(dlg_->session().connection().turnaroundMs, 40);

  dlg_->Poll();
  StepReplyTicks();
  Write(1, [](CWriteDlg& d) {
    EXPECT_FALSE(d.broadcastLabel()->isVisibleTo(&d));
    d.slaveIdBox()->setValue(0);
    EXPECT_TRUE(d.broadcastLabel()->isVisibleTo(&d));
    EXPECT_EQ(d.broadcastLabel()->text(), "Broadcast to every device: no reply is awaited");
    EXPECT_FALSE(d.readBackBox()->isEnabled()) << "23 awaits a reply";
    d.valueEdit()->setText(QStringLiteral("4321"));
    d.OnWrite();
  });
  EXPECT_NE(Log().find("=>Write request: 00 06 00 01 10 E1"), std::string::npos) << Log();
  EXPECT_NE(Log().find("Broadcast: no device answers; the next request waits 40 ms"), std::string::npos) << Log();
  EXPECT_EQ(Rows()[1][kUint16], "4321") << "the slave carried it out; read back from slave 1";
  EXPECT_TRUE(box_.boxes.empty());

  // The Request page refuses slave id 0 with why, and keeps the page open.
  dlg_->runSettingsSheet = [](CTreePropSheet& sheet) {
    sheet.show();
    QApplication::processEvents();
    sheet.findChild<CSettings_requestDlg*>()->slaveIdEdit()->setText(QStringLiteral("0"));
    sheet.okButton()->click();
    EXPECT_TRUE(sheet.isVisible()) << "not left";
    sheet.cancelButton()->click();
    return sheet.result();
  };
  dlg_->requestButton()->click();
  ASSERT_FALSE(box_.boxes.empty());
  EXPECT_EQ(box_.boxes.back().text, PduRequestErrorText(MB_REQUEST_NO_BROADCAST));
  EXPECT_NE(box_.boxes.back().text.find("no device answers a broadcast"), std::string::npos);
  EXPECT_EQ(settings_.request_id, 1);
}
