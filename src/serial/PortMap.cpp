// What the port map is on every platform: the folder of the COMn entries and the order of
// the ports listed. Where the ports come from is the platform's (PortMapPosix.cpp,
// PortMapWin.cpp).
#include "serial/PortMap.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace vantrel {
namespace {

std::string& Folder() {
  static std::string folder = [] {
    std::error_code error;
    const std::string here = std::filesystem::current_path(error).string();
    return error || here.empty() ? std::string(".") : here;
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

}  // namespace vantrel
