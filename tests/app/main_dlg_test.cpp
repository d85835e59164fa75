// The main window driven offscreen against vantrel-slave, linked as COM3 in a temporary
// start-up folder. Ticks are stepped through OnTimer, as the window timers would.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QItemSelectionModel>
#include <QTableView>
#include <QTest>

#include <regex>
#include <sstream>

#include "app/MainWindowTest.h"
#include "app/PollTab.h"
#include "app/DataLogBar.h"
#include "app/WriteDlg.h"

using namespace vantrel;
using namespace std::chrono_literals;
using vantrel::test::MainWindow;
using vantrel::test::ReadFile;
using vantrel::test::RecordingPresenter;
using Row = vantrel::test::Row;

TEST_F(MainWindow, start_up_connects_and_logs) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=10\n");
  StartWindow();
  EXPECT_TRUE(master_.IsOpen());
  EXPECT_EQ(dlg_->connectionButton()->text(), "COM 3:115200,N,8,1");
  EXPECT_EQ(dlg_->requestButton()->text(), "03 Holding registers, Device: 1 Offset: 1 Length: 10");
  EXPECT_EQ(tattler_.Values().at("RequestString"), "Device: 1 Offset: 1 Length: 10") << "the report's text stays";
  EXPECT_EQ(dlg_->pollFrequencyButton()->text(), "Once");
  EXPECT_EQ(dlg_->startButton()->text(), "Not connected") << "until the first status refresh";
  dlg_->OnTimer(TIMER_STATUS);
  EXPECT_EQ(dlg_->startButton()->text(), "Poll");
  EXPECT_TRUE(dlg_->IsTimerArmed(TIMER_STATUS));
  EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_POLL));
  const std::string log = dlg_->LogText().toStdString();
  EXPECT_NE(log.find("] Connected to serial port COM 3:115200,N,8,1"), std::string::npos) << log;
  EXPECT_NE(log.find("] Starting up"), std::string::npos);
  EXPECT_NE(log.find("] Frequency string has been updated: Once "), std::string::npos);
  EXPECT_NE(log.find("] Request string has been updated: 03 Holding registers, Device: 1 Offset: 1 Length: 10 "),
            std::string::npos);
  // newest first on screen, oldest first in the file
  EXPECT_LT(log.find("Connected to"), log.find("Starting up"));
  const std::string file = ReadFile(dir_ / "log.txt");
  EXPECT_LT(file.find("Starting up"), file.find("Connected to"));
  EXPECT_NE(ReadFile(dir_ / "Debuglog.txt").find("Start up path " + dir_.path()), std::string::npos);
  EXPECT_TRUE(box_.boxes.empty());
}

TEST_F(MainWindow, a_good_poll_of_each_function_fills_the_table) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=3\nrequest_offset=1\n");
  StartWindow();
  dlg_->Poll();
  EXPECT_GE(StepReplyTicks(), 1);
  ASSERT_EQ(Rows().size(), 3u);
  EXPECT_EQ(Rows()[0], (Row{"Write", "1", "40001", "400001", "0x0001", "1", "1", "", "", ""}));
  EXPECT_EQ(Rows()[1], (Row{"Write", "2", "40002", "400002", "0x0002", "2", "2", "131073", "131073", "0.000000"}));
  EXPECT_EQ(Rows()[2][7], "incomplete");

  settings_.request_function_code = 4;
  settings_.request_offset = 5;
  dlg_->Poll();
  StepReplyTicks();
  ASSERT_EQ(Rows().size(), 3u);
  EXPECT_EQ(Rows()[0], (Row{"Read-only", "5", "30005", "300005", "0x0032", "50", "50", "", "", ""}));

  settings_.request_function_code = 1;
  dlg_->Poll();
  StepReplyTicks();
  EXPECT_EQ(Rows()[1], (Row{"Write", "6", "00006", "000006", "0"}));

  settings_.request_function_code = 2;
  dlg_->Poll();
  StepReplyTicks();
  EXPECT_EQ(Rows()[2], (Row{"Read-only", "7", "10007", "100007", "1"}));  // address 6, a multiple of 3
  EXPECT_TRUE(box_.boxes.empty());
  EXPECT_EQ(tattler_.Values().at("PollCount"), "4");
  EXPECT_EQ(tattler_.Values().at("RespCount"), "4");
  const std::string log = dlg_->LogText().toStdString();
  EXPECT_NE(log.find("] <= Responce: "), std::string::npos);
  EXPECT_NE(log.find("] =>Request: 01 02 00 04 00 03 "), std::string::npos) << log;
}

TEST_F(MainWindow, each_fault_gives_its_message_and_falls_back_to_once) {
  StartSlave();
  // A second for each reply: the faults answer at once, but a busy machine may be slow.
  WriteSettings("request_function_code=3\nrequest_length=2\npoll_frequency=30\nrecv_time_out=1000\n");
  StartWindow();
  struct Case {
    int offset;
    int type;
    std::string text;
  };
  const std::string crc =
      "Error - invalid CRC check\n\nThe response from your device contains an invalid CRC check. \n"
      "Check your connection and request settings and try again \nmb_responce_code=-7 - MB_RESPONCE_INVALID_CRC";
  const std::string unknown =
      "Error - Unknown\n\nAn unknown error has occurred \nCheck your connection and request settings "
      "and try again \nmb_responce_code=-8 - MB_RESPONCE_UNKOWN";
  const std::string unsupported =
      "Error - Non supported function code\n\nThe response contained a function code that is not "
      "currently supported by this utility. \nCheck your request settings and try again \n\n"
      "mb_responce_code=-5 - MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE";
  const std::string invalid =
      "Error - Invalid function code \n\nThe response from your device seems to be invalid. \nCheck "
      "your connection and request settings and try again \n\nmb_responce_code=-4 - "
      "MB_RESPONCE_INVALID_FUNCTION_CODE";
  const Case cases[] = {
      {9020, kBoxOk, crc},
      {9002, kBoxStop, ""},
      {9007, kBoxStop,
       "Error. Unknown Modbus exception error \n   Modbus Error code: 0x83\n   Modbus Exception code: 0x07\n"},
      {9027, kBoxOk, unknown},
      {9024, kBoxOk, unknown},
      {9026, kBoxOk, unsupported},
      {9028, kBoxOk, invalid},
      {9021, kBoxOk, ""},  // silence: the time-out
  };
  for (const Case& c : cases) {
    settings_.poll_frequency = 30;
    dlg_->UpdatePollFrequencySummary();
    settings_.request_offset = c.offset;
    box_.boxes.clear();
    dlg_->Poll();
    StepReplyTicks();
    ASSERT_EQ(box_.boxes.size(), 1u) << c.offset;
    EXPECT_EQ(box_.boxes[0].type, c.type) << c.offset;
    if (!c.text.empty()) {
      EXPECT_EQ(box_.boxes[0].text, c.text) << c.offset;
    }
    EXPECT_EQ(settings_.poll_frequency, 0) << c.offset;
    EXPECT_EQ(dlg_->pollFrequencyButton()->text(), "Once");
    EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_POLL)) << c.offset;
    EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_REPLY));
    EXPECT_EQ(dlg_->startButton()->text(), "Poll");
    EXPECT_TRUE(Rows().empty()) << "emptied on send, not filled after a failure";
  }
  EXPECT_EQ(box_.boxes.size(), 1u);
  const std::string& timeout = box_.boxes[0].text;
  EXPECT_EQ(timeout.rfind("Error - Timeout\n\nThis device has taken too long to respond", 0), 0u);
  EXPECT_NE(timeout.find("Poll: 01 03 23 3C 00 02 "), std::string::npos) << timeout;
  // the activity log has one line for each failure, with what came; the whole
  // explanation goes to the message log only
  const std::string log = dlg_->LogText().toStdString();
  EXPECT_NE(log.find("Failed: 0x02 - ILLEGAL DATA ADDRESS; received: 01 83 02 "), std::string::npos) << log;
  EXPECT_EQ(log.find("The data address received in the query"), std::string::npos);
  EXPECT_NE(ReadFile(dir_ / "log.txt").find("MessageAndLog iType=[16] msg=[0x02 - ILLEGAL DATA ADDRESS\n"),
            std::string::npos);
}

// The reply wait is counted at each 100 ms reply tick: the time-out comes on the second tick
// for a time-out of 0, on the twelfth for 1000 ms, at once for a negative one.
TEST_F(MainWindow, time_out_arithmetic) {
  StartSlave({"-a", "1", "-b", "115200", "-f", "silence"});
  WriteSettings("request_function_code=3\nrequest_length=1\nrecv_time_out=0\n");
  TimePoint now = SessionClock::now();
  StartWindow();
  dlg_->lineClock = [&now] { return now; };
  const auto tick = [&] {
    now += 100ms;
    dlg_->OnTimer(TIMER_REPLY);
  };
  dlg_->Poll();
  tick();
  EXPECT_TRUE(box_.boxes.empty());
  EXPECT_EQ(dlg_->ReplyWaitMs(), 100u);
  EXPECT_EQ(dlg_->startButton()->text(), "Polling");
  EXPECT_FALSE(dlg_->startButton()->isEnabled());
  tick();
  ASSERT_EQ(box_.boxes.size(), 1u) << "second tick";
  EXPECT_EQ(dlg_->ReplyWaitMs(), 0u);

  settings_.recv_time_out = 1000;
  box_.boxes.clear();
  dlg_->Poll();
  int ticks = 0;
  while (box_.boxes.empty() && ticks < 20) {
    tick();
    ++ticks;
  }
  EXPECT_EQ(ticks, 12);

  // a negative time-out times out at once rather than never
  settings_.recv_time_out = -5;
  box_.boxes.clear();
  dlg_->Poll();
  tick();
  EXPECT_EQ(box_.boxes.size(), 1u);
}

// A poll that falls due while the reply is awaited waits for it: a silent device polled
// every second with a time-out of 3 s gets one request, and one box when its time-out comes.
TEST_F(MainWindow, a_silent_device_times_out_once_with_real_timers) {
  StartSlave({"-a", "1", "-b", "115200", "-f", "silence"});
  WriteSettings("request_function_code=3\nrequest_length=1\nrecv_time_out=3000\npoll_frequency=1\n");
  StartWindow();
  ASSERT_TRUE(dlg_->IsTimerArmed(TIMER_POLL));
  ExpectPollTimer(1000);
  const auto start = std::chrono::steady_clock::now();
  while (box_.boxes.empty() && std::chrono::steady_clock::now() - start < 10s) {
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - Timeout\n", 0), 0u);
  EXPECT_GE(took, 4s) << "the first poll a second in, then its own 3 s";
  EXPECT_EQ(tattler_.Values().at("PollCount"), "1") << "nothing on top of the request awaiting its reply";
  EXPECT_EQ(dlg_->pollFrequencyButton()->text(), "Once");
  EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_POLL));
  EXPECT_EQ(dlg_->statistics().polls(), dlg_->statistics().timeouts());
}

TEST_F(MainWindow, countdown_captions) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=1\npoll_frequency=120\n");
  std::time_t now = 1000000;
  SetClock([&now] { return now; });
  StartWindow();
  dlg_->Poll();
  StepReplyTicks();
  const std::time_t sent = dlg_->pollTab(0)->lastPollTime;
  ASSERT_EQ(sent, now);
  dlg_->UpdateStartButton();
  EXPECT_EQ(dlg_->startButton()->text(), "Next poll in 2 min");
  now = sent + 2;  // 119 left
  dlg_->UpdateStartButton();
  EXPECT_EQ(dlg_->startButton()->text(), "Next poll in 1 min");
  now = sent + 60;  // 61 left
  dlg_->UpdateStartButton();
  EXPECT_EQ(dlg_->startButton()->text(), "Next poll in 1 min");
  now = sent + 61;
  dlg_->UpdateStartButton();
  EXPECT_EQ(dlg_->startButton()->text(), "Next poll in 60 sec");
  now = sent + 119;
  dlg_->UpdateStartButton();
  EXPECT_EQ(dlg_->startButton()->text(), "Next poll in 2 sec");
  now = sent + 120;
  dlg_->UpdateStartButton();
  EXPECT_EQ(dlg_->startButton()->text(), "Next poll in 1 sec");
  const int before = dlg_->m_pollCount;
  now = sent + 121;
  dlg_->UpdateStartButton();  // the countdown ran out: its own poll
  EXPECT_EQ(dlg_->m_pollCount, before + 1);
  StepReplyTicks();
  // Start during a countdown polls at once and restarts the period from that send
  now += 30;
  dlg_->startButton()->click();
  EXPECT_EQ(dlg_->pollTab(0)->lastPollTime, now);
  ExpectPollTimer(120000);
  StepReplyTicks();
  dlg_->UpdateStartButton();
  EXPECT_EQ(dlg_->startButton()->text(), "Next poll in 2 min");
  EXPECT_TRUE(box_.boxes.empty());
}

TEST_F(MainWindow, no_port_no_connection) {
  WriteSettings("request_function_code=3\n");
  StartWindow();
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - Can not connect to the serial port\n\n", 0), 0u);
  EXPECT_NE(box_.boxes[0].text.find("Serial post settings: COM 3:115200,N,8,1"), std::string::npos);
  dlg_->OnTimer(TIMER_STATUS);
  EXPECT_EQ(dlg_->startButton()->text(), "Not connected");
  EXPECT_TRUE(dlg_->startButton()->isEnabled());
  const std::string log = dlg_->LogText().toStdString();
  EXPECT_NE(log.find("Error - Can not connect to the serial port  This problem"), std::string::npos)
      << "one line in the log";
  // a poll fails at the send
  box_.boxes.clear();
  dlg_->Poll();
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - Can not poll device \n\n", 0), 0u);
  EXPECT_EQ(tattler_.Values().at("PollCount"), "1");
  EXPECT_EQ(tattler_.Values().count("RespCount"), 0u);
  EXPECT_NE(ReadFile(dir_ / "Debuglog.txt").find("COM3 is no device"), std::string::npos);
}

TEST_F(MainWindow, invalid_stored_request_reopens_the_sheet_on_request) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=126\n");
  StartWindow();
  ASSERT_GE(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - The message is too long\n", 0), 0u);
  EXPECT_EQ(sheets_, std::vector<std::string>{"Request"});
  settings_.request_function_code = 9;
  box_.boxes.clear();
  dlg_->ValidateRequest();
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_NE(box_.boxes[0].text.find("Message=[Unknown function code ]"), std::string::npos);
}

TEST_F(MainWindow, activity_log_lines_files_and_clear) {
  WriteSettings("");
  std::time_t now = 1000000;
  SetClock([&now] { return now; });
  StartWindow();
  dlg_->OnClearLog();
  EXPECT_TRUE(dlg_->LogText().endsWith("Log cleared\n")) << dlg_->LogText().toStdString();
  EXPECT_EQ(dlg_->LogText().count('\n'), 1);
  dlg_->AddLogLine("two\nlines");
  EXPECT_TRUE(dlg_->LogText().startsWith("[")) << "newest on top";
  EXPECT_TRUE(dlg_->LogText().contains("] two\nlines\n["));
  const std::string file = ReadFile(dir_ / "log.txt");
  EXPECT_NE(file.find("] two\nlines\n"), std::string::npos);
  EXPECT_NE(file.find("Starting up"), std::string::npos) << "the file keeps what the screen lost";
  dlg_->AddLogLine("%s", "50% literal %d");
  EXPECT_NE(ReadFile(dir_ / "log.txt").find("] 50% literal %d\n"), std::string::npos);
}

TEST_F(MainWindow, screen_keeps_a_bounded_number_of_entries) {
  WriteSettings("");
  StartWindow();
  for (int i = 0; i < CMainDlg::kMaxLogEntries + 50; ++i) dlg_->AddLogLine("entry %d\nsecond line", i);
  const QString text = dlg_->LogText();
  EXPECT_EQ(text.count('\n'), 2 * CMainDlg::kMaxLogEntries);
  EXPECT_TRUE(text.contains(QString("entry %1\n").arg(CMainDlg::kMaxLogEntries + 49)));
  EXPECT_FALSE(text.contains("entry 49\n"));
  EXPECT_TRUE(text.contains("entry 50\n"));
  EXPECT_TRUE(text.endsWith("second line\n"));
}

TEST_F(MainWindow, unwritable_log_file_warns_once_until_a_write_succeeds) {
  WriteSettings("logfile_path=" + dir_.path() + "/missing/log.txt\n");
  StartWindow();
  ASSERT_EQ(box_.boxes.size(), 2u);  // the failed log line, then the connect error
  EXPECT_EQ(box_.boxes[0].text, "Can not save to log");
  dlg_->AddLogLine("again");
  EXPECT_EQ(box_.boxes.size(), 2u);
  EXPECT_EQ(ReadFile(dir_ / "Debuglog.txt").find("Can not save to log"), std::string::npos);
  // Browse to a good file: written again; a later failure warns again
  dlg_->chooseLogFile = [this](const std::string& folder, const std::string& name) {
    EXPECT_EQ(folder, dir_.path());
    EXPECT_EQ(name, "log.txt");
    return dir_ / "chosen.txt";
  };
  dlg_->OnBrowseLogFile();
  EXPECT_EQ(dlg_->logPathEdit()->text().toStdString(), dir_ / "chosen.txt");
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("logfile_path=" + dir_ / "chosen.txt"), std::string::npos);
  dlg_->AddLogLine("written");
  EXPECT_NE(ReadFile(dir_ / "chosen.txt").find("] written\n"), std::string::npos);
  dlg_->m_logFilePath = dir_.path() + "/missing/again.txt";
  dlg_->AddLogLine("fails");
  EXPECT_EQ(box_.boxes.size(), 3u);
  // cancelling Browse changes nothing
  const std::string before = ReadFile(dir_ / "settings.ini");
  dlg_->chooseLogFile = [](const std::string&, const std::string&) { return std::string(); };
  dlg_->OnBrowseLogFile();
  EXPECT_EQ(ReadFile(dir_ / "settings.ini"), before);
}

TEST_F(MainWindow, write_column_opens_the_write_dialog_only_on_the_first_cell_of_a_row) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=10\n");
  StartWindow();
  std::vector<std::string> dialogs;
  dlg_->runWriteDialog = [&](CWriteDlg& dialog) {
    dialogs.push_back(dialog.findChild<QLabel*>(QStringLiteral("targetLabel"))->text().toStdString());
    return int(QDialog::Rejected);
  };
  dlg_->resize(800, 700);
  dlg_->show();
  QTableView* view = dlg_->responseList();
  dlg_->OnResponseListClick(QPoint(5, 5));
  EXPECT_TRUE(box_.boxes.empty()) << "empty list";
  dlg_->Poll();
  StepReplyTicks();
  QApplication::processEvents();
  const QRect first = view->visualRect(dlg_->responseModel()->index(0, 0));
  const QRect other = view->visualRect(dlg_->responseModel()->index(0, 2));
  const QRect last = view->visualRect(dlg_->responseModel()->index(9, 0));
  dlg_->OnResponseListClick(other.center());
  dlg_->OnResponseListClick(QPoint(first.center().x(), last.bottom() + 5));
  EXPECT_TRUE(dialogs.empty());
  dlg_->OnResponseListClick(first.center());
  EXPECT_EQ(dialogs, std::vector<std::string>{"Holding register at offset 1 (40001, 400001)"});
  EXPECT_TRUE(box_.boxes.empty());
  EXPECT_TRUE(dlg_->IsCursorOnWriteColumn(last.center()));

  // A real click on Write of a row in a selection of three writes all three; on a row
  // outside it, that row alone.
  view->selectionModel()->select(QItemSelection(dlg_->responseModel()->index(2, 0), dlg_->responseModel()->index(4, 0)),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                    view->visualRect(dlg_->responseModel()->index(3, 0)).center());
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                    view->visualRect(dlg_->responseModel()->index(7, 0)).center());
  ASSERT_EQ(dialogs.size(), 3u);
  EXPECT_EQ(dialogs[1], "3 holding registers, offsets 3 to 5 (40003 to 40005)");
  EXPECT_EQ(dialogs[2], "Holding register at offset 8 (40008, 400008)");
}

TEST_F(MainWindow, screenshot_after_a_good_poll) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=10\n");
  StartWindow();
  dlg_->show();
  dlg_->Poll();
  StepReplyTicks();
  dlg_->OnTimer(TIMER_STATUS);
  QApplication::processEvents();
  ASSERT_EQ(Rows().size(), 10u);
  const QString out = QStringLiteral(VANTREL_ARTIFACT_DIR "/main_window.png");
  QDir().mkpath(QStringLiteral(VANTREL_ARTIFACT_DIR));
  EXPECT_TRUE(dlg_->grab().save(out));
}

TEST_F(MainWindow, version_check_at_start_up_asks_once_and_opens_the_installer) {
  vendor_.SetReply(vantrel::test::VendorServer::kCheckVersion, vantrel::test::ScriptedReply::Text("UPDATE"));
  WriteSettings("check_for_updates=1\n");
  StartWindow();
  ASSERT_TRUE(dlg_->IsTimerArmed(TIMER_VERSION_CHECK));
  EXPECT_EQ(dlg_->TimerPeriod(TIMER_VERSION_CHECK), 100);
  box_ = RecordingPresenter(IDYES);
  SetMessagePresenter(&box_);
  dlg_->OnTimer(TIMER_VERSION_CHECK);
  EXPECT_EQ(dlg_->TimerPeriod(TIMER_VERSION_CHECK), 3600000) << "then hourly";
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].type, kBoxYesNo);
  EXPECT_EQ(box_.boxes[0].text,
            "There is a new version of this application available.\nWould you like to download the new version?");
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], vendor_.RootUrl() + "files/resources/Installer_Vantrel Modbus Scanner.exe");
  const auto requests = vendor_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].body, "app_name=Vantrel Modbus Scanner&app_ver=1.00bD&Notes=");
}

TEST_F(MainWindow, version_check_switched_off_stops_its_timer) {
  WriteSettings("check_for_updates=0\n");
  StartWindow();
  EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_VERSION_CHECK));
  dlg_->SetTimer(TIMER_VERSION_CHECK, 100);
  dlg_->OnTimer(TIMER_VERSION_CHECK);
  EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_VERSION_CHECK));
  EXPECT_EQ(vendor_.RequestCount(), 0u);
}

TEST_F(MainWindow, version_check_answered_no_or_current_opens_nothing) {
  vendor_.SetReply(vantrel::test::VendorServer::kCheckVersion, vantrel::test::ScriptedReply::Text("UPDATE"));
  WriteSettings("check_for_updates=1\n");
  StartWindow();
  box_ = RecordingPresenter(IDNO);
  SetMessagePresenter(&box_);
  dlg_->OnTimer(TIMER_VERSION_CHECK);
  EXPECT_EQ(box_.boxes.size(), 1u);
  vendor_.SetReply(vantrel::test::VendorServer::kCheckVersion, vantrel::test::ScriptedReply::Text("PASS"));
  dlg_->OnTimer(TIMER_VERSION_CHECK);
  EXPECT_EQ(box_.boxes.size(), 1u);
  EXPECT_TRUE(opened_.empty());
}

TEST_F(MainWindow, banner_slots_open_their_pages) {
  WriteSettings("");
  StartWindow();
  const std::string ref = "?ref=Vantrel Modbus Scanner(1.00bD)";
  dlg_->m_bannerIndex = 2;
  dlg_->OnBannerClick();
  dlg_->m_bannerIndex = 3;
  dlg_->OnBannerClick();
  dlg_->m_bannerIndex = 0;
  dlg_->OnBannerClick();
  dlg_->m_bannerIndex = 1;
  dlg_->OnBannerClick();
  EXPECT_EQ(opened_, (std::vector<std::string>{vendor_.RootUrl() + "forums/" + ref,
                                               vendor_.RootUrl() + "a/resources/BACnet/" + ref,
                                               vendor_.RootUrl() + ref, vendor_.RootUrl() + ref}));
}

TEST_F(MainWindow, banner_rotation_favours_slot_zero) {
  WriteSettings("");
  StartWindow();
  EXPECT_FALSE(dlg_->findChild<QLabel*>("banner")->pixmap().isNull());
  EXPECT_FALSE(dlg_->windowIcon().isNull());
  int counts[4] = {};
  for (int i = 0; i < 1000; ++i) {
    dlg_->OnTimer(TIMER_BANNER);
    ASSERT_GE(dlg_->m_bannerIndex, 0);
    ASSERT_LE(dlg_->m_bannerIndex, 3);
    ++counts[dlg_->m_bannerIndex];
  }
  EXPECT_GT(counts[0], 600);
  EXPECT_GT(counts[1], 50);
  EXPECT_GT(counts[3], 50);
}

TEST_F(MainWindow, close_reports_usage_and_saves) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=1\n");
  StartWindow();
  dlg_->Poll();
  StepReplyTicks();
  dlg_->Poll();
  StepReplyTicks();
  settings_.request_offset = 9021;  // silent: a poll without a reply
  settings_.recv_time_out = 0;
  dlg_->Poll();
  StepReplyTicks();
  dlg_->OnCloseRequest();
  EXPECT_EQ(dlg_->result(), QDialog::Accepted);
  const auto requests = vendor_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/script/tattler.php");
  const std::string& body = requests[0].body;
  EXPECT_EQ(body.rfind("utility_name=Vantrel Modbus Scanner&utility_version=1.00bD&ConnectionString=COM 3:115200,N,8,1&PollCount=3&PollFrequency=Once&RequestString=Device: 1 Offset: 1 Length: 1&RespCount=2&send_time=", 0), 0u) << body;
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("request_offset=9021\n"), std::string::npos);
}

TEST_F(MainWindow, escape_ends_without_report_or_save) {
  WriteSettings("");
  StartWindow();
  const std::string before = ReadFile(dir_ / "settings.ini");
  dlg_->show();
  settings_.request_length = 7;
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(dlg_.get(), &escape);
  EXPECT_EQ(dlg_->result(), QDialog::Rejected);
  EXPECT_FALSE(dlg_->isVisible());
  EXPECT_EQ(vendor_.RequestCount(), 0u);
  EXPECT_EQ(ReadFile(dir_ / "settings.ini"), before);
}

// Ctrl+C copies the selected rows with the captions, tab-separated, for a spreadsheet; the
// View menu adds the wire-address column (kept in settings.ini, and the table is read
// again); "Save table as CSV" writes every row, or explains why it could not.
TEST_F(MainWindow, copy_rows_wire_addresses_and_save_as_csv) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=4\nrequest_offset=10\n");
  StartWindow();
  dlg_->Poll();
  StepReplyTicks();
  ASSERT_EQ(Rows().size(), 4u);
  QTableView* view = dlg_->responseList();
  for (int row : {3, 1}) {
    view->selectionModel()->select(view->model()->index(row, 1),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  view->setFocus();
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  const QStringList lines = QGuiApplication::clipboard()->text().split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 4) << lines.join(QLatin1Char('|')).toStdString();  // and the empty last
  EXPECT_EQ(lines[0], "Offset\tStandard address\t6 digit address\tHex\tuint16\tint16\tuint32\tint32\tfloat32");
  EXPECT_TRUE(lines[1].startsWith("11\t40011\t400011\t0x000B\t11\t11\t720906\t720906\t")) << lines[1].toStdString();
  EXPECT_EQ(lines[2], "13\t40013\t400013\t0x000D\t13\t13\t851980\t851980\t0.000000");
  EXPECT_EQ(lines[3], "");

  dlg_->findChild<QAction*>(QStringLiteral("showWireAddress"))->trigger();
  EXPECT_EQ(settings_.show_wire_address, 1);
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("\nshow_wire_address=1\n"), std::string::npos);
  StepReplyTicks();
  ASSERT_EQ(Rows().size(), 4u);
  EXPECT_EQ(Rows()[0][4], "9 (0x0009)");

  dlg_->chooseExportFile = [this](const std::string& folder, const std::string& name) {
    EXPECT_EQ(folder, dir_.path());
    EXPECT_EQ(name, "table.csv");
    return dir_ / "saved.csv";
  };
  dlg_->SaveTableAsCsv();
  const std::string csv = ReadFile(dir_ / "saved.csv");
  EXPECT_EQ(csv.substr(0, csv.find('\n')),
            "Offset,Standard address,6 digit address,Wire address,Hex,uint16,int16,uint32,int32,float32");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 5);
  EXPECT_NE(csv.find("\n10,40010,400010,9 (0x0009),0x000A,10,10,,,\n"), std::string::npos) << csv;
  EXPECT_TRUE(box_.boxes.empty());
  dlg_->chooseExportFile = [this](const std::string&, const std::string&) { return dir_ / "missing/saved.csv"; };
  dlg_->SaveTableAsCsv();
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - The table could not be saved\n\nThe file " + (dir_ / "missing/saved.csv") +
                                         " could not be written: No such file or directory.",
                                     0),
            0u)
      << box_.boxes[0].text;
}

// The data log from the window: switched on (a file is asked for first), each good reply
// appends a timed row, a new request gets a new header, the 32-bit values when chosen; a
// file that cannot be written is explained once.
TEST_F(MainWindow, data_log_rows_from_real_polls) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=2\nrequest_offset=5\n");
  StartWindow();
  DataLogBar* bar = dlg_->dataLogBar();
  std::vector<std::string> asked;
  std::string answer;
  dlg_->chooseLogFile = [&](const std::string& folder, const std::string& name) {
    asked.push_back(folder + "|" + name);
    return answer;
  };
  bar->onCheck()->click();  // no file yet: asked for one; cancelled, so still off
  EXPECT_EQ(asked, std::vector<std::string>{dir_.path() + "|datalog.csv"});
  EXPECT_FALSE(bar->onCheck()->isChecked());
  answer = dir_ / "dl.csv";
  bar->onCheck()->click();
  EXPECT_TRUE(bar->onCheck()->isChecked());
  EXPECT_EQ(bar->pathEdit()->text().toStdString(), answer);
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("\ndata_log=1\ndata_log_path=" + answer + "\n"), std::string::npos);

  for (int offset : {5, 5, 7}) {
    settings_.request_offset = offset;
    dlg_->Poll();
    StepReplyTicks();
  }
  bar->with32BitCheck()->click();
  dlg_->Poll();
  StepReplyTicks();
  settings_.request_offset = 9021;  // silence: no row
  settings_.recv_time_out = 200;
  dlg_->Poll();
  StepReplyTicks();
  box_.boxes.clear();

  std::vector<std::string> lines;
  std::istringstream file(ReadFile(answer));
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 7u) << ReadFile(answer);
  EXPECT_EQ(lines[0], "time,40005,40006");
  EXPECT_EQ(lines[3], "time,40007,40008");
  EXPECT_EQ(lines[5], "time,40007,40008,40007-40008 uint32,40007-40008 int32,40007-40008 float32");
  const std::regex row(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3},(.*))");
  const char* values[] = {nullptr, "5,6", "5,6", nullptr, "7,8", nullptr, "7,8,524295,524295,0.000000"};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (values[i] == nullptr) continue;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, row)) << lines[i];
    EXPECT_EQ(m[1], values[i]) << i;
  }

  // A file that cannot be written: one box for two failed rows.
  answer = dir_ / "missing/dl.csv";
  bar->Browse();
  settings_.request_offset = 5;
  settings_.recv_time_out = 1000;
  for (int i = 0; i < 2; ++i) {
    dlg_->Poll();
    StepReplyTicks();
  }
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - Can not save to the data log\n\nThe file " + answer +
                                         " could not be written (No such file or directory).",
                                     0),
            0u)
      << box_.boxes[0].text;
}
