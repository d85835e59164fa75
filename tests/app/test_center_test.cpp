// The Test center offscreen, opened from the main window's menu, sending through the window's
// line session to vantrel-slave on a pseudo-terminal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include <string>

#include "MainWindowTest.h"
#include "app/TestCenterDlg.h"
#include "modbus/ExceptionText.h"

namespace vantrel::test {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class TestCenterWindow : public MainWindow {
 protected:
  CTestCenterDlg& Open() {
    QAction* action = dlg_->findChild<QAction*>(QStringLiteral("testCenterAction"));
    EXPECT_NE(action, nullptr);
    action->trigger();
    return *dlg_->findChild<CTestCenterDlg*>();
  }
  // Types into a field as the user does, replacing what it holds.
  static void Type(QLineEdit* edit, const char* text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, QString::fromLatin1(text));
  }
  // Sends, then lets the window run until the request's outcome has come: the last row of
  // the history, as the list shows it.
  std::string SendAndWait(CTestCenterDlg& tc, bool again = false, int row = 0) {
    const std::size_t before = tc.history().size();
    if (again) {
      QTableWidget* table = tc.historyTable();
      table->scrollToItem(table->item(row, 2));
      const QPoint at = table->visualItemRect(table->item(row, 2)).center();
      // The second click of a double-click: the view takes it for one only after a press there.
      QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, at);
      QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at);
    } else {
      QTest::mouseClick(tc.sendButton(), Qt::LeftButton);
    }
    EXPECT_EQ(tc.history().size(), std::min(before + 1, kTestHistorySize)) << "sent";
    // The window's own timers and watch run meanwhile, so the response time is the line's.
    QElapsedTimer clock;
    clock.start();
    while (tc.history().entries().back().outcome == "waiting" && clock.elapsed() < 5000) {
      QApplication::processEvents(QEventLoop::AllEvents, 10);
      usleep(1000);
    }
    QTableWidget* table = tc.historyTable();
    return table->item(table->rowCount() - 1, 4)->text().toStdString();
  }
  static std::string Reply(const CTestCenterDlg& tc) { return tc.replyPane()->toPlainText().toStdString(); }
  static std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }
};

TEST_F(TestCenterWindow, sends_forms_and_raw_pdus_broadcasts_sends_again_and_keeps_its_history_in_the_workspace) {
  WriteSettings("");
  StartSlave();
  StartWindow();
  CTestCenterDlg& tc = Open();
  EXPECT_EQ(&Open(), &tc) << "one window, raised when open";
  EXPECT_TRUE(tc.isVisible());
  EXPECT_FALSE(tc.isModal());
  EXPECT_EQ(tc.slaveBox()->value(), 1) << "the poll in front's slave id";
  EXPECT_EQ(tc.functionList()->count(), static_cast<int>(ModbusFunctions().size()));

  // 22 from its form: the raw field and the frame follow the fields as they are typed.
  ASSERT_TRUE(tc.ChooseFunction(22));
  EXPECT_TRUE(tc.paramEdit(TestParam::AndMask)->isVisibleTo(&tc));
  EXPECT_FALSE(tc.paramEdit(TestParam::Quantity)->isVisibleTo(&tc));
  Type(tc.paramEdit(TestParam::Offset), "10");
  Type(tc.paramEdit(TestParam::AndMask), "0x00F2");
  Type(tc.paramEdit(TestParam::OrMask), "0x0025");
  EXPECT_EQ(Text(tc.rawEdit()), "16 00 09 00 F2 00 25");
  EXPECT_THAT(Text(tc.frameEdit()), StartsWith("01 16 00 09 00 F2 00 25 "));
  EXPECT_EQ(Text(tc.frameEdit()).size(), 10u * 3 - 1) << "with the CRC";
  // The frame is the mode's on the Connection page.
  settings_.modbus_mode = static_cast<int>(ModbusMode::Ascii);
  tc.UpdatePreview();
  EXPECT_THAT(Text(tc.frameEdit()), StartsWith(":0116000900F20025"));
  EXPECT_THAT(Text(tc.frameEdit()), EndsWith("<CR><LF>"));
  settings_.modbus_mode = static_cast<int>(ModbusMode::Rtu);
  tc.UpdatePreview();

  EXPECT_EQ(SendAndWait(tc), "OK");
  EXPECT_THAT(Reply(tc), HasSubstr("Reply: 16 00 09 00 F2 00 25\n"));
  EXPECT_THAT(Reply(tc), HasSubstr("AND mask: 0x00F2"));
  EXPECT_THAT(Reply(tc), HasSubstr(" ms\n")) << "with its response time";
  // Read back: offset 10 held 10, so (10 AND 0xF2) OR (0x25 AND NOT 0xF2) = 7.
  ASSERT_TRUE(tc.ChooseFunction(3));
  Type(tc.paramEdit(TestParam::Quantity), "1");
  EXPECT_EQ(Text(tc.rawEdit()), "03 00 09 00 01");
  EXPECT_EQ(SendAndWait(tc), "OK");
  EXPECT_THAT(Reply(tc), HasSubstr("Registers read: 7\n"));

  // A raw PDU: diagnostics' echo.
  Type(tc.rawEdit(), "08 00 00 12 34");
  EXPECT_EQ(Text(tc.frameEdit()).substr(0, 17), "01 08 00 00 12 34");
  EXPECT_EQ(SendAndWait(tc), "OK");
  EXPECT_THAT(Reply(tc), HasSubstr("Reply: 08 00 00 12 34\n"));
  const int echoRow = static_cast<int>(tc.history().size()) - 1;

  // A function the codec does not know goes too, and its exception is explained.
  Type(tc.rawEdit(), "41 00");
  EXPECT_THAT(tc.noteLabel()->text().toStdString(), HasSubstr("not one the program knows"));
  EXPECT_EQ(SendAndWait(tc), "Exception 0x01 - ILLEGAL FUNCTION");
  std::string explained;
  ExplainException(0xC1, 0x01, explained);
  EXPECT_THAT(Reply(tc), HasSubstr("Reply: C1 01\n"));
  EXPECT_THAT(Reply(tc), HasSubstr(explained.substr(0, explained.find('\n'))));

  // Slave id 0: a read is refused and not sent; a write is broadcast, no reply awaited.
  tc.slaveBox()->setValue(0);
  ASSERT_TRUE(tc.ChooseFunction(3));
  EXPECT_FALSE(tc.sendButton()->isEnabled());
  EXPECT_THAT(tc.noteLabel()->text().toStdString(), HasSubstr("This request cannot be broadcast"));
  EXPECT_FALSE(tc.Send());
  ASSERT_TRUE(tc.ChooseFunction(6));
  Type(tc.paramEdit(TestParam::Offset), "20");
  Type(tc.paramEdit(TestParam::Values), "0x1234");
  EXPECT_THAT(tc.noteLabel()->text().toStdString(), StartsWith("Broadcast"));
  EXPECT_EQ(SendAndWait(tc), "Broadcast, no reply awaited");
  EXPECT_EQ(tc.historyTable()->item(tc.historyTable()->rowCount() - 1, 5)->text(), QString()) << "no response time";
  tc.slaveBox()->setValue(1);
  ASSERT_TRUE(tc.ChooseFunction(3));
  Type(tc.paramEdit(TestParam::Offset), "20");
  EXPECT_EQ(SendAndWait(tc), "OK");
  EXPECT_THAT(Reply(tc), HasSubstr("Registers read: 4660\n")) << "0x1234, written by the broadcast";

  // Send again by double-click: the echo, once more.
  EXPECT_EQ(SendAndWait(tc, true, echoRow), "OK");
  EXPECT_EQ(tc.history().entries().back().pdu, tc.history().at(static_cast<std::size_t>(echoRow)).pdu);
  EXPECT_THAT(Reply(tc), HasSubstr("Reply: 08 00 00 12 34\n"));

  ASSERT_TRUE(tc.ChooseFunction(22));
  EXPECT_TRUE(tc.grab().save(QStringLiteral(VANTREL_ARTIFACT_DIR "/test_center.png")));

  // Saved with the workspace, loaded back with it.
  const std::string path = dir_ / "site.vantrel.json";
  dlg_->chooseWorkspace = [&path](const std::string&, bool) { return path; };
  ASSERT_TRUE(dlg_->SaveWorkspaceFile(true));
  Workspace saved;
  std::string error;
  ASSERT_TRUE(LoadWorkspace(path, saved, error)) << error;
  const std::vector<SavedTestRequest> expected = tc.SavedHistory();
  ASSERT_EQ(expected.size(), 7u);
  EXPECT_EQ(saved.testCenter, expected);
  EXPECT_THAT(ReadFile(path), HasSubstr("\"slave_id\": 0,\n      \"pdu\": \"06 00 13 12 34\""));
  tc.ClearHistory();
  EXPECT_EQ(tc.historyTable()->rowCount(), 0);
  ASSERT_TRUE(dlg_->OpenWorkspace(path));
  EXPECT_EQ(tc.SavedHistory(), expected);
  EXPECT_EQ(tc.historyTable()->item(6, 3)->text(), QStringLiteral("08 00 00 12 34"));

  // A window started on the workspace has it when its Test center first opens.
  dlg_.reset();
  StartWindow(path);
  EXPECT_EQ(Open().SavedHistory(), expected);
  EXPECT_EQ(SendAndWait(*dlg_->findChild<CTestCenterDlg*>(), true, 2), "OK") << "the echo, from the loaded history";
}

}  // namespace
}  // namespace vantrel::test
