// What the serial link is on every platform: opening by number or path, and the timing
// that the line settings give. The port itself is the platform's (SerialPortPosix.cpp,
// SerialPortWin.cpp).
#include "serial/SerialPort.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "serial/PortMap.h"

namespace vantrel {

int QuietGapMs(int baudRate, int bitsPerChar) {
  const long long ms = (3500LL * bitsPerChar + baudRate - 1) / baudRate;
  return static_cast<int>(std::max<long long>(2, ms));
}

SerialPort::~SerialPort() { Close(); }

int SerialPort::Open(int portNumber, int baudRate, char parity, int dataBits, int stopBits) {
  if (is_open) return 1;
  char text[64];
  std::snprintf(text, sizeof text, "COM%d:%d,%c,%d,%d", portNumber, baudRate, parity, dataBits,
                stopBits);
  settings_text_ = text;
  const std::string device = DeviceForPort(portNumber);
  if (device.empty()) {
    device_.clear();
    last_error_ = ENOENT;
    return 0;
  }
  return OpenPath(device, baudRate, parity, dataBits, stopBits);
}

int SerialPort::OpenDevice(const std::string& device, int baudRate, char parity, int dataBits,
                           int stopBits) {
  if (is_open) return 1;
  char text[64];
  std::snprintf(text, sizeof text, ":%d,%c,%d,%d", baudRate, parity, dataBits, stopBits);
  settings_text_ = device + text;
  return OpenPath(device, baudRate, parity, dataBits, stopBits);
}

void SerialPort::SetTiming(int baudRate, char parity, int dataBits, int stopBits) {
  const int parityBits = std::toupper(static_cast<unsigned char>(parity)) == 'N' ? 0 : 1;
  const int bitsPerChar = 1 + dataBits + parityBits + (stopBits == 1 ? 1 : 2);
  quiet_gap_ms_ = vantrel::QuietGapMs(baudRate, bitsPerChar);
  byte_time_ms_ = baudRate > 0 ? 1000.0 * bitsPerChar / baudRate : 0;
  idle_gap_ms_ = std::max({quiet_gap_ms_, static_cast<int>(std::ceil(16 * byte_time_ms_)), 50});
}

}  // namespace vantrel
