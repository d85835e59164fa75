#include "SlaveCore.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include "FileRecords.h"
#include "Version.h"
#include "modbus/DeviceIdentification.h"
#include "modbus/Functions.h"
#include "modbus/ModbusFrame.h"
#include "platform/Platform.h"

namespace vantrel::slave {
namespace {

// A whole number, all of text, in C's notation (0x1F, 017); read in 64 bits, so that the
// 32-bit values fit where a long has 32 bits (Windows).
bool ParseNumber(const std::string& text, long long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtoll(text.c_str(), &end, 0);
  return errno == 0 && end != nullptr && *end == '\0';
}

bool ParseNumber(const std::string& text, long& out) {
  long long v = 0;
  if (!ParseNumber(text, v) || v < LONG_MIN || v > LONG_MAX) return false;
  out = static_cast<long>(v);
  return true;
}

Fault Make(Fault::Kind kind, int arg = 0) {
  Fault f;
  f.kind = kind;
  f.arg = arg;
  return f;
}

std::vector<std::uint8_t> ExceptionReply(std::uint8_t id, std::uint8_t function, int code) {
  std::vector<std::uint8_t> r{id, static_cast<std::uint8_t>(function | 0x80),
                              static_cast<std::uint8_t>(code)};
  AppendCrc(r);
  return r;
}

// Every reply carries its CRC, so there are at least two bytes to replace.
void ReplaceCrc(std::vector<std::uint8_t>& frame) {
  frame.erase(frame.end() - 2, frame.end());
  AppendCrc(frame);
}

constexpr std::size_t kMaxPdu = 253;

// The longest RTU request a length can be given for: 23 with a byte count of 255. A frame
// longer than that overruns any buffer for a request.
constexpr std::size_t kMaxRtuRequest = 13 + 255;

// The writes that a broadcast carries out on every id.
bool BroadcastWrite(std::uint8_t function) {
  return IsWriteFunction(function) || function == kWriteFileRecord || function == kMaskWriteRegister;
}

unsigned Word(const std::uint8_t* p) { return static_cast<unsigned>(p[0] << 8 | p[1]); }

void Put16(std::vector<std::uint8_t>& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8 & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

std::string WriteRegisters(std::vector<std::uint16_t>& table, unsigned address, unsigned quantity,
                           const std::uint8_t* values) {
  for (unsigned i = 0; i < quantity; ++i) table[address + i] = static_cast<std::uint16_t>(Word(values + 2 * i));
  const std::string where = std::to_string(address);
  if (quantity == 1) return "wrote " + std::to_string(table[address]) + " to holding register " + where;
  return "wrote " + std::to_string(quantity) + " holding registers from address " + where;
}

const char* RestartText(bool clearLog) {
  return clearLog ? "counters and event log cleared" : "counters cleared, event log kept";
}

// The exception code for a well-framed request that cannot be served, 0 when it can.
// field is the quantity, or the value for 05 and 06, which write one item.
int Refusal(const std::uint8_t* frame, unsigned address, unsigned field) {
  unsigned quantity = field;
  switch (frame[1]) {
    case 1: case 2:
      if (field < 1 || field > 2000) return 0x03;
      break;
    case 3: case 4:
      if (field < 1 || field > 125) return 0x03;
      break;
    case 5:
      if (field != 0xFF00 && field != 0x0000) return 0x03;
      quantity = 1;
      break;
    case 6:
      quantity = 1;
      break;
    case 15:
      if (field < 1 || field > 1968 || frame[6] != (field + 7) / 8) return 0x03;
      break;
    case 16:
      if (field < 1 || field > 123 || frame[6] != 2 * field) return 0x03;
      break;
  }
  return address + quantity > MemoryImage::kSize ? 0x02 : 0;
}

}  // namespace

void AppendCrc(std::vector<std::uint8_t>& frame) {
  const std::uint16_t crc = Crc16(frame.data(), static_cast<std::uint16_t>(frame.size()));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
}

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(size * 3);
  for (std::size_t i = 0; i < size; ++i) {
    if (i) s += ' ';
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 15];
  }
  return s;
}

bool ParseFault(const std::string& spec, Fault& out, std::string& error) {
  const auto eq = spec.find('=');
  const std::string name = spec.substr(0, eq);
  const std::string value = eq == std::string::npos ? "" : spec.substr(eq + 1);
  long n = 0;
  const bool hasNumber = ParseNumber(value, n);
  struct Named {
    const char* name;
    Fault::Kind kind;
    bool needsValue;
  };
  static const Named kinds[] = {
      {"exception", Fault::Exception, true}, {"bad-crc", Fault::BadCrc, false},
      {"silence", Fault::Silence, false},    {"delay", Fault::Delay, true},
      {"split", Fault::Split, true},         {"garbage", Fault::Garbage, false},
      {"wrong-id", Fault::WrongId, false},   {"function", Fault::Function, true},
      {"noise", Fault::Noise, false},        {"short", Fault::Short, false},
      {"echo", Fault::Echo, false},          {"wrong-transaction", Fault::WrongTransaction, false},
      {"mbap-length", Fault::MbapLength, true}, {"close", Fault::Cut, false},
      {"garble", Fault::Garble, false},
  };
  for (const Named& k : kinds) {
    if (name != k.name) continue;
    const long most = k.kind == Fault::Exception || k.kind == Fault::Function ? 255
                      : k.kind == Fault::MbapLength                            ? 65535
                                                                               : 600000;
    if (k.needsValue && (!hasNumber || n < 0 || n > most)) {
      error = "fault '" + name + "' needs a value, e.g. " + name + "=2";
      return false;
    }
    if (!k.needsValue && eq != std::string::npos) {
      error = "fault '" + name + "' takes no value";
      return false;
    }
    out = Make(k.kind, static_cast<int>(n));
    return true;
  }
  error = "unknown fault '" + spec + "'";
  return false;
}

std::map<int, Fault> DefaultFaultOffsets() {
  std::map<int, Fault> m;
  for (int code = 1; code <= 11; ++code) m[9000 + code] = Make(Fault::Exception, code);
  m[9020] = Make(Fault::BadCrc);
  m[9021] = Make(Fault::Silence);
  m[9022] = Make(Fault::Delay, 500);
  m[9023] = Make(Fault::Split, 300);
  m[9024] = Make(Fault::Garbage);
  m[9025] = Make(Fault::WrongId);
  m[9026] = Make(Fault::Function, 0x66);
  m[9027] = Make(Fault::Function, 0x05);
  m[9028] = Make(Fault::Function, 0x00);
  m[9029] = Make(Fault::Echo);
  m[9030] = Make(Fault::WrongTransaction);
  m[9031] = Make(Fault::MbapLength, 65535);
  m[9032] = Make(Fault::Cut);
  return m;
}

MemoryImage MemoryImage::Pattern(FileLayout layout) {
  MemoryImage m;
  for (std::size_t a = 0; a < kSize; ++a) {
    m.coils[a] = (a % 2 == 0) ? 1 : 0;
    m.discrete[a] = (a % 3 == 0) ? 1 : 0;
    m.holding[a] = static_cast<std::uint16_t>(a + 1);
    m.input[a] = static_cast<std::uint16_t>((a + 1) * 10);
  }
  m.files.resize(static_cast<std::size_t>(layout.files));
  for (std::size_t f = 0; f < m.files.size(); ++f) {
    auto& records = m.files[f];
    records.resize(static_cast<std::size_t>(layout.records));
    for (std::size_t r = 0; r < records.size(); ++r) records[r] = static_cast<std::uint16_t>((f + 1) * 10000 + r);
  }
  return m;
}

bool MemoryImage::ApplyLine(const std::string& raw, std::string& error) {
  std::string line = raw.substr(0, raw.find('#'));
  std::istringstream in(line);
  std::string table, range, type, value;
  if (!(in >> table)) return true;  // empty or comment
  // A file's records are registers of their own table, named by the file's number.
  std::vector<std::uint16_t>* records = nullptr;
  if (table == "file") {
    std::string number;
    long n = 0;
    if (!(in >> number) || !ParseNumber(number, n) || n < 1 || n > static_cast<long>(files.size())) {
      error = files.empty() ? "there are no files" : "expected: file F RECORD[-LAST] [TYPE] VALUE, F 1 to " +
                                                         std::to_string(files.size());
      return false;
    }
    records = &files[static_cast<std::size_t>(n - 1)];
  }
  if (!(in >> range >> type)) {
    error = "expected: TABLE ADDRESS[-LAST] [TYPE] VALUE";
    return false;
  }
  if (!(in >> value)) {
    value = type;
    type = "u16";
  }
  std::string extra;
  if (in >> extra) {
    error = "unexpected '" + extra + "'";
    return false;
  }
  long first = 0, last = 0;
  const auto dash = range.find('-');
  bool ok = ParseNumber(range.substr(0, dash), first);
  if (dash == std::string::npos) {
    last = first;
  } else {
    ok = ok && ParseNumber(range.substr(dash + 1), last);
  }
  const long size = records != nullptr ? static_cast<long>(records->size()) : static_cast<long>(kSize);
  if (!ok || first < 0 || last < first || last >= size) {
    error = "bad " + std::string(records != nullptr ? "record" : "address") + " '" + range + "' (0 to " +
            std::to_string(size - 1) + ", or FIRST-LAST)";
    return false;
  }

  const bool bits = table == "coil" || table == "discrete";
  std::vector<std::uint16_t>* regs = table == "holding" ? &holding : table == "input" ? &input : records;
  if (!bits && regs == nullptr) {
    error = "unknown table '" + table + "' (coil, discrete, holding, input, file)";
    return false;
  }
  if (bits) {
    long v = 0;
    if (type != "u16" || !ParseNumber(value, v) || (v != 0 && v != 1)) {
      error = "a coil or discrete input is 0 or 1";
      return false;
    }
    auto& t = table == "coil" ? coils : discrete;
    for (long a = first; a <= last; ++a) t[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(v);
    return true;
  }

  // 32-bit values take two registers, the low-order word first (as the program pairs them).
  std::uint32_t word32 = 0;
  int width = 1;
  if (type == "u16" || type == "i16") {
    long v = 0;
    if (!ParseNumber(value, v) || v < -32768 || v > 65535) {
      error = "bad 16-bit value '" + value + "'";
      return false;
    }
    word32 = static_cast<std::uint16_t>(v);
  } else if (type == "u32" || type == "i32") {
    long long v = 0;
    if (!ParseNumber(value, v) || v < -2147483648LL || v > 4294967295LL) {
      error = "bad 32-bit value '" + value + "'";
      return false;
    }
    word32 = static_cast<std::uint32_t>(v);
    width = 2;
  } else if (type == "float") {
    char* end = nullptr;
    const float f = std::strtof(value.c_str(), &end);
    if (end == value.c_str() || *end != '\0') {
      error = "bad float '" + value + "'";
      return false;
    }
    std::memcpy(&word32, &f, 4);
    width = 2;
  } else {
    error = "unknown type '" + type + "' (u16, i16, u32, i32, float)";
    return false;
  }
  if (last + width - 1 >= size) {
    error = "a 32-bit value needs two registers";
    return false;
  }
  for (long a = first; a <= last; a += width) {
    (*regs)[static_cast<std::size_t>(a)] = static_cast<std::uint16_t>(word32 & 0xFFFF);
    if (width == 2) (*regs)[static_cast<std::size_t>(a + 1)] = static_cast<std::uint16_t>(word32 >> 16);
  }
  return true;
}

bool MemoryImage::Load(const std::string& path, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = path + ": cannot be read";
    return false;
  }
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string why;
    if (!ApplyLine(line, why)) {
      error = path + ":" + std::to_string(n) + ": " + why;
      return false;
    }
  }
  return true;
}

std::string MemoryImage::Text() const {
  return "# vantrel-slave memory image: the values that differ from the default pattern\n" + Lines();
}

std::string MemoryImage::Lines() const {
  FileLayout layout;
  layout.files = static_cast<int>(files.size());
  layout.records = files.empty() ? 0 : static_cast<int>(files.front().size());
  const MemoryImage pattern = Pattern(layout);
  std::string out;
  // Runs of equal values, from their first entry that differs from the pattern to their
  // last: entries between that happen to equal the pattern (every other coil) do not cut
  // a run of written coils into single lines.
  const auto table = [&out](const std::string& name, const auto& now, const auto& was) {
    const std::size_t size = now.size();
    for (std::size_t a = 0; a < size;) {
      std::size_t first = size, last = 0, end = a;
      for (; end < size && now[end] == now[a]; ++end) {
        if (now[end] == was[end]) continue;
        first = std::min(first, end);
        last = end;
      }
      if (first < size) {
        out += name + ' ' + std::to_string(first);
        if (last > first) out += '-' + std::to_string(last);
        out += ' ' + std::to_string(now[a]) + '\n';
      }
      a = end;
    }
  };
  table("coil", coils, pattern.coils);
  table("discrete", discrete, pattern.discrete);
  table("holding", holding, pattern.holding);
  table("input", input, pattern.input);
  for (std::size_t f = 0; f < files.size(); ++f) table("file " + std::to_string(f + 1), files[f], pattern.files[f]);
  return out;
}

bool MemoryImage::Save(const std::string& path, std::string& error) const { return SaveText(path, Text(), error); }

bool SaveText(const std::string& path, const std::string& text, std::string& error) {
  namespace platform = vantrel::platform;
  const std::string temp = path + ".tmp" + std::to_string(platform::ProcessId());
  platform::RemoveFile(temp);  // one that a process of the same id left behind
  const int fd = platform::CreateNewFile(temp);
  if (fd < 0) {
    error = "cannot save the image to " + path + ": " + platform::ErrorText(errno);
    return false;
  }
  int why = 0;
  if (!platform::WriteAll(fd, text.data(), text.size()) || !platform::FlushFile(fd)) why = errno;
  if (!platform::CloseFile(fd) && why == 0) why = errno;
  if (why == 0 && !platform::RenameOver(temp, path)) why = errno;
  if (why != 0) {
    platform::RemoveFile(temp);
    error = "cannot save the image to " + path + ": " + platform::ErrorText(why);
    return false;
  }
  return true;
}

bool ParseIdList(const std::string& text, std::vector<std::uint8_t>& ids, std::string& error) {
  std::vector<std::uint8_t> out;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string item = text.substr(at, comma - at);
    const std::size_t dash = item.find('-');
    long first = 0, last = 0;
    bool ok = ParseNumber(item.substr(0, dash), first);
    if (dash == std::string::npos) {
      last = first;
    } else {
      ok = ok && ParseNumber(item.substr(dash + 1), last);
    }
    if (!ok || first < 1 || last > 247 || last < first) {
      error = "bad slave id '" + item + "' (1 to 247, or FIRST-LAST, separated by commas)";
      return false;
    }
    for (long id = first; id <= last; ++id) out.push_back(static_cast<std::uint8_t>(id));
    at = comma + 1;
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  ids = std::move(out);
  return true;
}

std::string IdListText(const std::vector<std::uint8_t>& ids) {
  std::string text;
  for (std::size_t i = 0; i < ids.size();) {
    std::size_t end = i + 1;
    while (end < ids.size() && ids[end] == ids[end - 1] + 1) ++end;
    if (!text.empty()) text += ',';
    text += std::to_string(ids[i]);
    if (end - i >= 3) {
      text += '-' + std::to_string(ids[end - 1]);
      i = end;
    } else {
      ++i;
    }
  }
  return text;
}

bool MemoryImage::ApplyMap(const vantrel::RegisterMap& map, std::string& error) {
  using vantrel::MapTable;
  for (const vantrel::MapItem& item : map.items) {
    if (item.value.empty()) continue;
    // Read-only items start with their value too: the simulator is the device.
    vantrel::MapItem settable = item;
    settable.writable = true;
    const auto first = static_cast<std::size_t>(item.address - 1);
    const bool bits = vantrel::IsBitTable(item.table);
    std::vector<std::uint16_t>& words = item.table == MapTable::Input ? input : holding;
    std::vector<std::uint16_t> raw;
    if (item.type == vantrel::MapType::Bit) raw.push_back(words.at(first));
    if (!vantrel::EncodeItem(settable, item.value, vantrel::WordOrder::LowFirst, raw, error)) return false;
    if (first + raw.size() > kSize) {
      error = "\"" + item.name + "\" lies past the last address";
      return false;
    }
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (bits) {
        (item.table == MapTable::Coil ? coils : discrete)[first + i] = raw[i] != 0 ? 1 : 0;
      } else {
        words[first + i] = raw[i];
      }
    }
  }
  return true;
}

SlaveCore::SlaveCore(std::uint8_t id, MemoryImage image, Fault everyReply, std::map<int, Fault> byOffset)
    : SlaveCore(std::vector<std::uint8_t>{id}, std::move(image), everyReply, std::move(byOffset)) {}

SlaveCore::SlaveCore(std::vector<std::uint8_t> ids, MemoryImage image, Fault everyReply,
                     std::map<int, Fault> byOffset)
    : ids_(std::move(ids)), common_(std::move(image)), every_(everyReply), byOffset_(std::move(byOffset)),
      comm_(ids_.size()) {}

bool SlaveCore::Serves(std::uint8_t id) const { return std::binary_search(ids_.begin(), ids_.end(), id); }

MemoryImage& SlaveCore::image(std::uint8_t id) {
  if (!Serves(id)) return common_;
  const auto it = own_.find(id);
  return it != own_.end() ? it->second : own_.emplace(id, common_).first->second;
}

const MemoryImage& SlaveCore::image(std::uint8_t id) const {
  const auto it = own_.find(id);
  return it != own_.end() ? it->second : common_;
}

bool SlaveCore::ApplyMap(const vantrel::RegisterMap& map, std::string& error) {
  if (!common_.ApplyMap(map, error)) return false;
  for (auto& [id, own] : own_) {
    if (!own.ApplyMap(map, error)) return false;
  }
  return true;
}

bool SlaveCore::Load(const std::string& path, std::string& error, std::string* note) {
  std::ifstream in(path);
  if (!in) {
    error = path + ": cannot be read";
    return false;
  }
  std::vector<std::uint8_t> section;  // the ids of the last "id" line
  bool inSection = false;
  std::vector<std::uint8_t> skipped;
  std::optional<MemoryImage> check;  // for lines of ids not served, which are still checked
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line.substr(0, line.find('#')));
    std::string first, list, extra;
    std::string why;
    words >> first;
    if (first == "id") {
      if (!(words >> list) || (words >> extra) || !ParseIdList(list, section, why)) {
        error = path + ":" + std::to_string(n) + ": " + (why.empty() ? "expected: id LIST, e.g. id 3,17-20" : why);
        return false;
      }
      inSection = true;
      for (std::uint8_t id : section) {
        if (!Serves(id)) skipped.push_back(id);
      }
      continue;
    }
    bool ok = true;
    if (!inSection) {
      // Lines for every id: the tables they start with, and those already of their own.
      ok = common_.ApplyLine(line, why);
      for (auto& [id, own] : own_) ok = ok && own.ApplyLine(line, why);
    } else {
      bool served = false;
      for (std::uint8_t id : section) {
        if (!Serves(id)) continue;
        served = true;
        ok = ok && image(id).ApplyLine(line, why);
      }
      if (!served) ok = (check ? *check : check.emplace(common_)).ApplyLine(line, why);
    }
    if (!ok) {
      error = path + ":" + std::to_string(n) + ": " + why;
      return false;
    }
  }
  std::sort(skipped.begin(), skipped.end());
  skipped.erase(std::unique(skipped.begin(), skipped.end()), skipped.end());
  if (note) *note = skipped.empty() ? "" : path + ": lines for ids not served skipped: " + IdListText(skipped);
  return true;
}

std::string SlaveCore::Text() const {
  if (ids_.size() == 1) return image(ids_.front()).Text();
  std::string out = "# vantrel-slave memory images: per slave id, the values that differ from the default pattern\n";
  for (std::uint8_t id : ids_) {
    const std::string lines = image(id).Lines();
    if (!lines.empty()) out += "id " + std::to_string(id) + '\n' + lines;
  }
  return out;
}

bool SlaveCore::Save(const std::string& path, std::string& error) const { return SaveText(path, Text(), error); }

int SlaveCore::RequestLength(const std::uint8_t* bytes, std::size_t size) {
  if (size < 2) return 0;
  switch (bytes[1]) {
    case 1: case 2: case 3: case 4: case 5: case 6:
      return 8;
    case 15: case 16:
      return size < 7 ? 0 : 9 + bytes[6];
    case kReadExceptionStatus: case kGetCommEventCounter: case kGetCommEventLog: case kReportServerId:
      return 4;
    case kDiagnostics:  // Return Query Data (00) carries data of any length; the others two bytes
      return size < 4 ? 0 : bytes[2] == 0 && bytes[3] == 0 ? -1 : 8;
    case kReadFileRecord: case kWriteFileRecord:
      return size < 3 ? 0 : 5 + bytes[2];
    case kMaskWriteRegister:
      return 10;
    case kReadWriteMultipleRegisters:
      return size < 11 ? 0 : 13 + bytes[10];
    case kReadFifoQueue:
      return 6;
    case kEncapsulatedInterface:  // Read Device Identification: id, 2B 0E code object, CRC
      return size < 3 ? 0 : bytes[2] == kMeiReadDeviceId ? 7 : -1;
    default:
      return -1;
  }
}

RequestSpan SlaveCore::FindRequest(ModbusMode mode, const std::uint8_t* bytes, std::size_t size) {
  RequestSpan span;
  if (mode == ModbusMode::Tcp) {
    if (size < 6) return span;
    const unsigned length = static_cast<unsigned>(bytes[4] << 8 | bytes[5]);
    if (!MbapLengthPossible(length)) {
      span.length = RequestSpan::kImpossible;
    } else if (size >= 6 + length) {
      span.length = static_cast<int>(6 + length);
    }
    return span;
  }
  if (mode == ModbusMode::Ascii) {
    // From ':' to CR LF; a ':' starts the frame afresh, and bytes before it are noise.
    static const std::uint8_t kCrLf[] = {'\r', '\n'};
    const std::uint8_t* end = bytes + size;
    const std::uint8_t* crlf = std::search(bytes, end, kCrLf, kCrLf + 2);
    const auto opening = std::find(std::make_reverse_iterator(crlf), std::make_reverse_iterator(bytes), ':');
    const std::uint8_t* start = opening == std::make_reverse_iterator(bytes) ? crlf : opening.base() - 1;
    if (crlf == end) {
      // not whole yet, unless it is longer than any frame
      span.overflow = start != end && size - static_cast<std::size_t>(start - bytes) > kMaxAsciiFrame;
      span.skip = start == end || span.overflow ? size : static_cast<std::size_t>(start - bytes);
      return span;
    }
    if (start == crlf) {  // a CR LF with no frame before it
      span.skip = static_cast<std::size_t>(crlf - bytes) + 2;
      return span;
    }
    span.skip = static_cast<std::size_t>(start - bytes);
    span.length = static_cast<int>(crlf + 2 - start);
    return span;
  }
  const int length = RequestLength(bytes, size);
  span.length = length > 0 && static_cast<std::size_t>(length) > size ? 0 : length;
  return span;
}

std::vector<std::uint8_t> SlaveCore::Normal(const MemoryImage& image, const std::uint8_t* frame, unsigned address,
                                            unsigned quantity) {
  const std::uint8_t function = frame[1];
  if (IsWriteFunction(function)) {
    // 05 and 06 echo the whole request; 15 and 16 its address and quantity.
    std::vector<std::uint8_t> r(frame, frame + 6);
    AppendCrc(r);
    return r;
  }
  std::vector<std::uint8_t> r{frame[0], function, 0};
  if (function == 1 || function == 2) {
    const auto& t = function == 1 ? image.coils : image.discrete;
    r.resize(3 + (quantity + 7) / 8);
    for (unsigned i = 0; i < quantity; ++i) {
      if (t[address + i]) r[3 + i / 8] = static_cast<std::uint8_t>(r[3 + i / 8] | (1U << (i % 8)));
    }
  } else {
    const auto& t = function == 3 ? image.holding : image.input;
    for (unsigned i = 0; i < quantity; ++i) {
      r.push_back(static_cast<std::uint8_t>(t[address + i] >> 8));
      r.push_back(static_cast<std::uint8_t>(t[address + i] & 0xFF));
    }
  }
  r[2] = static_cast<std::uint8_t>(r.size() - 3);
  AppendCrc(r);
  return r;
}

std::string SlaveCore::Apply(MemoryImage& image, const std::uint8_t* frame, std::size_t size) {
  const unsigned address = Word(frame + 2);
  const std::string where = std::to_string(address);
  switch (frame[1]) {
    case kWriteSingleCoil:
      image.coils[address] = frame[4] == 0xFF ? 1 : 0;
      return "wrote " + std::to_string(image.coils[address]) + " to coil " + where;
    case kWriteMultipleCoils: {
      const unsigned quantity = Word(frame + 4);
      for (unsigned i = 0; i < quantity; ++i) {
        image.coils[address + i] = static_cast<std::uint8_t>((frame[7 + i / 8] >> (i % 8)) & 1U);
      }
      if (quantity == 1) return "wrote " + std::to_string(image.coils[address]) + " to coil " + where;
      return "wrote " + std::to_string(quantity) + " coils from address " + where;
    }
    case kWriteSingleRegister:
      return WriteRegisters(image.holding, address, 1, frame + 4);
    case kWriteMultipleRegisters:
      return WriteRegisters(image.holding, address, Word(frame + 4), frame + 7);
    case kReadWriteMultipleRegisters:
      return WriteRegisters(image.holding, Word(frame + 6), Word(frame + 8), frame + 11);
    case kMaskWriteRegister: {
      const unsigned was = image.holding[address];
      const unsigned andMask = Word(frame + 4);
      const unsigned orMask = Word(frame + 6);
      image.holding[address] = static_cast<std::uint16_t>((was & andMask) | (orMask & ~andMask));
      char masks[40];
      std::snprintf(masks, sizeof masks, "(was %u; AND 0x%04X, OR 0x%04X)", was, andMask, orMask);
      return "wrote " + std::to_string(image.holding[address]) + " to holding register " + where + " " + masks;
    }
    case kWriteFileRecord: {
      std::vector<RecordRange> ranges;
      CheckFileRequest(image.files, frame + 1, size - 3, ranges);
      return WriteFileRecords(image.files, frame + 1, ranges);
    }
    default:
      return "";
  }
}

std::optional<Reply> SlaveCore::Answer(const std::uint8_t* frame, std::size_t size,
                                       std::string* change) {
  if (change) change->clear();
  // Every frame on the line is a message on the bus for every device there, whoever it is for.
  for (CommState& state : comm_) state.Count(CommState::BusMessages);
  if (mode_ == ModbusMode::Rtu || mode_ == ModbusMode::RtuOverTcp) {
    if (size > kMaxRtuRequest) {
      NoteOverrun();
      return std::nullopt;
    }
    auto reply = AnswerRtu(frame, size, change);
    if (reply && reply->fault.kind == Fault::Garble) GarbleBytes(reply->bytes);
    return reply;
  }
  // The answers are worked out on RTU frames, so that every fault means the same in every
  // mode: the request's slave id and PDU go in with a CRC, the reply comes back reframed.
  std::vector<std::uint8_t> rtu(size);
  std::uint16_t transaction = 0;
  if (mode_ == ModbusMode::Ascii) {
    const int n = size < 3 || frame[0] != ':' ? 0
                  : DecodeAsciiHex(frame + 1, static_cast<int>(size) - 3, rtu.data(), static_cast<int>(rtu.size()));
    // A bad LRC is treated as a bad CRC: no reply.
    if (n < 3 || Lrc(rtu.data(), n - 1) != rtu[static_cast<std::size_t>(n - 1)]) {
      LineError();
      return std::nullopt;
    }
    rtu.resize(static_cast<std::size_t>(n - 1));
  } else {
    if (size < kMbapHeaderSize + 1) {
      LineError();
      return std::nullopt;
    }
    const MbapHeader header = ParseMbap(frame);
    if (header.protocol != 0) return std::nullopt;  // not Modbus
    transaction = header.transaction;
    rtu.assign(frame + kMbapHeaderSize - 1, frame + size);  // the unit id and the PDU
  }
  AppendCrc(rtu);
  auto reply = AnswerRtu(rtu.data(), rtu.size(), change);
  if (reply) Reframe(*reply, transaction);
  // After the framing, so that no frame of the mode is left whole.
  if (reply && reply->fault.kind == Fault::Garble) GarbleBytes(reply->bytes);
  return reply;
}

Fault SlaveCore::FaultFor(std::uint8_t id, const unsigned* address) const {
  if (lineMismatch_) return Make(Fault::Garble);
  if (address != nullptr) {
    const auto at = byOffset_.find(static_cast<int>(*address) + 1);
    if (at != byOffset_.end()) return at->second;
  }
  const auto forId = byId_.find(id);
  return forId != byId_.end() ? forId->second : every_;
}

void GarbleBytes(std::vector<std::uint8_t>& bytes) {
  for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(~b);
  if (bytes.size() < 3) return;
  const std::size_t body = bytes.size() - 2;
  const std::uint16_t crc = Crc16(bytes.data(), static_cast<std::uint16_t>(body));
  if (bytes[body] == (crc >> 8) && bytes[body + 1] == (crc & 0xFF)) bytes.back() ^= 0x01;
}

void SlaveCore::Reframe(Reply& reply, std::uint16_t transaction) const {
  if (reply.fault.kind == Fault::Garbage) return;  // bytes that are no frame in any mode
  const std::size_t noise = reply.fault.kind == Fault::Noise ? 1 : 0;
  const std::uint8_t* body = reply.bytes.data() + noise;  // the slave id and the PDU
  const int size = static_cast<int>(reply.bytes.size() - noise - 2);
  std::vector<std::uint8_t> framed(reply.bytes.begin(), reply.bytes.begin() + static_cast<long>(noise));
  if (mode_ == ModbusMode::Ascii) {
    std::string line = EncodeAscii(body, size);
    if (reply.fault.kind == Fault::BadCrc) {
      char lrc[3];
      std::snprintf(lrc, sizeof lrc, "%02X", Lrc(body, size) ^ 0xFF);
      line.replace(line.size() - 4, 2, lrc);  // the LRC's characters, before CR LF
    }
    framed.insert(framed.end(), line.begin(), line.end());
  } else {
    std::uint8_t header[kMbapHeaderSize];
    const bool other = reply.fault.kind == Fault::WrongTransaction;
    PutMbap(header, static_cast<std::uint16_t>(transaction + (other ? 1 : 0)), body[0], size - 1);
    if (reply.fault.kind == Fault::MbapLength) {
      header[4] = static_cast<std::uint8_t>(reply.fault.arg >> 8);
      header[5] = static_cast<std::uint8_t>(reply.fault.arg & 0xFF);
    }
    framed.insert(framed.end(), header, header + kMbapHeaderSize);
    framed.insert(framed.end(), body + 1, body + size);
  }
  if (reply.splitAt > 0) reply.splitAt = framed.size() / 2;
  reply.bytes = std::move(framed);
}

bool SlaveCore::CorrectReply(Fault::Kind fault) const {
  const bool tcp = mode_ == ModbusMode::Tcp;
  switch (fault) {
    case Fault::None:
    case Fault::Delay:
    case Fault::Split:
    case Fault::Short:
      return true;
    case Fault::Noise:  // a stray byte before an MBAP header breaks the stream
    case Fault::WrongTransaction:
    case Fault::MbapLength:
      return !tcp;
    case Fault::BadCrc:  // Modbus TCP has no check to spoil
      return tcp;
    default:
      return false;
  }
}

// What a request asks, worked out before any fault: the reply a correct device gives, and
// what decides how faults and effects apply to it.
struct SlaveCore::Handling {
  std::vector<std::uint8_t> reply;  // RTU, with its CRC; empty when the function has none (08/04)
  int refusal = 0;                  // the exception code of the reply; 0 when it serves
  bool plain = false;               // no function served, or badly framed: a plain exception, no fault
  bool hasAddress = false;          // the address that faults by offset go by
  unsigned address = 0;
  bool changes = false;             // a write: carried out once its correct reply goes out
  DiagnosticsAnswer::Effect diagnostics = DiagnosticsAnswer::None;
  bool echoesAddress = false;       // the reply names the address written: the echo fault's
  int shortBy = 0;                  // bytes the short fault takes off a normal read reply
  bool deviceId = false;            // 43/14: the short fault leaves out an object
};

SlaveCore::Handling SlaveCore::Handle(std::uint8_t id, const std::uint8_t* frame, std::size_t size) const {
  Handling h;
  const std::uint8_t function = frame[1];
  const std::uint8_t* pdu = frame + 1;
  const std::size_t pduSize = size - 3;
  // A broadcast reads the first id's tables for a reply that nobody gets. Read through the
  // const accessor: a read makes no copy of the tables.
  const MemoryImage& tables = image(id == 0 ? ids_.front() : id);
  const auto plain = [&](int code) {
    h.plain = true;
    h.refusal = code;
    h.reply = ExceptionReply(id, function, code);
    return h;
  };
  std::vector<std::uint8_t> out{function};  // the reply PDU, for the functions below the first
  switch (function) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 15: case 16: {
      const bool multiple = function == 15 || function == 16;
      if (multiple ? size < 7 || size != 9U + frame[6] : size != 8) return plain(0x03);
      const bool write = IsWriteFunction(function);
      const unsigned field = Word(frame + 4);
      h.hasAddress = true;
      h.address = Word(frame + 2);
      h.refusal = Refusal(frame, h.address, field);
      if (h.refusal == 0 && write && readOnly_) h.refusal = 0x01;
      h.changes = write;
      h.echoesAddress = write;
      h.shortBy = write ? 0 : function <= 2 ? 1 : 2;
      h.reply = h.refusal ? ExceptionReply(id, function, h.refusal)
                          : Normal(tables, frame, h.address, write && !multiple ? 1 : field);
      return h;
    }
    case kReadExceptionStatus: {
      if (size != 4) return plain(0x03);
      unsigned status = 0;
      for (unsigned i = 0; i < 8; ++i) status |= static_cast<unsigned>(tables.coils[i]) << i;
      out.push_back(static_cast<std::uint8_t>(server_.exceptionStatus >= 0 ? server_.exceptionStatus : status));
      break;
    }
    case kDiagnostics: {
      // Return Query Data echoes what came, so no more than a reply can carry may come.
      if (size < 6 || pduSize > kMaxPdu) return plain(0x03);
      DiagnosticsAnswer a = AnswerDiagnostics(comm(id), pdu, pduSize);
      h.diagnostics = a.effect;
      out = std::move(a.pdu);
      if (out.empty()) return h;  // Force Listen Only Mode: never answered
      break;
    }
    case kGetCommEventCounter:
    case kGetCommEventLog:
      if (size != 4) return plain(0x03);
      out = function == kGetCommEventCounter ? AnswerEventCounter(comm(id)) : AnswerEventLog(comm(id));
      break;
    case kReportServerId:
      if (size != 4) return plain(0x03);
      out.push_back(static_cast<std::uint8_t>(2 + server_.data.size()));
      out.push_back(static_cast<std::uint8_t>(server_.serverId >= 0 ? server_.serverId : id));
      out.push_back(server_.running ? 0xFF : 0x00);
      out.insert(out.end(), server_.data.begin(), server_.data.end());
      break;
    case kReadFileRecord:
    case kWriteFileRecord: {
      std::vector<RecordRange> ranges;
      h.refusal = CheckFileRequest(tables.files, pdu, pduSize, ranges);
      const bool write = function == kWriteFileRecord;
      if (h.refusal == 0 && write && readOnly_) h.refusal = 0x01;
      // Faults by offset go by the first record asked for, counted from 1 as offsets are.
      h.hasAddress = size >= 10;
      h.address = h.hasAddress ? Word(frame + 6) : 0;
      h.changes = write;
      if (h.refusal == 0) out = write ? std::vector<std::uint8_t>(pdu, pdu + pduSize) : ReadFileRecords(tables.files, ranges);
      break;
    }
    case kMaskWriteRegister:
      if (size != 10) return plain(0x03);
      h.hasAddress = true;
      h.address = Word(frame + 2);
      h.refusal = readOnly_ ? 0x01 : 0;
      h.changes = true;
      h.echoesAddress = true;
      out.assign(pdu, pdu + pduSize);
      break;
    case kReadWriteMultipleRegisters: {
      if (size < 13 || size != 13U + frame[10]) return plain(0x03);
      const unsigned read = Word(frame + 2), reads = Word(frame + 4);
      const unsigned write = Word(frame + 6), writes = Word(frame + 8);
      h.hasAddress = true;
      h.address = read;
      if (reads < 1 || reads > 125 || writes < 1 || writes > 121 || frame[10] != 2 * writes) {
        h.refusal = 0x03;
      } else if (read + reads > MemoryImage::kSize || write + writes > MemoryImage::kSize) {
        h.refusal = 0x02;
      } else if (readOnly_) {
        h.refusal = 0x01;
      }
      h.changes = true;
      h.shortBy = 2;
      if (h.refusal != 0) break;
      // The write goes first: a register both written and read reads the value written.
      out.push_back(static_cast<std::uint8_t>(2 * reads));
      for (unsigned a = read; a < read + reads; ++a) {
        const bool written = a >= write && a < write + writes;
        Put16(out, written ? Word(frame + 11 + 2 * (a - write)) : tables.holding[a]);
      }
      break;
    }
    case kReadFifoQueue: {
      if (size != 6) return plain(0x03);
      const unsigned pointer = Word(frame + 2);
      h.hasAddress = true;
      h.address = pointer;
      const unsigned count = tables.holding[pointer];
      if (!fifos_.empty() && !std::binary_search(fifos_.begin(), fifos_.end(), pointer)) {
        h.refusal = 0x02;
      } else if (count > 31) {
        h.refusal = 0x03;
      } else if (pointer + count >= MemoryImage::kSize) {
        h.refusal = 0x02;
      } else {
        Put16(out, 2 + 2 * count);
        Put16(out, count);
        for (unsigned i = 1; i <= count; ++i) Put16(out, tables.holding[pointer + i]);
      }
      break;
    }
    case kEncapsulatedInterface:
      out = AnswerDeviceId(identity_, pdu, pduSize);
      h.deviceId = true;
      h.refusal = out[0] & 0x80 ? out[1] : 0;
      break;
    default:
      return plain(0x01);
  }
  if (h.refusal != 0 && !h.deviceId && !(out[0] & 0x80)) out = {static_cast<std::uint8_t>(function | 0x80),
                                                                  static_cast<std::uint8_t>(h.refusal)};
  if (out[0] & 0x80) h.refusal = out[1];
  h.reply.assign(1, id);
  h.reply.insert(h.reply.end(), out.begin(), out.end());
  AppendCrc(h.reply);
  return h;
}

std::optional<Reply> SlaveCore::AnswerRtu(const std::uint8_t* frame, std::size_t size, std::string* change) {
  if (size < 4 || Crc16(frame, static_cast<std::uint16_t>(size)) != 0) {
    LineError();
    return std::nullopt;
  }
  const std::uint8_t id = frame[0];
  const bool broadcast = id == 0;
  if (!broadcast && !Serves(id)) return std::nullopt;  // another device's, or nobody's: silence
  const std::uint8_t function = frame[1];
  // A request at other line settings than ours is noise to us: it counts as an error, changes
  // nothing, and its reply goes out garbled (see Answer).
  const bool understood = !lineMismatch_;
  if (!understood) LineError();
  if (understood) {
    for (std::uint8_t target : ids_) {
      if (broadcast || target == id) CommOf(target).Received(broadcast);
    }
  }
  if (broadcast && (!understood || !BroadcastWrite(function))) {
    if (understood) {
      for (CommState& state : comm_) state.Count(CommState::NoResponse);
    }
    return std::nullopt;  // only writes are meant for every slave
  }
  if (!broadcast && CommOf(id).listenOnly) {
    // Nothing is answered or carried out; a restart only is taken, unanswered too.
    CommState& state = CommOf(id);
    if (!understood) return std::nullopt;
    const unsigned data = size == 8 ? Word(frame + 4) : 1;
    if (function == kDiagnostics && size == 8 && Word(frame + 2) == 0x0001 && (data == 0 || data == 0xFF00)) {
      state.Restart(data == 0xFF00);
      if (change) *change = std::string("left listen-only mode, restarted communications: ") + RestartText(data == 0xFF00);
    } else {
      state.Count(CommState::NoResponse);
    }
    return std::nullopt;
  }

  Handling h = Handle(id, frame, size);
  Reply reply;
  reply.bytes = std::move(h.reply);
  const bool answered = !reply.bytes.empty();
  // A request refused for its framing or function gets its exception as it is; the others
  // the fault asked for (device identification and the diagnostics name no offset).
  const Fault fault = !answered ? Fault{}
                      : h.plain ? Make(lineMismatch_ ? Fault::Garble : Fault::None)
                                : FaultFor(id, h.hasAddress ? &h.address : nullptr);
  bool silent = !answered;
  switch (fault.kind) {
    case Fault::None:
    case Fault::Garble:  // once framed: see Answer
      break;
    case Fault::Exception:
      reply.bytes = ExceptionReply(id, function, fault.arg);
      break;
    case Fault::BadCrc:
      reply.bytes.back() ^= 0xFF;
      break;
    case Fault::Silence:
      silent = true;
      break;
    case Fault::Delay:
      reply.delayMs = fault.arg;
      break;
    case Fault::Split:
      reply.splitAt = reply.bytes.size() / 2;
      reply.splitPauseMs = fault.arg;
      break;
    case Fault::Garbage:
      reply.bytes = {0xDE, 0xAD, 0xBE, 0xEF, 0x55, 0xAA, 0x00, 0xFF};
      break;
    case Fault::WrongId:
      reply.bytes[0] = static_cast<std::uint8_t>(id + 1);
      ReplaceCrc(reply.bytes);
      break;
    case Fault::Function:
      reply.bytes[1] = static_cast<std::uint8_t>(fault.arg);
      ReplaceCrc(reply.bytes);
      break;
    case Fault::Noise:
      reply.bytes.insert(reply.bytes.begin(), 0x00);  // a glitch at the line's turn-around
      break;
    case Fault::Short:
      // Normal read replies only: an exception or a write reply has no data to cut.
      if (h.deviceId && h.refusal == 0) {
        // One object fewer than asked, the count to match.
        DeviceIdReply objects;
        if (ParseDeviceIdReply(reply.bytes.data() + 1, static_cast<int>(reply.bytes.size()) - 3, objects) &&
            !objects.objects.empty()) {
          objects.objects.pop_back();
          const auto pdu = DeviceIdReplyPdu(objects);
          reply.bytes.resize(1);
          reply.bytes.insert(reply.bytes.end(), pdu.begin(), pdu.end());
          AppendCrc(reply.bytes);
        }
      } else if (h.shortBy > 0 && h.refusal == 0 && reply.bytes[2] > 0) {
        reply.bytes.erase(reply.bytes.end() - 2 - h.shortBy, reply.bytes.end() - 2);
        reply.bytes[2] = static_cast<std::uint8_t>(reply.bytes[2] - h.shortBy);
        ReplaceCrc(reply.bytes);
      }
      break;
    case Fault::Echo:
      if (h.echoesAddress && h.refusal == 0) {
        const unsigned next = (h.address + 1) & 0xFFFF;
        reply.bytes[2] = static_cast<std::uint8_t>(next >> 8);
        reply.bytes[3] = static_cast<std::uint8_t>(next & 0xFF);
        ReplaceCrc(reply.bytes);
      }
      break;
    case Fault::Cut:
      reply.splitAt = reply.bytes.size() / 2;
      reply.cutOff = true;
      break;
    case Fault::WrongTransaction:
    case Fault::MbapLength:
      break;  // the MBAP header's: see Reframe
  }
  reply.fault = fault;

  // The master can only take a write as done from its correct reply: no other changes
  // anything, so that what it reports and what a later read shows agree. A broadcast is
  // taken by every id served but those in listen-only mode. The same holds for the
  // diagnostics that clear or restart; listen-only mode, which has no reply, is entered at once.
  const bool takesEffect = understood && h.refusal == 0 && (!answered || CorrectReply(fault.kind));
  std::string what;
  if (takesEffect && h.changes) {
    for (std::uint8_t target : ids_) {
      if ((broadcast && !CommOf(target).listenOnly) || target == id) what = Apply(image(target), frame, size);
    }
  }
  if (understood && broadcast) {
    for (CommState& state : comm_) {
      if (state.listenOnly) {
        state.Count(CommState::NoResponse);
      } else {
        state.Handled(false, 0, takesEffect);
      }
    }
  } else if (understood && h.diagnostics != DiagnosticsAnswer::ListenOnly) {
    const int exception = fault.kind == Fault::Exception ? fault.arg : h.refusal;
    const bool poll = function == kGetCommEventCounter || function == kGetCommEventLog;
    CommOf(id).Handled(!silent, exception, !silent && exception == 0 && !poll);
  }
  if (takesEffect && !broadcast) {
    CommState& state = CommOf(id);
    switch (h.diagnostics) {
      case DiagnosticsAnswer::None:
        break;
      case DiagnosticsAnswer::Restart:
      case DiagnosticsAnswer::RestartClearingLog: {
        const bool clearLog = h.diagnostics == DiagnosticsAnswer::RestartClearingLog;
        state.Restart(clearLog);
        what = std::string("restarted communications: ") + RestartText(clearLog);
        break;
      }
      case DiagnosticsAnswer::ListenOnly:
        state.Count(CommState::NoResponse);
        state.listenOnly = true;
        state.Log(kEventListenOnly);
        what = "entered listen-only mode";
        break;
      case DiagnosticsAnswer::ClearCounters:
        state.Clear();
        what = "cleared the counters and the diagnostic register";
        break;
      case DiagnosticsAnswer::ClearOverrun:
        state.counters[CommState::Overruns] = 0;
        state.diagnosticRegister = static_cast<std::uint16_t>(state.diagnosticRegister & ~kRegisterOverrun);
        what = "cleared the overrun count and flag";
        break;
    }
  }
  if (change) *change = what;
  if (silent || broadcast) return std::nullopt;
  return reply;
}

void SlaveCore::LineError() {
  for (CommState& state : comm_) {
    state.Count(CommState::BusErrors);
    state.diagnosticRegister |= kRegisterCommError;
    state.Log(static_cast<std::uint8_t>(kEventReceive | kReceiveCommError | (state.listenOnly ? kReceiveListenOnly : 0)));
  }
}

void SlaveCore::NoteOverrun() {
  for (CommState& state : comm_) {
    state.Count(CommState::Overruns);
    state.diagnosticRegister |= kRegisterOverrun;
    state.Log(static_cast<std::uint8_t>(kEventReceive | kReceiveOverrun | (state.listenOnly ? kReceiveListenOnly : 0)));
  }
}

CommState& SlaveCore::CommOf(std::uint8_t id) {
  return comm_[static_cast<std::size_t>(std::lower_bound(ids_.begin(), ids_.end(), id) - ids_.begin())];
}

const CommState& SlaveCore::comm(std::uint8_t id) const {
  static const CommState kNone;
  const auto at = std::lower_bound(ids_.begin(), ids_.end(), id);
  return at != ids_.end() && *at == id ? comm_[static_cast<std::size_t>(at - ids_.begin())] : kNone;
}

void SlaveCore::setFifos(std::vector<unsigned> pointers) {
  std::sort(pointers.begin(), pointers.end());
  pointers.erase(std::unique(pointers.begin(), pointers.end()), pointers.end());
  fifos_ = std::move(pointers);
}

ServerInfo ServerInfo::Defaults() {
  ServerInfo info;
  info.data = std::string("vantrel-slave ") + kProjectVersion;
  return info;
}

}  // namespace vantrel::slave
