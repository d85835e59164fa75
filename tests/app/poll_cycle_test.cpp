// The poll cycle on real timers, as a technician meets it: polls faster than the line,
// failures under a box, Stop and Start, a connection that drops, change marks, writes that
// fail, and the frames the log shows.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <functional>

#include "app/LinkWatch.h"
#include "app/MainWindowTest.h"
#include "session/WriteValues.h"

using namespace vantrel;
using namespace std::chrono_literals;
using vantrel::test::BoxWithEvents;
using vantrel::test::MainWindow;
using vantrel::test::SlaveProcess;

namespace {

// Runs the window's event loop, timers and all, for a while.
void RunFor(std::chrono::milliseconds span) {
  const auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
}

bool WaitFor(const std::function<bool()>& done, int ms = 5000) { return QTest::qWaitFor(done, ms); }

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Every exchange that ended has one class; the one still on the line has none yet.
std::int64_t Outcomes(const PollStatistics& s) {
  return s.replies() + s.writesConfirmed() + s.timeouts() + s.crcLrcErrors() + s.exceptions() + s.otherErrors();
}

}  // namespace

class PollCycle : public MainWindow {
 protected:
  std::string Log() const { return dlg_->LogText().toStdString(); }
  std::int64_t OnLine() const { return dlg_->IsTimerArmed(TIMER_REPLY) ? 1 : 0; }
  // Polls and writes sent, against the outcomes counted.
  void ExpectCountersAddUp() const {
    const PollStatistics& s = dlg_->statistics();
    EXPECT_EQ(s.polls() + s.writes(), Outcomes(s) + OnLine()) << s.StatusLine();
  }
};

// A poll that falls due while the exchange before it awaits its reply goes right after that
// exchange, never on top of it: 125 registers at 9600 baud take about 275 ms on the wire,
// polled every 250 ms; and over TCP, a device slower than the time-out polled as often.
TEST_F(PollCycle, a_poll_due_during_an_exchange_waits_for_it) {
  struct Line {
    const char* name;
    std::vector<std::string> slave;
    bool tcp;
    std::string settings;
  };
  const Line lines[] = {
      {"RTU at 9600 baud", {"-a", "1", "-b", "9600"}, false,
       "buad_rate=9600\nrequest_length=125\nrecv_time_out=1000\npoll_frequency=1\npoll_period_ms=250\n"},
      {"TCP, replies after the time-out", {"-a", "1", "--tcp", "0", "-f", "delay=800"}, true,
       "request_length=2\nrecv_time_out=300\npoll_frequency=1\npoll_period_ms=250\nkeep_polling_on_failure=1\n"},
  };
  for (const Line& line : lines) {
    SCOPED_TRACE(line.name);
    dlg_.reset();
    slave_.reset();
    box_.boxes.clear();
    std::string connection;
    if (line.tcp) {
      slave_ = std::make_unique<SlaveProcess>(dir_.path(), SlaveProcess::OverTcp{}, line.slave);
      connection = "modbus_mode=2\ntcp_host=127.0.0.1\ntcp_port=" + std::to_string(slave_->port()) + "\n";
    } else {
      StartSlave(line.slave);
    }
    ASSERT_TRUE(slave_->ready());
    WriteSettings("request_function_code=3\n" + connection + line.settings);
    StartWindow();
    RunFor(3s);
    const PollStatistics& s = dlg_->statistics();
    EXPECT_TRUE(box_.boxes.empty()) << box_.boxes.front().text;
    ExpectCountersAddUp();
    EXPECT_EQ(s.crcLrcErrors() + s.otherErrors() + s.exceptions(), 0) << s.StatusLine() << "\n" << Log();
    EXPECT_GE(s.polls(), 4) << "back to back at the line's pace";
    if (line.tcp) {
      EXPECT_EQ(s.replies(), 0);
    } else {
      EXPECT_EQ(s.timeouts(), 0);
      EXPECT_GE(s.replies(), 4);
    }
  }
}

// Where a link has no descriptor to watch (Windows), the window looks at it every few
// milliseconds: replies are taken as they come, not at the next tick of the reply wait
// (100 ms), and fast polling keeps the line's pace, over a serial line and over TCP.
TEST_F(PollCycle, a_link_without_a_descriptor_is_looked_at_and_its_replies_taken_at_once) {
  LinkWatch::LookByTimeForTesting(true);
  struct Restore {
    ~Restore() { LinkWatch::LookByTimeForTesting(false); }
  } restore;
  for (const bool tcp : {false, true}) {
    SCOPED_TRACE(tcp ? "TCP" : "RTU at 115200 baud");
    dlg_.reset();
    slave_.reset();
    std::string connection;
    if (tcp) {
      slave_ = std::make_unique<SlaveProcess>(dir_.path(), SlaveProcess::OverTcp{}, std::vector<std::string>{"-a", "1", "--tcp", "0"});
      connection = "modbus_mode=2\ntcp_host=127.0.0.1\ntcp_port=" + std::to_string(slave_->port()) + "\n";
    } else {
      StartSlave();
    }
    ASSERT_TRUE(slave_->ready());
    WriteSettings("request_function_code=3\nrequest_length=10\nrecv_time_out=1000\npoll_frequency=1\n"
                  "poll_period_ms=100\n" + connection);
    StartWindow();
    RunFor(2s);
    const PollStatistics& s = dlg_->statistics();
    EXPECT_TRUE(box_.boxes.empty()) << box_.boxes.front().text;
    EXPECT_GE(s.replies(), 8) << s.StatusLine();
    EXPECT_EQ(s.timeouts() + s.crcLrcErrors() + s.otherErrors(), 0) << s.StatusLine();
    EXPECT_LT(s.averageResponseMs(), 60) << "taken at the reply tick, not as they came";
    EXPECT_EQ(Rows()[9][5], "10");
  }
}

// "Stop and explain": the first failure sets polling to once before its box is shown, so
// that nothing polls (timer or countdown) while the box is up: one failure, one box.
TEST_F(PollCycle, one_failure_one_box_and_nothing_polls_under_it) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=1\nrequest_offset=9021\nrecv_time_out=300\n"
                "poll_frequency=1\npoll_period_ms=250\n");
  StartWindow();
  int periodUnderBox = -1;
  QString captionUnderBox;
  bool timerUnderBox = true;
  std::int64_t polls = -1;
  BoxWithEvents box([&] {
    periodUnderBox = settings_.PollPeriodMs();
    captionUnderBox = dlg_->pollFrequencyButton()->text();
    timerUnderBox = dlg_->IsTimerArmed(TIMER_POLL);
    polls = dlg_->statistics().polls();
    RunFor(1500ms);  // the box stays up while the timers run
  });
  ASSERT_TRUE(WaitFor([&] { return !box.texts.empty(); }));
  RunFor(300ms);
  ASSERT_EQ(box.texts.size(), 1u);
  EXPECT_EQ(box.texts[0].rfind("Error - Timeout\n", 0), 0u);
  EXPECT_EQ(periodUnderBox, 0);
  EXPECT_EQ(captionUnderBox, "Once");
  EXPECT_FALSE(timerUnderBox);
  EXPECT_EQ(dlg_->statistics().polls(), polls) << "nothing polled while the box was up";
}

// Stop pauses: the frequency set stays, nothing polls, and Start resumes at it.
TEST_F(PollCycle, stop_pauses_and_start_resumes_at_the_frequency_set) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=1\npoll_frequency=5\n");
  std::time_t now = 1000000;
  SetClock([&now] { return now; });
  StartWindow();
  dlg_->Poll();
  ASSERT_TRUE(WaitFor([&] { return dlg_->statistics().replies() == 1; }));
  dlg_->stopButton()->click();
  EXPECT_EQ(dlg_->pollFrequencyButton()->text(), "5 seconds");
  EXPECT_EQ(settings_.PollPeriodMs(), 5000);
  EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_POLL));
  EXPECT_EQ(dlg_->startButton()->text(), "Start");
  EXPECT_FALSE(dlg_->stopButton()->isEnabled());
  now += 60;  // long past the countdown
  dlg_->OnTimer(TIMER_STATUS);
  dlg_->OnTimer(TIMER_POLL);
  EXPECT_EQ(dlg_->statistics().polls(), 1) << "stopped: no poll";
  EXPECT_EQ(dlg_->startButton()->text(), "Start");

  dlg_->startButton()->click();
  EXPECT_EQ(dlg_->statistics().polls(), 2) << "Start polls at once";
  EXPECT_TRUE(dlg_->IsTimerArmed(TIMER_POLL));
  ExpectPollTimer(5000);
  ASSERT_TRUE(WaitFor([&] { return dlg_->statistics().replies() == 2; }));
  dlg_->UpdateStartButton();
  EXPECT_EQ(dlg_->startButton()->text(), "Next poll in 5 sec");
  EXPECT_TRUE(dlg_->stopButton()->isEnabled());
}

// A connection that drops: the values turn grey at once, every attempt to make it again is
// counted, and the log says once that the line is gone and once that it is back.
TEST_F(PollCycle, a_lost_connection_greys_the_values_counts_each_attempt_and_logs_once) {
  auto tcp = std::make_unique<SlaveProcess>(dir_.path(), SlaveProcess::OverTcp{},
                                            std::vector<std::string>{"-a", "1", "--tcp", "0"});
  ASSERT_TRUE(tcp->ready());
  const std::string port = std::to_string(tcp->port());
  WriteSettings("request_function_code=3\nrequest_length=2\nrecv_time_out=500\nmodbus_mode=2\n"
                "tcp_host=127.0.0.1\ntcp_port=" + port + "\npoll_frequency=1\npoll_period_ms=200\n");
  StartWindow();
  ASSERT_TRUE(WaitFor([&] { return dlg_->statistics().replies() >= 2; }));
  tcp->Stop();
  ASSERT_TRUE(WaitFor([&] { return dlg_->responseModel()->IsStale(); }, 2000)) << "grey as soon as the line is lost";
  EXPECT_EQ(dlg_->responseModel()->rowCount(), 2) << "the last good values stay";
  const std::int64_t pollsLost = dlg_->statistics().polls();
  RunFor(1500ms);
  const PollStatistics& s = dlg_->statistics();
  EXPECT_GE(s.polls() - pollsLost, 3) << "each poll tries once, and is counted: " << s.StatusLine();
  EXPECT_EQ(Count(Log(), "has been lost"), 1) << Log();
  EXPECT_EQ(Count(Log(), "Can not connect"), 0) << "said once, as the line went";
  EXPECT_TRUE(box_.boxes.empty());

  tcp = std::make_unique<SlaveProcess>(dir_.path(), SlaveProcess::OverTcp{},
                                       std::vector<std::string>{"-a", "1", "--tcp", port});
  ASSERT_TRUE(tcp->ready());
  const std::int64_t replies = s.replies();
  ASSERT_TRUE(WaitFor([&] { return s.replies() > replies; }));
  EXPECT_FALSE(dlg_->responseModel()->IsStale());
  EXPECT_EQ(Count(Log(), "] Connected to TCP 127.0.0.1:" + port), 2) << "at start-up, and once back";
  ExpectCountersAddUp();
}

// A changed value is marked for a moment, however fast the polls come; a mark made later
// lasts its own moment.
TEST_F(PollCycle, change_marks_last_a_moment_while_polling_goes_on) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=4\npoll_frequency=1\npoll_period_ms=250\n");
  StartWindow();
  ResponseModel* model = dlg_->responseModel();
  ASSERT_TRUE(WaitFor([&] { return model->rowCount() == 4; }));
  std::string error;
  dlg_->QueueWrite(FrameWrites(1, false, 1, {111}, false, 1, error));
  ASSERT_TRUE(WaitFor([&] { return model->IsChanged(0, 5); }));
  RunFor(700ms);
  dlg_->QueueWrite(FrameWrites(1, false, 3, {333}, false, 1, error));
  ASSERT_TRUE(WaitFor([&] { return model->IsChanged(2, 5); }));
  const std::int64_t polls = dlg_->statistics().polls();
  ASSERT_TRUE(WaitFor([&] { return !model->IsChanged(0, 5); }, 4000)) << "the first mark goes while polls go on";
  EXPECT_TRUE(model->IsChanged(2, 5)) << "the later mark keeps its own moment";
  ASSERT_TRUE(WaitFor([&] { return !model->HasChanges(); }, 4000));
  EXPECT_GE(dlg_->statistics().polls() - polls, 4);
  EXPECT_EQ(model->table().rows[0][5], "111");
}

// A write that fails names itself (function, address, values), is counted in its class,
// and polling goes on while its box is up.
TEST_F(PollCycle, a_failed_write_names_itself_is_counted_and_polling_goes_on) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=2\nrecv_time_out=300\npoll_frequency=1\n"
                "poll_period_ms=250\n");
  StartWindow();
  ASSERT_TRUE(WaitFor([&] { return dlg_->statistics().replies() >= 1; }));
  std::int64_t pollsUnderBox = 0;
  BoxWithEvents box([&] {
    const std::int64_t before = dlg_->statistics().polls();
    RunFor(1200ms);
    pollsUnderBox += dlg_->statistics().polls() - before;
  });
  std::string error;
  dlg_->QueueWrite(FrameWrites(1, false, 9021, {77}, false, 1, error));  // the device stays silent
  ASSERT_TRUE(WaitFor([&] { return box.texts.size() == 1; }));
  dlg_->QueueWrite(FrameWrites(1, false, 9001, {5, 6}, false, 1, error));  // exception 01
  ASSERT_TRUE(WaitFor([&] { return box.texts.size() == 2; }));

  const std::string& timeout = box.texts[0];
  EXPECT_NE(timeout.find("holding register at offset 9021 (49021) with function 06: 77"), std::string::npos) << timeout;
  EXPECT_EQ(timeout.find("one of the polls"), std::string::npos) << timeout;
  const std::string& refused = box.texts[1];
  EXPECT_NE(refused.find("2 holding registers from offset 9001 (49001) with function 16: 5 6"), std::string::npos)
      << refused;
  EXPECT_NE(refused.find("0x01 - ILLEGAL FUNCTION"), std::string::npos) << refused;
  const PollStatistics& s = dlg_->statistics();
  EXPECT_EQ(s.timeouts(), 1);
  EXPECT_EQ(s.exceptions(), 1);
  EXPECT_EQ(s.writes(), 2);
  EXPECT_EQ(s.writesConfirmed(), 0);
  EXPECT_GE(pollsUnderBox, 5) << "polling goes on under a write's boxes";
  EXPECT_EQ(settings_.PollPeriodMs(), 250);
  ExpectCountersAddUp();
  EXPECT_NE(Log().find("Failed: Write of 1 holding register at offset 9021 (49021) with function 06: 77: Error - Timeout"),
            std::string::npos)
      << Log();
}

// "=>Request" shows the request as it went on the wire in every mode (ASCII: the characters
// between ':' and CR LF), and a write's reply is logged as a read's is, by its data bytes.
TEST_F(PollCycle, frames_are_logged_as_they_went_on_the_wire) {
  struct Mode {
    const char* name;
    std::vector<std::string> slave;  // after -a 1
    int mode;
    const char* request;
    const char* write;
  };
  const Mode modes[] = {
      {"RTU", {}, 1, "01 03 00 00 00 02 C4 0B ", "01 06 00 01 00 05 18 09 "},
      {"ASCII", {"-m", "ascii"}, 0, "010300000002FA", "010600010005F3"},
      {"TCP", {"--tcp", "0"}, 2, "00 01 00 00 00 06 01 03 00 00 00 02 ", "00 02 00 00 00 06 01 06 00 01 00 05 "},
      {"RTU over TCP", {"--rtu-over-tcp", "0"}, 3, "01 03 00 00 00 02 C4 0B ", "01 06 00 01 00 05 18 09 "},
  };
  for (const Mode& m : modes) {
    SCOPED_TRACE(m.name);
    dlg_.reset();
    slave_.reset();
    std::vector<std::string> options{"-a", "1", "-b", "115200"};
    options.insert(options.end(), m.slave.begin(), m.slave.end());
    std::string connection = "modbus_mode=" + std::to_string(m.mode) + "\n";
    if (m.mode >= 2) {
      slave_ = std::make_unique<SlaveProcess>(dir_.path(), SlaveProcess::OverTcp{}, options);
      connection += "tcp_host=127.0.0.1\ntcp_port=" + std::to_string(slave_->port()) + "\n";
    } else {
      StartSlave(options);
    }
    ASSERT_TRUE(slave_->ready());
    WriteSettings("request_function_code=3\nrequest_length=2\n" + connection);
    StartWindow();
    ASSERT_TRUE(WaitFor([&] { return master_.IsOpen() != 0; }));
    dlg_->Poll();
    ASSERT_TRUE(WaitFor([&] { return dlg_->statistics().replies() == 1; }));
    std::string error;
    dlg_->QueueWrite(FrameWrites(1, false, 2, {5}, false, 1, error));
    ASSERT_TRUE(WaitFor([&] { return dlg_->statistics().replies() == 2; })) << "confirmed and read back";
    EXPECT_NE(Log().find(std::string("] =>Request: ") + m.request + "\n"), std::string::npos) << Log();
    EXPECT_NE(Log().find(std::string("] =>Write request: ") + m.write + "\n"), std::string::npos) << Log();
    EXPECT_NE(Log().find("] <= Write reply: 00 01 00 05 \n"), std::string::npos) << Log();
    EXPECT_NE(Log().find("] <= Responce: 00 01 00 05 \n"), std::string::npos) << "registers 1 and 2 read back";
  }
}
