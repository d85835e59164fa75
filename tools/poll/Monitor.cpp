#include "Monitor.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include <chrono>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "serial/SerialPort.h"
#include "session/BusMonitor.h"
#include "session/MonitorTexts.h"
#include "session/PcapWriter.h"
#include "session/PollTexts.h"

namespace vantrel::poll {
namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStop(int) { g_stop = 1; }

// Ctrl+C ends the run as --count would: the loop notices at its next wait.
void CatchStop() { platform::CatchStop(OnStop); }

}  // namespace

int RunMonitor(const PollConfig& cfg) {
  SerialPort port;
  port.SetListenOnly(true);
  const int opened = cfg.device.empty()
                         ? port.Open(cfg.comPort, cfg.baudRate, cfg.parity, cfg.dataBits, cfg.stopBits)
                         : port.OpenDevice(cfg.device, cfg.baudRate, cfg.parity, cfg.dataBits, cfg.stopBits);
  const std::string connection =
      cfg.device.empty() ? ConnectionText(cfg.comPort, cfg.baudRate, cfg.parity, cfg.dataBits, cfg.stopBits)
                         : port.SettingsText();
  if (!opened) {
    std::fprintf(stderr, "vantrel-poll: %s\n", CannotConnectText(connection).c_str());
    return kExitCannotConnect;
  }

  MonitorOptions options;
  options.mode = cfg.mode == ModbusMode::Ascii ? ModbusMode::Ascii : ModbusMode::Rtu;
  options.baudRate = cfg.baudRate;
  options.bitsPerChar = BitsPerChar(cfg.dataBits, cfg.parity, cfg.stopBits);
  options.replyWindowMs = cfg.replyWindowMs;
  BusMonitor monitor(options);

  const auto start = std::chrono::steady_clock::now();
  const double originEpochMs =
      std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
  const auto nowMs = [&] {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  };
  PcapWriter pcap;
  if (!cfg.pcapPath.empty()) {
    std::string error;
    if (!pcap.Open(cfg.pcapPath, originEpochMs, error)) {
      std::fprintf(stderr, "vantrel-poll: --pcap %s: %s\n", cfg.pcapPath.c_str(), error.c_str());
      return kExitCannotConnect;
    }
  }
  CatchStop();
  const bool aligned = !cfg.csv && !cfg.json;
  // On standard error, so that CSV and JSON stay machine-readable: the port is open from here.
  std::fprintf(stderr, "vantrel-poll: listening on %s (%s), nothing is sent; Ctrl+C ends\n", connection.c_str(),
               ModeName(options.mode));
  if (cfg.csv) {
    std::printf("%s\n", FrameCsvHeader().c_str());
  }
  std::fflush(stdout);

  long printed = 0;
  const auto print = [&](std::vector<MonitorFrame>& frames) {
    for (const MonitorFrame& f : frames) {
      if (cfg.monitorCount > 0 && printed >= cfg.monitorCount) break;
      const std::string line = cfg.json ? FrameJson(f) : cfg.csv ? FrameCsvLine(f) : FrameSummaryLine(f);
      std::printf("%s\n", line.c_str());
      pcap.Write(f);
      ++printed;
    }
    std::fflush(stdout);
    frames.clear();
  };
  const auto done = [&] {
    return g_stop || (cfg.monitorCount > 0 && printed >= cfg.monitorCount) ||
           (cfg.monitorSeconds > 0 && nowMs() >= cfg.monitorSeconds * 1000);
  };

  int status = kExitOk;
  std::vector<MonitorFrame> frames;
  std::uint8_t buffer[4096];
  while (!done()) {
    // Short waits, so that Tick reports unanswered requests and dangling bytes in time.
    const int ready = port.WaitReadable(20);
    if (ready < 0) {
      std::fprintf(stderr, "vantrel-poll: %s went away\n", port.Device().c_str());
      status = kExitDeviceGone;
      break;
    }
    if (ready == 0) {
      monitor.Tick(nowMs(), frames);
    } else {
      const int n = port.Read(buffer, sizeof buffer);
      if (n > 0) {
        monitor.Feed(buffer, static_cast<std::size_t>(n), nowMs(), frames);
      } else if (port.DeviceLost()) {
        std::fprintf(stderr, "vantrel-poll: %s went away\n", port.Device().c_str());
        status = kExitDeviceGone;
        break;
      }
    }
    print(frames);
  }
  // What the line still held makes its last frames, unless the count is reached.
  if (!(cfg.monitorCount > 0 && printed >= cfg.monitorCount)) {
    monitor.Finish(nowMs(), frames);
    print(frames);
  }
  pcap.Close();
  port.Close();
  if (aligned) std::printf("\n%s", FiguresTable(monitor.Figures()).c_str());
  std::fflush(stdout);
  return status;
}

}  // namespace vantrel::poll
