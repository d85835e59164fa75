#include "modbus/ModbusFrame.h"

#include <algorithm>
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

namespace {

// Functions 1 and 2 read up to 2000 bits, 3 and 4 up to 125 registers; the sum of offset
// and length may reach 10000 for functions 1 to 3 and 65535 for function 4. 0: unknown.
unsigned long long MaxLength(int function) {
  return function == 1 || function == 2 ? 2000 : function == 3 || function == 4 ? 125 : 0;
}

int CheckRange(int function, unsigned long long offset, unsigned long long length) {
  const unsigned long long maxLength = MaxLength(function);
  if (maxLength == 0) return MB_REQUEST_UNKNOWN_FUNCTION_CODE;
  if (length > maxLength) return MB_REQUEST_TOO_LONG;
  const unsigned long long limit = function == 4 ? 65535 : 10000;
  return offset + length > limit ? MB_REQUEST_OUT_OF_RANGE : MB_REQUEST_OK;
}

}  // namespace

int CheckReadRequest(std::uint8_t function, std::uint8_t /*slaveId*/, std::uint16_t offset,
                     std::uint16_t length) {
  return CheckRange(function, offset, length);
}

int CheckRequestFields(int slaveId, int offset, int length) {
  if (slaveId < kMinSlaveId || slaveId > kMaxSlaveId) return MB_REQUEST_BAD_SLAVE_ID;
  if (offset < kMinRequestOffset || offset > kMaxRequestOffset) return MB_REQUEST_BAD_OFFSET;
  if (length < 1 || length > 0xFFFF) return MB_REQUEST_BAD_LENGTH;
  return MB_REQUEST_OK;
}

int CheckRequestSettings(int function, int slaveId, int offset, int length) {
  if (MaxLength(function) == 0) return MB_REQUEST_UNKNOWN_FUNCTION_CODE;
  if (length > 0 && static_cast<unsigned long long>(length) > MaxLength(function)) return MB_REQUEST_TOO_LONG;
  if (const int fields = CheckRequestFields(slaveId, offset, length); fields != MB_REQUEST_OK) return fields;
  return CheckRange(function, static_cast<unsigned long long>(offset), static_cast<unsigned long long>(length));
}

std::string HexBytes(const std::uint8_t* bytes, int size) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(static_cast<std::size_t>(size > 0 ? size : 0) * 3);
  for (int i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
    text += ' ';
  }
  return text;
}

int BuildReadRequest(std::uint8_t function, std::uint8_t slaveId, std::uint16_t offset,
                     std::uint16_t length, std::uint8_t* out) {
  if (out == nullptr) return MB_REQUEST_NO_BUFFER;
  const auto wireOffset = static_cast<std::uint16_t>(WireAddress(offset));
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

int CheckWriteRequest(int function, int slaveId, int offset, int count) {
  if (!IsWriteFunction(function)) return MB_REQUEST_UNKNOWN_FUNCTION_CODE;
  // Slave id 0 broadcasts the write: every device carries it out.
  if (const int fields = CheckRequestFields(slaveId == 0 ? kMinSlaveId : slaveId, offset, 1); fields != MB_REQUEST_OK) {
    return fields;
  }
  const int most = function == kWriteMultipleCoils      ? kMaxWriteCoils
                   : function == kWriteMultipleRegisters ? kMaxWriteRegisters
                                                         : 1;
  if (count < 1 || count > most) return MB_REQUEST_WRITE_BAD_QUANTITY;
  return static_cast<long long>(WireAddress(offset)) + count - 1 > 0xFFFF ? MB_REQUEST_WRITE_OUT_OF_RANGE
                                                                          : MB_REQUEST_OK;
}

int BuildWriteRequest(std::uint8_t function, std::uint8_t slaveId, int offset,
                      const std::uint16_t* values, int count, std::uint8_t* out) {
  if (out == nullptr || values == nullptr) return MB_REQUEST_NO_BUFFER;
  const int code = CheckWriteRequest(function, slaveId, offset, count);
  if (code != MB_REQUEST_OK) return code;
  const auto address = static_cast<std::uint16_t>(WireAddress(offset));
  int n = 0;
  auto put16 = [&](unsigned v) {
    out[n++] = static_cast<std::uint8_t>(v >> 8);
    out[n++] = static_cast<std::uint8_t>(v & 0xFF);
  };
  out[n++] = slaveId;
  out[n++] = function;
  put16(address);
  switch (function) {
    case kWriteSingleCoil:
      put16(values[0] != 0 ? 0xFF00 : 0x0000);
      break;
    case kWriteSingleRegister:
      put16(values[0]);
      break;
    case kWriteMultipleCoils: {
      put16(static_cast<unsigned>(count));
      const int bytes = (count + 7) / 8;
      out[n++] = static_cast<std::uint8_t>(bytes);
      std::fill(out + n, out + n + bytes, std::uint8_t{0});
      // Least significant bit first, as a read's reply packs them.
      for (int i = 0; i < count; ++i) {
        if (values[i] != 0) out[n + i / 8] = static_cast<std::uint8_t>(out[n + i / 8] | 1U << (i % 8));
      }
      n += bytes;
      break;
    }
    default:  // kWriteMultipleRegisters
      put16(static_cast<unsigned>(count));
      out[n++] = static_cast<std::uint8_t>(2 * count);
      for (int i = 0; i < count; ++i) put16(values[i]);
      break;
  }
  const std::uint16_t crc = Crc16(out, static_cast<std::uint16_t>(n));
  put16(crc);
  return n;
}

}  // namespace vantrel
