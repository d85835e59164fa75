#include "modbus/Functions.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "modbus/DeviceIdentification.h"
#include "modbus/ExceptionText.h"

namespace vantrel {
namespace {

constexpr FunctionInfo kFunctionTable[] = {
    {kReadCoils, "Read Coils", false, ReplyShape::ByteCount, 0},
    {kReadDiscreteInputs, "Read Discrete Inputs", false, ReplyShape::ByteCount, 0},
    {kReadHoldingRegisters, "Read Holding Registers", false, ReplyShape::ByteCount, 0},
    {kReadInputRegisters, "Read Input Registers", false, ReplyShape::ByteCount, 0},
    {kWriteSingleCoil, "Write Single Coil", true, ReplyShape::Fixed, 5},
    {kWriteSingleRegister, "Write Single Register", true, ReplyShape::Fixed, 5},
    {kReadExceptionStatus, "Read Exception Status", false, ReplyShape::Fixed, 2},
    {kDiagnostics, "Diagnostics", false, ReplyShape::Echo, 0},
    {kGetCommEventCounter, "Get Comm Event Counter", false, ReplyShape::Fixed, 5},
    {kGetCommEventLog, "Get Comm Event Log", false, ReplyShape::ByteCount, 0},
    {kWriteMultipleCoils, "Write Multiple Coils", true, ReplyShape::Fixed, 5},
    {kWriteMultipleRegisters, "Write Multiple Registers", true, ReplyShape::Fixed, 5},
    {kReportServerId, "Report Server ID", false, ReplyShape::ByteCount, 0},
    {kReadFileRecord, "Read File Record", false, ReplyShape::ByteCount, 0},
    {kWriteFileRecord, "Write File Record", true, ReplyShape::Echo, 0},
    {kMaskWriteRegister, "Mask Write Register", true, ReplyShape::Fixed, 7},
    {kReadWriteMultipleRegisters, "Read/Write Multiple Registers", false, ReplyShape::ByteCount, 0},
    {kReadFifoQueue, "Read FIFO Queue", false, ReplyShape::Fifo, 0},
    {kEncapsulatedInterface, "Read Device Identification", false, ReplyShape::DeviceId, 0},
};

constexpr DiagnosticInfo kDiagnosticTable[] = {
    {kDiagReturnQueryData, "Return Query Data", nullptr, DiagnosticKind::Echo},
    {kDiagRestartCommunications, "Restart Communications Option", nullptr, DiagnosticKind::Command},
    {kDiagReturnDiagnosticRegister, "Return Diagnostic Register", "Diagnostic register", DiagnosticKind::Value},
    {kDiagForceListenOnly, "Force Listen Only Mode", nullptr, DiagnosticKind::NoReply},
    {kDiagClearCounters, "Clear Counters and Diagnostic Register", nullptr, DiagnosticKind::Command},
    {0x0B, "Return Bus Message Count", "Bus message count", DiagnosticKind::Value},
    {0x0C, "Return Bus Communication Error Count", "Bus communication error count", DiagnosticKind::Value},
    {0x0D, "Return Bus Exception Error Count", "Bus exception error count", DiagnosticKind::Value},
    {0x0E, "Return Server Message Count", "Server message count", DiagnosticKind::Value},
    {0x0F, "Return Server No Response Count", "Server no response count", DiagnosticKind::Value},
    {0x10, "Return Server NAK Count", "Server NAK count", DiagnosticKind::Value},
    {0x11, "Return Server Busy Count", "Server busy count", DiagnosticKind::Value},
    {0x12, "Return Bus Character Overrun Count", "Bus character overrun count", DiagnosticKind::Value},
    {kDiagClearOverrunCounter, "Clear Overrun Counter and Flag", nullptr, DiagnosticKind::Command},
};

// Limits of the protocol's quantity fields.
constexpr unsigned kMaxReadBits = 2000;
constexpr unsigned kMaxReadRegisters = 125;
constexpr unsigned kMaxReadWriteWrites = 121;
constexpr unsigned kMaxFifoCount = 31;
constexpr unsigned kMaxEventBytes = 64;
constexpr unsigned kLastFileRecord = 9999;
constexpr std::uint8_t kFileReferenceType = 6;
constexpr int kFileRefSize = 7;  // reference type, file, record, length

unsigned Word(const std::uint8_t* p) { return static_cast<unsigned>(p[0] << 8 | p[1]); }

void PutWord(std::vector<std::uint8_t>& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

// A size counted from a field, refused beyond what a PDU holds.
int Fits(int size) { return size > kMaxPduSize ? -1 : size; }

// quantity items from address: 1 to most of them, ending at or below address 65535.
int CheckSpan(unsigned address, unsigned quantity, unsigned most, int pastTheEnd) {
  if (quantity < 1 || quantity > most) return MB_REQUEST_BAD_QUANTITY;
  return address + quantity > 0x10000 ? pastTheEnd : MB_REQUEST_OK;
}

// One file record reference: type 6, file 1 to 65535, record 0 to 9999, and a length that
// ends at or below record 9999.
int CheckFileRef(const std::uint8_t* ref, int pastTheEnd) {
  if (ref[0] != kFileReferenceType || Word(ref + 1) == 0 || Word(ref + 3) > kLastFileRecord) {
    return MB_REQUEST_BAD_FIELD;
  }
  if (Word(ref + 5) == 0) return MB_REQUEST_BAD_QUANTITY;
  return Word(ref + 3) + Word(ref + 5) > kLastFileRecord + 1 ? pastTheEnd : MB_REQUEST_OK;
}

int CheckReadFileRecord(const std::uint8_t* pdu, int size) {
  if (size < 2 || size != 2 + pdu[1] || pdu[1] == 0 || pdu[1] % kFileRefSize != 0) return MB_REQUEST_BAD_PDU_SIZE;
  int replySize = 2;  // function and response length
  for (int at = 2; at < size; at += kFileRefSize) {
    if (const int code = CheckFileRef(pdu + at, MB_REQUEST_OUT_OF_RANGE); code != MB_REQUEST_OK) return code;
    // Each sub-response: its length, the reference type, the registers.
    replySize += 2 + 2 * static_cast<int>(Word(pdu + at + 5));
    if (replySize > kMaxPduSize) return MB_REQUEST_BAD_QUANTITY;  // the reply would not fit a PDU
  }
  return MB_REQUEST_OK;
}

int CheckWriteFileRecord(const std::uint8_t* pdu, int size) {
  if (size < 2 || size != 2 + pdu[1] || pdu[1] == 0) return MB_REQUEST_BAD_PDU_SIZE;
  for (int at = 2; at < size;) {
    if (size - at < kFileRefSize) return MB_REQUEST_BAD_PDU_SIZE;
    if (const int code = CheckFileRef(pdu + at, MB_REQUEST_WRITE_OUT_OF_RANGE); code != MB_REQUEST_OK) return code;
    const int bytes = 2 * static_cast<int>(Word(pdu + at + 5));
    if (bytes > size - at - kFileRefSize) return MB_REQUEST_BAD_PDU_SIZE;
    at += kFileRefSize + bytes;
  }
  return MB_REQUEST_OK;
}

int CheckDiagnostics(const std::uint8_t* pdu, int size) {
  // The sub-function and N data words.
  if (size < 5 || (size - 3) % 2 != 0) return MB_REQUEST_BAD_PDU_SIZE;
  const DiagnosticInfo* info = FindDiagnostic(static_cast<std::uint16_t>(Word(pdu + 1)));
  if (info == nullptr || info->kind == DiagnosticKind::Echo) return MB_REQUEST_OK;
  if (size != 5) return MB_REQUEST_BAD_PDU_SIZE;
  const unsigned data = Word(pdu + 3);
  if (info->code == kDiagRestartCommunications && data == kDiagClearEventLog) return MB_REQUEST_OK;
  return data == 0 ? MB_REQUEST_OK : MB_REQUEST_BAD_FIELD;
}

int CheckMultipleWrite(const std::uint8_t* pdu, int size) {
  if (size < 6) return MB_REQUEST_BAD_PDU_SIZE;
  const unsigned quantity = Word(pdu + 3);
  const bool coils = pdu[0] == kWriteMultipleCoils;
  const int code = CheckSpan(Word(pdu + 1), quantity, coils ? kMaxWriteCoils : kMaxWriteRegisters,
                             MB_REQUEST_WRITE_OUT_OF_RANGE);
  if (code != MB_REQUEST_OK) return code;
  const unsigned bytes = coils ? (quantity + 7) / 8 : 2 * quantity;
  return pdu[5] == bytes && size == 6 + static_cast<int>(bytes) ? MB_REQUEST_OK : MB_REQUEST_BAD_PDU_SIZE;
}

int CheckReadWriteRegisters(const std::uint8_t* pdu, int size) {
  if (size < 10) return MB_REQUEST_BAD_PDU_SIZE;
  int code = CheckSpan(Word(pdu + 1), Word(pdu + 3), kMaxReadRegisters, MB_REQUEST_OUT_OF_RANGE);
  if (code == MB_REQUEST_OK) {
    code = CheckSpan(Word(pdu + 5), Word(pdu + 7), kMaxReadWriteWrites, MB_REQUEST_WRITE_OUT_OF_RANGE);
  }
  if (code != MB_REQUEST_OK) return code;
  return pdu[9] == 2 * Word(pdu + 7) && size == 10 + pdu[9] ? MB_REQUEST_OK : MB_REQUEST_BAD_PDU_SIZE;
}

RequestPdu Checked(std::vector<std::uint8_t> pdu) {
  RequestPdu request;
  request.check = CheckRequestPdu(pdu.data(), static_cast<int>(pdu.size()));
  if (request.ok()) request.pdu = std::move(pdu);
  return request;
}

RequestPdu Refused(int check) {
  RequestPdu request;
  request.check = check;
  return request;
}

}  // namespace

std::span<const FunctionInfo> ModbusFunctions() { return kFunctionTable; }

const FunctionInfo* FindFunction(std::uint8_t code) {
  for (const FunctionInfo& f : kFunctionTable) {
    if (f.code == code) return &f;
  }
  return nullptr;
}

std::string FunctionName(std::uint8_t code) {
  const std::uint8_t function = code & 0x7F;
  if (const FunctionInfo* f = FindFunction(function)) return f->name;
  char text[24];
  std::snprintf(text, sizeof text, "Function 0x%02X", function);
  return text;
}

bool MayBroadcast(std::uint8_t code) {
  const FunctionInfo* f = FindFunction(code);
  return f != nullptr && f->broadcast;
}

std::span<const DiagnosticInfo> DiagnosticFunctions() { return kDiagnosticTable; }

const DiagnosticInfo* FindDiagnostic(std::uint16_t subFunction) {
  for (const DiagnosticInfo& d : kDiagnosticTable) {
    if (d.code == subFunction) return &d;
  }
  return nullptr;
}

std::string DiagnosticName(std::uint16_t subFunction) {
  if (const DiagnosticInfo* d = FindDiagnostic(subFunction)) return d->name;
  char text[32];
  std::snprintf(text, sizeof text, "Sub-function 0x%04X", subFunction);
  return text;
}

// --- Requests --------------------------------------------------------------------------

RequestPdu ReadExceptionStatusPdu() { return Checked({kReadExceptionStatus}); }
RequestPdu CommEventCounterPdu() { return Checked({kGetCommEventCounter}); }
RequestPdu CommEventLogPdu() { return Checked({kGetCommEventLog}); }
RequestPdu ReportServerIdPdu() { return Checked({kReportServerId}); }

RequestPdu DiagnosticsPdu(std::uint16_t subFunction, const std::vector<std::uint16_t>& data) {
  // A raw request may carry any sub-function; one built here is one the program can judge.
  if (FindDiagnostic(subFunction) == nullptr) return Refused(MB_REQUEST_BAD_FIELD);
  if (data.size() > static_cast<std::size_t>(kMaxPduSize - 3) / 2) return Refused(MB_REQUEST_BAD_PDU_SIZE);
  std::vector<std::uint8_t> pdu{kDiagnostics};
  PutWord(pdu, subFunction);
  for (std::uint16_t word : data) PutWord(pdu, word);
  return Checked(std::move(pdu));
}

RequestPdu ReadFileRecordPdu(const std::vector<FileRecordRef>& refs) {
  if (refs.empty()) return Refused(MB_REQUEST_BAD_QUANTITY);
  if (refs.size() > static_cast<std::size_t>(kMaxPduSize - 2) / kFileRefSize) return Refused(MB_REQUEST_BAD_QUANTITY);
  std::vector<std::uint8_t> pdu{kReadFileRecord, static_cast<std::uint8_t>(kFileRefSize * refs.size())};
  for (const FileRecordRef& ref : refs) {
    pdu.push_back(kFileReferenceType);
    PutWord(pdu, ref.file);
    PutWord(pdu, ref.record);
    PutWord(pdu, ref.length);
  }
  return Checked(std::move(pdu));
}

RequestPdu WriteFileRecordPdu(const std::vector<FileRecordWrite>& records) {
  if (records.empty()) return Refused(MB_REQUEST_BAD_QUANTITY);
  std::size_t bytes = 0;
  for (const FileRecordWrite& r : records) {
    if (r.values.empty() || r.values.size() > 0xFFFF) return Refused(MB_REQUEST_BAD_QUANTITY);
    bytes += kFileRefSize + 2 * r.values.size();
  }
  if (bytes > static_cast<std::size_t>(kMaxPduSize - 2)) return Refused(MB_REQUEST_BAD_PDU_SIZE);
  std::vector<std::uint8_t> pdu{kWriteFileRecord, static_cast<std::uint8_t>(bytes)};
  for (const FileRecordWrite& r : records) {
    pdu.push_back(kFileReferenceType);
    PutWord(pdu, r.file);
    PutWord(pdu, r.record);
    PutWord(pdu, static_cast<unsigned>(r.values.size()));
    for (std::uint16_t v : r.values) PutWord(pdu, v);
  }
  return Checked(std::move(pdu));
}

RequestPdu MaskWriteRegisterPdu(std::uint16_t address, std::uint16_t andMask, std::uint16_t orMask) {
  std::vector<std::uint8_t> pdu{kMaskWriteRegister};
  PutWord(pdu, address);
  PutWord(pdu, andMask);
  PutWord(pdu, orMask);
  return Checked(std::move(pdu));
}

RequestPdu ReadWriteRegistersPdu(std::uint16_t readAddress, int readQuantity, std::uint16_t writeAddress,
                                 const std::vector<std::uint16_t>& values) {
  if (readQuantity < 1 || readQuantity > static_cast<int>(kMaxReadRegisters) || values.empty() ||
      values.size() > kMaxReadWriteWrites) {
    return Refused(MB_REQUEST_BAD_QUANTITY);
  }
  std::vector<std::uint8_t> pdu{kReadWriteMultipleRegisters};
  PutWord(pdu, readAddress);
  PutWord(pdu, static_cast<unsigned>(readQuantity));
  PutWord(pdu, writeAddress);
  PutWord(pdu, static_cast<unsigned>(values.size()));
  pdu.push_back(static_cast<std::uint8_t>(2 * values.size()));
  for (std::uint16_t v : values) PutWord(pdu, v);
  return Checked(std::move(pdu));
}

RequestPdu ReadFifoQueuePdu(std::uint16_t fifoAddress) {
  std::vector<std::uint8_t> pdu{kReadFifoQueue};
  PutWord(pdu, fifoAddress);
  return Checked(std::move(pdu));
}

int CheckRequestPdu(const std::uint8_t* pdu, int size) {
  if (pdu == nullptr || size < 1 || size > kMaxPduSize) return MB_REQUEST_BAD_PDU_SIZE;
  const std::uint8_t function = pdu[0];
  if (function == 0 || IsExceptionFunction(function)) return MB_REQUEST_UNKNOWN_FUNCTION_CODE;
  switch (function) {
    case kReadCoils:
    case kReadDiscreteInputs:
    case kReadHoldingRegisters:
    case kReadInputRegisters:
      if (size != 5) return MB_REQUEST_BAD_PDU_SIZE;
      return CheckSpan(Word(pdu + 1), Word(pdu + 3), function <= kReadDiscreteInputs ? kMaxReadBits : kMaxReadRegisters,
                       MB_REQUEST_OUT_OF_RANGE);
    case kWriteSingleCoil:
      if (size != 5) return MB_REQUEST_BAD_PDU_SIZE;
      return Word(pdu + 3) == 0x0000 || Word(pdu + 3) == 0xFF00 ? MB_REQUEST_OK : MB_REQUEST_BAD_FIELD;
    case kWriteSingleRegister:
    case kMaskWriteRegister:
    case kReadFifoQueue:
      return size == (function == kMaskWriteRegister ? 7 : function == kReadFifoQueue ? 3 : 5) ? MB_REQUEST_OK
                                                                                              : MB_REQUEST_BAD_PDU_SIZE;
    case kReadExceptionStatus:
    case kGetCommEventCounter:
    case kGetCommEventLog:
    case kReportServerId:
      return size == 1 ? MB_REQUEST_OK : MB_REQUEST_BAD_PDU_SIZE;
    case kDiagnostics: return CheckDiagnostics(pdu, size);
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters: return CheckMultipleWrite(pdu, size);
    case kReadFileRecord: return CheckReadFileRecord(pdu, size);
    case kWriteFileRecord: return CheckWriteFileRecord(pdu, size);
    case kReadWriteMultipleRegisters: return CheckReadWriteRegisters(pdu, size);
    case kEncapsulatedInterface:
      if (size < 2) return MB_REQUEST_BAD_PDU_SIZE;
      if (pdu[1] != kMeiReadDeviceId) return MB_REQUEST_OK;  // another MEI type: its data are its own
      if (size != 4) return MB_REQUEST_BAD_PDU_SIZE;
      return pdu[2] >= kDeviceIdBasic && pdu[2] <= kDeviceIdSpecific ? MB_REQUEST_OK : MB_REQUEST_BAD_FIELD;
    default: return MB_REQUEST_OK;  // a function of the device's own: its data are its own
  }
}

int CheckRequest(int slaveId, const std::uint8_t* pdu, int size) {
  if (slaveId < 0 || slaveId > kMaxSlaveId) return MB_REQUEST_BAD_SLAVE_ID;
  if (const int code = CheckRequestPdu(pdu, size); code != MB_REQUEST_OK) return code;
  return slaveId == 0 && !MayBroadcast(pdu[0]) ? MB_REQUEST_NO_BROADCAST : MB_REQUEST_OK;
}

int FrameRequest(int slaveId, const std::vector<std::uint8_t>& pdu, std::vector<std::uint8_t>& frame) {
  frame.clear();
  const int code = CheckRequest(slaveId, pdu.data(), static_cast<int>(pdu.size()));
  if (code != MB_REQUEST_OK) return code;
  frame.push_back(static_cast<std::uint8_t>(slaveId));
  frame.insert(frame.end(), pdu.begin(), pdu.end());
  PutWord(frame, Crc16(frame.data(), static_cast<std::uint16_t>(frame.size())));
  return MB_REQUEST_OK;
}

bool RequestExpectsReply(int slaveId, const std::uint8_t* pdu, int size) {
  if (slaveId == 0) return false;
  return !(pdu != nullptr && size >= 3 && pdu[0] == kDiagnostics && Word(pdu + 1) == kDiagForceListenOnly);
}

bool KnownRequest(const std::uint8_t* pdu, int size) {
  if (pdu == nullptr || size < 1 || FindFunction(pdu[0]) == nullptr) return false;
  if (pdu[0] == kDiagnostics) return size >= 3 && FindDiagnostic(static_cast<std::uint16_t>(Word(pdu + 1))) != nullptr;
  if (pdu[0] == kEncapsulatedInterface) return size >= 2 && pdu[1] == kMeiReadDeviceId;
  return true;
}

// --- Replies ---------------------------------------------------------------------------

int ReplyPduSizeAlone(const std::uint8_t* reply, int size) {
  if (reply == nullptr || size < 1) return 0;
  if (IsExceptionFunction(reply[0])) return FindFunction(reply[0] & 0x7F) != nullptr ? 2 : -1;
  const FunctionInfo* f = FindFunction(reply[0]);
  if (f == nullptr) return -1;
  switch (f->reply) {
    case ReplyShape::Fixed: return f->replySize;
    case ReplyShape::ByteCount: return size < 2 ? 0 : Fits(2 + reply[1]);
    case ReplyShape::Fifo: return size < 3 ? 0 : Fits(3 + static_cast<int>(Word(reply + 1)));
    case ReplyShape::DeviceId: return DeviceIdReplySize(reply, size);
    case ReplyShape::Echo: break;
  }
  return -1;
}

int ReplyPduSize(const std::uint8_t* request, int requestSize, const std::uint8_t* reply, int replySize) {
  if (!KnownRequest(request, requestSize) || !RequestExpectsReply(1, request, requestSize)) return -1;
  if (reply == nullptr || replySize < 1) return 0;
  // An exception is as long to a request that the device found wrong as to any other.
  if (reply[0] == (request[0] | 0x80)) return 2;
  if (reply[0] != request[0] || CheckRequestPdu(request, requestSize) != MB_REQUEST_OK) return -1;
  if (FindFunction(request[0])->reply == ReplyShape::Echo) return requestSize;
  return ReplyPduSizeAlone(reply, replySize);
}

namespace {

// 20: a response length and sub-responses that give each reference's registers, type 6.
bool FileRecordsAnswer(const std::uint8_t* request, int requestSize, const std::uint8_t* reply, int replySize) {
  int at = 2;
  for (int ref = 2; ref < requestSize; ref += kFileRefSize) {
    const int length = 1 + 2 * static_cast<int>(Word(request + ref + 5));
    if (at + 1 + length > replySize || reply[at] != length || reply[at + 1] != kFileReferenceType) return false;
    at += 1 + length;
  }
  return at == replySize;
}

// The fields of a normal reply of the request's function, its size already the right one.
int CheckReplyFields(const std::uint8_t* request, int requestSize, const std::uint8_t* reply, int replySize) {
  const auto same = [&](int bytes) { return std::memcmp(request, reply, static_cast<std::size_t>(bytes)) == 0; };
  switch (request[0]) {
    case kReadCoils:
    case kReadDiscreteInputs:
    case kReadHoldingRegisters:
    case kReadInputRegisters:
      return reply[1] == ReadReplyByteCount(request[0], Word(request + 3)) ? MB_RESPONCE_OK : MB_RESPONCE_REPLY_MISMATCH;
    case kWriteSingleCoil:
    case kWriteSingleRegister:
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters:
      // The address and the value or quantity.
      return same(5) ? MB_RESPONCE_OK : MB_RESPONCE_WRITE_ECHO_MISMATCH;
    case kWriteFileRecord:
    case kMaskWriteRegister:
      return same(requestSize) ? MB_RESPONCE_OK : MB_RESPONCE_WRITE_ECHO_MISMATCH;
    case kDiagnostics: {
      if (!same(3)) return MB_RESPONCE_REPLY_MISMATCH;  // another sub-function
      const DiagnosticInfo* d = FindDiagnostic(static_cast<std::uint16_t>(Word(request + 1)));
      return d->kind == DiagnosticKind::Value || same(requestSize) ? MB_RESPONCE_OK : MB_RESPONCE_REPLY_MISMATCH;
    }
    case kGetCommEventLog: {
      CommEventLog log;
      return ParseCommEventLog(reply, replySize, log) ? MB_RESPONCE_OK : MB_RESPONCE_REPLY_MISMATCH;
    }
    case kReportServerId: return reply[1] >= 2 ? MB_RESPONCE_OK : MB_RESPONCE_REPLY_MISMATCH;
    case kReadFileRecord:
      return FileRecordsAnswer(request, requestSize, reply, replySize) ? MB_RESPONCE_OK : MB_RESPONCE_REPLY_MISMATCH;
    case kReadWriteMultipleRegisters:
      return reply[1] == 2 * Word(request + 3) ? MB_RESPONCE_OK : MB_RESPONCE_REPLY_MISMATCH;
    case kReadFifoQueue: {
      std::vector<std::uint16_t> values;
      return ParseFifoQueue(reply, replySize, values) ? MB_RESPONCE_OK : MB_RESPONCE_REPLY_MISMATCH;
    }
    case kEncapsulatedInterface: {
      DeviceIdReply objects;
      return ParseDeviceIdReply(reply, replySize, objects) && objects.readCode == request[2] ? MB_RESPONCE_OK
                                                                                             : MB_RESPONCE_REPLY_MISMATCH;
    }
    default: return MB_RESPONCE_OK;  // 07 and 11: their size says all
  }
}

}  // namespace

int CheckReplyPdu(const std::uint8_t* request, int requestSize, const std::uint8_t* reply, int replySize) {
  if (request == nullptr || requestSize < 1) return MB_RESPONCE_UNSUPPORTED_REQUEST;
  const bool known = KnownRequest(request, requestSize);
  if (known && CheckRequestPdu(request, requestSize) != MB_REQUEST_OK) return MB_RESPONCE_UNSUPPORTED_REQUEST;
  if (reply == nullptr || replySize < 1) return MB_RESPONCE_INCOMPLETE;
  if (reply[0] == 0) return MB_RESPONCE_INVALID_FUNCTION_CODE;
  if (reply[0] == (request[0] | 0x80)) return replySize == 2 ? MB_RESPONCE_EXCEPTION : MB_RESPONCE_INCOMPLETE;
  if (reply[0] != request[0]) return MB_RESPONCE_UNKOWN;
  if (!known) return MB_RESPONCE_OK;
  const int size = ReplyPduSize(request, requestSize, reply, replySize);
  if (size < 0) return MB_RESPONCE_REPLY_MISMATCH;  // a count that no reply can have
  if (size == 0 || size != replySize) return MB_RESPONCE_INCOMPLETE;
  return CheckReplyFields(request, requestSize, reply, replySize);
}

// --- Typed accessors -------------------------------------------------------------------

bool DiagnosticValue(const std::uint8_t* reply, int size, std::uint16_t& value) {
  if (reply == nullptr || size != 5 || reply[0] != kDiagnostics) return false;
  const DiagnosticInfo* d = FindDiagnostic(static_cast<std::uint16_t>(Word(reply + 1)));
  if (d == nullptr || d->kind != DiagnosticKind::Value) return false;
  value = static_cast<std::uint16_t>(Word(reply + 3));
  return true;
}

bool ParseCommEventCounter(const std::uint8_t* reply, int size, CommEventCounter& counter) {
  if (reply == nullptr || size != 5 || reply[0] != kGetCommEventCounter) return false;
  counter.status = static_cast<std::uint16_t>(Word(reply + 1));
  counter.eventCount = static_cast<std::uint16_t>(Word(reply + 3));
  return true;
}

bool ParseCommEventLog(const std::uint8_t* reply, int size, CommEventLog& log) {
  // Status, event count and message count, then 0 to 64 events.
  if (reply == nullptr || size < 8 || reply[0] != kGetCommEventLog || size != 2 + reply[1] ||
      reply[1] > 6 + kMaxEventBytes) {
    return false;
  }
  log.status = static_cast<std::uint16_t>(Word(reply + 2));
  log.eventCount = static_cast<std::uint16_t>(Word(reply + 4));
  log.messageCount = static_cast<std::uint16_t>(Word(reply + 6));
  log.events.assign(reply + 8, reply + size);
  return true;
}

bool ParseServerId(const std::uint8_t* reply, int size, ServerIdReply& server) {
  if (reply == nullptr || size < 4 || reply[0] != kReportServerId || size != 2 + reply[1]) return false;
  server.byteCount = reply[1];
  server.serverId = reply[2];
  server.runIndicator = reply[3];
  server.additional.assign(reply + 4, reply + size);
  return true;
}

bool ParseFileRecords(const std::uint8_t* reply, int size, std::vector<std::vector<std::uint16_t>>& records) {
  if (reply == nullptr || size < 4 || reply[0] != kReadFileRecord || size != 2 + reply[1]) return false;
  std::vector<std::vector<std::uint16_t>> found;
  for (int at = 2; at < size;) {
    const int length = reply[at];  // the reference type and the registers
    if (length < 3 || length % 2 == 0 || at + 1 + length > size || reply[at + 1] != kFileReferenceType) return false;
    std::vector<std::uint16_t>& registers = found.emplace_back();
    for (int i = at + 2; i < at + 1 + length; i += 2) registers.push_back(static_cast<std::uint16_t>(Word(reply + i)));
    at += 1 + length;
  }
  records = std::move(found);
  return true;
}

bool ParseReadWriteRegisters(const std::uint8_t* reply, int size, std::vector<std::uint16_t>& registers) {
  if (reply == nullptr || size < 4 || reply[0] != kReadWriteMultipleRegisters || size != 2 + reply[1] ||
      reply[1] % 2 != 0) {
    return false;
  }
  registers.clear();
  for (int i = 2; i < size; i += 2) registers.push_back(static_cast<std::uint16_t>(Word(reply + i)));
  return true;
}

bool ParseFifoQueue(const std::uint8_t* reply, int size, std::vector<std::uint16_t>& values) {
  if (reply == nullptr || size < 5 || reply[0] != kReadFifoQueue) return false;
  const unsigned bytes = Word(reply + 1);
  const unsigned count = Word(reply + 3);
  if (size != 3 + static_cast<int>(bytes) || count > kMaxFifoCount || bytes != 2 + 2 * count) return false;
  values.clear();
  for (int i = 5; i < size; i += 2) values.push_back(static_cast<std::uint16_t>(Word(reply + i)));
  return true;
}

// --- Decoding --------------------------------------------------------------------------

namespace {

std::string Format(const char* format, unsigned value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string HexData(const std::uint8_t* bytes, int size) {
  std::string text = HexBytes(bytes, size);
  if (!text.empty()) text.pop_back();
  return text;
}

// "1, 2, 3"
std::string Decimals(const std::vector<std::uint16_t>& values) {
  std::string text;
  for (std::uint16_t v : values) text += (text.empty() ? "" : ", ") + std::to_string(v);
  return text;
}

// "000D 0EFE 0020"
std::string HexWords(const std::vector<std::uint16_t>& values) {
  std::string text;
  for (std::uint16_t v : values) text += (text.empty() ? "" : " ") + Format("%04X", v);
  return text;
}

std::string Binary(unsigned value, int bits) {
  std::string text;
  for (int bit = bits - 1; bit >= 0; --bit) text += (value >> bit & 1U) ? '1' : '0';
  return text;
}

// "03 Read Holding Registers"; "0x41" for a function the program does not know.
std::string Named(std::uint8_t function) {
  return FindFunction(function) != nullptr ? Format("%02u ", function) + FunctionName(function) : Format("0x%02X", function);
}

void DecodeBits(const std::uint8_t* request, int requestSize, const std::uint8_t* reply, int size, PduFields& f) {
  unsigned count = 8U * static_cast<unsigned>(size - 2);
  if (request != nullptr && requestSize == 5 && request[0] == reply[0]) count = std::min(count, Word(request + 3));
  std::string bits;
  for (unsigned i = 0; i < count; ++i) {
    if (!bits.empty()) bits += ' ';
    bits += (reply[2 + i / 8] >> (i % 8) & 1U) ? '1' : '0';
  }
  f.push_back({"Byte count", std::to_string(size - 2)});
  f.push_back({reply[0] == kReadCoils ? "Coils" : "Inputs", bits});
}

std::vector<std::uint16_t> Registers(const std::uint8_t* bytes, int size) {
  std::vector<std::uint16_t> values;
  for (int i = 0; i + 1 < size; i += 2) values.push_back(static_cast<std::uint16_t>(Word(bytes + i)));
  return values;
}

void DecodeDiagnostics(const std::uint8_t* reply, int size, PduFields& f) {
  const auto sub = static_cast<std::uint16_t>(Word(reply + 1));
  f.push_back({"Sub-function", Format("0x%04X ", sub) + DiagnosticName(sub)});
  const DiagnosticInfo* d = FindDiagnostic(sub);
  std::uint16_t value = 0;
  if (DiagnosticValue(reply, size, value)) {
    if (sub == kDiagReturnDiagnosticRegister) {
      f.push_back({d->value, Format("0x%04X (", value) + Binary(value, 16) + ")"});
    } else {
      f.push_back({"Counter " + std::to_string(sub) + " " + d->value, std::to_string(value)});
    }
  } else if (size > 3) {
    f.push_back({"Data", HexData(reply + 3, size - 3)});
  }
}

std::string FileRecordName(const std::uint8_t* ref) {
  return "Record " + std::to_string(Word(ref + 3)) + " of file " + std::to_string(Word(ref + 1));
}

bool DecodeFileRecords(const std::uint8_t* request, int requestSize, const std::uint8_t* reply, int size, PduFields& f) {
  std::vector<std::vector<std::uint16_t>> records;
  if (!ParseFileRecords(reply, size, records)) return false;
  f.push_back({"Response length", std::to_string(reply[1])});
  // The reply names no record: the request's references do, when they are as many.
  const bool named = request != nullptr && requestSize >= 2 && request[0] == kReadFileRecord &&
                     requestSize == 2 + kFileRefSize * static_cast<int>(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::string name =
        named ? FileRecordName(request + 2 + kFileRefSize * i) : "Sub-response " + std::to_string(i + 1);
    f.push_back({name, HexWords(records[i])});
  }
  return true;
}

bool DecodeFileWrite(const std::uint8_t* reply, int size, PduFields& f) {
  if (CheckWriteFileRecord(reply, size) != MB_REQUEST_OK) return false;
  for (int at = 2; at < size;) {
    const int count = static_cast<int>(Word(reply + at + 5));
    f.push_back({FileRecordName(reply + at), HexWords(Registers(reply + at + kFileRefSize, 2 * count))});
    at += kFileRefSize + 2 * count;
  }
  return true;
}

bool DecodeDeviceId(const std::uint8_t* reply, int size, PduFields& f) {
  DeviceIdReply r;
  if (!ParseDeviceIdReply(reply, size, r)) return false;
  f.push_back({"Read device id code", std::to_string(r.readCode)});
  f.push_back({"Conformity level", Format("0x%02X", r.conformity)});
  f.push_back({"More follows", r.moreFollows ? Format("yes, from object 0x%02X", r.nextObjectId) : "no"});
  for (const DeviceIdObject& o : r.objects) f.push_back({DeviceIdObjectName(o.id), PrintableText(o.value)});
  return true;
}

}  // namespace

namespace {

// The fields of a normal reply of a function the program knows; false, with nothing added,
// when its bytes are not whole.
bool DecodeFields(const std::uint8_t* request, int requestSize, const std::uint8_t* reply, int size, PduFields& f) {
  // An echo's size is its request's; any other reply says its own.
  const FunctionInfo* function = FindFunction(reply[0]);
  if (function == nullptr || (function->reply != ReplyShape::Echo && ReplyPduSizeAlone(reply, size) != size)) {
    return false;
  }
  const auto status = [](unsigned value) {
    return Format("0x%04X", value) + (value == 0xFFFF ? " (busy)" : value == 0 ? " (ready)" : "");
  };
  std::vector<std::uint16_t> values;
  switch (reply[0]) {
    case kReadCoils:
    case kReadDiscreteInputs: DecodeBits(request, requestSize, reply, size, f); return true;
    case kReadHoldingRegisters:
    case kReadInputRegisters:
    case kReadWriteMultipleRegisters:
      if (size % 2 != 0) return false;
      f.push_back({"Byte count", std::to_string(reply[1])});
      f.push_back({"Registers read", Decimals(Registers(reply + 2, size - 2))});
      return true;
    case kWriteSingleCoil: {
      const unsigned value = Word(reply + 3);
      f.push_back({"Address", std::to_string(Word(reply + 1))});
      f.push_back({"Value", value == 0xFF00 ? "ON (0xFF00)" : value == 0 ? "OFF (0x0000)" : Format("0x%04X", value)});
      return true;
    }
    case kWriteSingleRegister:
      f.push_back({"Address", std::to_string(Word(reply + 1))});
      f.push_back({"Value", std::to_string(Word(reply + 3)) + Format(" (0x%04X)", Word(reply + 3))});
      return true;
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters:
      f.push_back({"Address", std::to_string(Word(reply + 1))});
      f.push_back({"Quantity", std::to_string(Word(reply + 3))});
      return true;
    case kReadExceptionStatus:
      f.push_back({"Exception status", Format("0x%02X (", reply[1]) + Binary(reply[1], 8) + ")"});
      return true;
    case kDiagnostics:
      if (size < 3) return false;
      DecodeDiagnostics(reply, size, f);
      return true;
    case kGetCommEventCounter: {
      CommEventCounter counter;
      ParseCommEventCounter(reply, size, counter);
      f.push_back({"Status", status(counter.status)});
      f.push_back({"Event count", std::to_string(counter.eventCount)});
      return true;
    }
    case kGetCommEventLog: {
      CommEventLog log;
      if (!ParseCommEventLog(reply, size, log)) return false;
      f.push_back({"Byte count", std::to_string(reply[1])});
      f.push_back({"Status", status(log.status)});
      f.push_back({"Event count", std::to_string(log.eventCount)});
      f.push_back({"Message count", std::to_string(log.messageCount)});
      f.push_back({"Events", HexData(log.events.data(), static_cast<int>(log.events.size()))});
      return true;
    }
    case kReportServerId: {
      ServerIdReply server;
      if (!ParseServerId(reply, size, server)) return false;
      f.push_back({"Byte count", std::to_string(server.byteCount)});
      f.push_back({"Server id", Format("0x%02X", server.serverId)});
      f.push_back({"Run indicator", server.runIndicator == 0xFF   ? "ON"
                                    : server.runIndicator == 0x00 ? "OFF"
                                                                  : Format("0x%02X", server.runIndicator)});
      if (!server.additional.empty()) {
        f.push_back({"Additional data", HexData(server.additional.data(), static_cast<int>(server.additional.size()))});
      }
      return true;
    }
    case kReadFileRecord: return DecodeFileRecords(request, requestSize, reply, size, f);
    case kWriteFileRecord: return DecodeFileWrite(reply, size, f);
    case kMaskWriteRegister:
      f.push_back({"Address", std::to_string(Word(reply + 1))});
      f.push_back({"AND mask", Format("0x%04X", Word(reply + 3))});
      f.push_back({"OR mask", Format("0x%04X", Word(reply + 5))});
      return true;
    case kReadFifoQueue:
      if (!ParseFifoQueue(reply, size, values)) return false;
      f.push_back({"Byte count", std::to_string(Word(reply + 1))});
      f.push_back({"FIFO count", std::to_string(values.size())});
      f.push_back({"FIFO values", Decimals(values)});
      return true;
    case kEncapsulatedInterface: return DecodeDeviceId(reply, size, f);
    default: return false;
  }
}

}  // namespace

PduFields DecodeReplyPdu(const std::uint8_t* request, int requestSize, const std::uint8_t* reply, int size) {
  PduFields f;
  if (reply == nullptr || size < 1) return f;
  const std::uint8_t function = reply[0];
  if (IsExceptionFunction(function)) {
    f.push_back({"Function", Format("0x%02X, exception of ", function) + Named(function & 0x7F)});
    if (size >= 2) {
      f.push_back({"Exception code", Format("0x%02X", reply[1])});
      f.push_back({"Exception", ExceptionTitle(reply[1])});
    }
    return f;
  }
  f.push_back({"Function", Named(function)});
  if (size >= 2 && !DecodeFields(request, requestSize, reply, size, f)) {
    f.push_back({"Data", HexData(reply + 1, size - 1)});
  }
  return f;
}

std::string FieldsText(const PduFields& fields) {
  std::string text;
  for (const auto& [name, value] : fields) text += name + ": " + value + "\n";
  return text;
}

}  // namespace vantrel
