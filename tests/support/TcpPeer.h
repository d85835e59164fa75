// The far end of a TCP connection on 127.0.0.1, played by the test: a listener on a port of
// the system's choosing, and the accepted connection.
#pragma once

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

// Closes the connection fd with a reset (RST) instead of an orderly close.
void ResetConnection(int fd);
// Sends every byte; false when the connection takes them not.
bool SendAll(int fd, const void* bytes, int count);

}  // namespace vantrel::test
