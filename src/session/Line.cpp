#include "session/Line.h"

#include "diag/Diagnostics.h"
#include "serial/PortMap.h"

namespace vantrel {

int ComPortNumber(const std::string& device) {
  if (device.size() < 4 || device.size() > 6) return 0;
  if ((device[0] | 0x20) != 'c' || (device[1] | 0x20) != 'o' || (device[2] | 0x20) != 'm') return 0;
  int n = 0;
  for (std::size_t i = 3; i < device.size(); ++i) {
    if (device[i] < '0' || device[i] > '9') return 0;
    n = n * 10 + (device[i] - '0');
  }
  return n >= 1 && n <= 255 ? n : 0;
}

int Line::OpenSerial(const LineConnection& c) {
  const int com = ComPortNumber(c.device);
  if (com == 0) return serial_.OpenDevice(c.device, c.baud, c.parity, c.dataBits, c.stopBits);
  const int opened = serial_.Open(com, c.baud, c.parity, c.dataBits, c.stopBits);
  const PortEntry port = DescribePort(com);
  WriteDebugLog("COM%d is %s%s%s", com, port.device.empty() ? "no device" : port.device.c_str(),
                port.description.empty() ? "" : ", ", port.description.c_str());
  return opened;
}

}  // namespace vantrel
