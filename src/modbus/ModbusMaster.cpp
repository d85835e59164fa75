#include "modbus/ModbusMaster.h"

#include "modbus/DeviceIdentification.h"
#include "modbus/Functions.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace vantrel {

int ExpectedReplySize(const std::uint8_t* reply, int size) {
  if (size < 2) return 0;
  const std::uint8_t function = reply[1];
  if (function >= 0x80 && function <= 0x84) return 5;
  if (function >= 1 && function <= 4) return size < 3 ? 0 : reply[2] + 5;
  return -1;
}

bool ExpectsReply(const std::uint8_t* frame, int size) {
  return frame != nullptr && size >= 1 && RequestExpectsReply(frame[0], frame + 1, size - 3);
}

namespace {

constexpr int kFrameCap = static_cast<int>(kFrameCapacity);

// The functions whose replies the master has always found by rules of their own: the reads,
// the writes, and 43/14 (with the request too short to tell its MEI type).
bool ClassicFunction(std::uint8_t function) {
  return (function >= 1 && function <= 4) || IsWriteFunction(function);
}
bool DeviceIdRequest(const std::uint8_t* request, int size) {
  return size >= 2 && request[1] == kEncapsulatedInterface && (size < 3 || request[2] == kMeiReadDeviceId);
}
// JudgeFrame's answer for a frame that is not the reply; no reply check code is positive
// but OK.
constexpr int kNotTheReply = 2;

bool CrcMatches(const std::uint8_t* frame, int size) {
  const std::uint16_t crc = Crc16(frame, static_cast<std::uint16_t>(size - 2));
  return (crc >> 8) == frame[size - 2] && (crc & 0xFF) == frame[size - 1];
}

// Why a whole frame with a right CRC is not the reply to request.
std::string WhyNotTheReply(const std::uint8_t* request, const std::uint8_t* frame, int neededBytes) {
  char why[96];
  if (frame[0] != request[0]) {
    std::snprintf(why, sizeof why, "from slave %d, not %d", frame[0], request[0]);
  } else if ((frame[1] & 0x7F) != request[1]) {
    std::snprintf(why, sizeof why, "function %d, not %d", frame[1], request[1]);
  } else if (!ClassicFunction(request[1])) {
    std::snprintf(why, sizeof why, "which does not fit the request");
  } else {
    std::snprintf(why, sizeof why, "%d data bytes, not the %d asked for", frame[2], neededBytes);
  }
  return why;
}

}  // namespace

void ModbusMaster::SetMode(ModbusMode mode) {
  if (mode == mode_) return;
  Close();
  mode_ = mode;
  exchange_over_ = true;
  drain_bound_ms_ = -1;
}

void ModbusMaster::SetLink(Link& link) {
  link_ = &link;
  pending_size_ = 0;
}

int ModbusMaster::Close() {
  pending_size_ = 0;
  return link().Close();
}

int ModbusMaster::SendRequest(const std::uint8_t* frame, int size) {
  if (frame == nullptr || size <= 0 || size > kFrameCap) return 0;
  // No device answers a broadcast: one that reads would only wait for the time-out.
  if (frame[0] == 0 && size >= 2 && !MayBroadcast(frame[1])) return 0;
  SumUpSkipped();  // of an exchange that neither ended nor was abandoned
  const bool rtu = mode_ == ModbusMode::Rtu || mode_ == ModbusMode::RtuOverTcp;
  // The other framings carry the RTU frame's PDU, the bytes between the slave id and the CRC.
  const int pdu = size - 3;
  const FrameLayout layout = LayoutOf(mode_);
  if (!rtu && (pdu < 1 || layout.header + pdu + layout.check > kFrameCap)) return 0;

  std::uint8_t framed[kFrameCapacity];
  int framedSize = size;
  int written;
  if (mode_ == ModbusMode::Tcp) {
    if (link().Connections() != stream_) pending_size_ = 0;  // a new connection, a new stream
    stream_ = link().Connections();
    PutMbap(framed, ++transaction_, frame[0], pdu);
    std::memcpy(framed + kMbapHeaderSize, frame + 1, static_cast<std::size_t>(pdu));
    framedSize = kMbapHeaderSize + pdu;
    written = Send(framed, framedSize);
  } else {
    DrainLine();
    link().DiscardInput();  // a late reply to an earlier request must not answer this one
    pending_size_ = 0;
    if (rtu) {
      std::memcpy(framed, frame, static_cast<std::size_t>(size));
      written = Send(frame, size);
    } else {
      const std::string line = EncodeAscii(frame, size - 2);
      std::memcpy(framed, frame, static_cast<std::size_t>(size - 2));
      framed[size - 2] = Lrc(frame, size - 2);
      framedSize = size - 1;
      written = Send(reinterpret_cast<const std::uint8_t*>(line.data()), static_cast<int>(line.size()));
    }
  }

  std::memset(request, 0, sizeof request);
  std::memset(response, 0, sizeof response);
  std::memset(data, 0, sizeof data);
  request_size = response_size = 0;
  byte_count = response_function = exception_function = exception_code = 0;
  request_function = request_slave_id = 0;
  request_address = request_quantity = 0;
  short_replies_ = 0;
  received_.clear();
  received_count_ = 0;
  skipped_bytes_ = 0;
  awaits_reply_ = ExpectsReply(frame, size);
  exchange_over_ = !awaits_reply_;

  std::memcpy(request, framed, static_cast<std::size_t>(framedSize));
  request_size = static_cast<std::uint16_t>(framedSize);
  return written > 0 ? 1 : 0;
}

std::string ModbusMaster::Shown(const std::uint8_t* bytes, int size) const {
  if (mode_ != ModbusMode::Ascii) return HexBytes(bytes, size);
  std::string text;
  for (int i = 0; i < size; ++i) {
    const std::uint8_t c = bytes[i];
    char escaped[8];
    if (c == '\r' || c == '\n') {
      text += c == '\r' ? "\\r" : "\\n";
    } else if (c >= 0x20 && c < 0x7F && c != '\\') {
      text += static_cast<char>(c);
    } else {
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    }
  }
  return text;
}

int ModbusMaster::Send(const std::uint8_t* bytes, int size) {
  const int written = link().Write(bytes, size);
  if (written > 0 && traffic) traffic(true, bytes, written);
  return written;
}

void ModbusMaster::NoteReceived(const std::uint8_t* bytes, int size) {
  if (traffic) traffic(false, bytes, size);
  const int keep = static_cast<int>(std::min<long long>(size, std::max<long long>(kFrameCap - received_count_, 0)));
  received_.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(keep));
  received_count_ += size;
}

std::string ModbusMaster::ReceivedText() const {
  if (received_count_ == 0) return "nothing";
  std::string text = Shown(reinterpret_cast<const std::uint8_t*>(received_.data()), static_cast<int>(received_.size()));
  if (mode_ == ModbusMode::Ascii) text += ' ';
  if (received_count_ > static_cast<long long>(received_.size())) {
    text += "and " + std::to_string(received_count_ - static_cast<long long>(received_.size())) + " bytes more";
  }
  return text;
}

void ModbusMaster::AbandonExchange(int boundMs) {
  SumUpSkipped();
  exchange_over_ = true;
  drain_bound_ms_ = mode_ == ModbusMode::Tcp ? -1 : std::max(boundMs, 0);
  drain_what_ = "Bytes of the abandoned exchange, dropped: ";
}

void ModbusMaster::AwaitQuietLine(int boundMs) {
  drain_bound_ms_ = mode_ == ModbusMode::Tcp ? -1 : std::max(boundMs, 0);
  drain_what_ = "Bytes on the line before the first request, dropped: ";
}

void ModbusMaster::DrainLine() {
  if (drain_bound_ms_ < 0) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(drain_bound_ms_);
  drain_bound_ms_ = -1;
  std::uint8_t chunk[kReadChunk];
  std::string dropped;
  for (;;) {
    const auto start = std::chrono::steady_clock::now();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - start);
    if (left.count() <= 0) break;
    const auto gap = std::chrono::milliseconds(std::min<long long>(link().IdleGapMs(), left.count()));
    const int ready = link().WaitReadable(static_cast<int>(gap.count()));
    if (ready < 0) break;
    if (ready == 0) {
      // A wait that came back long after its time proves nothing: this program stood still
      // meanwhile, and so may have the far end if it runs on the same machine (the
      // simulator), with the rest of its frame still to come.
      if (std::chrono::steady_clock::now() - start < 2 * gap) break;
      continue;
    }
    const int n = link().Read(chunk, kReadChunk);
    if (n > 0 && traffic) traffic(false, chunk, n);
    if (dropped.size() < 3 * kFrameCapacity) dropped += HexBytes(chunk, n);
  }
  if (!dropped.empty() && note) note(drain_what_ + dropped);
}

void ModbusMaster::Drop(int count, const std::string& what, bool wholeFrame) {
  if (wholeFrame) {
    skipped_bytes_ += count;
    ++skipped_frames_;
  } else {
    noise_bytes_ += count;
  }
  if (++drops_ <= kNamedPerExchange && note) {
    note(what + ": " + Shown(pending_, count) + (mode_ == ModbusMode::Ascii ? " " : ""));
  }
  std::memmove(pending_, pending_ + count, static_cast<std::size_t>(pending_size_ - count));
  pending_size_ -= count;
}

namespace {

std::string Counted(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

void ModbusMaster::SumUpSkipped() {
  if (note && drops_ > kNamedPerExchange) {
    std::string what;
    if (skipped_frames_ > 0) what = Counted(skipped_frames_, "frame of other transactions", "frames of other transactions");
    if (skipped_frames_ > 0 && noise_bytes_ > 0) what += " and ";
    if (noise_bytes_ > 0) what += Counted(noise_bytes_, "byte of line noise", "bytes of line noise");
    note("Skipped " + what + " in this exchange, the first " + std::to_string(kNamedPerExchange) + " named above");
  }
  drops_ = skipped_frames_ = noise_bytes_ = 0;
}

int ModbusMaster::ReadResponse() {
  if (exchange_over_) return MB_RESPONCE_EMPTY;
  const int result = mode_ == ModbusMode::Rtu || mode_ == ModbusMode::RtuOverTcp ? GatherRtu() : GatherDelimited();
  if (!ReplyPending(result)) {
    exchange_over_ = true;
    SumUpSkipped();
  }
  return result;
}

int ModbusMaster::GatherRtu() {
  std::uint8_t chunk[kReadChunk];
  const int n = link().Read(chunk, kReadChunk);
  if (n > 0) {
    last_arrival_ = std::chrono::steady_clock::now();
    NoteReceived(chunk, n);
    // Should the bytes outgrow the buffer, the oldest go: the reply is among the newest.
    const int overflow = pending_size_ + n - kGatherCapacity;
    if (overflow > 0) Drop(std::min(overflow, pending_size_), "Line noise, skipped");
    const int take = std::min(n, kGatherCapacity);
    std::memcpy(pending_ + pending_size_, chunk + (n - take), static_cast<std::size_t>(take));
    pending_size_ += take;
  }
  if (pending_size_ == 0) return MB_RESPONCE_EMPTY;
  return FindRtuReply();
}

int ModbusMaster::GatherDelimited() {
  // These frames say where they end, so bytes are taken only as far as there is room: the
  // finders make room by taking whole frames, and a TCP stream is never cut.
  const auto find = [this] { return mode_ == ModbusMode::Ascii ? FindAsciiReply() : FindMbapReply(); };
  int result = pending_size_ > 0 ? find() : MB_RESPONCE_EMPTY;
  for (int taken = 0; ReplyPending(result) && taken < kReadBudget;) {
    const int n = link().Read(pending_ + pending_size_, std::min(kGatherCapacity - pending_size_, kReadBudget - taken));
    if (n <= 0) break;
    taken += n;
    NoteReceived(pending_ + pending_size_, n);
    pending_size_ += n;
    result = find();
  }
  // Bytes have come, none of them the reply (yet): as FindRtuReply says it.
  return result == MB_RESPONCE_EMPTY && received_count_ > 0 ? MB_RESPONCE_INCOMPLETE : result;
}

int ModbusMaster::FindAsciiReply() {
  for (;;) {
    // A frame starts at ':' and ends at CR LF (MODBUS over serial line, ASCII mode); a ':'
    // starts it afresh. Whatever lies outside a frame is noise.
    const std::uint8_t* begin = pending_;
    const std::uint8_t* end = pending_ + pending_size_;
    static const std::uint8_t kCrLf[] = {'\r', '\n'};
    const std::uint8_t* crlf = std::search(begin, end, kCrLf, kCrLf + 2);
    const auto opening = std::find(std::make_reverse_iterator(crlf), std::make_reverse_iterator(begin), ':');
    if (opening == std::make_reverse_iterator(begin)) {  // no frame at all
      const int noise = crlf == end ? pending_size_ : static_cast<int>(crlf - begin) + 2;
      if (noise > 0) Drop(noise, "Line noise, skipped");
      if (crlf == end) return MB_RESPONCE_EMPTY;
      continue;
    }
    const std::uint8_t* colon = opening.base() - 1;
    if (colon != begin) {
      Drop(static_cast<int>(colon - begin), "Line noise, skipped");
      continue;
    }
    if (crlf == end) {
      if (pending_size_ < kMaxAsciiFrame) return MB_RESPONCE_INCOMPLETE;
      Drop(pending_size_, "Line noise, skipped");  // longer than any frame
      return MB_RESPONCE_EMPTY;
    }
    const int chars = static_cast<int>(crlf - begin) - 1;
    std::uint8_t frame[kFrameCapacity];
    const int size = DecodeAsciiHex(begin + 1, chars, frame, kFrameCap);
    if (size < 3 || !CheckBytesMatch(frame, size)) {
      // A damaged frame: nothing in it can be trusted, not even whose it is.
      response_size = static_cast<std::uint16_t>(std::max(size, 0));
      std::memcpy(response, frame, response_size);
      return MB_RESPONCE_INVALID_LRC;
    }
    std::string why;
    const int result = JudgeFrame(frame, size, why);
    if (result != kNotTheReply) return result;
    Drop(chars + 3, "Skipped a frame that does not answer the request (" + why + ")", true);
  }
}

int ModbusMaster::FindMbapReply() {
  for (;;) {
    if (pending_size_ < kMbapHeaderSize) return pending_size_ == 0 ? MB_RESPONCE_EMPTY : MB_RESPONCE_INCOMPLETE;
    const MbapHeader header = ParseMbap(pending_);
    if (!MbapLengthPossible(header.length)) {
      // No frame has that length: where the next one starts cannot be known any more.
      if (note) {
        note("An MBAP header with length " + std::to_string(header.length) +
             ", which no frame can have; the connection is closed: " + HexBytes(pending_, kMbapHeaderSize));
      }
      std::memcpy(response, pending_, kMbapHeaderSize);
      response_size = kMbapHeaderSize;
      Close();
      return MB_RESPONCE_BAD_MBAP_LENGTH;
    }
    const int size = 6 + header.length;
    if (pending_size_ < size) return MB_RESPONCE_INCOMPLETE;
    if (header.protocol != 0) {
      Drop(size, "Skipped a frame of protocol " + std::to_string(header.protocol) + ", not Modbus (0)", true);
    } else if (header.transaction != transaction_) {
      Drop(size, "Skipped a reply to another transaction (" + std::to_string(header.transaction) + ", not " +
                     std::to_string(transaction_) + "), a late one", true);
    } else {
      std::string why;
      const int result = JudgeFrame(pending_, size, why);
      if (result != kNotTheReply) {
        std::memmove(pending_, pending_ + size, static_cast<std::size_t>(pending_size_ - size));
        pending_size_ -= size;
        return result;
      }
      Drop(size, "Skipped a frame that does not answer the request (" + why + ")", true);
    }
  }
}

int ModbusMaster::JudgeFrame(const std::uint8_t* frame, int size, std::string& why) {
  // What FindRtuReply decides, for a frame whose bounds and check are already sure: another
  // device's, or the reply to another read, is skipped; a frame of the reply's shape with too
  // few values is skipped and counted; anything else gets the reply check.
  const int h = LayoutOf(mode_).header;
  const std::uint8_t* req = request + h - 1;  // slave id, function, address, quantity
  const std::uint8_t* got = frame + h - 1;
  const bool read = req[1] >= 1 && req[1] <= 4;
  const int needed = read ? static_cast<int>(ReadReplyByteCount(req[1], static_cast<unsigned>(req[4] << 8 | req[5]))) : 0;
  const std::uint8_t f = got[1];
  // The reads, writes and 43/14 let a reply of another function have the last word; any
  // other request is answered by its own function only.
  const bool classic = ClassicFunction(req[1]) || DeviceIdRequest(req, request_size - h + 1);
  const bool readShaped = (f >= 1 && f <= 4) || (f >= 0x80 && f <= 0x84) || !classic;
  bool skip = got[0] != req[0] || (f != req[1] && f != (req[1] | 0x80) && readShaped);
  if (!skip && read && f == req[1] && size > h + 1 && got[2] != needed) {
    if (got[2] < needed) ++short_replies_;
    skip = true;
  }
  if (skip) {
    why = WhyNotTheReply(req, got, needed);
    return kNotTheReply;
  }
  const int result = CheckResponse(request, request_size, frame, size);
  if (!ReplyPending(result)) return result;
  why = std::to_string(size) + " bytes, which its function and byte count do not fit";
  return kNotTheReply;
}

bool ModbusMaster::CheckBytesMatch(const std::uint8_t* frame, int size) const {
  switch (LayoutOf(mode_).check) {
    case 2: return CrcMatches(frame, size);
    case 1: return Lrc(frame, size - 1) == frame[size - 1];
    default: return true;
  }
}

int ModbusMaster::FindRtuReply() {
  // Reads and writes say what their reply looks like; anything else gets the plain check.
  const bool read = request_size >= kReadRequestSize && request[1] >= 1 && request[1] <= 4;
  const bool write = request_size >= kReadRequestSize && IsWriteFunction(request[1]);
  if (DeviceIdRequest(request, request_size)) return FindDeviceIdReply();
  if (!read && !write) {
    if (request_size >= 4 && !ClassicFunction(request[1])) {
      return KnownRequest(request + 1, request_size - 3) ? FindSizedReply() : FindUnsizedReply();
    }
    return CheckResponse(request, request_size, pending_, std::min(pending_size_, kFrameCap));
  }
  const std::uint8_t id = request[0];
  const std::uint8_t function = request[1];
  const int needed =
      read ? static_cast<int>(ReadReplyByteCount(function, static_cast<unsigned>(request[4] << 8 | request[5]))) : 0;

  for (;;) {
    // The reply itself, wherever it starts.
    int open = pending_size_;  // where the first frame of the reply's shape begins that is not whole yet
    int skipAt = -1;
    int skipSize = 0;
    for (int p = 0; p < pending_size_ && skipAt < 0; ++p) {
      if (pending_[p] != id) continue;
      if (p + 1 >= pending_size_) {
        open = std::min(open, p);
        continue;
      }
      const std::uint8_t f = pending_[p + 1];
      if (f != function && f != (function | 0x80)) continue;
      if (f == function && read && p + 2 >= pending_size_) {
        open = std::min(open, p);
        continue;
      }
      // A write's reply has one size; a read's says its own.
      const int size = f != function ? 5 : write ? kWriteReplySize : pending_[p + 2] + 5;
      if (p + size > pending_size_) {
        open = std::min(open, p);
        continue;
      }
      if (!CrcMatches(pending_ + p, size)) continue;
      if (read && f == function && pending_[p + 2] != needed) {
        // The right device, but another question: a late reply, or one that is too short.
        if (pending_[p + 2] < needed) ++short_replies_;
        skipAt = p;
        skipSize = size;
        break;
      }
      if (p > 0) Drop(p, "Line noise before the reply, skipped");
      return CheckResponse(request, request_size, pending_, size);
    }
    // Any other whole frame with a right CRC answers another question (another device's).
    for (int p = 0; p < open && skipAt < 0; ++p) {
      const int size = ExpectedReplySize(pending_ + p, pending_size_ - p);
      if (size >= 5 && p + size <= open && CrcMatches(pending_ + p, size)) {
        skipAt = p;
        skipSize = size;
      }
    }
    if (skipAt >= 0) {
      if (skipAt > 0) Drop(skipAt, "Line noise, skipped");
      Drop(skipSize, "Skipped a frame that does not answer the request (" +
                         WhyNotTheReply(request, pending_, needed) + ")", true);
      continue;
    }
    if (open < pending_size_) return MB_RESPONCE_INCOMPLETE;

    // Nothing among the bytes checks out: the first frame's own check decides.
    int expected = ExpectedReplySize(pending_, pending_size_);
    if (write && pending_size_ >= 2 && pending_[1] == function) expected = kWriteReplySize;
    if (write && pending_size_ >= 2 && pending_[1] == (function | 0x80)) expected = 5;
    if (expected == 0 || pending_size_ < expected) return MB_RESPONCE_INCOMPLETE;
    const int size = std::min(expected > 0 ? expected : pending_size_, kFrameCap);
    const int result = CheckResponse(request, request_size, pending_, size);
    // An exception reply has no CRC check, but only when it is the request's own; any other
    // damaged frame is a damaged frame.
    if (result == MB_RESPONCE_EXCEPTION && (pending_[0] != id || pending_[1] != (function | 0x80))) {
      return MB_RESPONCE_INVALID_CRC;
    }
    return result;
  }
}

int ModbusMaster::FindDeviceIdReply() {
  // The reply's objects say how long it is; frames of other devices, and bytes that make no
  // such reply, are skipped as for a read.
  const std::uint8_t id = request[0];
  for (int p = 0; p < pending_size_; ++p) {
    if (pending_[p] != id) continue;
    const int pdu = DeviceIdReplySize(pending_ + p + 1, pending_size_ - p - 1);
    if (pdu == 0) return MB_RESPONCE_INCOMPLETE;
    if (pdu < 0) continue;
    const int size = 1 + pdu + 2;
    if (p + size > pending_size_) return MB_RESPONCE_INCOMPLETE;
    if (!CrcMatches(pending_ + p, size)) continue;
    if (p > 0) Drop(p, "Line noise before the reply, skipped");
    return CheckResponse(request, request_size, pending_, size);
  }
  return pending_size_ == 0 ? MB_RESPONCE_EMPTY : MB_RESPONCE_INCOMPLETE;
}

int ModbusMaster::CheckResponse(const std::uint8_t* req, int reqSize, const std::uint8_t* reply,
                                int replySize) {
  if (req == nullptr || reqSize <= 0 || reply == nullptr || replySize <= 0) {
    return MB_RESPONCE_EMPTY;
  }
  if (reqSize > kFrameCap || replySize > kFrameCap) return MB_RESPONCE_TOO_LONG;

  // memmove: the caller may pass our own buffers.
  std::memmove(response, reply, static_cast<std::size_t>(replySize));
  response_size = static_cast<std::uint16_t>(replySize);
  std::memmove(request, req, static_cast<std::size_t>(reqSize));
  request_size = static_cast<std::uint16_t>(reqSize);

  // h: the header, ending in the slave id; c: the check bytes after the PDU.
  const FrameLayout layout = LayoutOf(mode_);
  const int h = layout.header;
  const int c = layout.check;
  const std::uint8_t* asked = request + h - 1;  // slave id, function, address, quantity
  const std::uint8_t* got = response + h - 1;
  if (reqSize < h + 1 + c) return MB_RESPONCE_INCOMPLETE;
  const bool deviceId = DeviceIdRequest(asked, reqSize - h + 1);
  if (!deviceId && !ClassicFunction(asked[1])) return CheckPduResponse(reqSize, replySize);
  if (reqSize < h + (deviceId ? 4 : 5) + c) return MB_RESPONCE_INCOMPLETE;
  request_slave_id = asked[0];
  request_function = asked[1];
  if (deviceId) return CheckDeviceIdResponse(replySize);
  const bool write = IsWriteFunction(request_function);
  request_address = static_cast<std::uint16_t>(asked[2] << 8 | asked[3]);
  const bool single = request_function == kWriteSingleCoil || request_function == kWriteSingleRegister;
  request_quantity = single ? 1 : static_cast<std::uint16_t>(asked[4] << 8 | asked[5]);

  // The header, the function, an exception's code and, on the serial line, a check byte.
  if (replySize < h + 2 + (c > 0 ? 1 : 0)) return MB_RESPONCE_INCOMPLETE;
  const int badCheck = mode_ == ModbusMode::Ascii ? MB_RESPONCE_INVALID_LRC : MB_RESPONCE_INVALID_CRC;
  response_function = got[1];
  if (response_function == 0) return MB_RESPONCE_INVALID_FUNCTION_CODE;
  if (response_function >= 101 && response_function <= 114) {
    return MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE;
  }
  if ((response_function >= 0x80 && response_function <= 0x84) ||
      (write && response_function == (request_function | 0x80))) {
    exception_function = got[1];
    exception_code = got[2];
    return MB_RESPONCE_EXCEPTION;  // no size or CRC check on an exception reply
  }
  if (write) {
    if (response_function != request_function) return MB_RESPONCE_UNKOWN;
    if (replySize != h + 5 + c) return MB_RESPONCE_INCOMPLETE;
    if (!CheckBytesMatch(response, replySize)) return badCheck;
    // 05 and 06 echo the whole request; 15 and 16 its id, function, address and quantity.
    return std::memcmp(got, asked, 6) == 0 ? MB_RESPONCE_OK : MB_RESPONCE_WRITE_ECHO_MISMATCH;
  }
  if (response_function < 1 || response_function > 4) return MB_RESPONCE_UNKOWN;

  byte_count = got[2];
  if (replySize != h + 2 + byte_count + c) return MB_RESPONCE_INCOMPLETE;
  std::memcpy(data, got + 3, byte_count);

  return CheckBytesMatch(response, replySize) ? MB_RESPONCE_OK : badCheck;
}

int ModbusMaster::CheckDeviceIdResponse(int replySize) {
  const FrameLayout layout = LayoutOf(mode_);
  const std::uint8_t* got = response + layout.header - 1;
  if (replySize < layout.header + 2) return MB_RESPONCE_INCOMPLETE;
  if (got[0] != request_slave_id) return MB_RESPONCE_UNKOWN;
  response_function = got[1];
  const int pdu = DeviceIdReplySize(got + 1, replySize - layout.header - layout.check);
  if (pdu <= 0) return pdu < 0 ? MB_RESPONCE_UNKOWN : MB_RESPONCE_INCOMPLETE;
  if (replySize != layout.header + pdu + layout.check) return MB_RESPONCE_INCOMPLETE;
  if (!CheckBytesMatch(response, replySize)) {
    return mode_ == ModbusMode::Ascii ? MB_RESPONCE_INVALID_LRC : MB_RESPONCE_INVALID_CRC;
  }
  if (response_function == (kEncapsulatedInterface | 0x80)) {
    exception_function = got[1];
    exception_code = got[2];
    return MB_RESPONCE_EXCEPTION;
  }
  return MB_RESPONCE_OK;
}

int ModbusMaster::CheckPduResponse(int reqSize, int replySize) {
  const FrameLayout layout = LayoutOf(mode_);
  const int h = layout.header;
  const int c = layout.check;
  const std::uint8_t* asked = request + h - 1;  // slave id, then the PDU
  const std::uint8_t* got = response + h - 1;
  const int askedSize = reqSize - h - c;
  request_slave_id = asked[0];
  request_function = asked[1];
  request_address = request_quantity = 0;
  byte_count = 0;
  const bool known = KnownRequest(asked + 1, askedSize);
  if (known && CheckRequestPdu(asked + 1, askedSize) != MB_REQUEST_OK) return MB_RESPONCE_UNSUPPORTED_REQUEST;
  switch (request_function) {
    case kMaskWriteRegister:
      request_address = static_cast<std::uint16_t>(asked[2] << 8 | asked[3]);
      request_quantity = 1;
      break;
    case kReadFifoQueue:
      request_address = static_cast<std::uint16_t>(asked[2] << 8 | asked[3]);
      break;
    case kReadWriteMultipleRegisters:
      request_address = static_cast<std::uint16_t>(asked[2] << 8 | asked[3]);
      request_quantity = static_cast<std::uint16_t>(asked[4] << 8 | asked[5]);
      break;
    default: break;
  }

  // The header and the function, and on the serial line a check byte.
  if (replySize < h + 1 + (c > 0 ? 1 : 0)) return MB_RESPONCE_INCOMPLETE;
  response_function = got[1];
  if (response_function == 0) return MB_RESPONCE_INVALID_FUNCTION_CODE;
  if (got[0] != asked[0]) return MB_RESPONCE_UNKOWN;
  const bool exception = response_function == (request_function | 0x80);
  if (response_function != request_function && !exception) return MB_RESPONCE_UNKOWN;
  const std::uint8_t* pdu = got + 1;
  const int pduSize = replySize - h - c;
  if (pduSize < 1) return MB_RESPONCE_INCOMPLETE;
  // Nothing in a frame can be trusted before its check; that needs the frame's bounds, which a
  // count that no reply can have does not give (its check decides, and then its fields).
  const int expected = exception ? 2 : known ? ReplyPduSize(asked + 1, askedSize, pdu, pduSize) : pduSize;
  if (expected == 0 || (expected > 0 && pduSize != expected)) return MB_RESPONCE_INCOMPLETE;
  if (!CheckBytesMatch(response, replySize)) {
    return mode_ == ModbusMode::Ascii ? MB_RESPONCE_INVALID_LRC : MB_RESPONCE_INVALID_CRC;
  }
  if (exception) {
    exception_function = got[1];
    exception_code = got[2];
    return MB_RESPONCE_EXCEPTION;
  }
  if (!known) return MB_RESPONCE_OK;
  const int result = CheckReplyPdu(asked + 1, askedSize, pdu, pduSize);
  if (result != MB_RESPONCE_OK) return result;
  // The values the reply carries, as a read's: after a byte count, or the FIFO's registers.
  int from = 0;
  switch (request_function) {
    case kGetCommEventLog:
    case kReportServerId:
    case kReadFileRecord:
    case kReadWriteMultipleRegisters: from = 2; break;
    case kReadFifoQueue: from = 5; break;
    default: break;
  }
  if (from > 0) {
    byte_count = static_cast<std::uint8_t>(pduSize - from);
    std::memcpy(data, pdu + from, byte_count);
  }
  return MB_RESPONCE_OK;
}

int ModbusMaster::FindSizedReply() {
  // As for a read: the reply wherever it starts, other devices' frames skipped; the size of
  // each comes from the request's function.
  const std::uint8_t id = request[0];
  const std::uint8_t function = request[1];
  const std::uint8_t* asked = request + 1;
  const int askedSize = request_size - 3;
  for (;;) {
    int open = pending_size_;  // where the first frame of the reply's shape begins that is not whole yet
    int damaged = -1;          // where the first one begins that is whole but fails its CRC
    int damagedSize = 0;
    for (int p = 0; p < pending_size_; ++p) {
      if (pending_[p] != id) continue;
      if (p + 1 >= pending_size_) {
        open = std::min(open, p);
        continue;
      }
      const std::uint8_t f = pending_[p + 1];
      if (f != function && f != (function | 0x80)) continue;
      const int pdu = ReplyPduSize(asked, askedSize, pending_ + p + 1, pending_size_ - p - 1);
      if (pdu < 0) continue;
      const int size = 1 + pdu + 2;
      if (pdu == 0 || p + size > pending_size_) {
        open = std::min(open, p);
        continue;
      }
      if (!CrcMatches(pending_ + p, size)) {
        if (damaged < 0) {
          damaged = p;
          damagedSize = size;
        }
        continue;
      }
      if (p > 0) Drop(p, "Line noise before the reply, skipped");
      return CheckResponse(request, request_size, pending_, size);
    }
    // A whole frame with a right CRC of any other shape answers another question.
    int skipAt = -1;
    int skipSize = 0;
    for (int p = 0; p + 1 < open && skipAt < 0; ++p) {
      const int size = 3 + ReplyPduSizeAlone(pending_ + p + 1, pending_size_ - p - 1);
      if (size >= 5 && p + size <= open && CrcMatches(pending_ + p, size)) {
        skipAt = p;
        skipSize = size;
      }
    }
    if (skipAt >= 0) {
      if (skipAt > 0) Drop(skipAt, "Line noise, skipped");
      Drop(skipSize, "Skipped a frame that does not answer the request (" + WhyNotTheReply(request, pending_, 0) + ")",
           true);
      continue;
    }
    if (open < pending_size_) return MB_RESPONCE_INCOMPLETE;
    if (damaged >= 0) {
      // The reply's bounds, and a CRC that does not match them: its check decides.
      if (damaged > 0) Drop(damaged, "Line noise before the reply, skipped");
      return CheckResponse(request, request_size, pending_, damagedSize);
    }
    // Bytes have come, none of them the reply (yet).
    return received_count_ > 0 ? MB_RESPONCE_INCOMPLETE : MB_RESPONCE_EMPTY;
  }
}

int ModbusMaster::FindUnsizedReply() {
  const std::uint8_t id = request[0];
  const std::uint8_t function = request[1];
  // An exception says how long it is: it is taken at once.
  for (int p = 0; p + 5 <= pending_size_; ++p) {
    if (pending_[p] == id && pending_[p + 1] == (function | 0x80) && CrcMatches(pending_ + p, 5)) {
      if (p > 0) Drop(p, "Line noise before the reply, skipped");
      return CheckResponse(request, request_size, pending_, 5);
    }
  }
  if (pending_size_ == 0) return MB_RESPONCE_EMPTY;
  // Any other reply ends where the line goes quiet.
  const auto quiet = std::chrono::steady_clock::now() - last_arrival_;
  if (quiet < std::chrono::milliseconds(link().IdleGapMs())) return MB_RESPONCE_INCOMPLETE;
  int first = -1;  // where a frame of the reply's slave id and function starts
  for (int p = 0; p + 4 <= pending_size_; ++p) {
    if (pending_[p] != id || pending_[p + 1] != function) continue;
    if (first < 0) first = p;
    if (pending_size_ - p <= kFrameCap && CrcMatches(pending_ + p, pending_size_ - p)) {
      if (p > 0) Drop(p, "Line noise before the reply, skipped");
      return CheckResponse(request, request_size, pending_, pending_size_);
    }
  }
  if (pending_size_ >= 4 && pending_size_ <= kFrameCap && CrcMatches(pending_, pending_size_)) {
    Drop(pending_size_, "Skipped a frame that does not answer the request (" + WhyNotTheReply(request, pending_, 0) + ")",
         true);
    return MB_RESPONCE_INCOMPLETE;
  }
  if (first < 0) {
    Drop(pending_size_, "Line noise, skipped");
    return MB_RESPONCE_INCOMPLETE;
  }
  // The reply's start, and no CRC that matches up to the quiet: its check decides.
  if (first > 0) Drop(first, "Line noise before the reply, skipped");
  return CheckResponse(request, request_size, pending_, std::min(pending_size_, kFrameCap));
}

}  // namespace vantrel
