// Command line of vantrel-poll, following mbpoll's conventions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modbus/Framing.h"
#include "modbus/Functions.h"
#include "session/PollDefinition.h"
#include "session/ValueNames.h"
#include "session/WriteValues.h"

namespace vantrel {
class ScannerSettings;
}

namespace vantrel::poll {

// The requests of any function that the poller sends (see PollConfig::pdu).
enum class PduKind {
  None,
  Raw,                // --raw HEX
  Diagnostics,        // --diag SUB[:DATA]
  ReportServerId,     // --report-id
  MaskWrite,          // --mask-write REF:AND:OR
  ReadWrite,          // --read-write: reads -r/-c, writes the values from --write-ref
  ReadFifo,           // --fifo REF
  ReadFileRecord,     // --file-read FILE:RECORD:LENGTH
  ExceptionStatus,    // --exception-status
  EventCounter,       // --event-counter
  EventLog,           // --event-log
};

struct PduOption {
  PduKind kind = PduKind::None;
  std::string option;              // as given, "--diag", for the messages
  std::vector<std::uint8_t> raw;   // --raw
  std::uint16_t subFunction = 0;   // --diag
  std::vector<std::uint16_t> data;
  int reference = 0;               // --mask-write, --fifo, --write-ref: counted from 1; 0 not given
  std::uint16_t andMask = 0;
  std::uint16_t orMask = 0;
  FileRecordRef file;              // --file-read
};

struct PollConfig {
  ModbusMode mode = ModbusMode::Rtu;
  // The network modes' connection.
  std::string host;
  int tcpPort = 502;
  // Serial connection: a device path, or empty for port comPort mapped as the program maps it.
  std::string device;
  int comPort = 3;
  int baudRate = 9600;
  char parity = 'N';
  int dataBits = 8;
  int stopBits = 1;
  bool rs485 = false;  // ask the driver for RS-485 mode
  int timeoutMs = 10000;  // also the bound of a TCP connect
  // Request, with the offset counted from 1.
  int slaveId = 11;
  int function = 1;
  int offset = 1;
  int length = 20;
  // 0: poll once.
  int periodMs = 0;
  bool csv = false;
  // The table and CSV with the window's exact cells, its Write column too.
  bool cells = false;
  bool json = false;  // a JSON object per poll, or for the failure
  // How 32- and 64-bit values lie over registers, for the table and for 32-bit writes.
  WordOrder wordOrder = WordOrder::LowFirst;
  bool show64 = false;  // print uint64, int64 and float64 too
  bool wireAddress = false;  // the "Wire address" column: a workspace definition's view only
  // Writes: the values given after the device, parsed in format (Coil for coils) into the
  // registers or coil states they set; none means a read. length is then the item count.
  WriteFormat format = WriteFormat::Uint16;
  std::vector<std::string> values;
  std::vector<std::uint16_t> words;
  bool alwaysMultiple = false;  // 15/16 even for one item

  bool IsWrite() const { return !values.empty(); }

  // Finding devices: --scan sends the read to every id from scanFirst to scanLast (the
  // time-out, -o, defaults to 100 ms for it); --sweep tries each combination of the sweep's
  // baud rates, parities and stop bits. --id-info reads the device identification of -a.
  bool scan = false;
  int scanFirst = 1;
  int scanLast = 247;
  bool sweep = false;
  std::vector<int> sweepBauds{1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  std::string sweepParities = "NEO";
  std::vector<int> sweepStopBits{1, 2};
  bool idInfo = false;
  bool identify = true;       // a scan asks each device found for its identification
  bool timeoutGiven = false;  // -o was given

  // Workspace files: --workspace polls the file's enabled definitions (pollNames: the ones
  // of those names) on its connection, which the options override; --save-workspace writes
  // the connection and the request of this command line as a one-definition file.
  std::string workspace;
  std::vector<std::string> pollNames;
  std::string saveWorkspace;

  // Reading by register map: --map's items (those --item names, in the map's order) read in
  // the session's cycles, requests merged across gaps of at most mergeGap; a workspace
  // definition read by map carries its own. --write sets items by name instead of a read.
  std::string mapPath;
  RegisterMap map;
  bool byMap = false;
  int mergeGap = kDefaultMergeGap;
  struct MapWrite {
    std::string item;
    std::string value;  // in shown units, as EncodeItem takes it
  };
  std::vector<MapWrite> mapWrites;

  bool IsMapWrite() const { return !mapWrites.empty(); }

  // --monitor: listen to the serial line without ever sending, and print each frame seen
  // until Ctrl+C, monitorCount frames (0: no bound) or monitorSeconds (0: no bound); with
  // pcapPath, write them to that capture file too.
  bool monitor = false;
  long monitorCount = 0;
  double monitorSeconds = 0;
  double replyWindowMs = 1000;
  std::string pcapPath;

  // A request of any function, sent once to slaveId through the line session and its reply
  // printed whole and decoded: --raw's PDU, or one of the named options, whose parameters
  // MakePdu turns into the PDU with the codec's builders once every option is known.
  PduOption pdu;
  // How long the line stays quiet after a broadcast before the next request.
  int turnaroundMs = 100;

  bool IsPdu() const { return pdu.kind != PduKind::None; }
};

// Distinct exit statuses, one per kind of failure.
enum ExitStatus : int {
  kExitOk = 0,
  kExitUsage = 2,
  kExitBadRequest = 3,      // the request check refused the settings
  kExitCannotConnect = 4,   // the port cannot be opened, or the connection made
  kExitCannotPoll = 5,      // the request could not be written
  kExitTimeout = 6,
  kExitBadCrc = 7,          // or LRC
  kExitException = 8,       // the slave answered with a Modbus exception
  kExitBadFunction = 9,     // unsupported or invalid function code in the reply
  kExitUnknownReply = 10,
  kExitShortReply = 11,     // fewer data bytes than the request needs
  kExitDeviceGone = 12,     // the device went away while open, or closed the connection
  kExitWriteNotConfirmed = 13,  // a write's reply echoed another address, value or quantity
  kExitBadMbapLength = 14,  // a Modbus TCP header with a length no frame can have
  kExitNothingFound = 15,   // a scan in which no device answered
  kExitBadIdReply = 16,     // a device identification reply that cannot be read
  kExitBadWorkspace = 17,   // a workspace file not read, refused, with nothing to poll, or not saved
};

// A scan's time-out per id when -o is not given.
inline constexpr int kScanTimeoutMs = 100;

enum class ParseOutcome { Run, Help, Version, Error };

// Takes the connection, the request, the word order and the 64-bit columns from the
// desktop program's settings (a stored word order that names none keeps config's).
void ApplySettings(const ScannerSettings& settings, PollConfig& config);

// The value of the long option name ("--workspace FILE" or "--workspace=FILE") before any
// "--", or "" when it is not given: what must be known before the other options apply.
std::string OptionValue(const std::vector<std::string>& args, const std::string& name);

// The line that config describes, as the line session and a workspace file hold it (a
// port number as "COMn"), and the other way round.
LineConnection ConnectionOf(const PollConfig& config);
void ApplyConnection(const LineConnection& connection, PollConfig& config);
// The read of config as a definition that polls at -l's period (0: once) and stops at a
// failure; and a definition's request and view options put into config.
PollDefinition DefinitionOf(const PollConfig& config);
void ApplyDefinition(const PollDefinition& definition, PollConfig& config);

// Applies the options to config (which holds the defaults on entry). The first argument that
// is no option is the device (for the network modes HOST[:PORT]); the ones after it are
// values to write, a negative number among them too, except a bare -1, which stays "poll
// once" as everywhere else; after "--" every argument is the device or a value.
ParseOutcome ParsePollOptions(const std::vector<std::string>& args, PollConfig& config,
                              std::string& error);

// The -m and --word-order names, and "COMn", as the workspace file spells them too.
using vantrel::ComPortNumber;
using vantrel::ModeOptionName;
using vantrel::WordOrderOptionName;

// The PDU of config's request of any function, built by the codec's builders, with the
// reads and writes of --read-write from -r, -c, --write-ref and the values: MB_REQUEST_OK, or
// the code of the builder or of CheckRequest (slave id 0 for a function that may not be
// broadcast among them) that refused it, pdu then empty.
int MakePdu(const PollConfig& config, std::vector<std::uint8_t>& pdu);

extern const char kPollUsage[];

}  // namespace vantrel::poll
