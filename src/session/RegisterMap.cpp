#include "session/RegisterMap.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

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

}  // namespace vantrel
