#include "support/TcpPeer.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace vantrel::test {

TcpListener::TcpListener(int backlog) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, backlog) != 0 ||
      getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
    Close();
    return;
  }
  port_ = ntohs(a.sin_port);
}

TcpListener::~TcpListener() { Close(); }

int TcpListener::Accept(int timeoutMs) {
  if (fd_ < 0) return -1;
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) != 1) return -1;
  const int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  const int one = 1;  // each send of the test goes at once, as one segment
  if (fd >= 0) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

void TcpListener::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void ResetConnection(int fd) {
  const linger hard{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  close(fd);
}

bool SendAll(int fd, const void* bytes, int count) {
  const char* p = static_cast<const char*>(bytes);
  while (count > 0) {
    const ssize_t n = send(fd, p, static_cast<size_t>(count), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    count -= static_cast<int>(n);
  }
  return true;
}

TcpDevice::TcpDevice(Answer answer) : answer_(std::move(answer)), thread_([this] { Serve(); }) {}

TcpDevice::~TcpDevice() {
  stop_ = true;
  thread_.join();
}

void TcpDevice::Serve() {
  while (!stop_) {
    const int fd = listener_.Accept(50);
    if (fd < 0) continue;
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) != 1) continue;
      std::uint8_t bytes[1024];
      const ssize_t n = recv(fd, bytes, sizeof bytes, 0);
      if (n <= 0) break;  // the master has gone
      ++requests_;
      answer_(fd, std::vector<std::uint8_t>(bytes, bytes + n), stop_);
    }
    close(fd);
  }
}

long long Flood(int fd, const std::vector<std::uint8_t>& frame, const std::atomic<bool>& stop, long long maxFrames,
                int limitMs) {
  // Many frames a write, so that the far end is given them faster than it can take them.
  std::vector<std::uint8_t> block;
  for (int i = 0; i < 512; ++i) block.insert(block.end(), frame.begin(), frame.end());
  const long long total = maxFrames < 0 ? -1 : maxFrames * static_cast<long long>(frame.size());
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  // Written without waiting, so that stop is looked at; the descriptor's flags are put back.
  const int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  long long sent = 0;
  while (!stop && (total < 0 || sent < total) && std::chrono::steady_clock::now() < end) {
    const std::size_t at = static_cast<std::size_t>(sent % static_cast<long long>(block.size()));
    std::size_t size = block.size() - at;
    if (total >= 0) size = static_cast<std::size_t>(std::min<long long>(static_cast<long long>(size), total - sent));
    ssize_t n = send(fd, block.data() + at, size, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = write(fd, block.data() + at, size);
    if (n > 0) {
      sent += n;
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;  // gone
    pollfd p{fd, POLLOUT, 0};
    poll(&p, 1, 20);
  }
  fcntl(fd, F_SETFL, flags);
  return sent / static_cast<long long>(frame.size());
}

}  // namespace vantrel::test
