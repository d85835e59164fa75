// A line: the links a master may talk over (a serial port, a TCP connection) and the master
// itself, set to the link its mode uses. LineLinks is what the line session needs of one, so
// that its tests can give it a fake line; Line is the real one, which the window, the
// poller and a scan open and use.
#pragma once

#include <string>

#include "modbus/ModbusMaster.h"
#include "net/TcpConnection.h"
#include "serial/SerialPort.h"
#include "session/PollDefinition.h"

namespace vantrel {

class LineLinks {
 public:
  virtual ~LineLinks() = default;
  virtual ModbusMaster& master() = 0;
  virtual const ModbusMaster& master() const = 0;
  // The framing of mode, and the link it goes over: the serial port for RTU and ASCII, the
  // TCP connection for TCP and RTU over TCP. A change closes the link in use.
  virtual void SetMode(ModbusMode mode) = 0;
  // Opens the serial link with the connection's line settings: port n for "COMn", else the
  // device path. 1 when open.
  virtual int OpenSerial(const LineConnection& connection) = 0;
  // Asks the serial driver for RS-485 mode (RTS raised while sending): true when it took it.
  virtual bool SetRs485() = 0;
  // A TCP connect in steps (see TcpConnection): started, watched, finished.
  virtual void StartConnect(const std::string& host, int port, int timeoutMs) = 0;
  virtual int ConnectHandle() const = 0;
  // Waits at most timeoutMs for the connect's outcome: 1 there, 0 not yet, -1 none under way.
  virtual int WaitConnect(int timeoutMs) = 0;
  // 1 connected, 0 failed (ConnectError says why), -1 still under way.
  virtual int FinishConnect() = 0;
  virtual int ConnectError() const = 0;
};

class Line final : public LineLinks {
 public:
  Line() : master_(serial_) {}
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  ModbusMaster& master() override { return master_; }
  const ModbusMaster& master() const override { return master_; }
  SerialPort& serial() { return serial_; }
  TcpConnection& tcp() { return tcp_; }

  void SetMode(ModbusMode mode) override {
    master_.SetMode(mode);
    master_.SetLink(IsNetworkMode(mode) ? static_cast<Link&>(tcp_) : serial_);
  }
  ModbusMode mode() const { return master_.Mode(); }
  int OpenSerial(const LineConnection& connection) override;
  bool SetRs485() override { return serial_.SetRs485(true) != 0; }
  void StartConnect(const std::string& host, int port, int timeoutMs) override {
    tcp_.StartConnect(host, port, timeoutMs);
  }
  int ConnectHandle() const override { return tcp_.ConnectHandle(); }
  int WaitConnect(int timeoutMs) override { return tcp_.WaitConnect(timeoutMs); }
  int FinishConnect() override { return tcp_.FinishConnect(); }
  int ConnectError() const override { return tcp_.LastError(); }

 private:
  SerialPort serial_;
  TcpConnection tcp_;
  ModbusMaster master_;
};

}  // namespace vantrel
