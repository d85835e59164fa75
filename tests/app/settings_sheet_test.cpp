// The settings sheet as the main window opens and applies it, offscreen, against
// vantrel-slave linked as COM3. Each run of the sheet follows a script that works its
// pages and presses OK or Cancel; the sheet is shown, never run in a blocking loop,
// except in the one test that goes through the real modal run with a bounded timer.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "app/MainDlg.h"
#include "app/ResponseModel.h"
#include "modbus/ModbusMaster.h"
#include "session/Line.h"
#include "sheet/PageFrame.h"
#include "sheet/PageRules.h"
#include "settings/ScannerSettings.h"
#include "sheet/Settings_PollFrequencyDlg.h"
#include "sheet/Settings_auto_updateDlg.h"
#include "sheet/Settings_connectionDlg2.h"
#include "sheet/Settings_requestDlg.h"
#include "sheet/TreePropSheet.h"
#include "support/Process.h"
#include "support/RecordingPresenter.h"
#include "support/TempDir.h"
#include "web/Tattler.h"

using namespace vantrel;
using vantrel::test::ReadFile;
using vantrel::test::RecordingPresenter;
using vantrel::test::ScopedCwd;
using vantrel::test::SlaveProcess;
using vantrel::test::TempDir;

namespace {

using Script = std::function<int(CTreePropSheet&)>;

int PressOk(CTreePropSheet& sheet) {
  sheet.okButton()->click();
  return sheet.result();
}

int PressCancel(CTreePropSheet& sheet) {
  sheet.cancelButton()->click();
  return sheet.result();
}

template <typename Page>
Page* PageOf(CTreePropSheet& sheet) {
  return sheet.findChild<Page*>();
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class SettingsSheet : public ::testing::Test {
 protected:
  SettingsSheet() : cwd_(dir_.path()), settings_(dir_.path()) { ResetLogPathsForTesting(); }
  ~SettingsSheet() override {
    dlg_.reset();
    ResetLogPathsForTesting();
  }

  void WriteSettings(const std::string& extra = "request_function_code=3\nrequest_length=10\n") {
    std::ofstream(dir_ / "settings.ini") << "[Vantrel Modbus Scanner]\ncom_port=3\nbuad_rate=115200\n"
                                            "request_id=1\ncheck_for_updates=0\n"
                                         << extra;
  }
  void StartSlave() {
    slave_ = std::make_unique<SlaveProcess>(dir_.path(), "COM3", std::vector<std::string>{"-a", "1", "-b", "115200"});
    ASSERT_TRUE(slave_->ready());
  }
  // The n-th run of the sheet follows scripts_[n]; a run without a script is cancelled.
  void StartWindow() {
    dlg_ = std::make_unique<CMainDlg>(settings_, line_, tattler_);
    dlg_->runSettingsSheet = [this](CTreePropSheet& sheet) {
      starts_.push_back(sheet.GetActivePage()->Caption().toStdString());
      sheet.show();
      QApplication::processEvents();
      const std::size_t run = starts_.size() - 1;
      return run < scripts_.size() ? scripts_[run](sheet) : PressCancel(sheet);
    };
    dlg_->OnTimer(TIMER_STARTUP);
  }
  std::string Log() const { return dlg_->LogText().toStdString(); }
  bool SettingsFileExists() const { return std::filesystem::exists(dir_ / "settings.ini"); }
  void ForgetSettingsFile() { std::filesystem::remove(dir_ / "settings.ini"); }

  TempDir dir_;
  ScopedCwd cwd_;
  ScannerSettings settings_;
  Line line_;
  ModbusMaster& master_ = line_.master();
  Tattler tattler_;
  RecordingPresenter box_;
  std::unique_ptr<SlaveProcess> slave_;
  std::unique_ptr<CMainDlg> dlg_;
  std::vector<Script> scripts_;
  std::vector<std::string> starts_;  // the page each run of the sheet started on
};

}  // namespace

TEST_F(SettingsSheet, six_pages_and_the_start_pages_of_the_buttons_and_the_menu) {
  StartSlave();
  WriteSettings();
  StartWindow();
  QStringList captions;
  scripts_.push_back([&](CTreePropSheet& sheet) {
    for (int i = 0; i < sheet.GetPageCount(); ++i) captions << sheet.GetPage(i)->Caption();
    EXPECT_EQ(sheet.windowTitle(), "Preferences");
    EXPECT_TRUE(sheet.IsTreeMode() && sheet.HasPageCaption() && !sheet.HasTreeImages());
    return PressCancel(sheet);
  });
  dlg_->connectionButton()->click();
  EXPECT_EQ(captions, (QStringList{"Connection", "About::Contact us", "About", "Auto Update", "Request",
                                   "Polling frequency"}));
  dlg_->requestButton()->click();
  dlg_->pollFrequencyButton()->click();
  QMenu* menu = dlg_->findChild<QMenuBar*>()->actions().at(0)->menu();
  ASSERT_EQ(menu->actions().at(0)->text(), "About");
  menu->actions().at(0)->trigger();
  auto* hidden = dlg_->findChild<QPushButton*>("openSettingsButton");
  ASSERT_NE(hidden, nullptr);
  EXPECT_FALSE(hidden->isVisibleTo(dlg_.get()));
  hidden->click();
  dlg_->OpenSettingsSheet(1, false);
  dlg_->OpenSettingsSheet(7, false);
  EXPECT_EQ(starts_, (std::vector<std::string>{"Connection", "Request", "Polling frequency", "About", "Connection",
                                               "Connection", "Connection"}));
}

TEST_F(SettingsSheet, ok_without_changes_with_the_port_open) {
  StartSlave();
  WriteSettings();
  StartWindow();
  dlg_->OnTimer(TIMER_STATUS);
  ASSERT_TRUE(master_.IsOpen());
  const std::string before = Log();
  ForgetSettingsFile();
  dlg_->startButton()->setText("stale");
  scripts_.push_back(PressOk);
  dlg_->OpenSettingsSheet(kPageConnection, false);
  EXPECT_EQ(Count(Log(), "Connected to serial port"), 1) << "no reconnect";
  EXPECT_EQ(Count(Log(), "has been updated"), Count(before, "has been updated")) << "no summary changed";
  EXPECT_EQ(dlg_->startButton()->text(), "Poll") << "Start refreshed";
  EXPECT_TRUE(SettingsFileExists());
  EXPECT_EQ(dlg_->m_pollCount, 0);
  EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_POLL));
  EXPECT_TRUE(box_.boxes.empty()) << "the request was checked and found good";
  EXPECT_EQ(starts_.size(), 1u);
  EXPECT_FALSE(settingsSheetOpen);
}

TEST_F(SettingsSheet, ok_with_the_port_closed_reconnects) {
  WriteSettings();
  StartWindow();
  ASSERT_FALSE(master_.IsOpen());
  StartSlave();
  scripts_.push_back(PressOk);
  dlg_->OpenSettingsSheet(kPageConnection, false);
  EXPECT_TRUE(master_.IsOpen());
  EXPECT_EQ(Count(Log(), "Connected to serial port COM 3:115200,N,8,1"), 1);
}

TEST_F(SettingsSheet, changed_line_settings_reconnect) {
  StartSlave();
  WriteSettings();
  StartWindow();
  scripts_.push_back([](CTreePropSheet& sheet) {
    auto* page = PageOf<CSettings_connectionDlg2>(sheet);
    page->baudCombo()->setCurrentIndex(page->baudCombo()->findText("19200"));
    page->parityCombo()->setCurrentIndex(page->parityCombo()->findText("Even"));
    return PressOk(sheet);
  });
  dlg_->OpenSettingsSheet(kPageConnection, false);
  EXPECT_EQ(settings_.buad_rate, 19200);
  EXPECT_EQ(settings_.parity, 'E');
  EXPECT_EQ(dlg_->connectionButton()->text(), "COM 3:19200,E,8,1");
  EXPECT_NE(Log().find("Connection string has been updated: COM 3:19200,E,8,1 "), std::string::npos);
  EXPECT_NE(Log().find("Connected to serial port COM 3:19200,E,8,1"), std::string::npos);
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("buad_rate=19200"), std::string::npos);
}

TEST_F(SettingsSheet, offset_0_is_stored_as_1) {
  StartSlave();
  WriteSettings();
  StartWindow();
  settings_.request_offset = 0;  // the Request page is never shown: its copy stays 0
  scripts_.push_back(PressOk);
  dlg_->OpenSettingsSheet(kPageConnection, false);
  EXPECT_EQ(settings_.request_offset, 1);
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("request_offset=1\n"), std::string::npos);
  EXPECT_TRUE(box_.boxes.empty());
}

TEST_F(SettingsSheet, a_new_poll_frequency_polls_at_once) {
  StartSlave();
  WriteSettings();
  StartWindow();
  scripts_.push_back([](CTreePropSheet& sheet) {
    PageOf<CSettings_PollFrequencyDlg>(sheet)->pollCombo()->setCurrentIndex(2);  // "5 second"
    return PressOk(sheet);
  });
  dlg_->OpenSettingsSheet(kPagePollFrequency, false);
  EXPECT_EQ(settings_.poll_frequency, 5);
  EXPECT_EQ(dlg_->pollFrequencyButton()->text(), "5 seconds");
  EXPECT_TRUE(dlg_->IsTimerArmed(TIMER_POLL));
  EXPECT_LE(dlg_->TimerPeriod(TIMER_POLL), 5000);  // one period less the send's own time
  EXPECT_GT(dlg_->TimerPeriod(TIMER_POLL), 4900);
  EXPECT_EQ(dlg_->m_pollCount, 1);
  EXPECT_NE(Log().find("] Sending request to device"), std::string::npos);
  EXPECT_NE(ReadFile(dir_ / "Debuglog.txt").find("Poll frequency: 5"), std::string::npos);
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("poll_frequency=5\n"), std::string::npos);
}

TEST_F(SettingsSheet, poll_frequency_0_stops_the_poll_timer) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=10\npoll_frequency=30\n");
  StartWindow();
  ASSERT_TRUE(dlg_->IsTimerArmed(TIMER_POLL));
  scripts_.push_back([](CTreePropSheet& sheet) {
    PageOf<CSettings_PollFrequencyDlg>(sheet)->pollCombo()->setCurrentIndex(0);  // "Once only"
    return PressOk(sheet);
  });
  dlg_->OpenSettingsSheet(kPagePollFrequency, false);
  EXPECT_EQ(settings_.poll_frequency, 0);
  EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_POLL));
  EXPECT_EQ(dlg_->m_pollCount, 0) << "no poll";
  EXPECT_EQ(dlg_->pollFrequencyButton()->text(), "Once");
}

TEST_F(SettingsSheet, an_invalid_request_reopens_the_sheet_on_request) {
  StartSlave();
  WriteSettings();
  StartWindow();
  ForgetSettingsFile();
  // The Request page refuses such a length itself; one it never checked (it was not shown)
  // meets the window's check after OK.
  scripts_.push_back([](CTreePropSheet& sheet) {
    PageOf<CSettings_requestDlg>(sheet)->request_length = 126;
    PageOf<CSettings_PollFrequencyDlg>(sheet)->poll_period_ms = 5000;  // applied after the check
    return PressOk(sheet);
  });
  bool savedBeforeReopen = true;
  int pollsBeforeReopen = -1;
  scripts_.push_back([&](CTreePropSheet& sheet) {
    savedBeforeReopen = SettingsFileExists();
    pollsBeforeReopen = dlg_->m_pollCount;
    return PressCancel(sheet);
  });
  dlg_->connectionButton()->click();
  EXPECT_EQ(starts_, (std::vector<std::string>{"Connection", "Request"}));
  ASSERT_EQ(box_.boxes.size(), 2u);
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - The message is too long\n", 0), 0u);
  EXPECT_FALSE(savedBeforeReopen) << "the further sheet comes before the remaining steps";
  EXPECT_EQ(pollsBeforeReopen, 0);
  EXPECT_EQ(settings_.request_length, 126) << "stored before the check";
  // then the new poll frequency polls at once, cannot frame the request and falls back
  EXPECT_EQ(box_.boxes[1].text.rfind("Error - Can not generate", 0), 0u) << box_.boxes[1].text;
  EXPECT_EQ(dlg_->m_pollCount, 1);
  EXPECT_EQ(settings_.poll_frequency, 0);
  EXPECT_TRUE(SettingsFileExists());
  EXPECT_FALSE(settingsSheetOpen);
}

// In one sheet: the Request page's preview follows the mode chosen on the Connection page,
// and a length the function cannot carry keeps the sheet open with its reason: nothing of
// it is applied or saved.
TEST_F(SettingsSheet, the_request_page_shows_the_mode_s_frame_and_refuses_a_bad_length_before_ok) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=10\n");
  StartWindow();
  std::vector<std::string> previews;
  bool stayed = false;
  scripts_.push_back([&](CTreePropSheet& sheet) {
    auto* request = PageOf<CSettings_requestDlg>(sheet);
    auto* connection = PageOf<CSettings_connectionDlg2>(sheet);
    previews.push_back(request->previewEdit()->text().toStdString());
    EXPECT_TRUE(sheet.SetActivePage(connection));
    connection->modeCombo()->setCurrentIndex(0);  // ASCII
    EXPECT_TRUE(sheet.SetActivePage(request));
    previews.push_back(request->previewEdit()->text().toStdString());
    QDir().mkpath(QStringLiteral(VANTREL_ARTIFACT_DIR));
    EXPECT_TRUE(sheet.grab().save(QStringLiteral(VANTREL_ARTIFACT_DIR "/settings_request_ascii.png")));
    request->lengthEdit()->setText("126");
    previews.push_back(request->previewEdit()->text().toStdString());
    EXPECT_TRUE(sheet.grab().save(QStringLiteral(VANTREL_ARTIFACT_DIR "/settings_request_too_long.png")));
    sheet.okButton()->click();
    stayed = sheet.isVisible() && sheet.GetActivePage() == request;
    return PressCancel(sheet);
  });
  dlg_->requestButton()->click();
  EXPECT_EQ(previews, (std::vector<std::string>{"01 03 00 00 00 0A C5 CD ", "01030000000AF2", ""}));
  EXPECT_TRUE(stayed) << "OK is refused";
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - The message is too long\n", 0), 0u) << box_.boxes[0].text;
  EXPECT_EQ(settings_.request_length, 10);
  EXPECT_EQ(settings_.modbus_mode, 1);
  EXPECT_EQ(starts_.size(), 1u) << "no further sheet from the window's own check";
}

TEST_F(SettingsSheet, a_second_open_while_one_is_open_is_ignored_unless_forced) {
  StartSlave();
  WriteSettings();
  StartWindow();
  scripts_.push_back([this](CTreePropSheet& sheet) {
    EXPECT_TRUE(settingsSheetOpen);
    dlg_->connectionButton()->click();
    dlg_->OpenSettingsSheet(kPageAbout, false);
    EXPECT_EQ(starts_.size(), 1u) << "ignored";
    dlg_->OpenSettingsSheet(kPageRequest, true);
    EXPECT_EQ(starts_.size(), 2u) << "the forced one opens";
    return PressCancel(sheet);
  });
  dlg_->pollFrequencyButton()->click();
  EXPECT_EQ(starts_, (std::vector<std::string>{"Polling frequency", "Request"}));
  EXPECT_FALSE(settingsSheetOpen);
  dlg_->connectionButton()->click();
  EXPECT_EQ(starts_.size(), 3u) << "open again once closed";
}

TEST_F(SettingsSheet, cancel_applies_and_saves_nothing) {
  StartSlave();
  WriteSettings();
  StartWindow();
  ForgetSettingsFile();
  scripts_.push_back([](CTreePropSheet& sheet) {
    PageOf<CSettings_PollFrequencyDlg>(sheet)->pollCombo()->setCurrentIndex(4);
    return PressCancel(sheet);
  });
  dlg_->OpenSettingsSheet(kPagePollFrequency, false);
  EXPECT_EQ(settings_.poll_frequency, 0);
  EXPECT_FALSE(SettingsFileExists());
  EXPECT_EQ(dlg_->m_pollCount, 0);
}

TEST_F(SettingsSheet, auto_update_switch) {
  StartSlave();
  WriteSettings();
  StartWindow();
  ASSERT_EQ(settings_.check_for_updates, 0);
  scripts_.push_back([](CTreePropSheet& sheet) {
    PageOf<CSettings_auto_updateDlg>(sheet)->auto_check = 1;
    return PressOk(sheet);
  });
  dlg_->OpenSettingsSheet(kPageConnection, false);
  EXPECT_EQ(settings_.check_for_updates, 1);
  EXPECT_TRUE(dlg_->IsTimerArmed(TIMER_VERSION_CHECK));
  EXPECT_EQ(dlg_->TimerPeriod(TIMER_VERSION_CHECK), 3600000);
  // confirmed again without a visit to the page: the switch stays on
  dlg_->KillTimer(TIMER_VERSION_CHECK);
  scripts_.push_back(PressOk);
  dlg_->OpenSettingsSheet(kPageConnection, false);
  EXPECT_EQ(settings_.check_for_updates, 1);
  EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_VERSION_CHECK)) << "unchanged: not armed again";
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("check_for_updates=1\n"), std::string::npos);
}

// The real modal run, worked by mouse and keyboard as a user would; a bounded timer
// closes anything left open so that a fault cannot hang the run.
TEST_F(SettingsSheet, modal_run_by_mouse_and_keyboard) {
  StartSlave();
  WriteSettings();
  StartWindow();
  dlg_->runSettingsSheet = nullptr;
  dlg_->show();
  bool worked = false;
  QTimer::singleShot(0, [&] {
    auto* sheet = qobject_cast<CTreePropSheet*>(QApplication::activeModalWidget());
    if (sheet == nullptr) return;
    QTreeWidget* tree = sheet->pageTree();
    const auto items = tree->findItems("Polling frequency", Qt::MatchExactly);
    if (items.isEmpty()) return;
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(items.first()).center());
    auto* page = PageOf<CSettings_PollFrequencyDlg>(*sheet);
    page->pollCombo()->setFocus();
    QTest::keyClick(page->pollCombo(), Qt::Key_Down);  // "1 second"
    QTest::keyClick(page->pollCombo(), Qt::Key_Tab, Qt::ControlModifier);
    worked = tree->currentItem()->text(0) == "Connection";
    QTest::keyClick(tree, Qt::Key_Return);  // the default button
  });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] {
    if (QWidget* w = QApplication::activeModalWidget()) static_cast<QDialog*>(w)->reject();
  });
  guard.start(10000);
  dlg_->requestButton()->click();
  EXPECT_TRUE(guard.isActive()) << "closed by the keyboard, not by the guard";
  EXPECT_TRUE(worked) << "Ctrl+Tab from the last page wraps to the first";
  EXPECT_EQ(settings_.poll_frequency, 1);
  EXPECT_EQ(dlg_->m_pollCount, 1);
}

TEST_F(SettingsSheet, screenshots_of_each_page) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=10\npoll_frequency=7\n");
  StartWindow();
  QDir().mkpath(QStringLiteral(VANTREL_ARTIFACT_DIR));
  QStringList saved;
  scripts_.push_back([&](CTreePropSheet& sheet) {
    for (int i = 0; i < sheet.GetPageCount(); ++i) {
      EXPECT_TRUE(sheet.SetActivePage(i));
      QApplication::processEvents();
      QString name = sheet.GetPage(i)->Caption().section(QStringLiteral("::"), -1).toLower();
      name.replace(QLatin1Char(' '), QLatin1Char('_'));
      const QString out = QStringLiteral(VANTREL_ARTIFACT_DIR "/settings_sheet_%1_%2.png").arg(i).arg(name);
      if (sheet.grab().save(out)) saved << out;
    }
    return PressCancel(sheet);
  });
  dlg_->OpenSettingsSheet(kPageConnection, false);
  EXPECT_EQ(saved.size(), 6);
}

namespace {

// Processes events until done() or five seconds have passed.
bool WaitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 5000); }

// A TCP port on 127.0.0.1 that nothing listens on (bound, then let go).
int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  close(fd);
  return ntohs(a.sin_port);
}

}  // namespace

// The Connection page switches the window from the serial line to Modbus TCP and back. The
// connect never blocks the window; the values come over TCP; a connection that drops is
// made again by the next poll, with one log line; back on RTU, the serial line is polled.
TEST_F(SettingsSheet, switching_to_tcp_and_back) {
  StartSlave();
  std::ofstream(dir_ / "image.txt") << "holding 0-1 7000\n";
  auto tcp = std::make_unique<SlaveProcess>(dir_.path(), SlaveProcess::OverTcp{},
                                            std::vector<std::string>{"-a", "1", "--tcp", "0", "-i", dir_ / "image.txt"});
  ASSERT_TRUE(tcp->ready());
  const std::string port = std::to_string(tcp->port());
  WriteSettings("request_function_code=3\nrequest_length=2\n");
  StartWindow();
  dlg_->Poll();
  ASSERT_TRUE(WaitFor([&] { return dlg_->responseModel()->rowCount() == 2; }));
  EXPECT_EQ(dlg_->responseModel()->table().rows[0][5], "1") << "the serial simulator's value";

  auto choose = [&](int mode) {
    scripts_.push_back([&, mode](CTreePropSheet& sheet) {
      auto* page = PageOf<CSettings_connectionDlg2>(sheet);
      page->modeCombo()->setCurrentIndex(mode);
      page->hostEdit()->setText(QStringLiteral("127.0.0.1"));
      page->tcpPortEdit()->setText(QString::fromStdString(port));
      return PressOk(sheet);
    });
    dlg_->connectionButton()->click();
  };
  choose(2);
  EXPECT_EQ(dlg_->connectionButton()->text().toStdString(), "TCP 127.0.0.1:" + port);
  ASSERT_TRUE(WaitFor([&] { return master_.IsOpen() != 0; }));
  EXPECT_NE(Log().find("] Connected to TCP 127.0.0.1:" + port), std::string::npos) << Log();
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("modbus_mode=2\n"), std::string::npos);
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("tcp_host=127.0.0.1\ntcp_port=" + port + "\n"), std::string::npos);
  dlg_->Poll();
  ASSERT_TRUE(WaitFor([&] { return dlg_->responseModel()->rowCount() == 2 && !dlg_->IsTimerArmed(TIMER_REPLY); }));
  EXPECT_EQ(dlg_->responseModel()->table().rows[0][5], "7000") << "the TCP simulator's value";

  // The simulator goes and comes back on the same port.
  tcp->Stop();
  dlg_->Poll();
  ASSERT_TRUE(WaitFor([&] { return !master_.IsOpen() && !dlg_->IsTimerArmed(TIMER_REPLY); }));
  EXPECT_EQ(Count(Log(), "] The connection to TCP 127.0.0.1:" + port + " has been lost"), 1) << Log();
  tcp = std::make_unique<SlaveProcess>(dir_.path(), SlaveProcess::OverTcp{},
                                       std::vector<std::string>{"-a", "1", "--tcp", port, "-i", dir_ / "image.txt"});
  ASSERT_TRUE(tcp->ready());
  box_.boxes.clear();
  dlg_->Poll();
  EXPECT_EQ(dlg_->startButton()->text().toStdString(), "Connecting") << "the poll waits for its connect";
  ASSERT_TRUE(WaitFor([&] { return master_.IsOpen() && !dlg_->IsTimerArmed(TIMER_REPLY) && dlg_->statistics().replies() == 3; }));
  EXPECT_EQ(Count(Log(), "] Connected to TCP 127.0.0.1:" + port), 2);
  EXPECT_TRUE(box_.boxes.empty());

  choose(1);
  EXPECT_EQ(dlg_->connectionButton()->text(), "COM 3:115200,N,8,1") << "the serial texts as they were";
  EXPECT_NE(Log().rfind("] Connected to serial port COM 3:115200,N,8,1"), std::string::npos);
  dlg_->Poll();
  ASSERT_TRUE(WaitFor([&] { return dlg_->statistics().replies() == 4; }));
  EXPECT_EQ(dlg_->responseModel()->table().rows[0][5], "1");
}

// Nothing listening: the connect fails with its message, in a box at start-up; while polling
// at a frequency each poll tries once, counted, without a box or another log line.
TEST_F(SettingsSheet, nothing_listening_on_the_tcp_port) {
  const std::string port = std::to_string(ClosedPort());
  WriteSettings("request_function_code=3\nrequest_length=2\nmodbus_mode=2\ntcp_host=127.0.0.1\ntcp_port=" + port + "\n");
  StartWindow();
  ASSERT_TRUE(WaitFor([&] { return !box_.boxes.empty(); }));
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - Can not connect to the device\n", 0), 0u) << box_.boxes[0].text;
  EXPECT_NE(box_.boxes[0].text.find("nothing accepts connections on that port"), std::string::npos);
  EXPECT_NE(box_.boxes[0].text.find("Connection: TCP 127.0.0.1:" + port), std::string::npos);
  box_.boxes.clear();
  settings_.SetPollPeriodMs(100);
  dlg_->Poll();
  ASSERT_TRUE(WaitFor([&] { return dlg_->statistics().polls() >= 2; }));
  EXPECT_TRUE(box_.boxes.empty());
  EXPECT_EQ(Count(Log(), "] Failed: Error - Can not connect to the device"), 0) << "told once, at start-up: " << Log();
  EXPECT_EQ(dlg_->statistics().otherErrors(), dlg_->statistics().polls()) << "each attempt is counted";
  EXPECT_EQ(settings_.PollPeriodMs(), 100) << "polling goes on";
}
