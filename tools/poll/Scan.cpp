#include "Scan.h"

#include <cstdio>

#include "session/DataLog.h"  // CsvField
#include "session/DeviceScan.h"
#include "session/PollTexts.h"
#include "session/ScanRunner.h"
#include "modbus/ExceptionText.h"
#include "modbus/ModbusMaster.h"
#include "session/Line.h"

namespace vantrel::poll {
namespace {

int Fail(int status, const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  return status;
}

// Where a find was made: the sweep's line settings, or the connection, with the mode.
std::string Where(const DeviceScan& scan, const ScanFind& find, const PollConfig& cfg, const std::string& connection) {
  if (IsNetworkMode(cfg.mode)) return connection;
  const std::string line = find.line >= 0 ? LineSettingsText(scan.options().lines[static_cast<std::size_t>(find.line)])
                                          : connection;
  return line + " " + ModeName(cfg.mode);
}

void Print(const DeviceScan& scan, const ScanFind& find, const PollConfig& cfg, const std::string& connection) {
  const std::string where = Where(scan, find, cfg, connection);
  if (cfg.csv) {
    std::printf("%d,%s,%s,%s,%s\n", find.id, CsvField(where).c_str(), FindKindText(find.kind),
                CsvField(find.what).c_str(), CsvField(find.identified ? find.identification : "").c_str());
  } else {
    std::printf("%s\n", scan.FindText(find, where).c_str());
  }
  std::fflush(stdout);
}

std::string TrimmedHex(const std::uint8_t* bytes, int size) {
  std::string hex = HexBytes(bytes, size);
  if (!hex.empty() && hex.back() == ' ') hex.pop_back();
  return hex;
}

// The failure of a device identification reply that came whole and checked out, but that
// parsing refuses: why, in the reply's own terms.
int FailUnreadable(const std::uint8_t* pdu, int size, std::uint8_t askedCode) {
  char why[128];
  if (size > 4 && pdu[4] != 0x00 && pdu[4] != 0xFF) {
    std::snprintf(why, sizeof why, "its \"more follows\" byte is %02X, where only 00 (no) or FF (yes) belong", pdu[4]);
  } else if (size > 2 && pdu[2] != askedCode) {
    std::snprintf(why, sizeof why, "it answers read code %02X, not the %02X asked for", pdu[2], askedCode);
  } else {
    std::snprintf(why, sizeof why, "it is no reply that Read Device Identification defines");
  }
  return Fail(kExitBadIdReply, std::string("Error - Invalid device identification\n\nThe reply to the request for the "
                                           "device's identification cannot be read: ") +
                                   why + ".\nReply: " + TrimmedHex(pdu, size));
}

}  // namespace

int RunScan(Line& line, const PollConfig& cfg, const std::string& connection) {
  ModbusMaster& master = line.master();
  ScanOptions options;
  options.firstId = cfg.scanFirst;
  options.lastId = cfg.scanLast;
  options.function = cfg.function;
  options.offset = cfg.offset;
  options.length = cfg.length;
  options.timeoutMs = cfg.timeoutMs;
  options.identify = cfg.identify;
  if (cfg.sweep) options.lines = SweepLines(cfg.sweepBauds, cfg.sweepParities, cfg.sweepStopBits, cfg.dataBits);
  if (const std::string why = CheckScanOptions(options); !why.empty()) return Fail(kExitUsage, why);

  DeviceScan scan(options);
  ScanRunner runner(scan, master, [&](const LineSettings& settings) {
    master.Close();
    SerialPort& port = line.serial();
    return cfg.device.empty() ? port.Open(cfg.comPort, settings.baud, settings.parity, settings.dataBits, settings.stopBits) != 0
                              : port.OpenDevice(cfg.device, settings.baud, settings.parity, settings.dataBits,
                                                settings.stopBits) != 0;
  });
  if (cfg.csv) std::printf("id,settings,found,what,identification\n");
  std::size_t printed = 0;
  for (;;) {
    const int wait = runner.Step();
    // A find is printed once its identification is in (the last one may still be asked).
    const std::size_t complete = scan.finds().size() - (scan.Next().identify ? 1 : 0);
    for (; printed < complete; ++printed) Print(scan, scan.finds()[printed], cfg, connection);
    if (wait < 0) break;
    if (wait > 0) master.link().WaitReadable(wait);
  }
  if (!runner.failure().empty()) return Fail(kExitCannotConnect, "Error - The scan stopped\n\n" + runner.failure());
  const int lines = std::max<int>(1, static_cast<int>(options.lines.size()));
  const int others = static_cast<int>(scan.finds().size()) - scan.DevicesFound();
  std::fprintf(stderr, "Scanned slave ids %d to %d%s in %.1f s: %d %s found, %d %s where something else answered\n",
               options.firstId, options.lastId,
               lines > 1 ? (" at " + std::to_string(lines) + " line settings").c_str() : "", runner.ElapsedMs() / 1000.0,
               scan.DevicesFound(), scan.DevicesFound() == 1 ? "device" : "devices", others, others == 1 ? "id" : "ids");
  return scan.DevicesFound() > 0 ? kExitOk : kExitNothingFound;
}

int RunIdInfo(ModbusMaster& master, const PollConfig& cfg) {
  DeviceIdReader reader;
  for (std::vector<std::uint8_t> pdu = reader.NextRequest(); !pdu.empty(); pdu = reader.NextRequest()) {
    std::uint8_t frame[kFrameCapacity];
    frame[0] = static_cast<std::uint8_t>(cfg.slaveId);
    std::copy(pdu.begin(), pdu.end(), frame + 1);
    const int size = 1 + static_cast<int>(pdu.size());
    const std::uint16_t crc = Crc16(frame, static_cast<std::uint16_t>(size));
    frame[size] = static_cast<std::uint8_t>(crc >> 8);
    frame[size + 1] = static_cast<std::uint8_t>(crc);
    if (!master.SendRequest(frame, size + 2)) return Fail(kExitCannotPoll, "Error - The request could not be sent");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(cfg.timeoutMs, 1));
    int result = master.ReadResponse();
    while (ReplyPending(result)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || master.link().WaitReadable(static_cast<int>(left.count())) < 0) break;
      result = master.ReadResponse();
    }
    if (ReplyPending(result)) {
      if (!reader.objects().empty()) break;  // what came so far is what there is
      return Fail(kExitTimeout, "Error - Timeout\n\nThe device did not answer the request for its identification.");
    }
    DeviceIdReply reply;
    if (result == MB_RESPONCE_EXCEPTION) {
      if (!reader.objects().empty()) break;
      std::string text;
      ExplainException(master.exception_function, master.exception_code, text);
      return Fail(kExitException, "The device has no device identification: it answers\n" + text);
    }
    if (result != MB_RESPONCE_OK) return Fail(kExitUnknownReply, ReplyErrorText(result));
    // A reply that says something else than asked is no identification to print.
    if (!ParseDeviceIdReply(master.ResponsePdu(), master.ResponsePduSize(), reply) || !reader.Take(reply)) {
      return FailUnreadable(master.ResponsePdu(), master.ResponsePduSize(), pdu[2]);
    }
  }
  for (const DeviceIdObject& o : reader.objects()) {
    std::printf("%s: %s\n", DeviceIdObjectName(o.id).c_str(), PrintableText(o.value).c_str());
  }
  return kExitOk;
}

}  // namespace vantrel::poll
