#include "SlaveCore.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include "modbus/DeviceIdentification.h"
#include "modbus/ModbusFrame.h"

namespace vantrel::slave {
namespace {

bool ParseNumber(const std::string& text, long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtol(text.c_str(), &end, 0);
  return errno == 0 && end != nullptr && *end == '\0';
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

bool IsRead(std::uint8_t function) { return function >= 1 && function <= 4; }

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

MemoryImage MemoryImage::Pattern() {
  MemoryImage m;
  for (std::size_t a = 0; a < kSize; ++a) {
    m.coils[a] = (a % 2 == 0) ? 1 : 0;
    m.discrete[a] = (a % 3 == 0) ? 1 : 0;
    m.holding[a] = static_cast<std::uint16_t>(a + 1);
    m.input[a] = static_cast<std::uint16_t>((a + 1) * 10);
  }
  return m;
}

bool MemoryImage::ApplyLine(const std::string& raw, std::string& error) {
  std::string line = raw.substr(0, raw.find('#'));
  std::istringstream in(line);
  std::string table, range, type, value;
  if (!(in >> table)) return true;  // empty or comment
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
  if (!ok || first < 0 || last < first || last >= static_cast<long>(kSize)) {
    error = "bad address '" + range + "' (0 to 65535, or FIRST-LAST)";
    return false;
  }

  const bool bits = table == "coil" || table == "discrete";
  std::vector<std::uint16_t>* regs = table == "holding" ? &holding : table == "input" ? &input : nullptr;
  if (!bits && regs == nullptr) {
    error = "unknown table '" + table + "' (coil, discrete, holding, input)";
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
    long v = 0;
    if (!ParseNumber(value, v) || v < -2147483648L || v > 4294967295L) {
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
  if (last + width - 1 >= static_cast<long>(kSize)) {
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
  const MemoryImage pattern = Pattern();
  std::string out;
  // Runs of equal values, from their first entry that differs from the pattern to their
  // last: entries between that happen to equal the pattern (every other coil) do not cut
  // a run of written coils into single lines.
  const auto table = [&out](const char* name, const auto& now, const auto& was) {
    for (std::size_t a = 0; a < kSize;) {
      std::size_t first = kSize, last = 0, end = a;
      for (; end < kSize && now[end] == now[a]; ++end) {
        if (now[end] == was[end]) continue;
        first = std::min(first, end);
        last = end;
      }
      if (first < kSize) {
        out += std::string(name) + ' ' + std::to_string(first);
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
  return out;
}

bool MemoryImage::Save(const std::string& path, std::string& error) const { return SaveText(path, Text(), error); }

bool SaveText(const std::string& path, const std::string& text, std::string& error) {
  const std::string temp = path + ".tmp" + std::to_string(getpid());
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = "cannot save the image to " + path + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  int why = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      why = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (why == 0 && fsync(fd) != 0) why = errno;
  if (close(fd) != 0 && why == 0) why = errno;
  if (why == 0 && rename(temp.c_str(), path.c_str()) != 0) why = errno;
  if (why != 0) {
    unlink(temp.c_str());
    error = "cannot save the image to " + path + ": " + std::strerror(why);
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
    : ids_(std::move(ids)), common_(std::move(image)), every_(everyReply), byOffset_(std::move(byOffset)) {}

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
      if (!served) ok = (check ? *check : check.emplace()).ApplyLine(line, why);
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
      span.skip = start == end || size - static_cast<std::size_t>(start - bytes) > kMaxAsciiFrame
                      ? size
                      : static_cast<std::size_t>(start - bytes);
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

std::string SlaveCore::Apply(MemoryImage& image, const std::uint8_t* frame, unsigned address, unsigned quantity) {
  const std::uint8_t function = frame[1];
  const bool bits = function == 5 || function == 15;
  const std::uint8_t* data = function <= 6 ? frame + 4 : frame + 7;
  unsigned last = 0;
  for (unsigned i = 0; i < quantity; ++i) {
    if (function == 5) {
      last = data[0] == 0xFF ? 1 : 0;
    } else if (bits) {
      last = (data[i / 8] >> (i % 8)) & 1U;
    } else {
      last = static_cast<unsigned>(data[2 * i] << 8 | data[2 * i + 1]);
    }
    if (bits) {
      image.coils[address + i] = static_cast<std::uint8_t>(last);
    } else {
      image.holding[address + i] = static_cast<std::uint16_t>(last);
    }
  }
  const std::string where = std::to_string(address);
  if (quantity == 1) {
    return "wrote " + std::to_string(last) + (bits ? " to coil " : " to holding register ") + where;
  }
  return "wrote " + std::to_string(quantity) + (bits ? " coils" : " holding registers") +
         " from address " + where;
}

std::optional<Reply> SlaveCore::Answer(const std::uint8_t* frame, std::size_t size,
                                       std::string* change) {
  if (change) change->clear();
  if (mode_ == ModbusMode::Rtu || mode_ == ModbusMode::RtuOverTcp) {
    auto reply = AnswerRtu(frame, size, change);
    if (reply && reply->fault.kind == Fault::Garble) GarbleBytes(reply->bytes);
    return reply;
  }
  // The answers are worked out on RTU frames, so that every fault means the same in every
  // mode: the request's slave id and PDU go in with a CRC, the reply comes back reframed.
  std::vector<std::uint8_t> rtu(size);
  std::uint16_t transaction = 0;
  if (mode_ == ModbusMode::Ascii) {
    if (size < 3 || frame[0] != ':') return std::nullopt;
    const int n = DecodeAsciiHex(frame + 1, static_cast<int>(size) - 3, rtu.data(), static_cast<int>(rtu.size()));
    // A bad LRC is treated as a bad CRC: no reply.
    if (n < 3 || Lrc(rtu.data(), n - 1) != rtu[static_cast<std::size_t>(n - 1)]) return std::nullopt;
    rtu.resize(static_cast<std::size_t>(n - 1));
  } else {
    if (size < kMbapHeaderSize + 1) return std::nullopt;
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

std::optional<Reply> SlaveCore::AnswerRtu(const std::uint8_t* frame, std::size_t size, std::string* change) {
  if (size < 4) return std::nullopt;
  const std::uint16_t crc = Crc16(frame, static_cast<std::uint16_t>(size - 2));
  if ((crc >> 8) != frame[size - 2] || (crc & 0xFF) != frame[size - 1]) return std::nullopt;
  const std::uint8_t id = frame[0];
  const bool broadcast = id == 0;
  if (!broadcast && !Serves(id)) return std::nullopt;  // another device's, or nobody's: silence
  const std::uint8_t function = frame[1];
  const bool write = IsWriteFunction(function);
  if (broadcast && !write) return std::nullopt;  // only writes are meant for every slave

  Reply reply;
  const bool deviceId = function == kEncapsulatedInterface;
  if (!IsRead(function) && !write && !deviceId) {
    reply.bytes = ExceptionReply(id, function, 0x01);
    if (lineMismatch_) reply.fault = Make(Fault::Garble);
    return reply;
  }
  const bool multiple = function == 15 || function == 16;
  if (!deviceId && (multiple ? size < 7 || size != 9U + frame[6] : size != 8)) {
    if (broadcast) return std::nullopt;
    reply.bytes = ExceptionReply(id, function, 0x03);
    if (lineMismatch_) reply.fault = Make(Fault::Garble);
    return reply;
  }
  unsigned address = 0, field = 0, quantity = 0;
  int refusal = 0;
  if (deviceId) {
    reply.bytes.assign(1, id);
    const auto pdu = AnswerDeviceId(identity_, frame + 1, size - 3);
    reply.bytes.insert(reply.bytes.end(), pdu.begin(), pdu.end());
    AppendCrc(reply.bytes);
    refusal = pdu[0] & 0x80 ? pdu[1] : 0;
  } else {
    address = static_cast<unsigned>(frame[2] << 8 | frame[3]);
    field = static_cast<unsigned>(frame[4] << 8 | frame[5]);
    quantity = write && !multiple ? 1 : field;
    refusal = Refusal(frame, address, field);
    if (refusal == 0 && write && readOnly_) refusal = 0x01;
    // A broadcast reads the first id's tables for a reply that nobody gets. Read through
    // the const accessor: a read makes no copy of the tables.
    const MemoryImage& tables = std::as_const(*this).image(broadcast ? ids_.front() : id);
    reply.bytes = refusal ? ExceptionReply(id, function, refusal) : Normal(tables, frame, address, quantity);
  }

  // Device identification names no offset, so only the faults for every reply or id apply.
  const Fault fault = FaultFor(id, deviceId ? nullptr : &address);
  bool silent = false;
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
      if (deviceId && refusal == 0) {
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
      } else if (!deviceId && !write && refusal == 0 && reply.bytes[2] > 0) {
        const int cut = function <= 2 ? 1 : 2;
        reply.bytes.erase(reply.bytes.end() - 2 - cut, reply.bytes.end() - 2);
        reply.bytes[2] = static_cast<std::uint8_t>(reply.bytes[2] - cut);
        ReplaceCrc(reply.bytes);
      }
      break;
    case Fault::Echo:
      if (write && refusal == 0) {
        const unsigned next = (address + 1) & 0xFFFF;
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
  // taken by every id served.
  if (write && refusal == 0 && CorrectReply(fault.kind)) {
    std::string what;
    for (std::uint8_t target : ids_) {
      if (broadcast || target == id) what = Apply(image(target), frame, address, quantity);
    }
    if (change) *change = what;
  }
  if (silent || broadcast) return std::nullopt;
  return reply;
}

}  // namespace vantrel::slave
