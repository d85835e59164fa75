#include "session/Line.h"

#include "diag/Diagnostics.h"
#include "serial/PortMap.h"

namespace vantrel {

bool ComPort(const std::string& device, int& number) {
  if (device.size() < 4 || device.size() > 8) return false;
  if ((device[0] | 0x20) != 'c' || (device[1] | 0x20) != 'o' || (device[2] | 0x20) != 'm') return false;
  int n = 0;
  for (std::size_t i = 3; i < device.size(); ++i) {
    if (device[i] < '0' || device[i] > '9') return false;
    n = n * 10 + (device[i] - '0');
  }
  number = n;
  return true;
}

int Line::OpenSerial(const LineConnection& c) {
  int com = 0;
  if (!ComPort(c.device, com)) return serial_.OpenDevice(c.device, c.baud, c.parity, c.dataBits, c.stopBits);
  const int opened = serial_.Open(com, c.baud, c.parity, c.dataBits, c.stopBits);
  const PortEntry port = DescribePort(com);
  WriteDebugLog("COM%d is %s%s%s", com, port.device.empty() ? "no device" : port.device.c_str(),
                port.description.empty() ? "" : ", ", port.description.c_str());
  return opened;
}

}  // namespace vantrel
