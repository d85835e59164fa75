// The simulator's request handler in every mode: bytes from a master, cut into requests as
// the serial line and the TCP server cut them, each answered by SlaveCore. The invariants: a
// request whose CRC or LRC is wrong, or that is sent to nobody served, gets no reply; a reply
// that no fault shaped is one whole frame of the mode that answers its request (the same
// slave id, the function or its exception, a read's byte count, the transaction id), no
// longer than the mode's frames are.
//
// Input: the mode (byte % 4: ASCII, RTU, TCP, RTU over TCP), the first slave id served
// (1 + byte % 247, with the three after it when the next byte is odd), flags (bit 0
// read-only, bit 1 the far end at other line settings, bits 4 to 7 the fault of every reply),
// then chunks, each a length byte and the bytes that arrive before a silence.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "SlaveCore.h"
#include "modbus/DeviceIdentification.h"
#include "modbus/ModbusFrame.h"

using namespace vantrel;
using namespace vantrel::slave;
using vantrel::fuzz::FuzzInput;
using vantrel::fuzz::Require;

namespace {

// The slave id and PDU of a frame of the mode, its check passed; nothing when it has none.
std::optional<std::vector<std::uint8_t>> Body(ModbusMode mode, const std::vector<std::uint8_t>& frame) {
  const std::size_t n = frame.size();
  if (mode == ModbusMode::Tcp) {
    if (n < kMbapHeaderSize + 1 || ParseMbap(frame.data()).length != n - 6) return std::nullopt;
    return std::vector<std::uint8_t>(frame.begin() + kMbapHeaderSize - 1, frame.end());
  }
  if (mode == ModbusMode::Ascii) {
    if (n < 5 || frame[0] != ':' || frame[n - 2] != '\r' || frame[n - 1] != '\n') return std::nullopt;
    std::vector<std::uint8_t> bytes(n);
    const int size = DecodeAsciiHex(frame.data() + 1, static_cast<int>(n) - 3, bytes.data(), static_cast<int>(n));
    if (size < 2 || Lrc(bytes.data(), size - 1) != bytes[static_cast<std::size_t>(size - 1)]) return std::nullopt;
    bytes.resize(static_cast<std::size_t>(size - 1));
    return bytes;
  }
  if (n < 4) return std::nullopt;
  const std::uint16_t crc = Crc16(frame.data(), static_cast<std::uint16_t>(n - 2));
  if (frame[n - 2] != (crc >> 8) || frame[n - 1] != (crc & 0xFF)) return std::nullopt;
  return std::vector<std::uint8_t>(frame.begin(), frame.end() - 2);
}

std::size_t LongestFrame(ModbusMode mode) {
  switch (mode) {
    case ModbusMode::Ascii: return kMaxAsciiFrame;
    case ModbusMode::Tcp: return kFrameCapacity;
    default: return 256;
  }
}

void Check(const SlaveCore& core, const std::vector<std::uint8_t>& frame, const std::optional<Reply>& reply) {
  if (!reply) return;
  // Even a faulted reply stays within a frame and its one stray byte.
  Require(reply->bytes.size() <= LongestFrame(core.mode()) + 1, "a reply longer than any frame");
  Require(reply->splitAt <= reply->bytes.size(), "a reply split past its end");
  const auto request = Body(core.mode(), frame);
  Require(request.has_value(), "a reply to a request whose check is wrong");
  const std::uint8_t id = (*request)[0];
  Require(core.Serves(id), "a reply to a slave id not served (or to a broadcast)");
  if (reply->fault.kind != Fault::None) return;
  Require(reply->bytes.size() <= LongestFrame(core.mode()), "a reply longer than a frame of its mode");
  const auto answer = Body(core.mode(), reply->bytes);
  Require(answer.has_value() && answer->size() >= 3, "a reply that is not a frame of its mode");
  const std::uint8_t function = (*request)[1];
  Require((*answer)[0] == id, "a reply from another slave id");
  Require((*answer)[1] == function || (*answer)[1] == (function | 0x80), "a reply of another function");
  if (core.mode() == ModbusMode::Tcp) {
    Require(reply->bytes[0] == frame[0] && reply->bytes[1] == frame[1], "a reply of another transaction");
  }
  if ((*answer)[1] == function && function >= 1 && function <= 4) {
    const unsigned quantity = (*request)[4] << 8 | (*request)[5];
    Require((*answer)[2] == ReadReplyByteCount(function, quantity) && answer->size() == 3U + (*answer)[2],
            "a read reply whose byte count does not fit the quantity");
  }
  if ((*answer)[1] == function && function == 23) {  // Read/Write Multiple Registers: what it read
    const unsigned quantity = (*request)[4] << 8 | (*request)[5];
    Require((*answer)[2] == 2 * quantity && answer->size() == 3U + (*answer)[2],
            "a read/write reply whose byte count does not fit the quantity read");
  }
}

// A core as the first four bytes of the input configure it.
std::unique_ptr<SlaveCore> MakeCore(const std::array<std::uint8_t, 4>& config) {
  static const char* const kFaults[] = {"", "exception=4", "bad-crc", "silence", "delay=1", "split=1",
                                        "garbage", "wrong-id", "function=0x66", "noise", "short", "echo",
                                        "wrong-transaction", "mbap-length=300", "close", "garble"};
  static const MemoryImage kPattern = MemoryImage::Pattern();
  const int first = 1 + config[1] % 247;
  std::vector<std::uint8_t> ids{static_cast<std::uint8_t>(first)};
  if (config[2] % 2) {
    for (int id = first + 1; id <= first + 3 && id <= 247; ++id) ids.push_back(static_cast<std::uint8_t>(id));
  }
  const unsigned flags = config[3];
  Fault every;
  std::string error;
  if (flags >> 4 != 0) Require(ParseFault(kFaults[flags >> 4], every, error), "a fault of the table refused");
  auto core = std::make_unique<SlaveCore>(ids, kPattern, every);
  core->setMode(static_cast<ModbusMode>(config[0] % 4));
  core->setReadOnly(flags & 1);
  core->setLineMismatch(flags & 2);
  return core;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::array<std::uint8_t, 4> config{in.Byte(), in.Byte(), in.Byte(), in.Byte()};
  // A core costs a copy of its tables and files (464 KB), most of an input's time. One that
  // nothing has changed (no write, no listen-only mode, restart or clear) answers as a new
  // one does but for its counters and event log, which no invariant here looks at, so it
  // serves the next input of the same configuration.
  static std::unique_ptr<SlaveCore> core;
  static std::array<std::uint8_t, 4> configOfCore;
  if (!core || config != configOfCore) {
    core = MakeCore(config);
    configOfCore = config;
  }
  const ModbusMode mode = core->mode();

  // As vantrel-slave's line and server loops take requests from the bytes received.
  std::vector<std::uint8_t> buffer;
  bool changed = false;
  const auto answer = [&](const std::vector<std::uint8_t>& frame) {
    std::string change;
    Check(*core, frame, core->Answer(frame.data(), frame.size(), &change));
    changed = changed || !change.empty();
  };
  while (!in.Done()) {
    const std::vector<std::uint8_t> chunk = in.Chunk();
    buffer.insert(buffer.end(), chunk.begin(), chunk.end());
    for (;;) {
      const RequestSpan span = SlaveCore::FindRequest(mode, buffer.data(), buffer.size());
      Require(span.skip <= buffer.size(), "noise skipped past the bytes received");
      buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(span.skip));
      if (span.length == RequestSpan::kImpossible) buffer.clear();  // the connection is dropped
      if (span.length <= 0) break;
      Require(static_cast<std::size_t>(span.length) <= buffer.size(), "a request longer than the bytes received");
      answer(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + span.length));
      buffer.erase(buffer.begin(), buffer.begin() + span.length);
    }
    // The silence after the chunk ends a request of no fixed layout (on the serial line, any
    // bytes left at all).
    const bool bySilence =
        mode == ModbusMode::Rtu ||
        (mode == ModbusMode::RtuOverTcp &&
         SlaveCore::FindRequest(mode, buffer.data(), buffer.size()).length == RequestSpan::kEndsBySilence);
    if (bySilence && !buffer.empty()) {
      answer(buffer);
      buffer.clear();
    }
    if (buffer.size() > 1024) buffer.clear();
  }
  if (changed) core.reset();
  return 0;
}
