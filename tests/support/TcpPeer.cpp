#include "support/TcpPeer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace vantrel::test
