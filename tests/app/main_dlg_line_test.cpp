// The main window on a line that is not its own alone: traffic still arriving when it
// opens the port, and a peer that floods it with frames of other transactions.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTest>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "app/MainWindowTest.h"
#include "support/Hex.h"
#include "support/Pty.h"
#include "support/TcpPeer.h"

using namespace vantrel;
using namespace std::chrono_literals;
using vantrel::test::MainWindow;
using Clock = std::chrono::steady_clock;

// The rest of a reply that an earlier program gave up on is still coming when the window
// opens the port: its first request waits until the line has gone quiet.
TEST_F(MainWindow, the_first_request_waits_for_a_quiet_line) {
  vantrel::test::Pty pty;
  std::filesystem::create_symlink(pty.path(), dir_ / "COM3");
  WriteSettings("request_function_code=3\nrequest_length=2\n");
  std::atomic<bool> done{false};
  std::thread late([&] {
    for (std::uint8_t b : vantrel::test::Bytes("00 4C 00 4D 00 4E 00 4F 00 50 00 51 00 52 00 53 00 54 00 55")) {
      ASSERT_EQ(write(pty.master(), &b, 1), 1);
      std::this_thread::sleep_for(10ms);
    }
    done = true;
  });
  StartWindow();
  ASSERT_EQ(master_.IsOpen(), 1);
  dlg_->Poll();
  EXPECT_TRUE(done) << "the request went out while the late reply was still arriving";
  late.join();
  pollfd p{pty.master(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 5000), 1);
  std::uint8_t request[16];
  ASSERT_EQ(read(pty.master(), request, sizeof request), 8);
  EXPECT_EQ(vantrel::test::HexOf(request, 8), "01 03 00 00 00 02 C4 0B");
}

// A Modbus TCP server that answers with frames of another transaction, without a pause:
// the window keeps handling events and times the poll out at its time-out, and its status
// line counts it.
TEST_F(MainWindow, a_flood_of_other_transactions_times_out_and_the_window_stays_live) {
  const std::vector<std::uint8_t> frame = vantrel::test::Bytes("77 77 00 00 00 07 01 03 04 00 01 00 02");
  vantrel::test::TcpDevice device([&](int fd, const std::vector<std::uint8_t>&, const std::atomic<bool>& stop) {
    vantrel::test::Flood(fd, frame, stop, -1, 5000);
  });
  WriteSettings("request_function_code=3\nrequest_length=2\nrecv_time_out=1000\nmodbus_mode=2\n"
                "tcp_host=127.0.0.1\ntcp_port=" + std::to_string(device.port()) + "\n");
  StartWindow();
  dlg_->show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return master_.IsOpen() != 0; }, 5000));
  dlg_->Poll();
  const auto start = Clock::now();
  Clock::duration longest{};
  for (auto last = start; dlg_->statistics().timeouts() == 0 && Clock::now() - start < 8s;) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    longest = std::max(longest, Clock::now() - last);
    last = Clock::now();
  }
  const auto took = Clock::now() - start;
  ASSERT_EQ(dlg_->statistics().timeouts(), 1) << dlg_->statistics().StatusLine();
  EXPECT_GE(device.requests(), 1);
  // 1 s counted in 100 ms ticks, the tick after it times the poll out
  EXPECT_LT(took, 1600ms);
  EXPECT_LT(longest, 200ms) << "events wait no longer than a bounded read";
  EXPECT_EQ(dlg_->statusLine()->text().toStdString().substr(0, 33), "Polls 1  Replies 0  Time-outs 1  ");
  ASSERT_FALSE(box_.boxes.empty());
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - Timeout\n", 0), 0u) << box_.boxes[0].text;
  QDir().mkpath(QStringLiteral(VANTREL_ARTIFACT_DIR));
  EXPECT_TRUE(dlg_->grab().save(QStringLiteral(VANTREL_ARTIFACT_DIR "/main_window_flooded.png")));
}
