#include "serial/DeviceEnd.h"

#include <cctype>

#include "platform/Platform.h"
#include "serial/SerialPort.h"

namespace vantrel {
namespace {

class ComPortEnd : public DeviceEnd {
 public:
  Link& link() override { return port; }
  std::string Where() const override { return name; }
  // A real port's settings are its own; the master's are not to be seen from here.
  bool SeesFarEnd() const override { return false; }
  bool FarEnd(long&, int&) const override { return false; }

  SerialPort port;
  std::string name;
};

}  // namespace

std::unique_ptr<DeviceEnd> OpenDeviceEnd(const std::string& name, int baudRate, char parity, int dataBits,
                                         int stopBits, std::string& error) {
  // COMn by number, as the master opens it (\\.\COMn, for COM10 and above too).
  std::string upper;
  for (const char ch : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  int number = 0;
  if (upper.size() > 3 && upper.compare(0, 3, "COM") == 0 &&
      upper.find_first_not_of("0123456789", 3) == std::string::npos && upper.size() <= 6) {
    number = std::stoi(upper.substr(3));
  }
  auto end = std::make_unique<ComPortEnd>();
  end->name = number > 0 ? "COM" + std::to_string(number) : name;
  const int opened = number > 0 ? end->port.Open(number, baudRate, parity, dataBits, stopBits)
                                : end->port.OpenDevice(name, baudRate, parity, dataBits, stopBits);
  if (!opened) {
    error = "cannot open " + end->name + ": " + platform::ErrorText(end->port.LastError());
    return nullptr;
  }
  return end;
}

}  // namespace vantrel
