// What a listening monitor makes of one Modbus frame seen on a line: how long a frame that
// starts with given bytes is, in its request and its reply form, and the frame decoded
// (slave id, function, addresses, quantities, values, exception, device identification).
// Pure functions over the frame's bytes: slave id and PDU, the check bytes already checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modbus/DeviceIdentification.h"

namespace vantrel {

enum class FrameKind { Request, Reply, Exception, Noise };
// "request", "reply", "exception", "noise".
const char* FrameKindName(FrameKind kind);

// The two forms a PDU with a given function code can take on the line.
enum class FrameForm { Request, Reply };

// The PDU length (function code and data) of the form of a frame whose PDU starts with
// these bytes: > 0 when known, 0 while more bytes are needed to tell, -1 when no such PDU
// can start so (unknown function, impossible byte count). An exception reply (function
// with its top bit set) is 2 bytes in the reply form and no request.
int PduLength(FrameForm form, const std::uint8_t* pdu, int size);

// One frame as the monitor saw it. Times are on the clock of the bytes' arrival that the
// caller gives the monitor, in milliseconds with fractions.
struct MonitorFrame {
  FrameKind kind = FrameKind::Noise;
  double timeMs = 0;          // arrival of its first byte
  double endMs = 0;           // arrival of its last byte
  double gapMs = -1;          // since the end of the previous frame (or noise); -1 for the first
  double turnaroundMs = -1;   // a paired reply or exception: the request's end to its start; else -1
  std::vector<std::uint8_t> bytes;  // slave id, PDU and check bytes (CRC, or the LRC in ASCII); noise: as received
  int checkSize = 2;                // the check bytes at the end of bytes: 2 (CRC) or 1 (LRC)
  std::uint8_t slaveId = 0;
  std::uint8_t function = 0;  // as on the wire: an exception's has the top bit set
  bool broadcast = false;     // slave id 0: no device answers
  bool crcError = false;      // noise that has the length of the expected reply but fails its CRC or LRC
  // The exchange: a request's number, which its reply carries too; 0 for a reply that
  // answers no request seen, and for noise.
  std::uint32_t exchange = 0;

  // Decoded fields; -1 where the function has none.
  int wireAddress = -1;  // 0-based address on the wire; offsets count from 1: wireAddress + 1
  int quantity = -1;     // items read or written
  std::vector<std::uint16_t> registers;  // values read, written or echoed
  std::vector<std::uint8_t> bits;        // coils or inputs read or written, one 0 or 1 each
  int exceptionCode = -1;
  std::string exceptionTitle;            // "0x02 - ILLEGAL DATA ADDRESS"
  int meiType = -1;                      // 43: the MEI type
  int readDeviceIdCode = -1;             // 43/14: the read device id code
  int objectId = -1;                     // 43/14 request: the first object asked for
  std::vector<DeviceIdObject> objects;   // 43/14 reply
  int subFunction = -1;                  // 08: the sub-function
  int byteCount = -1;                    // the byte count field, where the PDU has one
  // What the monitor adds in words: "ref 1 (wire 0) count 10", "0x0001 0x0002", ...
  std::string detail;
};

// Fills the decoded fields and detail of a frame whose bytes, checkSize, kind, slave id and
// function are set. readQuantity is the quantity of the request a read reply answers (-1
// unknown), so that the padding bits after the last coil or input are not shown.
void DecodeFrame(MonitorFrame& frame, int readQuantity = -1);

}  // namespace vantrel
