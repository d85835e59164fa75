#include "support/LineRelay.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <deque>

namespace vantrel::test {
namespace {

long long NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

int OpenRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);  // no echo, no line editing: the bytes as they are
  tcsetattr(fd, TCSANOW, &t);
  return fd;
}

void WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w > 0) {
      p += w;
      n -= static_cast<std::size_t>(w);
    } else if (w < 0 && errno == EAGAIN) {
      usleep(100);
    } else if (!(w < 0 && errno == EINTR)) {
      return;
    }
  }
}

}  // namespace

LineRelay::LineRelay(const std::string& slaveDevice, int baud, int bitsPerChar)
    : charNs_(1000000000LL * bitsPerChar / baud) {
  slavePty_.CloseMaster();
  slaveFd_ = OpenRaw(slaveDevice);
  Start();
}

LineRelay::LineRelay(int baud, int bitsPerChar) : charNs_(1000000000LL * bitsPerChar / baud) {
  slaveFd_ = OpenRaw(slavePty_.path());
  Start();
}

void LineRelay::Start() {
  holdMaster_ = OpenRaw(master_.path());
  holdMonitor_ = OpenRaw(monitor_.path());
  for (int fd : {master_.master(), monitor_.master()}) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  lastCarriedNs_ = NowNs();
  if (ok()) thread_ = std::thread([this] { Loop(); });
}

LineRelay::~LineRelay() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  for (int fd : {slaveFd_, holdMaster_, holdMonitor_}) {
    if (fd >= 0) close(fd);
  }
}

std::vector<std::uint8_t> LineRelay::Carried() {
  std::lock_guard<std::mutex> hold(lock_);
  return carried_;
}

bool LineRelay::WaitQuiet(int quietMs, int withinMs) {
  const long long end = NowNs() + withinMs * 1000000LL;
  while (NowNs() < end) {
    if (NowNs() - lastCarriedNs_ >= quietMs * 1000000LL) return true;
    usleep(5000);
  }
  return false;
}

void LineRelay::Loop() {
  // What one read took from a side goes on as one write once the wire has carried its last
  // byte: paced at the baud rate, yet never cut where the sender did not cut it, since a
  // scheduling pause in the middle of a frame would look to the slave like the silence that
  // ends one.
  struct Chunk {
    long long dueNs;
    std::vector<std::uint8_t> bytes;
    bool toSlave;
  };
  std::deque<Chunk> wire;
  long long busFreeNs = 0;
  std::uint8_t buf[512];
  while (!stop_) {
    const long long now = NowNs();
    long long waitNs = 5000000;  // look at stop_ now and then
    if (!wire.empty()) waitNs = std::max(0LL, std::min(waitNs, wire.front().dueNs - now));
    pollfd fds[2] = {{master_.master(), POLLIN, 0}, {slaveFd_, POLLIN, 0}};
    const timespec timeout{0, static_cast<long>(waitNs)};
    ppoll(fds, 2, &timeout, nullptr);
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) continue;
      // One direction at a time: the bytes start once the bus is free, a character time each.
      busFreeNs = std::max(busFreeNs, NowNs()) + n * charNs_;
      wire.push_back({busFreeNs, {buf, buf + n}, i == 0});
    }
    const long long t = NowNs();
    while (!wire.empty() && wire.front().dueNs <= t) {
      const Chunk& c = wire.front();
      WriteAll(c.toSlave ? slaveFd_ : master_.master(), c.bytes.data(), c.bytes.size());
      WriteAll(monitor_.master(), c.bytes.data(), c.bytes.size());
      {
        std::lock_guard<std::mutex> hold(lock_);
        carried_.insert(carried_.end(), c.bytes.begin(), c.bytes.end());
      }
      wire.pop_front();
      lastCarriedNs_ = NowNs();
    }
  }
}

}  // namespace vantrel::test
