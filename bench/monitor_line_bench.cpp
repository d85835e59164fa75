// vantrel-poll --monitor on a real line for a long run: a master that polls as fast as the
// line allows (reads of every table, writes, exceptions, device identification) through a
// relay paced at the baud rate to vantrel-slave, with the monitor on the relay's third
// pseudo-terminal writing JSON lines and a pcap file as it goes. Prints the frames carried,
// the frames the monitor lost or misframed against what the master sent and received
// (target 0), the monitor's processor time per frame, and its resident memory at each tenth
// of the run (flat: it keeps no history).
// Usage: monitor_line_bench BIN_DIR [SECONDS] [BAUD]
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "modbus/DeviceIdentification.h"
#include "BenchFrames.h"
#include "modbus/ModbusFrame.h"
#include "support/LineRelay.h"
#include "support/Process.h"
#include "support/TempDir.h"

using namespace vantrel;
using vantrel::bench::Framed;
using Clock = std::chrono::steady_clock;

namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (const std::uint8_t b : bytes) {
    if (!s.empty()) s += ' ';
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

// The size of the RTU reply that starts with these bytes; 0 while not known.
std::size_t ReplySize(const std::vector<std::uint8_t>& r) {
  if (r.size() < 3) return 0;
  if (r[1] & 0x80) return 5;
  switch (r[1]) {
    case 1: case 2: case 3: case 4: return 5u + r[2];
    case 5: case 6: case 15: case 16: return 8;
    case kEncapsulatedInterface: {
      const int pdu = DeviceIdReplySize(r.data() + 1, static_cast<int>(r.size()) - 1);
      return pdu > 0 ? static_cast<std::size_t>(pdu) + 3 : 0;
    }
    default: return 0;
  }
}

// Sends a request and takes the reply whole; empty when none came within 300 ms.
std::vector<std::uint8_t> Exchange(int fd, const std::vector<std::uint8_t>& request) {
  if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return {};
  std::vector<std::uint8_t> reply;
  const auto end = Clock::now() + std::chrono::milliseconds(300);
  while (Clock::now() < end) {
    const std::size_t want = ReplySize(reply);
    if (want != 0 && reply.size() >= want) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    std::uint8_t buf[512];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) reply.insert(reply.end(), buf, buf + n);
  }
  return reply;
}

// One request of the mix: what a busy SCADA asks of its devices.
std::vector<std::uint8_t> NextRequest(std::mt19937& rng) {
  const auto hi = [](int v) { return static_cast<std::uint8_t>(v >> 8); };
  const auto lo = [](int v) { return static_cast<std::uint8_t>(v & 0xFF); };
  const int address = static_cast<int>(rng() % 1000);  // clear of the simulator's fault offsets
  const int count = 1 + static_cast<int>(rng() % 40);
  switch (rng() % 10) {
    case 0: return Framed({1, 1, hi(address), lo(address), 0, lo(count * 8)});
    case 1: return Framed({1, 2, hi(address), lo(address), 0, lo(count)});
    case 2: return Framed({1, 4, hi(address), lo(address), 0, lo(count)});
    case 3: return Framed({1, 6, hi(address), lo(address), hi(count * 7), lo(count * 7)});
    case 4: {
      std::vector<std::uint8_t> f{1, 16, hi(address), lo(address), 0, lo(count % 10 + 1),
                                  static_cast<std::uint8_t>(2 * (count % 10 + 1))};
      for (int i = 0; i < count % 10 + 1; ++i) f.insert(f.end(), {hi(i), lo(i)});
      return Framed(f);
    }
    case 5: return Framed({1, 5, hi(address), lo(address), (count & 1) ? std::uint8_t{0xFF} : std::uint8_t{0}, 0});
    case 6: return Framed({1, 15, hi(address), lo(address), 0, 9, 2, lo(count), 1});
    case 7: return rng() % 8 == 0 ? Framed({1, 0x2B, 0x0E, 1, 0})                 // device identification
                                  : Framed({1, 3, 0x23, 0x29, 0, 1});              // offset 9002: exception 02
    default: return Framed({1, 3, hi(address), lo(address), 0, lo(count)});
  }
}

long RssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {  // field 3 is the state
    if (i == 14) utime = std::stoull(field);
    if (i == 15) {
      stime = std::stoull(field);
      break;
    }
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Frames in a pcap file: its records, each behind a 16-byte header.
long PcapRecords(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(24);
  long records = 0;
  std::uint32_t header[4];
  while (in.read(reinterpret_cast<char*>(header), sizeof header)) {
    in.seekg(header[2], std::ios::cur);
    ++records;
  }
  return records;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: monitor_line_bench BIN_DIR [SECONDS] [BAUD]\n");
    return 2;
  }
  char* real = realpath(argv[1], nullptr);  // the programs start in a folder of their own
  const std::string bin = real != nullptr ? real : argv[1];
  std::free(real);
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 600;
  const int baud = argc > 3 ? std::atoi(argv[3]) : 115200;
  test::TempDir dir;
  test::SlaveProcess slave(dir.path(), "COM3", {"-a", "1", "-q", "--no-pacing"});
  test::LineRelay relay(slave.linkPath(), baud);
  if (!slave.ready() || !relay.ok()) {
    std::fprintf(stderr, "the simulator or the relay did not start\n");
    return 1;
  }
  const std::string json = dir / "monitor.json", pcap = dir / "monitor.pcap";
  test::BackgroundProcess monitor({bin + "/vantrel-poll", "--monitor", "--json", "--pcap", pcap, "-b",
                                   std::to_string(baud), relay.monitorPath()},
                                  dir.path(), {}, json);
  for (int i = 0; i < 250 && test::ReadFile(json).find("listening on") == std::string::npos; ++i) usleep(20000);
  if (!monitor.Running()) {  // nobody would drain the relay's third terminal
    std::fprintf(stderr, "the monitor did not start: %s\n", test::ReadFile(json).c_str());
    return 1;
  }

  const int fd = open(relay.masterPath().c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);

  std::mt19937 rng(11);
  struct Frame {
    std::string hex;
    bool request;
  };
  std::vector<Frame> sent;  // every frame the master sent and received, in line order
  long unanswered = 0;
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(seconds);
  auto nextSample = start;
  int tenth = 0;
  std::printf("%-8s %12s %14s\n", "elapsed", "frames", "monitor RSS");
  while (Clock::now() < end) {
    if (Clock::now() >= nextSample) {
      std::printf("%6d s %12zu %11ld kB\n", tenth * seconds / 10, sent.size(), RssKb(monitor.pid()));
      std::fflush(stdout);
      nextSample = start + std::chrono::milliseconds(1000LL * seconds * ++tenth / 10);
    }
    const std::vector<std::uint8_t> request = NextRequest(rng);
    sent.push_back({Hex(request), true});
    const std::vector<std::uint8_t> reply = Exchange(fd, request);
    if (reply.empty()) {
      ++unanswered;
    } else {
      sent.push_back({Hex(reply), false});
    }
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  relay.WaitQuiet(500, 10000);
  usleep(300000);  // the monitor's last reads
  std::printf("%6d s %12zu %11ld kB\n", seconds, sent.size(), RssKb(monitor.pid()));
  const double cpu = CpuSeconds(monitor.pid());
  monitor.Kill();
  close(fd);

  // The monitor's frames against the master's, one for one.
  long seen = 0, matched = 0, misframed = 0, kinds = 0;
  std::ifstream lines(json);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] != '{') continue;
    const nlohmann::json frame = nlohmann::json::parse(line);
    const std::string hex = frame.value("hex", "");
    const std::string kind = frame.value("kind", "");
    if (kind == "noise") ++misframed;
    const std::size_t at = static_cast<std::size_t>(seen);
    if (at < sent.size() && hex == sent[at].hex) {
      ++matched;
      if (sent[at].request != (kind == "request")) ++kinds;
    } else if (kind != "noise") {
      ++misframed;
    }
    ++seen;
  }
  const long carried = static_cast<long>(sent.size());
  std::printf("%.0f s at %d baud: %ld frames carried (%.0f a second), %ld requests unanswered\n", wall, baud,
              carried, carried / wall, unanswered);
  std::printf("monitor: %ld frames, %ld lost, %ld misframed, %ld of the wrong kind; pcap %ld records\n", seen,
              carried - matched, misframed, kinds, PcapRecords(pcap));
  std::printf("monitor processor time: %.2f s, %.1f us a frame, %.2f %% of one core\n", cpu,
              seen > 0 ? 1e6 * cpu / static_cast<double>(seen) : 0.0, 100.0 * cpu / wall);
  return matched == carried && misframed == 0 ? 0 : 1;
}
