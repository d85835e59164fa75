#include "modbus/Framing.h"

#include <algorithm>

#include "modbus/ModbusFrame.h"

namespace vantrel {

const char* ModeName(ModbusMode mode) {
  switch (mode) {
    case ModbusMode::Ascii: return "ASCII";
    case ModbusMode::Rtu: return "RTU";
    case ModbusMode::Tcp: return "TCP";
    case ModbusMode::RtuOverTcp: return "RTU over TCP";
  }
  return "";
}

bool ModeFromInt(int position, ModbusMode& mode) {
  if (position < 0 || position > 3) return false;
  mode = static_cast<ModbusMode>(position);
  return true;
}

FrameLayout LayoutOf(ModbusMode mode) {
  switch (mode) {
    case ModbusMode::Ascii: return {1, 1};
    case ModbusMode::Tcp: return {kMbapHeaderSize, 0};
    default: return {1, 2};
  }
}

std::string WireText(ModbusMode mode, const std::uint8_t* frame, int size) {
  if (mode != ModbusMode::Ascii) return HexBytes(frame, size);
  std::string text = HexBytes(frame, size);
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  return text;
}

std::uint8_t Lrc(const std::uint8_t* bytes, int size) {
  unsigned sum = 0;
  for (int i = 0; i < size; ++i) sum += bytes[i];
  return static_cast<std::uint8_t>(-sum);
}

std::string EncodeAscii(const std::uint8_t* bytes, int size) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(static_cast<std::size_t>(2 * size + 5));
  text += ':';
  auto put = [&](std::uint8_t b) {
    text += digits[b >> 4];
    text += digits[b & 15];
  };
  for (int i = 0; i < size; ++i) put(bytes[i]);
  put(Lrc(bytes, size));
  text += "\r\n";
  return text;
}

namespace {

int HexDigit(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

int DecodeAsciiHex(const std::uint8_t* chars, int count, std::uint8_t* out, int capacity) {
  if (count % 2 != 0 || count / 2 > capacity) return -1;
  for (int i = 0; i < count; i += 2) {
    const int high = HexDigit(chars[i]);
    const int low = HexDigit(chars[i + 1]);
    if (high < 0 || low < 0) return -1;
    out[i / 2] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return count / 2;
}

MbapHeader ParseMbap(const std::uint8_t* bytes) {
  MbapHeader h;
  h.transaction = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
  h.protocol = static_cast<std::uint16_t>(bytes[2] << 8 | bytes[3]);
  h.length = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
  h.unit = bytes[6];
  return h;
}

void PutMbap(std::uint8_t* out, std::uint16_t transaction, std::uint8_t unit, int pduSize) {
  const auto length = static_cast<unsigned>(pduSize + 1);
  out[0] = static_cast<std::uint8_t>(transaction >> 8);
  out[1] = static_cast<std::uint8_t>(transaction & 0xFF);
  out[2] = 0;
  out[3] = 0;
  out[4] = static_cast<std::uint8_t>(length >> 8);
  out[5] = static_cast<std::uint8_t>(length & 0xFF);
  out[6] = unit;
}

}  // namespace vantrel
