// The Modbus slave of vantrel-slave: one or several slave ids, each with its memory image and
// its communication state, the answers to every public function in the framing of its mode,
// and the faults it can be asked to inject. Kept apart from the pseudo-terminal and the
// sockets so that tests can drive it with frames.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "CommState.h"
#include "DeviceIdentity.h"
#include "modbus/Framing.h"
#include "session/RegisterMap.h"

namespace vantrel::slave {

struct Fault {
  enum Kind {
    None,
    Exception,  // arg: exception code
    BadCrc,     // the reply's last CRC byte is flipped
    Silence,    // no reply at all
    Delay,      // arg: milliseconds before the reply
    Split,      // arg: pause in milliseconds between the two halves of the reply
    Garbage,    // bytes that are no Modbus frame instead of the reply
    WrongId,    // the reply carries another slave id
    Function,   // arg: function code the reply carries instead
    Noise,      // one stray byte on the line before the reply
    Short,      // a read reply carries one data byte (coils) or register too few
    Echo,       // a write reply names the address after the one written
    // Modbus TCP only (nothing changes on the serial line or RTU over TCP):
    WrongTransaction,  // the reply carries the next transaction id, not the request's
    MbapLength,        // arg: the length the reply's MBAP header gives
    // The first half of the reply, then the connection is closed (on a serial line: nothing
    // more comes).
    Cut,
    // The reply as a master at other line settings receives it: every byte inverted, so
    // that neither a frame nor its check holds. A write it answers does not take effect.
    Garble,
  };
  Kind kind = None;
  int arg = 0;
};

// Parses "exception=N", "bad-crc", "silence", "delay=MS", "split=MS", "garbage",
// "wrong-id", "function=N", "noise", "short", "echo", "wrong-transaction",
// "mbap-length=N", "close", "garble" (N decimal or 0x hex).
bool ParseFault(const std::string& spec, Fault& out, std::string& error);

// The faults asked for by the request's start offset (counted from 1, as the program and
// vantrel-poll -r count), whatever the function that names an offset: the address of 01 to
// 06, 15, 16 and 22, the read address of 23, the FIFO pointer of 24, the first record number
// of 20 and 21 (none for 07, 08, 11, 12, 17 and 43):
//   9001..9011 exception 01..0B, 9020 bad CRC, 9021 silence, 9022 delay 500 ms,
//   9023 split with a 300 ms pause, 9024 garbage, 9025 another slave id,
//   9026 function code 0x66, 9027 function code 0x05, 9028 function code 0x00,
//   9029 a write reply echoing the next address, 9030 another transaction id,
//   9031 MBAP length 65535, 9032 the connection closed half way through the reply.
std::map<int, Fault> DefaultFaultOffsets();

// The files of Read and Write File Record (20, 21): how many, of how many records each.
struct FileLayout {
  static constexpr int kMostFiles = 64;
  // Record numbers go up to 0x270F in a request.
  static constexpr int kMostRecords = 10000;
  int files = 4;
  int records = 10000;
};

struct MemoryImage {
  static constexpr std::size_t kSize = 65536;
  std::vector<std::uint8_t> coils = std::vector<std::uint8_t>(kSize);
  std::vector<std::uint8_t> discrete = std::vector<std::uint8_t>(kSize);
  std::vector<std::uint16_t> holding = std::vector<std::uint16_t>(kSize);
  std::vector<std::uint16_t> input = std::vector<std::uint16_t>(kSize);
  // File n (counted from 1, as requests number them) is files[n - 1], its records in order.
  std::vector<std::vector<std::uint16_t>> files;

  // The pattern served by default, recognisable at a glance (a = 0-based address):
  // coil a is 1 when a is even; discrete input a is 1 when a is a multiple of 3;
  // holding register a holds a + 1 (its offset as the program counts); input register a
  // holds (a + 1) * 10, modulo 65536; record r of file f holds f * 10000 + r, modulo 65536.
  static MemoryImage Pattern(FileLayout layout = {});

  // Applies lines "TABLE ADDRESS[-LAST] [TYPE] VALUE" (or "file F RECORD[-LAST] [TYPE]
  // VALUE") to the image; see --help.
  bool Load(const std::string& path, std::string& error);
  bool ApplyLine(const std::string& line, std::string& error);
  // Sets each item of the map that has a starting value, in the map's order: the value
  // encoded in the item's word order (low-first when it has none); a bit item changes only
  // its bit of the register as it stands. False, with error naming the item, for a value
  // that cannot be encoded; the items before it stay set.
  bool ApplyMap(const vantrel::RegisterMap& map, std::string& error);

  // The image as lines that Load reads back to the same tables: a comment, then Lines().
  std::string Text() const;
  // Per table each run of equal values that differs from the pattern, as
  // TABLE ADDRESS[-LAST] VALUE (files as file F RECORD[-LAST] VALUE); "" when the image is
  // the pattern.
  std::string Lines() const;
  // Writes Text() to a temporary file beside path and renames it over path, so that a
  // failed save leaves the old file whole.
  bool Save(const std::string& path, std::string& error) const;
};

struct Reply {
  std::vector<std::uint8_t> bytes;
  int delayMs = 0;
  std::size_t splitAt = 0;  // 0: in one piece
  int splitPauseMs = 0;
  bool cutOff = false;  // only the bytes before splitAt go, then the connection is closed
  Fault fault;          // the fault that shaped it
};

// Where the next request lies in the bytes received: the first skip bytes are noise, then
// come length bytes of a whole request; length 0 while it is not whole yet,
// kEndsBySilence when its end is found by silence (RTU, a function without fixed layout),
// kImpossible when no request can be that long (an MBAP length under 2 or over 254: the
// connection is to be dropped). overflow: the bytes skipped were the start of a frame
// longer than any (ASCII), dropped as a device's buffer overruns.
struct RequestSpan {
  static constexpr int kEndsBySilence = -1;
  static constexpr int kImpossible = -2;
  std::size_t skip = 0;
  int length = 0;
  bool overflow = false;
};

// What Report Server ID (17) and Read Exception Status (07) answer, the same for every id.
struct ServerInfo {
  // PDU of 253 bytes: the function, the byte count, the server id and the run indicator.
  static constexpr std::size_t kMaxDataSize = 253 - 4;
  int serverId = -1;         // the byte that names the server; -1: the slave id asked
  bool running = true;       // the run indicator: 0xFF ON, 0x00 OFF
  std::string data;          // the additional data
  int exceptionStatus = -1;  // 07's byte; -1: coils 0 to 7 of the id asked, coil 0 in bit 0
  // The additional data "vantrel-slave VERSION".
  static ServerInfo Defaults();
};

// "1,5,17-20": slave ids 1 to 247, single or as ranges; sorted, each once. False with a
// reason for anything else.
bool ParseIdList(const std::string& text, std::vector<std::uint8_t>& ids, std::string& error);
// The ids as ParseIdList reads them, runs of three or more as ranges: "1,5,17-20".
std::string IdListText(const std::vector<std::uint8_t>& ids);

class SlaveCore {
 public:
  SlaveCore(std::uint8_t id, MemoryImage image, Fault everyReply,
            std::map<int, Fault> byOffset = DefaultFaultOffsets());
  // Several slave ids on one line (ids as ParseIdList gives them, at least one), each with
  // tables of its own that start as image: a write to one changes no other.
  SlaveCore(std::vector<std::uint8_t> ids, MemoryImage image, Fault everyReply,
            std::map<int, Fault> byOffset = DefaultFaultOffsets());

  // Length of the RTU request frame that starts with these bytes: 0 while unknown, -1 when
  // its function has no fixed layout (the end is then found by silence on the line).
  static int RequestLength(const std::uint8_t* bytes, std::size_t size);
  // The next request of mode among the bytes received (see RequestSpan). ASCII: from ':'
  // to CR LF, bytes before the ':' being noise; TCP: by the MBAP length.
  static RequestSpan FindRequest(ModbusMode mode, const std::uint8_t* bytes, std::size_t size);

  // The framing of requests and replies: RTU (the default), ASCII, Modbus TCP, or RTU over
  // TCP, which is RTU.
  void setMode(ModbusMode mode) { mode_ = mode; }
  ModbusMode mode() const { return mode_; }

  // The answer to one complete frame of the mode, or nothing: a frame with a bad CRC or
  // LRC, for a slave id not served or broadcast, for an id in listen-only mode, Force Listen
  // Only Mode (08/04) itself, or silenced by a fault. Every frame is counted in the
  // communication state (see CommState) of the ids it concerns. A fault means the same
  // in every mode: bad-crc spoils ASCII's LRC (Modbus TCP has no check to spoil), garbage
  // and noise go on the link as they are.
  // A write changes the image only when its own correct reply goes out (on time or
  // delayed, split or after noise); a refused or faulted one changes nothing. So do the
  // diagnostics that clear or restart. A broadcast write (05, 06, 15, 16, 21, 22) gets no
  // reply and is applied to every id by the same rule, as if it had been sent to it; other
  // broadcasts are ignored.
  // change, when given, is set to what the frame changed ("" for nothing).
  std::optional<Reply> Answer(const std::uint8_t* frame, std::size_t size,
                              std::string* change = nullptr);

  // Every write (05, 06, 15, 16, 21, 22, 23) is then answered with exception 01 and changes
  // nothing.
  void setReadOnly(bool readOnly) { readOnly_ = readOnly; }
  void setServerInfo(ServerInfo info) { server_ = std::move(info); }
  const ServerInfo& serverInfo() const { return server_; }
  // The pointer addresses of Read FIFO Queue (24); empty: any holding register is one. A
  // FIFO is its count in the pointer register and the values in the registers after it.
  void setFifos(std::vector<unsigned> pointers);
  // The bytes received were more than a request can be and were dropped: an overrun on
  // the line, counted for every id.
  void NoteOverrun();
  // The communication state of a served id.
  const CommState& comm(std::uint8_t id) const;
  // A fault for every reply of one slave id, in place of everyReply; a fault by offset
  // still comes first.
  void setFaultForId(std::uint8_t id, Fault fault) { byId_[id] = fault; }
  // The objects of Read Device Identification (function 43, MEI type 14), the same for
  // every id; Defaults() unless set.
  void setIdentity(DeviceIdentity identity) { identity_ = std::move(identity); }
  const DeviceIdentity& identity() const { return identity_; }
  // While set, the far end of the line is at other settings than ours: every reply to an
  // id served goes out garbled (Fault::Garble, whatever else was asked), and no write
  // takes effect, since the request was not understood as sent.
  void setLineMismatch(bool mismatch) { lineMismatch_ = mismatch; }

  const std::vector<std::uint8_t>& ids() const { return ids_; }
  bool Serves(std::uint8_t id) const;
  // The tables of a served id (of an id not served: those every id starts with); without
  // an id, of the first one served.
  MemoryImage& image(std::uint8_t id);
  const MemoryImage& image(std::uint8_t id) const;
  MemoryImage& image() { return image(ids_.front()); }
  const MemoryImage& image() const { return image(ids_.front()); }

  // Loads an image file (see MemoryImage::ApplyLine): the lines before the first
  // "id LIST" line (LIST as ParseIdList reads it) set the tables of every id, the lines
  // after one the tables of the ids it lists only. Lines for ids not served are skipped,
  // and note tells which ids those were ("" when none).
  bool Load(const std::string& path, std::string& error, std::string* note = nullptr);
  // Applies the map's starting values (MemoryImage::ApplyMap) to the tables of every id.
  bool ApplyMap(const vantrel::RegisterMap& map, std::string& error);
  // The tables as an image file that Load reads back to the same: with one id
  // MemoryImage::Text(); with several, an "id N" line before the lines of each id whose
  // tables differ from the pattern.
  std::string Text() const;
  // Writes Text() as MemoryImage::Save writes its own.
  bool Save(const std::string& path, std::string& error) const;

 private:
  // What a request asks, before any fault: see SlaveCore.cpp.
  struct Handling;

  // The answer to an RTU frame, as a reply in RTU.
  std::optional<Reply> AnswerRtu(const std::uint8_t* frame, std::size_t size, std::string* change);
  // The reply a correct device gives to a well-framed request to id (0: broadcast).
  Handling Handle(std::uint8_t id, const std::uint8_t* frame, std::size_t size) const;
  std::vector<std::uint8_t> FifoReply(const MemoryImage& image, std::uint8_t id, unsigned pointer, int& refusal) const;
  CommState& CommOf(std::uint8_t id);
  // A frame that did not check out (or was not understood): counted by every id, as each
  // device on a line sees it and cannot tell whom it was for.
  void LineError();
  // Puts an RTU reply into the framing of the mode; transaction: the request's (TCP).
  void Reframe(Reply& reply, std::uint16_t transaction) const;
  // Whether the master gets this reply as the right answer, so that a write may take effect.
  bool CorrectReply(Fault::Kind fault) const;
  // The fault for a request to id (0: broadcast) that starts at address, when it names one.
  Fault FaultFor(std::uint8_t id, const unsigned* address) const;
  static std::vector<std::uint8_t> Normal(const MemoryImage& image, const std::uint8_t* frame, unsigned address,
                                          unsigned quantity);
  // Carries out a write whose request checked out: what it changed, for the log.
  static std::string Apply(MemoryImage& image, const std::uint8_t* frame, std::size_t size);

  std::vector<std::uint8_t> ids_;
  // The tables every id starts with; an id's own copy is made at its first change, so that
  // 247 ids cost no more memory than the ids written to.
  MemoryImage common_;
  std::map<std::uint8_t, MemoryImage> own_;
  Fault every_;
  std::map<int, Fault> byOffset_;
  std::map<std::uint8_t, Fault> byId_;
  DeviceIdentity identity_ = DeviceIdentity::Defaults();
  ServerInfo server_ = ServerInfo::Defaults();
  std::vector<unsigned> fifos_;
  // Per id served, in the order of ids_.
  std::vector<CommState> comm_;
  bool readOnly_ = false;
  bool lineMismatch_ = false;
  ModbusMode mode_ = ModbusMode::Rtu;
};

// Spoils the bytes as Fault::Garble says; however it falls, they never end in a good CRC.
void GarbleBytes(std::vector<std::uint8_t>& bytes);
// Writes text to a temporary file beside path and renames it over path.
bool SaveText(const std::string& path, const std::string& text, std::string& error);

// Appends the CRC (low-order byte first).
void AppendCrc(std::vector<std::uint8_t>& frame);
std::string Hex(const std::uint8_t* bytes, std::size_t size);

}  // namespace vantrel::slave
