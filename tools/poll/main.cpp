// vantrel-poll: polls one Modbus slave from the command line, on a serial line (RTU, ASCII)
// or over TCP (Modbus TCP, RTU over TCP), and prints the cells of the response table, or
// writes the values given after the device.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "PollOptions.h"
#include "PollRun.h"
#include "Scan.h"
#include "Version.h"
#include "modbus/ModbusMaster.h"
#include "serial/PortMap.h"
#include "session/Line.h"
#include "session/PollTexts.h"
#include "session/WriteValues.h"
#include "settings/ScannerSettings.h"

using namespace vantrel;
using namespace vantrel::poll;

namespace {

int Usage(const std::string& error) {
  std::fprintf(stderr, "vantrel-poll: %s\nTry 'vantrel-poll --help'.\n", error.c_str());
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  PollConfig cfg;
  ScannerSettings settings;
  if (settings.Load()) ApplySettings(settings, cfg);
  // COMn is looked up beside settings.ini, as the desktop program started here does.
  SetPortFolder(settings.startup_path);
  std::string error;
  switch (ParsePollOptions(std::vector<std::string>(argv + 1, argv + argc), cfg, error)) {
    case ParseOutcome::Help:
      std::fputs(kPollUsage, stdout);
      return kExitOk;
    case ParseOutcome::Version:
      std::printf("vantrel-poll %s\n", kProjectVersion);
      return kExitOk;
    case ParseOutcome::Error:
      return Usage(error);
    case ParseOutcome::Run:
      break;
  }
  PollOutput out(cfg);
  std::vector<PollTarget> targets(1);
  targets[0].cfg = cfg;
  // The program's own check, on the offset as the user counts it; values from settings.ini
  // that do not fit the frame are refused, not cut.
  std::vector<WriteFrame> writes;
  if (cfg.IsWrite()) {
    std::string why;
    writes = FrameWrites(cfg.slaveId, cfg.function == 1, cfg.offset, cfg.words, cfg.alwaysMultiple,
                         RegistersPerValue(cfg.format), why);
    if (writes.empty()) return out.Failure(nullptr, kExitBadRequest, why);
  } else {
    for (const PollTarget& t : targets) {
      const int check = CheckRequestSettings(t.cfg.function, t.cfg.slaveId, t.cfg.offset, t.cfg.length);
      if (check != MB_REQUEST_OK) {
        const std::string text = RequestErrorText(check);
        return out.Failure(&t, kExitBadRequest, text.empty() ? kUnknownFunctionCodePanic : text);
      }
    }
  }

  Line line;
  ModbusMaster& master = line.master();
  master.note = [](const std::string& note) { std::fprintf(stderr, "vantrel-poll: %s\n", note.c_str()); };
  PollRun run(line, out, cfg);
  line.SetMode(cfg.mode);
  if (IsNetworkMode(cfg.mode)) {
    out.SetConnection(NetworkConnectionText(cfg.mode, cfg.host, cfg.tcpPort));
    const int waitMs = std::max(cfg.timeoutMs, 1);  // as a reply is given at least a wait
    if (!line.tcp().Connect(cfg.host, cfg.tcpPort, waitMs)) {
      return out.Failure(nullptr, kExitCannotConnect,
                         CannotConnectNetworkText(out.connection(), line.tcp().LastError(), waitMs));
    }
  } else {
    const int opened =
        cfg.device.empty()
            ? line.serial().Open(cfg.comPort, cfg.baudRate, cfg.parity, cfg.dataBits, cfg.stopBits)
            : line.serial().OpenDevice(cfg.device, cfg.baudRate, cfg.parity, cfg.dataBits, cfg.stopBits);
    // The program's "COM %d:..." for a port number; for a path, the port's own "path:...".
    out.SetConnection(cfg.device.empty() ? ConnectionText(cfg.comPort, cfg.baudRate, cfg.parity, cfg.dataBits, cfg.stopBits)
                                         : line.serial().SettingsText());
    if (!opened) return out.Failure(nullptr, kExitCannotConnect, CannotConnectText(out.connection()));
    if (cfg.rs485 && !line.serial().SetRs485(true)) {
      return out.Failure(nullptr, kExitCannotConnect, Rs485ErrorText(line.serial().Device(), line.serial().LastError()));
    }
    master.AwaitQuietLine(std::max(cfg.timeoutMs, 1));
  }
  if (cfg.scan) return RunScan(line, cfg, out.connection());
  if (cfg.idInfo) return RunIdInfo(master, cfg);
  if (cfg.IsWrite()) return run.Write(writes);
  return run.Read(std::move(targets));
}
