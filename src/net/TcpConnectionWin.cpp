// The network link on Windows, over Winsock: a non-blocking socket, connected beside the
// caller within the time-out and waited on with select. Winsock errors become the errno
// values that the Linux link gives, so that every caller explains a failure the same way.
#include "net/TcpConnection.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>

#include "net/Winsock.h"

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kByteWaitMs = 1000;    // longest wait for room in the send buffer
constexpr int kWriteTotalMs = 5000;  // longest time one Write may take

long long MsUntil(Clock::time_point when) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
}

int LastErrno() { return winsock::Errno(WSAGetLastError()); }

timeval Interval(long long ms) {
  timeval tv{};
  tv.tv_sec = static_cast<long>(ms / 1000);
  tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
  return tv;
}

// Waits at most ms (forever when negative) until the socket is readable (or writable):
// 1 ready, 0 time-out, -1 failed (err set).
int WaitFor(SOCKET s, bool forWriting, long long ms, int& err) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv = Interval(std::max(ms, 0LL));
  const int r = select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr, nullptr,
                       ms < 0 ? nullptr : &tv);
  if (r == SOCKET_ERROR) {
    err = LastErrno();
    return -1;
  }
  return r > 0 ? 1 : 0;
}

// Waits for the connect of a non-blocking socket: 0 when connected, else an errno. Windows
// tells a failed connect as an exception on the socket, not as writable.
int AwaitConnect(SOCKET s, Clock::time_point deadline) {
  for (;;) {
    const long long left = MsUntil(deadline);
    if (left <= 0) return ETIMEDOUT;
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv = Interval(std::min<long long>(left, 60000));
    const int r = select(0, nullptr, &writable, &failed, &tv);
    if (r == SOCKET_ERROR) return LastErrno();
    if (r == 0) continue;  // the loop's head tells a time-out
    int err = 0;
    int size = sizeof err;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &size) != 0) return LastErrno();
    if (err != 0) return winsock::Errno(err);
    return FD_ISSET(s, &failed) ? ECONNREFUSED : 0;
  }
}

// A connected non-blocking socket to one of the addresses of host, or INVALID_SOCKET with
// error set.
SOCKET ConnectSocket(const std::string& host, int port, Clock::time_point deadline, int& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0 || list == nullptr) {
    error = kHostNotFound;
    return INVALID_SOCKET;
  }
  error = ETIMEDOUT;
  SOCKET s = INVALID_SOCKET;
  for (const addrinfo* a = list; a != nullptr && s == INVALID_SOCKET && MsUntil(deadline) > 0;
       a = a->ai_next) {
    s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      error = LastErrno();
      continue;
    }
    u_long nonBlocking = 1;
    int err = 0;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
      err = LastErrno();
    } else if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      const int wsa = WSAGetLastError();
      err = wsa == WSAEWOULDBLOCK ? AwaitConnect(s, deadline) : winsock::Errno(wsa);
    }
    if (err != 0) {
      error = err;
      closesocket(s);
      s = INVALID_SOCKET;
    }
  }
  freeaddrinfo(list);
  if (s != INVALID_SOCKET) {
    // A request is one small segment: it goes at once, not when Nagle's algorithm lets it.
    const BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    error = 0;
  }
  return s;
}

}  // namespace

struct TcpConnection::Attempt {
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
  bool abandoned = false;  // nobody takes the socket any more: the thread closes it
  SOCKET fd = INVALID_SOCKET;
  int error = 0;
};

TcpConnection::~TcpConnection() { Close(); }

void TcpConnection::StartConnect(const std::string& host, int port, int timeoutMs) {
  Close();
  winsock::Start();
  device_ = HostPortText(host, port);
  last_error_ = 0;
  device_lost_ = false;
  auto attempt = std::make_shared<Attempt>();
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 1));
  try {
    // The name lookup may take as long as the resolver likes; the caller never waits on it.
    thread_ = std::thread([attempt, host, port, deadline] {
      int error = 0;
      const SOCKET s = ConnectSocket(host, port, deadline, error);
      std::lock_guard<std::mutex> hold(attempt->lock);
      if (attempt->abandoned) {
        if (s != INVALID_SOCKET) closesocket(s);
      } else {
        attempt->fd = s;
        attempt->error = error;
      }
      attempt->done = true;
      attempt->ended.notify_all();
    });
  } catch (const std::system_error& e) {
    last_error_ = e.code().value();
    return;
  }
  attempt_ = std::move(attempt);
}

int TcpConnection::ConnectHandle() const { return -1; }

int TcpConnection::WaitConnect(int timeoutMs) {
  if (!attempt_) return -1;
  std::unique_lock<std::mutex> hold(attempt_->lock);
  const auto done = [this] { return attempt_->done; };
  if (timeoutMs < 0) {
    attempt_->ended.wait(hold, done);
    return 1;
  }
  return attempt_->ended.wait_for(hold, std::chrono::milliseconds(timeoutMs), done) ? 1 : 0;
}

int TcpConnection::FinishConnect() {
  if (!attempt_) return IsOpen() ? 1 : 0;
  SOCKET s;
  int error;
  {
    std::lock_guard<std::mutex> hold(attempt_->lock);
    if (!attempt_->done) return -1;
    s = attempt_->fd;
    error = attempt_->error;
    attempt_->fd = INVALID_SOCKET;
  }
  thread_.join();
  attempt_.reset();
  if (s == INVALID_SOCKET) {
    last_error_ = error;
    return 0;
  }
  fd_ = s;
  ++connections_;
  return 1;
}

int TcpConnection::Connect(const std::string& host, int port, int timeoutMs) {
  StartConnect(host, port, timeoutMs);
  if (!attempt_) return 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 1));
  {
    std::unique_lock<std::mutex> hold(attempt_->lock);
    attempt_->ended.wait_until(hold, deadline, [this] { return attempt_->done; });
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
    if (attempt_->fd != INVALID_SOCKET) closesocket(attempt_->fd);
    attempt_->fd = INVALID_SOCKET;
  }
  thread_.detach();
  attempt_.reset();
}

int TcpConnection::IsOpen() const { return fd_ != INVALID_SOCKET; }

int TcpConnection::Handle() const { return -1; }

int TcpConnection::Close() {
  Abandon();
  if (fd_ != INVALID_SOCKET) closesocket(fd_);
  fd_ = INVALID_SOCKET;
  return 1;
}

void TcpConnection::NoteLost(int err) {
  last_error_ = err;
  device_lost_ = true;
}

int TcpConnection::Write(const std::uint8_t* bytes, int count) {
  if (!IsOpen()) return 0;
  if (count <= 0 || bytes == nullptr) return 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTotalMs);
  int done = 0;
  while (done < count) {
    const int n = ::send(fd_, reinterpret_cast<const char*>(bytes + done), count - done, 0);
    if (n > 0) {
      done += n;
      continue;
    }
    const int wsa = WSAGetLastError();
    if (n == SOCKET_ERROR && wsa != WSAEWOULDBLOCK) {
      NoteLost(winsock::Errno(wsa));  // ECONNRESET, ECONNABORTED: the stream is over
      break;
    }
    const long long left = MsUntil(deadline);
    int err = 0;
    if (left <= 0 || WaitFor(fd_, true, std::min<long long>(kByteWaitMs, left), err) == 0) {
      last_error_ = ETIMEDOUT;  // the peer takes nothing: the rest of the frame is dropped
      break;
    }
  }
  return count;
}

int TcpConnection::Read(std::uint8_t* buffer, int capacity) {
  if (!IsOpen() || buffer == nullptr || capacity <= 0) return 0;
  const int n = ::recv(fd_, reinterpret_cast<char*>(buffer), capacity, 0);
  if (n > 0) return n;
  if (n == 0) {
    NoteLost(EPIPE);  // the other end closed the connection
  } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
    NoteLost(LastErrno());
  }
  return 0;
}

int TcpConnection::WaitReadable(int timeoutMs) {
  if (!IsOpen()) return -1;
  int err = 0;
  const int r = WaitFor(fd_, false, timeoutMs, err);
  if (r < 0) {
    NoteLost(err);
    return -1;
  }
  if (r == 0) return 0;
  // Readable also means closed or reset: bytes still there come first, then the end.
  char byte;
  const int n = ::recv(fd_, &byte, 1, MSG_PEEK);
  if (n > 0) return 1;
  if (n == 0) {
    NoteLost(EPIPE);
    return -1;
  }
  const int wsa = WSAGetLastError();
  if (wsa == WSAEWOULDBLOCK || wsa == WSAEINTR) return 0;
  NoteLost(winsock::Errno(wsa));
  return -1;
}

void TcpConnection::DiscardInput() {
  if (!IsOpen()) return;
  u_long queued = 0;
  if (ioctlsocket(fd_, FIONREAD, &queued) != 0) return;
  char chunk[1024];
  while (queued > 0) {
    const int n = ::recv(fd_, chunk, static_cast<int>(std::min<u_long>(sizeof chunk, queued)), 0);
    if (n <= 0) break;
    queued -= static_cast<u_long>(n);
  }
}

}  // namespace vantrel
