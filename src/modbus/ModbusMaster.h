// The Modbus RTU master: owns the serial port and the buffers of the last exchange.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "modbus/ModbusFrame.h"
#include "serial/SerialPort.h"

namespace vantrel {

class ModbusMaster {
 public:
  // Bytes taken from the port in one read.
  static constexpr int kReadChunk = 1024;

  int Open(int portNumber, int baudRate, char parity, int dataBits, int stopBits) {
    return port.Open(portNumber, baudRate, parity, dataBits, stopBits);
  }
  int Close() { return port.Close(); }
  int IsOpen() const { return port.IsOpen(); }

  // Writes the frame and starts a new exchange: every decoded field is cleared, the
  // frame is kept in request, and bytes left over from the previous exchange (queued at
  // the port or gathered so far) are dropped; after an abandoned exchange the line is first
  // let go quiet (DrainAbandoned). 1 if the port took the bytes, else 0; the frame is
  // stored even when the port is closed. Nothing happens for a missing frame, size 0 or a
  // size above 260.
  int SendRequest(const std::uint8_t* frame, int size);

  // Takes what is queued at the port and adds it to the bytes gathered since the last send,
  // then looks in them for the reply to the request: a frame from the request's slave id
  // with its function (or the exception form of it) and, for a normal reply to a read, the
  // byte count that the quantity asked for needs (a write's reply is always 8 bytes), whose
  // CRC is right. A write's reply that echoes another address, value or quantity is
  // MB_RESPONCE_WRITE_ECHO_MISMATCH. Bytes before it are line noise;
  // frames that answer another question (another device, a late reply to an earlier
  // request) are skipped. Both are named through note. While no such frame is complete it
  // returns 0 (nothing yet) or MB_RESPONCE_INCOMPLETE; when none can come of the bytes
  // there are, the reply check of the first frame decides (an invalid CRC, say). After a
  // final result the exchange is over: later calls return 0 until the next send.
  int ReadResponse();

  // The caller gave up waiting for the reply (a time-out). Nothing more is read for this
  // exchange, and before the next request goes out the line is let go quiet, for at most
  // boundMs, so that the rest of a late reply is not taken for the next answer.
  void AbandonExchange(int boundMs);
  // Waits, after an abandoned exchange, until the line has been quiet for 3.5 character
  // times (at most the bound given), dropping whatever arrives. Called by SendRequest.
  void DrainAbandoned();

  // Frames of this exchange from the right slave id and function with a good CRC whose
  // byte count was smaller than the quantity needs: a device that answers too short.
  bool SawShortReply() const { return short_replies_ > 0; }
  // Every byte received since the last send, in hex as frames are logged (the first
  // kFrameCapacity bytes and a count of the rest), for explaining a failure.
  std::string ReceivedText() const;

  // Where ReadResponse names the noise and the frames it skips (one line each); unset, they
  // are not named.
  std::function<void(const std::string&)> note;

  // Classifies reply against request (a read or a write) and fills the decoded fields; a
  // write's reply leaves byte_count 0, and request_quantity is 1 for 05 and 06.
  int CheckResponse(const std::uint8_t* req, int reqSize, const std::uint8_t* reply,
                    int replySize);

  std::uint8_t request[kFrameCapacity] = {};
  // Sizes up to 260 do not fit a byte, so these are 16 bits wide.
  std::uint16_t request_size = 0;
  std::uint8_t response[kFrameCapacity] = {};
  std::uint16_t response_size = 0;
  std::uint8_t data[kFrameCapacity] = {};
  std::uint8_t byte_count = 0;
  std::uint8_t response_function = 0;
  std::uint8_t exception_function = 0;
  std::uint8_t exception_code = 0;
  std::uint8_t request_function = 0;
  std::uint8_t request_slave_id = 0;
  std::uint16_t request_address = 0;
  std::uint16_t request_quantity = 0;
  SerialPort port;

 private:
  // Bytes kept while looking for the reply: more than a frame, so that noise or a skipped
  // frame before it does not push it out.
  static constexpr int kGatherCapacity = 4 * static_cast<int>(kFrameCapacity);

  int FindReply();
  // Removes the first count gathered bytes, naming them with what they were.
  void Drop(int count, const std::string& what);

  std::uint8_t pending_[kGatherCapacity] = {};
  int pending_size_ = 0;
  bool exchange_over_ = true;  // no request sent yet, or a final result given
  int short_replies_ = 0;
  std::string received_;  // the first bytes since the send
  long long received_count_ = 0;
  int drain_bound_ms_ = -1;  // >= 0: the last exchange was abandoned
};

// Size of the complete frame that starts with these bytes: byte count + 5 for a normal
// reply, 5 for an exception, 0 when not known yet, -1 when the function code names no
// frame we can measure (the check then decides on the bytes there are).
int ExpectedReplySize(const std::uint8_t* reply, int size);

}  // namespace vantrel
