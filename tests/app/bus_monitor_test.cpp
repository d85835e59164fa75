// The bus monitor window offscreen, listening on a real line: vantrel-poll is the master and
// vantrel-slave the slave, joined by a relay that copies the wire to the window's port.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTableView>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "MainWindowTest.h"
#include "app/BusMonitorDlg.h"
#include "app/LinkWatch.h"
#include "app/TrafficDlg.h"
#include "serial/PortMap.h"
#include "session/MonitorTexts.h"
#include "support/LineRelay.h"

namespace vantrel::test {
namespace {

bool WaitFor(const std::function<bool()>& done, int withinMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < withinMs) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    usleep(2000);
  }
  return done();
}

// "request 1 0x03 ..." for each row the window shows: kind, slave id, function code.
std::string Shown(const CBusMonitorDlg& m) {
  std::string text;
  const MonitorModel& model = *m.model();
  for (int row = 0; row < model.rowCount(); ++row) {
    const auto cell = [&](int column) { return model.data(model.index(row, column), Qt::DisplayRole).toString().toStdString(); };
    text += (text.empty() ? "" : " | ") + cell(kColKind) + " " + cell(kColSlave) + " " + cell(kColFunction).substr(0, 4);
  }
  return text;
}

class BusMonitorWindow : public ::testing::Test {
 protected:
  BusMonitorWindow() : folder_(PortFolder()) {
    slave_ = std::make_unique<SlaveProcess>(dir_.path(), "COM3", std::vector<std::string>{"-a", "1", "-b", "115200"});
    relay_ = std::make_unique<LineRelay>(slave_->linkPath(), 115200);
    // The window names its port as the Connection page would: COM5 of the start-up folder.
    EXPECT_EQ(symlink(relay_->monitorPath().c_str(), (dir_ / "COM5").c_str()), 0);
    SetPortFolder(dir_.path());
  }
  ~BusMonitorWindow() override { SetPortFolder(folder_); }

  // vantrel-poll once through the relay, the window taking its frames meanwhile.
  void Master(std::vector<std::string> args) {
    std::vector<std::string> argv{PollBinary(), "-a", "1", "-b", "115200"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(relay_->masterPath());
    BackgroundProcess poll(argv, dir_.path(), {}, dir_ / "poll.log");
    WaitFor([&] { return !poll.Running(); }, 15000);
    WaitFor([] { return false; }, 150);  // the last reply reaches the window
  }

  TempDir dir_;
  std::string folder_;
  std::unique_ptr<SlaveProcess> slave_;
  std::unique_ptr<LineRelay> relay_;
};

TEST_F(BusMonitorWindow, lists_requests_and_replies_filters_them_and_saves_as_it_goes) {
  ASSERT_TRUE(slave_->ready());
  ASSERT_TRUE(relay_->ok());
  LineConnection line;
  line.device = "COM5";
  line.baud = 115200;
  CBusMonitorDlg m(line, [] { return std::string(); });
  m.show();
  ASSERT_TRUE(m.StartListening()) << m.statusLabel()->text().toStdString();
  EXPECT_FALSE(m.deviceEdit()->isEnabled()) << "the line stays as opened until Stop";

  Master({"-t", "4", "-r", "1", "-c", "5"});
  Master({"-t", "0", "-r", "3", "-c", "10"});
  Master({"-t", "4", "-r", "9002", "-c", "1"});            // exception 02
  Master({"-t", "4", "-r", "9021", "-c", "1", "-o", "1"});  // no reply
  ASSERT_TRUE(WaitFor([&] { return Shown(m).find("unanswered") != std::string::npos; }, 3000)) << Shown(m);
  EXPECT_EQ(Shown(m),
            "request 1 0x03 | reply 1 0x03 | request 1 0x01 | reply 1 0x01 | request 1 0x03 | exception 1 0x83 | "
            "request (unanswered) 1 0x03");

  // The details of the first reply: its hex and its registers.
  m.listView()->setCurrentIndex(m.model()->index(1, 0));
  const std::string details = m.detailsPane()->toPlainText().toStdString();
  EXPECT_NE(details.find("Hex: 01 03 0A"), std::string::npos) << details;
  EXPECT_NE(details.find("Registers: "), std::string::npos) << details;
  // The figures count the request left unanswered too, though no frame followed it.
  const QStringList figures = m.figuresPane()->toPlainText().split(QLatin1Char('\n'));
  ASSERT_GE(figures.size(), 2);
  EXPECT_EQ(figures[1].simplified().section(QLatin1Char(' '), 0, 5), QStringLiteral("1 4 2 1 0 1")) << figures[1].toStdString();
  m.resize(1100, 560);
  EXPECT_TRUE(m.grab().save(QStringLiteral(VANTREL_ARTIFACT_DIR "/bus_monitor.png")));

  // Filters hide what they name, and give every row back when cleared.
  struct Case {
    int slave, function;
    bool errors;
    const char* shown;
  } cases[] = {
      {-1, 1, false, "request 1 0x01 | reply 1 0x01"},
      {-1, -1, true, "exception 1 0x83 | request (unanswered) 1 0x03"},
      {2, -1, false, ""},
      {1, 3, true, "exception 1 0x83 | request (unanswered) 1 0x03"},
  };
  for (const Case& c : cases) {
    m.slaveFilter()->setValue(c.slave);
    m.functionFilter()->setValue(c.function);
    m.errorsOnlyBox()->setChecked(c.errors);
    EXPECT_EQ(Shown(m), c.shown) << c.slave << " " << c.function << " " << c.errors;
  }
  m.slaveFilter()->setValue(-1);
  m.functionFilter()->setValue(-1);
  m.errorsOnlyBox()->setChecked(false);
  EXPECT_EQ(m.model()->rowCount(), 7);

  // Save while listening: the frames so far, then each one as it comes until Stop.
  const std::string csv = dir_ / "line.csv";
  ASSERT_TRUE(m.SaveTo(csv));
  std::string expected = FrameCsvHeader() + "\n";
  for (const MonitorEntry& e : m.list().entries()) expected += FrameCsvLine(e.frame) + "\n";
  EXPECT_EQ(ReadFile(csv), expected);

  // Paused, the list stands still while the file and the figures go on.
  m.SetPaused(true);
  Master({"-t", "4", "-r", "20", "-c", "2"});
  EXPECT_EQ(m.model()->rowCount(), 7);
  m.SetPaused(false);
  EXPECT_EQ(m.model()->rowCount(), 9);
  m.StopListening();
  EXPECT_TRUE(m.deviceEdit()->isEnabled());
  std::istringstream lines(ReadFile(csv));
  std::vector<std::string> saved;
  for (std::string l; std::getline(lines, l);) saved.push_back(l);
  ASSERT_EQ(saved.size(), 10u) << ReadFile(csv);
  EXPECT_EQ(saved[8], FrameCsvLine(m.list().Row(7).frame));
  EXPECT_NE(saved[9].find(",reply,1,3,"), std::string::npos) << saved[9];

  m.ClearList();
  EXPECT_EQ(m.model()->rowCount(), 0);
}

// Where the port has no descriptor to watch (Windows), the window looks at it every few
// milliseconds: the bytes come in larger pieces, and the same frames are listed.
TEST_F(BusMonitorWindow, a_port_without_a_descriptor_is_looked_at_and_its_frames_listed) {
  ASSERT_TRUE(slave_->ready());
  ASSERT_TRUE(relay_->ok());
  LinkWatch::LookByTimeForTesting(true);
  struct Restore {
    ~Restore() { LinkWatch::LookByTimeForTesting(false); }
  } restore;
  LineConnection line;
  line.device = "COM5";
  line.baud = 115200;
  CBusMonitorDlg m(line, [] { return std::string(); });
  ASSERT_TRUE(m.StartListening()) << m.statusLabel()->text().toStdString();
  Master({"-t", "4", "-r", "1", "-c", "5"});
  Master({"-t", "0", "-r", "3", "-c", "10"});
  Master({"-t", "4", "-r", "9002", "-c", "1"});  // exception 02
  ASSERT_TRUE(WaitFor([&] { return Shown(m).find("exception") != std::string::npos; }, 3000)) << Shown(m);
  EXPECT_EQ(Shown(m), "request 1 0x03 | reply 1 0x03 | request 1 0x01 | reply 1 0x01 | request 1 0x03 | exception 1 0x83");
}

TEST_F(MainWindow, bus_monitor_opens_from_the_menu_and_refuses_the_line_the_window_has_open) {
  WriteSettings("");
  StartSlave();
  StartWindow();
  ASSERT_TRUE(line_.serial().IsOpen());
  QAction* action = dlg_->findChild<QAction*>(QStringLiteral("busMonitorAction"));
  ASSERT_NE(action, nullptr);
  action->trigger();
  action->trigger();  // one per line: several at once
  const auto monitors = dlg_->findChildren<CBusMonitorDlg*>();
  ASSERT_EQ(monitors.size(), 2);
  CBusMonitorDlg* m = monitors.front();
  EXPECT_TRUE(m->isVisible());
  EXPECT_FALSE(m->isModal());
  EXPECT_EQ(m->deviceEdit()->text(), QStringLiteral("COM3"));
  // By its COM name and by its path alike.
  for (const std::string& device : {std::string("COM3"), slave_->linkPath()}) {
    m->deviceEdit()->setText(QString::fromStdString(device));
    EXPECT_FALSE(m->StartListening()) << device;
    EXPECT_TRUE(m->statusLabel()->text().contains(QStringLiteral("the main window has open"))) << device;
    EXPECT_FALSE(m->Listening());
  }
  m->deviceEdit()->setText(QString::fromStdString(dir_ / "ttyGONE"));
  EXPECT_FALSE(m->StartListening());
  EXPECT_TRUE(m->statusLabel()->text().contains(QStringLiteral("cannot be opened"))) << m->statusLabel()->text().toStdString();
  EXPECT_TRUE(line_.serial().IsOpen()) << "the main window's line is left alone";
}

TEST_F(MainWindow, traffic_shows_the_windows_own_bytes_the_noise_it_skipped_and_a_late_reply) {
  StartSlave({"-a", "1", "-b", "115200", "--fault-at", "30=noise"});
  WriteSettings("request_function_code=3\nrequest_length=2\n");
  StartWindow();
  QAction* action = dlg_->findChild<QAction*>(QStringLiteral("trafficAction"));
  ASSERT_NE(action, nullptr);
  action->trigger();
  action->trigger();  // one window at a time
  ASSERT_EQ(dlg_->findChildren<CTrafficDlg*>().size(), 1);
  CTrafficDlg* traffic = dlg_->findChild<CTrafficDlg*>();

  settings_.request_offset = 30;  // a stray byte before a good reply
  dlg_->Poll();
  StepReplyTicks();
  settings_.recv_time_out = 200;   // given up before the reply comes, after 500 ms
  settings_.request_offset = 9022;
  dlg_->Poll();
  StepReplyTicks();
  std::this_thread::sleep_for(700ms);
  settings_.recv_time_out = 0;
  settings_.request_offset = 30;
  dlg_->Poll();
  StepReplyTicks();

  std::vector<TrafficEntry> out, in, notes;
  for (const TrafficEntry& e : traffic->log().entries()) {
    (e.kind == TrafficKind::Sent ? out : e.kind == TrafficKind::Received ? in : notes).push_back(e);
  }
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].text.rfind("01 03 00 1D 00 02", 0), 0u) << out[0].text;
  EXPECT_EQ(out[1].text.rfind("01 03 23 3D", 0), 0u) << out[1].text;
  ASSERT_GE(in.size(), 3u);
  EXPECT_GE(in.front().sinceSentMs, 0);
  // The noise before the first reply, and the late reply dropped before the third request.
  std::string said;
  for (const TrafficEntry& e : notes) said += e.text + "\n";
  EXPECT_NE(said.find("noise"), std::string::npos) << said;
  EXPECT_NE(said.find("abandoned exchange"), std::string::npos) << said;
  const QString shown = traffic->lines()->toPlainText();
  EXPECT_EQ(shown.count(QLatin1Char('\n')) + 1, static_cast<int>(traffic->log().entries().size()));
  EXPECT_TRUE(shown.contains(QStringLiteral("  out   01 03 00 1D 00 02")));
}

}  // namespace
}  // namespace vantrel::test
