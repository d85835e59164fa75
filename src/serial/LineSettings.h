// The termios2 line settings for a port: raw mode, rate, framing. Pure, so that the
// framing bits can be checked where a pseudo-terminal would not keep them.
#pragma once

struct termios2;  // <asm/termbits.h>, which cannot share a unit with <termios.h>

namespace vantrel {

// Changes tio into raw mode with the given rate and framing. False (errno EINVAL) when a
// value is out of range: parity other than N O E M S (either case), data bits other than
// 5 to 8, stop-bit code other than 1, 2 or 3, a rate of 0 or less.
bool ComputeLineSettings(termios2& tio, int baudRate, char parity, int dataBits, int stopBits);

}  // namespace vantrel
