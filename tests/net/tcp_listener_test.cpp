// The server side of the network link on 127.0.0.1, against the client side, TcpConnection.
#include "net/TcpListener.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "net/TcpConnection.h"

using namespace vantrel;

namespace {

// Waits at most timeoutMs for the one socket as watched.
SocketWatch WaitOne(Socket s, bool forReading, bool forWriting, int timeoutMs) {
  std::vector<SocketWatch> watches{SocketWatch{s, forReading, forWriting}};
  WaitSockets(watches, timeoutMs);
  return watches[0];
}

int PortOf(const std::string& where) { return std::stoi(where.substr(where.rfind(':') + 1)); }

}  // namespace

TEST(tcp_listener, accepts_and_carries_bytes_both_ways_and_tells_the_end) {
  std::string where;
  const Socket listener = ListenTcp("127.0.0.1", 0, 8, where);
  ASSERT_NE(listener, kNoSocket) << where;
  ASSERT_TRUE(std::regex_match(where, std::regex(R"(127\.0\.0\.1:[0-9]+)"))) << where;
  EXPECT_FALSE(WaitOne(listener, true, false, 0).readable);  // nobody has connected
  std::string peer;
  EXPECT_EQ(AcceptTcp(listener, peer), kNoSocket);  // and the accept does not wait for one

  TcpConnection client;
  ASSERT_EQ(client.Connect("127.0.0.1", PortOf(where), 2000), 1);
  ASSERT_TRUE(WaitOne(listener, true, false, 2000).readable);
  const Socket s = AcceptTcp(listener, peer);
  ASSERT_NE(s, kNoSocket);
  EXPECT_TRUE(std::regex_match(peer, std::regex(R"(127\.0\.0\.1:[0-9]+)"))) << peer;

  const std::uint8_t request[] = {0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x0B, 0x03, 0x00, 0x00, 0x00, 0x01};
  ASSERT_EQ(client.Write(request, sizeof request), static_cast<int>(sizeof request));
  ASSERT_TRUE(WaitOne(s, true, false, 2000).readable);
  std::uint8_t in[64] = {};
  int err = 0;
  ASSERT_EQ(ReceiveSome(s, in, sizeof in, err), static_cast<long>(sizeof request));
  EXPECT_EQ(std::vector<std::uint8_t>(in, in + sizeof request), std::vector<std::uint8_t>(request, request + sizeof request));
  err = 0;
  EXPECT_EQ(ReceiveSome(s, in, sizeof in, err), -1);  // nothing more: no wait
  EXPECT_EQ(err, EAGAIN);

  EXPECT_TRUE(WaitOne(s, false, true, 2000).writable);
  const std::uint8_t reply[] = {0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x0B, 0x03, 0x02, 0x00, 0x01};
  ASSERT_EQ(SendSome(s, reply, sizeof reply, err), static_cast<long>(sizeof reply));
  ASSERT_EQ(client.WaitReadable(2000), 1);
  std::uint8_t got[64] = {};
  ASSERT_EQ(client.Read(got, sizeof got), static_cast<int>(sizeof reply));
  EXPECT_EQ(std::vector<std::uint8_t>(got, got + sizeof reply), std::vector<std::uint8_t>(reply, reply + sizeof reply));

  client.Close();
  ASSERT_TRUE(WaitOne(s, true, false, 2000).readable);
  EXPECT_EQ(ReceiveSome(s, in, sizeof in, err), 0);  // the end, not a failure
  EXPECT_EQ(PendingError(s), 0);
  CloseSocket(s);
  CloseSocket(listener);
}

TEST(tcp_listener, a_port_in_use_is_refused_with_why) {
  std::string where;
  const Socket first = ListenTcp("127.0.0.1", 0, 8, where);
  ASSERT_NE(first, kNoSocket) << where;
  const int port = PortOf(where);
  std::string again;
  EXPECT_EQ(ListenTcp("127.0.0.1", port, 8, again), kNoSocket);
  EXPECT_EQ(again, "127.0.0.1:" + std::to_string(port) + ": Address already in use");
  CloseSocket(first);
  // Once it is closed, the port is free again (a listener leaves no TIME_WAIT behind).
  const Socket second = ListenTcp("127.0.0.1", port, 8, again);
  EXPECT_NE(second, kNoSocket) << again;
  CloseSocket(second);
}

TEST(tcp_listener, the_wait_ends_at_its_time_out) {
  std::string where;
  const Socket listener = ListenTcp("127.0.0.1", 0, 8, where);
  ASSERT_NE(listener, kNoSocket) << where;
  std::vector<SocketWatch> watches{SocketWatch{listener, true, false}};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitSockets(watches, 100), 0);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 90);
  EXPECT_LT(ms, 2000);
  EXPECT_FALSE(watches[0].readable);
  EXPECT_FALSE(watches[0].failed);
  CloseSocket(listener);
}
