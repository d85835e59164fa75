// Whole frames written as hex in tests: Rtu("01 03 00 00 00 02") adds the CRC, Ascii(...)
// makes the ':' ... LRC CR LF characters of the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modbus/Framing.h"
#include "modbus/ModbusFrame.h"
#include "support/Hex.h"

namespace vantrel::test {

inline std::vector<std::uint8_t> Rtu(const std::string& hex) {
  std::vector<std::uint8_t> b = Bytes(hex);
  const std::uint16_t crc = Crc16(b.data(), static_cast<std::uint16_t>(b.size()));
  b.push_back(static_cast<std::uint8_t>(crc >> 8));
  b.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return b;
}

inline std::vector<std::uint8_t> Ascii(const std::string& hex) {
  const std::vector<std::uint8_t> b = Bytes(hex);
  const std::string text = EncodeAscii(b.data(), static_cast<int>(b.size()));
  return {text.begin(), text.end()};
}

}  // namespace vantrel::test
