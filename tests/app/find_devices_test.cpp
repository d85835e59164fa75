// Find devices in the window, offscreen, against vantrel-slave serving ids 3, 17 and 200 at
// 19200 baud with --strict-line: a master at another speed gets broken replies, as from a
// device at other line settings. A pseudo-terminal carries no parity, so the sweep here
// varies the speed.
#include <QCheckBox>
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include <filesystem>

#include "app/FindDevicesDlg.h"
#include "app/MainWindowTest.h"

using namespace vantrel;
using vantrel::test::MainWindow;
using vantrel::test::ReadFile;

namespace {

// Ticks the sweep's boxes whose captions are in the list, and only those.
void Tick(const std::vector<QCheckBox*>& boxes, const QStringList& wanted) {
  for (QCheckBox* box : boxes) box->setChecked(wanted.contains(box->text()));
}

std::vector<std::vector<std::string>> FoundRows(const QTableWidget* table) {
  std::vector<std::vector<std::string>> rows;
  for (int r = 0; r < table->rowCount(); ++r) {
    rows.emplace_back();
    for (int c = 0; c < table->columnCount(); ++c) rows.back().push_back(table->item(r, c)->text().toStdString());
  }
  return rows;
}

}  // namespace

TEST_F(MainWindow, find_devices_sweeps_ids_and_line_settings_and_takes_a_find) {
  StartSlave({"-a", "3,17,200", "-b", "19200", "-P", "even", "--strict-line", "--fault-id", "200=exception=2",
              "--vendor", "ACME", "--product", "PX-3", "--revision", "2.1"});
  WriteSettings("request_function_code=3\nrequest_length=2\npoll_frequency=5\n");
  StartWindow();
  ASSERT_TRUE(dlg_->IsTimerArmed(TIMER_POLL));
  std::vector<std::vector<std::string>> rows;
  bool pausedDuringScan = false;
  dlg_->runFindDevices = [&](CFindDevicesDlg& d) {
    EXPECT_TRUE(d.sweepGroup()->isEnabled()) << "a serial line can be swept";
    d.firstIdSpin()->setValue(1);
    d.lastIdSpin()->setValue(210);
    d.timeoutSpin()->setValue(20);
    d.sweepGroup()->setChecked(true);
    Tick(d.baudChecks(), {"9600", "19200"});
    Tick(d.parityChecks(), {"Even"});
    Tick(d.stopBitsChecks(), {"1"});
    d.startButton()->click();
    pausedDuringScan = !dlg_->IsTimerArmed(TIMER_POLL);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !d.Scanning(); }, 60000));
    EXPECT_EQ(d.progressBar()->value(), 420);
    rows = FoundRows(d.foundTable());
    // The identification can be read whole: its column is as wide as its text, and the
    // row's tooltip has every object on a line.
    const QTableWidgetItem* id = d.foundTable()->item(0, 4);
    EXPECT_GE(d.foundTable()->columnWidth(4), d.foundTable()->fontMetrics().horizontalAdvance(id->text()));
    EXPECT_NE(id->toolTip().indexOf(QStringLiteral("\nMajorMinorRevision: 2.1\nVendorUrl: ")), -1)
        << id->toolTip().toStdString();
    d.show();
    std::filesystem::create_directories(VANTREL_ARTIFACT_DIR);
    EXPECT_TRUE(d.grab().save(QStringLiteral(VANTREL_ARTIFACT_DIR "/find_devices.png")));
    // Slave 17 at the right speed is taken: its id and line settings, polled once.
    for (int r = 0; r < d.foundTable()->rowCount(); ++r) {
      if (rows[static_cast<std::size_t>(r)][0] == "17" && rows[static_cast<std::size_t>(r)][2] == "device") d.ChooseRow(r);
    }
    return d.result();
  };
  dlg_->OpenFindDevices();
  EXPECT_TRUE(pausedDuringScan) << "no poll while the scan has the line";
  const std::string id = "VendorName: ACME; ProductCode: PX-3; MajorMinorRevision: 2.1; VendorUrl: ";
  using Row = std::vector<std::string>;
  // The devices first, though the sweep met the broken replies at the slower speed first.
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0][0], "3");
  EXPECT_EQ((Row{rows[0][1], rows[0][2], rows[0][3]}), (Row{"19200 8E1", "device", "1"}));
  EXPECT_EQ(rows[0][4].rfind(id, 0), 0u) << rows[0][4];
  EXPECT_EQ((Row{rows[1][0], rows[1][2], rows[1][3]}), (Row{"17", "device", "1"}));
  EXPECT_EQ((Row{rows[2][0], rows[2][2], rows[2][3]}), (Row{"200", "exception", "0x02 - ILLEGAL DATA ADDRESS"}));
  EXPECT_EQ(rows[2][4], "no device identification") << "its fault answers 43/14 with the exception too";
  for (std::size_t r = 3; r < 6; ++r) {
    EXPECT_EQ(rows[r][1], "9600 8E1") << r;
    EXPECT_EQ(rows[r][2], "something is there") << r;
  }

  EXPECT_EQ(settings_.request_id, 17);
  EXPECT_EQ(settings_.buad_rate, 19200);
  EXPECT_EQ(settings_.parity, 'E');
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("\nbuad_rate=19200\n"), std::string::npos);
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("\nrequest_id=17\n"), std::string::npos);
  EXPECT_EQ(dlg_->connectionButton()->text(), "COM 3:19200,E,8,1");
  StepReplyTicks();
  ASSERT_EQ(Rows().size(), 2u) << "polled once with what was found";
  EXPECT_EQ(Rows()[0][5], "1");
  EXPECT_TRUE(dlg_->IsTimerArmed(TIMER_POLL)) << "polling goes on after the scan";
  EXPECT_NE(dlg_->LogText().indexOf(QStringLiteral("Found: 19200 8E1, slave 17: holding register 40001 = 1")), -1);
}

// Cancel stops a sweep at once, the finds so far stand, and the connection's own line
// settings come back; Device identification shows the current slave's objects.
TEST_F(MainWindow, find_devices_cancel_and_device_identification) {
  StartSlave({"-a", "1", "-b", "115200", "--vendor", "ACME", "--product", "PX-3", "--revision", "2.1"});
  WriteSettings("request_function_code=3\nrequest_length=1\n");
  StartWindow();
  dlg_->runFindDevices = [&](CFindDevicesDlg& d) {
    d.timeoutSpin()->setValue(200);
    d.sweepGroup()->setChecked(true);
    d.startButton()->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return d.progressBar()->value() >= 3; }, 10000));
    const auto before = std::chrono::steady_clock::now();
    d.cancelButton()->click();
    EXPECT_FALSE(d.Scanning());
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(200)) << "within one time-out";
    EXPECT_LT(d.progressBar()->value(), d.progressBar()->maximum());
    EXPECT_TRUE(d.startButton()->isEnabled());
    return d.result();
  };
  dlg_->OpenFindDevices();
  EXPECT_EQ(master_.link().ByteTimeMs(), 1000.0 * 10 / 115200) << "the connection's own line again";
  dlg_->Poll();
  StepReplyTicks();
  ASSERT_EQ(Rows().size(), 1u);

  dlg_->ShowDeviceIdentification();
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text.rfind("Device identification of slave 1\n\nVendorName: ACME\nProductCode: PX-3\n"
                                     "MajorMinorRevision: 2.1\n",
                                     0),
            0u)
      << box_.boxes[0].text;
}

// A device found can be polled beside the poll there is, in a tab of its own, with the
// request the scan read.
TEST_F(MainWindow, find_devices_opens_a_find_as_a_new_poll) {
  StartSlave({"-a", "1,5", "-b", "115200", "--no-pacing"});
  WriteSettings("request_function_code=3\nrequest_length=1\n");
  StartWindow();
  dlg_->runFindDevices = [&](CFindDevicesDlg& d) {
    d.firstIdSpin()->setValue(4);
    d.lastIdSpin()->setValue(6);
    d.timeoutSpin()->setValue(100);
    d.identifyCheck()->setChecked(false);
    d.startButton()->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !d.Scanning(); }, 10000));
    EXPECT_EQ(d.foundTable()->rowCount(), 1);
    d.foundTable()->setCurrentCell(0, 0);
    d.openAsPollButton()->click();
    return d.result();
  };
  dlg_->OpenFindDevices();
  ASSERT_EQ(dlg_->PollCount(), 2);
  EXPECT_EQ(dlg_->CurrentPoll(), 1);
  EXPECT_EQ(dlg_->PollName(1), "Slave 5");
  EXPECT_EQ(dlg_->session().Definition(1).slaveId, 5);
  EXPECT_EQ(settings_.request_id, 1) << "the first poll stays as it was";
  ASSERT_TRUE(QTest::qWaitFor([&] { return Rows().size() == 1u; }));
  EXPECT_EQ(Rows()[0][5], "1") << "polled once in its tab";
}
