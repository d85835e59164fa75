// vantrel-poll: polls one Modbus slave, or the definitions of a workspace file, from the
// command line, on a serial line (RTU, ASCII) or over TCP (Modbus TCP, RTU over TCP), and
// prints the cells of the response table, or writes the values given after the device.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Monitor.h"
#include "PollOptions.h"
#include "PollRun.h"
#include "Scan.h"
#include "Version.h"
#include "modbus/ModbusMaster.h"
#include "serial/PortMap.h"
#include "session/Line.h"
#include "session/PollTexts.h"
#include "session/Workspace.h"
#include "session/WriteValues.h"
#include "settings/ScannerSettings.h"

using namespace vantrel;
using namespace vantrel::poll;

namespace {

int Usage(const std::string& error) {
  std::fprintf(stderr, "vantrel-poll: %s\nTry 'vantrel-poll --help'.\n", error.c_str());
  return kExitUsage;
}

// What a definition is called in the outputs: its name, or its place in the file.
std::string ShownName(const PollDefinition& d, std::size_t place) {
  return d.name.empty() ? "Poll " + std::to_string(place + 1) : d.name;
}

// The definitions of the workspace that the run polls, in the file's order: the enabled
// ones, or the ones --poll names. Each has the options with its request, view and period
// (with -l its own, or -l's for one whose period is 0; once without -l). An unknown name is
// a usage error; error is set and the list empty.
std::vector<PollTarget> PickTargets(const Workspace& workspace, const PollConfig& cfg, std::string& error) {
  for (const std::string& name : cfg.pollNames) {
    bool known = false;
    for (std::size_t i = 0; i < workspace.polls.size(); ++i) known = known || ShownName(workspace.polls[i], i) == name;
    if (!known) {
      error = "--poll " + name + ": " + cfg.workspace + " has no definition of that name";
      return {};
    }
  }
  std::vector<PollTarget> targets;
  for (std::size_t i = 0; i < workspace.polls.size(); ++i) {
    const PollDefinition& d = workspace.polls[i];
    PollTarget t;
    t.name = ShownName(d, i);
    const auto& names = cfg.pollNames;
    if (names.empty() ? !d.enabled : std::find(names.begin(), names.end(), t.name) == names.end()) continue;
    t.cfg = cfg;
    t.policy = d.policy;
    ApplyDefinition(d, t.cfg);
    if (cfg.periodMs > 0 && d.periodMs > 0) t.cfg.periodMs = d.periodMs;
    targets.push_back(std::move(t));
  }
  return targets;
}

}  // namespace

int main(int argc, char** argv) {
  PollConfig cfg;
  ScannerSettings settings;
  if (settings.Load()) ApplySettings(settings, cfg);
  // COMn is looked up beside settings.ini, as the desktop program started here does.
  SetPortFolder(settings.startup_path);
  const std::vector<std::string> args(argv + 1, argv + argc);
  // A workspace's connection takes the place of settings.ini's before the options, which
  // override it.
  Workspace workspace;
  std::string workspaceError;
  const std::string workspacePath = OptionValue(args, "--workspace");
  const bool workspaceRead = workspacePath.empty() || LoadWorkspace(workspacePath, workspace, workspaceError);
  if (!workspacePath.empty() && workspaceRead) ApplyConnection(workspace.connection, cfg);
  std::string error;
  switch (ParsePollOptions(args, cfg, error)) {
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
  if (cfg.monitor) return RunMonitor(cfg);
  const bool named = !cfg.workspace.empty();
  PollOutput out(cfg, named);
  if (!workspaceRead) return out.Failure(nullptr, kExitBadWorkspace, workspaceError);
  if (!cfg.saveWorkspace.empty()) {
    const Workspace saved{ConnectionOf(cfg), {DefinitionOf(cfg)}, "", "", {}};
    return SaveWorkspace(cfg.saveWorkspace, saved, error) ? kExitOk : out.Failure(nullptr, kExitBadWorkspace, error);
  }

  std::vector<PollTarget> targets(1);
  targets[0].cfg = cfg;
  if (named) {
    targets = PickTargets(workspace, cfg, error);
    if (!error.empty()) return Usage(error);
    if (targets.empty()) {
      return out.Failure(nullptr, kExitBadWorkspace,
                         cfg.workspace + ": no definition is enabled (--poll NAME polls one that is not)");
    }
  }
  // A request of any function is checked by the codec; slave id 0 takes only writes, since
  // no device answers a broadcast.
  std::vector<std::uint8_t> pdu;
  if (cfg.IsPdu()) {
    const int check = MakePdu(cfg, pdu);
    if (check != MB_REQUEST_OK) {
      const std::string text = PduRequestErrorText(check);
      return out.Failure(nullptr, kExitBadRequest, text.empty() ? RequestErrorText(check) : text);
    }
  } else if (cfg.slaveId == 0 && !cfg.scan && (!cfg.IsWrite() || cfg.byMap)) {
    return out.Failure(nullptr, kExitBadRequest, PduRequestErrorText(MB_REQUEST_NO_BROADCAST));
  }
  // The program's own check, on the offset as the user counts it; values from settings.ini
  // or a workspace that do not fit the frame are refused, not cut.
  std::vector<WriteFrame> writes;
  if (cfg.IsPdu()) {
    // MakePdu checked it, with the codec's limits of its function
  } else if (cfg.IsWrite()) {
    std::string why;
    writes = FrameWrites(cfg.slaveId, cfg.function == 1, cfg.offset, cfg.words, cfg.alwaysMultiple,
                         RegistersPerValue(cfg.format), why);
    if (writes.empty()) return out.Failure(nullptr, kExitBadRequest, why);
  } else {
    for (const PollTarget& t : targets) {
      if (t.cfg.byMap) continue;  // the map's plan is framed within the function's limits
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
  if (cfg.IsPdu()) return run.Send(pdu);
  if (cfg.IsWrite()) return run.Write(writes);
  if (cfg.IsMapWrite()) return run.WriteMap();
  return run.Read(std::move(targets));
}
