#include "serial/PseudoTerminal.h"

// termios2 (not <termios.h>) for the far side's speed as a number, whatever rate it set;
// the two headers cannot be included together, so raw mode is made by hand.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/Platform.h"

namespace vantrel {

PseudoTerminal::~PseudoTerminal() { Close(); }

bool PseudoTerminal::Open(const std::string& link, std::string& error) {
  Close();
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    error = "cannot make a pseudo-terminal: " + platform::ErrorText(errno);
    if (master >= 0) ::close(master);
    return false;
  }
  master_ = master;
  far_ = ptsname(master);
  termios2 tio{};
  if (ioctl(master, TCGETS2, &tio) == 0) {
    // cfmakeraw's flags.
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB);
    tio.c_cflag |= CS8;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ioctl(master, TCSETS2, &tio);
  }
  hold_ = ::open(far_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (hold_ < 0) {
    error = "cannot open " + far_ + ": " + platform::ErrorText(errno);
    Close();
    return false;
  }
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = link + " exists and is not a link; not replacing it";
      Close();
      return false;
    }
    unlink(link.c_str());
  }
  if (symlink(far_.c_str(), link.c_str()) != 0) {
    error = "cannot make the link " + link + ": " + platform::ErrorText(errno);
    Close();
    return false;
  }
  link_ = link;
  return true;
}

bool PseudoTerminal::FarEnd(long& baud, int& stopBits) const {
  termios2 tio{};
  if (master_ < 0 || ioctl(master_, TCGETS2, &tio) != 0) return false;
  baud = static_cast<long>(tio.c_ospeed);
  stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
  return true;
}

int PseudoTerminal::Close() {
  if (!link_.empty()) {
    char target[4096];
    const ssize_t len = readlink(link_.c_str(), target, sizeof target - 1);
    if (len > 0 && far_.compare(0, std::string::npos, target, static_cast<std::size_t>(len)) == 0) {
      unlink(link_.c_str());
    }
    link_.clear();
  }
  if (hold_ >= 0) ::close(hold_);
  if (master_ >= 0) ::close(master_);
  hold_ = master_ = -1;
  return 1;
}

int PseudoTerminal::Write(const std::uint8_t* bytes, int count) {
  if (master_ < 0 || count <= 0) return 0;
  for (;;) {
    const ssize_t n = ::write(master_, bytes, static_cast<std::size_t>(count));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) last_error_ = errno;
    return n > 0 ? static_cast<int>(n) : 0;
  }
}

int PseudoTerminal::Read(std::uint8_t* buffer, int capacity) {
  if (master_ < 0 || capacity <= 0) return 0;
  const ssize_t n = ::read(master_, buffer, static_cast<std::size_t>(capacity));
  if (n < 0 && errno != EAGAIN && errno != EINTR) last_error_ = errno;
  return n > 0 ? static_cast<int>(n) : 0;
}

int PseudoTerminal::WaitReadable(int timeoutMs) {
  if (master_ < 0) return -1;
  pollfd p{master_, POLLIN, 0};
  const int r = ::poll(&p, 1, timeoutMs);
  if (r < 0 && errno == EINTR) return 0;
  if (r < 0) {
    last_error_ = errno;
    return -1;
  }
  return r > 0 ? 1 : 0;
}

void PseudoTerminal::DiscardInput() {
  std::uint8_t junk[256];
  while (Read(junk, sizeof junk) > 0) {
  }
}

}  // namespace vantrel
