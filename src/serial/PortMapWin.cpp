// The ports of Windows: port n is COMn itself, and the ports present are those the serial
// drivers have entered in the registry's device map.
#include "serial/PortMap.h"

#include <windows.h>

namespace vantrel {
namespace {

// The device path that opens COMn: the \\.\ form, without which COM10 and above are not
// found.
std::string ComPath(const std::string& name) { return "\\\\.\\" + name; }

}  // namespace

std::vector<PortEntry> ListPresentPorts() {
  std::vector<PortEntry> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return ports;  // no serial driver has started: no ports
  }
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof name;
    BYTE data[256];
    DWORD dataSize = sizeof data - 1;
    DWORD type = 0;
    const LONG r = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS || type != REG_SZ) continue;  // too long or not a name: not a port
    data[dataSize] = 0;
    const std::string port(reinterpret_cast<const char*>(data));
    // The value's name is the driver's device, e.g. \Device\Serial0 or \Device\VCP0.
    if (!port.empty()) ports.push_back({ComPath(port), name});
  }
  RegCloseKey(key);
  SortPorts(ports);
  return ports;
}

PortEntry DescribePort(int portNumber, const std::string& /*folder*/) {
  if (portNumber < 1) return {};
  const std::string path = ComPath("COM" + std::to_string(portNumber));
  for (const PortEntry& entry : ListPresentPorts()) {
    if (entry.device == path) return entry;
  }
  return {};
}

std::string DeviceForPort(int portNumber, const std::string& /*folder*/) {
  // COMn even when the device map does not list it: some drivers (and wine's mapping of a
  // Unix device onto a COM port) make the port without an entry there, and opening it tells.
  if (portNumber < 1) return {};
  return ComPath("COM" + std::to_string(portNumber));
}

}  // namespace vantrel
