// vantrel-libmodbus-server: the libmodbus Modbus TCP server of the tests as a program of its
// own, for the benchmarks and for trying the poller against code nobody here wrote. Its map is
// LibmodbusSlave's; it serves one connection at a time until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/LibmodbusSlave.h"

int main(int argc, char** argv) {
  int port = 0;
  if (argc == 3 && std::strcmp(argv[1], "--port") == 0) {
    port = std::atoi(argv[2]);
  } else if (argc != 1) {
    std::fprintf(stderr, "Usage: vantrel-libmodbus-server [--port PORT]   (default: a free port, printed)\n");
    return 2;
  }
  // The signals are taken by sigwait below, not by the server's thread.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  vantrel::test::LibmodbusSlave server(vantrel::test::LibmodbusSlave::Tcp{port});
  if (server.port() == 0) {
    std::fprintf(stderr, "vantrel-libmodbus-server: cannot listen on 127.0.0.1 port %d\n", port);
    return 1;
  }
  std::printf("Listening on 127.0.0.1:%d\n", server.port());
  std::fflush(stdout);
  int signal = 0;
  sigwait(&stop, &signal);
  return 0;
}
