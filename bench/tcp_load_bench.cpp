// vantrel-slave --tcp under load: 32 clients, each on its own connection, read 125 holding
// registers again and again; replies per second, the latencies (the worst of them too), and
// the connections refused or dropped, which must be none below the 32 the simulator takes.
// Usage: tcp_load_bench [BIN_DIR [SECONDS]]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "modbus/ModbusMaster.h"
#include "net/TcpConnection.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kClients = 32;
constexpr int kRegisters = 125;

struct Tally {
  std::vector<double> latencyMs;
  int badReplies = 0;     // a reply other than the values asked for
  bool lost = false;      // refused, closed or reset
};

// One client: connects, then reads until the deadline.
void Client(int port, Clock::time_point deadline, Tally& tally) {
  vantrel::TcpConnection tcp;
  vantrel::ModbusMaster master(tcp);
  master.SetMode(vantrel::ModbusMode::Tcp);
  if (!tcp.Connect("127.0.0.1", port, 5000)) {
    tally.lost = true;
    return;
  }
  std::uint8_t frame[8];
  vantrel::BuildReadRequest(3, 1, 1, kRegisters, frame);
  while (Clock::now() < deadline) {
    const auto start = Clock::now();
    master.SendRequest(frame, 8);
    int result = vantrel::MB_RESPONCE_EMPTY;
    for (;;) {
      result = master.ReadResponse();
      if (!vantrel::ReplyPending(result)) break;
      if (master.link().WaitReadable(5000) != 1) break;
    }
    if (master.link().DeviceLost()) {
      tally.lost = true;
      return;
    }
    // holding register at offset N holds N: the last of the 125 is 125
    if (result != vantrel::MB_RESPONCE_OK || master.byte_count != 2 * kRegisters || master.data[249] != kRegisters) {
      ++tally.badReplies;
      continue;
    }
    tally.latencyMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string bin = argc > 1 ? argv[1] : "build/bin";
  const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return 1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  const std::string slave = bin + "/vantrel-slave";
  char* args[] = {const_cast<char*>(slave.c_str()), const_cast<char*>("-q"), const_cast<char*>("-a"),
                  const_cast<char*>("1"), const_cast<char*>("--tcp"), const_cast<char*>("0"), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0], &fa, nullptr, args, environ);
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  if (rc != 0) {
    std::fprintf(stderr, "cannot start %s\n", slave.c_str());
    return 1;
  }
  // "vantrel-slave: slave 1 on TCP 127.0.0.1:PORT (at most ..."
  std::string line;
  pollfd p{out[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) == 1) {
    char buf[256];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<std::size_t>(n));
  }
  close(out[0]);
  const std::size_t at = line.find(" (at most");
  const int port = at == std::string::npos ? 0 : std::atoi(line.c_str() + line.rfind(':', at) + 1);
  if (port <= 0) {
    std::fprintf(stderr, "vantrel-slave did not start: %s\n", line.c_str());
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return 1;
  }

  std::vector<Tally> tallies(kClients);
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (Tally& t : tallies) threads.emplace_back(Client, port, deadline, std::ref(t));
  for (std::thread& t : threads) t.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);

  std::vector<double> all;
  int bad = 0;
  int lost = 0;
  for (const Tally& t : tallies) {
    all.insert(all.end(), t.latencyMs.begin(), t.latencyMs.end());
    bad += t.badReplies;
    lost += t.lost ? 1 : 0;
  }
  std::sort(all.begin(), all.end());
  const auto quantile = [&](double q) { return all.empty() ? 0.0 : all[static_cast<std::size_t>(q * (all.size() - 1))]; };
  std::printf("vantrel-slave --tcp, %d clients each reading %d holding registers in a loop for %d s:\n", kClients,
              kRegisters, seconds);
  std::printf("  replies: %zu, %.0f per second; wrong replies: %d\n", all.size(), all.size() / elapsed, bad);
  std::printf("  latency: median %.3f ms, 99th percentile %.3f ms, worst %.3f ms\n", quantile(0.5), quantile(0.99),
              all.empty() ? 0.0 : all.back());
  std::printf("  connections refused or dropped below the limit: %d (target 0)\n", lost);
  return lost == 0 && bad == 0 && !all.empty() ? 0 : 1;
}
