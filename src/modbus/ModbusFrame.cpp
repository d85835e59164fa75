#include "modbus/ModbusFrame.h"

#include <array>

namespace vantrel {
namespace {

// The two byte tables of the MODBUS over serial line guide: for each index, the low
// byte (A) and the high byte (B) of the byte-wise CRC-16 table entry for 0xA001.
struct CrcTables {
  std::array<std::uint8_t, 256> a{};
  std::array<std::uint8_t, 256> b{};
};

constexpr CrcTables MakeCrcTables() {
  CrcTables t;
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1U) ? (crc >> 1) ^ 0xA001U : crc >> 1;
    t.a[i] = static_cast<std::uint8_t>(crc & 0xFFU);
    t.b[i] = static_cast<std::uint8_t>(crc >> 8);
  }
  return t;
}

constexpr CrcTables kCrc = MakeCrcTables();
static_assert(kCrc.a[1] == 0xC1 && kCrc.b[1] == 0xC0, "CRC tables as in the Modbus guide");

}  // namespace

std::uint16_t Crc16(const std::uint8_t* data, std::uint16_t length) {
  // hi is the CRC's low-order byte, which goes on the line first.
  std::uint8_t hi = 0xFF;
  std::uint8_t lo = 0xFF;
  for (std::uint16_t n = 0; n < length; ++n) {
    const std::uint8_t i = hi ^ data[n];
    hi = lo ^ kCrc.a[i];
    lo = kCrc.b[i];
  }
  return static_cast<std::uint16_t>(hi << 8 | lo);
}

int CheckReadRequest(std::uint8_t function, std::uint8_t /*slaveId*/, std::uint16_t offset,
                     std::uint16_t length) {
  unsigned limit = 0;
  switch (function) {
    case 1:
    case 2:
      if (length > 2000) return MB_REQUEST_TOO_LONG;
      limit = 10000;
      break;
    case 3:
      if (length > 125) return MB_REQUEST_TOO_LONG;
      limit = 10000;
      break;
    case 4:
      if (length > 125) return MB_REQUEST_TOO_LONG;
      limit = 65535;
      break;
    default:
      return MB_REQUEST_UNKNOWN_FUNCTION_CODE;
  }
  const unsigned sum = unsigned{offset} + unsigned{length};
  return sum > limit ? MB_REQUEST_OUT_OF_RANGE : MB_REQUEST_OK;
}

int BuildReadRequest(std::uint8_t function, std::uint8_t slaveId, std::uint16_t offset,
                     std::uint16_t length, std::uint8_t* out) {
  if (out == nullptr) return MB_REQUEST_NO_BUFFER;
  const std::uint16_t wireOffset = offset >= 1 ? static_cast<std::uint16_t>(offset - 1) : 0;
  const int code = CheckReadRequest(function, slaveId, wireOffset, length);
  if (code != MB_REQUEST_OK) return code;
  out[0] = slaveId;
  out[1] = function;
  out[2] = static_cast<std::uint8_t>(wireOffset >> 8);
  out[3] = static_cast<std::uint8_t>(wireOffset & 0xFF);
  out[4] = static_cast<std::uint8_t>(length >> 8);
  out[5] = static_cast<std::uint8_t>(length & 0xFF);
  const std::uint16_t crc = Crc16(out, 6);
  out[6] = static_cast<std::uint8_t>(crc >> 8);
  out[7] = static_cast<std::uint8_t>(crc & 0xFF);
  return kReadRequestSize;
}

}  // namespace vantrel
