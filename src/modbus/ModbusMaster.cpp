#include "modbus/ModbusMaster.h"

#include <algorithm>
#include <cstring>

namespace vantrel {

int ExpectedReplySize(const std::uint8_t* reply, int size) {
  if (size < 2) return 0;
  const std::uint8_t function = reply[1];
  if (function >= 0x80 && function <= 0x84) return 5;
  if (function >= 1 && function <= 4) return size < 3 ? 0 : reply[2] + 5;
  return -1;
}

int ModbusMaster::SendRequest(const std::uint8_t* frame, int size) {
  if (frame == nullptr || size <= 0 || size > static_cast<int>(kFrameCapacity)) return 0;
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

  std::memcpy(request, frame, static_cast<std::size_t>(size));
  request_size = static_cast<std::uint16_t>(size);
  return written > 0 ? 1 : 0;
}

int ModbusMaster::ReadResponse() {
  std::uint8_t chunk[kReadChunk];
  const int n = port.Read(chunk, kReadChunk);
  const int room = static_cast<int>(sizeof pending_) - pending_size_;
  const int take = std::min(n, room);
  if (take > 0) {
    std::memcpy(pending_ + pending_size_, chunk, static_cast<std::size_t>(take));
    pending_size_ += take;
  }
  if (pending_size_ == 0) return MB_RESPONCE_EMPTY;

  const int expected = ExpectedReplySize(pending_, pending_size_);
  if (expected == 0 || (expected > 0 && pending_size_ < expected)) return MB_RESPONCE_INCOMPLETE;
  return CheckResponse(request, request_size, pending_, pending_size_);
}

int ModbusMaster::CheckResponse(const std::uint8_t* req, int reqSize, const std::uint8_t* reply,
                                int replySize) {
  if (req == nullptr || reqSize <= 0 || reply == nullptr || replySize <= 0) {
    return MB_RESPONCE_EMPTY;
  }
  constexpr int kCap = static_cast<int>(kFrameCapacity);
  if (reqSize > kCap || replySize > kCap) return MB_RESPONCE_TOO_LONG;

  // memmove: the caller may pass our own buffers.
  std::memmove(response, reply, static_cast<std::size_t>(replySize));
  response_size = static_cast<std::uint16_t>(replySize);
  std::memmove(request, req, static_cast<std::size_t>(reqSize));
  request_size = static_cast<std::uint16_t>(reqSize);

  if (reqSize < kReadRequestSize) return MB_RESPONCE_INCOMPLETE;
  request_slave_id = request[0];
  request_function = request[1];
  if (request_function < 1 || request_function > 4) return MB_RESPONCE_UNSUPPORTED_REQUEST;
  request_address = static_cast<std::uint16_t>(request[2] << 8 | request[3]);
  request_quantity = static_cast<std::uint16_t>(request[4] << 8 | request[5]);

  if (replySize < 4) return MB_RESPONCE_INCOMPLETE;
  response_function = response[1];
  if (response_function == 0) return MB_RESPONCE_INVALID_FUNCTION_CODE;
  if (response_function >= 101 && response_function <= 114) {
    return MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE;
  }
  if (response_function >= 0x80 && response_function <= 0x84) {
    exception_function = response[1];
    exception_code = response[2];
    return MB_RESPONCE_EXCEPTION;  // no size or CRC check on an exception reply
  }
  if (response_function < 1 || response_function > 4) return MB_RESPONCE_UNKOWN;

  byte_count = response[2];
  if (replySize != byte_count + 5) return MB_RESPONCE_INCOMPLETE;
  std::memcpy(data, response + 3, byte_count);

  const std::uint16_t crc = Crc16(response, static_cast<std::uint16_t>(replySize - 2));
  const bool match = (crc >> 8) == response[replySize - 2] && (crc & 0xFF) == response[replySize - 1];
  return match ? MB_RESPONCE_OK : MB_RESPONCE_INVALID_CRC;
}

}  // namespace vantrel
