// One serial port, opened by number (or by device path) with its line settings, written
// with a time-out and read without waiting for more than what is queued: the serial link of
// the modbus core.
#pragma once

#include <cstdint>
#include <string>

#include "modbus/Link.h"

namespace vantrel {

// 3.5 character times of bitsPerChar bits at baudRate, the silence that ends an RTU frame,
// in whole milliseconds rounded up; at least 2 ms (the serial line guide fixes 1.75 ms above
// 19200 baud). 9600 baud 8N1: 10 bits a character, 3.65 ms, so 4.
int QuietGapMs(int baudRate, int bitsPerChar);

class SerialPort : public Link {
 public:
  SerialPort() = default;
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens port n (COMn, see PortMap.h). Parity is one of N O E M S (either case); data
  // bits 5 to 8; stop-bit code 1, 2, or 3 for one and a half (applied as 2, which is
  // what termios offers, and what Windows drivers take with more than 5 data bits). Returns 1 on success or when already open (the settings in
  // force stay), 0 on failure: device missing, in use, or settings refused.
  int Open(int portNumber, int baudRate, char parity, int dataBits, int stopBits);
  // The same for a device path.
  int OpenDevice(const std::string& device, int baudRate, char parity, int dataBits,
                 int stopBits);
  // Always 1.
  int Close() override;

  // For a bus monitor, before Open: the port only listens. Open then drops RTS and DTR,
  // which the tty layer raises on every open, so that an adapter switching the line's
  // direction by them stays receiving; RS-485 mode is left as the driver has it; Write
  // sends nothing and returns 0. A pseudo-terminal, which has no modem lines, opens all the
  // same. (The raise at open is the kernel's and lasts until Open drops them again.)
  void SetListenOnly(bool on) { listen_only_ = on; }
  bool ListenOnly() const { return listen_only_; }

  // Asks the driver for RS-485 mode (Linux TIOCSRS485, Windows RTS_CONTROL_TOGGLE): RTS
  // raised while sending, for adapters that switch the line's direction by it; off turns
  // the mode off. 1 when the driver reports the mode asked for; 0 when the port is not
  // open, only listens, or the driver has no RS-485 mode (LastError: ENOTTY as a
  // pseudo-terminal gives, EINVAL, or EOPNOTSUPP when it took the request but kept its own
  // mode), never a silent success.
  int SetRs485(bool on);

  // Queues count bytes for the line, waiting at most 1 s for room and 5 s in all.
  // Returns count while the port is open (0 for count <= 0), 0 when it is not open.
  // A failed write is not reported here; see LastError and DeviceLost.
  int Write(const std::uint8_t* bytes, int count) override;
  // Takes at most capacity of the bytes already queued; never waits for more.
  // Returns the number taken, 0 when nothing is queued, the port is closed or the read fails.
  // A device that has gone away (hung up, or the far end of a pseudo-terminal closed) is
  // noticed here too, with nothing queued: see DeviceLost.
  int Read(std::uint8_t* buffer, int capacity) override;
  int IsOpen() const override { return is_open; }
  // The open file descriptor, for watching the port for readiness; -1 when closed, and on
  // Windows, where a port is no descriptor: WaitReadable waits for it there.
  int Handle() const override;

  // Waits until bytes are queued: 1 when some are, 0 after timeoutMs, -1 when the port is
  // closed or the device has gone away.
  int WaitReadable(int timeoutMs) override;
  // Drops whatever is queued on input.
  void DiscardInput() override;
  // 3.5 character times at the line settings of the last Open, the silence that ends a
  // frame; at least 2 ms (the serial line guide fixes 1.75 ms above 19200 baud).
  // The start bit, data bits, parity bit and stop bits of one character at the baud rate.
  double ByteTimeMs() const override { return byte_time_ms_; }
  int QuietGapMs() const override { return quiet_gap_ms_; }
  // Bytes reach the host in bursts: a UART raises its interrupt when its receive FIFO of 16
  // holds up to 14 of them, a USB adapter passes them on every 16 ms (FTDI's latency timer),
  // and a device that is a program on a busy machine pauses when it is not scheduled. So the
  // line is idle once nothing came for 16 character times, and never less than 50 ms.
  int IdleGapMs() const override { return idle_gap_ms_; }

  // The device path in use (or last tried), e.g. /dev/ttyUSB0.
  const std::string& Device() const override { return device_; }
  // "COM%d:%d,%c,%d,%d" of the last Open by number; for a path, the path in place of COMn.
  const std::string& SettingsText() const { return settings_text_; }
  // errno of the last failure (0 when none since Open).
  int LastError() const override { return last_error_; }
  // True once a read or write found the device gone (adapter pulled, peer closed).
  bool DeviceLost() const override { return device_lost_; }

 private:
  int OpenPath(const std::string& device, int baudRate, char parity, int dataBits, int stopBits);
  void NoteFailure(int err);
  // The gaps and the byte time of the line settings in force.
  void SetTiming(int baudRate, char parity, int dataBits, int stopBits);

#ifdef _WIN32
  void* handle_ = nullptr;  // the port's HANDLE
  void* event_ = nullptr;   // signalled when an overlapped operation of the port ends
#else
  int handle_ = -1;
#endif
  int is_open = 0;
  std::string device_;
  std::string settings_text_;
  int last_error_ = 0;
  bool device_lost_ = false;
  bool listen_only_ = false;
  int quiet_gap_ms_ = 5;
  int idle_gap_ms_ = 50;
  double byte_time_ms_ = 0;
};

}  // namespace vantrel
