// vantrel-slave: a Modbus RTU slave on a pseudo-terminal, for trying the program and the
// poller without a device, and for the tests.
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "SlaveCore.h"
#include "serial/SerialPort.h"

using namespace vantrel::slave;

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

const char kUsage[] =
    "Usage: vantrel-slave [options] LINK\n"
    "\n"
    "Serves Modbus RTU functions 01 to 06, 15 and 16 for one slave id on a pseudo-terminal\n"
    "and makes LINK (for example ./COM3) a symbolic link to it, so that\n"
    "vantrel-modbus-scanner (as port 3, when started in this folder) and vantrel-poll open\n"
    "it like a serial port. Every request and reply is logged in hex on standard error,\n"
    "a write's request with what it changed. Stop it with Ctrl+C; the link is removed.\n"
    "\n"
    "Options:\n"
    "  -a, --id ID          slave id to answer (1 to 247, default 11, the program's\n"
    "                       default)\n"
    "  -b, --baud BAUD      line speed at which replies are paced, one character time per\n"
    "                       byte (default 9600); requests are also taken as having\n"
    "                       needed their transmission time\n"
    "  -d, --data-bits 7|8  character framing used for the pacing (default 8)\n"
    "  -P, --parity P       none, even, odd, mark or space (default none)\n"
    "  -s, --stop-bits 1|2  (default 1)\n"
    "      --no-pacing      reply as fast as possible\n"
    "  -i, --image FILE     load values from FILE over the default pattern\n"
    "      --save FILE      on exit (Ctrl+C, SIGTERM, SIGHUP) write the values that differ\n"
    "                       from the default pattern to FILE, for -i FILE next time\n"
    "      --read-only      answer every write with exception 01\n"
    "  -f, --fault SPEC     apply a fault to every reply (see below)\n"
    "      --fault-at OFFSET=SPEC\n"
    "                       apply a fault to requests starting at OFFSET (repeatable)\n"
    "      --no-fault-offsets\n"
    "                       switch off the built-in fault offsets below\n"
    "  -q, --quiet          do not log frames\n"
    "  -h, --help           show this text\n"
    "\n"
    "Default values (a = 0-based address; offsets count from 1 as in the program):\n"
    "  coils              1 when a is even: 1 0 1 0 ...\n"
    "  discrete inputs    1 when a is a multiple of 3: 1 0 0 1 0 0 ...\n"
    "  holding registers  a + 1, so offset N reads N\n"
    "  input registers    (a + 1) * 10, so offset N reads 10 N (modulo 65536)\n"
    "\n"
    "Image file: one value per line, '#' starts a comment:\n"
    "  TABLE ADDRESS[-LAST] [TYPE] VALUE\n"
    "  TABLE is coil, discrete, holding or input; ADDRESS is 0-based (decimal or 0x hex);\n"
    "  TYPE is u16 (default) or i16, or u32, i32 or float, which fill two registers with\n"
    "  the low-order word first, as the program pairs them. Examples:\n"
    "    holding 0 1234\n"
    "    holding 10-19 0xBEEF\n"
    "    input 20 float 3.5\n"
    "    coil 7 1\n"
    "\n"
    "Fault SPEC: exception=N (exception code N), bad-crc, silence, delay=MS, split=MS\n"
    "(the reply in two halves with a pause), garbage (bytes that are no Modbus frame),\n"
    "wrong-id (another slave id), function=N (function code N in the reply), noise (a\n"
    "stray byte before the reply), short (a read reply one register or byte of coils too\n"
    "few), echo (a write reply naming the next address).\n"
    "\n"
    "Built-in fault offsets, whatever the function (the request's first offset):\n"
    "  9001..9011  exception 01..0B       9024  garbage\n"
    "  9020        bad CRC                9025  another slave id\n"
    "  9021        silence                9026  function code 0x66\n"
    "  9022        delay of 500 ms        9027  function code 0x05\n"
    "  9023        split, 300 ms pause    9028  function code 0x00\n"
    "                                     9029  write reply echoing the next address\n"
    "\n"
    "A write changes the values only when its correct reply is sent (also delayed, split\n"
    "or after noise); a refused or otherwise faulted write changes nothing.\n"
    "\n"
    "An unsupported function gets exception 01, a bad quantity, byte count or coil value\n"
    "exception 03, and a range beyond address 65535 exception 02. Requests with a bad CRC\n"
    "or for another slave id get no reply, as on a real line; a broadcast (id 0) write is\n"
    "applied by the same rule, unanswered.\n";

long long NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

void SleepUntilNs(long long when) {
  timespec t{static_cast<time_t>(when / 1000000000LL), static_cast<long>(when % 1000000000LL)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR && !g_stop) {
  }
}

bool g_quiet = false;

void Log(const char* arrow, const std::uint8_t* bytes, std::size_t size, const char* note = "") {
  if (g_quiet) return;
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  tm local{};
  localtime_r(&t.tv_sec, &local);
  std::fprintf(stderr, "[%02d:%02d:%02d.%03ld] %s %s%s\n", local.tm_hour, local.tm_min,
               local.tm_sec, t.tv_nsec / 1000000, arrow, Hex(bytes, size).c_str(), note);
}

// Writes the bytes one character time apart, each arriving when a UART would have
// finished sending it. Bytes the other side cannot take (nobody reading) are dropped.
void PacedWrite(int fd, const std::uint8_t* bytes, std::size_t size, long long charNs) {
  const long long start = NowNs();
  std::size_t sent = 0;
  while (sent < size && !g_stop) {
    std::size_t due = size;
    if (charNs > 0) {
      const long long elapsed = NowNs() - start;
      due = std::min<std::size_t>(size, static_cast<std::size_t>(elapsed / charNs));
      if (due <= sent) {
        SleepUntilNs(start + static_cast<long long>(sent + 1) * charNs);
        continue;
      }
    }
    const ssize_t n = write(fd, bytes + sent, due - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

void Serve(int fd, SlaveCore& core, const std::vector<std::uint8_t>& frame,
           long long firstByteNs, long long charNs) {
  // The request took its own transmission time on a real line.
  SleepUntilNs(firstByteNs + static_cast<long long>(frame.size()) * charNs);
  std::string change;
  const auto reply = core.Answer(frame.data(), frame.size(), &change);
  std::string note;
  if (!change.empty()) {
    note = "  (" + change + (reply ? ")" : "; no reply)");
  } else if (!reply) {
    note = "  (no reply)";
  }
  Log("->", frame.data(), frame.size(), note.c_str());
  if (!reply) return;
  if (reply->delayMs > 0) SleepUntilNs(NowNs() + reply->delayMs * 1000000LL);
  const auto& b = reply->bytes;
  if (reply->splitAt > 0) {
    PacedWrite(fd, b.data(), reply->splitAt, charNs);
    SleepUntilNs(NowNs() + reply->splitPauseMs * 1000000LL);
    PacedWrite(fd, b.data() + reply->splitAt, b.size() - reply->splitAt, charNs);
  } else {
    PacedWrite(fd, b.data(), b.size(), charNs);
  }
  Log("<-", b.data(), b.size());
}

bool ParseInt(const char* text, long low, long high, long& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtol(text, &end, 0);
  return errno == 0 && end != text && *end == '\0' && out >= low && out <= high;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "vantrel-slave: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  long id = 11, baud = 9600, dataBits = 8, stopBits = 1;  // the program's default request
  int parityBits = 0;
  const char* parityName = "none";
  bool pacing = true, faultOffsets = true, readOnly = false;
  std::string imagePath, savePath;
  Fault every;
  std::map<int, Fault> extraFaults;

  enum { kNoPacing = 1000, kFaultAt, kNoFaultOffsets, kSave, kReadOnly };
  static const option longOptions[] = {
      {"id", required_argument, nullptr, 'a'},
      {"baud", required_argument, nullptr, 'b'},
      {"data-bits", required_argument, nullptr, 'd'},
      {"parity", required_argument, nullptr, 'P'},
      {"stop-bits", required_argument, nullptr, 's'},
      {"no-pacing", no_argument, nullptr, kNoPacing},
      {"image", required_argument, nullptr, 'i'},
      {"save", required_argument, nullptr, kSave},
      {"read-only", no_argument, nullptr, kReadOnly},
      {"fault", required_argument, nullptr, 'f'},
      {"fault-at", required_argument, nullptr, kFaultAt},
      {"no-fault-offsets", no_argument, nullptr, kNoFaultOffsets},
      {"quiet", no_argument, nullptr, 'q'},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  int c;
  std::string error;
  while ((c = getopt_long(argc, argv, "a:b:d:P:s:i:f:qh", longOptions, nullptr)) != -1) {
    switch (c) {
      case 'a':
        if (!ParseInt(optarg, 1, 247, id)) return Fail("slave id must be 1 to 247");
        break;
      case 'b':
        if (!ParseInt(optarg, 50, 4000000, baud)) return Fail("bad baud rate");
        break;
      case 'd':
        if (!ParseInt(optarg, 7, 8, dataBits)) return Fail("data bits must be 7 or 8");
        break;
      case 's':
        if (!ParseInt(optarg, 1, 2, stopBits)) return Fail("stop bits must be 1 or 2");
        break;
      case 'P':
        parityName = optarg;
        if (std::strcmp(optarg, "none") == 0) {
          parityBits = 0;
        } else if (std::strcmp(optarg, "even") == 0 || std::strcmp(optarg, "odd") == 0 ||
                   std::strcmp(optarg, "mark") == 0 || std::strcmp(optarg, "space") == 0) {
          parityBits = 1;
        } else {
          return Fail("parity must be none, even, odd, mark or space");
        }
        break;
      case kNoPacing: pacing = false; break;
      case 'i': imagePath = optarg; break;
      case kSave: savePath = optarg; break;
      case kReadOnly: readOnly = true; break;
      case 'f':
        if (!ParseFault(optarg, every, error)) return Fail(error);
        break;
      case kFaultAt: {
        const std::string spec = optarg;
        const auto eq = spec.find('=');
        long offset = 0;
        Fault f;
        if (eq == std::string::npos || !ParseInt(spec.substr(0, eq).c_str(), 1, 65536, offset)) {
          return Fail("--fault-at wants OFFSET=SPEC, e.g. 100=exception=2");
        }
        if (!ParseFault(spec.substr(eq + 1), f, error)) return Fail(error);
        extraFaults[static_cast<int>(offset)] = f;
        break;
      }
      case kNoFaultOffsets: faultOffsets = false; break;
      case 'q': g_quiet = true; break;
      case 'h': std::fputs(kUsage, stdout); return 0;
      default: std::fputs(kUsage, stderr); return 2;
    }
  }
  if (optind != argc - 1) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string link = argv[optind];

  MemoryImage image = MemoryImage::Pattern();
  if (!imagePath.empty() && !image.Load(imagePath, error)) return Fail(error);
  std::map<int, Fault> faults = faultOffsets ? DefaultFaultOffsets() : std::map<int, Fault>{};
  for (const auto& [offset, f] : extraFaults) faults[offset] = f;
  SlaveCore core(static_cast<std::uint8_t>(id), std::move(image), every, faults);
  core.setReadOnly(readOnly);

  const int bitsPerChar = 1 + static_cast<int>(dataBits) + parityBits + static_cast<int>(stopBits);
  const long long charNs = pacing ? 1000000000LL * bitsPerChar / baud : 0;
  // End of a frame without a fixed layout: 3.5 character times of silence.
  const int silenceMs = pacing ? vantrel::QuietGapMs(static_cast<int>(baud), bitsPerChar) : 2;

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    return Fail(std::string("cannot make a pseudo-terminal: ") + std::strerror(errno));
  }
  const std::string pts = ptsname(master);
  termios tio{};
  tcgetattr(master, &tio);
  cfmakeraw(&tio);  // no echo: our own replies must not come back as requests
  tcsetattr(master, TCSANOW, &tio);
  // Holding the other end open keeps the master readable while no program has the port.
  const int hold = open(pts.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (hold < 0) return Fail("cannot open " + pts + ": " + std::strerror(errno));

  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) return Fail(link + " exists and is not a link; not replacing it");
    unlink(link.c_str());
  }
  if (symlink(pts.c_str(), link.c_str()) != 0) {
    return Fail("cannot make the link " + link + ": " + std::strerror(errno));
  }

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::printf("vantrel-slave: slave %ld on %s (%s), %ld baud %ld%c%ld%s\n", id, link.c_str(),
              pts.c_str(), baud, dataBits, static_cast<char>(std::toupper(parityName[0])), stopBits,
              pacing ? "" : ", not paced");
  std::fflush(stdout);

  std::vector<std::uint8_t> buffer;
  long long firstByteNs = 0;
  while (!g_stop) {
    pollfd p{master, POLLIN, 0};
    const int r = poll(&p, 1, buffer.empty() ? 200 : silenceMs);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (r == 0) {
      // Silence after bytes: whatever came is one frame.
      if (!buffer.empty()) Serve(master, core, buffer, firstByteNs, charNs);
      buffer.clear();
      continue;
    }
    std::uint8_t chunk[1024];
    const ssize_t n = read(master, chunk, sizeof chunk);
    if (n <= 0) continue;
    if (buffer.empty()) firstByteNs = NowNs();
    buffer.insert(buffer.end(), chunk, chunk + n);
    for (;;) {
      const int len = SlaveCore::RequestLength(buffer.data(), buffer.size());
      if (len <= 0 || buffer.size() < static_cast<std::size_t>(len)) break;
      const std::vector<std::uint8_t> frame(buffer.begin(), buffer.begin() + len);
      buffer.erase(buffer.begin(), buffer.begin() + len);
      Serve(master, core, frame, firstByteNs, charNs);
      firstByteNs = NowNs();
    }
    if (buffer.size() > 512) buffer.clear();  // line noise: start afresh
  }

  char target[4096];
  const ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
  if (len > 0 && pts.compare(0, std::string::npos, target, static_cast<std::size_t>(len)) == 0) {
    unlink(link.c_str());
  }
  close(hold);
  close(master);
  if (!savePath.empty() && !core.image().Save(savePath, error)) {
    std::fprintf(stderr, "vantrel-slave: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
