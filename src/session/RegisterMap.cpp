#include "session/RegisterMap.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <utility>

#include "session/CsvParser.h"
#include "session/ValueNames.h"
#include "settings/AtomicFile.h"

namespace vantrel {

const char* MapTableName(MapTable table) {
  switch (table) {
    case MapTable::Coil:
      return "coil";
    case MapTable::Discrete:
      return "discrete";
    case MapTable::Input:
      return "input";
    case MapTable::Holding:
      break;
  }
  return "holding";
}

int MapReadFunction(MapTable table) {
  switch (table) {
    case MapTable::Coil:
      return 1;
    case MapTable::Discrete:
      return 2;
    case MapTable::Input:
      return 4;
    case MapTable::Holding:
      break;
  }
  return 3;
}

bool IsBitTable(MapTable table) { return table == MapTable::Coil || table == MapTable::Discrete; }

namespace {

constexpr MapTable kTables[] = {MapTable::Coil, MapTable::Discrete, MapTable::Input, MapTable::Holding};

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Lower(c);
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

}  // namespace

bool MapTableFromName(std::string_view name, MapTable& table) {
  const std::string lowered = Lowered(name);
  for (MapTable t : kTables) {
    if (lowered == MapTableName(t)) {
      table = t;
      return true;
    }
  }
  return false;
}

bool DefaultWritable(MapTable table) { return table == MapTable::Coil || table == MapTable::Holding; }

int MapItem::Span() const {
  switch (type) {
    case MapType::Uint32:
    case MapType::Int32:
    case MapType::Float32:
      return 2;
    case MapType::Uint64:
    case MapType::Int64:
    case MapType::Float64:
      return 4;
    case MapType::String:
      return stringRegisters;
    default:
      return 1;
  }
}

const MapItem* RegisterMap::Find(std::string_view name) const {
  for (const MapItem& item : items) {
    if (item.name == name) return &item;
  }
  return nullptr;
}

// --- types ------------------------------------------------------------------------------

namespace {

struct TypeName {
  MapType type;
  const char* name;
};
constexpr TypeName kTypeNames[] = {
    {MapType::Bool, "bool"},     {MapType::Uint16, "uint16"}, {MapType::Int16, "int16"},
    {MapType::Uint32, "uint32"}, {MapType::Int32, "int32"},   {MapType::Float32, "float32"},
    {MapType::Uint64, "uint64"}, {MapType::Int64, "int64"},   {MapType::Float64, "float64"},
    {MapType::String, "string"}, {MapType::Bit, "bit"},
};
constexpr char kTypeList[] = "bool, uint16, int16, uint32, int32, float32, uint64, int64, float64, string:N or bit:B";

bool IsFloat(MapType type) { return type == MapType::Float32 || type == MapType::Float64; }
bool IsNumeric(MapType type) { return type != MapType::Bool && type != MapType::String && type != MapType::Bit; }
bool IsSigned(MapType type) { return type == MapType::Int16 || type == MapType::Int32 || type == MapType::Int64; }

// A whole number of digits only, up to a million (more is out of every range here).
bool SmallDigits(std::string_view text, int& out) {
  if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  out = 0;
  for (char c : text) out = out * 10 + (c - '0');
  return true;
}

}  // namespace

std::string MapTypeName(const MapItem& item) {
  for (const TypeName& t : kTypeNames) {
    if (t.type != item.type) continue;
    if (item.type == MapType::String) return "string:" + std::to_string(item.stringRegisters);
    if (item.type == MapType::Bit) return "bit:" + std::to_string(item.bit);
    return t.name;
  }
  return "uint16";
}

std::string SetMapType(std::string_view name, MapItem& item) {
  const std::string lowered = Lowered(name);
  const std::size_t colon = lowered.find(':');
  const std::string base = lowered.substr(0, colon);
  const TypeName* found = nullptr;
  for (const TypeName& t : kTypeNames) {
    if (base == t.name) found = &t;
  }
  if (found == nullptr) return "unknown type " + Quoted(name) + "; the types are " + kTypeList;
  const bool counted = found->type == MapType::String || found->type == MapType::Bit;
  if (!counted) {
    if (colon != std::string::npos) return Quoted(name) + ": only string:N and bit:B take a number";
    item.type = found->type;
    item.stringRegisters = 0;
    item.bit = 0;
    return "";
  }
  int n = -1;
  const bool number = colon != std::string::npos && SmallDigits(std::string_view(lowered).substr(colon + 1), n);
  if (found->type == MapType::String && (!number || n < 1 || n > kMaxStringRegisters)) {
    return Quoted(name) + ": string:N takes N, the registers it spans, from 1 to " +
           std::to_string(kMaxStringRegisters);
  }
  if (found->type == MapType::Bit && (!number || n > 15)) {
    return Quoted(name) + ": bit:B takes B, the bit of its register, from 0 to 15";
  }
  item.type = found->type;
  item.stringRegisters = found->type == MapType::String ? n : 0;
  item.bit = found->type == MapType::Bit ? n : 0;
  return "";
}

// --- texts and numbers ------------------------------------------------------------------

namespace {

// The length of the UTF-8 sequence that starts s (n bytes left), or 0 when none does.
std::size_t Utf8Length(const unsigned char* s, std::size_t n) {
  const unsigned char c = s[0];
  if (c < 0x80) return 1;
  std::size_t length = 0;
  std::uint32_t code = 0;
  if ((c & 0xE0) == 0xC0) {
    length = 2;
    code = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    length = 3;
    code = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    length = 4;
    code = c & 0x07;
  } else {
    return 0;
  }
  if (n < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    code = code << 6 | (s[i] & 0x3F);
  }
  // Overlong forms, surrogates and what lies past Unicode are no UTF-8.
  constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

bool IsUtf8(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8Length(s + i, text.size() - i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

enum class Parsed { Number, NotNumber, OutOfRange };

// A number as maps and values write it, whatever the locale: blanks around it and a
// leading + are allowed.
Parsed ParseNumber(std::string_view text, double& out) {
  text = Trimmed(text);
  if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
  if (text.empty()) return Parsed::NotNumber;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, out);
  if (ptr != end) return Parsed::NotNumber;
  if (ec == std::errc::result_out_of_range) return Parsed::OutOfRange;
  return ec == std::errc() ? Parsed::Number : Parsed::NotNumber;
}

// The shortest text that reads back as the same double (float).
template <typename T>
std::string Shortest(T value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

// value with that many decimals; never "-0.0".
std::string Fixed(double value, int decimals) {
  if (!std::isfinite(value)) return Shortest(value);
  char buf[400];  // the largest double takes 309 digits, and 15 decimals at most follow
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  std::string text(buf, r.ptr);
  if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return text;
}

// The decimals of the shortest fixed form of value: 0.1 1, 0.25 2, 3 0.
int DecimalsOf(double value) {
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  const std::string_view text(buf, static_cast<std::size_t>(r.ptr - buf));
  const std::size_t point = text.find('.');
  return point == std::string_view::npos ? 0 : static_cast<int>(text.size() - point - 1);
}

constexpr int kMaxDecimals = 15;

bool Scaled(const MapItem& item) { return item.scale != 1 || item.offset != 0; }

// The decimals a numeric item is shown with: its own, else as many as its scale and
// offset carry (none unscaled).
int ShownDecimals(const MapItem& item) {
  if (item.decimals >= 0) return item.decimals;
  if (!Scaled(item)) return 0;
  return std::min(kMaxDecimals, std::max(DecimalsOf(item.scale), DecimalsOf(item.offset)));
}

WordOrder OrderOf(const MapItem& item, WordOrder viewOrder) { return item.wordOrder.value_or(viewOrder); }
bool Swapped(WordOrder order) { return order == WordOrder::LowFirstSwapped || order == WordOrder::HighFirstSwapped; }

// The registers of an item of a register table, joined in the word order; a Bit item's
// register alone.
std::uint64_t RawBits(const MapItem& item, const std::uint16_t* raw, WordOrder order) {
  const int count = item.type == MapType::Bit ? 1 : std::min(item.Span(), 4);
  std::uint8_t wire[8];
  for (int i = 0; i < count; ++i) {
    wire[2 * i] = static_cast<std::uint8_t>(raw[i] >> 8);
    wire[2 * i + 1] = static_cast<std::uint8_t>(raw[i]);
  }
  return JoinRegisters(wire, count, order);
}

std::int64_t SignExtended(std::uint64_t bits, int width) {
  if (width >= 64) return static_cast<std::int64_t>(bits);
  const std::uint64_t sign = std::uint64_t{1} << (width - 1);
  return static_cast<std::int64_t>((bits ^ sign) - sign);
}

// The raw value of a numeric item as a number.
double RawNumber(const MapItem& item, std::uint64_t bits) {
  switch (item.type) {
    case MapType::Float32: {
      const auto narrow = static_cast<std::uint32_t>(bits);
      float f;
      std::memcpy(&f, &narrow, 4);
      return f;
    }
    case MapType::Float64: {
      double d;
      std::memcpy(&d, &bits, 8);
      return d;
    }
    default:
      if (IsSigned(item.type)) return static_cast<double>(SignExtended(bits, 16 * item.Span()));
      return static_cast<double>(bits);
  }
}

// An integer item's raw value, exactly.
std::string ExactInteger(const MapItem& item, std::uint64_t bits) {
  char buf[24];
  const auto r = IsSigned(item.type) ? std::to_chars(buf, buf + sizeof buf, SignExtended(bits, 16 * item.Span()))
                                     : std::to_chars(buf, buf + sizeof buf, bits);
  return std::string(buf, r.ptr);
}

// A value in shown units as the item shows it.
std::string ShownText(const MapItem& item, double shown) {
  if (item.decimals >= 0 || !IsFloat(item.type)) return Fixed(shown, ShownDecimals(item));
  // float32 at its own precision, where it can hold the value.
  if (item.type == MapType::Float32 && !(std::fabs(shown) > FLT_MAX)) return Shortest(static_cast<float>(shown));
  return Shortest(shown);
}

struct IntRange {
  std::int64_t low;
  std::uint64_t high;
};

IntRange RangeOf(MapType type) {
  switch (type) {
    case MapType::Int16:
      return {INT16_MIN, INT16_MAX};
    case MapType::Uint32:
      return {0, UINT32_MAX};
    case MapType::Int32:
      return {INT32_MIN, INT32_MAX};
    case MapType::Uint64:
      return {0, UINT64_MAX};
    case MapType::Int64:
      return {INT64_MIN, INT64_MAX};
    default:
      return {0, UINT16_MAX};
  }
}

// Past the largest float: a double this large or larger rounds to infinity as a float.
const double kFloatLimit = static_cast<double>(FLT_MAX) + std::ldexp(1.0, 103);

// What a numeric item takes, in shown units: "a number from -3276.8 to 3276.7 °C".
std::string Allowed(const MapItem& item) {
  const bool whole = !IsFloat(item.type) && !Scaled(item) && item.decimals <= 0;
  std::string low, high;
  if (whole) {
    const IntRange r = RangeOf(item.type);
    low = std::to_string(r.low);
    high = std::to_string(r.high);
  } else {
    double a = 0, b = 0;
    if (IsFloat(item.type)) {
      const double most = item.type == MapType::Float32 ? static_cast<double>(FLT_MAX) : DBL_MAX;
      a = -most;
      b = most;
    } else {
      const IntRange r = RangeOf(item.type);
      a = static_cast<double>(r.low);
      b = static_cast<double>(r.high);
    }
    a = a * item.scale + item.offset;
    b = b * item.scale + item.offset;
    if (a > b) std::swap(a, b);
    low = ShownText(item, a);
    high = ShownText(item, b);
  }
  return std::string(whole ? "a whole number" : "a number") + " from " + low + " to " + high +
         (item.unit.empty() ? "" : " " + item.unit);
}

// 1/0, on/off, true/false, any letter case.
bool ParseSwitch(std::string_view text, bool& on) {
  const std::string lowered = Lowered(Trimmed(text));
  on = lowered == "1" || lowered == "on" || lowered == "true";
  return on || lowered == "0" || lowered == "off" || lowered == "false";
}

// A string item's bytes as its text: \\ for a backslash, \xNN for a byte that is not
// printable (controls, and what is no UTF-8 or a C1 control in it).
std::string Escaped(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  std::string text;
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned char c = s[i];
    if (c == '\\') {
      text += "\\\\";
      ++i;
      continue;
    }
    std::size_t length = c >= 0x20 && c != 0x7F ? Utf8Length(s + i, bytes.size() - i) : 0;
    if (length == 2 && c == 0xC2 && s[i + 1] < 0xA0) length = 0;
    if (length == 0) {
      text += "\\x";
      text += kHex[c >> 4];
      text += kHex[c & 15];
      length = 1;
    } else {
      text.append(bytes.substr(i, length));
    }
    i += length;
  }
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The bytes of a string value: \\ and \xNN undone; any other backslash stands for itself.
std::string Unescaped(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
      bytes += '\\';
      ++i;
    } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && HexDigit(text[i + 2]) >= 0 &&
               HexDigit(text[i + 3]) >= 0) {
      bytes += static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3]));
      i += 3;
    } else {
      bytes += text[i];
    }
  }
  return bytes;
}

// The registers of a number that the item's type holds as bits.
bool EncodeNumber(const MapItem& item, std::string_view text, std::uint64_t& bits, std::string& error) {
  const std::string name = Quoted(item.name);
  const auto refuse = [&](const std::string& what) {
    error = name + " takes " + Allowed(item) + ", not " + what;
    return false;
  };
  double asked = 0;
  const Parsed parsed = ParseNumber(text, asked);
  if (parsed == Parsed::NotNumber) return refuse(Quoted(text));
  if (parsed == Parsed::OutOfRange) return refuse(std::string(text));

  if (!IsFloat(item.type) && !Scaled(item) && item.decimals <= 0) {
    // Whole numbers, exactly, up to the 64-bit ones' ends.
    const IntRange r = RangeOf(item.type);
    const std::string_view digits = text.substr(text[0] == '+' ? 1 : 0);
    const char* end = digits.data() + digits.size();
    if (digits[0] == '-') {
      std::int64_t n = 0;
      const auto [ptr, ec] = std::from_chars(digits.data(), end, n);
      if (ptr != end || ec != std::errc() || n < r.low) return refuse(std::string(text));
      bits = static_cast<std::uint64_t>(n);
    } else {
      std::uint64_t n = 0;
      const auto [ptr, ec] = std::from_chars(digits.data(), end, n);
      if (ptr != end || ec != std::errc() || n > r.high) return refuse(std::string(text));
      bits = n;
    }
    return true;
  }
  if (!std::isfinite(asked) && (Scaled(item) || !IsFloat(item.type))) return refuse(std::string(text));
  const double raw = std::isfinite(asked) ? (asked - item.offset) / item.scale : asked;
  double back = 0;  // the shown value of what is written
  if (item.type == MapType::Float32) {
    if (std::isfinite(raw) ? std::fabs(raw) >= kFloatLimit : std::isfinite(asked)) return refuse(std::string(text));
    const float f = static_cast<float>(raw);
    if (raw != 0 && f == 0) {
      error = name + ": " + std::string(text) + " is too small for float32, which would hold it as 0";
      return false;
    }
    std::uint32_t narrow;
    std::memcpy(&narrow, &f, 4);
    bits = narrow;
    back = static_cast<double>(f) * item.scale + item.offset;
  } else if (item.type == MapType::Float64) {
    if (std::isfinite(asked) && !std::isfinite(raw)) return refuse(std::string(text));
    std::memcpy(&bits, &raw, 8);
    back = raw * item.scale + item.offset;
  } else {
    const IntRange r = RangeOf(item.type);
    const double nearest = std::round(raw);
    // 2^64 and 2^63 are doubles; the largest uint64 and int64 are not.
    const double above = item.type == MapType::Uint64  ? std::ldexp(1.0, 64)
                         : item.type == MapType::Int64 ? std::ldexp(1.0, 63)
                                                       : static_cast<double>(r.high) + 1;
    if (!(nearest >= static_cast<double>(r.low) && nearest < above)) return refuse(std::string(text));
    bits = IsSigned(item.type) ? static_cast<std::uint64_t>(static_cast<std::int64_t>(nearest))
                               : static_cast<std::uint64_t>(nearest);
    back = nearest * item.scale + item.offset;
  }
  // What is written must show as what was asked, within half the last decimal shown.
  if (std::isfinite(asked) && (item.decimals >= 0 || !IsFloat(item.type))) {
    const double half = 0.5 * std::pow(10.0, -ShownDecimals(item));
    if (std::fabs(back - asked) > half * (1 + 1e-9) + 1e-12 * std::fabs(asked)) {
      error = name + " cannot hold " + std::string(text) + " (its steps are " + Shortest(std::fabs(item.scale)) +
              "): the nearest value it holds is " + ShownText(item, back);
      return false;
    }
  }
  return true;
}

// EncodeItem but for the item's being writable: the map's starting values are checked so.
bool Encode(const MapItem& item, const std::string& text, WordOrder viewOrder, std::vector<std::uint16_t>& raw,
            std::string& error) {
  const WordOrder order = OrderOf(item, viewOrder);
  switch (item.type) {
    case MapType::Bool:
    case MapType::Bit: {
      bool on = false;
      if (!ParseSwitch(text, on)) {
        error = Quoted(item.name) + " takes 1 or 0 (on or off, true or false), not " + Quoted(Trimmed(text));
        return false;
      }
      if (item.type == MapType::Bool) {
        raw.assign(1, on ? 1 : 0);
        return true;
      }
      if (raw.empty()) raw.push_back(0);
      const std::uint64_t mask = std::uint64_t{1} << item.bit;
      const std::uint64_t reg = on ? RawBits(item, raw.data(), order) | mask : RawBits(item, raw.data(), order) & ~mask;
      raw.resize(1);
      SplitRegisters(reg, 1, order, raw.data());
      return true;
    }
    case MapType::String: {
      std::string bytes = Unescaped(text);
      const std::size_t room = 2 * static_cast<std::size_t>(std::max(item.stringRegisters, 0));
      if (bytes.size() > room) {
        error = Quoted(item.name) + " holds at most " + std::to_string(room) + " characters (" + MapTypeName(item) +
                "), not " + std::to_string(bytes.size());
        return false;
      }
      bytes.resize(room, '\0');
      raw.assign(room / 2, 0);
      for (std::size_t i = 0; i < raw.size(); ++i) {
        const auto first = static_cast<std::uint8_t>(bytes[2 * i]),
                   second = static_cast<std::uint8_t>(bytes[2 * i + 1]);
        raw[i] = static_cast<std::uint16_t>(Swapped(order) ? second << 8 | first : first << 8 | second);
      }
      return true;
    }
    default: {
      std::uint64_t bits = 0;
      if (!EncodeNumber(item, Trimmed(text), bits, error)) return false;
      raw.assign(static_cast<std::size_t>(item.Span()), 0);
      SplitRegisters(bits, item.Span(), order, raw.data());
      return true;
    }
  }
}

}  // namespace

// --- values -----------------------------------------------------------------------------

double ItemNumber(const MapItem& item, const std::uint16_t* raw, WordOrder viewOrder) {
  switch (item.type) {
    case MapType::Bool:
      return raw[0] != 0 ? 1 : 0;
    case MapType::Bit:
      return static_cast<double>(RawBits(item, raw, OrderOf(item, viewOrder)) >> item.bit & 1);
    case MapType::String:
      return std::numeric_limits<double>::quiet_NaN();
    default:
      return RawNumber(item, RawBits(item, raw, OrderOf(item, viewOrder))) * item.scale + item.offset;
  }
}

std::string FormatItem(const MapItem& item, const std::uint16_t* raw, WordOrder viewOrder) {
  const WordOrder order = OrderOf(item, viewOrder);
  switch (item.type) {
    case MapType::Bool:
      return raw[0] != 0 ? "1" : "0";
    case MapType::Bit:
      return (RawBits(item, raw, order) >> item.bit & 1) != 0 ? "1" : "0";
    case MapType::String: {
      std::string bytes;
      for (int i = 0; i < item.stringRegisters; ++i) {
        const auto high = static_cast<char>(raw[i] >> 8), low = static_cast<char>(raw[i]);
        bytes += Swapped(order) ? low : high;
        bytes += Swapped(order) ? high : low;
      }
      bytes.resize(std::min(bytes.size(), bytes.find('\0')));
      while (!bytes.empty() && bytes.back() == ' ') bytes.pop_back();
      return Escaped(bytes);
    }
    default:
      break;
  }
  const std::uint64_t bits = RawBits(item, raw, order);
  if (!IsFloat(item.type) && !Scaled(item)) {
    // Exactly, as no double could hold the 64-bit ones.
    std::string text = ExactInteger(item, bits);
    if (item.decimals > 0) text += "." + std::string(static_cast<std::size_t>(item.decimals), '0');
    return text;
  }
  if (IsFloat(item.type) && !Scaled(item) && item.decimals < 0) {
    const double value = RawNumber(item, bits);
    return item.type == MapType::Float32 ? Shortest(static_cast<float>(value)) : Shortest(value);
  }
  return ShownText(item, RawNumber(item, bits) * item.scale + item.offset);
}

bool EncodeItem(const MapItem& item, const std::string& text, WordOrder viewOrder, std::vector<std::uint16_t>& raw,
                std::string& error) {
  if (!item.writable) {
    error = Quoted(item.name) + " cannot be written: the map has it read-only";
    return false;
  }
  return Encode(item, text, viewOrder, raw, error);
}

// --- the rules of a map -----------------------------------------------------------------

namespace {

const char* TableNoun(MapTable table, bool plural) {
  switch (table) {
    case MapTable::Coil:
      return plural ? "coils" : "coil";
    case MapTable::Discrete:
      return plural ? "discrete inputs" : "discrete input";
    case MapTable::Input:
      return plural ? "input registers" : "input register";
    case MapTable::Holding:
      break;
  }
  return plural ? "holding registers" : "holding register";
}

// Where an item lies: "holding register 10", "input registers 1 to 2", "bit 3 of holding
// register 10".
std::string Place(const MapItem& item) {
  const int span = item.Span();
  const std::string first = std::to_string(item.address);
  if (item.type == MapType::Bit) {
    return "bit " + std::to_string(item.bit) + " of " + TableNoun(item.table, false) + " " + first;
  }
  if (span <= 1) return TableNoun(item.table, false) + (" " + first);
  return TableNoun(item.table, true) + (" " + first + " to " + std::to_string(item.address + span - 1));
}

// An item on its own: the column at fault and what is wrong, or "".
std::pair<const char*, std::string> ItemProblem(const MapItem& item) {
  if (item.name.empty()) return {"name", "missing: every item needs a name"};
  const char* notUtf8 = "not UTF-8 text (save the map as UTF-8)";
  if (!IsUtf8(item.name)) return {"name", notUtf8};
  const bool bits = IsBitTable(item.table);
  if (bits && item.type != MapType::Bool) {
    return {"type",
            std::string("a ") + TableNoun(item.table, false) + " is one bit, of type bool, not " + MapTypeName(item)};
  }
  if (!bits && item.type == MapType::Bool) {
    return {"type", "bool is for coils and discrete inputs; a bit of a register is bit:B"};
  }
  if (item.type == MapType::String && (item.stringRegisters < 1 || item.stringRegisters > kMaxStringRegisters)) {
    return {"type", "string:N takes N from 1 to " + std::to_string(kMaxStringRegisters) + ", not " +
                        std::to_string(item.stringRegisters)};
  }
  if (item.type == MapType::Bit && (item.bit < 0 || item.bit > 15)) {
    return {"type", "bit:B takes B from 0 to 15, not " + std::to_string(item.bit)};
  }
  if (item.address < 1 || item.address > 65536) {
    return {"address", "must be 1 to 65536 (the offset, counted from 1), not " + std::to_string(item.address)};
  }
  if (item.address + item.Span() - 1 > 65536) {
    return {"address", Place(item) + " go past the last register, 65536"};
  }
  if (bits && item.wordOrder) return {"word_order", "coils and discrete inputs have no word order"};
  const std::string numericOnly = std::string("only numeric types take one, not ") + MapTypeName(item);
  if (!std::isfinite(item.scale) || item.scale == 0) {
    return {"scale", "must be a number other than 0, not " + Shortest(item.scale)};
  }
  if (!std::isfinite(item.offset)) return {"offset", "must be a number, not " + Shortest(item.offset)};
  if (!IsNumeric(item.type) && item.scale != 1) return {"scale", numericOnly};
  if (!IsNumeric(item.type) && item.offset != 0) return {"offset", numericOnly};
  if (item.decimals < -1 || item.decimals > kMaxDecimals) {
    return {"decimals", "must be 0 to 15, not " + std::to_string(item.decimals)};
  }
  if (!IsNumeric(item.type) && item.decimals != -1) {
    return {"decimals", "only numeric types take them, not " + MapTypeName(item)};
  }
  if (!IsUtf8(item.unit)) return {"unit", notUtf8};
  if (!IsUtf8(item.description)) return {"description", notUtf8};
  if (item.writable && !DefaultWritable(item.table)) {
    return {"writable",
            std::string(TableNoun(item.table, true)) + " cannot be written; only coils and holding registers can"};
  }
  if (!item.value.empty()) {
    if (!IsUtf8(item.value)) return {"value", notUtf8};
    std::vector<std::uint16_t> raw;
    std::string error;
    if (!Encode(item, item.value, WordOrder::LowFirst, raw, error)) return {"value", error};
  }
  return {"", ""};
}

// Two items of one table over a register in common: meant when they are bits of one
// register (each bit once), a bit and a one-register item of its register, or two views
// of the very same registers.
bool MeantOverlap(const MapItem& a, const MapItem& b) {
  if (a.type == MapType::Bit && b.type == MapType::Bit) return a.bit != b.bit;
  if (a.type == MapType::Bit) return b.Span() == 1;
  if (b.type == MapType::Bit) return a.Span() == 1;
  return a.address == b.address && a.Span() == b.Span();
}

}  // namespace

MapProblem CheckMap(const RegisterMap& map, const std::function<std::string(int)>& where) {
  const auto at = [&where](int i) { return where ? ", " + where(i) : std::string(); };
  std::unordered_map<std::string, int> names;
  // The items over each register (or bit), by table and address.
  std::unordered_map<int, std::vector<int>> over;
  for (std::size_t index = 0; index < map.items.size(); ++index) {
    const int j = static_cast<int>(index);
    const MapItem& item = map.items[index];
    if (auto [column, what] = ItemProblem(item); !what.empty()) return {j, column, std::move(what)};
    if (const auto [it, fresh] = names.emplace(item.name, j); !fresh) {
      return {j, "name",
              "another item is named " + Quoted(item.name) + " too (" + (where ? where(it->second) : "an earlier one") +
                  ")"};
    }
    const int key = static_cast<int>(item.table) * 65537;
    std::vector<int> compared;
    for (int r = item.address; r < item.address + item.Span(); ++r) {
      for (int i : over[key + r]) {
        if (std::find(compared.begin(), compared.end(), i) != compared.end()) continue;
        compared.push_back(i);
        const MapItem& other = map.items[static_cast<std::size_t>(i)];
        if (MeantOverlap(other, item)) continue;
        if (item.type == MapType::Bit && other.type == MapType::Bit) {
          return {j, "type",
                  Place(item) + " is " + Quoted(other.name) + " already" + (where ? " (" + where(i) + ")" : "")};
        }
        return {j, "address",
                Quoted(item.name) + " (" + Place(item) + ") overlaps " + Quoted(other.name) + " (" + Place(other) +
                    at(i) +
                    "); only bits of one register, a bit and its register's item, and items over the very "
                    "same registers may share them"};
      }
    }
    for (int r = item.address; r < item.address + item.Span(); ++r) over[key + r].push_back(j);
  }
  return {};
}

// --- CSV files --------------------------------------------------------------------------

namespace {

enum Column {
  kName,
  kTable,
  kAddress,
  kType,
  kWordOrder,
  kScale,
  kOffset,
  kUnit,
  kDecimals,
  kDescription,
  kWritable,
  kValue,
  kColumns
};
// In the order MapToCsv writes them.
constexpr const char* kColumnNames[kColumns] = {"name",   "table", "address",  "type",        "word_order", "scale",
                                                "offset", "unit",  "decimals", "description", "writable",   "value"};
constexpr char kColumnList[] =
    "name, table, address, type, word_order, scale, offset, unit, decimals, description, writable and value";

int ColumnOf(std::string_view name) {
  for (int c = 0; c < kColumns; ++c) {
    if (name == kColumnNames[c]) return c;
  }
  return -1;
}

// The first digit of a table's references: 0xxxx coils, 1xxxx discrete inputs, 3xxxx input
// and 4xxxx holding registers.
int ReferenceDigit(MapTable table) {
  switch (table) {
    case MapTable::Coil:
      return 0;
    case MapTable::Discrete:
      return 1;
    case MapTable::Input:
      return 3;
    case MapTable::Holding:
      break;
  }
  return 4;
}

// The address column: the offset counted from 1 in the given table, or a 5- or 6-digit
// reference, which names the table itself. With a table, a 5- or 6-digit address that
// begins with the table's own digit is a reference too, as manuals write them (holding
// 40101 is offset 101); offsets such as holding 40101 are written as 6-digit references
// (440101). Returns what is wrong, or "".
std::string ReadAddress(std::string_view text, bool tableGiven, MapTable& table, int& address) {
  const std::string references =
      "; references are 5 digits (40001 to 49999) or 6 (400001 to 465536), the first naming the table: 0 coil, "
      "1 discrete, 3 input, 4 holding";
  if (text.empty()) return "missing: every item needs an address";
  int number = 0;
  if (text.find_first_not_of("0123456789") != std::string_view::npos) {
    return Quoted(text) + " is no address: give the offset counted from 1, or a reference such as 40001";
  }
  const bool plain = SmallDigits(text, number);  // false only for more than 7 digits
  const bool fiveOrSix = text.size() == 5 || text.size() == 6;
  const bool reference = fiveOrSix && (!tableGiven || text[0] - '0' == ReferenceDigit(table));
  if (!reference) {
    if (!tableGiven) return std::string(text) + " is no reference, and the table column is empty" + references;
    if (!plain || number < 1 || number > 65536) {
      return "must be 1 to 65536 (the offset, counted from 1), not " + std::string(text);
    }
    address = number;
    return "";
  }
  MapTable named = table;
  bool known = false;
  for (MapTable t : kTables) {
    if (text[0] - '0' == ReferenceDigit(t)) {
      named = t;
      known = true;
    }
  }
  if (!known) return "reference " + std::string(text) + " names no table" + references;
  int offset = 0;
  SmallDigits(text.substr(1), offset);
  const int last = text.size() == 5 ? 9999 : 65536;
  if (offset < 1 || offset > last) {
    std::string what = "reference " + std::string(text) + " names no " + TableNoun(named, false) + references;
    if (tableGiven && number <= 65536) {
      const std::string digits = std::to_string(number);
      what += "; offset " + digits + " of the " + TableNoun(named, true) + " is written " +
              std::to_string(ReferenceDigit(named)) + std::string(5 - std::min<std::size_t>(digits.size(), 5), '0') +
              digits;
    }
    return what;
  }
  table = named;
  address = offset;
  return "";
}

// The address column of an item, as ReadAddress takes it back in its table.
std::string AddressText(const MapItem& item) {
  std::string text = std::to_string(item.address);
  if (text.size() == 5 && text[0] - '0' == ReferenceDigit(item.table)) text.insert(0, 1, text[0]);
  return text;
}

struct Field {
  std::string text;
  int line = 0;  // where it starts
};

// Feeds the CSV reader a line at a time, so that each field knows its line; a quoted field with
// line breaks counts them. Blank lines, and lines that begin with # where a row begins,
// never reach it.
class MapReader {
 public:
  explicit MapReader(const std::string& source) : source_(source) {}

  bool Read(std::string_view text, RegisterMap& map, std::string& error) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    CsvParser parser([this](const std::string& field) { OnField(field); }, [this](int) { OnRow(); });
    bool atRowStart = true;
    int rowStart = 1;
    for (std::size_t pos = 0; pos < text.size() && error_.empty();) {
      const std::size_t newline = text.find('\n', pos);
      const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
      const std::string_view chunk = text.substr(pos, end - pos);
      pos = end;
      ++line_;
      if (atRowStart) {
        const std::size_t first = chunk.find_first_not_of(" \t\r\n");
        if (first == std::string_view::npos || chunk[first] == '#') continue;
        rowStart = line_;
      }
      rowEnded_ = false;
      if (parser.Parse(chunk) < chunk.size()) {
        Fail(line_, ColumnName(row_.size()),
             "a quote out of place: a field with quotes, commas or line breaks is put in quotes whole, and each "
             "quote in it doubled (\"5\"\" display\")");
      }
      atRowStart = rowEnded_ && row_.empty();
    }
    if (error_.empty() && !parser.Finish()) {
      Fail(rowStart, "", "a quote opened in this row is never closed");
    }
    if (error_.empty() && columns_.empty()) {
      Fail(std::max(line_, 1), "",
           "no header row: a map begins with the names of its columns, such as name,table,address,type");
    }
    if (error_.empty()) {
      const auto where = [this](int i) { return "line " + std::to_string(lines_[static_cast<std::size_t>(i)][kName]); };
      if (const MapProblem problem = CheckMap(read_, where); problem.item >= 0) {
        const int column = ColumnOf(problem.column);
        Fail(lines_[static_cast<std::size_t>(problem.item)][static_cast<std::size_t>(column < 0 ? kName : column)],
             problem.column, problem.message);
      }
    }
    if (!error_.empty()) {
      error = error_;
      return false;
    }
    map = std::move(read_);
    return true;
  }

 private:
  void OnField(const std::string& text) {
    const int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    row_.push_back({text, line_ - lines});
  }

  void OnRow() {
    rowEnded_ = true;
    if (error_.empty() && !row_.empty()) Row();
    row_.clear();
  }

  void Fail(int line, const std::string& column, const std::string& what) {
    if (!error_.empty()) return;
    error_ =
        source_ + ": line " + std::to_string(line) + ": " + (column.empty() ? "" : "column " + column + ": ") + what;
  }

  // The k-th field's column: its name, or its number when the header names none.
  std::string ColumnName(std::size_t k) const {
    if (k < columns_.size() && columns_[k] >= 0) return kColumnNames[columns_[k]];
    return std::to_string(k + 1);
  }

  void Row() {
    if (columns_.empty()) {
      Header();
      return;
    }
    // A spreadsheet's empty row: commas only.
    if (std::all_of(row_.begin(), row_.end(), [](const Field& f) { return f.text.empty(); })) return;
    Item();
  }

  void Header() {
    for (std::size_t k = 0; k < row_.size(); ++k) {
      const std::string_view given = Trimmed(row_[k].text);
      const int column = ColumnOf(Lowered(given));
      if (given.empty()) {
        columns_.push_back(-1);
        continue;
      }
      if (column < 0) {
        return Fail(row_[k].line, std::to_string(k + 1),
                    "unknown column " + Quoted(given) + "; the columns are " + kColumnList);
      }
      const auto twice = std::find(columns_.begin(), columns_.end(), column);
      if (twice != columns_.end()) {
        return Fail(row_[k].line, kColumnNames[column],
                    "named twice, as columns " + std::to_string(twice - columns_.begin() + 1) + " and " +
                        std::to_string(k + 1));
      }
      columns_.push_back(column);
    }
    for (const int required : {kName, kAddress}) {
      if (std::find(columns_.begin(), columns_.end(), required) == columns_.end()) {
        return Fail(row_[0].line, kColumnNames[required],
                    "missing from the header; a map needs the columns name and address");
      }
    }
  }

  void Item() {
    std::array<const Field*, kColumns> cells{};
    for (std::size_t k = 0; k < row_.size(); ++k) {
      if (k < columns_.size() && columns_[k] >= 0) {
        cells[static_cast<std::size_t>(columns_[k])] = &row_[k];
      } else if (!Trimmed(row_[k].text).empty()) {
        return Fail(row_[k].line, std::to_string(k + 1), "a value under no column named in the header");
      }
    }
    std::array<int, kColumns> lines{};
    for (std::size_t c = 0; c < lines.size(); ++c) lines[c] = cells[c] != nullptr ? cells[c]->line : row_[0].line;
    const auto text = [&cells](Column c) -> std::string_view {
      return cells[c] != nullptr ? std::string_view(cells[c]->text) : std::string_view();
    };
    const auto fail = [&](Column c, const std::string& what) { Fail(lines[c], kColumnNames[c], what); };

    MapItem item;
    item.name = text(kName);
    const std::string_view table = Trimmed(text(kTable));
    if (!table.empty() && !MapTableFromName(table, item.table)) {
      return fail(kTable, "unknown table " + Quoted(table) + "; the tables are coil, discrete, input and holding");
    }
    if (std::string what = ReadAddress(Trimmed(text(kAddress)), !table.empty(), item.table, item.address);
        !what.empty()) {
      return fail(kAddress, what);
    }
    item.type = IsBitTable(item.table) ? MapType::Bool : MapType::Uint16;
    if (const std::string_view type = Trimmed(text(kType)); !type.empty()) {
      if (std::string what = SetMapType(type, item); !what.empty()) return fail(kType, what);
    }
    if (const std::string order = Lowered(Trimmed(text(kWordOrder))); !order.empty()) {
      WordOrder o;
      if (!WordOrderFromOptionName(order, o)) {
        return fail(kWordOrder, "unknown word order " + Quoted(Trimmed(text(kWordOrder))) +
                                    "; the orders are low-first, high-first, low-first-swapped and high-first-swapped");
      }
      item.wordOrder = o;
    }
    for (const auto& [column, number] : {std::pair{kScale, &item.scale}, std::pair{kOffset, &item.offset}}) {
      const std::string_view given = Trimmed(text(column));
      if (!given.empty() && ParseNumber(given, *number) != Parsed::Number) {
        return fail(column, Quoted(given) + " is not a number");
      }
    }
    item.unit = text(kUnit);
    if (const std::string_view decimals = Trimmed(text(kDecimals)); !decimals.empty()) {
      if (!SmallDigits(decimals, item.decimals)) return fail(kDecimals, "must be 0 to 15, not " + Quoted(decimals));
    }
    item.description = text(kDescription);
    item.writable = DefaultWritable(item.table);
    if (const std::string writable = Lowered(Trimmed(text(kWritable))); !writable.empty()) {
      if (writable != "yes" && writable != "no") {
        return fail(kWritable, "must be yes or no, not " + Quoted(Trimmed(text(kWritable))));
      }
      item.writable = writable == "yes";
    }
    item.value = text(kValue);
    read_.items.push_back(std::move(item));
    lines_.push_back(lines);
  }

  const std::string& source_;
  int line_ = 0;  // the line fed to the parser
  bool rowEnded_ = false;
  std::vector<Field> row_;
  std::vector<int> columns_;  // each header field's column, -1 for one left blank
  RegisterMap read_;
  std::vector<std::array<int, kColumns>> lines_;  // each item's fields' lines
  std::string error_;
};

// A field as RFC 4180 writes it: in quotes when it holds a comma, a quote or a line break,
// or when the reader would change it (blanks at its ends are trimmed, a # first makes a
// comment of a row).
std::string CsvField(const std::string& text, bool first) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                     (!text.empty() && (IsBlank(text.front()) || IsBlank(text.back()))) ||
                     (first && !text.empty() && text[0] == '#');
  if (!quote) return text;
  return CsvQuoted(text);
}

}  // namespace

bool ParseMap(std::string_view text, const std::string& source, RegisterMap& map, std::string& error) {
  return MapReader(source).Read(text, map, error);
}

bool LoadMap(const std::string& path, RegisterMap& map, std::string& error) {
  std::string text;
  return ReadWholeFile(path, text, error) && ParseMap(text, path, map, error);
}

std::string MapToCsv(const RegisterMap& map) {
  std::array<bool, kColumns> used{};
  used[kName] = used[kTable] = used[kAddress] = used[kType] = true;
  for (const MapItem& item : map.items) {
    used[kWordOrder] = used[kWordOrder] || item.wordOrder.has_value();
    used[kScale] = used[kScale] || item.scale != 1;
    used[kOffset] = used[kOffset] || item.offset != 0;
    used[kUnit] = used[kUnit] || !item.unit.empty();
    used[kDecimals] = used[kDecimals] || item.decimals != -1;
    used[kDescription] = used[kDescription] || !item.description.empty();
    used[kWritable] = used[kWritable] || item.writable != DefaultWritable(item.table);
    used[kValue] = used[kValue] || !item.value.empty();
  }
  std::string csv;
  const auto row = [&csv, &used](const std::array<std::string, kColumns>& fields) {
    bool first = true;
    for (std::size_t c = 0; c < fields.size(); ++c) {
      if (!used[c]) continue;
      if (!first) csv += ',';
      csv += CsvField(fields[c], first);
      first = false;
    }
    csv += '\n';
  };
  std::array<std::string, kColumns> header;
  for (std::size_t c = 0; c < header.size(); ++c) header[c] = kColumnNames[c];
  row(header);
  for (const MapItem& item : map.items) {
    row({item.name, MapTableName(item.table), AddressText(item), MapTypeName(item),
         item.wordOrder ? WordOrderOptionName(*item.wordOrder) : "", item.scale != 1 ? Shortest(item.scale) : "",
         item.offset != 0 ? Shortest(item.offset) : "", item.unit,
         item.decimals >= 0 ? std::to_string(item.decimals) : "", item.description, item.writable ? "yes" : "no",
         item.value});
  }
  return csv;
}

bool SaveMap(const std::string& path, const RegisterMap& map, std::string& error) {
  if (const MapProblem problem = CheckMap(map); problem.item >= 0) {
    error = path + ": " + Quoted(map.items[static_cast<std::size_t>(problem.item)].name) + ": column " +
            problem.column + ": " + problem.message;
    return false;
  }
  std::string why;
  if (!ReplaceFileAtomically(path, MapToCsv(map), "SaveMap", &why)) {
    error = path + ": " + why;
    return false;
  }
  return true;
}

}  // namespace vantrel
