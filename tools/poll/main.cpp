// vantrel-poll: polls one Modbus RTU slave from the command line and prints the cells of
// the response table.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "PollOptions.h"
#include "app/PollTexts.h"
#include "app/ResponseTable.h"
#include "modbus/ExceptionText.h"
#include "modbus/ModbusMaster.h"
#include "settings/ScannerSettings.h"

using namespace vantrel;
using namespace vantrel::poll;
using SteadyClock = std::chrono::steady_clock;

namespace {

int Fail(int status, const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  return status;
}

std::string CsvField(const std::string& s) {
  if (s.find_first_of(",\"\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

void PrintTable(const ResponseTable& table, bool csv) {
  const std::size_t n = table.columns.size();
  if (csv) {
    for (std::size_t c = 0; c < n; ++c) std::printf("%s%s", c ? "," : "", table.columns[c].caption);
    std::printf("\n");
    for (const auto& row : table.rows) {
      for (std::size_t c = 0; c < n; ++c) std::printf("%s%s", c ? "," : "", CsvField(row[c]).c_str());
      std::printf("\n");
    }
    return;
  }
  std::vector<std::size_t> width(n);
  for (std::size_t c = 0; c < n; ++c) {
    width[c] = std::string(table.columns[c].caption).size();
    for (const auto& row : table.rows) width[c] = std::max(width[c], row[c].size());
  }
  auto printRow = [&](auto cell) {
    std::string line;
    for (std::size_t c = 0; c < n; ++c) {
      std::string text = cell(c);
      if (c + 1 < n) text.resize(width[c] + 2, ' ');
      line += text;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::printf("%s\n", line.c_str());
  };
  printRow([&](std::size_t c) { return std::string(table.columns[c].caption); });
  for (const auto& row : table.rows) printRow([&](std::size_t c) { return row[c]; });
}

std::string DeviceGoneText(const ModbusMaster& master) {
  return "Error - The serial device has gone away\n\nThe device " + master.port.Device() +
         " stopped answering reads: the adapter may have been unplugged or the simulator stopped.";
}

// Waits on the port, after a send, until the reply is complete or the time-out; false when
// the device went away meanwhile. A failed exchange is abandoned and the line let go quiet,
// since the rest of a late or bad reply may still be on its way and must not be taken for
// the answer to whatever is sent next.
bool AwaitReply(ModbusMaster& master, int timeoutMs, int& result) {
  // A stored time-out of 0 or less still gives the reply one wait on the line.
  const int waitMs = std::max(timeoutMs, 1);
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    result = master.ReadResponse();
    if (!ReplyPending(result)) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) break;
    if (master.port.WaitReadable(static_cast<int>(left.count())) < 0) return false;
  }
  if (result != MB_RESPONCE_OK) {
    master.AbandonExchange(waitMs);
    master.DrainAbandoned();
  }
  return true;
}

// The status and explanation of a reply that is not OK.
int FailReply(const ModbusMaster& master, int result) {
  if (ReplyPending(result)) {
    // A device that answers, but always too short, is told so rather than "too slow".
    if (master.SawShortReply()) return Fail(kExitShortReply, kNotEnoughData);
    return Fail(kExitTimeout, TimeoutText(master.request, master.request_size));
  }
  switch (result) {
    case MB_RESPONCE_EXCEPTION: {
      std::string text;
      ExplainException(master.exception_function, master.exception_code, text);
      if (!text.empty() && text.back() == '\n') text.pop_back();
      return Fail(kExitException, text);
    }
    case MB_RESPONCE_INVALID_CRC:
      return Fail(kExitBadCrc, ReplyErrorText(result));
    case MB_RESPONCE_UNSUPPORTED_REQUEST:
    case MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE:
    case MB_RESPONCE_INVALID_FUNCTION_CODE:
      return Fail(kExitBadFunction, ReplyErrorText(result));
    default:
      return Fail(kExitUnknownReply, ReplyErrorText(result));
  }
}

// One poll: send, wait for the reply, print.
int PollOnce(ModbusMaster& master, const PollConfig& cfg, const std::string& connection) {
  std::uint8_t frame[kReadRequestSize] = {};
  const int size = BuildReadRequest(static_cast<std::uint8_t>(cfg.function),
                                    static_cast<std::uint8_t>(cfg.slaveId),
                                    static_cast<std::uint16_t>(cfg.offset),
                                    static_cast<std::uint16_t>(cfg.length), frame);
  if (size <= 0) return Fail(kExitBadRequest, CannotGenerateText());
  if (!master.SendRequest(frame, size)) return Fail(kExitCannotPoll, CannotPollText(connection));
  int result = MB_RESPONCE_EMPTY;
  if (!AwaitReply(master, cfg.timeoutMs, result)) return Fail(kExitDeviceGone, DeviceGoneText(master));
  if (result != MB_RESPONCE_OK) return FailReply(master, result);

  const ResponseTable table = MakeResponseTable(&master);
  if (table.fill != TableFill::Filled) {
    return Fail(kExitShortReply, table.fill == TableFill::ColumnsOnly ? kNotEnoughData : kUndecodableFunction);
  }
  PrintTable(table, cfg.csv);
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  PollConfig cfg;
  ScannerSettings settings;
  if (settings.Load()) ApplySettings(settings, cfg);
  std::string error;
  switch (ParsePollOptions(std::vector<std::string>(argv + 1, argv + argc), cfg, error)) {
    case ParseOutcome::Help:
      std::fputs(kPollUsage, stdout);
      return kExitOk;
    case ParseOutcome::Error:
      std::fprintf(stderr, "vantrel-poll: %s\nTry 'vantrel-poll --help'.\n", error.c_str());
      return kExitUsage;
    case ParseOutcome::Run:
      break;
  }

  // The program's own check, on the offset as the user counts it; values from settings.ini
  // that do not fit the frame are refused, not cut.
  const int check = CheckRequestSettings(cfg.function, cfg.slaveId, cfg.offset, cfg.length);
  if (check != MB_REQUEST_OK) {
    const std::string text = RequestErrorText(check);
    return Fail(kExitBadRequest, text.empty() ? kUnknownFunctionCodePanic : text);
  }

  ModbusMaster master;
  master.note = [](const std::string& line) { std::fprintf(stderr, "vantrel-poll: %s\n", line.c_str()); };
  const int opened =
      cfg.device.empty()
          ? master.Open(cfg.comPort, cfg.baudRate, cfg.parity, cfg.dataBits, cfg.stopBits)
          : master.port.OpenDevice(cfg.device, cfg.baudRate, cfg.parity, cfg.dataBits, cfg.stopBits);
  // The program's "COM %d:..." for a port number; for a path, the port's own "path:...".
  const std::string connection =
      cfg.device.empty()
          ? ConnectionText(cfg.comPort, cfg.baudRate, cfg.parity, cfg.dataBits, cfg.stopBits)
          : master.port.SettingsText();
  if (!opened) return Fail(kExitCannotConnect, CannotConnectText(connection));

  for (int n = 1;; ++n) {
    const auto start = SteadyClock::now();
    if (cfg.periodMs > 0 && !cfg.csv) std::printf("-- Poll %d\n", n);
    const int status = PollOnce(master, cfg, connection);
    if (status != kExitOk || cfg.periodMs == 0) return status;
    std::printf("\n");
    std::fflush(stdout);
    std::this_thread::sleep_until(start + std::chrono::milliseconds(cfg.periodMs));
  }
}
