// What the Connection, Request and Polling frequency pages of the settings sheet offer,
// and how they turn their controls into settings values, without a window.
#pragma once

#include <array>
#include <string>

#include "modbus/ModbusFrame.h"
#include "serial/PortMap.h"

namespace vantrel {

// --- edit checks ---------------------------------------------------------------------

inline constexpr char kPositiveIntegerMessage[] = "Please enter a positive integer.";
inline constexpr char kIntegerMessage[] = "Please enter an integer.";
inline constexpr char kPortMessage[] =
    "Please choose a port from the list, or type the path of a serial device (for example /dev/ttyUSB0).";
inline constexpr char kHostMessage[] = "Please enter the host name or IP address of the Modbus TCP device or gateway.";
// The request's fields as a frame can carry them (kMinSlaveId and kMaxSlaveId too); the
// length's top is the largest any read function allows.
inline constexpr int kMinOffset = kMinRequestOffset;
inline constexpr int kMaxOffset = kMaxRequestOffset;
inline constexpr int kMinLength = 1;
inline constexpr int kMaxLength = 2000;

// "Please enter an integer between %1 and %2." filled with low and high.
std::string IntegerRangeMessage(int low, int high);

// Each check returns an empty text and sets value when the edit's text is acceptable,
// else the message to show (value unchanged). Blanks around the number are allowed.
// A whole number of digits that fits the settings' int fields.
std::string CheckUnsignedEdit(const std::string& text, int& value);
// The slave id, offset and length: as above, then within their ranges (the message names it).
// Slave id 0, the broadcast address, is refused with why: no device answers a broadcast, so
// nothing polled there could be read.
std::string CheckSlaveIdEdit(const std::string& text, int& value);
std::string CheckOffsetEdit(const std::string& text, int& value);
std::string CheckLengthEdit(const std::string& text, int& value);
// The custom poll period, typed in seconds with up to three decimals ("5", "0.25"), set in
// milliseconds: 0 polls once, else at least kMinPollPeriodMs (0.1 s).
inline constexpr char kPollSecondsMessage[] =
    "Please enter a number of seconds: 0 polls once, and the shortest period is 0.1 (for example 0.25).";
std::string CheckPollEdit(const std::string& text, int& periodMs);

// --- Connection page ----------------------------------------------------------------

inline constexpr int kPortCount = 10;  // "COM1" .. "COM10"
// At the positions modbus_mode stores (ModbusMode's integers).
inline constexpr std::array<const char*, 4> kModeEntries = {"ASCII", "RTU", "TCP", "RTU over TCP"};
inline constexpr std::array<int, 13> kBaudRates = {110,   300,   1200,   2400,   4800,   9600,  19200,
                                                   38400, 57600, 115200, 230400, 460800, 921600};
inline constexpr std::array<const char*, 2> kDataBitsEntries = {"8", "7"};
inline constexpr std::array<const char*, 3> kStopBitsEntries = {"1", "1.5", "2"};
inline constexpr std::array<int, 3> kStopBitsCodes = {1, 3, 2};
inline constexpr std::array<const char*, 5> kParityEntries = {"None", "Odd", "Even", "Mark", "Space"};
inline constexpr std::array<char, 5> kParityLetters = {'N', 'O', 'E', 'M', 'S'};

struct ConnectionValues {
  int modbus_mode = 1;
  int com_port = 3;
  int buad_rate = 9600;
  int data_bits = 8;
  int stop_bits = 1;
  char parity = 'N';
  int recv_time_out = 10000;  // milliseconds
  bool operator==(const ConnectionValues&) const = default;
};

// The selected entry of each list; -1 selects nothing.
struct ConnectionSelection {
  int mode = -1;
  int port = -1;
  int baud = -1;
  int dataBits = -1;
  int stopBits = -1;
  int parity = -1;
};

// What the page selects for stored values: a mode or port outside its list selects
// nothing; a baud rate not offered selects "9600"; anything unknown for data bits, stop
// bits and parity selects the first entry.
ConnectionSelection SelectConnection(const ConnectionValues& values);
// The time-out edit's whole seconds, rounded down (a negative time-out shows 0).
int TimeoutSecondsFor(int recvTimeOutMs);
// The values behind the selections: nothing selected gives mode -1, port 0, 9600 baud,
// 8 data bits, 1 stop bit, parity 'N'. The time-out is seconds x 1000, held at the
// largest int rather than wrapped.
ConnectionValues ReadConnection(const ConnectionSelection& selection, int timeoutSeconds);

// The port as the editable port list gives it: "COMn" (n from 1 to kPortCount, either case,
// also as the start of a list entry's text "COM3 - /dev/ttyUSB0 ...") sets comPort and
// empties devicePath; a path that starts with '/' sets devicePath. Anything else is the
// message to show (nothing set).
std::string CheckPortText(const std::string& text, int& comPort, std::string& devicePath);
// The network modes' host: a name or an address, blanks around it dropped, none inside.
std::string CheckHostEdit(const std::string& text, std::string& host);
// The network modes' TCP port: 1 to 65535.
std::string CheckTcpPortEdit(const std::string& text, int& port);

// The port list's text for port n: "COMn", then the device it maps to and its description
// where one is present ("COM3 - /dev/ttyUSB0 (FT232R USB UART)"); an entry of the
// start-up folder is shown by its target ("COM3 - link to /dev/pts/4").
std::string PortEntryText(int portNumber, const PortEntry& entry, const std::string& folder);

// --- Request page -------------------------------------------------------------------

inline constexpr std::array<const char*, 4> kFunctionEntries = {
    "01 Read Coil status (0xxxx) ", "02 Read Input status (1xxxx) ",
    "03 Read Holding registers (4xxxx) ", "04 Read Input registers (3xxxx) "};

// The entry shown for a stored function code; -1 (nothing) outside 1 to 4.
int FunctionIndexFor(int functionCode);
// The function code of a selected entry; nothing selected gives 1.
int FunctionCodeFromIndex(int index);
// The request as it would go on the line in the mode (a ModbusMode's integer; one that names
// no mode speaks RTU): RTU and RTU over TCP the frame with its CRC, "%02X " per byte; ASCII
// the characters between ':' and CR LF, the hex pairs with the LRC; Modbus TCP the MBAP
// header, unit id and PDU, "%02X " per byte. Returns MB_REQUEST_OK, or the code of the
// request check that the main window makes (CheckRequestSettings) with preview empty: a
// request that would be refused has no frame to show.
int BuildRequestPreview(int modbusMode, int functionCode, int requestId, int requestOffset, int requestLength,
                        std::string& preview);

// --- Polling frequency page ---------------------------------------------------------

struct PollEntry {
  const char* text;
  int seconds;
};
inline constexpr std::array<PollEntry, 9> kPollEntries = {{{"Once only", 0},
                                                           {"1 second", 1},
                                                           {"5 second", 5},
                                                           {"10 seconds ", 10},
                                                           {"30 seconds", 30},
                                                           {"1 minutes", 60},
                                                           {"5 minutes", 300},
                                                           {"10 minutes", 600},
                                                           {"30 minutes", 1800}}};
inline constexpr char kCustomPollText[] = "Custom";
inline constexpr int kCustomPollEntry = 9;  // after the fixed entries

// The entry for a poll period in milliseconds: the fixed entry of that value, else "Custom".
int PollEntryFor(int pollPeriodMs);

struct PollReadBack {
  int poll_period_ms = 0;
  bool editEnabled = false;  // the seconds edit is for "Custom" only
};
// A fixed entry gives its own period; "Custom" or no selection keeps the edit's.
PollReadBack ReadPoll(int selectedEntry, int editPeriodMs);

// What the page offers for a failure while polling at a frequency, at the positions of
// keep_polling_on_failure.
inline constexpr std::array<const char*, 2> kFailureEntries = {"Stop and explain", "Keep polling and count it"};

}  // namespace vantrel
