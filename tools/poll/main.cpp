// vantrel-poll: polls one Modbus slave from the command line, on a serial line (RTU, ASCII)
// or over TCP (Modbus TCP, RTU over TCP), and prints the cells of the response table, or
// writes the values given after the device.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "PollJson.h"
#include "PollOptions.h"
#include "Scan.h"
#include "Version.h"
#include "session/DataLog.h"
#include "session/PollTexts.h"
#include "session/ResponseTable.h"
#include "session/TableText.h"
#include "session/WriteValues.h"
#include "modbus/ExceptionText.h"
#include "modbus/ModbusMaster.h"
#include "serial/PortMap.h"
#include "session/Line.h"
#include "settings/ScannerSettings.h"

using namespace vantrel;
using namespace vantrel::poll;
using SteadyClock = std::chrono::steady_clock;

namespace {

// With --json, what a failure's object names besides its status and text: the request,
// set once the command line is read, and the connection once it is known.
struct JsonFailures {
  const PollConfig* cfg = nullptr;  // none: no --json
  std::string connection;
};
JsonFailures g_jsonFailures;

// A failure's explanation on standard error; with --json also its object on standard output.
int Fail(int status, const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  if (g_jsonFailures.cfg != nullptr) {
    const std::string request = RequestJson(*g_jsonFailures.cfg, g_jsonFailures.connection);
    std::printf("%s\n", FailureJson(ZonedIsoTime(std::chrono::system_clock::now()), request, status, text).c_str());
    std::fflush(stdout);
  }
  return status;
}

// --csv with -l: a line per poll, the time and the values, as the data log writes them
// (with the 32-bit columns, since a read prints every format).
bool TimedCsv(const PollConfig& cfg) { return cfg.csv && cfg.periodMs > 0; }
// Output that is one line per poll, without "-- Poll n" lines or blank lines between polls.
bool LinePerPoll(const PollConfig& cfg) { return cfg.json || TimedCsv(cfg); }

std::string DeviceGoneText(const ModbusMaster& master, const std::string& connection, const char* what) {
  if (IsNetworkMode(master.Mode())) return ConnectionLostText(connection, master.link().LastError(), what);
  return "Error - The serial device has gone away\n\nThe device " + master.link().Device() + " stopped answering " +
         what + ": the adapter may have been unplugged or the simulator stopped.";
}

// The serial texts name the port's causes; over TCP a send fails only on a closed connection.
std::string CannotSendText(const ModbusMaster& master, const std::string& connection, bool write) {
  if (IsNetworkMode(master.Mode())) return DeviceGoneText(master, connection, write ? "writes" : "reads");
  return write ? CannotWriteText(connection) : CannotPollText(connection);
}

// Waits on the link, after a send, until the reply is complete or the time-out; false when
// the device went away meanwhile. A failed exchange is abandoned: were another request to
// follow, the line would be let go quiet first. A failure ends the run, so that wait is
// not made here: the next run waits for a quiet line when it opens it.
bool AwaitReply(ModbusMaster& master, int timeoutMs, int& result) {
  // A stored time-out of 0 or less still gives the reply one wait on the line.
  const int waitMs = std::max(timeoutMs, 1);
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    result = master.ReadResponse();
    if (!ReplyPending(result)) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) break;
    if (master.link().WaitReadable(static_cast<int>(left.count())) < 0) return false;
  }
  if (result != MB_RESPONCE_OK) master.AbandonExchange(waitMs);
  return true;
}

// The status and explanation of a reply that is not OK, the same for reads and writes.
int FailReply(const ModbusMaster& master, int result, bool write) {
  if (ReplyPending(result)) {
    // A device that answers, but always too short, is told so rather than "too slow".
    if (master.SawShortReply()) return Fail(kExitShortReply, kNotEnoughData);
    return Fail(kExitTimeout, write ? WriteTimeoutText(master.request, master.request_size)
                                    : TimeoutText(master.request, master.request_size));
  }
  switch (result) {
    case MB_RESPONCE_EXCEPTION: {
      std::string text;
      ExplainException(master.exception_function, master.exception_code, text);
      if (!text.empty() && text.back() == '\n') text.pop_back();
      return Fail(kExitException, text);
    }
    case MB_RESPONCE_INVALID_CRC:
    case MB_RESPONCE_INVALID_LRC:
      return Fail(kExitBadCrc, ReplyErrorText(result));
    case MB_RESPONCE_BAD_MBAP_LENGTH:
      return Fail(kExitBadMbapLength, ReplyErrorText(result));
    case MB_RESPONCE_UNSUPPORTED_REQUEST:
    case MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE:
    case MB_RESPONCE_INVALID_FUNCTION_CODE:
      return Fail(kExitBadFunction, ReplyErrorText(result));
    case MB_RESPONCE_WRITE_ECHO_MISMATCH:
      return Fail(kExitWriteNotConfirmed, ReplyErrorText(result));
    default:
      return Fail(kExitUnknownReply, ReplyErrorText(result));
  }
}

// One poll: send, wait for the reply, print. csvHeader: the timed CSV's header printed last.
int PollOnce(ModbusMaster& master, const PollConfig& cfg, const std::string& connection, std::string& csvHeader) {
  std::uint8_t frame[kReadRequestSize] = {};
  const int size = BuildReadRequest(static_cast<std::uint8_t>(cfg.function),
                                    static_cast<std::uint8_t>(cfg.slaveId),
                                    static_cast<std::uint16_t>(cfg.offset),
                                    static_cast<std::uint16_t>(cfg.length), frame);
  if (size <= 0) return Fail(kExitBadRequest, CannotGenerateText());
  if (!master.SendRequest(frame, size)) return Fail(kExitCannotPoll, CannotSendText(master, connection, false));
  int result = MB_RESPONCE_EMPTY;
  if (!AwaitReply(master, cfg.timeoutMs, result)) {
    return Fail(kExitDeviceGone, DeviceGoneText(master, connection, "reads"));
  }
  const auto arrived = std::chrono::system_clock::now();
  if (result != MB_RESPONCE_OK) return FailReply(master, result, false);

  const ResponseTable table = MakeResponseTable(&master, cfg.wordOrder, cfg.show64);
  if (table.fill != TableFill::Filled) {
    return Fail(kExitShortReply, table.fill == TableFill::ColumnsOnly ? kNotEnoughData : kUndecodableFunction);
  }
  if (cfg.json) {
    std::printf("%s\n", PollJson(ZonedIsoTime(arrived), RequestJson(cfg, connection), table).c_str());
  } else if (TimedCsv(cfg)) {
    std::fputs(DataLogLines(table, true, LocalIsoTime(arrived), csvHeader).c_str(), stdout);
  } else {
    std::fputs(TableAsText(table, {}, cfg.csv ? TextFormat::Csv : TextFormat::Aligned, cfg.cells).c_str(), stdout);
  }
  std::fflush(stdout);
  return kExitOk;
}

// "Wrote 3 coils from offset 1 (00001) with function 15: 1 0 1", for what one request set.
std::string WroteText(const PollConfig& cfg, const WriteFrame& frame) {
  const bool coils = IsCoilWrite(frame.function);
  char head[128];
  std::snprintf(head, sizeof head, "Wrote %d %s from offset %d (%05d) with function %02d", frame.count,
                ItemNoun(coils, frame.count), frame.offset, (coils ? 0 : 40000) + frame.offset, frame.function);
  std::string text = head;
  const int per = RegistersPerValue(cfg.format);
  // Two registers a value: say so, or the count would not match the values shown.
  if (per == 2) {
    const int values = frame.count / per;
    text += ", " + std::to_string(values) + " " + FormatName(cfg.format) + (values == 1 ? " value" : " values");
  }
  text += ":";
  const std::size_t first = static_cast<std::size_t>(frame.offset - cfg.offset);
  for (int i = 0; i < frame.count; i += per) text += " " + FormatWriteValue(cfg.words.data() + first + i, cfg.format, cfg.wordOrder);
  return text;
}

// The values, one request after the other; each confirmed request is printed, so that
// after a failure it is plain which were written.
int WriteAll(ModbusMaster& master, const PollConfig& cfg, const std::vector<WriteFrame>& frames,
             const std::string& connection) {
  for (const WriteFrame& frame : frames) {
    if (!master.SendRequest(frame.bytes.data(), static_cast<int>(frame.bytes.size()))) {
      return Fail(kExitCannotPoll, CannotSendText(master, connection, true));
    }
    int result = MB_RESPONCE_EMPTY;
    if (!AwaitReply(master, cfg.timeoutMs, result)) {
      return Fail(kExitDeviceGone, DeviceGoneText(master, connection, "writes"));
    }
    if (result != MB_RESPONCE_OK) return FailReply(master, result, true);
    std::printf("%s\n", WroteText(cfg, frame).c_str());
    std::fflush(stdout);
  }
  return kExitOk;
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
      std::fprintf(stderr, "vantrel-poll: %s\nTry 'vantrel-poll --help'.\n", error.c_str());
      return kExitUsage;
    case ParseOutcome::Run:
      break;
  }
  if (cfg.json) g_jsonFailures.cfg = &cfg;

  // The program's own check, on the offset as the user counts it; values from settings.ini
  // that do not fit the frame are refused, not cut.
  std::vector<WriteFrame> writes;
  if (cfg.IsWrite()) {
    std::string why;
    writes = FrameWrites(cfg.slaveId, cfg.function == 1, cfg.offset, cfg.words, cfg.alwaysMultiple,
                         RegistersPerValue(cfg.format), why);
    if (writes.empty()) return Fail(kExitBadRequest, why);
  } else {
    const int check = CheckRequestSettings(cfg.function, cfg.slaveId, cfg.offset, cfg.length);
    if (check != MB_REQUEST_OK) {
      const std::string text = RequestErrorText(check);
      return Fail(kExitBadRequest, text.empty() ? kUnknownFunctionCodePanic : text);
    }
  }

  Line line;
  ModbusMaster& master = line.master();
  master.note = [](const std::string& note) { std::fprintf(stderr, "vantrel-poll: %s\n", note.c_str()); };
  line.SetMode(cfg.mode);
  std::string connection;
  if (IsNetworkMode(cfg.mode)) {
    connection = NetworkConnectionText(cfg.mode, cfg.host, cfg.tcpPort);
    g_jsonFailures.connection = connection;
    const int waitMs = std::max(cfg.timeoutMs, 1);  // as AwaitReply gives the reply
    if (!line.tcp().Connect(cfg.host, cfg.tcpPort, waitMs)) {
      return Fail(kExitCannotConnect, CannotConnectNetworkText(connection, line.tcp().LastError(), waitMs));
    }
  } else {
    const int opened =
        cfg.device.empty()
            ? line.serial().Open(cfg.comPort, cfg.baudRate, cfg.parity, cfg.dataBits, cfg.stopBits)
            : line.serial().OpenDevice(cfg.device, cfg.baudRate, cfg.parity, cfg.dataBits, cfg.stopBits);
    // The program's "COM %d:..." for a port number; for a path, the port's own "path:...".
    connection = cfg.device.empty() ? ConnectionText(cfg.comPort, cfg.baudRate, cfg.parity, cfg.dataBits, cfg.stopBits)
                                    : line.serial().SettingsText();
    g_jsonFailures.connection = connection;
    if (!opened) return Fail(kExitCannotConnect, CannotConnectText(connection));
    if (cfg.rs485 && !line.serial().SetRs485(true)) {
      return Fail(kExitCannotConnect, Rs485ErrorText(line.serial().Device(), line.serial().LastError()));
    }
    master.AwaitQuietLine(std::max(cfg.timeoutMs, 1));
  }
  if (cfg.scan) return RunScan(line, cfg, connection);
  if (cfg.idInfo) return RunIdInfo(master, cfg);
  if (cfg.IsWrite()) return WriteAll(master, cfg, writes, connection);

  std::string csvHeader;
  for (int n = 1;; ++n) {
    const auto start = SteadyClock::now();
    if (cfg.periodMs > 0 && !LinePerPoll(cfg)) std::printf("-- Poll %d\n", n);
    const int status = PollOnce(master, cfg, connection, csvHeader);
    if (status != kExitOk || cfg.periodMs == 0) return status;
    if (!LinePerPoll(cfg)) std::printf("\n");
    std::fflush(stdout);
    std::this_thread::sleep_until(start + std::chrono::milliseconds(cfg.periodMs));
  }
}
