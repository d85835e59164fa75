// vantrel-poll against peers that misbehave on purpose, played by the test on a
// pseudo-terminal or on 127.0.0.1: a flood of frames of other transactions, and device
// identification replies that cannot be read.
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

// A Read Device Identification reply that came whole and checked out, but says something
// else than asked, is a failure of its own, with nothing printed as if it were read.
TEST(HostilePeer, an_identification_reply_that_cannot_be_read_fails) {
  const struct {
    const char* what;
    std::string pdu;  // the device's reply to every request
    int status;
    std::string out, err;
  } cases[] = {
      {"a basic device", "2B 0E 01 01 00 00 02 00 04 41 43 4D 45 01 02 58 31", 0, "VendorName: ACME\nProductCode: X1\n",
       ""},
      {"more follows 01", "2B 0E 01 01 01 00 01 00 04 41 43 4D 45", 16, "",
       "Error - Invalid device identification\n\nThe reply to the request for the device's identification cannot "
       "be read: its \"more follows\" byte is 01, where only 00 (no) or FF (yes) belong.\n"
       "Reply: 2B 0E 01 01 01 00 01 00 04 41 43 4D 45\n"},
      {"another read code", "2B 0E 04 01 00 00 01 00 04 41 43 4D 45", 16, "",
       "Error - Invalid device identification\n\nThe reply to the request for the device's identification cannot "
       "be read: it answers read code 04, not the 01 asked for.\nReply: 2B 0E 04 01 00 00 01 00 04 41 43 4D 45\n"},
      // regular objects offered, so they are asked for next (code 02): the answer is code 01 again
      {"the basic objects again where the regular ones were asked", "2B 0E 01 02 00 00 01 00 04 41 43 4D 45", 16,
       "", "cannot be read: it answers read code 01, not the 02 asked for.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::uint8_t> pdu = Bytes(c.pdu);
    TcpDevice device([&](int fd, const std::vector<std::uint8_t>& request, const std::atomic<bool>&) {
      // The request's transaction and unit id, then the PDU.
      std::vector<std::uint8_t> reply{request[0], request[1], 0, 0, 0, static_cast<std::uint8_t>(pdu.size() + 1),
                                      request[6]};
      reply.insert(reply.end(), pdu.begin(), pdu.end());
      vantrel::test::SendAll(fd, reply.data(), static_cast<int>(reply.size()));
    });
    const RunResult r = vantrel::test::Run({PollBinary(), "-m", "tcp", "-a", "1", "-o", "2", "--id-info",
                                            "127.0.0.1:" + std::to_string(device.port())});
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out, c.out);
    if (c.status == 0) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
  }
}
