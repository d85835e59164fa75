// The main window shows only values that answer its request, recovers when its device
// comes back, and keeps its log, table and close path sound.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

#include <functional>

#include "app/MainWindowTest.h"
#include "app/CaptionButton.h"
#include "app/WriteDlg.h"
#include "session/WriteValues.h"
#include "sheet/Settings_requestDlg.h"
#include "web/WebCall.h"

using namespace vantrel;
using namespace std::chrono_literals;
using vantrel::test::MainWindow;
using vantrel::test::ReadFile;
using vantrel::test::Row;
using vantrel::test::BoxWithEvents;
using vantrel::test::ScriptedReply;
using vantrel::test::VendorServer;

namespace {

// A reply of the vendor's server that takes long enough for the user to act meanwhile.
ScriptedReply Slow(const char* text) {
  ScriptedReply reply = ScriptedReply::Text(text);
  reply.delayMs = 300;
  return reply;
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace

TEST_F(MainWindow, a_negative_stored_poll_frequency_polls_once) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=1\npoll_frequency=-1\n");
  StartWindow();
  EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_POLL)) << "not a 1 ms period";
  EXPECT_EQ(dlg_->pollFrequencyButton()->text(), "Once");
  dlg_->OnTimer(TIMER_STATUS);
  dlg_->OnTimer(TIMER_POLL);
  EXPECT_EQ(dlg_->m_pollCount, 0) << "neither the countdown nor the poll timer polls";
  EXPECT_EQ(dlg_->startButton()->text(), "Poll");
}

TEST_F(MainWindow, only_the_reply_to_the_request_fills_the_table) {
  StartSlave({"-a", "1", "-b", "115200", "--fault-at", "30=noise", "--fault-at", "40=short"});
  WriteSettings("request_function_code=3\nrequest_length=2\n");
  StartWindow();

  // a stray byte before a good reply
  settings_.request_offset = 30;
  dlg_->Poll();
  StepReplyTicks();
  EXPECT_TRUE(box_.boxes.empty()) << box_.boxes[0].text;
  ASSERT_EQ(Rows().size(), 2u);
  EXPECT_EQ(Rows()[0][4], "0x001E");

  // another device's reply is no answer: the wait goes on to the time-out
  settings_.recv_time_out = 1500;  // the other reply comes at once; the wait then runs out
  settings_.request_offset = 9025;
  dlg_->Poll();
  StepReplyTicks();
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - Timeout\n", 0), 0u);
  EXPECT_TRUE(Rows().empty());

  // a late reply of an abandoned request does not answer the next one
  settings_.recv_time_out = 0;
  settings_.request_offset = 9022;  // answered after 500 ms, given up after 200
  settings_.request_length = 10;
  dlg_->Poll();
  StepReplyTicks();
  settings_.request_offset = 1;
  settings_.request_length = 2;
  settings_.recv_time_out = 10000;
  dlg_->Poll();
  StepReplyTicks();
  ASSERT_EQ(Rows().size(), 2u) << (box_.boxes.empty() ? "" : box_.boxes.back().text);
  EXPECT_EQ(Rows()[0], (Row{"Write", "1", "40001", "400001", "0x0001", "1", "1", "", "", ""}));

  // a device that answers too short every time gets the table's message, not a time-out
  box_.boxes.clear();
  settings_.request_offset = 40;
  settings_.recv_time_out = 1500;
  dlg_->Poll();
  StepReplyTicks();
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_NE(box_.boxes[0].text.find("Message=[Not enugh data to cover the request lenght]"), std::string::npos)
      << box_.boxes[0].text;
  EXPECT_EQ(settings_.poll_frequency, 0);

  const std::string debug = ReadFile(dir_ / "Debuglog.txt");
  EXPECT_NE(debug.find("Line noise before the reply, skipped: 00 "), std::string::npos);
  EXPECT_NE(debug.find("(from slave 2, not 1)"), std::string::npos);
  EXPECT_NE(debug.find("(20 data bytes, not the 4 asked for)"), std::string::npos);
}

TEST_F(MainWindow, a_reply_is_taken_once_and_its_timer_stops_before_any_box) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=1\nlogfile_path=" + dir_.path() + "/missing/log.txt\n");
  StartWindow();
  bool armedDuringBox = true;
  BoxWithEvents box([&] {
    armedDuringBox = dlg_->IsTimerArmed(TIMER_REPLY);
    dlg_->OnTimer(TIMER_REPLY);  // a tick while "Can not save to log" is open
  });
  dlg_->Poll();
  dlg_->m_logSaveFailed = false;  // so that the reply's log line shows the box
  StepReplyTicks();
  ASSERT_EQ(box.texts.size(), 1u);
  EXPECT_EQ(box.texts[0], "Can not save to log");
  EXPECT_FALSE(armedDuringBox);
  EXPECT_EQ(tattler_.Values().at("RespCount"), "1");
  EXPECT_EQ(dlg_->ReplyWaitMs(), 0u);
  EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(MainWindow, a_device_that_comes_back_is_polled_again) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=1\nrequest_offset=5\n");
  StartWindow();
  dlg_->Poll();
  StepReplyTicks();
  ASSERT_EQ(Rows().size(), 1u);

  slave_->Stop();  // the adapter is pulled
  dlg_->Poll();
  StepReplyTicks();
  EXPECT_FALSE(master_.IsOpen()) << "the dead device is let go";
  EXPECT_TRUE(box_.boxes.empty()) << "said in the log, not in a box";
  dlg_->OnTimer(TIMER_STATUS);
  EXPECT_EQ(dlg_->startButton()->text(), "Not connected");

  // polling at a frequency: one attempt per poll, quietly, while the device is away
  settings_.SetPollPeriodMs(100);
  dlg_->Poll();
  ASSERT_TRUE(QTest::qWaitFor([this] { return Count(ReadFile(dir_ / "Debuglog.txt"), "COM3 is no device") >= 2; }));
  EXPECT_TRUE(box_.boxes.empty());
  EXPECT_EQ(dlg_->statistics().otherErrors(), dlg_->statistics().polls() - 1) << "each attempt counted";

  StartSlave();  // back, on a new pseudo-terminal behind the same COM3
  ASSERT_TRUE(QTest::qWaitFor([this] { return Rows().size() == 1u && !dlg_->responseModel()->IsStale(); }))
      << (box_.boxes.empty() ? "" : box_.boxes[0].text);
  EXPECT_EQ(Rows()[0][4], "0x0005");
  EXPECT_EQ(settings_.PollPeriodMs(), 100) << "polling goes on";
  const std::string log = ReadFile(dir_ / "log.txt");
  EXPECT_EQ(Count(log, "has gone away"), 1) << log;
  EXPECT_EQ(Count(log, "] Connected to serial port COM 3:115200,N,8,1"), 2);
}

TEST_F(MainWindow, request_values_that_do_not_fit_the_frame_are_refused) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=1\nrequest_id=256\n");
  StartWindow();
  ASSERT_GE(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - The slave id is out of range\n", 0), 0u) << box_.boxes[0].text;
  EXPECT_EQ(sheets_, std::vector<std::string>{"Request"});
  box_.boxes.clear();
  dlg_->Poll();  // never sent as slave 0, the broadcast address
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - Can not generate read message\n", 0), 0u);
  settings_.request_id = 1;
  settings_.request_offset = 65537;
  box_.boxes.clear();
  dlg_->ValidateRequest();
  ASSERT_GE(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - The offset is out of range\n", 0), 0u);
  dlg_->Poll();
  EXPECT_EQ(box_.boxes.back().text.rfind("Error - Can not generate read message\n", 0), 0u);
  // nothing of that reached the line; the first request that fits is the first it sees
  settings_.request_offset = 1;
  dlg_->Poll();
  StepReplyTicks();
  EXPECT_EQ(Rows().size(), 1u);
  slave_->Stop();
  const std::string heard = slave_->Log();
  EXPECT_EQ(Count(heard, "] -> "), 1) << heard;
  EXPECT_NE(heard.find("] -> 01 03 00 00 00 01 "), std::string::npos) << heard;
}

// A file of an older version with request_offset=0 polls address 0, as it did then; the
// Request page takes the 0 and stores it as 1, the same address.
TEST_F(MainWindow, a_stored_offset_0_polls_address_0) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_offset=0\nrequest_length=2\n");
  StartWindow();
  EXPECT_TRUE(box_.boxes.empty()) << box_.boxes[0].text;
  EXPECT_TRUE(sheets_.empty());
  dlg_->Poll();
  StepReplyTicks();
  EXPECT_TRUE(box_.boxes.empty());
  ASSERT_EQ(Rows().size(), 2u);
  EXPECT_EQ(Rows()[0], (Row{"Write", "1", "40001", "400001", "0x0001", "1", "1", "", "", ""}));
  EXPECT_NE(slave_->Log().find("] -> 01 03 00 00 00 02 "), std::string::npos) << slave_->Log();

  std::string shown;
  dlg_->runSettingsSheet = [&](CTreePropSheet& sheet) {
    sheet.show();
    QApplication::processEvents();
    auto* page = sheet.findChild<CSettings_requestDlg*>();
    shown = page->offsetEdit()->text().toStdString();
    sheet.okButton()->click();
    return sheet.result();
  };
  dlg_->OpenSettingsSheet(kPageRequest, false);
  EXPECT_EQ(shown, "0");
  EXPECT_TRUE(box_.boxes.empty());
  EXPECT_EQ(settings_.request_offset, 1);
}

// The window stays as the user has it: its size whatever the captions say, a status line
// read whole at the default size, and, when the word order changes, the rows in view and
// selected, so that a click on Write lands on the registers it did before.
TEST_F(MainWindow, the_window_and_its_rows_stay_under_the_user) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=60\n");
  StartWindow();
  dlg_->show();
  QApplication::processEvents();
  const QSize size = dlg_->size();
  EXPECT_EQ(size, QSize(800, 760)) << "the default size";

  // The settings and their summaries, as the settings sheet sets them.
  auto set = [&](int mode, int function, int id, int offset, int length, int periodMs) {
    settings_.modbus_mode = mode;
    settings_.request_function_code = function;
    settings_.request_id = id;
    settings_.request_offset = offset;
    settings_.request_length = length;
    settings_.SetPollPeriodMs(periodMs);
    dlg_->UpdateConnectionSummary();
    dlg_->UpdateRequestSummary();
    dlg_->UpdatePollFrequencySummary();
  };
  // The longest captions the buttons get, each shown whole, none of them widening the window.
  settings_.tcp_host = "192.168.100.200";
  settings_.tcp_port = 50200;
  set(3, 4, 247, 60001, 125, 250);
  for (const char* caption : {"Not connected", "Next poll in 1799 sec", "Polling"}) {
    dlg_->startButton()->setText(QString::fromLatin1(caption));
    QApplication::processEvents();
    EXPECT_EQ(dlg_->size(), size) << caption;
    for (QPushButton* b : {dlg_->connectionButton(), dlg_->requestButton(), dlg_->pollFrequencyButton(),
                           dlg_->startButton()}) {
      auto* button = dynamic_cast<CaptionButton*>(b);
      ASSERT_NE(button, nullptr) << b->objectName().toStdString();
      EXPECT_FALSE(button->Elided()) << button->text().toStdString();
    }
  }
  const QString longLine = QStringLiteral(
      "Polls 123456  Replies 123450  Time-outs 3  CRC/LRC 1  Exceptions 1  Other 1  Writes 12/12  "
      "Response 17.1 ms (min 12.3, avg 17.1, max 105.2)");
  QLabel* status = dlg_->statusLine();
  status->setText(longLine);
  QApplication::processEvents();
  EXPECT_EQ(dlg_->size(), size);
  const QRect room = status->contentsRect();
  const QRect needed = status->fontMetrics().boundingRect(QRect(0, 0, room.width(), 10000),
                                                          status->wordWrap() ? Qt::TextWordWrap : 0, longLine);
  EXPECT_LE(needed.width(), room.width()) << "the status line is not cut off";
  EXPECT_LE(needed.height(), room.height());
  QDir().mkpath(QStringLiteral(VANTREL_ARTIFACT_DIR));
  EXPECT_TRUE(dlg_->grab().save(QStringLiteral(VANTREL_ARTIFACT_DIR "/main_window_long_captions.png")));

  set(1, 3, 1, 1, 60, 0);
  dlg_->Poll();
  StepReplyTicks();
  QApplication::processEvents();
  ASSERT_EQ(Rows().size(), 60u);
  QTableView* view = dlg_->responseList();
  ResponseModel* model = dlg_->responseModel();
  view->selectionModel()->select(QItemSelection(model->index(40, 0), model->index(41, 0)),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  view->scrollTo(model->index(40, 0), QAbstractItemView::PositionAtTop);
  QApplication::processEvents();
  const int top = view->rowAt(0);
  const int y = view->visualRect(model->index(40, 0)).y();
  const int height = view->viewport()->height();
  ASSERT_GT(top, 30);
  for (WordOrder order : {WordOrder::HighFirst, WordOrder::LowFirstSwapped, WordOrder::HighFirstSwapped,
                          WordOrder::LowFirst}) {
    const int n = static_cast<int>(order);
    dlg_->SetTableFormat(n, 0);
    StepReplyTicks();
    QApplication::processEvents();
    EXPECT_EQ(std::string(model->table().columns[9].caption).rfind(order == WordOrder::LowFirst ? "float32" : "float32 (", 0),
              0u) << n;
    EXPECT_EQ(dlg_->SelectedRows(), (std::vector<int>{40, 41})) << n;
    EXPECT_EQ(view->rowAt(0), top) << n;
    EXPECT_EQ(view->visualRect(model->index(40, 0)).y(), y) << n;
    EXPECT_EQ(view->viewport()->height(), height) << "no scroll bar came or went: " << n;
    EXPECT_EQ(dlg_->size(), size) << n;
    EXPECT_TRUE(dlg_->grab().save(QStringLiteral(VANTREL_ARTIFACT_DIR "/main_window_word_order_%1.png").arg(n)));
  }
  // A click on Write of a selected row writes the rows the user selected.
  std::string target;
  dlg_->runWriteDialog = [&](CWriteDlg& d) {
    target = d.findChild<QLabel*>(QStringLiteral("targetLabel"))->text().toStdString();
    return int(QDialog::Rejected);
  };
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, view->visualRect(model->index(41, 0)).center());
  EXPECT_EQ(target, "2 holding registers, offsets 41 to 42 (40041 to 40042)");
}

TEST_F(MainWindow, a_full_log_box_that_the_user_edits_keeps_showing_new_lines) {
  WriteSettings("");
  StartWindow();
  for (int i = 0; i < CMainDlg::kMaxLogEntries; ++i) dlg_->AddLogLine("entry %d", i);
  auto* box = dlg_->findChild<QPlainTextEdit*>("logEdit");
  ASSERT_NE(box, nullptr);
  dlg_->show();
  box->setFocus();
  QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(box, Qt::Key_Delete);
  QTest::keyClicks(box, "typed");
  dlg_->AddLogLine("after the edit");
  const QString text = dlg_->LogText();
  EXPECT_TRUE(text.contains("] after the edit\n")) << text.left(200).toStdString();
  EXPECT_EQ(text.count('\n'), CMainDlg::kMaxLogEntries);
  EXPECT_TRUE(text.contains("] entry 999\n"));
  EXPECT_FALSE(text.contains("] entry 0\n")) << "the oldest went";
  EXPECT_FALSE(text.contains("typed"));
  EXPECT_TRUE(box->isReadOnly());
}

TEST_F(MainWindow, enter_in_the_log_box_is_close) {
  WriteSettings("");
  StartWindow();
  dlg_->show();
  auto* box = dlg_->findChild<QPlainTextEdit*>("logEdit");
  box->setFocus();
  const int lines = box->document()->blockCount();
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_EQ(box->document()->blockCount(), lines);
  EXPECT_EQ(dlg_->result(), QDialog::Accepted);
  EXPECT_EQ(vendor_.RequestCount(), 1u) << "the usage report of Close";
}

TEST_F(MainWindow, every_record_of_log_txt_starts_on_its_own_line) {
  WriteSettings("");  // no simulator: the connect error is a box, then an activity line
  StartWindow();
  dlg_->AddLogLine("next");
  const std::string file = ReadFile(dir_ / "log.txt");
  EXPECT_NE(file.find("MessageAndLog return = [ 1]\n["), std::string::npos) << file;
  EXPECT_EQ(file.find("][0"), std::string::npos) << file;
  EXPECT_EQ(file.find("][1"), std::string::npos) << file;
  EXPECT_EQ(file.find("][2"), std::string::npos) << file;
}

TEST_F(MainWindow, the_response_table_is_left_with_tab_and_shows_every_text_whole) {
  std::ofstream(dir_ / "image.txt") << "holding 0 u32 1080033280\n";
  StartSlave({"-a", "1", "-b", "115200", "-i", dir_ / "image.txt"});
  WriteSettings("request_function_code=3\nrequest_length=3\n");
  StartWindow();
  dlg_->show();
  dlg_->Poll();
  StepReplyTicks();
  ASSERT_EQ(Rows().size(), 3u);
  ASSERT_EQ(Rows()[1][7], "1080033280");
  QTableView* view = dlg_->responseList();
  const QFontMetrics fm = view->fontMetrics();
  const int margin = 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
  for (int c = 0; c < 10; ++c) {
    for (const Row& row : Rows()) {
      EXPECT_GE(view->columnWidth(c), fm.horizontalAdvance(QString::fromStdString(row[c])) + margin)
          << "column " << c << ": " << row[c];
    }
  }
  QApplication::processEvents();
  QDir().mkpath(QStringLiteral(VANTREL_ARTIFACT_DIR));
  EXPECT_TRUE(dlg_->grab().save(QStringLiteral(VANTREL_ARTIFACT_DIR "/main_window_wide_values.png")));

  QApplication::setActiveWindow(dlg_.get());
  view->setFocus();
  ASSERT_TRUE(view->hasFocus());
  QTest::keyClick(view, Qt::Key_Tab);
  EXPECT_FALSE(view->hasFocus()) << "Tab moved from cell to cell";
}

TEST_F(MainWindow, browse_refuses_a_log_file_name_with_a_line_break) {
  WriteSettings("");
  StartWindow();
  dlg_->OnBrowseLogFile();  // no dialog: nothing chosen
  const std::string before = ReadFile(dir_ / "settings.ini");
  const std::string old = settings_.logfile_path;
  box_.boxes.clear();
  dlg_->chooseLogFile = [this](const std::string&, const std::string&) { return dir_ / "two\nlines.txt"; };
  dlg_->OnBrowseLogFile();
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - The log file name can not be used\n", 0), 0u);
  EXPECT_NE(box_.boxes[0].text.find("The log file stays " + old), std::string::npos);
  EXPECT_EQ(settings_.logfile_path, old);
  EXPECT_EQ(dlg_->m_logFilePath, old);
  EXPECT_EQ(ReadFile(dir_ / "settings.ini"), before);
}

TEST_F(MainWindow, close_asked_again_while_the_report_waits_sends_it_once) {
  vendor_.SetReply(VendorServer::kTattler, Slow("STATE: PASS"));
  WriteSettings("");
  StartWindow();
  int asked = 0;
  SetPumpFunction([&] {
    if (asked++ < 3) {
      dlg_->OnCloseRequest();  // Close, Enter and the menu stay live during the wait
      dlg_->reject();          // and so does Escape
    }
    std::this_thread::sleep_for(2ms);
  });
  dlg_->OnCloseRequest();
  SetPumpFunction(nullptr);
  EXPECT_GT(asked, 3);
  EXPECT_EQ(vendor_.RequestCount(), 1u);
  EXPECT_EQ(dlg_->result(), QDialog::Accepted);
}

TEST_F(MainWindow, a_late_version_answer_after_close_shows_nothing) {
  vendor_.SetReply(VendorServer::kCheckVersion, Slow("UPDATE"));
  WriteSettings("check_for_updates=1\n");
  StartWindow();
  box_.boxes.clear();  // the connect error: no simulator here
  bool closed = false;
  SetPumpFunction([&] {
    if (!closed) {
      closed = true;
      dlg_->OnCloseRequest();  // Close while the start-up check waits
    }
    std::this_thread::sleep_for(2ms);
  });
  dlg_->OnTimer(TIMER_VERSION_CHECK);
  SetPumpFunction(nullptr);
  EXPECT_TRUE(closed);
  EXPECT_TRUE(box_.boxes.empty()) << box_.boxes[0].text;
  EXPECT_TRUE(opened_.empty());
  EXPECT_NE(ReadFile(dir_ / "Debuglog.txt").find("New version answer after closing began: not shown"),
            std::string::npos);
}

// While the request stays the same, a reply updates the rows in place: the selection, the
// scroll position and the column widths stay, and the values that changed are marked for a
// moment. Another request empties the table at once.
TEST_F(MainWindow, polling_updates_the_rows_in_place) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=60\n");
  StartWindow();
  std::int64_t now = 1000;
  dlg_->markClock = [&now] { return now; };
  dlg_->resize(800, 600);
  dlg_->show();
  dlg_->Poll();
  StepReplyTicks();
  ASSERT_EQ(Rows().size(), 60u);
  QTableView* view = dlg_->responseList();
  view->selectRow(45);
  view->scrollTo(dlg_->responseModel()->index(45, 0));
  view->setColumnWidth(2, 300);
  const int scrolled = view->verticalScrollBar()->value();
  ASSERT_GT(scrolled, 0);

  std::string error;
  dlg_->QueueWrite(FrameWrites(1, false, 46, {4660}, false, 1, error));
  EXPECT_EQ(Rows().size(), 60u) << "not emptied while the write and the read-back are on their way";
  StepReplyTicks();
  EXPECT_EQ(Rows()[45][5], "4660");
  EXPECT_TRUE(dlg_->responseModel()->IsChanged(45, 5));
  EXPECT_FALSE(dlg_->responseModel()->IsChanged(44, 5));
  EXPECT_TRUE(dlg_->responseModel()->data(dlg_->responseModel()->index(45, 4), Qt::BackgroundRole).isValid());
  EXPECT_EQ(view->selectionModel()->selectedRows().size(), 1);
  EXPECT_TRUE(view->selectionModel()->isRowSelected(45));
  EXPECT_EQ(view->verticalScrollBar()->value(), scrolled);
  EXPECT_EQ(view->columnWidth(2), 300);
  EXPECT_TRUE(dlg_->IsTimerArmed(TIMER_CHANGES));
  now += CMainDlg::kChangeMarkMs - 1;
  dlg_->OnTimer(TIMER_CHANGES);
  EXPECT_TRUE(dlg_->responseModel()->IsChanged(45, 5)) << "a moment is not over yet";
  EXPECT_EQ(dlg_->TimerPeriod(TIMER_CHANGES), 1) << "armed for what is left of it";
  now += 1;
  dlg_->OnTimer(TIMER_CHANGES);
  EXPECT_FALSE(dlg_->responseModel()->HasChanges());
  EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_CHANGES));

  settings_.request_length = 5;
  dlg_->Poll();
  EXPECT_TRUE(Rows().empty()) << "rows of the old request do not wait for the new reply";
  StepReplyTicks();
  EXPECT_EQ(Rows().size(), 5u);
}

// A reply is taken as soon as its bytes arrive: with the reply tick out of the way, the
// table still fills, and a write's reply and its read-back too.
TEST_F(MainWindow, replies_are_taken_when_their_bytes_arrive) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=4\n");
  StartWindow();
  dlg_->m_replyTickMs = 600000;
  auto waitUntil = [](const std::function<bool()>& done) {
    for (int i = 0; i < 400 && !done(); ++i) {
      std::this_thread::sleep_for(5ms);
      QApplication::processEvents();
    }
    return done();
  };
  dlg_->Poll();
  ASSERT_TRUE(waitUntil([this] { return Rows().size() == 4u; }));
  EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_REPLY));
  EXPECT_EQ(dlg_->ReplyWaitMs(), 0u) << "no tick counted";
  std::string error;
  dlg_->QueueWrite(FrameWrites(1, false, 2, {99}, false, 1, error));
  ASSERT_TRUE(waitUntil([this] { return Rows()[1][5] == "99" && !dlg_->IsTimerArmed(TIMER_REPLY); }));
  EXPECT_TRUE(box_.boxes.empty());
}

// The status line counts every exchange by how it ended, across the simulator's faults.
TEST_F(MainWindow, the_status_line_counts_each_kind_of_ending) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=1\nrecv_time_out=300\n");
  StartWindow();
  for (int offset : {1, 2, 9021, 9020, 9002, 9026, 3}) {
    settings_.request_offset = offset;
    dlg_->Poll();
    StepReplyTicks();
  }
  std::string error;
  dlg_->QueueWrite(FrameWrites(1, false, 7, {1}, false, 1, error));
  StepReplyTicks();  // confirmed, then read back
  dlg_->QueueWrite(FrameWrites(1, false, 9029, {1}, false, 1, error));
  StepReplyTicks();
  // Every failure has its line in the activity log, with what came.
  const QString log = dlg_->LogText();
  EXPECT_NE(log.indexOf("Failed: Error - Timeout; received: nothing"), -1) << log.toStdString();
  EXPECT_NE(log.indexOf("Failed: Error - invalid CRC check; received: 01 03 02 23 3C "), -1);
  EXPECT_NE(log.indexOf("Failed: 0x02 - ILLEGAL DATA ADDRESS; received: 01 83 02 "), -1);
  EXPECT_NE(log.indexOf("Failed: Write of 1 holding register at offset 9029 (49029) with function 06: 1: "
                        "Error - The write was not confirmed; received: 01 06 23 45 00 01 "),
            -1);
  const PollStatistics& s = dlg_->statistics();
  EXPECT_EQ(s.polls(), 8);
  EXPECT_EQ(s.replies(), 4);
  EXPECT_EQ(s.timeouts(), 1);
  EXPECT_EQ(s.crcLrcErrors(), 1);
  EXPECT_EQ(s.exceptions(), 1);
  EXPECT_EQ(s.otherErrors(), 2) << "a read's unsupported function, and the write not confirmed";
  EXPECT_EQ(s.writes(), 2);
  EXPECT_EQ(s.writesConfirmed(), 1);
  EXPECT_EQ(s.timedReplies(), 6) << "the good and exception replies of the reads, and the confirmed write";
  EXPECT_GT(s.minResponseMs(), 0.0);
  EXPECT_LE(s.minResponseMs(), s.maxResponseMs());
  EXPECT_EQ(dlg_->statusLine()->text().toStdString(), s.StatusLine());
  dlg_->ResetStatistics();
  EXPECT_EQ(dlg_->statistics().polls(), 0);
  EXPECT_EQ(dlg_->statusLine()->text().toStdString().substr(0, 8), "Polls 0 ");
}

// Stop pauses polling at a frequency and gives up an awaited reply at once; the next poll
// works.
TEST_F(MainWindow, stop_gives_up_the_reply_and_the_polling) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=1\nrequest_offset=9021\npoll_frequency=5\n");
  StartWindow();
  EXPECT_TRUE(dlg_->stopButton()->isEnabled()) << "polling at a frequency";
  dlg_->Poll();  // the device stays silent; the time-out is 10 s
  ASSERT_TRUE(dlg_->IsTimerArmed(TIMER_REPLY));
  QTest::mouseClick(dlg_->stopButton(), Qt::LeftButton);
  EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_REPLY));
  EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_POLL));
  EXPECT_EQ(dlg_->pollFrequencyButton()->text(), "5 seconds") << "a pause: the frequency set stays";
  EXPECT_EQ(dlg_->startButton()->text(), "Start");
  EXPECT_FALSE(dlg_->stopButton()->isEnabled());
  EXPECT_TRUE(box_.boxes.empty()) << "the user asked for it: no box";
  EXPECT_NE(dlg_->LogText().indexOf("Stopped: the reply awaited was given up"), -1);
  settings_.request_offset = 1;
  dlg_->Poll();
  StepReplyTicks();
  ASSERT_EQ(Rows().size(), 1u);
  EXPECT_EQ(Rows()[0][5], "1");
}

// "Keep polling and count it": a failure while polling at a frequency shows no box; it goes
// to the activity log and the counters, the values on screen turn stale, and polling goes
// on. The next good reply makes them fresh again.
TEST_F(MainWindow, keep_polling_logs_and_counts_a_failure_without_a_box) {
  StartSlave();  // offset 9022 answers after 500 ms: a time-out of 300 ms misses it
  WriteSettings("request_function_code=3\nrequest_length=1\nrequest_offset=9022\nrecv_time_out=1000\n"
                "poll_frequency=1\npoll_period_ms=250\nkeep_polling_on_failure=1\n");
  StartWindow();
  ExpectPollTimer(250);
  EXPECT_EQ(dlg_->pollFrequencyButton()->text(), "0.25 seconds");
  dlg_->UpdateStartButton();
  EXPECT_EQ(dlg_->startButton()->text(), "Every 0.25 sec");
  const PollStatistics& s = dlg_->statistics();
  const ResponseModel* model = dlg_->responseModel();
  // The request changes while polling goes on at the period; each change holds from the
  // next poll.
  const auto pollUntil = [this](int offset, const std::function<bool()>& done) {
    settings_.request_offset = offset;
    dlg_->Poll();
    return QTest::qWaitFor(done, 8000);
  };
  // A bad CRC and an exception first: a late reply of a timed-out poll could answer them
  // (a serial line cannot tell it from theirs), never the other way round.
  ASSERT_TRUE(pollUntil(9020, [&] { return s.crcLrcErrors() >= 1; }));
  ASSERT_TRUE(pollUntil(9002, [&] { return s.exceptions() >= 1; }));
  EXPECT_TRUE(box_.boxes.empty()) << box_.boxes.front().text;
  EXPECT_EQ(settings_.PollPeriodMs(), 250) << "polling goes on";
  EXPECT_TRUE(dlg_->IsTimerArmed(TIMER_POLL));

  // The same request failing keeps its rows, grey; its next good reply makes them fresh.
  ASSERT_TRUE(pollUntil(9022, [&] { return model->rowCount() == 1 && !model->IsStale(); }));
  settings_.recv_time_out = 300;
  ASSERT_TRUE(pollUntil(9022, [&] { return model->IsStale(); }));
  ASSERT_EQ(Rows().size(), 1u) << "the last good values stay";
  EXPECT_TRUE(model->data(model->index(0, 5), Qt::ForegroundRole).isValid());
  settings_.recv_time_out = 1000;
  ASSERT_TRUE(pollUntil(9022, [&] { return !model->IsStale(); }));
  EXPECT_TRUE(box_.boxes.empty());
  EXPECT_GE(s.timeouts(), 1);
  const QString log = dlg_->LogText();
  for (const char* line : {"Failed: Error - Timeout; received: nothing", "Failed: Error - invalid CRC check",
                           "Failed: 0x02 - ILLEGAL DATA ADDRESS"}) {
    EXPECT_NE(log.indexOf(QString::fromLatin1(line)), -1) << line;
  }

  // Stop-and-explain is the default: the same failure then shows its box and polls once.
  settings_.keep_polling_on_failure = 0;
  settings_.recv_time_out = 300;
  ASSERT_TRUE(pollUntil(9022, [this] { return !box_.boxes.empty(); }));
  QTest::qWait(600);
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(settings_.PollPeriodMs(), 0);
  EXPECT_TRUE(model->IsStale());
}
