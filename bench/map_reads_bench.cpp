// Reading by map against vantrel-slave at 115200 baud on a pseudo-terminal: a map of 200
// items over three tables (runs of adjacent items, small gaps, runs far apart), read by a
// line session driven as vantrel-poll drives it (poll(2) on the link). Prints the requests
// a cycle takes and the time of a cycle, merged (gap 8, and gap 0) against one request an
// item (each item a definition of its own, served in turn on the line), and whether every
// value read is the one the simulator serves.
// Usage: map_reads_bench [BIN_DIR [CYCLES]]
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSlave.h"
#include "session/LineSession.h"

using namespace vantrel;
using vantrel::bench::StartSlave;
using vantrel::bench::StopSlave;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kBaud = 115200;

// 200 items: holding registers in 10 runs of 10, input registers in 6 runs of 10, coils in
// 4 runs of 10. Within a run the gaps before the items go 0 1 0 3 0 0 2 5 0 1 (registers
// or bits no item needs); the runs lie far apart. The request that starts each run keeps
// clear of the simulator's fault offsets (9001 to 9032).
RegisterMap BenchMap() {
  const int gaps[] = {0, 1, 0, 3, 0, 0, 2, 5, 0, 1};
  const MapType registerTypes[] = {MapType::Uint16, MapType::Uint32, MapType::Float32, MapType::Int16,
                                   MapType::Uint16};
  RegisterMap map;
  const auto run = [&](MapTable table, int start, const char* prefix, int runNumber) {
    int address = start;
    for (int k = 0; k < 10; ++k) {
      MapItem item;
      item.name = std::string(prefix) + std::to_string(runNumber) + "_" + std::to_string(k);
      item.table = table;
      address += gaps[k];
      item.address = address;
      item.type = IsBitTable(table) ? MapType::Bool : registerTypes[(runNumber + k) % 5];
      address += item.Span();
      map.items.push_back(item);
    }
  };
  for (int r = 0; r < 10; ++r) run(MapTable::Holding, 100 + 1500 * r, "h", r);
  for (int r = 0; r < 6; ++r) run(MapTable::Input, 300 + 5000 * r, "i", r);
  for (int r = 0; r < 4; ++r) run(MapTable::Coil, 20 + 700 * r, "c", r);
  return map;
}

// What the simulator serves by default at an item's registers (offset N counted from 1):
// holding N, input 10 N, a coil 1 at even addresses counted from 0.
bool ServedValues(const MapItem& item, const std::vector<std::uint16_t>& raw) {
  if (IsBitTable(item.table)) {
    return raw == std::vector<std::uint16_t>{static_cast<std::uint16_t>((item.address - 1) % 2 == 0)};
  }
  if (static_cast<int>(raw.size()) != item.Span()) return false;
  for (int k = 0; k < item.Span(); ++k) {
    const int n = item.address + k;
    const auto served = static_cast<std::uint16_t>(item.table == MapTable::Holding ? n : 10 * n);
    if (raw[static_cast<std::size_t>(k)] != served) return false;
  }
  return true;
}

class Runner final : public LineObserver {
 public:
  Runner(Line& line, const std::string& device) : session_(line, *this) {
    LineConnection c;
    c.device = device;
    c.baud = kBaud;
    c.timeoutMs = 1000;
    session_.SetConnection(c);
  }
  LineSession& session() { return session_; }

  // Polls every definition once and drives the session until each has told its values (or
  // failed): the time that took.
  double Cycle() {
    told_ = 0;
    session_.StartAll();
    const auto t0 = Clock::now();
    while (told_ < session_.Count()) {
      const TimePoint wake = session_.NextWake();
      const int handle = session_.WatchHandle();
      if (handle < 0 && wake == TimePoint::max()) break;
      int waitMs = -1;
      if (wake != TimePoint::max()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(wake - SessionClock::now()).count();
        waitMs = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
      }
      pollfd watched{handle, POLLIN, 0};
      if (::poll(&watched, 1, waitMs) > 0) session_.LinkReadable();
      if (SessionClock::now() >= session_.NextWake()) session_.TimePassed();
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  }

  // Items whose values were read as the simulator serves them, in the last cycle.
  int right = 0;
  int failures = 0;

  void OnLog(int, const std::string&) override {}
  void OnReply(int, const ModbusMaster&) override {}
  void OnMapValues(int poll, const MapReading& reading) override {
    const RegisterMap& map = session_.Definition(poll).map;
    for (std::size_t i = 0; i < map.items.size(); ++i) right += ServedValues(map.items[i], reading.raw[i]) ? 1 : 0;
    ++told_;
  }
  void OnPollFailed(int, const LineFailure& f) override {
    ++failures;
    ++told_;
    std::fprintf(stderr, "failed: %s\n", f.text.c_str());
  }
  void OnWriteFailed(int, const WriteFrame&, const LineFailure&) override {}
  void OnConnectFailed(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }

 private:
  LineSession session_;
  int told_ = 0;
};

// Bytes on the wire a cycle of these requests takes in RTU: each request 8, each reply 5
// and its data.
long WireBytes(const std::vector<MapRequest>& plan) {
  long bytes = 0;
  for (const MapRequest& r : plan) bytes += 8 + 5 + (IsBitTable(r.table) ? (r.count + 7) / 8 : 2 * r.count);
  return bytes;
}

struct Figures {
  long requests = 0;
  long wireBytes = 0;
  double meanMs = 0, minMs = 0, maxMs = 0;
  int right = 0;
  int failures = 0;
};

// Reads the map by cycles of the definitions given, cycles times; the first cycle (the port
// opening, the plan made) is not counted.
Figures Measure(const std::string& device, const std::vector<PollDefinition>& definitions, int cycles) {
  Line line;
  Runner runner(line, device);
  if (runner.session().Connect() != LineSession::OpenResult::Open) return {};
  Figures f;
  for (const PollDefinition& d : definitions) {
    runner.session().Add(d);
    const std::vector<MapRequest> plan = PlanMapReads(d.map, d.mergeGap);
    f.requests += static_cast<long>(plan.size());
    f.wireBytes += WireBytes(plan);
  }
  runner.Cycle();
  std::vector<double> times;
  for (int c = 0; c < cycles; ++c) {
    runner.right = 0;
    times.push_back(runner.Cycle());
  }
  f.right = runner.right;
  f.failures = runner.failures;
  double sum = 0;
  for (double t : times) sum += t;
  f.meanMs = times.empty() ? 0 : sum / static_cast<double>(times.size());
  f.minMs = times.empty() ? 0 : *std::min_element(times.begin(), times.end());
  f.maxMs = times.empty() ? 0 : *std::max_element(times.begin(), times.end());
  const long polls = static_cast<long>(runner.session().LineStatistics().polls());
  // The session's own count agrees with the plan: each request one poll.
  if (polls != f.requests * (cycles + 1)) {
    std::printf("  (the session sent %ld requests, not %ld)\n", polls, f.requests * (cycles + 1));
  }
  return f;
}

void Print(const char* what, const Figures& f, int items) {
  // 10 bits a character: start, 8 data, stop.
  const double wireMs = static_cast<double>(f.wireBytes) * 10 * 1000.0 / kBaud;
  std::printf("  %-34s %4ld requests a cycle, %6ld bytes (%6.1f ms on the wire); cycle %7.1f ms (%.1f to %.1f); "
              "%d/%d values right, %d failures\n",
              what, f.requests, f.wireBytes, wireMs, f.meanMs, f.minMs, f.maxMs, f.right, items, f.failures);
}

}  // namespace

int main(int argc, char** argv) {
  char* real = realpath(argc > 1 ? argv[1] : "build/bin", nullptr);
  if (real == nullptr) {
    std::fprintf(stderr, "map_reads_bench: no folder %s\n", argc > 1 ? argv[1] : "build/bin");
    return 2;
  }
  const std::string bin = real;
  std::free(real);
  const int cycles = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  char pattern[] = "/tmp/vantrel-map-bench-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (made == nullptr) return 2;
  const std::string dir = made;
  const pid_t slave = StartSlave(bin, dir, {"-a", "1", "-b", std::to_string(kBaud)});
  if (slave <= 0) {
    std::fprintf(stderr, "map_reads_bench: vantrel-slave did not start\n");
    return 2;
  }

  const RegisterMap map = BenchMap();
  const int items = static_cast<int>(map.items.size());
  PollDefinition d;
  d.slaveId = 1;
  d.byMap = true;
  d.map = map;
  std::printf("reading a map of %d items (100 holding, 60 input registers, 40 coils) at %d baud, %d cycles each\n",
              items, kBaud, cycles);
  d.mergeGap = 8;
  Print("merged, gap 8:", Measure(dir + "/COM3", {d}, cycles), items);
  d.mergeGap = 0;
  Print("merged, gap 0:", Measure(dir + "/COM3", {d}, cycles), items);
  // One request an item: each item a definition of its own, all due at once, served in turn.
  std::vector<PollDefinition> single;
  for (const MapItem& item : map.items) {
    PollDefinition one = d;
    one.map.items = {item};
    single.push_back(one);
  }
  Print("one request an item:", Measure(dir + "/COM3", single, std::max(1, cycles / 4)), items);

  StopSlave(slave);
  std::string cmd = "rm -rf '" + dir + "'";
  return std::system(cmd.c_str()) == 0 ? 0 : 1;
}
