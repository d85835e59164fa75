#include "session/Line.h"

#include "diag/Diagnostics.h"
#include "serial/PortMap.h"
#include "session/ValueNames.h"

namespace vantrel {

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
