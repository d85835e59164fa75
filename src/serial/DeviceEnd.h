// The device end of a serial line, for a program that plays the device (vantrel-slave): on
// Linux a pseudo-terminal made for it, with a symbolic link NAME to its far side that a
// master opens as its port; on Windows, which has no pseudo-terminals, the COM port NAME
// (COM6, say), at the line settings given, whose far end a null-modem cable or a virtual
// port pair gives the master.
#pragma once

#include <memory>
#include <string>

#include "modbus/Link.h"

namespace vantrel {

class DeviceEnd {
 public:
  virtual ~DeviceEnd() = default;
  virtual Link& link() = 0;
  // What it is, for the first line a program prints: "./COM3 (/dev/pts/4)", "COM6".
  virtual std::string Where() const = 0;
  // Whether FarEnd can tell the master's settings (a pseudo-terminal shares them).
  virtual bool SeesFarEnd() const = 0;
  // The speed and stop bits that the master has set; false when they cannot be told.
  virtual bool FarEnd(long& baud, int& stopBits) const = 0;
};

// Opens the device end NAME; parity one of N E O M S, stop bits 1 or 2. Null with error set
// when it cannot be had.
std::unique_ptr<DeviceEnd> OpenDeviceEnd(const std::string& name, int baudRate, char parity, int dataBits,
                                         int stopBits, std::string& error);

}  // namespace vantrel
