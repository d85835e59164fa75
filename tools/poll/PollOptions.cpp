#include "PollOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <strings.h>

#include "modbus/ModbusFrame.h"
#include "settings/ScannerSettings.h"

namespace vantrel::poll {

const char kPollUsage[] =
    "Usage: vantrel-poll [options] [DEVICE]\n"
    "\n"
    "Reads one Modbus RTU slave (functions 01 to 04) and prints every value in the formats\n"
    "of the Vantrel Modbus Scanner's response table.\n"
    "\n"
    "DEVICE is a path (/dev/ttyUSB0, ./COM3) or COMn, which names the device that the\n"
    "entry COMn in the current folder points to, or else the n-th serial port present\n"
    "(USB adapters first), as the desktop program does. Default: COM3.\n"
    "\n"
    "The connection and the request come from \"settings.ini\" in the current folder, so\n"
    "that with no options it polls exactly what the desktop program started there is set\n"
    "to; options override single values. Without the file, the program's defaults apply.\n"
    "\n"
    "Options (the defaults shown are the desktop program's):\n"
    "  -m rtu        mode; only RTU exists\n"
    "  -a ID         slave id, 1 to 255 (default 11)\n"
    "  -r REF        start reference, counted from 1 (default 1)\n"
    "  -c COUNT      number of values (default 20)\n"
    "  -t TYPE       0 coils, 1 discrete inputs, 3 input registers, 4 holding registers\n"
    "                (default 0)\n"
    "  -b BAUD       baud rate (default 9600)\n"
    "  -d 7|8        data bits (default 8)\n"
    "  -s 1|2        stop bits (default 1)\n"
    "  -P PARITY     none, even, odd, mark or space (default none)\n"
    "  -o SECONDS    reply time-out, fractions allowed (default 10)\n"
    "  -l MS         poll every MS milliseconds until a failure or Ctrl+C\n"
    "  -1            poll once (the default)\n"
    "      --csv     print comma-separated values instead of an aligned table\n"
    "  -h, --help    show this text\n"
    "\n"
    "A failure prints the explanation the desktop program shows, on standard error, and\n"
    "ends with its own exit status:\n"
    "   0 values read            7 invalid CRC in the reply\n"
    "   2 bad command line       8 Modbus exception reply\n"
    "   3 request refused        9 unsupported or invalid function code in the reply\n"
    "   4 cannot open the port  10 unknown reply\n"
    "   5 cannot send           11 reply shorter than the request needs\n"
    "   6 time-out              12 the device went away\n";

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
  config.comPort = settings.com_port;
  config.device.clear();
  config.baudRate = settings.buad_rate;
  config.parity = settings.parity;
  config.dataBits = settings.data_bits;
  config.stopBits = settings.stop_bits;
  config.timeoutMs = settings.recv_time_out;
  config.slaveId = settings.request_id;
  config.function = settings.request_function_code;
  config.offset = settings.request_offset;
  config.length = settings.request_length;
}

int ComPortNumber(const std::string& text) {
  if (text.size() < 4 || strncasecmp(text.c_str(), "COM", 3) != 0) return 0;
  long n = 0;
  return ToLong(text.substr(3), 1, 255, n) ? static_cast<int>(n) : 0;
}

ParseOutcome ParsePollOptions(const std::vector<std::string>& args, PollConfig& config,
                              std::string& error) {
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") return ParseOutcome::Help;
    if (arg == "--csv") {
      config.csv = true;
      continue;
    }
    if (arg == "-1") {
      config.periodMs = 0;
      continue;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    // -xVALUE or -x VALUE
    const std::string flag = arg.substr(0, 2);
    std::string value = arg.substr(2);
    if (value.empty()) {
      if (i + 1 >= args.size()) {
        error = "option " + flag + " needs a value";
        return ParseOutcome::Error;
      }
      value = args[++i];
    }
    long n = 0;
    const char f = flag[1];
    switch (f) {
      case 'm':
        if (strcasecmp(value.c_str(), "rtu") != 0) {
          error = "only -m rtu is supported";
          return ParseOutcome::Error;
        }
        break;
      case 'a':
        if (!ToLong(value, kMinSlaveId, kMaxSlaveId, n)) {
          error = "-a: slave id 1 to 255 (0 is the broadcast address, which no device answers)";
          return ParseOutcome::Error;
        }
        config.slaveId = static_cast<int>(n);
        break;
      case 'r':
        if (!ToLong(value, kMinRequestOffset, kMaxRequestOffset, n)) {
          error = "-r: reference 1 to 65536";
          return ParseOutcome::Error;
        }
        config.offset = static_cast<int>(n);
        break;
      case 'c':
        if (!ToLong(value, 1, 2000, n)) { error = "-c: count 1 to 2000"; return ParseOutcome::Error; }
        config.length = static_cast<int>(n);
        break;
      case 't':
        if (value == "0") config.function = 1;
        else if (value == "1") config.function = 2;
        else if (value == "3") config.function = 4;
        else if (value == "4") config.function = 3;
        else { error = "-t: type 0, 1, 3 or 4"; return ParseOutcome::Error; }
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
  if (positional.size() > 1) {
    error = "one device only";
    return ParseOutcome::Error;
  }
  if (!positional.empty()) {
    const int n = ComPortNumber(positional[0]);
    if (n > 0) {
      config.comPort = n;
      config.device.clear();
    } else {
      config.device = positional[0];
    }
  }
  return ParseOutcome::Run;
}

}  // namespace vantrel::poll
