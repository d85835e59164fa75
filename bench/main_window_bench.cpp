// Figures for the main window: polling faster than the line carries the replies, an
// accelerated soak (a day of polls at one a second), the time to fill the table, the delay
// from a reply's last byte to the filled table, and an hour of 10 polls a second with the
// trend chart open and the data log on; ten polls on one line, and ten tabs for an hour.
// "main_window_bench BIN POLLS pace|tabs SECONDS" measures only the part named.
#include <QApplication>
#include <QTableView>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <unistd.h>

#include "BenchSlave.h"
#include "session/DataLog.h"
#include "app/MainDlg.h"
#include "app/ResponseModel.h"
#include "app/TrendChartDlg.h"
#include "diag/Diagnostics.h"
#include "modbus/ModbusMaster.h"
#include "session/Line.h"
#include "settings/ScannerSettings.h"
#include "web/Tattler.h"

using namespace vantrel;
using vantrel::bench::StartSlave;
using vantrel::bench::StopSlave;
using Clock = std::chrono::steady_clock;

namespace {

class SilentPresenter final : public MessagePresenter {
 public:
  int Present(const std::string& text, int) override {
    ++count;
    last = text;
    return IDOK;
  }
  int count = 0;
  std::string last;
};

long ResidentKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// Bytes the allocator has handed out and not had back: unlike the resident size, it does not
// hide growth in memory that an earlier run freed.
double HeapMb() { return static_cast<double>(mallinfo2().uordblks) / (1024 * 1024); }

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Polls per second that vantrel-poll -l reaches on the same line in the same time: the
// lines of its timed CSV after the header.
double PollerRate(const std::string& bin, const std::string& dir, int seconds) {
  const std::string cmd = "cd '" + dir + "' && timeout -s INT " + std::to_string(seconds) + " '" + bin +
                          "/vantrel-poll' -a 1 -t 4 -c 125 -b 9600 -o 1 -l 250 --csv COM3 2>/dev/null | wc -l";
  std::FILE* out = popen(cmd.c_str(), "r");
  if (out == nullptr) return 0;
  int lines = 0;
  if (std::fscanf(out, "%d", &lines) != 1) lines = 0;
  pclose(out);
  return std::max(lines - 1, 0) / static_cast<double>(seconds);
}

// 125 holding registers at 9600 baud polled every 0.25 s with the window's real timers: an
// exchange takes longer than the period, so the polls must go back to back, each after the
// reply before it, and every one must get its good reply.
void PollPace(const std::string& bin, const std::string& dir, int seconds) {
  std::ofstream(dir + "/settings.ini") << "[Vantrel Modbus Scanner]\ncheck_for_updates=0\ncom_port=3\nbuad_rate=9600\n"
                                          "request_id=1\nrequest_function_code=3\nrequest_length=125\n"
                                          "recv_time_out=1000\npoll_frequency=1\npoll_period_ms=250\n";
  const pid_t slave = StartSlave(bin, dir, {"-a", "1", "-b", "9600"});
  double rate = 0;
  PollStatistics stats;
  std::int64_t ended = 0;  // the polls that ended, not the one still on the line at the end
  {
    ScannerSettings settings(dir);
    Line line;
    Tattler tattler;
    CMainDlg dlg(settings, line, tattler);
    dlg.OnTimer(TIMER_STARTUP);
    const auto t0 = Clock::now();
    const auto end = t0 + std::chrono::seconds(seconds);
    while (Clock::now() < end) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    stats = dlg.statistics();
    ended = stats.polls() - (dlg.IsTimerArmed(TIMER_REPLY) ? 1 : 0);
    rate = static_cast<double>(stats.replies()) / (Ms(Clock::now() - t0) / 1000.0);
  }  // the window lets go of the port
  // Request (8 bytes) and reply (5 + 250) at 10 bits a character.
  const double exchangeMs = (8 + 5 + 250) * 10 * 1000.0 / 9600;
  const double wire = 1000.0 / exchangeMs;
  const double good = ended > 0 ? 100.0 * static_cast<double>(stats.replies()) / static_cast<double>(ended) : 0;
  std::printf("polling faster than the line: 125 registers at 9600 baud every 0.25 s for %d s\n", seconds);
  std::printf("  window: %lld polls ended, %lld good replies (%.1f %%; target 100 %%), %lld time-outs, %lld CRC, "
              "%lld other\n",
              static_cast<long long>(ended), static_cast<long long>(stats.replies()), good,
              static_cast<long long>(stats.timeouts()), static_cast<long long>(stats.crcLrcErrors()),
              static_cast<long long>(stats.otherErrors()));
  std::printf("  %.2f good replies a second; the wire allows %.2f (%.1f ms an exchange): %.1f %% of it (target >= 90 %%)\n",
              rate, wire, exchangeMs, 100.0 * rate / wire);
  const double poller = PollerRate(bin, dir, seconds);
  std::printf("  vantrel-poll -l 250 on the same line: %.2f polls a second (%.1f %% of the wire)\n", poller,
              100.0 * poller / wire);
  StopSlave(slave);
}

void WriteSettings(const std::string& dir, int functionCode, int length) {
  std::ofstream(dir + "/settings.ini") << "[Vantrel Modbus Scanner]\ncheck_for_updates=0\ncom_port=3\n"
                                          "buad_rate=115200\nrequest_id=1\nrequest_function_code="
                                       << functionCode << "\nrequest_length=" << length << "\n";
}

// Ten definitions of 10 holding registers, each due every 50 ms: more than a 115200-baud
// line carries, so the line runs back to back. Their total rate against one definition
// polled back to back (due every millisecond) on the same line, and the spread of their
// counts.
void TenPolls(const std::string& bin, const std::string& dir, int seconds) {
  WriteSettings(dir, 3, 10);
  const pid_t slave = StartSlave(bin, dir, {"-a", "1", "-b", "115200"});
  const auto run = [&](int polls, int periodMs) {
    ScannerSettings settings(dir);
    Line line;
    Tattler tattler;
    CMainDlg dlg(settings, line, tattler);
    dlg.OnTimer(TIMER_STARTUP);
    // Periods below the 100 ms that the settings sheet takes, set in the session itself; its
    // timers then follow.
    PollDefinition d;
    d.slaveId = 1;
    d.function = 3;
    d.length = 10;
    d.periodMs = periodMs;
    dlg.session().Change(0, d);
    for (int i = 1; i < polls; ++i) {
      d.offset = 1 + 10 * i;
      dlg.AddPoll(d);
    }
    dlg.session().StartAll();
    dlg.OnTimer(TIMER_POLL);
    const auto t0 = Clock::now();
    while (Clock::now() < t0 + std::chrono::seconds(seconds)) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double elapsed = Ms(Clock::now() - t0) / 1000.0;
    std::vector<double> counts;
    for (int i = 0; i < polls; ++i) counts.push_back(static_cast<double>(dlg.session().Statistics(i).replies()));
    return std::make_pair(counts, elapsed);
  };
  const auto [one, oneSeconds] = run(1, 1);
  const double oneRate = one[0] / oneSeconds;
  std::printf("ten polls of 10 registers at 115200 baud for %d s each (window, real timers); one poll back to "
              "back: %.0f polls a second\n",
              seconds, oneRate);
  // Every 50 ms asks for 200 polls a second, about two thirds of what the line carries;
  // every 20 ms asks for more than it carries.
  for (int periodMs : {50, 20}) {
    const auto [ten, tenSeconds] = run(10, periodMs);
    double total = 0;
    for (double c : ten) total += c;
    const auto [low, high] = std::minmax_element(ten.begin(), ten.end());
    std::printf("  each due every %d ms: %.0f polls a second in all, %.1f %% of back to back, %.1f %% of what they "
                "ask; each %.0f to %.0f replies, the fewest %.1f %% below the most (target <= 10 %%)\n",
                periodMs, total / tenSeconds, 100.0 * total / tenSeconds / oneRate,
                100.0 * total / tenSeconds / (10 * 1000.0 / periodMs), *low, *high, 100.0 * (*high - *low) / *high);
  }
  StopSlave(slave);
}

constexpr int kTabRegisters = 20;

// An hour of ten tabs, 10 polls a second in all, stepped without waiting: each step hands
// one tab a reply of 20 holding registers, as its poll's good reply does, and lets the
// window paint.
void TabsHour(const std::string& bin, const std::string& dir) {
  WriteSettings(dir, 3, kTabRegisters);
  const pid_t slave = StartSlave(bin, dir, {"-a", "1", "--no-pacing"});  // a line to open; no poll goes
  ScannerSettings settings(dir);
  Line line;
  ModbusMaster& master = line.master();
  Tattler tattler;
  CMainDlg dlg(settings, line, tattler);
  dlg.OnTimer(TIMER_STARTUP);
  dlg.show();
  constexpr int kTabs = 10, kPolls = 36000, kBatch = 1000;
  PollDefinition d;
  d.function = 3;
  d.length = kTabRegisters;
  for (int i = 1; i < kTabs; ++i) dlg.AddPoll(d);
  master.response_function = master.request_function = 3;
  master.request_quantity = kTabRegisters;
  master.byte_count = 2 * kTabRegisters;
  QApplication::processEvents();
  const long rssStart = ResidentKb();
  const double heapStart = HeapMb();
  std::vector<double> batches;
  auto t0 = Clock::now();
  for (int n = 1; n <= kPolls; ++n) {
    for (int r = 0; r < kTabRegisters; ++r) {
      const auto v = static_cast<std::uint16_t>(n * 7 + r);
      master.data[2 * r] = static_cast<std::uint8_t>(v >> 8);
      master.data[2 * r + 1] = static_cast<std::uint8_t>(v);
    }
    dlg.DisplayResponse(n % kTabs, &master);
    QApplication::processEvents();
    if (n % kBatch == 0) {
      batches.push_back(Ms(Clock::now() - t0) / kBatch);
      t0 = Clock::now();
    }
  }
  std::printf("an hour of ten tabs, 10 polls a second in all, stepped\n");
  std::printf("  memory growth (target < 20 MB): resident %.1f MB, heap in use %.1f MB\n",
              (ResidentKb() - rssStart) / 1024.0, HeapMb() - heapStart);
  std::printf("  time per poll (average of %d): %.3f ms at the start, %.3f ms at the end, ratio %.2f (target <= 1.2)\n",
              kBatch, batches.front(), batches.back(), batches.back() / batches.front());
  StopSlave(slave);
}

// Average time of one AddLogLine over a batch, in microseconds.
double LogLineUs(CMainDlg& dlg, int lines) {
  const auto t0 = Clock::now();
  for (int i = 0; i < lines; ++i) dlg.AddLogLine("<= Responce: %s", "00 01 00 02 00 03 00 04 00 05 ");
  return Ms(Clock::now() - t0) * 1000.0 / lines;
}

void Soak(const std::string& bin, const std::string& dir, int polls) {
  WriteSettings(dir, 3, 10);
  const pid_t slave = StartSlave(bin, dir, {"-a", "1", "--no-pacing"});
  ScannerSettings settings(dir);
  Line line;
  Tattler tattler;
  CMainDlg dlg(settings, line, tattler);
  dlg.OnTimer(TIMER_STARTUP);

  // The screen log is at its bound after this batch, so growth from here on is a leak.
  const double lineStart = LogLineUs(dlg, 2000);
  const long rssStart = ResidentKb();
  const auto t0 = Clock::now();
  int good = 0;
  for (int n = 0; n < polls; ++n) {
    dlg.Poll();
    for (int tick = 0; tick < 100 && dlg.IsTimerArmed(TIMER_REPLY); ++tick) {
      line.serial().WaitReadable(50);
      dlg.OnTimer(TIMER_REPLY);
    }
    if (dlg.responseModel()->rowCount() == 10) ++good;
    if (n % 1000 == 0) QApplication::processEvents();
  }
  const double seconds = Ms(Clock::now() - t0) / 1000.0;
  const double lineEnd = LogLineUs(dlg, 2000);
  const long rssEnd = ResidentKb();
  std::printf("soak: %d polls (a day at one a second) in %.1f s, %d good replies\n", polls, seconds, good);
  std::printf("  resident memory: %.1f MB at the start, %.1f MB at the end, growth %.2f MB (target < 5)\n",
              rssStart / 1024.0, rssEnd / 1024.0, (rssEnd - rssStart) / 1024.0);
  std::printf("  activity-log line: %.1f us at the start, %.1f us at the end, ratio %.2f (target <= 2)\n",
              lineStart, lineEnd, lineEnd / lineStart);
  StopSlave(slave);
}

void FillTimes(const std::string& dir) {
  ScannerSettings settings(dir);
  Line line;
  ModbusMaster& master = line.master();
  Tattler tattler;
  CMainDlg dlg(settings, line, tattler);
  dlg.KillTimer(TIMER_STARTUP);  // only the table is measured here
  dlg.show();
  QApplication::processEvents();
  struct Case {
    const char* name;
    int function;
    int quantity;
    int bytes;
  };
  for (const Case& c : {Case{"2000 coils", 1, 2000, 250}, Case{"125 registers", 3, 125, 250}}) {
    master.response_function = static_cast<std::uint8_t>(c.function);
    master.request_quantity = static_cast<std::uint16_t>(c.quantity);
    master.byte_count = static_cast<std::uint8_t>(c.bytes);
    for (int i = 0; i < c.bytes; ++i) master.data[i] = static_cast<std::uint8_t>(i * 37);
    std::vector<double> times;
    for (int round = 0; round < 20; ++round) {
      dlg.EmptyResponseList();
      QApplication::processEvents();
      const auto t0 = Clock::now();
      dlg.DisplayResponse(&master);
      dlg.responseList()->viewport()->repaint();
      QApplication::processEvents();
      times.push_back(Ms(Clock::now() - t0));
    }
    std::sort(times.begin(), times.end());
    std::printf("fill the table, %s: median %.2f ms, worst %.2f ms (target < 20)\n", c.name,
                times[times.size() / 2], times.back());
  }
}

void ReplyToTable(const std::string& bin, const std::string& dir) {
  WriteSettings(dir, 3, 10);
  const pid_t slave = StartSlave(bin, dir, {"-a", "1", "-b", "115200"});
  ScannerSettings settings(dir);
  Line line;
  Tattler tattler;
  CMainDlg dlg(settings, line, tattler);
  dlg.OnTimer(TIMER_STARTUP);
  // The reply's last byte: 8 request and 25 reply characters at 115200 baud after the send
  // (86.8 us each), as the simulator paces them.
  const double lineMs = 33 * 10 * 1000.0 / 115200;
  std::vector<double> delays;
  for (int round = 0; round < 30; ++round) {
    // Start at a random phase of the reply tick, as a poll timer would.
    std::this_thread::sleep_for(std::chrono::milliseconds(17 * round % 100));
    const auto sent = Clock::now();
    dlg.Poll();
    Clock::time_point filled{};
    while (Ms(Clock::now() - sent) < 2000) {
      QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
      // The exchange is over once the reply is in the table (the rows stay between polls).
      if (!dlg.IsTimerArmed(TIMER_REPLY) && dlg.responseModel()->rowCount() == 10) {
        filled = Clock::now();
        break;
      }
    }
    if (filled != Clock::time_point{}) delays.push_back(Ms(filled - sent) - lineMs);
  }
  std::sort(delays.begin(), delays.end());
  if (!delays.empty()) {
    std::printf("reply's last byte to filled table, real timers at 115200 baud, %zu polls: median %.1f ms, "
                "worst %.1f ms (target: median < 5)\n",
                delays.size(), delays[delays.size() / 2], delays.back());
  }
  StopSlave(slave);
}

// An hour at 10 polls a second, stepped without waiting: each step hands the window a reply
// of 20 holding registers (as a poll's good reply does), appends its row to the data log,
// and lets the window paint. The chart follows all 20 rows; its clock reads the step's
// time, so it redraws as often as it would in that hour.
void ChartHour(const std::string& dir, int windowIndex) {
  ScannerSettings settings(dir);
  Line line;
  ModbusMaster& master = line.master();
  Tattler tattler;
  CMainDlg dlg(settings, line, tattler);
  dlg.KillTimer(TIMER_STARTUP);  // no port: the replies are handed in
  dlg.show();
  constexpr int kRegisters = 20, kPolls = 36000, kBatch = 1000;
  master.response_function = master.request_function = 3;
  master.request_slave_id = 1;
  master.request_quantity = kRegisters;
  master.byte_count = 2 * kRegisters;
  // A noisy sensor per register: a slow wave (10 min) and noise of +-60 from a fixed sequence.
  std::uint32_t noise = 12345;
  const auto reply = [&master, &noise](int n) {
    for (int r = 0; r < kRegisters; ++r) {
      noise = noise * 1664525 + 1013904223;
      const double wave = 400 * std::sin(n * 2 * M_PI / 6000 + r);
      const auto v = static_cast<std::uint16_t>(1000 + 150 * r + wave + static_cast<int>(noise >> 24) % 121 - 60);
      master.data[2 * r] = static_cast<std::uint8_t>(v >> 8);
      master.data[2 * r + 1] = static_cast<std::uint8_t>(v);
    }
  };
  reply(0);
  dlg.DisplayResponse(&master);
  dlg.OpenChart();
  CTrendChartDlg* chart = dlg.trendChart();
  const std::int64_t start = 1'765'000'000'000;
  std::int64_t now = start;
  chart->clock = [&now] { return now; };
  chart->SetTimeWindow(windowIndex);
  DataLog log;
  log.SetPath(dir + "/data.csv");
  QApplication::processEvents();

  const long rssStart = ResidentKb();
  const double heapStart = HeapMb();
  std::vector<double> batches;  // average ms per poll of each batch
  int written = 0;
  auto t0 = Clock::now();
  for (int n = 1; n <= kPolls; ++n) {
    now = start + 100LL * n;
    reply(n);
    dlg.DisplayResponse(&master);
    const auto when = std::chrono::system_clock::time_point(std::chrono::milliseconds(now));
    if (log.Append(dlg.responseModel()->table(), LocalIsoTime(when)) == DataLogStatus::Written) ++written;
    QApplication::processEvents();
    if (n % kBatch == 0) {
      batches.push_back(Ms(Clock::now() - t0) / kBatch);
      t0 = Clock::now();
    }
  }
  const long rssEnd = ResidentKb();
  const double heapEnd = HeapMb();
  std::size_t samples = 0;
  for (const TrendLine& line : chart->history().lines()) samples += line.samples.size();
  std::printf("an hour at 10 polls a second, chart of %zu lines (time window %s) and data log on: %d rows "
              "logged, %zu samples kept\n",
              chart->history().lines().size(), kTimeWindows[windowIndex].caption, written, samples);
  std::printf("  memory growth (target < 20 MB): resident %.1f MB (%.1f to %.1f), heap in use %.1f MB (%.1f to %.1f)\n",
              (rssEnd - rssStart) / 1024.0, rssStart / 1024.0, rssEnd / 1024.0, heapEnd - heapStart, heapStart,
              heapEnd);
  // The plot fills during the first time window, and drawing it costs more as it fills.
  const auto fullAt = static_cast<std::size_t>(kTimeWindows[windowIndex].ms / 100 / kBatch);
  const double full = batches[std::min(batches.size(), fullAt) - 1];
  std::printf("  time per poll (average of %d): %.3f ms at the start, %.3f ms once the plot is full, %.3f ms at "
              "the end; end to start %.2f (target < 1.5), end to full %.2f\n",
              kBatch, batches.front(), full, batches.back(), batches.back() / batches.front(), batches.back() / full);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  // Made absolute before the change of folder below.
  char* real = realpath(argc > 1 ? argv[1] : "build/bin", nullptr);
  if (real == nullptr) {
    std::fprintf(stderr, "main_window_bench: no folder %s\n", argc > 1 ? argv[1] : "build/bin");
    return 2;
  }
  const std::string bin = real;
  std::free(real);
  const int polls = argc > 2 ? std::atoi(argv[2]) : 86400;
  char pattern[] = "/tmp/vantrel-bench-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  chdir(dir.c_str());
  SilentPresenter presenter;
  SetMessagePresenter(&presenter);
  // "pace SECONDS" or "tabs SECONDS": that part alone.
  const std::string only = argc > 3 ? argv[3] : "";
  const int seconds = argc > 4 ? std::atoi(argv[4]) : 60;
  if (only.empty() || only == "pace") PollPace(bin, dir, seconds);
  if (only.empty() || only == "tabs") {
    TenPolls(bin, dir, only.empty() ? 20 : seconds);
    TabsHour(bin, dir);
  }
  if (only.empty()) {
    FillTimes(dir);
    ReplyToTable(bin, dir);
    Soak(bin, dir, polls);
    ChartHour(dir, 1);  // 5 min, the time window a chart opens with
    ChartHour(dir, 4);  // 1 h: every redraw reduces the whole history
  }
  if (presenter.count) std::printf("(%d message boxes, the last: %s)\n", presenter.count, presenter.last.c_str());
  std::string cmd = "rm -rf '" + dir + "'";
  return std::system(cmd.c_str()) == 0 ? 0 : 1;
}
