// Modbus requests: reads (functions 01 to 04) and writes (05, 06, 15, 16), checking, and
// their RTU frames with the CRC-16 (the other framings are in Framing.h). Stateless; shared
// by the master, the request page's preview and the tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel {

// Every frame buffer of an exchange holds at most this many bytes.
inline constexpr std::size_t kFrameCapacity = 260;
// A read request is always slave id, function, address (2), quantity (2), CRC (2).
inline constexpr int kReadRequestSize = 8;
// The normal reply to a write is as long: slave id, function, address, value or quantity, CRC.
inline constexpr int kWriteReplySize = 8;

// The write functions of the Modbus application protocol.
enum : std::uint8_t {
  kWriteSingleCoil = 5,
  kWriteSingleRegister = 6,
  kWriteMultipleCoils = 15,
  kWriteMultipleRegisters = 16,
};
inline constexpr int kMaxWriteCoils = 1968;
inline constexpr int kMaxWriteRegisters = 123;

constexpr bool IsWriteFunction(int function) {
  return function == kWriteSingleCoil || function == kWriteSingleRegister ||
         function == kWriteMultipleCoils || function == kWriteMultipleRegisters;
}
constexpr bool IsCoilWrite(int function) {
  return function == kWriteSingleCoil || function == kWriteMultipleCoils;
}

// Request check codes.
enum : int {
  MB_REQUEST_OK = 1,
  MB_REQUEST_TOO_LONG = -1,
  MB_REQUEST_UNKNOWN_FUNCTION_CODE = -4,
  MB_REQUEST_NO_BUFFER = -8,
  MB_REQUEST_OUT_OF_RANGE = -10,
  // Settings that do not fit a frame field: refused, never cut to fit.
  MB_REQUEST_BAD_SLAVE_ID = -11,  // not 1 to 255 (0 is the broadcast address: nobody answers)
  MB_REQUEST_BAD_OFFSET = -12,    // not 0 to 65536
  MB_REQUEST_BAD_LENGTH = -13,    // below 1, or more than the 16-bit quantity field holds
  // Writes.
  MB_REQUEST_WRITE_BAD_QUANTITY = -14,  // 05/06 write one item; 15 1 to 1968 coils, 16 1 to 123 registers
  MB_REQUEST_WRITE_OUT_OF_RANGE = -15,  // the written range ends past address 65535
  // Request PDUs of every function (Functions.h).
  MB_REQUEST_BAD_QUANTITY = -16,  // a count the function does not carry (23 reads 1 to 125, ...)
  MB_REQUEST_BAD_FIELD = -17,     // a field value the function does not take (a file number 0, ...)
  MB_REQUEST_BAD_PDU_SIZE = -18,  // not 1 to 253 bytes, or not the size the function's fields give
  MB_REQUEST_NO_BROADCAST = -19,  // slave id 0 for a function that reads: no device answers a broadcast
};

inline constexpr int kMinSlaveId = 1;
inline constexpr int kMaxSlaveId = 255;
// Offsets count from 1. Offset 0, which older versions stored and polled, starts at
// address 0 as offset 1 does, so files they wrote keep working.
inline constexpr int kMinRequestOffset = 0;
inline constexpr int kMaxRequestOffset = 65536;

// The 0-based address on the wire of a request offset: one less, and 0 for offset 0.
constexpr int WireAddress(int offset) { return offset > 1 ? offset - 1 : 0; }

// Reply check codes. 0, -1 and -2 mean "no complete reply yet" to the poll cycle.
enum : int {
  MB_RESPONCE_OK = 1,
  MB_RESPONCE_EMPTY = 0,
  MB_RESPONCE_TOO_LONG = -1,
  MB_RESPONCE_INCOMPLETE = -2,
  MB_RESPONCE_UNSUPPORTED_REQUEST = -3,
  MB_RESPONCE_INVALID_FUNCTION_CODE = -4,
  MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE = -5,
  MB_RESPONCE_EXCEPTION = -6,
  MB_RESPONCE_INVALID_CRC = -7,
  MB_RESPONCE_UNKOWN = -8,
  // A write reply from the right device with a right CRC that echoes another address,
  // value or quantity than the write asked for: the write is not confirmed.
  MB_RESPONCE_WRITE_ECHO_MISMATCH = -9,
  // ASCII: a frame whose LRC does not match its bytes, or whose characters are no hex pairs;
  // the counterpart of an invalid CRC.
  MB_RESPONCE_INVALID_LRC = -10,
  // Modbus TCP: an MBAP header with a length that no frame can have (under 2, over 254). The
  // byte stream can no longer be followed: the master has closed the connection.
  MB_RESPONCE_BAD_MBAP_LENGTH = -11,
  // A reply from the right device with a right check whose fields do not answer the request
  // (Functions.h, CheckReplyPdu): another sub-function or other data echoed, a byte count or
  // sub-response that the quantity or records asked for do not give, a FIFO count over 31.
  MB_RESPONCE_REPLY_MISMATCH = -12,
};

// 0, -1 and -2: no complete reply has arrived yet, keep waiting.
constexpr bool ReplyPending(int result) {
  return result == MB_RESPONCE_EMPTY || result == MB_RESPONCE_TOO_LONG ||
         result == MB_RESPONCE_INCOMPLETE;
}

// The Modbus CRC-16 (reflected polynomial 0xA001, initial 0xFFFF) with its bytes in
// transmit order: the high byte of the result is sent first. Zero bytes give 0xFFFF.
std::uint16_t Crc16(const std::uint8_t* data, std::uint16_t length);

// Checks a read request. The slave id is not examined; offset + length is added
// without 16-bit overflow.
int CheckReadRequest(std::uint8_t function, std::uint8_t slaveId, std::uint16_t offset,
                     std::uint16_t length);

// Whether the request settings (offset counted from 1) fit the frame's fields: MB_REQUEST_OK
// or one of the MB_REQUEST_BAD_ codes. Settings that fail must not be framed, since the
// frame would carry other values than the user asked for.
int CheckRequestFields(int slaveId, int offset, int length);
// The request check as the program makes it on its settings, nothing cut: the function and
// the length first (MB_REQUEST_UNKNOWN_FUNCTION_CODE, MB_REQUEST_TOO_LONG), then
// CheckRequestFields, then the range with the user's offset as it stands, which is one
// stricter at the top than the check inside BuildReadRequest.
int CheckRequestSettings(int function, int slaveId, int offset, int length);

// Frames a read request from the user's 1-based offset into out (at least 8 bytes).
// Returns 8, or the request check code when the check fails (out is then untouched).
int BuildReadRequest(std::uint8_t function, std::uint8_t slaveId, std::uint16_t offset,
                     std::uint16_t length, std::uint8_t* out);

// Checks a write of count items from the user's 1-based offset: the function (one of the
// four), the slave id and offset as CheckRequestFields checks them (and slave id 0, the
// broadcast every device carries out), the quantity, and that the range ends at or below
// address 65535.
int CheckWriteRequest(int function, int slaveId, int offset, int count);

// Frames a write of count items from the user's 1-based offset into out (at least
// kFrameCapacity bytes): for 05 and 15, a value other than 0 switches the coil on; for 06
// and 16, the values are the registers. Returns the frame size, or the write check code
// (out is then untouched).
int BuildWriteRequest(std::uint8_t function, std::uint8_t slaveId, int offset,
                      const std::uint16_t* values, int count, std::uint8_t* out);

// The byte count of a normal reply to a read of quantity items (functions 1 to 4): coils
// and inputs packed eight to a byte, two bytes a register.
constexpr unsigned ReadReplyByteCount(int function, unsigned quantity) {
  return function <= 2 ? (quantity + 7) / 8 : 2 * quantity;
}

// Every byte as "%02X " (two upper-case digits and a blank each), as frames are logged.
std::string HexBytes(const std::uint8_t* bytes, int size);

constexpr std::uint16_t SwapBytes16(std::uint16_t value) {
  return static_cast<std::uint16_t>((value << 8) | (value >> 8));
}

}  // namespace vantrel
