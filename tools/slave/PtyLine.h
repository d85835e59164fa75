// The line settings that the far end of vantrel-slave's pseudo-terminal has set, and whether
// they are the slave's own. A pseudo-terminal keeps the speed and the stop bits that the far
// end sets (seen from our side too), but not parity or data bits (it forces 8 bits, no
// parity), so only those two can be told apart.
#pragma once

#include <string>

namespace vantrel::slave {

struct LineSpeed {
  long baud = 0;
  int stopBits = 1;
  bool operator==(const LineSpeed&) const = default;
};

// Follows the far end's settings request by request against the slave's own.
class LineWatch {
 public:
  explicit LineWatch(LineSpeed own) : own_(own) {}
  // Takes the far end's settings at a request: the line to log when they changed in a way
  // that matters (a new mismatch, or a match again), "" otherwise.
  std::string Observe(const LineSpeed& far);
  // Whether the far end was at other settings at the last request: a UART at another speed
  // or stop bits does not receive our bytes as sent.
  bool mismatch() const { return mismatch_; }

 private:
  LineSpeed own_;
  LineSpeed last_;
  bool seen_ = false;
  bool mismatch_ = false;
};

// "19200 baud, 1 stop bit"
std::string LineSpeedText(const LineSpeed& line);

}  // namespace vantrel::slave
