// A TCP connection to a Modbus TCP device or a serial-to-Ethernet gateway: the network link
// of the modbus core. It connects in steps for a caller that must stay live (StartConnect,
// watch ConnectHandle(), FinishConnect), or at once within a bound for the command-line
// tools (Connect). A connection that the other end closes or resets is reported as the serial
// port reports a device that went away: DeviceLost.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "modbus/Link.h"

namespace vantrel {

inline constexpr int kModbusTcpPort = 502;
// LastError() after a connect whose host name was not found: no errno says that.
inline constexpr int kHostNotFound = -1;

// Splits "HOST[:PORT]" (an IPv6 address in brackets when a port follows: "[::1]:1502"); a
// missing port is defaultPort. False for an empty host or a port other than 1 to 65535.
bool ParseHostPort(const std::string& text, int defaultPort, std::string& host, int& port);
// "host:port", an IPv6 address in brackets.
std::string HostPortText(const std::string& host, int port);

class TcpConnection : public Link {
 public:
  TcpConnection() = default;
  ~TcpConnection() override;
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // Starts connecting to host (a name or an address) and port, given up after timeoutMs;
  // whatever was open or under way is closed first. Returns at once: the name lookup and the
  // connect run beside the caller, and ConnectHandle() becomes readable when they have ended.
  void StartConnect(const std::string& host, int port, int timeoutMs);
  // While a connect is under way, the descriptor to watch for reading; -1 otherwise, and on
  // Windows, where there is none: FinishConnect tells there. It is closed once FinishConnect
  // has taken the outcome, or Close has given the connect up: stop watching it first.
  int ConnectHandle() const;
  // While a connect is under way, waits at most timeoutMs for its outcome: 1 when it is
  // there for FinishConnect, 0 not yet; -1 when no connect is under way.
  int WaitConnect(int timeoutMs);
  // The outcome of the connect started: 1 connected, 0 failed (LastError: ECONNREFUSED,
  // ETIMEDOUT, EHOSTUNREACH, ... or kHostNotFound), -1 still under way.
  int FinishConnect();
  // StartConnect and FinishConnect, waiting at most timeoutMs: 1 connected, 0 failed.
  int Connect(const std::string& host, int port, int timeoutMs);
  bool Connecting() const { return attempt_ != nullptr; }
  // How many connections have been made: a new number is a new byte stream.
  unsigned Connections() const override { return connections_; }

  int IsOpen() const override;
  // Also gives up a connect under way.
  int Close() override;
  // Waits at most 1 s for room and 5 s in all, as the serial port does.
  int Write(const std::uint8_t* bytes, int count) override;
  int Read(std::uint8_t* buffer, int capacity) override;
  int WaitReadable(int timeoutMs) override;
  void DiscardInput() override;
  // A gateway passes a serial reply on as its bytes come: 20 ms without any ends it.
  int QuietGapMs() const override { return 20; }
  // The socket, for watching it for readiness; -1 when closed, and on Windows, where a
  // socket is no descriptor: WaitReadable waits for it there.
  int Handle() const override;
  // host:port of the last connect.
  const std::string& Device() const override { return device_; }
  // errno of the last failure; EPIPE when the other end closed the connection.
  int LastError() const override { return last_error_; }
  bool DeviceLost() const override { return device_lost_; }

 private:
  struct Attempt;  // shared with the thread that connects
  void Abandon();
  void NoteLost(int err);

  std::shared_ptr<Attempt> attempt_;
  std::thread thread_;
#ifdef _WIN32
  std::uintptr_t fd_ = ~std::uintptr_t{0};  // the SOCKET; INVALID_SOCKET when closed
#else
  int fd_ = -1;
#endif
  std::string device_;
  int last_error_ = 0;
  bool device_lost_ = false;
  unsigned connections_ = 0;
};

}  // namespace vantrel
