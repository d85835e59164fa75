// vantrel-line-pair: a null-modem cable between two pseudo-terminals, for the Windows checks:
// a program under wine opens one end as its COM port, a Linux program the other. Prints the
// two device paths on one line, then carries bytes both ways, as they come, until SIGTERM or
// SIGINT, and for an hour at most.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "support/Pty.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

// Passes on what there is to read on from; false when from can no longer be read.
bool Carry(int from, int to) {
  unsigned char bytes[1024];
  const ssize_t n = read(from, bytes, sizeof bytes);
  if (n <= 0) return false;
  for (ssize_t sent = 0; sent < n;) {
    const ssize_t w = write(to, bytes + sent, static_cast<std::size_t>(n - sent));
    if (w <= 0) return true;  // nobody takes them: dropped, as on a wire
    sent += w;
  }
  return true;
}

}  // namespace

int main() {
  vantrel::test::Pty a;
  vantrel::test::Pty b;
  if (a.master() < 0 || b.master() < 0 || a.path().empty() || b.path().empty()) {
    std::fprintf(stderr, "vantrel-line-pair: cannot make the pseudo-terminals\n");
    return 2;
  }
  // Held open, so that either end stays readable while no program has the other.
  const int holdA = open(a.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  const int holdB = open(b.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::printf("%s %s\n", a.path().c_str(), b.path().c_str());
  std::fflush(stdout);

  const auto end = std::chrono::steady_clock::now() + std::chrono::hours(1);
  while (!g_stop && std::chrono::steady_clock::now() < end) {
    pollfd fds[2] = {{a.master(), POLLIN, 0}, {b.master(), POLLIN, 0}};
    if (poll(fds, 2, 200) < 0) continue;  // a signal: the loop's head tells
    if ((fds[0].revents & POLLIN) && !Carry(a.master(), b.master())) break;
    if ((fds[1].revents & POLLIN) && !Carry(b.master(), a.master())) break;
  }
  if (holdA >= 0) close(holdA);
  if (holdB >= 0) close(holdB);
  return 0;
}
