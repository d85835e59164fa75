// The bus monitor's core over a long synthetic RTU stream: requests and replies of the common
// functions, exceptions, and a noise burst now and then, cut into reads of 1 to 64 bytes as a
// port hands them over. Prints frames a second, processor time per frame, frames lost or
// misframed (against the stream as it was built; target 0), and the resident memory at each
// quarter of the run (flat: the monitor keeps no history).
// Usage: monitor_bench [EXCHANGES]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "BenchFrames.h"
#include "modbus/ModbusFrame.h"
#include "session/BusMonitor.h"

using namespace vantrel;
using vantrel::bench::Framed;

namespace {

long RssKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Expected {
  FrameKind kind;
  std::size_t size;
};

}  // namespace

int main(int argc, char** argv) {
  const long exchanges = argc > 1 ? std::atol(argv[1]) : 300000;
  std::mt19937 rng(7);
  std::vector<std::uint8_t> stream;
  std::vector<Expected> expected;
  std::vector<double> byteMs;
  const auto add = [&](const std::vector<std::uint8_t>& bytes, FrameKind kind) {
    stream.insert(stream.end(), bytes.begin(), bytes.end());
    expected.push_back({kind, bytes.size()});
  };
  for (long i = 0; i < exchanges; ++i) {
    const auto id = static_cast<std::uint8_t>(1 + rng() % 247);
    const auto a = static_cast<std::uint8_t>(rng());
    const int count = 1 + static_cast<int>(rng() % 60);
    switch (rng() % 6) {
      case 0: case 1: {  // read holding registers
        add(Framed({id, 3, 0, a, 0, static_cast<std::uint8_t>(count)}), FrameKind::Request);
        std::vector<std::uint8_t> reply{id, 3, static_cast<std::uint8_t>(2 * count)};
        for (int k = 0; k < 2 * count; ++k) reply.push_back(static_cast<std::uint8_t>(rng()));
        add(Framed(reply), FrameKind::Reply);
        break;
      }
      case 2: {  // read coils
        add(Framed({id, 1, 0, a, 0, static_cast<std::uint8_t>(count)}), FrameKind::Request);
        std::vector<std::uint8_t> reply{id, 1, static_cast<std::uint8_t>((count + 7) / 8)};
        for (int k = 0; k < (count + 7) / 8; ++k) reply.push_back(static_cast<std::uint8_t>(rng()));
        add(Framed(reply), FrameKind::Reply);
        break;
      }
      case 3: {  // write registers and the echo
        std::vector<std::uint8_t> req{id, 16, 0, a, 0, static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(2 * count)};
        for (int k = 0; k < 2 * count; ++k) req.push_back(static_cast<std::uint8_t>(rng()));
        add(Framed(req), FrameKind::Request);
        add(Framed({id, 16, 0, a, 0, static_cast<std::uint8_t>(count)}), FrameKind::Reply);
        break;
      }
      case 4:  // write one register and the echo
        add(Framed({id, 6, 0, a, 0x12, 0x34}), FrameKind::Request);
        add(Framed({id, 6, 0, a, 0x12, 0x34}), FrameKind::Reply);
        break;
      default:  // an exception
        add(Framed({id, 4, 0xFF, a, 0, 1}), FrameKind::Request);
        add(Framed({id, 0x84, 2}), FrameKind::Exception);
        break;
    }
    if (i % 1000 == 999) add({0xFF, 0xFF, 0xFF}, FrameKind::Noise);  // a line glitch: FF is no slave id's function
  }

  BusMonitor monitor(MonitorOptions{ModbusMode::Rtu, 115200, 10, 1000});
  // Each frame is right when it starts where the stream has one of that kind and size; a
  // frame that is not counts as misframed, and the monitor's next right one shows it caught up.
  std::vector<MonitorFrame> frames;
  std::size_t offset = 0, checked = 0;
  std::size_t ei = 0, eOffset = 0;  // the first expected frame not before offset, and its start
  long misframed = 0, right = 0;
  const auto check = [&] {
    for (const MonitorFrame& f : frames) {
      while (ei < expected.size() && eOffset < offset) eOffset += expected[ei++].size;
      if (ei < expected.size() && eOffset == offset && f.kind == expected[ei].kind && f.bytes.size() == expected[ei].size) {
        ++right;
      } else if (misframed++ == 0 && std::getenv("MONITOR_BENCH_DEBUG")) {
        std::fprintf(stderr, "first misframed at byte %zu: kind %s size %zu\n", offset, FrameKindName(f.kind),
                     f.bytes.size());
      }
      offset += f.bytes.size();
      ++checked;
    }
    frames.clear();
  };
  long rss[5] = {RssKb(), 0, 0, 0, 0};
  const double cpu0 = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  double ms = 0;
  std::size_t at = 0;
  int quarter = 1;
  while (at < stream.size()) {
    const std::size_t n = std::min<std::size_t>(1 + rng() % 64, stream.size() - at);
    ms += n * 10.0 / 115.2;
    monitor.Feed(stream.data() + at, n, ms, frames);
    at += n;
    check();
    if (quarter < 5 && at >= stream.size() * quarter / 4) rss[quarter++] = RssKb();
  }
  monitor.Finish(ms + 2000, frames);
  check();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = CpuSeconds() - cpu0;
  const long lost = static_cast<long>(expected.size()) - right;
  std::printf("stream: %ld exchanges, %zu frames and noise bursts, %.1f MB\n", exchanges, expected.size(),
              stream.size() / 1e6);
  std::printf("frames a second: %.0f  (%.1f MB/s; the line at 115200 baud carries about 11.5 kB/s)\n",
              checked / wall, stream.size() / 1e6 / wall);
  std::printf("processor time per frame: %.2f us\n", cpu / checked * 1e6);
  std::printf("frames lost (not found whole): %ld  misframed: %ld\n", lost, misframed);
  std::printf("resident memory kB at 0, 1/4, 1/2, 3/4, end: %ld %ld %ld %ld %ld\n", rss[0], rss[1], rss[2], rss[3],
              rss[4]);
  return lost == 0 && misframed == 0 ? 0 : 1;
}
