// The Modbus RTU master: owns the serial port and the buffers of the last exchange.
#pragma once

#include <cstdint>

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
  // the port or gathered so far) are dropped. 1 if the port took the bytes, else 0; the
  // frame is stored even when the port is closed. Nothing happens for a missing frame,
  // size 0 or a size above 260.
  int SendRequest(const std::uint8_t* frame, int size);

  // Takes what is queued at the port and adds it to the reply gathered since the last
  // send. While the frame is not complete yet (byte count + 5 bytes, 5 for an exception
  // reply) it returns 0 (nothing yet) or MB_RESPONCE_INCOMPLETE; then the reply check.
  int ReadResponse();

  // Classifies reply against request and fills the decoded fields.
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
  // Reply bytes of the current exchange; more than a frame is kept only as far as
  // needed to report it as too long.
  std::uint8_t pending_[kFrameCapacity + 1] = {};
  int pending_size_ = 0;
};

// Size of the complete frame that starts with these bytes: byte count + 5 for a normal
// reply, 5 for an exception, 0 when not known yet, -1 when the function code names no
// frame we can measure (the check then decides on the bytes there are).
int ExpectedReplySize(const std::uint8_t* reply, int size);

}  // namespace vantrel
