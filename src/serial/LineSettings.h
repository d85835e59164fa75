// The line settings for a port, in the form the platform takes them: termios2 on Linux (raw
// mode, rate, framing), a DCB on Windows. Pure, so that the framing can be checked where a
// pseudo-terminal, or wine's port on one, would not keep it.
#pragma once

#ifdef _WIN32
struct _DCB;  // DCB of <windows.h>
#else
struct termios2;  // <asm/termbits.h>, which cannot share a unit with <termios.h>
#endif

namespace vantrel {

#ifdef _WIN32
// Changes dcb into binary mode without flow control, with the given rate and framing; DTR
// and RTS on (off when listenOnly, so that an adapter switching the line's direction by
// them stays receiving). Stop-bit code 3 is one and a half with 5 data bits, else 2, as
// drivers take it. False (errno EINVAL) when a value is out of range, as below.
bool ComputeLineSettings(_DCB& dcb, int baudRate, char parity, int dataBits, int stopBits,
                         bool listenOnly);
#else
// Changes tio into raw mode with the given rate and framing. False (errno EINVAL) when a
// value is out of range: parity other than N O E M S (either case), data bits other than
// 5 to 8, stop-bit code other than 1, 2 or 3, a rate of 0 or less.
bool ComputeLineSettings(termios2& tio, int baudRate, char parity, int dataBits, int stopBits);
#endif

}  // namespace vantrel
