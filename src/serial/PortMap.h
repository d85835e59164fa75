// Which device stands behind port number n ("COMn").
//
// Port n is the device that <port folder>/COMn points to when that entry exists (a link
// such as `ln -s /dev/ttyUSB0 COM3`, or the pseudo-terminal of vantrel-slave); otherwise
// the n-th of the ports present, USB adapters (ttyUSB*, ttyACM*) first, then the rest,
// each group in natural order (ttyS2 before ttyS10).
//
// On Windows port n is COMn (opened as \\.\COMn), and the ports present are those of the
// registry's HARDWARE\DEVICEMAP\SERIALCOMM, in natural order; there is no port folder there.
#pragma once

#include <string>
#include <vector>

namespace vantrel {

struct PortEntry {
  std::string device;       // e.g. /dev/ttyUSB0
  std::string description;  // e.g. "FT232R USB UART", may be empty
};

// The folder searched for COMn entries: the working directory at the first call unless set.
const std::string& PortFolder();
void SetPortFolder(const std::string& folder);

// The serial ports present, in the order described above.
std::vector<PortEntry> ListPresentPorts();
// Sorts entries into that order (exposed for testing).
void SortPorts(std::vector<PortEntry>& ports);

// The device of port n, or an empty text when there is none.
std::string DeviceForPort(int portNumber, const std::string& folder = PortFolder());
// The same with a description: for a COMn entry, "link to <target>".
PortEntry DescribePort(int portNumber, const std::string& folder = PortFolder());

}  // namespace vantrel
