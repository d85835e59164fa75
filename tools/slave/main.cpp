// vantrel-slave: a Modbus slave on a pseudo-terminal (RTU, ASCII) or over TCP (Modbus TCP,
// RTU over TCP), for trying the program and the poller without a device, and for the tests.
#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "PtyLine.h"
#include "SlaveCore.h"
#include "SlaveLog.h"
#include "TcpServer.h"
#include "Version.h"
#include "platform/Platform.h"
#include "serial/DeviceEnd.h"
#include "serial/SerialPort.h"

using namespace vantrel::slave;
using vantrel::ModbusMode;

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

const char kUsage[] =
    "Usage: vantrel-slave [options] LINK\n"
    "   or: vantrel-slave [options] --tcp [ADDRESS:]PORT\n"
    "   or: vantrel-slave [options] --rtu-over-tcp [ADDRESS:]PORT\n"
    "\n"
    "Serves the public Modbus functions: the reads and writes of bits and registers (01 to\n"
    "06, 15, 16, 22 Mask Write Register, 23 Read/Write Multiple Registers), 07 Read\n"
    "Exception Status, 08 Diagnostics, 11 Get Comm Event Counter, 12 Get Comm Event Log,\n"
    "17 Report Server ID, 20 and 21 Read and Write File Record, 24 Read FIFO Queue, and\n"
    "Read Device Identification (43/14), for one slave id or several, each with tables,\n"
    "files, counters and an event log of its own.\n"
    "\n"
    "On a pseudo-terminal, in RTU or ASCII, it makes LINK (for example ./COM3) a symbolic\n"
    "link to it, so that vantrel-modbus-scanner (as port 3, when started in this folder) and\n"
    "vantrel-poll open it like a serial port. Stop it with Ctrl+C; the link is removed.\n"
    "On Windows, which has no pseudo-terminals, LINK names a COM port (for example COM6)\n"
    "that it serves at the line settings of -b, -d, -P and -s; the master opens the port\n"
    "at the other end of a null-modem cable or a virtual port pair. Should the port go\n"
    "away (an adapter pulled), it says so and ends with status 1.\n"
    "\n"
    "Over TCP it serves Modbus TCP (--tcp), or RTU frames as a serial-to-Ethernet gateway\n"
    "passes them on (--rtu-over-tcp), to several clients at once, each on its own\n"
    "connection: at most 32 (one more is closed at once), and a connection that sends no\n"
    "whole request for 60 s is closed, however many bytes it trickles. The clients are\n"
    "served in turn, each read only as fast as it is answered. A client that sends an MBAP\n"
    "header with a length no request can have (under 2 or over 254), or 4096 bytes without\n"
    "a whole request, is disconnected.\n"
    "\n"
    "Every request and reply is logged on standard error, in hex (ASCII frames as their\n"
    "characters), a write's request with what it changed.\n"
    "\n"
    "Options:\n"
    "  -a, --id LIST        slave ids to answer, 1 to 247: one, or several as 1,5,17-20,\n"
    "                       each with tables of its own (default 11, the program's\n"
    "                       default); requests to other ids get no reply\n"
    "  -m, --mode rtu|ascii\n"
    "                       the frames on the pseudo-terminal: RTU (the default), or\n"
    "                       ASCII (':', hex pairs with an LRC, CR LF; often 7 data bits,\n"
    "                       even parity: -d 7 -P even)\n"
    "      --tcp [ADDRESS:]PORT\n"
    "                       serve Modbus TCP on PORT of ADDRESS instead (127.0.0.1 unless\n"
    "                       given, 0.0.0.0 for every interface, [::1] for IPv6; port 0 takes\n"
    "                       a free one, which the first line printed names)\n"
    "      --rtu-over-tcp [ADDRESS:]PORT\n"
    "                       the same with RTU frames, CRC and all\n"
    "      --idle-timeout SECONDS\n"
    "                       over TCP, close a connection that sends no whole request for\n"
    "                       this long (default 60)\n"
    "  -b, --baud BAUD      line speed at which replies are paced, one character time per\n"
    "                       byte (default 9600); requests are also taken as having\n"
    "                       needed their transmission time\n"
    "  -d, --data-bits 7|8  character framing used for the pacing (default 8)\n"
    "  -P, --parity P       none, even, odd, mark or space (default none)\n"
    "  -s, --stop-bits 1|2  (default 1)\n"
    "      --no-pacing      reply as fast as possible\n"
    "      --strict-line    on the pseudo-terminal, behave as a device at -b and -s does\n"
    "                       when the far end has set another speed or stop bits: it does\n"
    "                       not understand the request, and the reply goes out garbled\n"
    "                       (see below)\n"
    "  -i, --image FILE     load values from FILE over the default pattern, into the\n"
    "                       tables of every id (see \"id LIST\" below)\n"
    "      --map FILE       set the items of the register map FILE (a CSV map, as the\n"
    "                       program and vantrel-poll --map read it) to the values of its\n"
    "                       value column, in the tables of every id: over the pattern and\n"
    "                       after -i; a bit item sets its bit of the register as it stands\n"
    "      --save FILE      on exit (Ctrl+C, SIGTERM, SIGHUP) write the values that differ\n"
    "                       from the default pattern to FILE, for -i FILE next time; with\n"
    "                       several ids, under an \"id N\" line for each id that differs\n"
    "      --read-only      answer every write with exception 01\n"
    "  -f, --fault SPEC     apply a fault to every reply (see below)\n"
    "      --fault-at OFFSET=SPEC\n"
    "                       apply a fault to requests starting at OFFSET (repeatable)\n"
    "      --fault-id ID=SPEC\n"
    "                       apply a fault to every reply of slave id ID, in place of -f\n"
    "                       (repeatable; a fault by offset still comes first)\n"
    "      --no-fault-offsets\n"
    "                       switch off the built-in fault offsets below\n"
    "  -q, --quiet          do not log frames\n"
    "  -h, --help           show this text\n"
    "  -V, --version        show the version\n"
    "\n"
    "Device identification (function 43, MEI type 14), the same for every id:\n"
    "      --vendor TEXT    object 0x00 VendorName (default Vantrel)\n"
    "      --product TEXT   object 0x01 ProductCode (default vantrel-slave)\n"
    "      --revision TEXT  object 0x02 MajorMinorRevision (default the version, " VANTREL_SLAVE_VERSION ")\n"
    "      --model TEXT     object 0x05 ModelName (default Simulator)\n"
    "      --id-object ID=TEXT\n"
    "                       any object: 0x00 to 0x06, or private 0x80 to 0xFF; an empty\n"
    "                       TEXT removes an object above 0x02 (repeatable). Defaults beside\n"
    "                       the above: 0x03 VendorUrl " VANTREL_SLAVE_VENDOR_URL ",\n"
    "                       0x04 ProductName Vantrel Modbus slave simulator\n"
    "      --basic-id-only  offer the objects 0x00 to 0x02 only (conformity level 0x81)\n"
    "      --no-device-id   answer 43/14 with exception 01, as a device without it\n"
    "      --id-chunk N     at most N objects per reply; the rest follows (\"more\n"
    "                       follows\") in the next, as when a stream outgrows a reply\n"
    "\n"
    "The other functions, the same for every id (see below):\n"
    "      --exception-status N\n"
    "                       the byte that Read Exception Status (07) returns, 0 to 255\n"
    "                       (default: coils 0 to 7 of the id asked, coil 0 in bit 0)\n"
    "      --server-id N    the server id that Report Server ID (17) returns, 0 to 255\n"
    "                       (default: the slave id asked)\n"
    "      --run-indicator on|off\n"
    "                       its run indicator: on (0xFF, the default) or off (0x00)\n"
    "      --server-data TEXT\n"
    "                       its additional data, at most 249 bytes (default\n"
    "                       \"vantrel-slave " VANTREL_SLAVE_VERSION "\")\n"
    "      --files N        the files of Read and Write File Record (20, 21), numbered\n"
    "                       from 1: 0 to 64 (default 4)\n"
    "      --file-records N\n"
    "                       the records of each file, numbered from 0: 1 to 10000\n"
    "                       (default 10000)\n"
    "      --fifo ADDRESS   a FIFO of Read FIFO Queue (24): its count in holding register\n"
    "                       ADDRESS, its values in the registers after it (repeatable;\n"
    "                       without it every holding register address is a FIFO pointer)\n"
    "\n"
    "Default values (a = 0-based address; offsets count from 1 as in the program):\n"
    "  coils              1 when a is even: 1 0 1 0 ...\n"
    "  discrete inputs    1 when a is a multiple of 3: 1 0 0 1 0 0 ...\n"
    "  holding registers  a + 1, so offset N reads N\n"
    "  input registers    (a + 1) * 10, so offset N reads 10 N (modulo 65536)\n"
    "  file records       record r of file f holds f * 10000 + r (modulo 65536)\n"
    "\n"
    "Image file: one value per line, '#' starts a comment:\n"
    "  TABLE ADDRESS[-LAST] [TYPE] VALUE, where TABLE is coil, discrete, holding, input,\n"
    "  or file F for the records of file F; ADDRESS is 0-based (decimal or 0x hex), a\n"
    "  record number for a file; TYPE is u16 (default) or i16, or u32, i32 or\n"
    "  float, which fill two registers with the low-order word first, as the program pairs\n"
    "  them. For example:\n"
    "    holding 0 1234        holding register 0 is 1234\n"
    "    holding 10-19 0xBEEF  holding registers 10 to 19 are 0xBEEF\n"
    "    input 20 float 3.5    input registers 20 and 21 hold the float32 3.5\n"
    "    coil 7 1              coil 7 is on\n"
    "    file 2 0-9 7          records 0 to 9 of file 2 hold 7\n"
    "  With several ids, the lines before the first \"id LIST\" line (LIST as for -a) set\n"
    "  the tables of every id, those after it the tables of the ids listed only:\n"
    "    holding 0 100         every id's holding register 0 is 100\n"
    "    id 17\n"
    "    holding 0 1700        but slave 17's is 1700\n"
    "  Lines for ids not served are skipped, with a note.\n"
    "\n"
    "Fault SPEC: exception=N (exception code N), bad-crc, silence, delay=MS, split=MS\n"
    "(the reply in two halves with a pause), garbage (bytes that are no Modbus frame),\n"
    "wrong-id (another slave id), function=N (function code N in the reply), noise (a\n"
    "stray byte before the reply), short (a read reply one register or byte of coils too\n"
    "few), echo (a write reply naming the next address), close (half the reply, then the\n"
    "connection is closed; on the pseudo-terminal nothing more comes). On Modbus TCP only:\n"
    "wrong-transaction (the reply carries the next transaction id), mbap-length=N (the\n"
    "reply's MBAP header gives length N). bad-crc spoils ASCII's LRC; Modbus TCP has no\n"
    "check to spoil, so it changes nothing there.\n"
    "\n"
    "Built-in fault offsets, whatever the function, by the request's first offset (for 22\n"
    "its address, for 23 its read address, for 24 its FIFO pointer, for 20 and 21 the first\n"
    "record number; each counted from 1):\n"
    "  9001..9011  exception 01..0B\n"
    "  9020        bad CRC\n"
    "  9021        silence\n"
    "  9022        delay of 500 ms\n"
    "  9023        split, 300 ms pause\n"
    "  9024        garbage\n"
    "  9025        another slave id\n"
    "  9026        function code 0x66\n"
    "  9027        function code 0x05\n"
    "  9028        function code 0x00\n"
    "  9029        write reply echoing the next address\n"
    "  9030        another transaction\n"
    "  9031        MBAP length 65535\n"
    "  9032        connection closed half way through the reply\n"
    "\n"
    "Faults apply to the replies of 07, 08, 11, 12, 17 and device identification too,\n"
    "except those by offset (they name none); short leaves out the last object of a device\n"
    "identification reply and the last register of 23's, echo names the next address in\n"
    "22's reply. garble (the reply with every byte inverted: no frame, no good check) is\n"
    "what a master at other line settings sees.\n"
    "\n"
    "A write changes the values only when its correct reply is sent (also delayed, split\n"
    "or after noise, except on Modbus TCP); a refused or otherwise faulted write changes\n"
    "nothing. The diagnostics that restart or clear take effect by the same rule.\n"
    "\n"
    "An unsupported function gets exception 01, a bad quantity, byte count or coil value\n"
    "exception 03, and a range beyond address 65535 exception 02. Requests with a bad CRC\n"
    "or LRC or for an id not served get no reply, as on a real line. A broadcast (id 0)\n"
    "of 05, 06, 15, 16, 21 or 22 is carried out for every id by the same rule, unanswered;\n"
    "a broadcast of any other function is ignored.\n"
    "\n"
    "Diagnostics (08): sub-functions 00 (the data echoed), 01 (restart: counters cleared,\n"
    "the event log too with data FF00, listen-only mode left; unanswered when in that\n"
    "mode), 02 (the diagnostic register: bit 0 an overrun, bit 1 a CRC or LRC error since\n"
    "the last clear), 04 (listen-only mode: no reply, and from then on nothing is\n"
    "answered or carried out, only counted, until a restart), 0A (counters and diagnostic\n"
    "register cleared), 0B to 12 (the bus message, bus communication error, exception,\n"
    "server message, no response, NAK, busy and character overrun counts) and 14 (the\n"
    "overrun count and flag cleared); exception 01 for any other, 03 for data other than\n"
    "0000 (or FF00 for 01). The bus counts are of every frame on the line (on TCP, of\n"
    "every connection): any slave id's, those with a bad CRC or LRC, and the bytes\n"
    "dropped because no request is that long (overruns). The others are per id: requests\n"
    "to it or broadcast, exceptions it sent, those it left unanswered (broadcasts,\n"
    "listen-only, silence); NAK and busy count exceptions 07 and 06, which only a fault\n"
    "sends. Get Comm Event Counter (11) gives status 0000 (it is never busy) and the count\n"
    "of normal replies and broadcast writes carried out, but not of 11 and 12 themselves;\n"
    "Get Comm Event Log (12) the same, the bus message count and the last 64 events,\n"
    "newest first: 80 (a request received; +02 bad check, +10 overrun, +20 in\n"
    "listen-only mode, +40 broadcast), 40 (a request handled; +01 exception 01 to 03, +02\n"
    "04, +04 05 or 06, +08 07), 04 (listen-only mode entered), 00 (restart).\n"
    "\n"
    "File records (20, 21): reference type 6; exception 03 for a byte count that does not\n"
    "fit, a sub-request of no records or a reply longer than a PDU, 02 for another\n"
    "reference type, a file not there or records past its end. Read/Write Multiple\n"
    "Registers (23) writes first, then reads: 1 to 125 read, 1 to 121 written. Read FIFO\n"
    "Queue (24): exception 03 for a count above 31, 02 for an address that is no FIFO.\n"
    "\n"
    "Device identification: read device id codes 01 (basic), 02 (regular) and 03\n"
    "(extended: every object there is) as streams, 04 one object. Conformity level 0x81\n"
    "with the basic objects only, 0x82 with regular ones, 0x83 with private ones. A\n"
    "stream goes on from the object asked for (from the start when it has no such\n"
    "object). Exceptions: 01 for another MEI type or with --no-device-id, 02 for one\n"
    "object that is not there, 03 for another read device id code.\n"
    "\n"
    "Line settings on the pseudo-terminal: it keeps the speed and stop bits that the far\n"
    "end sets, but not parity or data bits (it carries 8 bits, no parity). -b, -d, -P\n"
    "and -s pace the replies; with --strict-line, a request that comes while the far end\n"
    "is at another speed (more than 2 % off) or other stop bits than -b and -s is not\n"
    "understood: it changes nothing, and its reply goes out garbled, so that the master\n"
    "sees something there but no good frame. Each change is logged on standard error.\n"
    "Parity cannot be told apart on a pseudo-terminal.\n";

void SleepUntilNs(long long when) {
  // Slices of at most 200 ms, so that a stop asked for meanwhile is seen soon.
  while (!g_stop) {
    const long long left = when - NowNs();
    if (left <= 0) return;
    std::this_thread::sleep_for(std::chrono::nanoseconds(std::min(left, 200000000LL)));
  }
}

// Writes the bytes one character time apart, each arriving when a UART would have
// finished sending it. Bytes the other side cannot take (nobody reading) are dropped.
void PacedWrite(vantrel::Link& line, const std::uint8_t* bytes, std::size_t size, long long charNs) {
  const long long start = NowNs();
  std::size_t sent = 0;
  while (sent < size && !g_stop) {
    std::size_t due = size;
    if (charNs > 0) {
      const long long elapsed = NowNs() - start;
      due = std::min<std::size_t>(size, static_cast<std::size_t>(elapsed / charNs));
      if (due <= sent) {
        SleepUntilNs(start + static_cast<long long>(sent + 1) * charNs);
        continue;
      }
    }
    const int n = line.Write(bytes + sent, static_cast<int>(due - sent));
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

void Serve(vantrel::DeviceEnd& end, SlaveCore& core, const std::vector<std::uint8_t>& frame,
           long long firstByteNs, long long charNs, LineWatch* watch) {
  // The request took its own transmission time on a real line.
  SleepUntilNs(firstByteNs + static_cast<long long>(frame.size()) * charNs);
  // The far end's settings as they are for this request: it sets them before it sends.
  LineSpeed far;
  if (watch != nullptr && end.FarEnd(far.baud, far.stopBits)) {
    const std::string note = watch->Observe(far);
    if (!note.empty()) LogNotice(note);
    core.setLineMismatch(watch->mismatch());
  }
  std::string change;
  const auto reply = core.Answer(frame.data(), frame.size(), &change);
  LogLine("-> " + FrameText(core.mode(), frame.data(), frame.size()) + RequestNote(change, reply.has_value()));
  if (!reply) return;
  if (reply->delayMs > 0) SleepUntilNs(NowNs() + reply->delayMs * 1000000LL);
  const auto& b = reply->bytes;
  // A reply cut off stops half way, as a line whose far end went away.
  const std::size_t size = reply->cutOff ? reply->splitAt : b.size();
  if (reply->splitAt > 0) {
    PacedWrite(end.link(), b.data(), reply->splitAt, charNs);
    SleepUntilNs(NowNs() + reply->splitPauseMs * 1000000LL);
  }
  PacedWrite(end.link(), b.data() + reply->splitAt, size - reply->splitAt, charNs);
  LogLine("<- " + FrameText(core.mode(), b.data(), size));
}

bool ParseInt(const char* text, long low, long high, long& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtol(text, &end, 0);
  return errno == 0 && end != text && *end == '\0' && out >= low && out <= high;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "vantrel-slave: %s\n", message.c_str());
  return 2;
}

struct LineTiming {
  long long charNs;  // one character's time on the line; 0 unpaced
  int silenceMs;     // the silence that ends an RTU frame without fixed layout
  LineSpeed own;     // our speed and stop bits
  bool strict;       // replies garbled while the far end is at another speed or stop bits
};

struct LineSettings {
  int baud;
  char parity;  // N E O M S
  int dataBits;
  int stopBits;
};

// Serves the core on the device end LINK (a pseudo-terminal that LINK points to; on Windows
// the COM port LINK), until a signal. 0, 2 when it cannot be had, 1 when it went away.
int ServeLine(const std::string& name, SlaveCore& core, const LineTiming& line, const LineSettings& port,
              const std::string& settings) {
  std::string error;
  const auto end = vantrel::OpenDeviceEnd(name, port.baud, port.parity, port.dataBits, port.stopBits, error);
  if (!end) return Fail(error);
  if (line.strict && !end->SeesFarEnd()) {
    return Fail("--strict-line needs a pseudo-terminal, whose far end's settings can be seen");
  }
  std::printf("vantrel-slave: %s on %s, %s\n", SlavesText(core.ids()).c_str(), end->Where().c_str(), settings.c_str());
  std::fflush(stdout);

  // RTU frames of a function without fixed layout end in silence; ASCII ones at CR LF only.
  const bool rtu = core.mode() == ModbusMode::Rtu;
  LineWatch watch(line.own);
  LineWatch* const strict = line.strict ? &watch : nullptr;
  vantrel::Link& link = end->link();
  std::vector<std::uint8_t> buffer;
  long long firstByteNs = 0;
  while (!g_stop) {
    const int r = link.WaitReadable(buffer.empty() || !rtu ? 200 : line.silenceMs);
    if (r < 0) {
      // A COM port can go away (an adapter pulled); the pseudo-terminal, held open, cannot.
      if (link.DeviceLost()) {
        std::fprintf(stderr, "vantrel-slave: %s went away: %s\n", end->Where().c_str(),
                     vantrel::platform::ErrorText(link.LastError()).c_str());
        return 1;
      }
      break;
    }
    if (r == 0) {
      // Silence after bytes: whatever came is one frame.
      if (rtu && !buffer.empty()) {
        Serve(*end, core, buffer, firstByteNs, line.charNs, strict);
        buffer.clear();
      }
      continue;
    }
    std::uint8_t chunk[1024];
    const int n = link.Read(chunk, sizeof chunk);
    if (n <= 0) continue;
    if (buffer.empty()) firstByteNs = NowNs();
    buffer.insert(buffer.end(), chunk, chunk + n);
    for (;;) {
      const RequestSpan span = SlaveCore::FindRequest(core.mode(), buffer.data(), buffer.size());
      buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(span.skip));
      if (span.overflow) core.NoteOverrun();
      if (span.length <= 0) break;
      const std::vector<std::uint8_t> frame(buffer.begin(), buffer.begin() + span.length);
      buffer.erase(buffer.begin(), buffer.begin() + span.length);
      Serve(*end, core, frame, firstByteNs, line.charNs, strict);
      firstByteNs = NowNs();
    }
    if (buffer.size() > 1024) {  // line noise: start afresh, as a device whose buffer overran
      buffer.clear();
      core.NoteOverrun();
    }
  }
  link.Close();  // the pseudo-terminal's link removed
  return 0;
}

// "[ADDRESS:]PORT", an IPv6 address in brackets; the port 0 to 65535.
bool ParseListenAddress(const std::string& text, std::string& address, int& port) {
  const std::size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    address = text.substr(0, colon);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
      address = address.substr(1, address.size() - 2);
    }
    if (address.empty()) return false;
  }
  const std::string digits = colon == std::string::npos ? text : text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  port = std::atoi(digits.c_str());
  return port <= 65535;
}

// "KEY=VALUE" with KEY a number from low to high.
bool ParseKeyed(const std::string& text, long low, long high, long& key, std::string& value) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || !ParseInt(text.substr(0, eq).c_str(), low, high, key)) return false;
  value = text.substr(eq + 1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::uint8_t> ids{11};  // the program's default request
  long baud = 9600, dataBits = 8, stopBits = 1;
  int parityBits = 0;
  const char* parityName = "none";
  bool pacing = true, faultOffsets = true, readOnly = false, strictLine = false, basicIdOnly = false;
  std::string imagePath, savePath, mapPath;
  Fault every;
  std::map<int, Fault> extraFaults;
  std::map<std::uint8_t, Fault> idFaults;
  DeviceIdentity identity = DeviceIdentity::Defaults();
  ServerInfo server = ServerInfo::Defaults();
  FileLayout files;
  std::vector<unsigned> fifos;

  ModbusMode mode = ModbusMode::Rtu;
  TcpServerOptions tcp;
  bool network = false;

  enum {
    kNoPacing = 1000, kFaultAt, kNoFaultOffsets, kSave, kReadOnly, kTcp, kRtuOverTcp, kIdle, kFaultId,
    kVendor, kProduct, kRevision, kModel, kIdObject, kBasicIdOnly, kNoDeviceId, kIdChunk, kStrictLine, kMap,
    kExceptionStatus, kServerId, kRunIndicator, kServerData, kFiles, kFileRecords, kFifo,
  };
  static const option longOptions[] = {
      {"id", required_argument, nullptr, 'a'},
      {"mode", required_argument, nullptr, 'm'},
      {"tcp", required_argument, nullptr, kTcp},
      {"rtu-over-tcp", required_argument, nullptr, kRtuOverTcp},
      {"idle-timeout", required_argument, nullptr, kIdle},
      {"baud", required_argument, nullptr, 'b'},
      {"data-bits", required_argument, nullptr, 'd'},
      {"parity", required_argument, nullptr, 'P'},
      {"stop-bits", required_argument, nullptr, 's'},
      {"no-pacing", no_argument, nullptr, kNoPacing},
      {"image", required_argument, nullptr, 'i'},
      {"save", required_argument, nullptr, kSave},
      {"map", required_argument, nullptr, kMap},
      {"read-only", no_argument, nullptr, kReadOnly},
      {"fault", required_argument, nullptr, 'f'},
      {"fault-at", required_argument, nullptr, kFaultAt},
      {"fault-id", required_argument, nullptr, kFaultId},
      {"vendor", required_argument, nullptr, kVendor},
      {"product", required_argument, nullptr, kProduct},
      {"revision", required_argument, nullptr, kRevision},
      {"model", required_argument, nullptr, kModel},
      {"id-object", required_argument, nullptr, kIdObject},
      {"basic-id-only", no_argument, nullptr, kBasicIdOnly},
      {"no-device-id", no_argument, nullptr, kNoDeviceId},
      {"id-chunk", required_argument, nullptr, kIdChunk},
      {"strict-line", no_argument, nullptr, kStrictLine},
      {"exception-status", required_argument, nullptr, kExceptionStatus},
      {"server-id", required_argument, nullptr, kServerId},
      {"run-indicator", required_argument, nullptr, kRunIndicator},
      {"server-data", required_argument, nullptr, kServerData},
      {"files", required_argument, nullptr, kFiles},
      {"file-records", required_argument, nullptr, kFileRecords},
      {"fifo", required_argument, nullptr, kFifo},
      {"no-fault-offsets", no_argument, nullptr, kNoFaultOffsets},
      {"quiet", no_argument, nullptr, 'q'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  int c;
  std::string error;
  long idle = tcp.idleSeconds;
  while ((c = getopt_long(argc, argv, "a:m:b:d:P:s:i:f:qhV", longOptions, nullptr)) != -1) {
    switch (c) {
      case 'm':
        if (std::strcmp(optarg, "rtu") == 0) {
          mode = ModbusMode::Rtu;
        } else if (std::strcmp(optarg, "ascii") == 0) {
          mode = ModbusMode::Ascii;
        } else {
          return Fail("-m: rtu or ascii on the pseudo-terminal (--tcp, --rtu-over-tcp for TCP)");
        }
        break;
      case kTcp:
      case kRtuOverTcp:
        if (!ParseListenAddress(optarg, tcp.address, tcp.port)) {
          return Fail(std::string("--") + (c == kTcp ? "tcp" : "rtu-over-tcp") +
                      " wants [ADDRESS:]PORT, e.g. 1502 or 0.0.0.0:502");
        }
        network = true;
        mode = c == kTcp ? ModbusMode::Tcp : ModbusMode::RtuOverTcp;
        break;
      case kIdle:
        if (!ParseInt(optarg, 1, 86400, idle)) return Fail("--idle-timeout: seconds, 1 to 86400");
        tcp.idleSeconds = static_cast<int>(idle);
        break;
      case 'a':
        if (!ParseIdList(optarg, ids, error)) return Fail("-a: " + error);
        break;
      case 'b':
        if (!ParseInt(optarg, 50, 4000000, baud)) return Fail("bad baud rate");
        break;
      case 'd':
        if (!ParseInt(optarg, 7, 8, dataBits)) return Fail("data bits must be 7 or 8");
        break;
      case 's':
        if (!ParseInt(optarg, 1, 2, stopBits)) return Fail("stop bits must be 1 or 2");
        break;
      case 'P':
        parityName = optarg;
        if (std::strcmp(optarg, "none") == 0) {
          parityBits = 0;
        } else if (std::strcmp(optarg, "even") == 0 || std::strcmp(optarg, "odd") == 0 ||
                   std::strcmp(optarg, "mark") == 0 || std::strcmp(optarg, "space") == 0) {
          parityBits = 1;
        } else {
          return Fail("parity must be none, even, odd, mark or space");
        }
        break;
      case kNoPacing: pacing = false; break;
      case 'i': imagePath = optarg; break;
      case kSave: savePath = optarg; break;
      case kMap: mapPath = optarg; break;
      case kReadOnly: readOnly = true; break;
      case 'f':
        if (!ParseFault(optarg, every, error)) return Fail(error);
        break;
      case kFaultAt:
      case kFaultId: {
        const bool atOffset = c == kFaultAt;
        long key = 0;
        std::string faultText;
        Fault f;
        if (!ParseKeyed(optarg, 1, atOffset ? 65536 : 247, key, faultText)) {
          return Fail(atOffset ? "--fault-at wants OFFSET=SPEC, e.g. 100=exception=2"
                               : "--fault-id wants ID=SPEC (1 to 247), e.g. 17=exception=2");
        }
        if (!ParseFault(faultText, f, error)) return Fail(error);
        if (atOffset) {
          extraFaults[static_cast<int>(key)] = f;
        } else {
          idFaults[static_cast<std::uint8_t>(key)] = f;
        }
        break;
      }
      case kNoFaultOffsets: faultOffsets = false; break;
      case kVendor:
      case kProduct:
      case kRevision:
      case kModel:
      case kIdObject: {
        long object = c == kVendor ? 0 : c == kProduct ? 1 : c == kRevision ? 2 : 5;
        std::string text = optarg;
        if (c == kIdObject && !ParseKeyed(optarg, 0, 255, object, text)) {
          return Fail("--id-object wants ID=TEXT, e.g. 4=Pump controller or 0x80=serial 1234");
        }
        if (!identity.Set(static_cast<std::uint8_t>(object), text, error)) return Fail(error);
        break;
      }
      case kBasicIdOnly: basicIdOnly = true; break;
      case kNoDeviceId: identity.offered = false; break;
      case kIdChunk: {
        long most = 0;
        if (!ParseInt(optarg, 1, 255, most)) return Fail("--id-chunk: objects per reply, 1 to 255");
        identity.objectsPerReply = static_cast<int>(most);
        break;
      }
      case kStrictLine: strictLine = true; break;
      case kExceptionStatus:
      case kServerId: {
        long byte = 0;
        if (!ParseInt(optarg, 0, 255, byte)) {
          return Fail(c == kServerId ? "--server-id: 0 to 255" : "--exception-status: 0 to 255");
        }
        (c == kServerId ? server.serverId : server.exceptionStatus) = static_cast<int>(byte);
        break;
      }
      case kRunIndicator:
        if (std::strcmp(optarg, "on") != 0 && std::strcmp(optarg, "off") != 0) return Fail("--run-indicator: on or off");
        server.running = std::strcmp(optarg, "on") == 0;
        break;
      case kServerData:
        server.data = optarg;
        if (server.data.size() > ServerInfo::kMaxDataSize) {
          return Fail("--server-data: at most " + std::to_string(ServerInfo::kMaxDataSize) + " bytes, to fit a reply");
        }
        break;
      case kFiles:
      case kFileRecords: {
        long n = 0;
        const bool count = c == kFiles;
        if (!ParseInt(optarg, count ? 0 : 1, count ? FileLayout::kMostFiles : FileLayout::kMostRecords, n)) {
          return Fail(count ? "--files: 0 to " + std::to_string(FileLayout::kMostFiles)
                            : "--file-records: 1 to " + std::to_string(FileLayout::kMostRecords));
        }
        (count ? files.files : files.records) = static_cast<int>(n);
        break;
      }
      case kFifo: {
        long pointer = 0;
        if (!ParseInt(optarg, 0, 65535, pointer)) return Fail("--fifo: a holding register address, 0 to 65535");
        fifos.push_back(static_cast<unsigned>(pointer));
        break;
      }
      case 'q': SetQuiet(true); break;
      case 'h': std::fputs(kUsage, stdout); return 0;
      case 'V': std::printf("vantrel-slave %s\n", vantrel::kProjectVersion); return 0;
      default: std::fputs(kUsage, stderr); return 2;
    }
  }
  if (network && strictLine) return Fail("--strict-line is for the pseudo-terminal; TCP has no line settings");
  if (network && !vantrel::IsNetworkMode(mode)) {
    return Fail("-m is for the pseudo-terminal; --tcp and --rtu-over-tcp have their own framing");
  }
  // A LINK for the pseudo-terminal; none over TCP.
  if (optind != argc - (network ? 0 : 1)) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  std::map<int, Fault> faults = faultOffsets ? DefaultFaultOffsets() : std::map<int, Fault>{};
  for (const auto& [offset, f] : extraFaults) faults[offset] = f;
  SlaveCore core(ids, MemoryImage::Pattern(files), every, faults);
  std::string note;
  if (!imagePath.empty() && !core.Load(imagePath, error, &note)) return Fail(error);
  if (!note.empty()) std::fprintf(stderr, "vantrel-slave: %s\n", note.c_str());
  if (!mapPath.empty()) {
    // The map's own message names the file, line and column.
    vantrel::RegisterMap map;
    if (!vantrel::LoadMap(mapPath, map, error)) return Fail("--map: " + error);
    if (!core.ApplyMap(map, error)) return Fail("--map: " + mapPath + ": " + error);
  }
  for (const auto& [id, f] : idFaults) {
    if (!core.Serves(id)) return Fail("--fault-id: slave id " + std::to_string(id) + " is not served (-a)");
    core.setFaultForId(id, f);
  }
  if (basicIdOnly) identity.objects.erase(identity.objects.upper_bound(0x02), identity.objects.end());
  core.setIdentity(std::move(identity));
  core.setServerInfo(std::move(server));
  core.setFifos(std::move(fifos));
  core.setReadOnly(readOnly);
  core.setMode(mode);

  vantrel::platform::CatchStop(OnSignal);
  vantrel::platform::CatchHangUp(OnSignal);
  vantrel::platform::IgnoreBrokenPipe();

  int status;
  if (network) {
    status = ServeTcp(tcp, core, g_stop);
  } else {
    const int bitsPerChar = 1 + static_cast<int>(dataBits) + parityBits + static_cast<int>(stopBits);
    LineTiming line;
    line.charNs = pacing ? 1000000000LL * bitsPerChar / baud : 0;
    // End of a frame without a fixed layout: 3.5 character times of silence.
    line.silenceMs = pacing ? vantrel::QuietGapMs(static_cast<int>(baud), bitsPerChar) : 2;
    line.own = LineSpeed{baud, static_cast<int>(stopBits)};
    line.strict = strictLine;
    char settings[96];
    std::snprintf(settings, sizeof settings, "%ld baud %ld%c%ld%s%s%s", baud, dataBits,
                  static_cast<char>(std::toupper(parityName[0])), stopBits, mode == ModbusMode::Ascii ? ", ASCII" : "",
                  pacing ? "" : ", not paced", strictLine ? ", strict line" : "");
    const LineSettings port{static_cast<int>(baud), static_cast<char>(std::toupper(parityName[0])),
                            static_cast<int>(dataBits), static_cast<int>(stopBits)};
    status = ServeLine(argv[optind], core, line, port, settings);
  }
  if (status != 0) return status;
  if (!savePath.empty() && !core.Save(savePath, error)) {
    std::fprintf(stderr, "vantrel-slave: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
