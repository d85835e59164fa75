// A line: the links a master may talk over (a serial port, a TCP connection) and the master
// itself, set to the link its mode uses. What sits above it (the line session, a scan, the
// poller) opens the link and exchanges frames through the master.
#pragma once

#include "modbus/ModbusMaster.h"
#include "net/TcpConnection.h"
#include "serial/SerialPort.h"

namespace vantrel {

class Line {
 public:
  Line() : master_(serial_) {}
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  ModbusMaster& master() { return master_; }
  const ModbusMaster& master() const { return master_; }
  SerialPort& serial() { return serial_; }
  TcpConnection& tcp() { return tcp_; }

  // The framing of mode, and the link it goes over: the serial port for RTU and ASCII, the
  // TCP connection for TCP and RTU over TCP. A change closes the link in use.
  void SetMode(ModbusMode mode) {
    master_.SetMode(mode);
    master_.SetLink(IsNetworkMode(mode) ? static_cast<Link&>(tcp_) : serial_);
  }
  ModbusMode mode() const { return master_.Mode(); }

 private:
  SerialPort serial_;
  TcpConnection tcp_;
  ModbusMaster master_;
};

}  // namespace vantrel
