// Every public function code of the Modbus application protocol that the program knows, on
// PDU bytes (function code first) whatever frame carries them: the table of functions and of
// the diagnostics sub-functions, the request PDUs with their checks, the size of a reply,
// whether a reply answers its request, and the reply decoded for people and for the program.
// The reads and writes of ModbusFrame.h and 43/14 of DeviceIdentification.h are in the table
// too; the functions below add 07, 08, 11, 12, 17 and 20 to 24.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "modbus/ModbusFrame.h"

namespace vantrel {

// The function codes beside the writes of ModbusFrame.h and 43 of DeviceIdentification.h.
enum : std::uint8_t {
  kReadCoils = 1,
  kReadDiscreteInputs = 2,
  kReadHoldingRegisters = 3,
  kReadInputRegisters = 4,
  kReadExceptionStatus = 7,
  kDiagnostics = 8,
  kGetCommEventCounter = 11,
  kGetCommEventLog = 12,
  kReportServerId = 17,
  kReadFileRecord = 20,
  kWriteFileRecord = 21,
  kMaskWriteRegister = 22,
  kReadWriteMultipleRegisters = 23,
  kReadFifoQueue = 24,
};

// The most a PDU holds: 256 bytes of a serial frame less the slave id and the CRC.
inline constexpr int kMaxPduSize = 253;

// How long a function's normal reply PDU is.
enum class ReplyShape : std::uint8_t {
  ByteCount,  // function, a byte count, that many bytes (01 to 04, 12, 17, 20, 23)
  Fixed,      // always FunctionInfo::replySize bytes (05, 06, 07, 11, 15, 16, 22)
  Echo,       // as long as the request (08, 21)
  Fifo,       // function, a 2-byte byte count, that many bytes (24)
  DeviceId,   // its objects say (43/14)
};

struct FunctionInfo {
  std::uint8_t code;
  const char* name;  // "Read Exception Status", as the program shows it
  bool broadcast;    // may go to slave id 0: writes only, since no device answers a broadcast
  ReplyShape reply;
  int replySize;     // Fixed: the reply PDU's size; else 0
};

// Every function the program knows, by code.
std::span<const FunctionInfo> ModbusFunctions();
// The function's entry; nullptr for a code the program does not know.
const FunctionInfo* FindFunction(std::uint8_t code);
// The name of a function, its exception form (top bit set) named as the function: "Function
// 0x41" for a code the program does not know.
std::string FunctionName(std::uint8_t code);
constexpr bool IsExceptionFunction(std::uint8_t code) { return (code & 0x80) != 0; }
// Whether a request of this function may go to slave id 0: 05, 06, 15, 16, 21 and 22.
bool MayBroadcast(std::uint8_t code);

// --- Diagnostics (08) ------------------------------------------------------------------

enum : std::uint16_t {
  kDiagReturnQueryData = 0x00,
  kDiagRestartCommunications = 0x01,
  kDiagReturnDiagnosticRegister = 0x02,
  kDiagForceListenOnly = 0x04,
  kDiagClearCounters = 0x0A,
  kDiagBusMessageCount = 0x0B,
  kDiagBusCharacterOverrunCount = 0x12,
  kDiagClearOverrunCounter = 0x14,
};
// Restart Communications with this data also clears the communications event log.
inline constexpr std::uint16_t kDiagClearEventLog = 0xFF00;

enum class DiagnosticKind : std::uint8_t {
  Echo,     // 00: the reply echoes the request's data words
  Command,  // 01, 0A, 14: a command whose reply echoes the request
  Value,    // 02, 0B to 12: the reply carries one register, the diagnostic register or a counter
  NoReply,  // 04: the device stops answering until it is restarted
};

struct DiagnosticInfo {
  std::uint16_t code;
  const char* name;   // "Return Bus Message Count"
  const char* value;  // what a Value reply's register is, "Bus message count"; else nullptr
  DiagnosticKind kind;
};

std::span<const DiagnosticInfo> DiagnosticFunctions();
const DiagnosticInfo* FindDiagnostic(std::uint16_t subFunction);
// "Return Query Data", ...; "Sub-function 0x0003" for one the program does not know.
std::string DiagnosticName(std::uint16_t subFunction);

// --- Requests --------------------------------------------------------------------------

// A request PDU as a builder makes it: check is MB_REQUEST_OK with the PDU, or the code of
// the request check (ModbusFrame.h) that refused it with pdu empty.
struct RequestPdu {
  int check = MB_REQUEST_BAD_PDU_SIZE;
  std::vector<std::uint8_t> pdu;
  bool ok() const { return check == MB_REQUEST_OK; }
};

// One reference of a file record request: records count from 0 to 9999 in files 1 to
// 65535; length is the number of registers from that record on.
struct FileRecordRef {
  std::uint16_t file = 0;
  std::uint16_t record = 0;
  std::uint16_t length = 0;
};
// Registers for a file record write, from record on.
struct FileRecordWrite {
  std::uint16_t file = 0;
  std::uint16_t record = 0;
  std::vector<std::uint16_t> values;
};

// Addresses here are as the PDU carries them, counted from 0.
RequestPdu ReadExceptionStatusPdu();
// data: the sub-function's data words: for 00 1 to 125 words of any value; for 01 0x0000 or
// kDiagClearEventLog; for the others 0x0000. A sub-function the program does not know is
// refused.
RequestPdu DiagnosticsPdu(std::uint16_t subFunction, const std::vector<std::uint16_t>& data);
RequestPdu CommEventCounterPdu();
RequestPdu CommEventLogPdu();
RequestPdu ReportServerIdPdu();
RequestPdu ReadFileRecordPdu(const std::vector<FileRecordRef>& refs);
RequestPdu WriteFileRecordPdu(const std::vector<FileRecordWrite>& records);
RequestPdu MaskWriteRegisterPdu(std::uint16_t address, std::uint16_t andMask, std::uint16_t orMask);
// Reads readQuantity (1 to 125) registers from readAddress and writes values (1 to 121) from
// writeAddress; the device writes first.
RequestPdu ReadWriteRegistersPdu(std::uint16_t readAddress, int readQuantity, std::uint16_t writeAddress,
                                 const std::vector<std::uint16_t>& values);
RequestPdu ReadFifoQueuePdu(std::uint16_t fifoAddress);

// The check of a request PDU given whole, as a raw request comes: MB_REQUEST_OK, or
// MB_REQUEST_BAD_PDU_SIZE (no bytes, more than a PDU holds, or not the size its function's
// fields give), MB_REQUEST_UNKNOWN_FUNCTION_CODE (0, or an exception's code, 128 and up), and
// for the functions the program knows what their limits refuse: MB_REQUEST_BAD_QUANTITY,
// MB_REQUEST_BAD_FIELD, MB_REQUEST_OUT_OF_RANGE (a read past address 65535 or record 9999),
// MB_REQUEST_WRITE_OUT_OF_RANGE (a write past them). A function the program does not know,
// an 08 sub-function or 43 MEI type it does not know, passes with any data.
int CheckRequestPdu(const std::uint8_t* pdu, int size);
// The same, and to whom: slave id 1 to 255 for any request, 0 (broadcast) only for a function
// that may be broadcast (MB_REQUEST_NO_BROADCAST), others MB_REQUEST_BAD_SLAVE_ID.
int CheckRequest(int slaveId, const std::uint8_t* pdu, int size);
// The frame that ModbusMaster::SendRequest takes: slave id, PDU and CRC. Returns
// MB_REQUEST_OK, or the code of CheckRequest (frame then empty).
int FrameRequest(int slaveId, const std::vector<std::uint8_t>& pdu, std::vector<std::uint8_t>& frame);
// Whether a device answers this request: not a broadcast, nor 08 Force Listen Only Mode.
bool RequestExpectsReply(int slaveId, const std::uint8_t* pdu, int size);
// Whether the program knows how the reply to this request PDU is sized and checked: its
// function is in the table, and for 08 the sub-function, for 43 the MEI type (14), too.
bool KnownRequest(const std::uint8_t* pdu, int size);

// --- Replies ---------------------------------------------------------------------------

// The size of the complete reply PDU that starts with these bytes of reply, given its request
// PDU: the function's fixed size, the request's size for an echo, 2 + the byte count, 3 +
// the FIFO's 2-byte byte count, the objects of 43/14, and 2 for an exception. 0 while more
// bytes are needed to tell, -1 when it cannot be known: a request that KnownRequest does not
// know, nor expects a reply; a reply of another function than the request's; a count that
// makes more than a PDU.
int ReplyPduSize(const std::uint8_t* request, int requestSize, const std::uint8_t* reply, int replySize);

// The size of a reply PDU judged by its own bytes, with no request at hand: as ReplyPduSize
// for the functions whose replies say their size; -1 for an echo (08, 21), whose size is the
// request's, and for a function the program does not know.
int ReplyPduSizeAlone(const std::uint8_t* reply, int size);

// Whether reply (a PDU, complete as it is) answers request: MB_RESPONCE_OK;
// MB_RESPONCE_EXCEPTION for the exception form of the request's function, 2 bytes long;
// MB_RESPONCE_INCOMPLETE when its size is not the one ReplyPduSize gives; MB_RESPONCE_UNKOWN
// for another function (MB_RESPONCE_INVALID_FUNCTION_CODE for 0); MB_RESPONCE_WRITE_ECHO_MISMATCH
// for a write that echoes other fields (05, 06, 15, 16, 21, 22); MB_RESPONCE_REPLY_MISMATCH for
// fields that do not fit the request: 01 to 04 and 23 a byte count other than the quantity
// asked needs, 08 another sub-function or (00, 01, 0A, 14) other data echoed, 12 fewer than
// 6 bytes or more than 64 events, 17 fewer than 2 bytes, 20 a length or sub-response that
// the records asked do not give or a reference type other than 6, 24 a FIFO count over 31
// or a byte count it does not fill, 43/14 another MEI type or read code. A request that
// KnownRequest does not know takes any reply of its function (MB_RESPONCE_UNSUPPORTED_REQUEST
// for a request that CheckRequestPdu refuses).
int CheckReplyPdu(const std::uint8_t* request, int requestSize, const std::uint8_t* reply, int replySize);

// A reply decoded for people: (name, value) pairs, the function first. An exception gives
// its code and the exception's title; a function the program does not know, its data in
// hex. request (may be null) names what the reply alone cannot: the records of a file read,
// the bits asked for. Fields that the bytes cannot fill are left out.
using PduFields = std::vector<std::pair<std::string, std::string>>;
PduFields DecodeReplyPdu(const std::uint8_t* request, int requestSize, const std::uint8_t* reply, int replySize);
// The fields as lines, "Name: value" each.
std::string FieldsText(const PduFields& fields);

// Typed accessors of normal replies. Each takes the reply PDU and is false when the bytes
// are not such a reply whole (another function, a size its counts do not give); then the
// output is untouched.

// 08 with one register (02, 0B to 12): the diagnostic register or the counter.
bool DiagnosticValue(const std::uint8_t* reply, int size, std::uint16_t& value);

struct CommEventCounter {
  std::uint16_t status = 0;  // 0xFFFF while the device is busy with a command, else 0
  std::uint16_t eventCount = 0;
};
bool ParseCommEventCounter(const std::uint8_t* reply, int size, CommEventCounter& counter);

struct CommEventLog {
  std::uint16_t status = 0;
  std::uint16_t eventCount = 0;
  std::uint16_t messageCount = 0;
  std::vector<std::uint8_t> events;  // the newest first
};
bool ParseCommEventLog(const std::uint8_t* reply, int size, CommEventLog& log);

// 17: what follows the byte count is the device's own; the usual layout is taken, a one-byte
// server id, the run indicator (0x00 OFF, 0xFF ON), then additional data.
struct ServerIdReply {
  std::uint8_t byteCount = 0;
  std::uint8_t serverId = 0;
  std::uint8_t runIndicator = 0;
  std::vector<std::uint8_t> additional;
  bool running() const { return runIndicator == 0xFF; }
};
bool ParseServerId(const std::uint8_t* reply, int size, ServerIdReply& server);

// 20: the registers of each sub-response, in the order of the request's references.
bool ParseFileRecords(const std::uint8_t* reply, int size, std::vector<std::vector<std::uint16_t>>& records);
// 23: the registers read.
bool ParseReadWriteRegisters(const std::uint8_t* reply, int size, std::vector<std::uint16_t>& registers);
// 24: the FIFO's registers, the oldest first.
bool ParseFifoQueue(const std::uint8_t* reply, int size, std::vector<std::uint16_t>& values);

}  // namespace vantrel
