#include "PtyLine.h"

#include <cstdlib>

namespace vantrel::slave {

std::string LineWatch::Observe(const LineSpeed& far) {
  // Two UARTs still understand each other within about 2 % of speed.
  const bool mismatch = far.stopBits != own_.stopBits || std::labs(far.baud - own_.baud) * 50 > own_.baud;
  const bool changed = !seen_ || !(far == last_);
  const bool wasMismatch = mismatch_;
  seen_ = true;
  last_ = far;
  mismatch_ = mismatch;
  if (mismatch && changed) {
    return "the far end is at " + LineSpeedText(far) + ", this slave at " + LineSpeedText(own_) +
           ": its requests are not understood, the replies go out garbled (--strict-line)";
  }
  if (!mismatch && wasMismatch) return "the far end is at " + LineSpeedText(far) + ", as this slave: replies are good again";
  return "";
}

std::string LineSpeedText(const LineSpeed& line) {
  return std::to_string(line.baud) + " baud, " + std::to_string(line.stopBits) + " stop bit" +
         (line.stopBits == 1 ? "" : "s");
}

}  // namespace vantrel::slave
