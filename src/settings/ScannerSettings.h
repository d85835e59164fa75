// Every setting the user can change, and "settings.ini", the file that keeps them.
//
// The program has one instance, scannerSettings, built during static initialisation;
// every part reads and changes its fields directly. The file lives in the folder the
// program was started in (or, started from a desktop menu, in its XDG configuration folder:
// see diag/FileFolders.h) and holds one section, "Vantrel Modbus Scanner", with the keys
// in the order of the fields below (startup_path is never stored): the fifteen of the
// first release, then the keys added since (always_write_multiple onwards), which older
// files lack (each then keeps its default).
#pragma once

#include <string>
#include <vector>

#include "diag/FileFolders.h"

namespace vantrel {

class ScannerSettings {
 public:
  // Built-in defaults, with the folders that diag/FileFolders.h chooses now (the working
  // directory, unless started from a desktop menu); later changes of the working directory
  // do not move the files.
  ScannerSettings();
  // The same with a given start-up folder, which holds the log too.
  explicit ScannerSettings(std::string startupPath);
  // The same with settings.ini in folders.settings and the log in folders.logs.
  explicit ScannerSettings(const FileFolders& folders);

  // Reads the file. False when it cannot be read, has no section, or has a line that
  // starts with a non-printable character: then no field changes. Otherwise each key
  // present replaces its field and a missing key keeps it. There are no range checks,
  // except two, each with a debug-log line when it refuses: a negative poll_frequency is
  // taken as 0 (Once), and a parity that does not start with one of N O E M S (either
  // case) keeps the letter the field had.
  bool Load();
  // Rewrites the whole file from memory, replacing it atomically. False when it could
  // not be written; the old file then stays as it was.
  bool Save() const;

  // startup_path + "/settings.ini".
  std::string FilePath() const;

  std::string startup_path;  // the folder of settings.ini (and of the COMn entries)
  int check_for_updates = 1;  // a flag: 0 or 1
  int poll_frequency = 0;     // seconds between polls; 0 polls once; never negative after Load
  // ConnectionSettings: modbus_mode, com_port, buad_rate, data_bits, stop_bits, parity,
  // recv_time_out. RequestSettings: request_id, request_function_code, request_offset,
  // request_length, data_format.
  int recv_time_out = 10000;  // milliseconds
  int data_format = 0;        // carried through load and save only
  int modbus_mode = 1;        // 0 ASCII, 1 RTU, 2 TCP, 3 RTU over TCP
  int com_port = 3;           // 1 for COM1 ...
  int buad_rate = 9600;
  int data_bits = 8;
  int stop_bits = 1;         // 1 one, 2 two, 3 one and a half
  char parity = 'N';         // N O E M S, or their lower-case forms
  std::string logfile_path;  // default: log.txt in the logs folder
  int request_id = 11;
  int request_length = 20;
  int request_offset = 1;  // counted from 1
  int request_function_code = 1;
  // A flag: write with functions 15 and 16 even for one item, for devices that lack 05
  // and 06.
  int always_write_multiple = 0;
  // How 32- and 64-bit values lie over registers: a WordOrder's integer, 0 to 3 (0: the
  // first register is the low-order word).
  int word_order = 0;
  // A flag: the response table also shows uint64, int64 and float64 over four registers.
  int show_64bit = 0;
  // The poll period when it is not whole seconds (0.25 s, 2.5 s), else 0 and poll_frequency
  // holds it; poll_frequency then keeps the nearest whole seconds (at least 1) for readers
  // that know only that key. Stored as the whole period under "poll_period_ms". Set both
  // with SetPollPeriodMs.
  int poll_period_ms = 0;
  // A flag: a failed poll while polling at a frequency is logged and counted, without a box,
  // and polling goes on (0: it stops and explains, as a failure always did).
  int keep_polling_on_failure = 0;
  // A flag: the response table shows each item's address on the wire (0-based).
  int show_wire_address = 0;
  // The data log: on or off, its file (empty: none chosen yet), and whether each row also
  // holds the 32-bit values.
  int data_log = 0;
  std::string data_log_path;
  int data_log_32bit = 0;
  // The serial port as a device path typed in (/dev/ttyUSB0, /dev/serial/by-id/...); when
  // set, it is opened in place of port com_port.
  std::string device_path;
  // A flag: ask the serial driver for RS-485 mode (RTS raised while sending).
  int rs485 = 0;
  // The Modbus TCP device or gateway of the network modes (modbus_mode 2 and 3).
  std::string tcp_host;
  int tcp_port = 502;
  // After a broadcast (a write to slave id 0), which no device answers, how long the line
  // is left quiet before the next request, in milliseconds.
  int turnaround_ms = 100;
  // The workspace files opened or saved last, the newest first; kept as recent_workspace_1
  // to recent_workspace_4.
  std::vector<std::string> recent_workspaces;

  // The period between polls in milliseconds; 0 polls once.
  int PollPeriodMs() const;
  // Sets the period (0 or less: once), keeping poll_frequency in whole seconds.
  void SetPollPeriodMs(int ms);
};

// Whether settings.ini can keep the text as a value: no line break or other control
// character (Linux allows them in file names).
bool StorableInSettings(const std::string& text);

// The shortest poll period offered, in milliseconds.
inline constexpr int kMinPollPeriodMs = 100;
// The period that poll_frequency seconds and a finer period in milliseconds (0: none) stand
// for, capped at the largest int.
int PollPeriodMs(int pollFrequency, int pollPeriodMs);

// The program's settings.
extern ScannerSettings scannerSettings;

// The program's text with that id (1 is "Preferences"; an unknown id gives an empty
// text). Each call fills the next of ten rotating slots and returns a copy of it.
std::string LoadResourceText(int id);

}  // namespace vantrel
