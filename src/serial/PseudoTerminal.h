// A pseudo-terminal that plays the device end of a serial line (Linux only; Windows has
// none): a symbolic link to its far side is the "port" that a master opens. It stays
// readable while no program has the far side open, and its own writes never wait: bytes
// that nobody takes are dropped, as on a line with no one listening.
#pragma once

#include <cstdint>
#include <string>

#include "modbus/Link.h"

namespace vantrel {

class PseudoTerminal : public Link {
 public:
  PseudoTerminal() = default;
  ~PseudoTerminal() override;
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // Makes the pseudo-terminal, raw (no echo: our own bytes must not come back), and the
  // symbolic link to its far side; a link there already is replaced, anything else is not.
  // False with error set when it cannot.
  bool Open(const std::string& link, std::string& error);
  // The far side's device path, e.g. /dev/pts/3.
  const std::string& FarPath() const { return far_; }
  // The speed and stop bits that the far side has set (a pseudo-terminal keeps those, but
  // not parity or data bits); false when they cannot be read.
  bool FarEnd(long& baud, int& stopBits) const;

  int IsOpen() const override { return master_ >= 0; }
  // Also removes the link, while it still points to this pseudo-terminal. Always 1.
  int Close() override;
  // One write of what there is room for: the count taken, 0 when none or closed.
  int Write(const std::uint8_t* bytes, int count) override;
  int Read(std::uint8_t* buffer, int capacity) override;
  // A signal ends the wait as a time-out does.
  int WaitReadable(int timeoutMs) override;
  void DiscardInput() override;
  int QuietGapMs() const override { return 2; }
  int Handle() const override { return master_; }
  // The link's path.
  const std::string& Device() const override { return link_; }
  int LastError() const override { return last_error_; }
  bool DeviceLost() const override { return false; }  // the far side is held open

 private:
  int master_ = -1;
  int hold_ = -1;  // the far side, held open
  std::string link_;
  std::string far_;
  int last_error_ = 0;
};

}  // namespace vantrel
