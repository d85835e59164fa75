// The TCP link against listeners on 127.0.0.1 that the test plays.
#include "net/TcpConnection.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "support/TcpPeer.h"

using namespace vantrel;
using vantrel::test::TcpListener;
using Clock = std::chrono::steady_clock;

namespace {

bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) == 1;
}

}  // namespace

TEST(host_port, parses_names_addresses_and_ports) {
  struct Row {
    const char* text;
    bool ok;
    const char* host = "";
    int port = 0;
    const char* shown = "";  // as HostPortText writes it
  };
  const Row rows[] = {
      {"192.168.1.20", true, "192.168.1.20", 502, "192.168.1.20:502"},
      {"192.168.1.20:1502", true, "192.168.1.20", 1502, "192.168.1.20:1502"},
      {"plc-7.example:65535", true, "plc-7.example", 65535, "plc-7.example:65535"},
      {"[::1]:1502", true, "::1", 1502, "[::1]:1502"},
      {"[fe80::1]", true, "fe80::1", 502, "[fe80::1]:502"},
      {"::1", true, "::1", 502, "[::1]:502"},  // an IPv6 address without a port needs no brackets
      {"host:0", false},
      {"host:65536", false},
      {"host:", false},
      {"host:50x", false},
      {":502", false},
      {"", false},
      {"[::1", false},
      {"[::1]502", false},
  };
  for (const Row& row : rows) {
    std::string host;
    int port = 0;
    ASSERT_EQ(ParseHostPort(row.text, kModbusTcpPort, host, port), row.ok) << row.text;
    if (!row.ok) continue;
    EXPECT_EQ(host, row.host) << row.text;
    EXPECT_EQ(port, row.port) << row.text;
    EXPECT_EQ(HostPortText(host, port), row.shown);
  }
}

TEST(tcp_connection, connects_in_steps_without_blocking_and_carries_bytes_both_ways) {
  TcpListener listener;
  ASSERT_GT(listener.port(), 0);
  TcpConnection link;
  link.StartConnect("127.0.0.1", listener.port(), 5000);
  ASSERT_TRUE(link.Connecting());
  const int handle = link.ConnectHandle();
  ASSERT_GE(handle, 0);
  EXPECT_EQ(link.IsOpen(), 0);
  ASSERT_TRUE(Readable(handle, 5000)) << "the handle tells when the connect has ended";
  ASSERT_EQ(link.FinishConnect(), 1);
  EXPECT_FALSE(link.Connecting());
  EXPECT_EQ(link.ConnectHandle(), -1);
  EXPECT_EQ(link.IsOpen(), 1);
  EXPECT_EQ(link.Connections(), 1u);
  EXPECT_EQ(link.Device(), "127.0.0.1:" + std::to_string(listener.port()));
  EXPECT_GE(link.Handle(), 0);

  const int peer = listener.Accept();
  ASSERT_GE(peer, 0);
  const std::uint8_t request[] = {0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(link.Write(request, 12), 12);
  std::uint8_t got[64];
  ASSERT_TRUE(Readable(peer, 5000));
  EXPECT_EQ(recv(peer, got, sizeof got, 0), 12);
  EXPECT_EQ(link.Read(got, sizeof got), 0) << "nothing there: no wait";
  EXPECT_EQ(link.WaitReadable(0), 0);
  ASSERT_TRUE(vantrel::test::SendAll(peer, "\x00\x01\x00\x00\x00\x05\x01\x03\x02\x00\x2A", 11));
  ASSERT_EQ(link.WaitReadable(5000), 1);
  int total = 0;
  for (int i = 0; i < 100 && total < 11; ++i) {
    total += link.Read(got + total, static_cast<int>(sizeof got) - total);
    if (total < 11) link.WaitReadable(50);
  }
  EXPECT_EQ(total, 11);
  EXPECT_EQ(got[10], 0x2A);
  EXPECT_FALSE(link.DeviceLost());

  // DiscardInput drops what has come and not been read
  ASSERT_TRUE(vantrel::test::SendAll(peer, "abc", 3));
  ASSERT_EQ(link.WaitReadable(5000), 1);
  link.DiscardInput();
  EXPECT_EQ(link.Read(got, sizeof got), 0);
  close(peer);
}

// Refused and unanswered connects are told apart by vantrel-poll's texts (tcp_peer_test);
// here, a connect that gets no answer is given up at once by Close.
TEST(tcp_connection, a_connect_under_way_is_given_up_at_once) {
  TcpListener full(0);  // its one place taken: further connects get no answer
  TcpConnection filler;
  ASSERT_EQ(filler.Connect("127.0.0.1", full.port(), 5000), 1);
  TcpConnection link;
  link.StartConnect("127.0.0.1", full.port(), 10000);
  ASSERT_TRUE(link.Connecting());
  EXPECT_FALSE(Readable(link.ConnectHandle(), 200)) << "no outcome yet";
  const auto start = Clock::now();
  EXPECT_EQ(link.Close(), 1);
  EXPECT_FALSE(link.Connecting());
  EXPECT_EQ(link.FinishConnect(), 0);
  EXPECT_EQ(link.IsOpen(), 0);
  EXPECT_EQ(link.Connections(), 0u);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

TEST(tcp_connection, a_closed_or_reset_connection_is_a_lost_device) {
  struct Row {
    const char* what;
    bool reset;
    int error;
  };
  const Row rows[] = {{"closed by the other end", false, EPIPE}, {"reset", true, ECONNRESET}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TcpListener listener;
    TcpConnection link;
    ASSERT_EQ(link.Connect("127.0.0.1", listener.port(), 5000), 1);
    const int peer = listener.Accept();
    ASSERT_GE(peer, 0);
    // bytes sent before the end are still read first
    ASSERT_TRUE(vantrel::test::SendAll(peer, "\x01\x02", 2));
    if (row.reset) {
      ASSERT_EQ(link.WaitReadable(5000), 1);
      std::uint8_t two[2];
      EXPECT_EQ(link.Read(two, 2), 2);
      vantrel::test::ResetConnection(peer);
    } else {
      close(peer);
      ASSERT_EQ(link.WaitReadable(5000), 1);
      std::uint8_t two[2];
      EXPECT_EQ(link.Read(two, 2), 2);
    }
    EXPECT_FALSE(link.DeviceLost());
    EXPECT_EQ(link.WaitReadable(5000), -1);
    EXPECT_TRUE(link.DeviceLost());
    EXPECT_EQ(link.LastError(), row.error);
    std::uint8_t buf[4];
    EXPECT_EQ(link.Read(buf, 4), 0);
    EXPECT_EQ(link.IsOpen(), 1) << "let go by Close, as the serial port";
    EXPECT_EQ(link.Close(), 1);
    EXPECT_EQ(link.IsOpen(), 0);
  }
}

TEST(tcp_connection, a_new_connection_is_a_new_stream) {
  TcpListener listener;
  TcpConnection link;
  ASSERT_EQ(link.Connect("localhost", listener.port(), 5000), 1) << "a name is looked up";
  const int first = listener.Accept();
  ASSERT_EQ(link.Connect("127.0.0.1", listener.port(), 5000), 1) << "closes the first";
  EXPECT_EQ(link.Connections(), 2u);
  std::uint8_t byte;
  ASSERT_TRUE(Readable(first, 5000));
  EXPECT_EQ(recv(first, &byte, 1, 0), 0) << "the first connection was closed";
  close(first);
}
