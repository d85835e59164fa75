#include "session/WriteValues.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "session/PollTexts.h"
#include "modbus/Functions.h"
#include "modbus/ModbusFrame.h"

namespace vantrel {
namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

struct IntRange {
  long long low, high;
};

IntRange RangeOf(WriteFormat format) {
  switch (format) {
    case WriteFormat::Int16: return {-32768, 32767};
    case WriteFormat::Uint32: return {0, 4294967295LL};
    case WriteFormat::Int32: return {-2147483648LL, 2147483647LL};
    case WriteFormat::Coil: return {0, 1};
    default: return {0, 65535};
  }
}

}  // namespace

const char* WordOrderCaption(WordOrder order) {
  switch (order) {
    case WordOrder::LowFirst: return "low word first";
    case WordOrder::HighFirst: return "high word first";
    case WordOrder::LowFirstSwapped: return "low word first, bytes swapped";
    case WordOrder::HighFirstSwapped: return "high word first, bytes swapped";
  }
  return "";
}

bool WordOrderFromInt(int value, WordOrder& order) {
  for (WordOrder o : kWordOrders) {
    if (static_cast<int>(o) == value) {
      order = o;
      return true;
    }
  }
  return false;
}

namespace {

bool HighFirst(WordOrder order) { return order == WordOrder::HighFirst || order == WordOrder::HighFirstSwapped; }
bool Swapped(WordOrder order) { return order == WordOrder::LowFirstSwapped || order == WordOrder::HighFirstSwapped; }

}  // namespace

std::uint64_t JoinRegisters(const std::uint8_t* wire, int count, WordOrder order) {
  std::uint64_t value = 0;
  for (int i = 0; i < count; ++i) {
    const std::uint8_t a = wire[2 * i], b = wire[2 * i + 1];
    const std::uint64_t reg = Swapped(order) ? (b << 8 | a) : (a << 8 | b);
    const int weight = HighFirst(order) ? count - 1 - i : i;
    value |= reg << (16 * weight);
  }
  return value;
}

void SplitRegisters(std::uint64_t value, int count, WordOrder order, std::uint16_t* words) {
  for (int i = 0; i < count; ++i) {
    const int weight = HighFirst(order) ? count - 1 - i : i;
    const auto reg = static_cast<std::uint16_t>(value >> (16 * weight));
    words[i] = Swapped(order) ? static_cast<std::uint16_t>(reg << 8 | reg >> 8) : reg;
  }
}

int RegistersPerValue(WriteFormat format) {
  return format == WriteFormat::Uint32 || format == WriteFormat::Int32 || format == WriteFormat::Float32 ? 2 : 1;
}

const char* FormatName(WriteFormat format) {
  switch (format) {
    case WriteFormat::Coil: return "on/off";
    case WriteFormat::Uint16: return "uint16";
    case WriteFormat::Int16: return "int16";
    case WriteFormat::Hex: return "hex";
    case WriteFormat::Uint32: return "uint32";
    case WriteFormat::Int32: return "int32";
    case WriteFormat::Float32: return "float32";
  }
  return "";
}

std::string AllowedValues(WriteFormat format) {
  switch (format) {
    case WriteFormat::Coil: return "1 (on) or 0 (off)";
    case WriteFormat::Hex: return "a hexadecimal number from 0x0000 to 0xFFFF";
    // The largest float and the smallest normal one, as FormatWriteValue shows them. Below
    // that a float keeps fewer than its 24 bits, and soon none: 1e-50 would go out as 0.
    case WriteFormat::Float32:
      return "a number from -3.4028235e38 to 3.4028235e38; below 1.1754944e-38 in size, only one that float32 "
             "keeps as written (such as 0)";
    default: {
      const IntRange r = RangeOf(format);
      return "a whole number from " + std::to_string(r.low) + " to " + std::to_string(r.high);
    }
  }
}

bool ParseWriteValue(const std::string& raw, WriteFormat format, std::vector<std::uint16_t>& words,
                     std::string& error, WordOrder order) {
  words.clear();
  error.clear();
  const std::string text = Trimmed(raw);
  const std::string name = FormatName(format);
  const std::string allowed = AllowedValues(format);
  if (text.empty()) {
    error = "Enter a value: " + allowed + ".";
    return false;
  }
  const std::string notOne = "\"" + text + "\" is not " + (name[0] == 'i' ? "an " : "a ") + name + " value: enter " + allowed + ".";
  const std::string outside = text + " is out of range for " + name + ": enter " + allowed + ".";

  std::uint32_t value = 0;
  if (format == WriteFormat::Coil) {
    if (text == "1" || strcasecmp(text.c_str(), "on") == 0 || strcasecmp(text.c_str(), "true") == 0) {
      value = 1;
    } else if (!(text == "0" || strcasecmp(text.c_str(), "off") == 0 || strcasecmp(text.c_str(), "false") == 0)) {
      error = "\"" + text + "\" is not a coil value: enter " + allowed + ".";
      return false;
    }
  } else if (format == WriteFormat::Float32) {
    char* end = nullptr;
    errno = 0;
    const double d = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || std::isnan(d)) {
      error = notOne;
      return false;
    }
    // Whatever rounds to a finite float is taken (3.4028235e38, the largest float as shown,
    // lies a little above FLT_MAX). strtod says ERANGE for a text beyond double's own range,
    // too large or too small.
    const bool beyondDouble = errno == ERANGE;
    const float f = static_cast<float>(d);
    if (beyondDouble ? std::fabs(d) > 1 : std::isinf(f)) {
      error = outside;
      return false;
    }
    std::memcpy(&value, &f, 4);
    if (beyondDouble || (d != 0 && !std::isnormal(f))) {
      // Below the smallest normal float only a few bits are left, and then none: such a
      // value is taken only as float32 holds it (a value read from the device and shown so
      // goes back as it was), never rounded to another one, or to 0.
      std::uint16_t written[2];
      SplitRegisters(value, 2, WordOrder::LowFirst, written);
      const std::string shown = FormatWriteValue(written, format);
      if (beyondDouble || std::strtod(shown.c_str(), nullptr) != d) {
        error = text + " is too small for " + name + ", which would write it as " + shown + ": enter " + allowed + ".";
        return false;
      }
    }
  } else {
    const bool hex = format == WriteFormat::Hex;
    std::string digits = text;
    if (hex && digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
    // Digits only (and a leading minus for decimals): strtoll alone would take "+5", " 5" or "0x5".
    const char* allowedChars = hex ? "0123456789abcdefABCDEF" : "0123456789";
    const std::size_t start = !hex && digits[0] == '-' ? 1 : 0;
    if (digits.size() <= start || digits.find_first_not_of(allowedChars, start) != std::string::npos) {
      error = notOne;
      return false;
    }
    errno = 0;
    const long long n = std::strtoll(digits.c_str(), nullptr, hex ? 16 : 10);
    const IntRange r = RangeOf(format);
    if (errno == ERANGE || n < r.low || n > r.high) {
      error = outside;
      return false;
    }
    value = static_cast<std::uint32_t>(n);
  }
  if (RegistersPerValue(format) == 2) {
    words.resize(2);
    SplitRegisters(value, 2, order, words.data());
  } else {
    words.push_back(static_cast<std::uint16_t>(value));
  }
  return true;
}

std::string FormatWriteValue(const std::uint16_t* words, WriteFormat format, WordOrder order) {
  std::uint32_t value = words[0];
  if (RegistersPerValue(format) == 2) {
    const std::uint8_t wire[4] = {static_cast<std::uint8_t>(words[0] >> 8), static_cast<std::uint8_t>(words[0]),
                                  static_cast<std::uint8_t>(words[1] >> 8), static_cast<std::uint8_t>(words[1])};
    value = static_cast<std::uint32_t>(JoinRegisters(wire, 2, order));
  }
  char buf[48];
  switch (format) {
    case WriteFormat::Coil: return value != 0 ? "1" : "0";
    case WriteFormat::Int16: std::snprintf(buf, sizeof buf, "%d", int{static_cast<std::int16_t>(value)}); break;
    case WriteFormat::Hex: std::snprintf(buf, sizeof buf, "0x%04X", value); break;
    case WriteFormat::Int32: std::snprintf(buf, sizeof buf, "%d", static_cast<std::int32_t>(value)); break;
    case WriteFormat::Float32: {
      float f;
      std::memcpy(&f, &value, 4);
      // The shortest text that gives the same float back.
      for (int digits = 6; digits <= 9; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(f));
        if (std::strtof(buf, nullptr) == f || std::isnan(f)) break;
      }
      break;
    }
    default: std::snprintf(buf, sizeof buf, "%u", value); break;
  }
  return buf;
}

const char* ItemNoun(bool coils, int count) {
  if (coils) return count == 1 ? "coil" : "coils";
  return count == 1 ? "holding register" : "holding registers";
}

std::string DescribeWrite(const WriteFrame& request) {
  char text[128];
  std::snprintf(text, sizeof text, "Writing %d %s %s offset %d (function %02d)", request.count,
                ItemNoun(IsCoilWrite(request.function), request.count),
                request.count == 1 ? "at" : "from", request.offset, request.function);
  return text;
}

std::string WriteText(const WriteFrame& request) {
  const bool coils = IsCoilWrite(request.function);
  char head[128];
  std::snprintf(head, sizeof head, "%d %s %s offset %d (%05d) with function %02d:", request.count,
                ItemNoun(coils, request.count), request.count == 1 ? "at" : "from", request.offset,
                (coils ? 0 : 40000) + request.offset, request.function);
  std::string text = head;
  const std::vector<std::uint8_t>& b = request.bytes;
  if (request.function == kMaskWriteRegister) {
    if (b.size() < 8) return text;
    char masks[40];
    std::snprintf(masks, sizeof masks, " AND 0x%02X%02X OR 0x%02X%02X", b[4], b[5], b[6], b[7]);
    return text + masks;
  }
  const bool single = request.function == kWriteSingleCoil || request.function == kWriteSingleRegister;
  // 05/06 carry the value after the address; 15/16 after the byte count; 23 after its read
  // fields, the write's address, quantity and byte count.
  const std::size_t first = single ? 4 : request.function == kReadWriteMultipleRegisters ? 11 : 7;
  for (int i = 0; i < request.count; ++i) {
    const auto at = static_cast<std::size_t>(i);
    unsigned value = 0;
    if (request.function == kWriteSingleCoil) {
      if (b.size() > 4) value = b[4] == 0xFF ? 1 : 0;
    } else if (coils) {
      if (first + at / 8 < b.size()) value = (b[first + at / 8] >> (at % 8)) & 1;
    } else if (first + 2 * at + 1 < b.size()) {
      value = static_cast<unsigned>(b[first + 2 * at] << 8 | b[first + 2 * at + 1]);
    }
    text += " " + std::to_string(value);
  }
  return text;
}

std::vector<WriteFrame> FrameWrites(int slaveId, bool coils, int offset, const std::vector<std::uint16_t>& words,
                                    bool alwaysMultiple, int wordsPerValue, std::string& error) {
  std::vector<WriteFrame> frames;
  error.clear();
  const int total = static_cast<int>(words.size());
  if (total == 0) {
    error = WriteRequestErrorText(MB_REQUEST_WRITE_BAD_QUANTITY);
    return frames;
  }
  const bool single = total == 1 && !alwaysMultiple;
  const int function = coils ? (single ? kWriteSingleCoil : kWriteMultipleCoils)
                             : (single ? kWriteSingleRegister : kWriteMultipleRegisters);
  const int unit = std::max(wordsPerValue, 1);
  const int most = coils ? kMaxWriteCoils : kMaxWriteRegisters / unit * unit;
  for (int done = 0; done < total; done += most) {
    const int count = std::min(most, total - done);
    const int check = CheckWriteRequest(function, slaveId, offset + done, count);
    if (check != MB_REQUEST_OK) {
      error = WriteRequestErrorText(check);
      return {};
    }
    WriteFrame frame;
    frame.bytes.resize(kFrameCapacity);
    const int size = BuildWriteRequest(static_cast<std::uint8_t>(function), static_cast<std::uint8_t>(slaveId),
                                       offset + done, words.data() + done, count, frame.bytes.data());
    frame.bytes.resize(static_cast<std::size_t>(size));
    frame.function = function;
    frame.offset = offset + done;
    frame.count = count;
    frames.push_back(std::move(frame));
  }
  return frames;
}

}  // namespace vantrel
