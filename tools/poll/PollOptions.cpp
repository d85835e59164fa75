#include "PollOptions.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "PduOptions.h"
#include "session/PollTexts.h"
#include "session/MapReads.h"
#include "session/RegisterMap.h"
#include "modbus/ModbusFrame.h"
#include "net/TcpConnection.h"
#include "settings/ScannerSettings.h"

namespace vantrel::poll {

const char kPollUsage[] =
    "Usage: vantrel-poll [options] DEVICE [VALUE...]\n"
    "   or: vantrel-poll [options] [DEVICE]\n"
    "   or: vantrel-poll -m tcp|rtutcp [options] HOST[:PORT] [VALUE...]\n"
    "   or: vantrel-poll --map FILE [--item NAME]... [--write NAME=VALUE]... [options] [DEVICE]\n"
    "   or: vantrel-poll --workspace FILE [--poll NAME]... [options] [DEVICE]\n"
    "   or: vantrel-poll --raw HEX | --diag SUB[:DATA] | --report-id | ... [options] DEVICE\n"
    "   or: vantrel-poll --monitor [-m rtu|ascii] [-b -d -s -P] [--count N] [--duration SECONDS]\n"
    "                    [--csv|--json] [--pcap FILE] DEVICE\n"
    "\n"
    "Reads one Modbus slave (functions 01 to 04), on a serial line or over TCP, and prints\n"
    "every value in the formats of the Vantrel Modbus Scanner's response table; with values\n"
    "after the device, writes them instead, to consecutive coils or holding registers from\n"
    "the start reference. --raw and the options below it send a request of any function\n"
    "and print its reply decoded.\n"
    "\n"
    "DEVICE is a path (/dev/ttyUSB0, ./COM3) or COMn, which names the device that the\n"
    "entry COMn in the current folder points to, or else the n-th serial port present\n"
    "(USB adapters first), as the desktop program does. Default: COM3. For -m tcp and\n"
    "rtutcp it is the host, a name or an address, and its TCP port if not 502 (or -p):\n"
    "192.168.1.20, plc-7:1502, [fe80::7]:502.\n"
    "\n"
    "The connection and the request come from \"settings.ini\" in the current folder, so\n"
    "that with no options it polls exactly what the desktop program started there is set\n"
    "to; options override single values. Started in the home folder without a settings.ini\n"
    "there, it reads the one the desktop program keeps when started from the desktop menu,\n"
    "in $XDG_CONFIG_HOME/vantrel-modbus-scanner/ (~/.config/vantrel-modbus-scanner/; on\n"
    "Windows %APPDATA%\\Vantrel Modbus Scanner\\), and COMn is the entry there. Without the\n"
    "file, the desktop program's defaults apply, the ones shown below.\n"
    "\n"
    "Options:\n"
    "  -m MODE       rtu (the default); ascii, the ':' frames with an LRC on the serial\n"
    "                line (often with -d 7 -P even); tcp, Modbus TCP; rtutcp, RTU frames\n"
    "                over TCP, as serial-to-Ethernet gateways pass them on\n"
    "  -p PORT       TCP port for tcp and rtutcp (default 502)\n"
    "  -a ID         slave id, 1 to 255 (default 11); 0 broadcasts a write (values after\n"
    "                the device, --mask-write, or --raw of 05, 06, 15, 16, 21 or 22) to every\n"
    "                device: no reply is awaited, and none confirms it. A read to 0 is\n"
    "                refused (status 3): no device answers a broadcast\n"
    "  -r REF        start reference, counted from 1 (default 1)\n"
    "  -c COUNT      number of coils, inputs or registers to read (default 20); when\n"
    "                writing, the values give the count\n"
    "  -t TYPE       0 coils, 1 discrete inputs, 3 input registers, 4 holding registers\n"
    "                (default 0); a register type may name the format of the values to\n"
    "                write: 4:hex (0x optional), 4:int16, 4:int (signed 32-bit), 4:uint\n"
    "                (unsigned 32-bit), 4:float (float32). A 32-bit value takes two\n"
    "                registers in the word order (see -B). Reads print every format\n"
    "                whatever the type names\n"
    "  -b BAUD       baud rate (default 9600)\n"
    "  -d 7|8        data bits (default 8)\n"
    "  -s 1|2        stop bits (default 1)\n"
    "  -P PARITY     none, even, odd, mark or space (default none)\n"
    "      --rs485   ask the serial driver for RS-485 mode, RTS raised while sending (for\n"
    "                adapters that switch the line's direction by RTS)\n"
    "  -o SECONDS    reply time-out, fractions allowed (default 10); also the longest wait\n"
    "                for a TCP connection\n"
    "  -l MS         poll every MS milliseconds until a failure or Ctrl+C (reads only;\n"
    "                for --workspace, see there)\n"
    "  -1            poll once (the default)\n"
    "  -B            high word first: --word-order high-first, as mbpoll's -B\n"
    "      --word-order ORDER\n"
    "                how a 32-bit value lies over its two registers (and a 64-bit one over\n"
    "                four), for the table and for writes: low-first (the first register\n"
    "                is the low-order word), high-first (the first register is the\n"
    "                high-order word), low-first-swapped or high-first-swapped (the same\n"
    "                with the two bytes of each register swapped). Default: word_order in\n"
    "                settings.ini, else low-first. The 32- and 64-bit captions name any\n"
    "                order but low-first: \"uint32 (high word first)\"\n"
    "      --64bit   also print uint64, int64 and float64 over each four registers, on\n"
    "                the fourth (default: show_64bit in settings.ini, else off)\n"
    "      --multiple\n"
    "                write with function 15 or 16 even for one item (else 05 or 06)\n"
    "      --csv     print comma-separated values instead of an aligned table; with -l,\n"
    "                a header line, then one line per poll: the local time to the\n"
    "                millisecond (2026-12-08T14:03:07.250), each value (0 or 1, or the\n"
    "                register as uint16), and for registers the uint32, int32 and float32\n"
    "                of each pair, as the desktop program's data log writes them\n"
    "      --json    print one JSON object per poll, each on a line of its own, for jq:\n"
    "                \"time\" (local, ISO 8601 to the millisecond with the UTC offset),\n"
    "                \"request\" (mode, connection, slave_id, function, offset, count and\n"
    "                word_order) and \"values\", an object per item with its offset,\n"
    "                address, address6, value and the table's other cells (hex, uint16,\n"
    "                int16, uint32, int32, float32, ...), numbers as JSON numbers; for a\n"
    "                failure \"error\" instead, with the exit status and the text\n"
    "      --cells   print the window's exact cells: the table and CSV with its Write\n"
    "                column (a button in the window), which they otherwise leave out\n"
    "  -h, --help    show this text\n"
    "  -V, --version\n"
    "                show the version\n"
    "\n"
    "Workspace files (a line's connection and several poll definitions; the README has\n"
    "the format, and the desktop program opens and saves them):\n"
    "      --workspace FILE\n"
    "                poll every enabled definition of FILE on its connection, which the\n"
    "                line options and DEVICE override: each once, in the file's order;\n"
    "                with -l MS each at its own period (MS for one whose period is 0)\n"
    "                until Ctrl+C or a failure of a definition whose on_failure is\n"
    "                \"stop\". A failure of one whose on_failure is \"keep\" is told and\n"
    "                the polls go on; once, the run then ends with its status. Each\n"
    "                output names the definition: a line \"== NAME\" over its table, a\n"
    "                first CSV column \"poll\", a \"poll\" member in each JSON object. A\n"
    "                definition without a name is called by its place: \"Poll 2\"\n"
    "      --poll NAME\n"
    "                with --workspace, poll only the definitions of that name, enabled\n"
    "                or not; give it again for more\n"
    "      --save-workspace FILE\n"
    "                write the connection and the request that the options and\n"
    "                settings.ini describe to FILE, as a workspace of one definition\n"
    "                (its period -l's, else 0), and poll nothing\n"
    "\n"
    "Register maps (a CSV file of named items; the README has the columns):\n"
    "      --map FILE\n"
    "                read the items of the map FILE from slave -a, each table's items in\n"
    "                as few requests as fit (no -t, -r or -c: the map gives them), and\n"
    "                print a row per item: name, address, value in its unit, unit, raw\n"
    "                registers. --csv with -l prints the time and each item's value under\n"
    "                \"NAME [UNIT]\"; --json a \"values\" object by item name, each with\n"
    "                \"value\" (a number, a string for string items, null when not read),\n"
    "                \"unit\" and \"raw\". -B and --word-order give the word order of\n"
    "                items that have none of their own\n"
    "      --item NAME\n"
    "                with --map, read only the items of that name; give it again for more\n"
    "      --gap N   with --map, read across at most N registers (or bits) that no item\n"
    "                needs to merge two requests into one (default 8; 0 merges only\n"
    "                neighbours)\n"
    "      --write NAME=VALUE\n"
    "                with --map, write VALUE in the item's unit to the item NAME instead\n"
    "                of reading (give it again for more): 05 for a coil, 06 for one\n"
    "                register, 16 for more; a bit of a register reads the register first.\n"
    "                Read-only items and values the item cannot hold are refused with\n"
    "                status 2 before anything is sent\n"
    "\n"
    "Requests of any function (one of these at a time, sent once to slave -a; the output is\n"
    "the reply PDU in hex on the first line, then its fields one a line, \"Name: value\", then\n"
    "\"Response time: 12.5 ms\"; --json an object with \"request\", \"reply\", \"fields\" and\n"
    "\"response_ms\". An exception reply is shown too, and ends with status 8):\n"
    "      --raw HEX\n"
    "                send the PDU HEX, function code first, in hex pairs, blanks allowed:\n"
    "                --raw \"08 00 00 A5 37\" or --raw 080000A537. A function the program\n"
    "                does not know goes too, its reply taken once the line falls quiet\n"
    "                (or by its length over Modbus TCP); a PDU that does not fit its\n"
    "                function is refused with status 3, nothing sent\n"
    "      --diag SUB[:DATA]\n"
    "                08 Diagnostics, sub-function SUB in decimal with DATA in hex words\n"
    "                (default 0000): --diag 0:A537 echoes A537, --diag 11 reads the bus\n"
    "                message count, --diag 10 clears the counters, --diag 1:FF00 restarts\n"
    "                communications and clears the event log\n"
    "      --report-id\n"
    "                17 Report Server ID: server id, run indicator and the device's data\n"
    "      --mask-write REF:AND:OR\n"
    "                22 Mask Write Register: holding register REF (counted from 1) becomes\n"
    "                (its value AND the AND mask) OR (the OR mask AND NOT the AND mask);\n"
    "                masks decimal, or hex after 0x: --mask-write 5:0xFFF0:0x0003\n"
    "      --read-write\n"
    "                23 Read/Write Multiple Registers: writes the values after the device\n"
    "                (in the -t 4:FORMAT) from --write-ref, then reads -c holding registers\n"
    "                from -r; the device writes first\n"
    "      --write-ref REF\n"
    "                with --read-write, the first register written, counted from 1\n"
    "                (default: -r)\n"
    "      --fifo REF\n"
    "                24 Read FIFO Queue: the FIFO whose count is in holding register REF\n"
    "                (counted from 1), the values after it\n"
    "      --file-read FILE:RECORD:LENGTH\n"
    "                20 Read File Record: LENGTH registers from record RECORD (0 to 9999)\n"
    "                of file FILE (1 to 65535), reference type 6\n"
    "      --exception-status\n"
    "                07 Read Exception Status: the device's eight status bits\n"
    "      --event-counter\n"
    "                11 Get Comm Event Counter: status and event count\n"
    "      --event-log\n"
    "                12 Get Comm Event Log: status, event and message counts, the events\n"
    "      --turnaround MS\n"
    "                after a broadcast, the line is left quiet for MS milliseconds before\n"
    "                the next request, for the devices to carry it out (default 100)\n"
    "\n"
    "Finding devices:\n"
    "      --scan [FIRST-LAST]\n"
    "                send the read (-t, -r, -c; default 03, offset 1, 1 register) to every\n"
    "                slave id from FIRST to LAST (default 1-247) and print one line for each\n"
    "                that answers: with its value, or its exception (a device is there),\n"
    "                or a reply that fails its CRC or LRC or makes no frame (something is\n"
    "                there, probably at other line settings), then its device\n"
    "                identification. -o is the time-out per id (default 0.1); --csv prints\n"
    "                id,settings,found,what,identification lines for machines\n"
    "      --sweep   with --scan on a serial line: the whole id range at each combination\n"
    "                of the line settings below, slowest first\n"
    "      --bauds LIST\n"
    "                the sweep's baud rates, separated by commas (default: the eight\n"
    "                from 1200 to 115200)\n"
    "      --parities LETTERS\n"
    "                the sweep's parities among N, E and O (default NEO)\n"
    "      --stop-bits LIST\n"
    "                the sweep's stop bits (default 1,2)\n"
    "      --no-identify\n"
    "                do not ask the devices found for their identification\n"
    "      --id-info\n"
    "                print the device identification of slave -a (function 43/14): the\n"
    "                basic objects (vendor name, product code, revision) and the regular\n"
    "                ones the device offers\n"
    "\n"
    "Bus monitor (listens only: never sends, never raises RTS):\n"
    "      --monitor\n"
    "                print every frame that goes over the serial line DEVICE between a\n"
    "                master and its slaves, at the line settings -b -d -s -P and mode -m\n"
    "                rtu or ascii, until Ctrl+C: time in ms since the start, gap since the\n"
    "                previous frame, request, reply, exception or noise, slave id,\n"
    "                function, what it reads or writes (references counted from 1, and\n"
    "                the 0-based wire address), the values, a reply's turnaround, the\n"
    "                bytes. At the end, the figures per slave id: requests, replies,\n"
    "                exceptions, CRC errors, unanswered requests, min/avg/max turnaround.\n"
    "                --csv prints a header and a CSV line per frame, --json a JSON object\n"
    "                per frame (time, kind, slave_id, function, hex, turnaround_ms, ...).\n"
    "                -a, -t, -r, -c, -l, -o, --rs485, values, --map, --workspace and\n"
    "                --scan do not go with it\n"
    "      --count N\n"
    "                with --monitor, stop after N frames (noise counts as one)\n"
    "      --duration SECONDS\n"
    "                with --monitor, stop after SECONDS (fractions allowed)\n"
    "      --reply-window MS\n"
    "                with --monitor, how long a reply may take to start after its\n"
    "                request; later, the request counts as unanswered (default 1000)\n"
    "      --pcap FILE\n"
    "                with --monitor, also write the frames to FILE for Wireshark or\n"
    "                tshark, each as a Modbus/TCP packet (port 502 for requests)\n"
    "\n"
    "Writing: coils take 1 or 0 (on or off), holding registers a value in the -t format\n"
    "(see the examples below). Discrete inputs and input registers are read-only. A write\n"
    "is made once, and prints what was written.\n"
    "\n"
    "Exit status:\n"
    "  A failure prints the explanation that the desktop program shows on standard error,\n"
    "  and ends with its own status:\n"
    "   0  values read or written, a normal reply, or a broadcast sent\n"
    "   2  bad command line\n"
    "   3  request refused\n"
    "   4  cannot open the port, or connect to the host\n"
    "   5  cannot send\n"
    "   6  time-out\n"
    "   7  invalid CRC or LRC in the reply\n"
    "   8  Modbus exception reply\n"
    "   9  unsupported or invalid function code in the reply\n"
    "  10  unknown reply, or one whose fields do not answer the request (a byte count,\n"
    "      sub-function or echo other than the request's)\n"
    "  11  reply shorter than the request needs\n"
    "  12  the device went away, or closed the connection\n"
    "  13  the write was not confirmed: the device answered with another address or\n"
    "      quantity\n"
    "  14  a Modbus TCP header with a length that no frame can have (the connection is\n"
    "      closed)\n"
    "  15  a scan in which no device answered\n"
    "  16  a device identification reply that cannot be read (--id-info)\n"
    "  17  a workspace file that cannot be read, is refused or names nothing to poll,\n"
    "      or that --save-workspace cannot write\n"
    "\n"
    "Examples:\n"
    "  vantrel-poll -t 4 -r 10 COM3 1234        holding register 10 (40010) = 1234\n"
    "  vantrel-poll -t 0 -r 1 COM3 1 0 1        coils 1 to 3\n"
    "  vantrel-poll -t 4:int16 COM3 -5 -300     a negative value after the device is a value\n"
    "  vantrel-poll -t 4:int16 COM3 -- -1       but -1 is \"poll once\" unless after --\n"
    "  vantrel-poll --map meter.csv -a 1 COM3   the items of meter.csv, by name\n"
    "  vantrel-poll --map meter.csv -a 1 --write \"Alarm temperature=47.5\" COM3\n"
    "                                           one item, in its unit\n"
    "  vantrel-poll --diag 11 COM3              the bus message count of slave 11\n"
    "  vantrel-poll --raw \"08 00 00 A5 37\" COM3 any request PDU, and its reply decoded\n"
    "  vantrel-poll -a 0 -t 4 -r 10 COM3 5      holding register 10 of every device = 5\n"
    "  vantrel-poll --scan 1-30 -o 0.05 COM3    which of slave ids 1 to 30 answer\n"
    "  vantrel-poll --scan --sweep --bauds 9600,19200 /dev/ttyUSB0\n"
    "                                           and at which speed, parity and stop bits\n"
    "  vantrel-poll --monitor -b 19200 -P even --pcap bus.pcap /dev/ttyUSB0\n"
    "                                           watch a line, and keep it for Wireshark\n";

namespace {

bool ToLong(const std::string& text, long low, long high, long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtol(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0' && out >= low && out <= high;
}

}  // namespace

void ApplySettings(const ScannerSettings& settings, PollConfig& config) {
  ModeFromInt(settings.modbus_mode, config.mode);
  config.host = settings.tcp_host;
  config.tcpPort = settings.tcp_port;
  config.comPort = settings.com_port;
  config.device = settings.device_path;
  config.rs485 = settings.rs485 != 0;
  config.baudRate = settings.buad_rate;
  config.parity = settings.parity;
  config.dataBits = settings.data_bits;
  config.stopBits = settings.stop_bits;
  config.timeoutMs = settings.recv_time_out;
  config.slaveId = settings.request_id;
  config.function = settings.request_function_code;
  // Offset 0, as older versions stored it, reads from address 0 as offset 1 does.
  config.offset = settings.request_offset == 0 ? 1 : settings.request_offset;
  config.length = settings.request_length;
  WordOrderFromInt(settings.word_order, config.wordOrder);
  config.show64 = settings.show_64bit != 0;
}

namespace {

bool ParseWordOrder(const std::string& value, PollConfig& config, std::string& error) {
  if (WordOrderFromOptionName(value, config.wordOrder)) return true;
  error = "--word-order: low-first, high-first, low-first-swapped or high-first-swapped";
  return false;
}

// The formats a register type may name after a colon, as mbpoll names them and as the
// response table's columns do.
struct TypeFormat {
  const char* suffix;
  WriteFormat format;
};
constexpr TypeFormat kRegisterFormats[] = {
    {"", WriteFormat::Uint16},      {"uint16", WriteFormat::Uint16}, {"hex", WriteFormat::Hex},
    {"int16", WriteFormat::Int16},  {"int", WriteFormat::Int32},     {"int32", WriteFormat::Int32},
    {"uint", WriteFormat::Uint32},  {"uint32", WriteFormat::Uint32}, {"float", WriteFormat::Float32},
    {"float32", WriteFormat::Float32}};

// "-5", "-0.5", "-.5": a value, not an option (the parser takes a bare -1 as "once" first).
bool IsNegativeNumber(const std::string& arg) {
  if (arg.size() < 2 || arg[0] != '-') return false;
  const std::size_t digit = arg[1] == '.' ? 2 : 1;
  return digit < arg.size() && std::isdigit(static_cast<unsigned char>(arg[digit]));
}

bool ParseType(const std::string& value, PollConfig& config, std::string& error) {
  const std::size_t colon = value.find(':');
  const std::string type = value.substr(0, colon);
  const std::string suffix = colon == std::string::npos ? "" : value.substr(colon + 1);
  static const struct { const char* type; int function; } types[] = {{"0", 1}, {"1", 2}, {"3", 4}, {"4", 3}};
  int function = 0;
  for (const auto& t : types) {
    if (type == t.type) function = t.function;
  }
  if (function == 0) {
    error = "-t: type 0, 1, 3 or 4";
    return false;
  }
  if (function <= 2) {
    if (colon != std::string::npos) {
      error = "-t " + type + " takes no format: coils and discrete inputs are 0 or 1";
      return false;
    }
    config.function = function;
    return true;
  }
  for (const auto& f : kRegisterFormats) {
    if (suffix == f.suffix && (colon == std::string::npos) == (*f.suffix == '\0')) {
      config.function = function;
      config.format = f.format;
      return true;
    }
  }
  error = "-t " + value + ": the register formats are " + type + ":hex, " + type + ":int16, " + type + ":int, " +
          type + ":uint and " + type + ":float";
  return false;
}

// Turns the value texts into what they write; the checks that need every option given.
bool PrepareWrite(bool lengthGiven, PollConfig& config, std::string& error) {
  if (config.function == 2 || config.function == 4) {
    error = ReadOnlyText(config.function);
    return false;
  }
  if (config.periodMs > 0) {
    error = "-l polls again and again, but values are written once: leave out -l to write";
    return false;
  }
  const bool coils = config.function == 1;
  if (coils) config.format = WriteFormat::Coil;
  config.words.clear();
  std::vector<std::uint16_t> words;
  for (const std::string& text : config.values) {
    if (!ParseWriteValue(text, config.format, words, error, config.wordOrder)) return false;
    config.words.insert(config.words.end(), words.begin(), words.end());
  }
  const int items = static_cast<int>(config.words.size());
  if (lengthGiven && config.length != items) {
    const std::size_t n = config.values.size();
    error = "-c " + std::to_string(config.length) + " does not match the " + std::to_string(n) +
            (n == 1 ? " value" : " values") + " to write, which set " + std::to_string(items) +
            (coils ? " coil" : " register") + (items == 1 ? "" : "s") + ": leave out -c when writing";
    return false;
  }
  config.length = items;
  return true;
}

// "--name VALUE" or "--name=VALUE" at args[i], i then at the value: 1 taken, 0 another
// argument, -1 the value is missing (error says so).
int LongValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name, std::string& value,
              std::string& error) {
  const std::string& arg = args[i];
  if (arg.rfind(name + "=", 0) == 0) {
    value = arg.substr(name.size() + 1);
    return 1;
  }
  if (arg != name) return 0;
  if (i + 1 >= args.size()) {
    error = "option " + name + " needs a value";
    return -1;
  }
  value = args[++i];
  return 1;
}

// Why the workspace options cannot go with the others given; "" when they can.
std::string WorkspaceClash(const PollConfig& config, const std::string& requestOption) {
  if (!config.workspace.empty()) {
    if (!config.saveWorkspace.empty()) return "--save-workspace saves the request of the command line, not a --workspace";
    if (!requestOption.empty()) {
      return "--workspace polls the requests of its definitions, each shown as it says: leave out " + requestOption;
    }
  }
  const char* option = config.workspace.empty() ? "--save-workspace" : "--workspace";
  if (config.IsWrite()) return std::string(option) + " is for reads: give no values after the device";
  if (config.scan || config.idInfo) {
    return std::string(option) + " is for reads: " + (config.scan ? "--scan" : "--id-info") + " goes without it";
  }
  return "";
}

// Loads --map, keeps the items --item names, and checks --write's names and values, so that
// a value the map refuses is told before anything is sent. A bit item is checked against a
// register of zeros: its own bit is all that a value can get wrong.
bool PrepareMap(const std::vector<std::string>& itemNames, PollConfig& config, std::string& error) {
  std::string why;
  if (!LoadMap(config.mapPath, config.map, why)) {
    error = "--map: " + why;
    return false;
  }
  auto known = [&](const std::string& option, const std::string& name) {
    if (config.map.Find(name) != nullptr) return true;
    error = option + " " + name + ": " + config.mapPath + " has no item of that name";
    return false;
  };
  for (const std::string& name : itemNames) {
    if (!known("--item", name)) return false;
  }
  for (const auto& w : config.mapWrites) {
    if (!known("--write", w.item)) return false;
    std::vector<std::uint16_t> raw;
    if (!EncodeItem(*config.map.Find(w.item), w.value, config.wordOrder, raw, why)) {
      error = "--write: " + why;
      return false;
    }
  }
  if (!itemNames.empty()) {
    RegisterMap picked;
    for (const MapItem& item : config.map.items) {
      if (std::find(itemNames.begin(), itemNames.end(), item.name) != itemNames.end()) picked.items.push_back(item);
    }
    config.map = std::move(picked);
  }
  config.byMap = true;
  return true;
}

// Why --map cannot go with the other options given; "" when it can.
std::string MapClash(const PollConfig& config, const std::string& requestOption) {
  if (!config.workspace.empty()) return "--map reads slave -a by a map file; --workspace definitions have maps of their own";
  if (!requestOption.empty()) return "--map gives the tables, offsets and counts of its items: leave out " + requestOption;
  if (config.IsWrite()) return "--map writes items by name: --write NAME=VALUE, not values after the device";
  if (config.scan || config.idInfo) return std::string("--map is for reads and writes: ") + (config.scan ? "--scan" : "--id-info") + " goes without it";
  if (config.IsMapWrite() && !config.saveWorkspace.empty()) return "--save-workspace saves a read: leave out --write";
  if (config.IsMapWrite() && config.periodMs > 0) return "-l polls again and again, but values are written once: leave out -l to write";
  if (config.IsMapWrite() && config.json) return "--json is for reads: a write prints what it wrote, and its exit status tells the outcome";
  return "";
}

// Why --monitor cannot go with the other options given; "" when it can. It listens to a
// serial line, so anything that asks, writes or names a request is refused.
std::string MonitorClash(const PollConfig& config, const std::string& pollOption, bool rs485Given) {
  const std::string listens = "--monitor only listens to the line: ";
  if (IsNetworkMode(config.mode)) return "--monitor listens to a serial line: -m rtu or ascii";
  if (!pollOption.empty()) return listens + "leave out " + pollOption;
  if (rs485Given) return listens + "--rs485 would drive RTS";
  if (config.IsWrite() || config.IsMapWrite()) return listens + "it writes nothing (no values after the device)";
  if (!config.mapPath.empty()) return listens + "leave out --map";
  if (!config.workspace.empty() || !config.saveWorkspace.empty()) return listens + "leave out --workspace and --save-workspace";
  if (config.scan || config.idInfo) return listens + (config.scan ? "leave out --scan" : "leave out --id-info");
  if (config.cells) return "--cells is the response table's; --monitor prints frames (--csv or --json for other forms)";
  if (config.IsPdu()) return listens + "leave out " + config.pdu.option;
  return "";
}

}  // namespace

std::string OptionValue(const std::vector<std::string>& args, const std::string& name) {
  std::string value, error;
  for (std::size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
    if (LongValue(args, i, name, value, error) > 0) return value;
  }
  return "";
}

LineConnection ConnectionOf(const PollConfig& c) {
  LineConnection line;
  line.mode = c.mode;
  line.device = c.device.empty() ? "COM" + std::to_string(c.comPort) : c.device;
  line.baud = c.baudRate;
  line.dataBits = c.dataBits;
  line.parity = c.parity;
  line.stopBits = c.stopBits;
  line.rs485 = c.rs485;
  line.host = c.host;
  line.port = c.tcpPort;
  line.timeoutMs = c.timeoutMs;
  line.turnaroundMs = c.turnaroundMs;
  return line;
}

void ApplyConnection(const LineConnection& line, PollConfig& c) {
  c.mode = line.mode;
  if (const int port = ComPortNumber(line.device); port > 0) {
    c.comPort = port;
    c.device.clear();
  } else {
    c.device = line.device;
  }
  c.baudRate = line.baud;
  c.dataBits = line.dataBits;
  c.parity = line.parity;
  c.stopBits = line.stopBits;
  c.rs485 = line.rs485;
  c.host = line.host;
  c.tcpPort = line.port;
  c.timeoutMs = line.timeoutMs;
  c.turnaroundMs = line.turnaroundMs;
}

PollDefinition DefinitionOf(const PollConfig& c) {
  PollDefinition d;
  d.slaveId = c.slaveId;
  d.function = c.function;
  d.offset = c.offset;
  d.length = c.length;
  d.periodMs = c.periodMs;
  d.view.wordOrder = c.wordOrder;
  d.view.show64 = c.show64;
  d.view.wireAddress = c.wireAddress;
  d.map = c.map;
  d.byMap = c.byMap;
  d.mergeGap = c.mergeGap;
  return d;
}

void ApplyDefinition(const PollDefinition& d, PollConfig& c) {
  c.slaveId = d.slaveId;
  c.function = d.function;
  c.offset = d.offset;
  c.length = d.length;
  c.wordOrder = d.view.wordOrder;
  c.show64 = d.view.show64;
  c.wireAddress = d.view.wireAddress;
  c.map = d.map;
  c.byMap = d.byMap && !d.map.empty();
  c.mergeGap = d.mergeGap;
}

ParseOutcome ParsePollOptions(const std::vector<std::string>& args, PollConfig& config,
                              std::string& error) {
  std::vector<std::string> positional;
  bool lengthGiven = false;
  bool rs485Given = false;
  bool typeGiven = false, offsetGiven = false;
  std::string requestOption;  // the last option given that belongs to the request or its view
  std::string mapRequestOption;  // the last of -t, -r and -c given, which --map refuses
  std::vector<std::string> itemNames;
  std::string mapOption;  // the last option given that needs --map
  std::string monitorOption;  // the last option given that needs --monitor
  std::string pollOption;     // the last of -a -t -r -c -l -o, which a monitor has no use for
  bool onlyValues = false;  // after "--"
  bool writeRefGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyValues) {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyValues = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") return ParseOutcome::Help;
    if (arg == "-V" || arg == "--version") return ParseOutcome::Version;
    if (arg == "--csv") {
      config.csv = true;
      continue;
    }
    if (arg == "--json") {
      config.json = true;
      continue;
    }
    if (arg == "--cells") {
      config.cells = true;
      continue;
    }
    if (arg == "--scan") {
      config.scan = true;
      // An optional range: FIRST-LAST, or one id.
      if (i + 1 < args.size() && !args[i + 1].empty() && std::isdigit(static_cast<unsigned char>(args[i + 1][0]))) {
        const std::string& range = args[++i];
        const std::size_t dash = range.find('-');
        long first = 0, last = 0;
        if (!ToLong(range.substr(0, dash), 1, 247, first) ||
            !ToLong(dash == std::string::npos ? range : range.substr(dash + 1), 1, 247, last) || first > last) {
          error = "--scan: a range of slave ids FIRST-LAST from 1 to 247, the first not above the last";
          return ParseOutcome::Error;
        }
        config.scanFirst = static_cast<int>(first);
        config.scanLast = static_cast<int>(last);
      }
      continue;
    }
    if (arg == "--sweep") {
      config.sweep = true;
      continue;
    }
    if (arg == "--id-info") {
      config.idInfo = true;
      continue;
    }
    if (arg == "--no-identify") {
      config.identify = false;
      continue;
    }
    if (arg == "--bauds" || arg == "--stop-bits" || arg == "--parities") {
      if (i + 1 >= args.size()) {
        error = "option " + arg + " needs a value";
        return ParseOutcome::Error;
      }
      const std::string& value = args[++i];
      if (arg == "--parities") {
        const bool ok = !value.empty() && value.find_first_not_of("NEOneo") == std::string::npos;
        if (!ok) {
          error = "--parities: letters among N, E and O";
          return ParseOutcome::Error;
        }
        config.sweepParities.clear();
        for (char c : value) config.sweepParities += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        continue;
      }
      std::vector<int> list;
      std::size_t at = 0;
      for (;;) {
        const std::size_t comma = value.find(',', at);
        long n = 0;
        const bool stop = arg == "--stop-bits";
        if (!ToLong(value.substr(at, comma == std::string::npos ? std::string::npos : comma - at), stop ? 1 : 50,
                    stop ? 2 : 4000000, n)) {
          error = stop ? "--stop-bits: 1, 2 or 1,2" : "--bauds: baud rates separated by commas, e.g. 9600,19200";
          return ParseOutcome::Error;
        }
        list.push_back(static_cast<int>(n));
        if (comma == std::string::npos) break;
        at = comma + 1;
      }
      (arg == "--bauds" ? config.sweepBauds : config.sweepStopBits) = list;
      continue;
    }
    if (arg == "--monitor") {
      config.monitor = true;
      continue;
    }
    if (arg == "--count" || arg == "--duration" || arg == "--reply-window" || arg == "--pcap" ||
        arg.rfind("--count=", 0) == 0 || arg.rfind("--duration=", 0) == 0 || arg.rfind("--reply-window=", 0) == 0 ||
        arg.rfind("--pcap=", 0) == 0) {
      const std::string name = arg.substr(0, arg.find('='));
      std::string value;
      if (LongValue(args, i, name, value, error) < 0) return ParseOutcome::Error;
      monitorOption = name;
      if (name == "--pcap") {
        if (value.empty()) { error = "--pcap: the capture file to write"; return ParseOutcome::Error; }
        config.pcapPath = value;
        continue;
      }
      if (name == "--count") {
        long n = 0;
        if (!ToLong(value, 1, 2000000000L, n)) { error = "--count: frames, at least 1"; return ParseOutcome::Error; }
        config.monitorCount = n;
        continue;
      }
      char* end = nullptr;
      const double number = std::strtod(value.c_str(), &end);
      const bool seconds = name == "--duration";
      if (end == value.c_str() || *end != '\0' || !(number > 0) || number > (seconds ? 31536000 : 3600000)) {
        error = seconds ? "--duration: seconds, above 0" : "--reply-window: milliseconds, above 0 and at most 3600000";
        return ParseOutcome::Error;
      }
      (seconds ? config.monitorSeconds : config.replyWindowMs) = number;
      continue;
    }
    if (arg == "--multiple") {
      config.alwaysMultiple = true;
      continue;
    }
    if (arg == "--rs485") {
      config.rs485 = rs485Given = true;
      continue;
    }
    if (arg == "-1") {
      config.periodMs = 0;
      continue;
    }
    if (arg == "-B") {
      config.wordOrder = WordOrder::HighFirst;
      requestOption = arg;
      continue;
    }
    if (arg == "--64bit") {
      config.show64 = true;
      requestOption = arg;
      continue;
    }
    std::string value;
    if (bool takesValue = false; IsPduOption(arg.substr(0, arg.find('=')), takesValue)) {
      const std::string name = arg.substr(0, arg.find('='));
      if (!takesValue && name != arg) {
        error = name + " takes no value";
        return ParseOutcome::Error;
      }
      if (takesValue && LongValue(args, i, name, value, error) < 0) return ParseOutcome::Error;
      if (!ParsePduOption(name, value, config.pdu, error)) return ParseOutcome::Error;
      continue;
    }
    if (const int taken = LongValue(args, i, "--write-ref", value, error)) {
      if (taken < 0 || !ParseWriteReference(value, config.pdu, error)) return ParseOutcome::Error;
      writeRefGiven = true;
      continue;
    }
    if (const int taken = LongValue(args, i, "--turnaround", value, error)) {
      long ms = 0;
      if (taken < 0) return ParseOutcome::Error;
      if (!ToLong(value, 0, 60000, ms)) {
        error = "--turnaround: milliseconds, 0 to 60000";
        return ParseOutcome::Error;
      }
      config.turnaroundMs = static_cast<int>(ms);
      continue;
    }
    if (const int taken = LongValue(args, i, "--word-order", value, error)) {
      if (taken < 0 || !ParseWordOrder(value, config, error)) return ParseOutcome::Error;
      requestOption = "--word-order";
      continue;
    }
    if (const int taken = LongValue(args, i, "--workspace", value, error)) {
      if (taken < 0) return ParseOutcome::Error;
      config.workspace = value;
      continue;
    }
    if (const int taken = LongValue(args, i, "--poll", value, error)) {
      if (taken < 0) return ParseOutcome::Error;
      config.pollNames.push_back(value);
      continue;
    }
    if (const int taken = LongValue(args, i, "--map", value, error)) {
      if (taken < 0) return ParseOutcome::Error;
      config.mapPath = value;
      continue;
    }
    if (const int taken = LongValue(args, i, "--item", value, error)) {
      if (taken < 0) return ParseOutcome::Error;
      itemNames.push_back(value);
      mapOption = "--item";
      continue;
    }
    if (const int taken = LongValue(args, i, "--gap", value, error)) {
      long gap = 0;
      if (taken < 0) return ParseOutcome::Error;
      if (!ToLong(value, 0, kMaxReadBits, gap)) {
        error = "--gap: registers or bits, 0 to 2000";
        return ParseOutcome::Error;
      }
      config.mergeGap = static_cast<int>(gap);
      mapOption = "--gap";
      continue;
    }
    if (const int taken = LongValue(args, i, "--write", value, error)) {
      if (taken < 0) return ParseOutcome::Error;
      const std::size_t eq = value.find('=');
      if (eq == std::string::npos || eq == 0) {
        error = "--write wants NAME=VALUE, e.g. \"Alarm temperature=47.5\"";
        return ParseOutcome::Error;
      }
      config.mapWrites.push_back({value.substr(0, eq), value.substr(eq + 1)});
      mapOption = "--write";
      continue;
    }
    if (const int taken = LongValue(args, i, "--save-workspace", value, error)) {
      if (taken < 0) return ParseOutcome::Error;
      config.saveWorkspace = value;
      continue;
    }
    if (arg.size() < 2 || arg[0] != '-' || (!positional.empty() && IsNegativeNumber(arg))) {
      positional.push_back(arg);
      continue;
    }
    if (IsNegativeNumber(arg)) {
      error = "unknown option " + arg + " (values to write go after the device)";
      return ParseOutcome::Error;
    }
    // -xVALUE or -x VALUE
    const std::string flag = arg.substr(0, 2);
    value = arg.substr(2);
    if (value.empty()) {
      if (i + 1 >= args.size()) {
        error = "option " + flag + " needs a value";
        return ParseOutcome::Error;
      }
      value = args[++i];
    }
    long n = 0;
    const char f = flag[1];
    if (std::strchr("atrc", f) != nullptr) requestOption = flag;
    if (std::strchr("atrclo", f) != nullptr) pollOption = flag;
    if (std::strchr("trc", f) != nullptr) mapRequestOption = flag;
    switch (f) {
      case 'm': {
        std::string name = value;
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!ModeFromOptionName(name, config.mode)) { error = "-m: rtu, ascii, tcp or rtutcp"; return ParseOutcome::Error; }
        break;
      }
      case 'p':
        if (!ToLong(value, 1, 65535, n)) { error = "-p: TCP port 1 to 65535"; return ParseOutcome::Error; }
        config.tcpPort = static_cast<int>(n);
        break;
      case 'a':
        // 0 broadcasts a write; a read to it is refused once the request is known.
        if (!ToLong(value, 0, kMaxSlaveId, n)) {
          error = "-a: slave id 1 to 255, or 0 to broadcast a write";
          return ParseOutcome::Error;
        }
        config.slaveId = static_cast<int>(n);
        break;
      case 'r':
        if (!ToLong(value, 1, kMaxRequestOffset, n)) {  // as mbpoll's -r
          error = "-r: reference 1 to 65536";
          return ParseOutcome::Error;
        }
        config.offset = static_cast<int>(n);
        offsetGiven = true;
        break;
      case 'c':
        if (!ToLong(value, 1, 2000, n)) { error = "-c: count 1 to 2000"; return ParseOutcome::Error; }
        config.length = static_cast<int>(n);
        lengthGiven = true;
        break;
      case 't':
        if (!ParseType(value, config, error)) return ParseOutcome::Error;
        typeGiven = true;
        break;
      case 'b':
        if (!ToLong(value, 50, 4000000, n)) { error = "-b: bad baud rate"; return ParseOutcome::Error; }
        config.baudRate = static_cast<int>(n);
        break;
      case 'd':
        if (!ToLong(value, 7, 8, n)) { error = "-d: data bits 7 or 8"; return ParseOutcome::Error; }
        config.dataBits = static_cast<int>(n);
        break;
      case 's':
        if (!ToLong(value, 1, 2, n)) { error = "-s: stop bits 1 or 2"; return ParseOutcome::Error; }
        config.stopBits = static_cast<int>(n);
        break;
      case 'P': {
        static const struct { const char* name; char letter; } parities[] = {
            {"none", 'N'}, {"even", 'E'}, {"odd", 'O'}, {"mark", 'M'}, {"space", 'S'}};
        bool found = false;
        for (const auto& p : parities) {
          if (strcasecmp(value.c_str(), p.name) == 0) {
            config.parity = p.letter;
            found = true;
          }
        }
        if (!found) { error = "-P: none, even, odd, mark or space"; return ParseOutcome::Error; }
        break;
      }
      case 'o': {
        char* end = nullptr;
        const double seconds = std::strtod(value.c_str(), &end);
        if (end == value.c_str() || *end != '\0' || !(seconds > 0) || seconds > 3600) {
          error = "-o: time-out in seconds, above 0 and at most 3600";
          return ParseOutcome::Error;
        }
        config.timeoutMs = static_cast<int>(std::lround(seconds * 1000));
        if (config.timeoutMs < 1) config.timeoutMs = 1;
        config.timeoutGiven = true;
        break;
      }
      case 'l':
        if (!ToLong(value, 1, 86400000, n)) { error = "-l: period in ms, at least 1"; return ParseOutcome::Error; }
        config.periodMs = static_cast<int>(n);
        break;
      default:
        error = "unknown option " + arg;
        return ParseOutcome::Error;
    }
  }
  if (IsNetworkMode(config.mode)) {
    const char* mode = config.mode == ModbusMode::Tcp ? "tcp" : "rtutcp";
    if (rs485Given) {
      error = std::string("--rs485 is for the serial line, not for -m ") + mode;
      return ParseOutcome::Error;
    }
    config.rs485 = false;  // settings.ini's switch is for its serial modes
    if (positional.empty() && !config.host.empty()) {
      // The host of settings.ini, as the program connects to it.
    } else if (positional.empty()) {
      error = std::string("-m ") + mode + " needs the device's HOST[:PORT] (e.g. 192.168.1.20 or 192.168.1.20:502)";
      return ParseOutcome::Error;
    } else if (!ParseHostPort(positional[0], config.tcpPort, config.host, config.tcpPort)) {
      error = "'" + positional[0] + "' is no HOST[:PORT] (a port from 1 to 65535; [ADDRESS]:PORT for IPv6)";
      return ParseOutcome::Error;
    }
  } else if (!positional.empty()) {
    const int n = ComPortNumber(positional[0]);
    if (n > 0) {
      config.comPort = n;
      config.device.clear();
    } else {
      config.device = positional[0];
    }
  }
  if (!positional.empty()) config.values.assign(positional.begin() + 1, positional.end());
  if (config.monitor) {
    if (const std::string clash = MonitorClash(config, pollOption.empty() ? requestOption : pollOption, rs485Given);
        !clash.empty()) {
      error = clash;
      return ParseOutcome::Error;
    }
    config.rs485 = false;  // settings.ini's switch asks the driver to drive RTS
  } else if (!monitorOption.empty()) {
    error = monitorOption + " goes with --monitor";
    return ParseOutcome::Error;
  }
  if (config.json && (config.csv || config.cells)) {
    error = std::string("--json and ") + (config.csv ? "--csv" : "--cells") + " are two outputs: give one of them";
    return ParseOutcome::Error;
  }
  if (writeRefGiven && config.pdu.kind != PduKind::ReadWrite) {
    error = "--write-ref is where --read-write writes: give --read-write too";
    return ParseOutcome::Error;
  }
  if (config.IsPdu()) {
    error = PreparePdu(config, typeGiven, mapRequestOption);
    return error.empty() ? ParseOutcome::Run : ParseOutcome::Error;
  }
  if (config.json && (config.scan || config.idInfo)) {
    error = std::string("--json is for reads: ") + (config.scan ? "--scan has --csv" : "--id-info prints its objects");
    return ParseOutcome::Error;
  }
  if (config.json && config.IsWrite()) {
    error = "--json is for reads: a write prints what it wrote, and its exit status tells the outcome";
    return ParseOutcome::Error;
  }
  if (!config.mapPath.empty()) {
    if (const std::string clash = MapClash(config, mapRequestOption); !clash.empty()) {
      error = clash;
      return ParseOutcome::Error;
    }
    if (!PrepareMap(itemNames, config, error)) return ParseOutcome::Error;
  } else if (!mapOption.empty()) {
    error = mapOption + " names items of a --map file";
    return ParseOutcome::Error;
  }
  if (!config.workspace.empty() || !config.saveWorkspace.empty()) {
    if (const std::string clash = WorkspaceClash(config, requestOption); !clash.empty()) {
      error = clash;
      return ParseOutcome::Error;
    }
  } else if (!config.pollNames.empty()) {
    error = "--poll picks definitions of a --workspace file";
    return ParseOutcome::Error;
  }
  if ((config.scan || config.idInfo) && config.IsWrite()) {
    error = std::string(config.scan ? "--scan" : "--id-info") + " reads: give no values after the device";
    return ParseOutcome::Error;
  }
  if (config.sweep && (!config.scan || IsNetworkMode(config.mode))) {
    error = "--sweep is for --scan on a serial line";
    return ParseOutcome::Error;
  }
  if (config.scan && config.periodMs > 0) {
    error = "--scan runs once: -l is for polling";
    return ParseOutcome::Error;
  }
  if (config.scan) {
    // The scan's own read unless the command line names one: a holding register at offset 1
    // is what nearly every device has.
    if (!typeGiven) config.function = 3;
    if (!offsetGiven) config.offset = 1;
    if (!lengthGiven) config.length = 1;
    if (!config.timeoutGiven) config.timeoutMs = kScanTimeoutMs;
  }
  if (config.IsWrite()) {
    if (!PrepareWrite(lengthGiven, config, error)) return ParseOutcome::Error;
  } else if (config.alwaysMultiple && !config.IsMapWrite()) {
    error = "--multiple is for writes: give the values after the device";
    return ParseOutcome::Error;
  }
  return ParseOutcome::Run;
}

}  // namespace vantrel::poll
