// vantrel-poll against peers that misbehave on purpose, played by the test on a
// pseudo-terminal or on 127.0.0.1: a flood of frames of other transactions.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/Hex.h"
#include "support/Process.h"
#include "support/Pty.h"
#include "support/TcpPeer.h"

using vantrel::test::Bytes;
using vantrel::test::Flood;
using vantrel::test::PollBinary;
using vantrel::test::Pty;
using vantrel::test::RunResult;
using vantrel::test::TcpDevice;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

// Frames that answer nothing asked, sent without a pause once the request is in: the run
// ends with the time-out's status within the time-out and a small bound, and says what it
// skipped in a few lines, whatever the mode.
TEST(HostilePeer, a_flood_of_other_transactions_ends_at_the_time_out) {
  const struct {
    const char* mode;
    bool network;
    std::vector<std::uint8_t> frame;
  } cases[] = {
      {"rtu", false, Bytes("02 03 04 00 01 00 02 19 32")},  // another device's reply
      {"ascii", false, Text(":02030400010002F4\r\n")},
      {"tcp", true, Bytes("77 77 00 00 00 07 01 03 04 00 01 00 02")},  // a transaction never asked
      {"rtutcp", true, Bytes("02 03 04 00 01 00 02 19 32")},
  };
  constexpr int kTimeoutMs = 1000;
  constexpr int kBoundMs = 500;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    std::atomic<bool> stop{false};
    const auto flood = [&](int fd, const std::vector<std::uint8_t>&, const std::atomic<bool>& stopped) {
      Flood(fd, c.frame, stopped, -1, 5000);
    };
    std::vector<std::string> argv{PollBinary(), "-m", c.mode, "-a", "1", "-t", "4", "-c", "2", "-o", "1"};
    RunResult r;
    Clock::duration took{};
    if (c.network) {
      TcpDevice device(flood);
      argv.push_back("127.0.0.1:" + std::to_string(device.port()));
      const auto start = Clock::now();
      r = vantrel::test::Run(argv);
      took = Clock::now() - start;
    } else {
      Pty pty;
      std::thread line([&] {
        pollfd p{pty.master(), POLLIN, 0};
        std::uint8_t request[64];
        if (poll(&p, 1, 5000) == 1 && read(pty.master(), request, sizeof request) > 0) flood(pty.master(), {}, stop);
      });
      argv.push_back(pty.path());
      const auto start = Clock::now();
      r = vantrel::test::Run(argv);
      took = Clock::now() - start;
      stop = true;
      line.join();
    }
    EXPECT_EQ(r.status, 6) << r.err.substr(0, 2000);
    EXPECT_LT(took, std::chrono::milliseconds(kTimeoutMs + kBoundMs));
    EXPECT_LT(r.err.size(), 4096u) << "a few notes, not one a frame";
    EXPECT_NE(r.err.find(" frames of other transactions in this exchange, the first 5 named above\n"), std::string::npos)
        << r.err.substr(0, 2000);
    EXPECT_NE(r.err.find("Error - Timeout\n"), std::string::npos);
  }
}
