#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "net/TcpConnection.h"
#include "net/TcpListener.h"
#include "platform/Platform.h"

namespace vantrel {
namespace {

std::string AddressText(const sockaddr_storage& a) {
  char host[NI_MAXHOST] = "?";
  char port[NI_MAXSERV] = "?";
  getnameinfo(reinterpret_cast<const sockaddr*>(&a), sizeof a, host, sizeof host, port, sizeof port,
              NI_NUMERICHOST | NI_NUMERICSERV);
  return HostPortText(host, std::atoi(port));
}

}  // namespace

Socket ListenTcp(const std::string& address, int port, int backlog, std::string& where) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &list);
  if (rc != 0) {
    where = address + ": " + gai_strerror(rc);
    return kNoSocket;
  }
  int fd = -1;
  int err = 0;
  for (const addrinfo* a = list; a != nullptr && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    // A port left in TIME_WAIT by the last run is taken again at once.
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, backlog) != 0) {
      err = errno;
      ::close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(list);
  if (fd < 0) {
    where = HostPortText(address, port) + ": " + platform::ErrorText(err);
    return kNoSocket;
  }
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size);
  where = AddressText(bound);
  return fd;
}

Socket AcceptTcp(Socket listener, std::string& peer) {
  sockaddr_storage from{};
  socklen_t size = sizeof from;
  const int fd = accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&from), &size,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return kNoSocket;
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  peer = AddressText(from);
  return fd;
}

long ReceiveSome(Socket s, std::uint8_t* buffer, std::size_t size, int& err) {
  const ssize_t n = ::recv(static_cast<int>(s), buffer, size, MSG_DONTWAIT);
  if (n >= 0) return static_cast<long>(n);
  err = errno == EWOULDBLOCK || errno == EINTR ? EAGAIN : errno;
  return -1;
}

long SendSome(Socket s, const std::uint8_t* bytes, std::size_t size, int& err) {
  for (;;) {
    const ssize_t n = ::send(static_cast<int>(s), bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    err = errno == EWOULDBLOCK ? EAGAIN : errno;
    return -1;
  }
}

int PendingError(Socket s) {
  int error = 0;
  socklen_t size = sizeof error;
  getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ERROR, &error, &size);
  return error;
}

void CloseSocket(Socket s) {
  if (s != kNoSocket) ::close(static_cast<int>(s));
}

int WaitSockets(std::vector<SocketWatch>& watches, int timeoutMs) {
  std::vector<pollfd> fds;
  fds.reserve(watches.size());
  for (SocketWatch& w : watches) {
    w.readable = w.writable = w.failed = false;
    const short events = static_cast<short>((w.forReading ? POLLIN : 0) | (w.forWriting ? POLLOUT : 0));
    fds.push_back(pollfd{static_cast<int>(w.socket), events, 0});
  }
  const int r = ::poll(fds.data(), fds.size(), timeoutMs);
  if (r < 0) return errno == EINTR ? 0 : -1;
  for (std::size_t i = 0; i < fds.size(); ++i) {
    watches[i].readable = (fds[i].revents & POLLIN) != 0;
    watches[i].writable = (fds[i].revents & POLLOUT) != 0;
    watches[i].failed = (fds[i].revents & (POLLERR | POLLHUP)) != 0;
  }
  return r;
}

}  // namespace vantrel
