// The master's reply finders in every mode, fed through a fake link. The invariant: a result
// of MB_RESPONCE_OK only for a frame that came over the link and answers the request sent:
// its slave id and function, for a read the byte count that the quantity needs, for a write
// the echo of its address and value or quantity, for 43/14 the MEI type and a length that its
// objects fill, for 23 the byte count of the registers read, for 24 a FIFO count up to 31
// that its byte count fills, for 08 the echo (or a counter's sub-function and one register);
// the transaction id in Modbus TCP, a right CRC or LRC on the serial line.
//
// Input: the mode (byte % 4: ASCII, RTU, TCP, RTU over TCP), then up to four exchanges,
// each: the request (kind % 13: read 01 to 04, write 05, 06, 15, 16, device identification,
// read/write 23, FIFO 24, diagnostics 08, a function the program does not know), slave id (0
// taken as 1), address and quantity or value (2 bytes each; for 43/14 the object id and the
// read code; for 23 the addresses, and the quantities read and written in the low and high
// byte of the second; for 24 the FIFO's address; for 08 the data words and the sub-function
// by its place in the table; for the unknown function, 0x41 to 0x50, its data's size and
// value), then the number of chunks (byte % 8) and the chunks, each a length byte and the
// bytes that arrive at once. Quantities are taken modulo what a function allows.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "FuzzInput.h"
#include "modbus/DeviceIdentification.h"
#include "modbus/Functions.h"
#include "modbus/Link.h"
#include "modbus/ModbusMaster.h"

using namespace vantrel;
using vantrel::fuzz::FuzzInput;
using vantrel::fuzz::Require;

namespace {

// The far end, as the fuzzer plays it: bytes arrive chunk by chunk, a read takes what has
// arrived, and nothing ever waits.
class FakeLink : public Link {
 public:
  void Arrive(const std::vector<std::uint8_t>& bytes) { queued_.insert(queued_.end(), bytes.begin(), bytes.end()); }
  std::size_t Queued() const { return queued_.size(); }
  // The bytes that reads have handed over since the last call.
  std::vector<std::uint8_t> TakeDelivered() { return std::exchange(delivered_, {}); }
  // Every byte written since the last call.
  std::vector<std::uint8_t> TakeWritten() { return std::exchange(written_, {}); }

  int IsOpen() const override { return 1; }
  int Close() override { return 1; }
  int Write(const std::uint8_t* bytes, int count) override {
    if (count <= 0) return 0;
    written_.insert(written_.end(), bytes, bytes + count);
    return count;
  }
  int Read(std::uint8_t* buffer, int capacity) override {
    const int n = std::min(capacity, static_cast<int>(queued_.size()));
    if (n <= 0) return 0;
    std::memcpy(buffer, queued_.data(), static_cast<std::size_t>(n));
    delivered_.insert(delivered_.end(), queued_.begin(), queued_.begin() + n);
    queued_.erase(queued_.begin(), queued_.begin() + n);
    return n;
  }
  int WaitReadable(int) override { return queued_.empty() ? 0 : 1; }
  void DiscardInput() override { queued_.clear(); }
  int QuietGapMs() const override { return 0; }
  int Handle() const override { return -1; }
  const std::string& Device() const override { return device_; }
  int LastError() const override { return 0; }
  bool DeviceLost() const override { return false; }

 private:
  std::vector<std::uint8_t> queued_, delivered_, written_;
  std::string device_ = "fake";
};

// The request as BuildReadRequest and BuildWriteRequest make it: slave id, PDU, CRC.
std::vector<std::uint8_t> Request(FuzzInput& in) {
  const unsigned kind = in.Byte() % 13;
  const std::uint8_t id = std::max<std::uint8_t>(in.Byte(), 1);  // 0 is the broadcast, never answered
  const unsigned address = in.Word();
  const unsigned field = in.Word();
  std::vector<std::uint8_t> frame;
  if (kind < 4) {
    const std::uint8_t function = static_cast<std::uint8_t>(kind + 1);
    const unsigned quantity = 1 + field % (function <= 2 ? 2000 : 125);
    frame = {id, function, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address),
             static_cast<std::uint8_t>(quantity >> 8), static_cast<std::uint8_t>(quantity)};
  } else if (kind < 8) {
    static const std::uint8_t kWrites[] = {kWriteSingleCoil, kWriteSingleRegister, kWriteMultipleCoils,
                                           kWriteMultipleRegisters};
    const std::uint8_t function = kWrites[kind - 4];
    const unsigned most = function == kWriteMultipleCoils ? kMaxWriteCoils
                          : function == kWriteMultipleRegisters ? kMaxWriteRegisters : 1;
    const int count = static_cast<int>(1 + field % std::min(most, 65536 - address));
    const std::vector<std::uint16_t> values(static_cast<std::size_t>(count), static_cast<std::uint16_t>(field));
    frame.resize(kFrameCapacity);
    const int size = BuildWriteRequest(function, id, static_cast<int>(address) + 1, values.data(), count, frame.data());
    Require(size > 0, "a write request that the fuzzer makes is refused");
    frame.resize(static_cast<std::size_t>(size - 2));
  } else if (kind == 8) {
    frame = {id};
    const auto pdu = DeviceIdRequestPdu(static_cast<std::uint8_t>(1 + field % 4), static_cast<std::uint8_t>(address));
    frame.insert(frame.end(), pdu.begin(), pdu.end());
  } else {
    RequestPdu built;
    if (kind == 9) {
      const int reads = static_cast<int>(1 + (field & 0xFF) % std::min(125U, 65536 - address));
      const std::size_t writes = 1 + (field >> 8) % std::min(121U, 65536 - address);
      built = ReadWriteRegistersPdu(static_cast<std::uint16_t>(address), reads, static_cast<std::uint16_t>(address),
                                    std::vector<std::uint16_t>(writes, static_cast<std::uint16_t>(field)));
    } else if (kind == 10) {
      built = ReadFifoQueuePdu(static_cast<std::uint16_t>(address));
    } else if (kind == 11) {
      const DiagnosticInfo& sub = DiagnosticFunctions()[field % DiagnosticFunctions().size()];
      std::vector<std::uint16_t> data{0};
      if (sub.kind == DiagnosticKind::Echo) data.assign(1 + address % 4, static_cast<std::uint16_t>(address));
      if (sub.code == kDiagRestartCommunications && (address & 1) != 0) data = {kDiagClearEventLog};
      built = DiagnosticsPdu(sub.code, data);
    } else {
      built.pdu = {static_cast<std::uint8_t>(0x41 + field % 16)};
      built.pdu.resize(1 + address % 8, static_cast<std::uint8_t>(field >> 8));
      built.check = CheckRequestPdu(built.pdu.data(), static_cast<int>(built.pdu.size()));
    }
    Require(built.ok(), "a request that the fuzzer makes is refused");
    frame = {id};
    frame.insert(frame.end(), built.pdu.begin(), built.pdu.end());
  }
  const std::uint16_t crc = Crc16(frame.data(), static_cast<std::uint16_t>(frame.size()));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return frame;
}

// The PDU size that a 43/14 reply's objects fill, counted here apart from the codec.
int DeviceIdPduSize(const std::uint8_t* pdu, int size) {
  if (size < 7) return -1;
  int at = 7;
  for (int object = 0; object < pdu[6]; ++object) {
    if (at + 2 > size) return -1;
    at += 2 + pdu[at + 1];
  }
  return at;
}

// Whether body (slave id and PDU) answers request (slave id, PDU, CRC) normally.
bool Answers(const std::vector<std::uint8_t>& request, const std::uint8_t* body, int size) {
  const std::uint8_t function = request[1];
  if (size < 2 || body[0] != request[0] || body[1] != function) return false;
  if (function >= 0x41 && function <= 0x50) return true;  // the device's own: any data
  if (size < 3) return false;
  const auto word = [](const std::uint8_t* p) { return static_cast<unsigned>(p[0] << 8 | p[1]); };
  if (function == 23) return body[2] == 2 * word(request.data() + 4) && size == 3 + body[2];
  if (function == 24) {
    if (size < 6) return false;
    const unsigned count = word(body + 4);
    return count <= 31 && word(body + 2) == 2 + 2 * count && size == 4 + static_cast<int>(word(body + 2));
  }
  if (function == 8) {
    const unsigned sub = word(request.data() + 2);
    const bool counter = sub == 2 || (sub >= 0x0B && sub <= 0x12);  // one register of the device's
    const int echo = static_cast<int>(request.size()) - 2;
    if (counter) return size == 6 && word(body + 2) == sub;
    return size == echo && std::memcmp(body, request.data(), static_cast<std::size_t>(echo)) == 0;
  }
  if (function >= 1 && function <= 4) {
    const unsigned needed = ReadReplyByteCount(function, static_cast<unsigned>(request[4] << 8 | request[5]));
    return body[2] == needed && size == static_cast<int>(needed) + 3;
  }
  if (IsWriteFunction(function)) return size == 6 && std::memcmp(body, request.data(), 6) == 0;
  return body[2] == kMeiReadDeviceId && DeviceIdPduSize(body + 1, size - 1) == size - 1;
}

bool Contains(const std::vector<std::uint8_t>& haystack, const std::vector<std::uint8_t>& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

// The master's reply, checked for its mode's frame around the slave id and PDU and for having
// come over the link as that frame.
void CheckOk(const ModbusMaster& master, const std::vector<std::uint8_t>& request,
             const std::vector<std::uint8_t>& sent, const std::vector<std::uint8_t>& stream) {
  const int n = master.response_size;
  const std::uint8_t* r = master.response;
  std::vector<std::uint8_t> wire(r, r + n);
  const std::uint8_t* body = r;
  int bodySize = 0;
  switch (master.Mode()) {
    case ModbusMode::Rtu:
    case ModbusMode::RtuOverTcp: {
      Require(n >= 4, "an RTU reply shorter than id, function and CRC");
      const std::uint16_t crc = Crc16(r, static_cast<std::uint16_t>(n - 2));
      Require(r[n - 2] == (crc >> 8) && r[n - 1] == (crc & 0xFF), "OK for an RTU frame with a wrong CRC");
      bodySize = n - 2;
      break;
    }
    case ModbusMode::Ascii: {
      Require(n >= 2 && Lrc(r, n - 1) == r[n - 1], "OK for an ASCII frame with a wrong LRC");
      bodySize = n - 1;
      // On the wire: ':', the bytes as hex pairs (either case), CR LF.
      std::string line = EncodeAscii(r, n - 1);
      wire.assign(line.begin(), line.end());
      break;
    }
    case ModbusMode::Tcp: {
      Require(n > kMbapHeaderSize && sent.size() >= 2, "a Modbus TCP reply without its header");
      Require(r[0] == sent[0] && r[1] == sent[1], "OK for a reply of another transaction");
      Require(r[2] == 0 && r[3] == 0, "OK for a frame of another protocol");
      Require((r[4] << 8 | r[5]) == n - 6, "OK for a frame whose MBAP length is not its size");
      body = r + kMbapHeaderSize - 1;
      bodySize = n - kMbapHeaderSize + 1;
      break;
    }
  }
  Require(Answers(request, body, bodySize), "OK for a frame that does not answer the request");
  if ((request[1] >= 1 && request[1] <= 4) || request[1] == 23) {
    Require(master.byte_count == body[2] && std::memcmp(master.data, body + 3, body[2]) == 0,
            "the data of an OK read are not the reply's");
  }
  if (master.Mode() == ModbusMode::Ascii) {
    std::vector<std::uint8_t> upper(stream);
    for (auto& c : upper) c = static_cast<std::uint8_t>(std::toupper(c));
    Require(Contains(upper, wire), "OK for an ASCII frame that did not come over the link");
  } else {
    Require(Contains(stream, wire), "OK for a frame that did not come over the link");
  }
}

// ReadResponse until it gives a final result or the link has nothing more for it.
int Gather(ModbusMaster& master, const FakeLink& link) {
  for (;;) {
    const std::size_t before = link.Queued();
    const int result = master.ReadResponse();
    if (!ReplyPending(result) || link.Queued() == 0 || link.Queued() == before) return result;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  FakeLink link;
  ModbusMaster master(link);
  master.SetMode(static_cast<ModbusMode>(in.Byte() % 4));
  // A Modbus TCP connection is one stream: a reply may lie in bytes that came during an
  // earlier exchange. On the serial line those are dropped at the send.
  std::vector<std::uint8_t> stream;
  for (int exchange = 0; exchange < 4 && !in.Done(); ++exchange) {
    const std::vector<std::uint8_t> request = Request(in);
    if (master.Mode() != ModbusMode::Tcp) stream.clear();
    Require(master.SendRequest(request.data(), static_cast<int>(request.size())) == 1, "a request not sent");
    const std::vector<std::uint8_t> sent = link.TakeWritten();
    link.TakeDelivered();  // what the send drained of an abandoned exchange
    int result = MB_RESPONCE_EMPTY;
    for (int chunks = in.Byte() % 8; chunks > 0; --chunks) {
      // Every chunk is taken, so that the next exchange starts where the input says.
      const std::vector<std::uint8_t> chunk = in.Chunk();
      if (!ReplyPending(result)) continue;
      link.Arrive(chunk);
      result = Gather(master, link);
      const std::vector<std::uint8_t> delivered = link.TakeDelivered();
      stream.insert(stream.end(), delivered.begin(), delivered.end());
    }
    if (result == MB_RESPONCE_OK) CheckOk(master, request, sent, stream);
    if (ReplyPending(result)) {
      // The next send drains what is queued. The fake has no quiet gap and never waits, so the
      // drain would spin for its whole bound: 1 ms keeps it short.
      master.AbandonExchange(1);
    } else {
      Require(master.ReadResponse() == MB_RESPONCE_EMPTY, "a result after the final one");
    }
  }
  return 0;
}
