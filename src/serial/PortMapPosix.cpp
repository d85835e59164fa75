#include "serial/PortMap.h"

#include <libserialport.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace vantrel {
namespace {

std::string LinkPath(int portNumber, const std::string& folder) {
  return folder + "/COM" + std::to_string(portNumber);
}

bool EntryExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

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
