// RTU frames for the benchmarks: the bytes given, with their CRC after them.
#pragma once

#include <cstdint>
#include <vector>

#include "modbus/ModbusFrame.h"

namespace vantrel::bench {

inline std::vector<std::uint8_t> Framed(std::vector<std::uint8_t> b) {
  const std::uint16_t crc = Crc16(b.data(), static_cast<std::uint16_t>(b.size()));
  b.push_back(static_cast<std::uint8_t>(crc >> 8));
  b.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return b;
}

}  // namespace vantrel::bench
