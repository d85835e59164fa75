// The far end of a TCP connection on 127.0.0.1, played by the test: a listener on a port of
// the system's choosing, and the accepted connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace vantrel::test {

class TcpListener {
 public:
  // backlog 0 holds one connection that nobody accepts; more wait unanswered.
  explicit TcpListener(int backlog = 8);
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  int port() const { return port_; }
  // The next connection, waiting at most timeoutMs: its descriptor (the caller closes it),
  // or -1.
  int Accept(int timeoutMs = 5000);
  // Stops listening: the port then refuses connections.
  void Close();

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A device on 127.0.0.1 played by a thread of the test: it takes connections one after the
// other, and whenever bytes arrive (a request: a master writes each in one piece) hands
// them to answer, which sends what the device sends back on the connection fd. An answer
// may go on sending while stop is false; the destructor sets it, and waits for the thread.
class TcpDevice {
 public:
  using Answer = std::function<void(int fd, const std::vector<std::uint8_t>& request, const std::atomic<bool>& stop)>;
  explicit TcpDevice(Answer answer);
  ~TcpDevice();
  TcpDevice(const TcpDevice&) = delete;
  TcpDevice& operator=(const TcpDevice&) = delete;

  int port() const { return listener_.port(); }
  int requests() const { return requests_; }

 private:
  void Serve();

  TcpListener listener_;
  Answer answer_;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread thread_;
};

// Sends frame over and over on fd (a connection, or a pseudo-terminal's master) without a
// pause, until maxFrames are sent (-1: no such end), stop is set, the far end has gone, or
// limitMs have passed. Returns the frames sent whole.
long long Flood(int fd, const std::vector<std::uint8_t>& frame, const std::atomic<bool>& stop, long long maxFrames = -1,
                int limitMs = 20000);

// Closes the connection fd with a reset (RST) instead of an orderly close.
void ResetConnection(int fd);
// Sends every byte; false when the connection takes them not.
bool SendAll(int fd, const void* bytes, int count);

}  // namespace vantrel::test
