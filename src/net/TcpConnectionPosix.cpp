#include "net/TcpConnection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <system_error>

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kByteWaitMs = 1000;    // longest wait for room in the send buffer
constexpr int kWriteTotalMs = 5000;  // longest time one Write may take

long long MsUntil(Clock::time_point when) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
}

// Waits for the connect of a non-blocking socket: 0 when connected, else an errno.
int AwaitConnect(int fd, Clock::time_point deadline) {
  for (;;) {
    const long long left = MsUntil(deadline);
    if (left <= 0) return ETIMEDOUT;
    pollfd p{fd, POLLOUT, 0};
    const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 60000)));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return errno;
    if (r == 0) continue;  // the loop's head tells a time-out
    int err = 0;
    socklen_t size = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &size) != 0) return errno;
    return err;
  }
}

// A connected socket to one of the addresses of host, or -1 with error set.
int ConnectSocket(const std::string& host, int port, Clock::time_point deadline, int& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0 || list == nullptr) {
    error = kHostNotFound;
    return -1;
  }
  error = ETIMEDOUT;
  int fd = -1;
  for (const addrinfo* a = list; a != nullptr && fd < 0 && MsUntil(deadline) > 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      error = errno;
      continue;
    }
    int err = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
    if (err == EINPROGRESS) err = AwaitConnect(fd, deadline);
    if (err != 0) {
      error = err;
      ::close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(list);
  if (fd >= 0) {
    // A request is one small segment: it goes at once, not when Nagle's algorithm lets it.
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    error = 0;
  }
  return fd;
}

}  // namespace

struct TcpConnection::Attempt {
  std::mutex lock;
  bool done = false;
  bool abandoned = false;  // nobody takes the socket any more: the thread closes it
  int fd = -1;
  int error = 0;
  int wake = -1;  // an eventfd, readable once done

  ~Attempt() {
    if (wake >= 0) ::close(wake);
  }
};

TcpConnection::~TcpConnection() { Close(); }

void TcpConnection::StartConnect(const std::string& host, int port, int timeoutMs) {
  Close();
  device_ = HostPortText(host, port);
  last_error_ = 0;
  device_lost_ = false;
  auto attempt = std::make_shared<Attempt>();
  attempt->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (attempt->wake < 0) {
    last_error_ = errno;
    return;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 1));
  try {
    // The name lookup may take as long as the resolver likes; the caller never waits on it.
    thread_ = std::thread([attempt, host, port, deadline] {
      int error = 0;
      const int fd = ConnectSocket(host, port, deadline, error);
      std::lock_guard<std::mutex> hold(attempt->lock);
      if (attempt->abandoned) {
        if (fd >= 0) ::close(fd);
      } else {
        attempt->fd = fd;
        attempt->error = error;
      }
      attempt->done = true;
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t n = ::write(attempt->wake, &one, sizeof one);
    });
  } catch (const std::system_error& e) {
    last_error_ = e.code().value();
    return;
  }
  attempt_ = std::move(attempt);
}

int TcpConnection::ConnectHandle() const { return attempt_ ? attempt_->wake : -1; }

int TcpConnection::WaitConnect(int timeoutMs) {
  if (!attempt_) return -1;
  pollfd p{attempt_->wake, POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  return r > 0 ? 1 : 0;
}

int TcpConnection::FinishConnect() {
  if (!attempt_) return fd_ >= 0 ? 1 : 0;
  int fd;
  int error;
  {
    std::lock_guard<std::mutex> hold(attempt_->lock);
    if (!attempt_->done) return -1;
    fd = attempt_->fd;
    error = attempt_->error;
    attempt_->fd = -1;
  }
  thread_.join();
  attempt_.reset();
  if (fd < 0) {
    last_error_ = error;
    return 0;
  }
  fd_ = fd;
  ++connections_;
  return 1;
}

int TcpConnection::Connect(const std::string& host, int port, int timeoutMs) {
  StartConnect(host, port, timeoutMs);
  if (!attempt_) return 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 1));
  pollfd p{ConnectHandle(), POLLIN, 0};
  for (long long left = MsUntil(deadline); left > 0; left = MsUntil(deadline)) {
    const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 60000)));
    if (r != 0 && !(r < 0 && errno == EINTR)) break;
  }
  const int done = FinishConnect();
  if (done >= 0) return done;
  Close();  // the name lookup outlasted the time-out
  last_error_ = ETIMEDOUT;
  return 0;
}

void TcpConnection::Abandon() {
  if (!attempt_) return;
  {
    std::lock_guard<std::mutex> hold(attempt_->lock);
    attempt_->abandoned = true;
    if (attempt_->fd >= 0) ::close(attempt_->fd);
    attempt_->fd = -1;
  }
  thread_.detach();
  attempt_.reset();
}

int TcpConnection::IsOpen() const { return fd_ >= 0; }

int TcpConnection::Handle() const { return fd_; }

int TcpConnection::Close() {
  Abandon();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  return 1;
}

void TcpConnection::NoteLost(int err) {
  last_error_ = err;
  device_lost_ = true;
}

int TcpConnection::Write(const std::uint8_t* bytes, int count) {
  if (fd_ < 0) return 0;
  if (count <= 0 || bytes == nullptr) return 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTotalMs);
  int done = 0;
  while (done < count) {
    const ssize_t n = ::send(fd_, bytes + done, static_cast<size_t>(count - done), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      NoteLost(errno);  // EPIPE, ECONNRESET: the stream is over
      break;
    }
    const long long left = MsUntil(deadline);
    pollfd p{fd_, POLLOUT, 0};
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(std::min<long long>(kByteWaitMs, left))) == 0) {
      last_error_ = ETIMEDOUT;  // the peer takes nothing: the rest of the frame is dropped
      break;
    }
  }
  return count;
}

int TcpConnection::Read(std::uint8_t* buffer, int capacity) {
  if (fd_ < 0 || buffer == nullptr || capacity <= 0) return 0;
  ssize_t n;
  do {
    n = ::recv(fd_, buffer, static_cast<size_t>(capacity), MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n > 0) return static_cast<int>(n);
  if (n == 0) {
    NoteLost(EPIPE);  // the other end closed the connection
  } else if (errno != EAGAIN) {
    NoteLost(errno);
  }
  return 0;
}

int TcpConnection::WaitReadable(int timeoutMs) {
  if (fd_ < 0) return -1;
  pollfd p{fd_, POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  if (r < 0) {
    NoteLost(errno);
    return -1;
  }
  if (r == 0) return 0;
  // Readable also means closed or reset: bytes still there come first, then the end.
  std::uint8_t byte;
  const ssize_t n = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0) return 1;
  if (n == 0) {
    NoteLost(EPIPE);
    return -1;
  }
  if (errno == EAGAIN || errno == EINTR) return 0;
  NoteLost(errno);
  return -1;
}

void TcpConnection::DiscardInput() {
  if (fd_ < 0) return;
  int queued = 0;
  if (ioctl(fd_, FIONREAD, &queued) != 0) return;
  std::uint8_t chunk[1024];
  while (queued > 0) {
    const ssize_t n = ::recv(fd_, chunk, std::min<size_t>(sizeof chunk, static_cast<size_t>(queued)), MSG_DONTWAIT);
    if (n <= 0) break;
    queued -= static_cast<int>(n);
  }
}

}  // namespace vantrel
