#include "serial/PortMap.h"

#include <libserialport.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>

namespace vantrel {
namespace {

std::string& Folder() {
  static std::string folder = [] {
    char buf[1024] = {};
    return getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
  }();
  return folder;
}

bool IsUsb(const std::string& device) {
  return device.rfind("/dev/ttyUSB", 0) == 0 || device.rfind("/dev/ttyACM", 0) == 0;
}

// Natural order: runs of digits compare by value, so ttyS2 comes before ttyS10.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) &&
        std::isdigit(static_cast<unsigned char>(b[j]))) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      std::string_view da(a.data() + i, ei - i), db(b.data() + j, ej - j);
      while (da.size() > 1 && da.front() == '0') da.remove_prefix(1);
      while (db.size() > 1 && db.front() == '0') db.remove_prefix(1);
      if (da.size() != db.size()) return da.size() < db.size();
      if (da != db) return da < db;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

std::string LinkPath(int portNumber, const std::string& folder) {
  return folder + "/COM" + std::to_string(portNumber);
}

bool EntryExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

const std::string& PortFolder() { return Folder(); }
void SetPortFolder(const std::string& folder) { Folder() = folder; }

void SortPorts(std::vector<PortEntry>& ports) {
  std::stable_sort(ports.begin(), ports.end(), [](const PortEntry& x, const PortEntry& y) {
    const bool ux = IsUsb(x.device), uy = IsUsb(y.device);
    if (ux != uy) return ux;
    return NaturalLess(x.device, y.device);
  });
}

std::vector<PortEntry> ListPresentPorts() {
  std::vector<PortEntry> ports;
  sp_port** list = nullptr;
  if (sp_list_ports(&list) != SP_OK || list == nullptr) return ports;
  for (int i = 0; list[i] != nullptr; ++i) {
    const char* name = sp_get_port_name(list[i]);
    const char* desc = sp_get_port_description(list[i]);
    if (name == nullptr) continue;
    ports.push_back({name, desc ? desc : ""});
  }
  sp_free_port_list(list);
  SortPorts(ports);
  return ports;
}

PortEntry DescribePort(int portNumber, const std::string& folder) {
  if (portNumber < 1) return {};
  const std::string link = LinkPath(portNumber, folder);
  if (EntryExists(link)) {
    char target[PATH_MAX];
    const char* resolved = realpath(link.c_str(), target);
    return {link, std::string("link to ") + (resolved ? resolved : "a missing device")};
  }
  const auto ports = ListPresentPorts();
  if (static_cast<std::size_t>(portNumber) > ports.size()) return {};
  return ports[static_cast<std::size_t>(portNumber) - 1];
}

std::string DeviceForPort(int portNumber, const std::string& folder) {
  return DescribePort(portNumber, folder).device;
}

}  // namespace vantrel
