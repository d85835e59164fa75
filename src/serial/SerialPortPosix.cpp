#include "serial/SerialPort.h"

#include "serial/LineSettings.h"
#include "serial/PortMap.h"

// termios2 (not <termios.h>) so that any baud rate can be set with BOTHER.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vantrel {
namespace {

constexpr int kByteWaitMs = 1000;    // longest wait for room on the line
constexpr int kWriteTotalMs = 5000;  // longest time one Write may take

bool IsGoneError(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EBADF; }

}  // namespace

bool ComputeLineSettings(termios2& tio, int baudRate, char parity, int dataBits, int stopBits) {
  tcflag_t size = 0;
  switch (dataBits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: errno = EINVAL; return false;
  }
  tcflag_t parityFlags = 0;
  switch (std::toupper(static_cast<unsigned char>(parity))) {
    case 'N': break;
    case 'O': parityFlags = PARENB | PARODD; break;
    case 'E': parityFlags = PARENB; break;
    case 'M': parityFlags = PARENB | CMSPAR | PARODD; break;  // sticky parity bit 1
    case 'S': parityFlags = PARENB | CMSPAR; break;           // sticky parity bit 0
    default: errno = EINVAL; return false;
  }
  if (stopBits != 1 && stopBits != 2 && stopBits != 3) { errno = EINVAL; return false; }
  if (baudRate <= 0) { errno = EINVAL; return false; }

  // Raw mode, as cfmakeraw does, with the receiver on and modem lines ignored.
  tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                   IXANY | INPCK | IGNPAR);
  if (parityFlags != 0) tio.c_iflag |= INPCK;
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= size | parityFlags | CLOCAL | CREAD | BOTHER | (BOTHER << IBSHIFT);
  if (stopBits != 1) tio.c_cflag |= CSTOPB;  // one and a half has no termios form
  tio.c_ispeed = static_cast<speed_t>(baudRate);
  tio.c_ospeed = static_cast<speed_t>(baudRate);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  return true;
}

namespace {

// Applies raw mode and the line settings; false (errno set) when a value is refused.
bool ApplyLineSettings(int fd, int baudRate, char parity, int dataBits, int stopBits) {
  termios2 tio{};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  if (!ComputeLineSettings(tio, baudRate, parity, dataBits, stopBits)) return false;
  if (ioctl(fd, TCSETS2, &tio) != 0) return false;

  // A driver that cannot make the rate picks another one silently; more than 3 % off and
  // the characters no longer frame, so refuse it.
  termios2 check{};
  if (ioctl(fd, TCGETS2, &check) != 0) return false;
  const long got = static_cast<long>(check.c_ospeed);
  if (got > 0 && std::labs(got - baudRate) * 100 > 3L * baudRate) {
    errno = EINVAL;
    return false;
  }
  return true;
}

long long MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

}  // namespace

void SerialPort::NoteFailure(int err) {
  last_error_ = err;
  if (IsGoneError(err)) device_lost_ = true;
}

int SerialPort::OpenPath(const std::string& device, int baudRate, char parity, int dataBits,
                         int stopBits) {
  device_ = device;
  last_error_ = 0;
  device_lost_ = false;
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    last_error_ = errno;
    return 0;
  }
  // TIOCEXCL keeps other programs out, but not root; the lock covers that case.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    last_error_ = (errno == EWOULDBLOCK) ? EBUSY : errno;
    ::close(fd);
    return 0;
  }
  if (ioctl(fd, TIOCEXCL) != 0 || !ApplyLineSettings(fd, baudRate, parity, dataBits, stopBits)) {
    last_error_ = errno;
    ::close(fd);
    return 0;
  }
  ioctl(fd, TCFLSH, TCIOFLUSH);
  if (listen_only_) {
    // Not an error on a line without modem lines (ENOTTY, EINVAL): there is nothing to drive.
    int lines = TIOCM_RTS | TIOCM_DTR;
    ioctl(fd, TIOCMBIC, &lines);
  }
  SetTiming(baudRate, parity, dataBits, stopBits);
  handle_ = fd;
  is_open = 1;
  return 1;
}

int SerialPort::Handle() const { return is_open ? handle_ : -1; }

int SerialPort::Close() {
  if (!is_open || handle_ < 0) return 1;
  ioctl(handle_, TIOCNXCL);
  ::close(handle_);  // also releases the lock
  handle_ = -1;
  is_open = 0;
  return 1;
}

int SerialPort::SetRs485(bool on) {
  if (!is_open || handle_ < 0 || listen_only_) return 0;
  serial_rs485 conf{};
  if (on) conf.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  if (ioctl(handle_, TIOCSRS485, &conf) != 0) {
    last_error_ = errno;
    return 0;
  }
  // A driver may take the request and keep its own mode; only what it reports counts.
  serial_rs485 now{};
  if (ioctl(handle_, TIOCGRS485, &now) != 0) {
    last_error_ = errno;
    return 0;
  }
  if (((now.flags & SER_RS485_ENABLED) != 0) != on || (on && (now.flags & SER_RS485_RTS_ON_SEND) == 0)) {
    last_error_ = EOPNOTSUPP;
    return 0;
  }
  return 1;
}

int SerialPort::Write(const std::uint8_t* bytes, int count) {
  if (!is_open || handle_ < 0 || listen_only_) return 0;
  if (count <= 0 || bytes == nullptr) return 0;
  const auto start = std::chrono::steady_clock::now();
  int done = 0;
  while (done < count) {
    const ssize_t n = ::write(handle_, bytes + done, static_cast<size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      NoteFailure(errno);
      break;
    }
    const long long left = kWriteTotalMs - MsSince(start);
    if (left <= 0) {
      NoteFailure(ETIMEDOUT);
      break;
    }
    pollfd p{handle_, POLLOUT, 0};
    const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(kByteWaitMs, left)));
    if (r == 0) {
      NoteFailure(ETIMEDOUT);  // the line takes nothing: the rest of the frame is dropped
      break;
    }
    if (r < 0 && errno != EINTR) {
      NoteFailure(errno);
      break;
    }
  }
  return count;
}

int SerialPort::Read(std::uint8_t* buffer, int capacity) {
  if (!is_open || handle_ < 0 || buffer == nullptr || capacity <= 0) return 0;
  int queued = 0;
  if (ioctl(handle_, FIONREAD, &queued) != 0) {
    NoteFailure(errno);
    return 0;
  }
  if (queued <= 0) {
    // Nothing queued may also mean nobody is there any more: a hung-up line or a
    // pseudo-terminal whose other end closed reports it only through poll.
    pollfd p{handle_, POLLIN, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) NoteFailure(EIO);
    return 0;
  }
  const int want = queued < capacity ? queued : capacity;
  ssize_t n;
  do {
    n = ::read(handle_, buffer, static_cast<size_t>(want));
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    if (errno != EAGAIN) NoteFailure(errno);
    return 0;
  }
  return static_cast<int>(n);
}

int SerialPort::WaitReadable(int timeoutMs) {
  if (!is_open || handle_ < 0) return -1;
  pollfd p{handle_, POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  if (r < 0) {
    NoteFailure(errno);
    return -1;
  }
  if (r == 0) return 0;
  int queued = 0;
  if (ioctl(handle_, FIONREAD, &queued) != 0) {
    NoteFailure(errno);
    return -1;
  }
  if (queued > 0) return 1;
  if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
    NoteFailure(EIO);
    return -1;
  }
  return 0;
}

void SerialPort::DiscardInput() {
  if (is_open && handle_ >= 0) ioctl(handle_, TCFLSH, TCIFLUSH);
}

}  // namespace vantrel
