#include "modbus/ModbusMaster.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace vantrel {

int ExpectedReplySize(const std::uint8_t* reply, int size) {
  if (size < 2) return 0;
  const std::uint8_t function = reply[1];
  if (function >= 0x80 && function <= 0x84) return 5;
  if (function >= 1 && function <= 4) return size < 3 ? 0 : reply[2] + 5;
  return -1;
}

namespace {

constexpr int kFrameCap = static_cast<int>(kFrameCapacity);

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
  } else {
    std::snprintf(why, sizeof why, "%d data bytes, not the %d asked for", frame[2], neededBytes);
  }
  return why;
}

}  // namespace

int ModbusMaster::SendRequest(const std::uint8_t* frame, int size) {
  if (frame == nullptr || size <= 0 || size > kFrameCap) return 0;
  DrainAbandoned();
  port.DiscardInput();  // a late reply to an earlier request must not answer this one
  const int written = port.Write(frame, size);

  std::memset(request, 0, sizeof request);
  std::memset(response, 0, sizeof response);
  std::memset(data, 0, sizeof data);
  request_size = response_size = 0;
  byte_count = response_function = exception_function = exception_code = 0;
  request_function = request_slave_id = 0;
  request_address = request_quantity = 0;
  pending_size_ = 0;
  short_replies_ = 0;
  received_.clear();
  received_count_ = 0;
  exchange_over_ = false;

  std::memcpy(request, frame, static_cast<std::size_t>(size));
  request_size = static_cast<std::uint16_t>(size);
  return written > 0 ? 1 : 0;
}

std::string ModbusMaster::ReceivedText() const {
  if (received_count_ == 0) return "nothing";
  std::string text = HexBytes(reinterpret_cast<const std::uint8_t*>(received_.data()), static_cast<int>(received_.size()));
  if (received_count_ > static_cast<long long>(received_.size())) {
    text += "and " + std::to_string(received_count_ - static_cast<long long>(received_.size())) + " bytes more";
  }
  return text;
}

void ModbusMaster::AbandonExchange(int boundMs) {
  exchange_over_ = true;
  drain_bound_ms_ = std::max(boundMs, 0);
}

void ModbusMaster::DrainAbandoned() {
  if (drain_bound_ms_ < 0) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(drain_bound_ms_);
  drain_bound_ms_ = -1;
  std::uint8_t chunk[kReadChunk];
  std::string dropped;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (port.WaitReadable(static_cast<int>(std::min<long long>(port.QuietGapMs(), left.count()))) != 1) break;
    const int n = port.Read(chunk, kReadChunk);
    if (dropped.size() < 3 * kFrameCapacity) dropped += HexBytes(chunk, n);
  }
  if (!dropped.empty() && note) note("Bytes of the abandoned exchange, dropped: " + dropped);
}

void ModbusMaster::Drop(int count, const std::string& what) {
  if (note) note(what + ": " + HexBytes(pending_, count));
  std::memmove(pending_, pending_ + count, static_cast<std::size_t>(pending_size_ - count));
  pending_size_ -= count;
}

int ModbusMaster::ReadResponse() {
  if (exchange_over_) return MB_RESPONCE_EMPTY;
  std::uint8_t chunk[kReadChunk];
  const int n = port.Read(chunk, kReadChunk);
  if (n > 0) {
    const int keep = static_cast<int>(std::min<long long>(n, std::max<long long>(kFrameCap - received_count_, 0)));
    received_.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(keep));
    received_count_ += n;
    // Should the bytes outgrow the buffer, the oldest go: the reply is among the newest.
    const int overflow = pending_size_ + n - kGatherCapacity;
    if (overflow > 0) Drop(std::min(overflow, pending_size_), "Line noise, skipped");
    const int take = std::min(n, kGatherCapacity);
    std::memcpy(pending_ + pending_size_, chunk + (n - take), static_cast<std::size_t>(take));
    pending_size_ += take;
  }
  if (pending_size_ == 0) return MB_RESPONCE_EMPTY;
  const int result = FindReply();
  if (!ReplyPending(result)) exchange_over_ = true;
  return result;
}

int ModbusMaster::FindReply() {
  // Reads and writes say what their reply looks like; anything else gets the plain check.
  const bool read = request_size >= kReadRequestSize && request[1] >= 1 && request[1] <= 4;
  const bool write = request_size >= kReadRequestSize && IsWriteFunction(request[1]);
  if (!read && !write) {
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
                         WhyNotTheReply(request, pending_, needed) + ")");
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

  if (reqSize < kReadRequestSize) return MB_RESPONCE_INCOMPLETE;
  request_slave_id = request[0];
  request_function = request[1];
  const bool write = IsWriteFunction(request_function);
  if (!write && (request_function < 1 || request_function > 4)) return MB_RESPONCE_UNSUPPORTED_REQUEST;
  request_address = static_cast<std::uint16_t>(request[2] << 8 | request[3]);
  const bool single = request_function == kWriteSingleCoil || request_function == kWriteSingleRegister;
  request_quantity = single ? 1 : static_cast<std::uint16_t>(request[4] << 8 | request[5]);

  if (replySize < 4) return MB_RESPONCE_INCOMPLETE;
  response_function = response[1];
  if (response_function == 0) return MB_RESPONCE_INVALID_FUNCTION_CODE;
  if (response_function >= 101 && response_function <= 114) {
    return MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE;
  }
  if ((response_function >= 0x80 && response_function <= 0x84) ||
      (write && response_function == (request_function | 0x80))) {
    exception_function = response[1];
    exception_code = response[2];
    return MB_RESPONCE_EXCEPTION;  // no size or CRC check on an exception reply
  }
  if (write) {
    if (response_function != request_function) return MB_RESPONCE_UNKOWN;
    if (replySize != kWriteReplySize) return MB_RESPONCE_INCOMPLETE;
    if (!CrcMatches(response, replySize)) return MB_RESPONCE_INVALID_CRC;
    // 05 and 06 echo the whole request; 15 and 16 its id, function, address and quantity.
    return std::memcmp(response, request, 6) == 0 ? MB_RESPONCE_OK : MB_RESPONCE_WRITE_ECHO_MISMATCH;
  }
  if (response_function < 1 || response_function > 4) return MB_RESPONCE_UNKOWN;

  byte_count = response[2];
  if (replySize != byte_count + 5) return MB_RESPONCE_INCOMPLETE;
  std::memcpy(data, response + 3, byte_count);

  return CrcMatches(response, replySize) ? MB_RESPONCE_OK : MB_RESPONCE_INVALID_CRC;
}

}  // namespace vantrel
