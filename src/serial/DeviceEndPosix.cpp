#include "serial/DeviceEnd.h"

#include "serial/PseudoTerminal.h"

namespace vantrel {
namespace {

// A pseudo-terminal carries whatever settings its far side sets: those given pace the
// replies only, which the caller does.
class PseudoTerminalEnd : public DeviceEnd {
 public:
  Link& link() override { return pty; }
  std::string Where() const override { return pty.Device() + " (" + pty.FarPath() + ")"; }
  bool SeesFarEnd() const override { return true; }
  bool FarEnd(long& baud, int& stopBits) const override { return pty.FarEnd(baud, stopBits); }

  PseudoTerminal pty;
};

}  // namespace

std::unique_ptr<DeviceEnd> OpenDeviceEnd(const std::string& name, int, char, int, int, std::string& error) {
  auto end = std::make_unique<PseudoTerminalEnd>();
  if (!end->pty.Open(name, error)) return nullptr;
  return end;
}

}  // namespace vantrel
