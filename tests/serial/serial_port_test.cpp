#include "serial/SerialPort.h"

#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "serial/LineSettings.h"
#include "serial/PortMap.h"
#include "support/Pty.h"
#include "support/TempDir.h"

using namespace vantrel;
using vantrel::test::Pty;
using vantrel::test::TempDir;

namespace {

termios2 LineSettings(const Pty& pty) {
  termios2 t{};
  ioctl(pty.master(), TCGETS2, &t);
  return t;
}

void Feed(const Pty& pty, int count) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  ASSERT_EQ(write(pty.master(), bytes.data(), bytes.size()), count);
}

// Waits (bounded) until the port has count bytes queued.
void WaitQueued(SerialPort& port, int count) {
  for (int i = 0; i < 200; ++i) {
    if (port.WaitReadable(10) == 1) {
      // bytes come over in one piece from the master; a little more may still be on its way
      std::this_thread::sleep_for(std::chrono::milliseconds(count > 1000 ? 20 : 2));
      return;
    }
  }
}

}  // namespace

TEST(line_settings, framing_bits_for_every_parity_data_and_stop_setting) {
  struct Case {
    char parity;
    int dataBits;
    int stopBits;
    tcflag_t parityFlags;
    tcflag_t size;
    bool twoStops;
  };
  const Case cases[] = {
      {'N', 8, 1, 0, CS8, false},
      {'E', 8, 1, PARENB, CS8, false},
      {'O', 7, 2, PARENB | PARODD, CS7, true},
      {'M', 8, 1, PARENB | PARODD | CMSPAR, CS8, false},
      {'S', 7, 1, PARENB | CMSPAR, CS7, false},
      {'e', 8, 3, PARENB, CS8, true},  // one and a half is applied as two
  };
  for (const Case& c : cases) {
    termios2 t{};
    t.c_cflag = PARENB | PARODD | CMSPAR | CS5 | CSTOPB | CRTSCTS;  // leftovers to clear
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_oflag = OPOST;
    t.c_iflag = ICRNL | IXON;
    ASSERT_TRUE(ComputeLineSettings(t, 19200, c.parity, c.dataBits, c.stopBits)) << c.parity;
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.parityFlags) << c.parity;
    EXPECT_EQ(t.c_cflag & CSIZE, c.size) << c.parity;
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStops) << c.parity;
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_EQ((t.c_iflag & INPCK) != 0, c.parityFlags != 0) << "parity errors are checked";
    EXPECT_EQ(t.c_ospeed, 19200u);
  }
}

TEST(line_settings, refuses_values_out_of_range) {
  termios2 t{};
  EXPECT_FALSE(ComputeLineSettings(t, 9600, 'X', 8, 1));
  EXPECT_FALSE(ComputeLineSettings(t, 9600, 'N', 9, 1));
  EXPECT_FALSE(ComputeLineSettings(t, 9600, 'N', 4, 1));
  EXPECT_FALSE(ComputeLineSettings(t, 9600, 'N', 8, 0));
  EXPECT_FALSE(ComputeLineSettings(t, 9600, 'N', 8, 4));
  EXPECT_FALSE(ComputeLineSettings(t, 0, 'N', 8, 1));
}

TEST(serial_port, opens_raw_at_the_rate_asked) {
  Pty pty;
  SerialPort port;
  ASSERT_EQ(port.OpenDevice(pty.path(), 115200, 'O', 7, 2), 1);
  const termios2 t = LineSettings(pty);
  EXPECT_EQ(t.c_ospeed, 115200u);
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
}

TEST(serial_port, every_rate_of_the_connection_page_and_odd_ones) {
  Pty pty;
  for (int baud : {110, 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800,
                   921600, 14400, 250000}) {
    SerialPort port;
    ASSERT_EQ(port.OpenDevice(pty.path(), baud, 'N', 8, 1), 1) << baud;
    EXPECT_EQ(LineSettings(pty).c_ospeed, static_cast<speed_t>(baud));
  }
}

TEST(serial_port, refused_settings_fail_the_open_and_free_the_device) {
  Pty pty;
  SerialPort port;
  EXPECT_EQ(port.OpenDevice(pty.path(), 9600, 'X', 8, 1), 0);
  EXPECT_EQ(port.LastError(), EINVAL);
  EXPECT_EQ(port.IsOpen(), 0);
  // and the device is free again afterwards
  EXPECT_EQ(port.OpenDevice(pty.path(), 9600, 'N', 8, 1), 1);
}

TEST(serial_port, open_on_an_open_port_keeps_it_and_its_settings) {
  Pty pty;
  SerialPort port;
  ASSERT_EQ(port.OpenDevice(pty.path(), 9600, 'N', 8, 1), 1);
  EXPECT_EQ(port.OpenDevice(pty.path(), 19200, 'E', 7, 2), 1);
  EXPECT_EQ(LineSettings(pty).c_ospeed, 9600u);
  EXPECT_EQ(port.Close(), 1);
  EXPECT_EQ(port.Close(), 1);
  EXPECT_EQ(port.IsOpen(), 0);
}

TEST(serial_port, missing_device_and_missing_port_number) {
  TempDir dir;
  SerialPort port;
  EXPECT_EQ(port.OpenDevice(dir / "nothing", 9600, 'N', 8, 1), 0);
  EXPECT_EQ(port.LastError(), ENOENT);
  EXPECT_EQ(port.IsOpen(), 0);
  EXPECT_EQ(port.Close(), 1);
  SetPortFolder(dir.path());
  EXPECT_EQ(port.Open(99, 9600, 'N', 8, 1), 0);
  EXPECT_EQ(port.SettingsText(), "COM99:9600,N,8,1");
}

TEST(serial_port, a_device_in_use_is_refused_even_for_root) {
  Pty pty;
  SerialPort first, second;
  ASSERT_EQ(first.OpenDevice(pty.path(), 9600, 'N', 8, 1), 1);
  EXPECT_EQ(second.OpenDevice(pty.path(), 9600, 'N', 8, 1), 0);
  EXPECT_EQ(second.LastError(), EBUSY);
  first.Close();
  EXPECT_EQ(second.OpenDevice(pty.path(), 9600, 'N', 8, 1), 1);
}

TEST(serial_port, reads_only_what_is_queued) {
  Pty pty;
  SerialPort port;
  ASSERT_EQ(port.OpenDevice(pty.path(), 115200, 'N', 8, 1), 1);
  std::uint8_t buf[1024];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.Read(buf, 1024), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "no wait for bytes";

  Feed(pty, 300);
  WaitQueued(port, 300);
  EXPECT_EQ(port.Read(buf, 1024), 300);
  EXPECT_EQ(buf[299], static_cast<std::uint8_t>(299));

  Feed(pty, 2000);
  WaitQueued(port, 2000);
  EXPECT_EQ(port.Read(buf, 1024), 1024);
  int rest = 0;
  for (int i = 0; i < 50 && rest < 976; ++i) {
    rest += port.Read(buf, 1024);
    if (rest < 976) port.WaitReadable(20);
  }
  EXPECT_EQ(rest, 976);
}

// The idle gap is what the host must see to take the line for idle: 16 characters, a
// receive FIFO's worth, and at least 50 ms, for bursts of a USB adapter's timing.
TEST(serial_port, quiet_gap_is_three_and_a_half_characters) {
  Pty pty;
  struct Case {
    int baud;
    char parity;
    int stopBits;
    int ms;
    int idleMs;
  };
  // 9600 8N1: 10 bits, 3.65 ms; 1200 8E2: 12 bits, 35 ms, 160 ms idle; fast lines: the 2 ms floor.
  for (const Case c : {Case{9600, 'N', 1, 4, 50}, Case{1200, 'E', 2, 35, 160}, Case{115200, 'N', 1, 2, 50}}) {
    SerialPort port;
    ASSERT_EQ(port.OpenDevice(pty.path(), c.baud, c.parity, 8, c.stopBits), 1);
    EXPECT_EQ(port.QuietGapMs(), c.ms) << c.baud;
    EXPECT_EQ(port.IdleGapMs(), c.idleMs) << c.baud;
  }
}

TEST(serial_port, write_reaches_the_line) {
  Pty pty;
  SerialPort port;
  const std::uint8_t frame[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
  EXPECT_EQ(port.Write(frame, 8), 0) << "closed port";
  ASSERT_EQ(port.OpenDevice(pty.path(), 9600, 'N', 8, 1), 1);
  EXPECT_EQ(port.Write(frame, 0), 0);
  EXPECT_EQ(port.Write(frame, 8), 8);
  std::uint8_t got[16];
  ASSERT_EQ(read(pty.master(), got, sizeof got), 8);
  EXPECT_EQ(got[7], 0xCD);
}

TEST(serial_port, a_vanished_device_fails_quietly_and_quickly) {
  Pty pty;
  SerialPort port;
  ASSERT_EQ(port.OpenDevice(pty.path(), 9600, 'N', 8, 1), 1);
  pty.CloseMaster();  // the far end goes away, as when an adapter is pulled
  const auto start = std::chrono::steady_clock::now();
  std::uint8_t buf[64] = {};
  EXPECT_EQ(port.Read(buf, 64), 0);
  EXPECT_TRUE(port.DeviceLost()) << "a read with nothing queued notices it";
  EXPECT_EQ(port.Write(buf, 8), 8);  // a failed byte is not reported by Write
  EXPECT_EQ(port.WaitReadable(5000), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(port.DeviceLost());
  EXPECT_EQ(port.IsOpen(), 1);
  EXPECT_EQ(port.Close(), 1);
}

// RS-485 mode is the driver's: a pseudo-terminal has none, and says so.
TEST(serial_port, rs485_mode_on_a_driver_without_it_fails_with_its_cause) {
  Pty pty;
  SerialPort port;
  EXPECT_EQ(port.SetRs485(true), 0) << "closed port";
  ASSERT_EQ(port.OpenDevice(pty.path(), 9600, 'N', 8, 1), 1);
  EXPECT_EQ(port.SetRs485(true), 0) << "never a silent success";
  EXPECT_EQ(port.LastError(), ENOTTY);
  // the port is as usable as before
  const std::uint8_t frame[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
  EXPECT_EQ(port.Write(frame, 8), 8);
  std::uint8_t got[16];
  EXPECT_EQ(read(pty.master(), got, sizeof got), 8);
  EXPECT_FALSE(port.DeviceLost());
}
