#include "sheet/PageRules.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "session/PollTexts.h"
#include "modbus/Framing.h"
#include "modbus/ModbusFrame.h"
#include "settings/ScannerSettings.h"

namespace vantrel {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Digits with an optional sign, blanks around them; false for anything else or for a
// number outside int.
bool ParseInt(const std::string& text, bool allowSign, int& value) {
  std::size_t i = 0, end = text.size();
  while (i < end && IsBlank(text[i])) ++i;
  while (end > i && IsBlank(text[end - 1])) --end;
  bool negative = false;
  if (allowSign && i < end && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == end) return false;
  long long magnitude = 0;
  for (; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > static_cast<long long>(INT_MAX) + 1) return false;
  }
  const long long signedValue = negative ? -magnitude : magnitude;
  if (signedValue > INT_MAX || signedValue < INT_MIN) return false;
  value = static_cast<int>(signedValue);
  return true;
}

template <typename Array, typename Value>
int IndexOf(const Array& entries, const Value& value) {
  const auto it = std::find(entries.begin(), entries.end(), value);
  return it == entries.end() ? -1 : static_cast<int>(it - entries.begin());
}

}  // namespace

std::string IntegerRangeMessage(int low, int high) {
  return "Please enter an integer between " + std::to_string(low) + " and " + std::to_string(high) + ".";
}

std::string CheckUnsignedEdit(const std::string& text, int& value) {
  int parsed = 0;
  if (!ParseInt(text, false, parsed)) return kPositiveIntegerMessage;
  value = parsed;
  return {};
}

namespace {
std::string CheckRangeEdit(const std::string& text, int low, int high, int& value) {
  int parsed = 0;
  if (std::string message = CheckUnsignedEdit(text, parsed); !message.empty()) return message;
  if (parsed < low || parsed > high) return IntegerRangeMessage(low, high);
  value = parsed;
  return {};
}
}  // namespace

std::string CheckSlaveIdEdit(const std::string& text, int& value) {
  int parsed = 0;
  if (CheckUnsignedEdit(text, parsed).empty() && parsed == 0) return PduRequestErrorText(MB_REQUEST_NO_BROADCAST);
  return CheckRangeEdit(text, kMinSlaveId, kMaxSlaveId, value);
}

std::string CheckOffsetEdit(const std::string& text, int& value) {
  return CheckRangeEdit(text, kMinOffset, kMaxOffset, value);
}

std::string CheckLengthEdit(const std::string& text, int& value) {
  return CheckRangeEdit(text, kMinLength, kMaxLength, value);
}

std::string CheckPollEdit(const std::string& text, int& periodMs) {
  std::size_t i = 0, end = text.size();
  while (i < end && IsBlank(text[i])) ++i;
  while (end > i && IsBlank(text[end - 1])) --end;
  if (i < end && text[i] == '+') ++i;
  long long ms = 0;
  int digits = 0, decimals = -1;  // decimals: -1 before the point
  for (; i < end; ++i) {
    if (text[i] == '.' && decimals < 0) {
      decimals = 0;
      continue;
    }
    // A negative period would poll as fast as the timers allow and never see a reply.
    if (text[i] < '0' || text[i] > '9' || decimals == 3) return kPollSecondsMessage;
    ms = ms * 10 + (text[i] - '0');
    ++digits;
    if (decimals >= 0) ++decimals;
    if (ms > INT_MAX) return kPollSecondsMessage;
  }
  if (digits == 0) return kPollSecondsMessage;
  for (int d = std::max(decimals, 0); d < 3; ++d) ms *= 10;
  if (ms > INT_MAX || (ms > 0 && ms < kMinPollPeriodMs)) return kPollSecondsMessage;
  periodMs = static_cast<int>(ms);
  return {};
}

ConnectionSelection SelectConnection(const ConnectionValues& v) {
  ConnectionSelection s;
  s.mode = v.modbus_mode >= 0 && v.modbus_mode < static_cast<int>(kModeEntries.size()) ? v.modbus_mode : -1;
  s.port = v.com_port >= 1 && v.com_port <= kPortCount ? v.com_port - 1 : -1;
  s.baud = IndexOf(kBaudRates, v.buad_rate);
  if (s.baud < 0) s.baud = IndexOf(kBaudRates, 9600);
  s.dataBits = v.data_bits == 7 ? 1 : 0;
  s.stopBits = v.stop_bits == 2 ? 2 : v.stop_bits == 3 ? 1 : 0;
  s.parity = std::max(IndexOf(kParityLetters, v.parity), 0);
  return s;
}

std::string CheckPortText(const std::string& text, int& comPort, std::string& devicePath) {
  std::size_t i = 0, end = text.size();
  while (i < end && IsBlank(text[i])) ++i;
  while (end > i && IsBlank(text[end - 1])) --end;
  const std::string typed = text.substr(i, end - i);
  if (!typed.empty() && typed[0] == '/' && StorableInSettings(typed)) {
    devicePath = typed;
    return {};
  }
  // "COMn", alone or as a list entry's start.
  if (typed.size() > 3 && (typed[0] == 'C' || typed[0] == 'c') && (typed[1] == 'O' || typed[1] == 'o') &&
      (typed[2] == 'M' || typed[2] == 'm')) {
    const std::size_t digitsEnd = typed.find_first_not_of("0123456789", 3);
    int n = 0;
    if (digitsEnd != 3 && (digitsEnd == std::string::npos || typed.compare(digitsEnd, 3, " - ") == 0) &&
        ParseInt(typed.substr(3, digitsEnd == std::string::npos ? std::string::npos : digitsEnd - 3), false, n) &&
        n >= 1 && n <= kPortCount) {
      comPort = n;
      devicePath.clear();
      return {};
    }
  }
  return kPortMessage;
}

std::string CheckHostEdit(const std::string& text, std::string& host) {
  std::size_t i = 0, end = text.size();
  while (i < end && IsBlank(text[i])) ++i;
  while (end > i && IsBlank(text[end - 1])) --end;
  const std::string typed = text.substr(i, end - i);
  if (typed.empty() || typed.find_first_of(" \t") != std::string::npos || !StorableInSettings(typed)) {
    return kHostMessage;
  }
  host = typed;
  return {};
}

std::string CheckTcpPortEdit(const std::string& text, int& port) { return CheckRangeEdit(text, 1, 65535, port); }

int TimeoutSecondsFor(int recvTimeOutMs) { return recvTimeOutMs > 0 ? recvTimeOutMs / 1000 : 0; }

ConnectionValues ReadConnection(const ConnectionSelection& s, int timeoutSeconds) {
  ConnectionValues v;
  v.recv_time_out = static_cast<int>(std::min<long long>(static_cast<long long>(timeoutSeconds) * 1000, INT_MAX));
  v.modbus_mode = s.mode;
  v.com_port = s.port + 1;
  v.buad_rate = s.baud >= 0 && s.baud < static_cast<int>(kBaudRates.size()) ? kBaudRates[static_cast<std::size_t>(s.baud)] : 9600;
  v.data_bits = s.dataBits == 1 ? 7 : 8;
  v.stop_bits = s.stopBits >= 0 && s.stopBits < static_cast<int>(kStopBitsCodes.size())
                    ? kStopBitsCodes[static_cast<std::size_t>(s.stopBits)]
                    : 1;
  v.parity = s.parity >= 0 && s.parity < static_cast<int>(kParityLetters.size())
                 ? kParityLetters[static_cast<std::size_t>(s.parity)]
                 : 'N';
  return v;
}

std::string PortEntryText(int portNumber, const PortEntry& entry, const std::string& folder) {
  const std::string name = "COM" + std::to_string(portNumber);
  if (entry.device.empty()) return name;
  if (entry.device == folder + "/" + name) return name + " - " + entry.description;
  std::string text = name + " - " + entry.device;
  if (!entry.description.empty()) text += " (" + entry.description + ")";
  return text;
}

int FunctionIndexFor(int functionCode) {
  return functionCode >= 1 && functionCode <= static_cast<int>(kFunctionEntries.size()) ? functionCode - 1 : -1;
}

int FunctionCodeFromIndex(int index) { return index >= 1 && index <= 3 ? index + 1 : 1; }

int BuildRequestPreview(int modbusMode, int functionCode, int requestId, int requestOffset, int requestLength,
                        std::string& preview) {
  preview.clear();
  const int check = CheckRequestSettings(functionCode, requestId, requestOffset, requestLength);
  if (check != MB_REQUEST_OK) return check;
  std::uint8_t frame[kFrameCapacity] = {};
  const int size = BuildReadRequest(static_cast<std::uint8_t>(functionCode), static_cast<std::uint8_t>(requestId),
                                    static_cast<std::uint16_t>(requestOffset),
                                    static_cast<std::uint16_t>(requestLength), frame);
  if (size <= 0) return size;
  ModbusMode mode = ModbusMode::Rtu;
  ModeFromInt(modbusMode, mode);
  const int pduSize = size - 3;  // between the slave id and the CRC
  switch (mode) {
    case ModbusMode::Ascii: {
      const std::string line = EncodeAscii(frame, size - 2);
      preview = line.substr(1, line.size() - 3);
      break;
    }
    case ModbusMode::Tcp: {
      // Transaction id 1, which the program's first request carries; each later one carries
      // the next, so a request on the line differs from this preview there only.
      std::uint8_t adu[kMbapHeaderSize + kFrameCapacity] = {};
      PutMbap(adu, 1, frame[0], pduSize);
      std::copy(frame + 1, frame + 1 + pduSize, adu + kMbapHeaderSize);
      preview = HexBytes(adu, kMbapHeaderSize + pduSize);
      break;
    }
    default:  // RTU, and RTU over TCP, which carries the same frame
      preview = HexBytes(frame, size);
      break;
  }
  return MB_REQUEST_OK;
}

int PollEntryFor(int pollPeriodMs) {
  for (std::size_t i = 0; i < kPollEntries.size(); ++i) {
    if (kPollEntries[i].seconds * 1000 == pollPeriodMs) return static_cast<int>(i);
  }
  return kCustomPollEntry;
}

PollReadBack ReadPoll(int selectedEntry, int editPeriodMs) {
  if (selectedEntry >= 0 && selectedEntry < static_cast<int>(kPollEntries.size())) {
    return {kPollEntries[static_cast<std::size_t>(selectedEntry)].seconds * 1000, false};
  }
  return {editPeriodMs, selectedEntry == kCustomPollEntry};
}

}  // namespace vantrel
