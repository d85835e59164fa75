// The functions beside reads, writes and device identification, driven by RTU frames: Read
// Exception Status, Diagnostics, the event counter and log, Report Server ID, file records,
// Mask Write Register, Read/Write Multiple Registers and Read FIFO Queue; the counters and
// the event log after a known sequence, listen-only mode, broadcasts and faults.
#include <gtest/gtest.h>

#include <sstream>

#include "SlaveCore.h"
#include "modbus/Framing.h"
#include "modbus/ModbusFrame.h"
#include "support/Hex.h"
#include "support/TempDir.h"

using namespace vantrel::slave;
using vantrel::test::Bytes;
using vantrel::test::HexOf;

namespace {

std::vector<std::uint8_t> Framed(const std::string& hex) {
  auto frame = Bytes(hex);
  AppendCrc(frame);
  return frame;
}

// The reply to a request written in hex without its CRC, in hex without its CRC once the
// CRC is checked; "none" for no reply.
std::string Exchange(SlaveCore& core, const std::string& request, std::string* change = nullptr) {
  const auto frame = Framed(request);
  const auto r = core.Answer(frame.data(), frame.size(), change);
  if (!r) return "none";
  const auto& b = r->bytes;
  if (b.size() < 4 || vantrel::Crc16(b.data(), static_cast<std::uint16_t>(b.size())) != 0) return "bad CRC: " + HexOf(b);
  return HexOf(b.data(), b.size() - 2);
}

// Image lines separated by ';'.
void Apply(SlaveCore& core, std::uint8_t id, const std::string& lines) {
  std::istringstream in(lines);
  std::string error;
  for (std::string line; std::getline(in, line, ';');) ASSERT_TRUE(core.image(id).ApplyLine(line, error)) << line << error;
}

std::string Repeat(const std::string& hex, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += (out.empty() ? "" : " ") + hex;
  return out;
}

}  // namespace

// Each request on a slave of id 17 as it stands after the requests before it; the examples of
// the Modbus application protocol where they fit.
TEST(slave_functions, requests_and_replies) {
  const struct {
    const char* image;  // lines set before the request, ';' between them
    std::string request;
    const char* reply;
  } steps[] = {
      // Read Exception Status: coils 0 to 7, coil 0 in bit 0
      {"", "11 07", "11 07 55"},
      {"coil 3 1;coil 4 0;coil 5 1", "11 07", "11 07 6D"},
      {"", "11 07 00", "11 87 03"},
      // Diagnostics
      {"", "11 08 00 00 A5 37", "11 08 00 00 A5 37"},
      {"", "11 08 00 00 01 02 03 04 05", "11 08 00 00 01 02 03 04 05"},
      {"", "11 08 00 02 00 00", "11 08 00 02 00 00"},
      {"", "11 08 00 03 3A 00", "11 88 01"},  // the ASCII delimiter is not one to change
      {"", "11 08 00 15 00 00", "11 88 01"},
      {"", "11 08 00 0B 00 01", "11 88 03"},
      {"", "11 08 00 01 12 34", "11 88 03"},
      {"", "11 08 00 0E", "11 88 03"},
      {"", "11 08 00", "11 88 03"},
      {"", "11 08 00 14 00 00", "11 08 00 14 00 00"},
      {"", "11 08 00 01 FF 00", "11 08 00 01 FF 00"},  // a restart that clears the log
      {"", "11 08 00 0B 00 00", "11 08 00 0B 00 01"},  // counted anew from the restart
      {"", "11 0B", "11 0B 00 00 00 01"},
      {"", "11 0C", "11 0C 0C 00 00 00 01 00 03 80 40 80 40 80 00"},
      // Report Server ID: the defaults are checked against the program
      {"", "11 11 00", "11 91 03"},
      // Read File Record: the example's two groups, then the pattern's record 0 of file 1
      {"file 4 1 0x0DFE;file 4 2 0x0020;file 3 9 0x33CD;file 3 10 0x0040",
       "11 14 0E 06 00 04 00 01 00 02 06 00 03 00 09 00 02", "11 14 0C 05 06 0D FE 00 20 05 06 33 CD 00 40"},
      {"", "11 14 07 06 00 01 00 00 00 01", "11 14 04 03 06 27 10"},
      {"", "11 14 07 06 00 04 27 0F 00 01", "11 14 04 03 06 C3 4F"},  // file 4, record 9999
      {"", "11 14 07 06 00 05 00 00 00 01", "11 94 02"},
      {"", "11 14 07 06 00 00 00 00 00 01", "11 94 02"},
      {"", "11 14 07 06 00 01 27 0F 00 02", "11 94 02"},
      {"", "11 14 07 07 00 01 00 00 00 01", "11 94 02"},
      {"", "11 14 07 06 00 01 00 00 00 00", "11 94 03"},
      {"", "11 14 06 06 00 01 00 00 00", "11 94 03"},
      {"", "11 14 07 06 00 01 00 00 00 7D", "11 94 03"},  // 125 records do not fit a reply
      {"", "11 14 07 06 00 01 00 00", "11 94 03"},
      // Write File Record: the example, echoed and read back; an exception changes nothing
      {"", "11 15 0D 06 00 04 00 07 00 03 06 AF 04 BE 10 0D", "11 15 0D 06 00 04 00 07 00 03 06 AF 04 BE 10 0D"},
      {"", "11 14 07 06 00 04 00 06 00 05", "11 14 0C 0B 06 9C 46 06 AF 04 BE 10 0D 9C 4A"},
      {"", "11 15 09 06 00 04 27 0F 00 02 00 01", "11 95 03"},
      {"", "11 15 10 06 00 04 27 0F 00 02 00 01 00 02", "11 95 03"},
      {"", "11 15 0B 06 00 04 27 0F 00 02 00 01 00 02", "11 95 02"},
      {"", "11 14 07 06 00 04 27 0F 00 01", "11 14 04 03 06 C3 4F"},
      // Mask Write Register: the example, read back
      {"holding 4 0x12", "11 16 00 04 00 F2 00 25", "11 16 00 04 00 F2 00 25"},
      {"", "11 03 00 04 00 01", "11 03 02 00 17"},
      {"", "11 16 00 04 00 F2", "11 96 03"},
      // Read/Write Multiple Registers: the example, then a write and a read that overlap
      {"holding 3 0xFE;holding 4 0xACD;holding 5 1;holding 6 3;holding 7 0xD;holding 8 0xFF",
       "11 17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF", "11 17 0C 00 FE 0A CD 00 01 00 03 00 0D 00 FF"},
      {"", "11 03 00 0E 00 03", "11 03 06 00 FF 00 FF 00 FF"},
      {"", "11 17 00 63 00 04 00 64 00 02 04 00 01 00 02", "11 17 08 00 64 00 01 00 02 00 67"},
      {"", "11 17 00 00 00 7E 00 00 00 01 02 00 00", "11 97 03"},
      {"", "11 17 00 00 00 01 00 00 00 01 04 00 00 00 00", "11 97 03"},
      {"", "11 17 FF FF 00 02 00 00 00 01 02 00 00", "11 97 02"},
      {"", "11 17 00 00 00 01 FF FF 00 02 04 00 00 00 00", "11 97 02"},
      {"", "11 03 00 00 00 01", "11 03 02 00 01"},  // nothing written by those refused
      {"", "11 17 03 E8 00 01 03 E8 00 79 F2 " + Repeat("00", 242), "11 17 02 00 00"},  // the most written
      // Read FIFO Queue: the pattern's register 0 counts 1, then the example
      {"", "11 18 00 00", "11 18 00 04 00 01 00 02"},
      {"holding 1246 2;holding 1247 0x01B8;holding 1248 0x1284", "11 18 04 DE", "11 18 00 06 00 02 01 B8 12 84"},
      {"holding 100 0", "11 18 00 64", "11 18 00 02 00 00"},
      {"", "11 18 00 1F", "11 98 03"},  // 32 queued
      {"holding 65535 1", "11 18 FF FF", "11 98 02"},
      {"", "11 18 00", "11 98 03"},
      // neither a public function nor an MEI type served
      {"", "11 41", "11 C1 01"},
      {"", "11 2B 0D 00 00", "11 AB 01"},
  };
  SlaveCore core(17, MemoryImage::Pattern(), Fault{}, {});
  for (const auto& s : steps) {
    Apply(core, 17, s.image);
    EXPECT_EQ(Exchange(core, s.request), s.reply) << s.request.substr(0, 50);
  }
  // the write of file records and the mask write changed what their reply says, and only that
  EXPECT_EQ(core.image(17).files[3][8], 0x04BE);
  EXPECT_EQ(core.image(17).files[3][9999], 0xC34F);
  EXPECT_EQ(core.image(17).holding[101], 2);
}

// Report Server ID and Read Exception Status as set, and a FIFO that is not every address.
TEST(slave_functions, server_id_exception_status_and_fifos) {
  SlaveCore core({3, 17}, MemoryImage::Pattern(), Fault{}, {});
  ServerInfo info;
  info.serverId = 0x2A;
  info.running = false;
  info.data = "Pump";
  info.exceptionStatus = 0x81;
  core.setServerInfo(info);
  core.setFifos({500, 100, 500});
  Apply(core, 3, "holding 100 1;holding 500 0");
  EXPECT_EQ(Exchange(core, "03 11"), "03 11 06 2A 00 50 75 6D 70");
  EXPECT_EQ(Exchange(core, "11 07"), "11 07 81");
  EXPECT_EQ(Exchange(core, "03 18 00 64"), "03 18 00 04 00 01 00 66");
  EXPECT_EQ(Exchange(core, "03 18 01 F4"), "03 18 00 02 00 00");
  EXPECT_EQ(Exchange(core, "03 18 00 00"), "03 98 02");
  core.setServerInfo(ServerInfo::Defaults());
  const std::string data = ServerInfo::Defaults().data;
  EXPECT_EQ(data.substr(0, 14), "vantrel-slave ");
  const std::vector<std::uint8_t> head{static_cast<std::uint8_t>(2 + data.size()), 17, 0xFF};
  EXPECT_EQ(Exchange(core, "11 11"),
            "11 11 " + HexOf(head) + " " + HexOf(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
}

// The counters and the event log of slave 17 after a known sequence on a line it shares with
// slave 18: the bus counts are the line's, the others each id's own.
TEST(slave_functions, counters_and_event_log_after_a_sequence) {
  SlaveCore core({17, 18}, MemoryImage::Pattern(), Fault{});  // with the built-in fault offsets
  auto badCrc = Framed("11 03 00 00 00 01");
  badCrc.back() ^= 1;
  const struct {
    const char* request;  // "bad crc" for the frame above
    const char* reply;
  } steps[] = {
      {"11 03 00 00 00 01", "11 03 02 00 01"},
      {"bad crc", "none"},
      {"11 03 FF FF 00 02", "11 83 02"},
      {"12 06 00 00 00 07", "12 06 00 00 00 07"},
      {"05 03 00 00 00 01", "none"},
      {"00 06 00 01 00 09", "none"},         // broadcast: taken, unanswered
      {"11 03 23 3C 00 01", "none"},         // 9021: silence
      {"11 03 23 2E 00 01", "11 83 07"},     // 9007: NAK
      {"11 03 23 2D 00 01", "11 83 06"},     // 9006: busy
      {"11 03 23 2D 00 01", "11 83 06"},
      {"11 08 00 0B 00 00", "11 08 00 0B 00 0B"},  // bus messages, this one too
      {"11 08 00 0C 00 00", "11 08 00 0C 00 01"},  // bus communication errors
      {"11 08 00 0D 00 00", "11 08 00 0D 00 04"},  // exceptions
      {"11 08 00 0E 00 00", "11 08 00 0E 00 0B"},  // server messages
      {"11 08 00 0F 00 00", "11 08 00 0F 00 02"},  // no response: the broadcast, the silence
      {"11 08 00 10 00 00", "11 08 00 10 00 01"},  // NAK
      {"11 08 00 11 00 00", "11 08 00 11 00 02"},  // busy
      {"11 08 00 12 00 00", "11 08 00 12 00 00"},  // overruns
      {"11 08 00 02 00 00", "11 08 00 02 00 02"},  // the diagnostic register: a bad CRC came
      {"11 0B", "11 0B 00 00 00 0B"},              // one read, the broadcast, nine diagnostics
      {"12 08 00 0E 00 00", "12 08 00 0E 00 03"},  // 18: its write, the broadcast, this
      {"12 08 00 0B 00 00", "12 08 00 0B 00 16"},  // the same line
  };
  for (const auto& s : steps) {
    std::string got;
    if (std::string(s.request) == "bad crc") {
      got = core.Answer(badCrc.data(), badCrc.size()) ? "reply" : "none";
    } else {
      got = Exchange(core, s.request);
    }
    EXPECT_EQ(got, s.reply) << s.request;
  }
  // Newest first: this request, the ten of its own before it (each received and answered;
  // 18's are not logged here), busy twice (44), NAK (48), the silence (40 unanswered), the
  // broadcast (C0 40), exception 02 (41), the bad CRC (82), the first read.
  const std::string log = "80 " + Repeat("40 80", 10) + " 44 80 44 80 48 80 40 80 40 C0 41 80 82 40 80";
  EXPECT_EQ(Exchange(core, "11 0C"), "11 0C 2A 00 00 00 0B 00 17 " + log);
  EXPECT_EQ(core.comm(17).log.size(), 37u);
  EXPECT_EQ(core.image(17).holding[1], 9);
  EXPECT_EQ(core.image(18).holding[1], 9);
}

// Force Listen Only Mode: no reply, and from then on nothing answered or carried out until a
// restart, which is not answered either; a restart keeps the log unless its data is FF00.
TEST(slave_functions, listen_only_until_restart) {
  SlaveCore core({17, 18}, MemoryImage::Pattern(), Fault{});
  const struct {
    const char* request;
    const char* reply;
    const char* change;
  } steps[] = {
      {"11 08 00 04 00 00", "none", "entered listen-only mode"},
      {"11 03 00 00 00 01", "none", ""},
      {"11 06 00 00 00 07", "none", ""},
      {"00 06 00 00 00 08", "none", "wrote 8 to holding register 0"},  // 18 takes it, 17 does not
      {"11 08 00 0B 00 00", "none", ""},
      {"11 08 00 01 00 00", "none", "left listen-only mode, restarted communications: counters cleared, event log kept"},
      {"11 03 00 00 00 01", "11 03 02 00 01", ""},
      {"12 03 00 00 00 01", "12 03 02 00 08", ""},
      {"11 0C", "11 0C 11 00 00 00 01 00 03 80 40 80 00 A0 A0 E0 A0 A0 04 80", ""},
      {"11 08 00 01 FF 00", "11 08 00 01 FF 00", "restarted communications: counters and event log cleared"},
      {"11 0C", "11 0C 08 00 00 00 00 00 01 80 00", ""},
      {"11 08 00 0A 00 00", "11 08 00 0A 00 00", "cleared the counters and the diagnostic register"},
      {"11 08 00 0B 00 00", "11 08 00 0B 00 01", ""},
  };
  for (const auto& s : steps) {
    std::string change = "?";
    EXPECT_EQ(Exchange(core, s.request, &change), s.reply) << s.request;
    EXPECT_EQ(change, s.change) << s.request;
  }
}

// Bytes dropped for overflow: an RTU frame longer than any, and the line's own drops.
TEST(slave_functions, overruns_and_their_clear) {
  SlaveCore core(17, MemoryImage::Pattern(), Fault{});
  std::vector<std::uint8_t> flood(269, 0x11);  // one byte more than the longest request
  EXPECT_FALSE(core.Answer(flood.data(), flood.size()));
  core.NoteOverrun();
  EXPECT_EQ(Exchange(core, "11 08 00 12 00 00"), "11 08 00 12 00 02");
  EXPECT_EQ(Exchange(core, "11 08 00 02 00 00"), "11 08 00 02 00 01");
  EXPECT_EQ(Exchange(core, "11 0C"), "11 0C 0D 00 00 00 02 00 04 80 40 80 40 80 90 90");
  EXPECT_EQ(Exchange(core, "11 08 00 14 00 00"), "11 08 00 14 00 00");
  EXPECT_EQ(Exchange(core, "11 08 00 12 00 00"), "11 08 00 12 00 00");
  EXPECT_EQ(Exchange(core, "11 08 00 02 00 00"), "11 08 00 02 00 00");
  // 08/14 clears no other count; the line's overrun was no message
  EXPECT_EQ(Exchange(core, "11 08 00 0B 00 00"), "11 08 00 0B 00 08");
  // an ASCII frame longer than any is dropped as an overrun by the line
  const std::string endless = ":" + std::string(600, '0');
  const auto span = SlaveCore::FindRequest(vantrel::ModbusMode::Ascii,
                                           reinterpret_cast<const std::uint8_t*>(endless.data()), endless.size());
  EXPECT_TRUE(span.overflow);
  EXPECT_EQ(span.skip, endless.size());
}

// A broadcast of 05, 06, 15, 16, 21 or 22 is carried out by every id, unanswered and
// counted as such; one of any other function is ignored.
TEST(slave_functions, broadcasts) {
  SlaveCore core({3, 17}, MemoryImage::Pattern(), Fault{});
  const struct {
    const char* request;
    char table;  // 'c' coil, 'h' holding register, 'f' record of file 1
    unsigned address, value;
  } cases[] = {
      {"00 05 00 00 00 00", 'c', 0, 0},
      {"00 06 00 01 00 09", 'h', 1, 9},
      {"00 0F 00 02 00 02 01 02", 'c', 3, 1},
      {"00 10 00 05 00 01 02 12 34", 'h', 5, 0x1234},
      {"00 15 09 06 00 01 00 05 00 01 00 2A", 'f', 5, 42},
      {"00 16 00 01 00 F0 00 03", 'h', 1, 3},
      {"00 17 00 00 00 01 00 07 00 01 02 00 63", 'h', 7, 8},  // ignored
      {"00 08 00 04 00 00", 'h', 0, 1},                       // ignored: nobody goes listen-only
      {"00 06 23 3C 00 05", 'h', 9020, 9021},                 // 9021: silence, so not taken
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Exchange(core, c.request), "none") << c.request;
    for (std::uint8_t id : {3, 17}) {
      const MemoryImage& m = core.image(id);
      const unsigned now = c.table == 'c' ? m.coils[c.address] : c.table == 'h' ? m.holding[c.address]
                                                                                 : m.files[0][c.address];
      EXPECT_EQ(now, c.value) << c.request << " id " << int(id);
    }
  }
  EXPECT_EQ(Exchange(core, "03 08 00 0F 00 00"), "03 08 00 0F 00 09");
  EXPECT_EQ(Exchange(core, "11 08 00 0E 00 00"), "11 08 00 0E 00 0A");
  EXPECT_EQ(Exchange(core, "11 0B"), "11 0B 00 00 00 07");  // six taken, and the reply to 08/0E
}

// Faults by offset (an address, a read address, a FIFO pointer, a first record counted from
// 1) and for every reply, on the new functions; a faulted write changes nothing.
TEST(slave_functions, faults) {
  const struct {
    const char* fault;  // for every reply; "" for the built-in offsets only
    const char* request;
    const char* reply;
    unsigned holding4;  // holding register 4 afterwards
  } cases[] = {
      {"", "11 16 23 28 00 00 00 07", "11 96 01", 5},  // 9001
      {"", "11 17 23 28 00 01 00 04 00 01 02 00 07", "11 97 01", 5},
      {"", "11 17 00 04 00 01 23 28 00 01 02 00 07", "11 17 02 00 05", 5},  // not by the write address
      {"", "11 18 23 29", "11 98 02", 5},                               // 9002
      {"", "11 14 07 06 00 01 23 28 00 01", "11 94 01", 5},             // record 9000
      {"", "11 15 09 06 00 01 23 29 00 01 00 07", "11 95 02", 5},
      {"", "11 08 00 00 23 28", "11 08 00 00 23 28", 5},  // no offset: its data is not one
      {"", "11 16 23 3C 00 00 00 07", "none", 5},         // 9021: silence
      {"exception=4", "11 07", "11 87 04", 5},
      {"exception=4", "11 11", "11 91 04", 5},
      {"exception=4", "11 08 00 0A 00 00", "11 88 04", 5},
      {"exception=4", "11 16 00 04 00 00 00 07", "11 96 04", 5},
      {"wrong-id", "11 0B", "12 0B 00 00 00 00", 5},
      {"short", "11 17 00 03 00 02 00 04 00 01 02 00 07", "11 17 02 00 04", 7},  // 00 07 left out
      {"echo", "11 16 00 04 00 00 00 07", "11 16 00 05 00 00 00 07", 5},
      {"", "11 16 00 04 00 00 00 07", "11 16 00 04 00 00 00 07", 7},
  };
  for (const auto& c : cases) {
    Fault f;
    std::string error;
    ASSERT_TRUE(!*c.fault || ParseFault(c.fault, f, error)) << error;
    SlaveCore core(17, MemoryImage::Pattern(), f);
    EXPECT_EQ(Exchange(core, c.request), c.reply) << c.fault << " " << c.request;
    EXPECT_EQ(core.image(17).holding[4], c.holding4) << c.fault << " " << c.request;
  }
  // read-only: every write refused, 23's too
  SlaveCore readOnly(17, MemoryImage::Pattern(), Fault{});
  readOnly.setReadOnly(true);
  const std::pair<const char*, const char*> writes[] = {
      {"11 16 00 04 00 00 00 07", "11 96 01"},
      {"11 17 00 03 00 02 00 04 00 01 02 00 07", "11 97 01"},
      {"11 15 09 06 00 01 00 00 00 01 00 07", "11 95 01"},
  };
  for (const auto& [write, refused] : writes) EXPECT_EQ(Exchange(readOnly, write), refused) << write;
  EXPECT_EQ(readOnly.image(17).holding[4], 5);
  EXPECT_EQ(readOnly.image(17).files[0][0], 10000);
}

TEST(slave_functions, request_lengths_and_other_framings) {
  const struct {
    const char* bytes;
    int length;
  } cases[] = {
      {"11 07", 4},       {"11 0B", 4},          {"11 0C", 4},          {"11 11", 4},
      {"11 08 00", 0},    {"11 08 00 00", -1},   {"11 08 00 0B", 8},    {"11 14", 0},
      {"11 14 07", 12},   {"11 15 0D", 18},      {"11 16", 10},         {"11 17 00 03 00 06 00 0E 00 03", 0},
      {"11 17 00 03 00 06 00 0E 00 03 06", 19}, {"11 18", 6},          {"11 41", -1},
  };
  for (const auto& c : cases) {
    const auto b = Bytes(c.bytes);
    EXPECT_EQ(SlaveCore::RequestLength(b.data(), b.size()), c.length) << c.bytes;
  }
  // Modbus TCP: every connection's frames are the bus; ASCII: a bad LRC is a communication error
  SlaveCore tcp(17, MemoryImage::Pattern(), Fault{});
  tcp.setMode(vantrel::ModbusMode::Tcp);
  for (const char* adu : {"00 01 00 00 00 06 05 03 00 00 00 01", "00 02 00 00 00 02 11 11"}) {
    const auto b = Bytes(adu);
    tcp.Answer(b.data(), b.size());
  }
  const auto counters = Bytes("00 03 00 00 00 06 11 08 00 0B 00 00");
  EXPECT_EQ(HexOf(tcp.Answer(counters.data(), counters.size())->bytes), "00 03 00 00 00 06 11 08 00 0B 00 03");
  SlaveCore ascii(17, MemoryImage::Pattern(), Fault{});
  ascii.setMode(vantrel::ModbusMode::Ascii);
  const std::string bad = ":11080000A53700\r\n";
  EXPECT_FALSE(ascii.Answer(reinterpret_cast<const std::uint8_t*>(bad.data()), bad.size()));
  const std::string line = vantrel::EncodeAscii(Bytes("11 08 00 0C 00 00").data(), 6);
  const auto r = ascii.Answer(reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
  ASSERT_TRUE(r);
  EXPECT_EQ(std::string(r->bytes.begin(), r->bytes.end()), vantrel::EncodeAscii(Bytes("11 08 00 0C 00 01").data(), 6));
}

// File records in an image file: set, saved when they differ from the pattern, loaded back.
TEST(slave_functions, file_records_in_image_files) {
  FileLayout layout;
  layout.files = 2;
  layout.records = 20;
  MemoryImage m = MemoryImage::Pattern(layout);
  std::string error;
  ASSERT_TRUE(m.ApplyLine("file 2 3-5 7", error)) << error;
  ASSERT_TRUE(m.ApplyLine("file 1 18 float 1.0", error)) << error;
  EXPECT_EQ(m.files[1][4], 7);
  EXPECT_EQ(m.files[0][19], 0x3F80);
  for (const char* bad : {"file 3 0 1", "file 0 0 1", "file 1 20 1", "file 1 19 u32 1", "file x 1 1", "file 1"}) {
    EXPECT_FALSE(m.ApplyLine(bad, error)) << bad;
  }
  EXPECT_EQ(m.Lines(), "file 1 18 0\nfile 1 19 16256\nfile 2 3-5 7\n");
  vantrel::test::TempDir dir;
  ASSERT_TRUE(m.Save(dir / "image.txt", error)) << error;
  MemoryImage back = MemoryImage::Pattern(layout);
  ASSERT_TRUE(back.Load(dir / "image.txt", error)) << error;
  EXPECT_EQ(back.files, m.files);
}
