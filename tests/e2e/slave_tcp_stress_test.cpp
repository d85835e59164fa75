// vantrel-slave over TCP, really started on 127.0.0.1 in both of its TCP modes, against
// clients that misbehave: one that floods its connection with requests or garbage, ones
// that trickle a byte at a time, and one that shuts down its sending side right after its
// request. Each must leave the others served and the simulator stoppable.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>

#include "modbus/ModbusFrame.h"
#include "support/Hex.h"
#include "support/Process.h"
#include "support/TempDir.h"

using vantrel::test::Bytes;
using vantrel::test::HexOf;
using vantrel::test::SlaveProcess;
using vantrel::test::TempDir;
using Clock = std::chrono::steady_clock;
using Frame = std::vector<std::uint8_t>;

namespace {

Frame WithCrc(const std::string& hex) {
  Frame frame = Bytes(hex);
  const std::uint16_t crc = vantrel::Crc16(frame.data(), static_cast<std::uint16_t>(frame.size()));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return frame;
}

struct Mode {
  std::string name;
  std::string option;
  Frame request;     // slave 1, holding register 0
  Frame reply;       // its value, 1
  Frame unanswered;  // the same request to slave 2, which is not served
  Frame trickle;     // 60 bytes that complete no request
};

Frame Repeated(const Frame& unit, int times) {
  Frame out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

Frame Padded(Frame frame, std::size_t size) {
  frame.resize(size);
  return frame;
}

// Modbus TCP: the header of a write of 123 registers, 260 bytes long, and zeros. RTU over
// TCP: function 0x41 (user-defined, not served) without its CRC, whose frames end at each
// pause and never check out.
const Mode kTcp{"tcp",
                "--tcp",
                Bytes("00 01 00 00 00 06 01 03 00 00 00 01"),
                Bytes("00 01 00 00 00 05 01 03 02 00 01"),
                Bytes("00 01 00 00 00 06 02 03 00 00 00 01"),
                Padded(Bytes("00 02 00 00 00 FE 01 10 00 00 00 7B F6"), 60)};
const Mode kRtuOverTcp{"rtu_over_tcp",
                       "--rtu-over-tcp",
                       WithCrc("01 03 00 00 00 01"),
                       WithCrc("01 03 02 00 01"),
                       WithCrc("02 03 00 00 00 01"),
                       Repeated(Bytes("01 41"), 30)};

void PrintTo(const Mode& mode, std::ostream* out) { *out << mode.name; }

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A connection of the test's own to the simulator, closed when destroyed.
struct Connection {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  explicit Connection(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  ~Connection() { close(fd); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool Send(const Frame& bytes) const {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // What comes within timeoutMs, until size bytes have come (size 0: until the far end closes).
  Frame Read(std::size_t size, int timeoutMs) const {
    Frame got;
    const auto start = Clock::now();
    while ((size == 0 || got.size() < size) && MsSince(start) < timeoutMs) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      std::uint8_t chunk[512];
      const ssize_t n = recv(fd, chunk, size == 0 ? sizeof chunk : std::min(sizeof chunk, size - got.size()), 0);
      if (n <= 0) break;
      got.insert(got.end(), chunk, chunk + n);
    }
    return got;
  }
  // Whether the far end has closed the connection (or reset it), without waiting.
  bool ClosedByPeer() const {
    pollfd p{fd, POLLIN, 0};
    std::uint8_t byte;
    return poll(&p, 1, 0) == 1 && recv(fd, &byte, 1, MSG_DONTWAIT) <= 0;
  }
};

// A client that sends unit again and again on one connection, as fast as the simulator
// takes it, and counts the bytes that come back, until stopped or closed by the simulator.
class Flooder {
 public:
  Flooder(int port, const Frame& unit) : connection_(port), thread_([this, unit] { Run(Repeated(unit, 4096)); }) {}
  ~Flooder() {
    stop_ = true;
    thread_.join();
  }
  long long received() const { return received_; }
  bool closed() const { return closed_; }

 private:
  void Run(const Frame& burst) {
    std::size_t at = 0;
    while (!stop_) {
      pollfd p{connection_.fd, POLLIN | POLLOUT, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = send(connection_.fd, burst.data() + at, burst.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) at = (at + static_cast<std::size_t>(n)) % burst.size();
      std::uint8_t chunk[65536];
      const ssize_t got = recv(connection_.fd, chunk, sizeof chunk, MSG_DONTWAIT);
      if (got > 0) received_ += got;
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) break;
    }
    closed_ = !stop_;
  }

  Connection connection_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> closed_{false};
  std::atomic<long long> received_{0};
  std::thread thread_;  // last: it uses the members above
};

// Waits at most timeoutMs for done().
template <typename Done>
bool WaitFor(Done done, int timeoutMs) {
  const auto start = Clock::now();
  while (!done() && MsSince(start) < timeoutMs) usleep(5000);
  return done();
}

class SlaveTcpStress : public ::testing::TestWithParam<Mode> {};

}  // namespace

// The request and the end of the client's sending side arrive together; the reply still
// goes out, then the simulator closes the connection.
TEST_P(SlaveTcpStress, a_request_followed_by_shutdown_is_answered) {
  const Mode& mode = GetParam();
  TempDir dir;
  SlaveProcess slave(dir.path(), SlaveProcess::OverTcp{}, {"-a", "1", "-q", mode.option, "0"});
  ASSERT_TRUE(slave.ready());
  int answered = 0;
  for (int i = 0; i < 20; ++i) {
    Connection c(slave.port());
    ASSERT_TRUE(c.Send(mode.request));
    shutdown(c.fd, SHUT_WR);
    answered += c.Read(0, 5000) == mode.reply;  // the reply, then the end
  }
  EXPECT_EQ(answered, 20);
}

// Every place there is taken: 31 connections trickle a byte every 100 ms, one sends a
// request every 300 ms (to a slave not served, so that no reply keeps it open). The
// tricklers complete no request and are closed after the idle time; the other stays, and a
// client that comes then is served.
TEST_P(SlaveTcpStress, trickling_connections_are_closed_after_the_idle_time) {
  const Mode& mode = GetParam();
  TempDir dir;
  SlaveProcess slave(dir.path(), SlaveProcess::OverTcp{}, {"-a", "1", "--idle-timeout", "1", mode.option, "0"});
  ASSERT_TRUE(slave.ready());
  std::vector<std::unique_ptr<Connection>> trickling;
  for (int i = 0; i < 31; ++i) trickling.push_back(std::make_unique<Connection>(slave.port()));
  Connection polling(slave.port());
  const auto start = Clock::now();
  std::vector<long long> closedAtMs(trickling.size(), -1);
  int open = static_cast<int>(trickling.size());
  for (std::size_t step = 0; step < mode.trickle.size() && (open > 0 || step < 25); ++step) {
    for (std::size_t i = 0; i < trickling.size(); ++i) {
      if (closedAtMs[i] >= 0) continue;
      if (trickling[i]->ClosedByPeer() || send(trickling[i]->fd, &mode.trickle[step], 1, MSG_NOSIGNAL) != 1) {
        closedAtMs[i] = MsSince(start);
        --open;
      }
    }
    if (step % 3 == 0) {
      ASSERT_TRUE(polling.Send(mode.unanswered)) << step;
    }
    usleep(100000);
  }
  for (std::size_t i = 0; i < trickling.size(); ++i) {
    EXPECT_GE(closedAtMs[i], 900) << i << ": closed, and not before the idle time";
  }
  EXPECT_FALSE(polling.ClosedByPeer()) << "whole requests keep a connection open";
  Connection late(slave.port());
  ASSERT_TRUE(late.Send(mode.request));
  EXPECT_EQ(HexOf(late.Read(mode.reply.size(), 5000)), HexOf(mode.reply));
  const std::string log = slave.Log();
  std::size_t closedLines = 0;
  for (std::size_t at = log.find("no whole request in 1 s: closed"); at != std::string::npos;
       at = log.find("no whole request in 1 s: closed", at + 1)) {
    ++closedLines;
  }
  EXPECT_EQ(closedLines, trickling.size()) << log;
}

INSTANTIATE_TEST_SUITE_P(Modes, SlaveTcpStress, ::testing::Values(kTcp, kRtuOverTcp),
                         [](const auto& info) { return info.param.name; });

namespace {

struct FloodCase {
  std::string name;
  Mode mode;
  Frame unit;         // sent again and again
  bool disconnected;  // the flood is no requests: its client is cut off at the input bound
};

void PrintTo(const FloodCase& flood, std::ostream* out) { *out << flood.name; }

class SlaveTcpFlood : public ::testing::TestWithParam<FloodCase> {};

}  // namespace

// One connection floods without a pause. A second client is answered while the flood goes
// on (the flood still being served when it is), and SIGTERM ends the simulator.
TEST_P(SlaveTcpFlood, one_connection_holds_up_no_other) {
  const FloodCase& flood = GetParam();
  TempDir dir;
  SlaveProcess slave(dir.path(), SlaveProcess::OverTcp{}, {"-a", "1", "-q", flood.mode.option, "0"});
  ASSERT_TRUE(slave.ready());
  Flooder flooder(slave.port(), flood.unit);
  if (flood.disconnected) {
    EXPECT_TRUE(WaitFor([&] { return flooder.closed(); }, 10000)) << "cut off at the bound";
    EXPECT_NE(slave.Log().find("bytes that hold no whole request: disconnected"), std::string::npos) << slave.Log();
  } else {
    const auto served = [&] { return flooder.received() >= static_cast<long long>(100 * flood.mode.reply.size()); };
    ASSERT_TRUE(WaitFor(served, 10000)) << "the flood is served";
  }

  Connection good(slave.port());
  const auto asked = Clock::now();
  ASSERT_TRUE(good.Send(flood.mode.request));
  EXPECT_EQ(HexOf(good.Read(flood.mode.reply.size(), 10000)), HexOf(flood.mode.reply));
  std::printf("[          ] the other client waited %lld ms\n", MsSince(asked));
  if (!flood.disconnected) {
    const long long before = flooder.received();
    EXPECT_TRUE(WaitFor([&] { return flooder.received() > before; }, 10000)) << "the flood is still served in turn";
    EXPECT_FALSE(flooder.closed());
  }
  const auto stopping = Clock::now();
  EXPECT_TRUE(slave.Stop(3000)) << "SIGTERM during the flood";
  std::printf("[          ] SIGTERM ended it in %lld ms\n", MsSince(stopping));
}

INSTANTIATE_TEST_SUITE_P(
    Floods, SlaveTcpFlood,
    ::testing::Values(FloodCase{"tcp_requests", kTcp, kTcp.request, false},
                      FloodCase{"rtu_over_tcp_requests", kRtuOverTcp, kRtuOverTcp.request, false},
                      // function 0x41 has no fixed layout: its request ends when the bytes stop
                      FloodCase{"rtu_over_tcp_garbage", kRtuOverTcp, Bytes("01 41"), true}),
    [](const auto& info) { return info.param.name; });
