#include "PduOptions.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "session/WriteValues.h"

namespace vantrel::poll {
namespace {

struct Named {
  const char* option;
  PduKind kind;
  bool value;
};
constexpr Named kPduOptions[] = {
    {"--raw", PduKind::Raw, true},
    {"--diag", PduKind::Diagnostics, true},
    {"--report-id", PduKind::ReportServerId, false},
    {"--mask-write", PduKind::MaskWrite, true},
    {"--read-write", PduKind::ReadWrite, false},
    {"--fifo", PduKind::ReadFifo, true},
    {"--file-read", PduKind::ReadFileRecord, true},
    {"--exception-status", PduKind::ExceptionStatus, false},
    {"--event-counter", PduKind::EventCounter, false},
    {"--event-log", PduKind::EventLog, false},
};

// A whole number from low to high: decimal, or hex after 0x when hex is allowed.
bool Number(const std::string& text, long low, long high, bool hex, long& out) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  const bool prefixed = hex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  char* end = nullptr;
  errno = 0;
  out = std::strtol(text.c_str() + (prefixed ? 2 : 0), &end, prefixed ? 16 : 10);
  return errno == 0 && *end == '\0' && out >= low && out <= high;
}

// The text cut at each ':'.
std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> fields;
  std::size_t at = 0;
  for (std::size_t colon; (colon = text.find(':', at)) != std::string::npos; at = colon + 1) {
    fields.push_back(text.substr(at, colon - at));
  }
  fields.push_back(text.substr(at));
  return fields;
}

// Hex digits in pairs, blanks and commas between them ignored: "08 00 00 A5 37", "0800A537".
bool ParseHex(const std::string& text, std::vector<std::uint8_t>& bytes) {
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == ',' || c == '\t') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits += c;
  }
  if (digits.empty() || digits.size() % 2 != 0) return false;
  bytes.clear();
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
  }
  return true;
}

bool Reference(const std::string& text, int& reference) {
  long n = 0;
  if (!Number(text, 1, kMaxRequestOffset, false, n)) return false;
  reference = static_cast<int>(n);
  return true;
}

// The address a reference counted from 1 names on the wire.
std::uint16_t Address(int reference) { return static_cast<std::uint16_t>(WireAddress(reference)); }

}  // namespace

bool IsPduOption(const std::string& name, bool& takesValue) {
  for (const Named& n : kPduOptions) {
    if (name == n.option) {
      takesValue = n.value;
      return true;
    }
  }
  return false;
}

bool ParsePduOption(const std::string& name, const std::string& value, PduOption& pdu, std::string& error) {
  if (pdu.kind != PduKind::None) {
    error = pdu.option + " and " + name + " are two requests: give one of them";
    return false;
  }
  for (const Named& n : kPduOptions) {
    if (name == n.option) pdu.kind = n.kind;
  }
  pdu.option = name;
  const std::vector<std::string> f = Fields(value);
  long a = 0, b = 0, c = 0;
  switch (pdu.kind) {
    case PduKind::Raw:
      if (ParseHex(value, pdu.raw)) return true;
      error = "--raw: the PDU in hex, function code first, e.g. \"08 00 00 A5 37\" or 0800A537";
      return false;
    case PduKind::Diagnostics: {
      if (f.size() > 2 || !Number(f[0], 0, 0xFFFF, false, a)) {
        error = "--diag: SUB[:DATA], the sub-function in decimal (0 to 65535), the data in hex words, e.g. 0:A537 or 11";
        return false;
      }
      pdu.subFunction = static_cast<std::uint16_t>(a);
      pdu.data = {0};  // the one word every sub-function but 00 carries as 0000
      if (f.size() == 1) return true;
      std::vector<std::uint8_t> bytes;
      if (!ParseHex(f[1], bytes) || bytes.size() % 2 != 0) {
        error = "--diag: the data are hex words of four digits each, e.g. 0:A537 or 0:A5371234";
        return false;
      }
      pdu.data.clear();
      for (std::size_t i = 0; i < bytes.size(); i += 2) pdu.data.push_back(static_cast<std::uint16_t>(bytes[i] << 8 | bytes[i + 1]));
      return true;
    }
    case PduKind::MaskWrite:
      if (f.size() != 3 || !Reference(f[0], pdu.reference) || !Number(f[1], 0, 0xFFFF, true, a) ||
          !Number(f[2], 0, 0xFFFF, true, b)) {
        error = "--mask-write: REF:AND:OR, the holding register counted from 1 (1 to 65536) and the masks from 0 to "
                "65535 (0x for hex), e.g. 5:0xFFF0:0x0003";
        return false;
      }
      pdu.andMask = static_cast<std::uint16_t>(a);
      pdu.orMask = static_cast<std::uint16_t>(b);
      return true;
    case PduKind::ReadFifo:
      if (Reference(value, pdu.reference)) return true;
      error = "--fifo: the FIFO's pointer register, counted from 1 (1 to 65536)";
      return false;
    case PduKind::ReadFileRecord:
      if (f.size() != 3 || !Number(f[0], 0, 0xFFFF, false, a) || !Number(f[1], 0, 0xFFFF, false, b) ||
          !Number(f[2], 0, 0xFFFF, false, c)) {
        error = "--file-read: FILE:RECORD:LENGTH, e.g. 1:0:10 (file 1, records 0 to 9)";
        return false;
      }
      pdu.file = {static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(b), static_cast<std::uint16_t>(c)};
      return true;
    default:
      return true;
  }
}

bool ParseWriteReference(const std::string& value, PduOption& pdu, std::string& error) {
  if (Reference(value, pdu.reference)) return true;
  error = "--write-ref: the first holding register written, counted from 1 (1 to 65536)";
  return false;
}

std::string PreparePdu(PollConfig& config, bool typeGiven, const std::string& requestOption) {
  const std::string& option = config.pdu.option;
  const std::string one = option + " sends one request: ";
  if (config.periodMs > 0) return one + "leave out -l";
  if (!config.mapPath.empty() || config.IsMapWrite()) return one + "leave out --map";
  if (!config.workspace.empty() || !config.saveWorkspace.empty()) return one + "leave out --workspace and --save-workspace";
  if (config.scan || config.idInfo) return one + (config.scan ? "leave out --scan" : "leave out --id-info");
  if (config.csv || config.cells) {
    return std::string(config.csv ? "--csv" : "--cells") + " is for tables: " + option +
           " prints the reply and its fields (--json for programs)";
  }
  if (config.alwaysMultiple) return "--multiple is for the writes of values after the device, not for " + option;
  if (config.pdu.kind != PduKind::ReadWrite) {
    if (!requestOption.empty()) return option + " makes the whole request: leave out " + requestOption;
    if (config.IsWrite()) return option + " takes no values after the device";
    return "";
  }
  if (typeGiven && config.function != 3) {
    return "--read-write reads and writes holding registers: -t 4 (or 4:FORMAT for the values written)";
  }
  config.function = 3;
  if (!config.IsWrite()) return "--read-write writes the values after the device: give at least one";
  if (config.pdu.reference == 0) config.pdu.reference = config.offset;
  config.words.clear();
  std::vector<std::uint16_t> words;
  std::string error;
  for (const std::string& text : config.values) {
    if (!ParseWriteValue(text, config.format, words, error, config.wordOrder)) return error;
    config.words.insert(config.words.end(), words.begin(), words.end());
  }
  return "";
}

int MakePdu(const PollConfig& config, std::vector<std::uint8_t>& pdu) {
  const PduOption& p = config.pdu;
  RequestPdu r;
  switch (p.kind) {
    case PduKind::Raw:
      r.check = MB_REQUEST_OK;
      r.pdu = p.raw;
      break;
    case PduKind::Diagnostics: r = DiagnosticsPdu(p.subFunction, p.data); break;
    case PduKind::ReportServerId: r = ReportServerIdPdu(); break;
    case PduKind::MaskWrite: r = MaskWriteRegisterPdu(Address(p.reference), p.andMask, p.orMask); break;
    case PduKind::ReadWrite:
      r = ReadWriteRegistersPdu(Address(config.offset), config.length, Address(p.reference), config.words);
      break;
    case PduKind::ReadFifo: r = ReadFifoQueuePdu(Address(p.reference)); break;
    case PduKind::ReadFileRecord: r = ReadFileRecordPdu({p.file}); break;
    case PduKind::ExceptionStatus: r = ReadExceptionStatusPdu(); break;
    case PduKind::EventCounter: r = CommEventCounterPdu(); break;
    case PduKind::EventLog: r = CommEventLogPdu(); break;
    case PduKind::None: break;
  }
  pdu.clear();
  if (!r.ok()) return r.check;
  // The builders check the fields; to whom it goes (a broadcast) and a raw PDU, this does.
  const int check = CheckRequest(config.slaveId, r.pdu.data(), static_cast<int>(r.pdu.size()));
  if (check == MB_REQUEST_OK) pdu = std::move(r.pdu);
  return check;
}

}  // namespace vantrel::poll
