// The medium that the modbus core sends its frames over and takes replies from: the serial
// port (RTU, ASCII) or a TCP connection (Modbus TCP, RTU over TCP). Opening one is the
// medium's own business; everything after that goes through this interface.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

class Link {
 public:
  virtual ~Link() = default;

  virtual int IsOpen() const = 0;
  // Always 1.
  virtual int Close() = 0;
  // Queues count bytes, waiting a bounded time for room. Returns count while open (0 for
  // count <= 0), 0 when not open; a failed write shows in LastError and DeviceLost.
  virtual int Write(const std::uint8_t* bytes, int count) = 0;
  // Takes at most capacity of the bytes already there; never waits for more. 0 when none.
  virtual int Read(std::uint8_t* buffer, int capacity) = 0;
  // 1 when bytes are there, 0 after timeoutMs, -1 when closed or gone.
  virtual int WaitReadable(int timeoutMs) = 0;
  // Drops whatever has arrived and not been read.
  virtual void DiscardInput() = 0;
  // The silence after which no more bytes of a frame are to be expected.
  virtual int QuietGapMs() const = 0;
  // The silence after which this end may take the line for idle: at least QuietGapMs, more
  // where bytes reach it in bursts with pauses between them that the line never had.
  virtual int IdleGapMs() const { return QuietGapMs(); }
  // The time one byte takes on the wire, in milliseconds; 0 where bytes take no line time
  // that the caller could count (a TCP connection).
  virtual double ByteTimeMs() const { return 0; }
  // The descriptor to watch for readiness; -1 when closed, and on Windows, where a port or
  // a socket is no descriptor: WaitReadable waits for it there.
  virtual int Handle() const = 0;
  // What the link goes to: a device path, or host:port.
  virtual const std::string& Device() const = 0;
  // errno of the last failure, 0 when none; on Windows the errno that the Windows error
  // stands for, so that a failure is explained as on Linux.
  virtual int LastError() const = 0;
  // How many connections have been made over it: a new number is a new byte stream (a TCP
  // connection made again); 0 where there is one stream only.
  virtual unsigned Connections() const { return 0; }
  // True once a read or write found the other end gone (adapter pulled, connection closed
  // or reset); the link stays open until Close.
  virtual bool DeviceLost() const = 0;
};

}  // namespace vantrel
