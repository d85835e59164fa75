// The main window on a line that is not its own alone: traffic still arriving when it
// opens the port.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "app/MainWindowTest.h"
#include "support/Hex.h"
#include "support/Pty.h"

using namespace vantrel;
using namespace std::chrono_literals;
using vantrel::test::MainWindow;

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
