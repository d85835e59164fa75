#include "SlaveCore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "modbus/ModbusFrame.h"
#include "support/Hex.h"
#include "support/TempDir.h"

using namespace vantrel::slave;
using vantrel::test::Bytes;
using vantrel::test::HexOf;

namespace {

std::vector<std::uint8_t> Request(std::uint8_t id, std::uint8_t fn, unsigned addr, unsigned qty) {
  std::vector<std::uint8_t> f{id, fn, static_cast<std::uint8_t>(addr >> 8), static_cast<std::uint8_t>(addr),
                              static_cast<std::uint8_t>(qty >> 8), static_cast<std::uint8_t>(qty)};
  AppendCrc(f);
  return f;
}

std::string Answer(SlaveCore& core, const std::vector<std::uint8_t>& req) {
  const auto r = core.Answer(req.data(), req.size());
  return r ? HexOf(r->bytes) : "none";
}
std::string Answer(SlaveCore&& core, const std::vector<std::uint8_t>& req) { return Answer(core, req); }

SlaveCore Core(Fault every = {}) { return SlaveCore(1, MemoryImage::Pattern(), every); }

// A request written in hex without its CRC, with fill zero data bytes after it.
std::vector<std::uint8_t> Framed(const std::string& hex, int fill = 0) {
  auto f = Bytes(hex);
  f.resize(f.size() + static_cast<std::size_t>(fill));
  AppendCrc(f);
  return f;
}

}  // namespace

TEST(slave_core, serves_the_pattern) {
  SlaveCore core = Core();
  EXPECT_EQ(Answer(core, Request(1, 3, 0, 2)), "01 03 04 00 01 00 02 2A 32");
  EXPECT_EQ(Answer(core, Request(1, 1, 0, 10)), "01 01 02 55 01 47 6C");
}

TEST(slave_core, stays_silent_for_others_and_bad_frames) {
  SlaveCore core = Core();
  EXPECT_EQ(Answer(core, Request(2, 3, 0, 1)), "none");
  EXPECT_EQ(Answer(core, Request(0, 3, 0, 1)), "none");
  auto bad = Request(1, 3, 0, 1);
  bad.back() ^= 1;
  EXPECT_EQ(Answer(core, bad), "none");
}

TEST(slave_core, exceptions_of_a_real_slave) {
  SlaveCore core = Core();
  EXPECT_EQ(Answer(core, Request(1, 3, 0, 126)).substr(0, 8), "01 83 03");
  EXPECT_EQ(Answer(core, Request(1, 1, 0, 0)).substr(0, 8), "01 81 03");
  EXPECT_EQ(Answer(core, Request(1, 4, 65535, 2)).substr(0, 8), "01 84 02");
  std::vector<std::uint8_t> userDefined{1, 0x41};
  AppendCrc(userDefined);
  EXPECT_EQ(Answer(core, userDefined).substr(0, 8), "01 C1 01");
}

TEST(slave_core, faults_by_offset) {
  SlaveCore core = Core();
  EXPECT_EQ(Answer(core, Request(1, 3, 9001, 1)), "01 83 02 C0 F1");  // offset 9002
  EXPECT_EQ(Answer(core, Request(1, 3, 9020, 1)), "none");            // 9021 silence
  const auto bad = core.Answer(Request(1, 3, 9019, 1).data(), 8);     // 9020 bad CRC
  ASSERT_TRUE(bad);
  SlaveCore plain(1, MemoryImage::Pattern(), Fault{}, {});
  const auto good = plain.Answer(Request(1, 3, 9019, 1).data(), 8);
  EXPECT_NE(bad->bytes.back(), good->bytes.back());
  const auto split = core.Answer(Request(1, 3, 9022, 4).data(), 8);   // 9023
  EXPECT_EQ(split->splitAt, split->bytes.size() / 2);
  EXPECT_EQ(split->splitPauseMs, 300);
  EXPECT_EQ(core.Answer(Request(1, 3, 9021, 1).data(), 8)->delayMs, 500);
  EXPECT_EQ(Answer(core, Request(1, 3, 9024, 1)).substr(0, 2), "02");  // 9025 wrong id
  EXPECT_EQ(Answer(core, Request(1, 3, 9025, 1)).substr(0, 5), "01 66");
}

TEST(slave_core, fault_for_every_reply) {
  Fault f;
  std::string error;
  ASSERT_TRUE(ParseFault("exception=6", f, error));
  EXPECT_EQ(Answer(Core(f), Request(1, 4, 0, 1)).substr(0, 8), "01 84 06");
  ASSERT_TRUE(ParseFault("function=0x05", f, error));
  EXPECT_EQ(Answer(Core(f), Request(1, 4, 0, 1)).substr(0, 5), "01 05");
  // a stray byte, then the whole good reply
  ASSERT_TRUE(ParseFault("noise", f, error));
  EXPECT_EQ(Answer(Core(f), Request(1, 3, 0, 1)), "00 " + Answer(Core(), Request(1, 3, 0, 1)));
  // one register too few, with the byte count and the CRC to match
  ASSERT_TRUE(ParseFault("short", f, error));
  const std::string shortReply = Answer(Core(f), Request(1, 3, 0, 2));
  EXPECT_EQ(shortReply.substr(0, 14), "01 03 02 00 01");
  const auto bytes = vantrel::test::Bytes(shortReply);
  EXPECT_EQ(vantrel::Crc16(bytes.data(), 5), bytes[5] << 8 | bytes[6]);
  EXPECT_FALSE(ParseFault("exception", f, error));
  EXPECT_FALSE(ParseFault("bad-crc=2", f, error));
  EXPECT_FALSE(ParseFault("gremlins", f, error));
}

TEST(slave_core, request_lengths_for_framing) {
  EXPECT_EQ(SlaveCore::RequestLength(Bytes("01").data(), 1), 0);
  EXPECT_EQ(SlaveCore::RequestLength(Bytes("01 03").data(), 2), 8);
  EXPECT_EQ(SlaveCore::RequestLength(Bytes("01 10 00 00 00 02").data(), 6), 0);
  EXPECT_EQ(SlaveCore::RequestLength(Bytes("01 10 00 00 00 02 04").data(), 7), 13);
  EXPECT_EQ(SlaveCore::RequestLength(Bytes("01 41").data(), 2), -1);
}

TEST(memory_image, lines_set_values_and_refuse_nonsense) {
  MemoryImage m;
  std::string error;
  EXPECT_TRUE(m.ApplyLine("holding 10 float 1.0  # comment", error)) << error;
  EXPECT_EQ(m.holding[10], 0x0000);
  EXPECT_EQ(m.holding[11], 0x3F80);  // low-order word first
  EXPECT_TRUE(m.ApplyLine("input 0-3 0x1234", error));
  EXPECT_EQ(m.input[3], 0x1234);
  EXPECT_TRUE(m.ApplyLine("holding 5 -2", error));
  EXPECT_EQ(m.holding[5], 0xFFFE);
  EXPECT_TRUE(m.ApplyLine("coil 65535 1", error));
  EXPECT_EQ(m.coils[65535], 1);
  EXPECT_TRUE(m.ApplyLine("   # only a comment", error));
  for (const char* bad : {"holding", "holding 65536 1", "coil 1 2", "holding 65535 u32 1",
                          "holding 1 70000", "tables 1 1", "holding 1 float x", "holding 3-1 1",
                          "holding 1 2 3"}) {
    EXPECT_FALSE(m.ApplyLine(bad, error)) << bad;
  }
}

// Each write's reply (CRCs worked out apart from the code under test), and what the
// table holds afterwards: only a write that got its correct reply has changed it.
TEST(slave_core, answers_and_applies_writes) {
  struct Case {
    const char* fault;  // for every reply, or "read-only"
    const char* request;
    int fill;
    const char* reply;
    char table;  // 'c' coil, 'h' holding register
    unsigned address, value;
  };
  const Case cases[] = {
      {"", "01 05 00 01 FF 00", 0, "01 05 00 01 FF 00 DD FA", 'c', 1, 1},
      {"", "01 05 00 00 00 00", 0, "01 05 00 00 00 00 CD CA", 'c', 0, 0},
      {"", "01 05 00 00 12 34", 0, "01 85 03 02 91", 'c', 0, 1},
      {"", "01 06 00 09 04 D2", 0, "01 06 00 09 04 D2 DB 55", 'h', 9, 1234},
      {"", "01 06 00 00 00 07 00", 0, "01 86 03 02 61", 'h', 0, 1},
      {"", "01 0F 00 00 00 0A 02 0F 03", 0, "01 0F 00 00 00 0A D5 CC", 'c', 9, 1},
      {"", "01 0F 00 00 07 B0 F6", 246, "01 0F 00 00 07 B0 56 4F", 'c', 1966, 0},
      {"", "01 0F 00 00 07 B1 F7", 247, "01 8F 03 04 31", 'c', 0, 1},
      {"", "01 0F 00 00 00 0A 01 FF", 0, "01 8F 03 04 31", 'c', 1, 0},
      {"", "01 0F 00 01 00 0A 02 FF", 0, "01 8F 03 04 31", 'c', 1, 0},  // a byte short
      {"", "01 0F FF FF 00 02 01 03", 0, "01 8F 02 C5 F1", 'c', 65535, 0},
      {"", "01 10 00 09 00 02 04 12 34 56 78", 0, "01 10 00 09 00 02 91 CA", 'h', 10, 0x5678},
      {"", "01 10 00 00 00 7B F6", 246, "01 10 00 00 00 7B 80 2A", 'h', 122, 0},
      {"", "01 10 00 00 00 7C F8", 248, "01 90 03 0C 01", 'h', 0, 1},
      {"", "01 10 00 00 00 02 02 00 07", 0, "01 90 03 0C 01", 'h', 0, 1},
      {"", "01 10 FF FF 00 02 04 12 34 12 34", 0, "01 90 02 CD C1", 'h', 65535, 0},
      {"", "00 06 00 09 00 07", 0, "none", 'h', 9, 7},  // broadcast: applied, unanswered
      {"", "00 06 23 3B 00 05", 0, "none", 'h', 9019, 9020},
      {"read-only", "01 05 00 01 FF 00", 0, "01 85 01 83 50", 'c', 1, 0},
      {"read-only", "01 10 00 09 00 02 04 12 34 56 78", 0, "01 90 01 8D C0", 'h', 9, 10},
      // the built-in offsets, by the request's first offset
      {"", "01 06 23 29 00 05", 0, "01 86 02 C3 A1", 'h', 9001, 9002},
      {"", "01 06 23 3B 00 05", 0, "01 06 23 3B 00 05 33 7F", 'h', 9019, 9020},
      {"", "01 06 23 3C 00 05", 0, "none", 'h', 9020, 9021},
      {"", "01 06 23 3E 00 05", 0, "01 06 23 3E 00 05 23 81", 'h', 9022, 5},  // split
      {"", "01 06 23 40 00 05", 0, "02 06 23 40 00 05 43 AA", 'h', 9024, 9025},
      {"", "01 06 23 41 00 05", 0, "01 66 23 41 00 05 92 51", 'h', 9025, 9026},
      {"", "01 06 23 44 00 05", 0, "01 06 23 45 00 05 53 98", 'h', 9028, 9029},
      {"", "01 10 23 44 00 01 02 00 07", 0, "01 10 23 45 00 01 1B 98", 'h', 9028, 9029},
      {"noise", "01 06 00 09 04 D2", 0, "00 01 06 00 09 04 D2 DB 55", 'h', 9, 1234},
      {"short", "01 06 00 09 04 D2", 0, "01 06 00 09 04 D2 DB 55", 'h', 9, 1234},
      {"echo", "01 03 00 09 00 01", 0, "01 03 02 00 0A 38 43", 'h', 9, 10},
  };
  for (const Case& c : cases) {
    Fault f;
    std::string error;
    const bool readOnly = std::string(c.fault) == "read-only";
    ASSERT_TRUE(readOnly || !*c.fault || ParseFault(c.fault, f, error)) << error;
    SlaveCore core = Core(f);
    core.setReadOnly(readOnly);
    EXPECT_EQ(Answer(core, Framed(c.request, c.fill)), c.reply) << c.fault << " " << c.request;
    const unsigned now = c.table == 'c' ? core.image().coils[c.address] : core.image().holding[c.address];
    EXPECT_EQ(now, c.value) << c.fault << " " << c.request;
  }
}

TEST(slave_core, later_reads_return_what_was_written) {
  SlaveCore core = Core();
  const std::pair<const char*, const char*> writes[] = {
      {"01 0F 00 00 00 0A 02 0F 03", "wrote 10 coils from address 0"},
      {"01 05 00 0B FF 00", "wrote 1 to coil 11"},
      {"01 10 00 09 00 02 04 12 34 56 78", "wrote 2 holding registers from address 9"},
      {"01 06 00 0B AB CD", "wrote 43981 to holding register 11"},
      {"01 03 00 09 00 03", ""},
  };
  for (const auto& [request, note] : writes) {
    std::string change = "?";
    const auto frame = Framed(request);
    core.Answer(frame.data(), frame.size(), &change);
    EXPECT_EQ(change, note);
  }
  EXPECT_EQ(Answer(core, Request(1, 1, 0, 12)), "01 01 02 0F 0F FC 08");
  EXPECT_EQ(Answer(core, Request(1, 3, 9, 3)), "01 03 06 12 34 56 78 AB CD BC F7");
}

TEST(memory_image, saves_only_what_differs_and_loads_it_back) {
  MemoryImage m = MemoryImage::Pattern();
  std::string error;
  EXPECT_EQ(m.Text(), "# vantrel-slave memory image: the values that differ from the default pattern\n");
  for (const char* line : {"coil 0-9 1", "coil 700 0", "discrete 4 1", "holding 10-19 0xBEEF",
                           "holding 100 u32 0x12345678", "holding 200 float -1.5", "input 7 i16 -3"}) {
    ASSERT_TRUE(m.ApplyLine(line, error)) << line << error;
  }
  const std::string text = m.Text();
  EXPECT_EQ(text.substr(text.find('\n') + 1),
            "coil 1-9 1\ncoil 700 0\ndiscrete 4 1\nholding 10-19 48879\nholding 100 22136\n"
            "holding 101 4660\nholding 200 0\nholding 201 49088\ninput 7 65533\n");
  vantrel::test::TempDir dir;
  ASSERT_TRUE(m.Save(dir / "image.txt", error)) << error;
  MemoryImage back = MemoryImage::Pattern();
  ASSERT_TRUE(back.Load(dir / "image.txt", error)) << error;
  EXPECT_TRUE(back.coils == m.coils && back.discrete == m.discrete);
  EXPECT_TRUE(back.holding == m.holding && back.input == m.input);
  // nothing left beside it, and a folder that is not there is a failure that says so
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  EXPECT_FALSE(m.Save(dir / "gone/image.txt", error));
  EXPECT_NE(error.find("gone/image.txt"), std::string::npos) << error;
}

namespace {

// A request written in hex (slave id and PDU) framed for mode, as a master sends it.
std::vector<std::uint8_t> InMode(vantrel::ModbusMode mode, const std::string& hex) {
  auto pdu = Bytes(hex);
  switch (mode) {
    case vantrel::ModbusMode::Ascii: {
      const std::string line = vantrel::EncodeAscii(pdu.data(), static_cast<int>(pdu.size()));
      return {line.begin(), line.end()};
    }
    case vantrel::ModbusMode::Tcp: {
      std::vector<std::uint8_t> adu(vantrel::kMbapHeaderSize);
      vantrel::PutMbap(adu.data(), 7, pdu[0], static_cast<int>(pdu.size()) - 1);
      adu.insert(adu.end(), pdu.begin() + 1, pdu.end());
      return adu;
    }
    default:
      AppendCrc(pdu);
      return pdu;
  }
}

SlaveCore CoreIn(vantrel::ModbusMode mode, Fault every = {}) {
  SlaveCore core = Core(every);
  core.setMode(mode);
  return core;
}

}  // namespace

// The same answers in every framing: ASCII lines and MBAP frames (transaction 7).
TEST(slave_core, answers_in_ascii_and_modbus_tcp) {
  using vantrel::ModbusMode;
  struct Case {
    ModbusMode mode;
    const char* request;  // slave id and PDU, or (ending in CR LF) the whole ASCII line
    const char* reply;    // hex, or for ASCII the line
  };
  const Case cases[] = {
      {ModbusMode::Ascii, "01 03 00 00 00 02", ":01030400010002F5\r\n"},
      {ModbusMode::Ascii, ":010300000002FB\r\n", "none"},  // a bad LRC: no reply, as a bad CRC
      {ModbusMode::Ascii, ":01030000000\r\n", "none"},
      {ModbusMode::Ascii, "01 03 23 3B 00 01", ":010302233C64\r\n"},  // 9020: the LRC spoilt (9B)
      {ModbusMode::Ascii, "02 03 00 00 00 02", "none"},
      {ModbusMode::Tcp, "01 03 00 00 00 02", "00 07 00 00 00 07 01 03 04 00 01 00 02"},
      {ModbusMode::Tcp, "01 03 23 3B 00 01", "00 07 00 00 00 05 01 03 02 23 3C"},  // 9020: no check to spoil
      {ModbusMode::Tcp, "01 03 23 45 00 01", "00 08 00 00 00 05 01 03 02 23 46"},  // 9030: the next transaction
      {ModbusMode::Tcp, "01 03 23 46 00 01", "00 07 00 00 FF FF 01 03 02 23 47"},  // 9031: MBAP length 65535
      {ModbusMode::Tcp, "01 03 23 28 00 01", "00 07 00 00 00 03 01 83 01"},        // 9001: exception 01
      {ModbusMode::Tcp, "01 03 23 3C 00 01", "none"},                              // 9021: silence
      {ModbusMode::Tcp, "02 03 00 00 00 02", "none"},
  };
  for (const Case& c : cases) {
    SlaveCore core = CoreIn(c.mode);
    const std::string request = c.request;
    const auto frame = request.back() == '\n' ? std::vector<std::uint8_t>(request.begin(), request.end())
                                              : InMode(c.mode, request);
    const auto r = core.Answer(frame.data(), frame.size());
    const std::string got = !r ? "none" : c.mode == ModbusMode::Ascii ? std::string(r->bytes.begin(), r->bytes.end())
                                                                       : HexOf(r->bytes);
    EXPECT_EQ(got, c.reply) << c.request;
  }
}

TEST(slave_core, faults_on_the_frames_of_each_mode) {
  using vantrel::ModbusMode;
  // 9032: the first half of the reply, then the connection is closed
  SlaveCore tcp = CoreIn(ModbusMode::Tcp);
  const auto cut = InMode(ModbusMode::Tcp, "01 03 23 47 00 01");
  const auto r = tcp.Answer(cut.data(), cut.size());
  ASSERT_TRUE(r);
  EXPECT_EQ(HexOf(r->bytes), "00 07 00 00 00 05 01 03 02 23 48");
  EXPECT_TRUE(r->cutOff);
  EXPECT_EQ(r->splitAt, 5u);
  // a split falls in the middle of the framed reply (9023)
  SlaveCore ascii = CoreIn(ModbusMode::Ascii);
  const auto split = InMode(ModbusMode::Ascii, "01 03 23 3E 00 01");
  const auto s = ascii.Answer(split.data(), split.size());
  ASSERT_TRUE(s);
  EXPECT_EQ(s->splitAt, s->bytes.size() / 2);
  EXPECT_EQ(s->splitPauseMs, 300);
  // noise and garbage go on the link as they are
  Fault f;
  std::string error;
  ASSERT_TRUE(ParseFault("noise", f, error));
  SlaveCore noisy = CoreIn(ModbusMode::Ascii, f);
  const auto read = InMode(ModbusMode::Ascii, "01 03 00 00 00 02");
  const auto noise = noisy.Answer(read.data(), read.size());
  ASSERT_TRUE(noise);
  EXPECT_EQ(std::string(noise->bytes.begin(), noise->bytes.end()), std::string("\0:01030400010002F5\r\n", 20));
  ASSERT_TRUE(ParseFault("garbage", f, error));
  SlaveCore garbage = CoreIn(ModbusMode::Tcp, f);
  const auto tcpRead = InMode(ModbusMode::Tcp, "01 03 00 00 00 02");
  const auto junk = garbage.Answer(tcpRead.data(), tcpRead.size());
  ASSERT_TRUE(junk);
  EXPECT_EQ(HexOf(junk->bytes), "DE AD BE EF 55 AA 00 FF");
  // a frame of another protocol than Modbus gets no answer
  auto other = tcpRead;
  other[3] = 1;
  EXPECT_FALSE(tcp.Answer(other.data(), other.size()));
  EXPECT_TRUE(ParseFault("mbap-length=65535", f, error));
  EXPECT_FALSE(ParseFault("mbap-length=65536", f, error));
  EXPECT_FALSE(ParseFault("close=1", f, error));
}

// A write takes effect when its reply reaches the master as the right answer, and only
// then: what spoils a frame depends on the framing.
TEST(slave_core, writes_apply_where_the_reply_is_right_in_its_mode) {
  using vantrel::ModbusMode;
  struct Case {
    ModbusMode mode;
    const char* fault;
    bool applied;
  };
  const Case cases[] = {
      {ModbusMode::Tcp, "", true},
      {ModbusMode::Ascii, "", true},
      {ModbusMode::Tcp, "wrong-transaction", false},
      {ModbusMode::Rtu, "wrong-transaction", true},
      {ModbusMode::Tcp, "mbap-length=65535", false},
      {ModbusMode::RtuOverTcp, "mbap-length=65535", true},
      {ModbusMode::Tcp, "bad-crc", true},  // nothing to spoil
      {ModbusMode::Ascii, "bad-crc", false},
      {ModbusMode::Tcp, "noise", false},  // a stray byte before the header breaks the stream
      {ModbusMode::Ascii, "noise", true},
      {ModbusMode::Tcp, "close", false},
      {ModbusMode::Rtu, "close", false},
  };
  for (const Case& c : cases) {
    Fault f;
    std::string error;
    ASSERT_TRUE(!*c.fault || ParseFault(c.fault, f, error)) << error;
    SlaveCore core = CoreIn(c.mode, f);
    const auto write = InMode(c.mode, "01 06 00 09 04 D2");
    ASSERT_TRUE(core.Answer(write.data(), write.size())) << vantrel::ModeName(c.mode) << " " << c.fault;
    EXPECT_EQ(core.image().holding[9], c.applied ? 1234 : 10) << vantrel::ModeName(c.mode) << " " << c.fault;
  }
}

TEST(slave_core, where_the_next_request_lies_in_each_mode) {
  using vantrel::ModbusMode;
  using Span = RequestSpan;
  struct Case {
    ModbusMode mode;
    std::string bytes;  // hex, or for ASCII the characters
    std::size_t skip;
    int length;
  };
  const Case cases[] = {
      {ModbusMode::Rtu, "01 03", 0, 0},
      {ModbusMode::Rtu, "01 03 00 00 00 01 84 0A 01", 0, 8},
      {ModbusMode::RtuOverTcp, "01 41", 0, Span::kEndsBySilence},
      {ModbusMode::Ascii, ":0103", 0, 0},
      {ModbusMode::Ascii, "xx:0103", 2, 0},
      {ModbusMode::Ascii, ":01\r\n:02", 0, 5},
      {ModbusMode::Ascii, "zz\r\n:01", 4, 0},
      {ModbusMode::Ascii, ":01:0103\r\n", 3, 7},  // a ':' starts the frame afresh
      {ModbusMode::Ascii, "noise", 5, 0},
      {ModbusMode::Ascii, ":" + std::string(600, '0'), 601, 0},  // longer than any frame
      {ModbusMode::Tcp, "00 01 00 00 00", 0, 0},
      {ModbusMode::Tcp, "00 01 00 00 00 06 01 03 00 00 00", 0, 0},
      {ModbusMode::Tcp, "00 01 00 00 00 06 01 03 00 00 00 01 00 02", 0, 12},
      {ModbusMode::Tcp, "00 01 00 00 FF FF", 0, Span::kImpossible},
      {ModbusMode::Tcp, "00 01 00 00 00 01 01", 0, Span::kImpossible},
  };
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> bytes =
        c.mode == ModbusMode::Ascii ? std::vector<std::uint8_t>(c.bytes.begin(), c.bytes.end()) : Bytes(c.bytes);
    const Span span = SlaveCore::FindRequest(c.mode, bytes.data(), bytes.size());
    EXPECT_EQ(span.skip, c.skip) << c.bytes.substr(0, 20);
    EXPECT_EQ(span.length, c.length) << c.bytes.substr(0, 20);
  }
}

TEST(slave_ids, lists_and_ranges) {
  const struct {
    const char* text;
    const char* ids;  // as IdListText gives them back; "" when refused
  } cases[] = {
      {"11", "11"},          {"1,5,17-20", "1,5,17-20"}, {"20-17", ""},   {"3,1,3", "1,3"},
      {"1-2", "1,2"},        {"1-247", "1-247"},         {"0", ""},       {"248", ""},
      {"", ""},              {"1,,2", ""},               {"1-", ""},      {"x", ""},
      {"200,3,17", "3,17,200"},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> ids{99};
    std::string error;
    const bool ok = ParseIdList(c.text, ids, error);
    EXPECT_EQ(ok ? IdListText(ids) : "", c.ids) << c.text;
    EXPECT_EQ(ok, error.empty()) << c.text;
  }
}

// Each id answers with its own tables; ids not served are silent; a broadcast write is taken
// by every id; a fault can be asked for one id.
TEST(slave_ids, each_id_its_own_tables) {
  SlaveCore core({3, 17, 200}, MemoryImage::Pattern(), Fault{});
  core.setFaultForId(200, Fault{Fault::Exception, 4});
  const struct {
    const char* request;  // slave id and PDU, without the CRC
    const char* reply;    // likewise; "none" for no reply
  } steps[] = {
      {"03 03 00 00 00 01", "03 03 02 00 01"},
      {"11 03 00 00 00 01", "11 03 02 00 01"},
      {"04 03 00 00 00 01", "none"},
      {"0B 03 00 00 00 01", "none"},
      {"11 06 00 00 04 D2", "11 06 00 00 04 D2"},  // 17 writes 1234 to its register 0
      {"11 03 00 00 00 01", "11 03 02 04 D2"},
      {"03 03 00 00 00 01", "03 03 02 00 01"},      // 3 still has its own
      {"C8 03 00 00 00 01", "C8 83 04"},            // 200: the fault of its own
      {"C8 2B 0E 04 00", "C8 AB 04"},
      {"03 03 23 28 00 01", "03 83 01"},            // offset 9001 holds for every id
      {"00 06 00 01 00 07", "none"},                // broadcast: taken by all
      {"03 03 00 01 00 01", "03 03 02 00 07"},
      {"11 03 00 01 00 01", "11 03 02 00 07"},
  };
  for (const auto& s : steps) {
    const auto frame = Framed(s.request);
    const auto r = core.Answer(frame.data(), frame.size());
    EXPECT_EQ(r ? HexOf(r->bytes) : "none", std::string(s.reply) == "none" ? "none" : HexOf(Framed(s.reply)))
        << s.request;
  }
  EXPECT_EQ(core.image(3).holding[0], 1);
  EXPECT_EQ(core.image(17).holding[0], 1234);
  EXPECT_TRUE(core.Serves(200));
  EXPECT_FALSE(core.Serves(4));
}

// Lines before the first "id" line go to every id, after it to the ids it lists; a save
// writes each id's own under its "id" line, and a slave of one id reads its part back.
TEST(slave_ids, image_file_per_id_and_save) {
  vantrel::test::TempDir dir;
  {
    std::ofstream(dir / "image.txt") << "holding 0 100\nid 17,30\nholding 1 1701  # 30 is not served\n"
                                        "id 3\ncoil 0 0\n";
  }
  SlaveCore core({3, 17}, MemoryImage::Pattern(), Fault{});
  std::string error, note;
  ASSERT_TRUE(core.Load(dir / "image.txt", error, &note)) << error;
  EXPECT_NE(note.find("ids not served skipped: 30"), std::string::npos) << note;
  EXPECT_EQ(core.image(3).holding[0], 100);
  EXPECT_EQ(core.image(17).holding[0], 100);
  EXPECT_EQ(core.image(17).holding[1], 1701);
  EXPECT_EQ(core.image(3).holding[1], 2);
  EXPECT_EQ(core.image(3).coils[0], 0);
  EXPECT_EQ(core.image(17).coils[0], 1);
  const std::string text = core.Text();
  EXPECT_EQ(text.substr(text.find('\n') + 1), "id 3\ncoil 0 0\nholding 0 100\nid 17\nholding 0 100\nholding 1 1701\n");
  ASSERT_TRUE(core.Save(dir / "saved.txt", error)) << error;
  // one id saves in the single form, without an "id" line
  SlaveCore one(17, MemoryImage::Pattern(), Fault{});
  ASSERT_TRUE(one.Load(dir / "saved.txt", error, &note)) << error;
  EXPECT_EQ(one.Text(), "# vantrel-slave memory image: the values that differ from the default pattern\n"
                        "holding 0 100\nholding 1 1701\n");
  for (const char* bad : {"id\n", "id 0\n", "id 3 4\n", "id 30\nholding x 1\n"}) {
    std::ofstream(dir / "bad.txt") << bad;
    EXPECT_FALSE(core.Load(dir / "bad.txt", error)) << bad;
  }
}

// Read Device Identification in an RTU frame, and what the faults make of it.
TEST(slave_core, device_identification_with_faults) {
  DeviceIdentity d;
  d.objects = {{0, "VT"}, {1, "P1"}, {2, "R2"}};
  const std::string basic = "01 2B 0E 01 81 00 00 03 00 02 56 54 01 02 50 31 02 02 52 32";
  const struct {
    const char* fault;
    const char* request;
    std::string reply;  // without the CRC; "none" for no reply
  } cases[] = {
      {"", "01 2B 0E 01 00", basic},
      {"", "01 2B 0E 04 02", "01 2B 0E 04 81 00 00 01 02 02 52 32"},
      {"", "01 2B 0E 06 00", "01 AB 03"},
      {"", "01 2B 0D 00 00", "01 AB 01"},
      {"", "02 2B 0E 01 00", "none"},
      {"", "00 2B 0E 01 00", "none"},  // broadcast: only writes
      {"exception=4", "01 2B 0E 01 00", "01 AB 04"},
      {"silence", "01 2B 0E 01 00", "none"},
      {"function=0x2C", "01 2B 0E 04 02", "01 2C 0E 04 81 00 00 01 02 02 52 32"},
      {"wrong-id", "01 2B 0E 04 02", "02 2B 0E 04 81 00 00 01 02 02 52 32"},
      {"short", "01 2B 0E 01 00", "01 2B 0E 01 81 00 00 02 00 02 56 54 01 02 50 31"},
      {"short", "01 2B 0E 05 00", "01 AB 03"},
  };
  for (const auto& c : cases) {
    Fault f;
    std::string error;
    ASSERT_TRUE(!*c.fault || ParseFault(c.fault, f, error)) << error;
    // offsets play no part: 2B 0E 01 00 would read as offset 0x0E02
    SlaveCore core(1, MemoryImage::Pattern(), f, {{0x0E02, Fault{Fault::Silence}}});
    core.setIdentity(d);
    EXPECT_EQ(Answer(core, Framed(c.request)), c.reply == "none" ? "none" : HexOf(Framed(c.reply)))
        << c.fault << " " << c.request;
  }
  SlaveCore none = Core();
  DeviceIdentity off = d;
  off.offered = false;
  none.setIdentity(off);
  EXPECT_EQ(Answer(none, Framed("01 2B 0E 01 00")), HexOf(Framed("01 AB 01")));
  EXPECT_EQ(SlaveCore::RequestLength(Bytes("01 2B").data(), 2), 0);
  EXPECT_EQ(SlaveCore::RequestLength(Bytes("01 2B 0E").data(), 3), 7);
  EXPECT_EQ(SlaveCore::RequestLength(Bytes("01 2B 0D").data(), 3), -1);
}

// A master at other line settings gets no frame that holds, in any mode, and a write it
// sends is not taken; once the settings match, all is as before.
TEST(slave_core, garbled_while_the_line_mismatches) {
  using vantrel::ModbusMode;
  for (ModbusMode mode : {ModbusMode::Rtu, ModbusMode::Ascii, ModbusMode::Tcp}) {
    SlaveCore core = CoreIn(mode);
    SlaveCore plain(1, MemoryImage::Pattern(), Fault{}, {});  // no fault offsets
    plain.setMode(mode);
    for (const char* request : {"01 03 00 00 00 02", "01 2B 0E 01 00", "01 11", "01 03 23 3C 00 01", "01 06 00 00 00 07"}) {
      const auto frame = InMode(mode, request);
      core.setLineMismatch(true);
      const auto bad = core.Answer(frame.data(), frame.size());
      const auto good = plain.Answer(frame.data(), frame.size());
      ASSERT_TRUE(bad && good) << request;  // even where a fault would silence it (9021)
      auto inverted = good->bytes;
      GarbleBytes(inverted);
      EXPECT_EQ(HexOf(bad->bytes), HexOf(inverted)) << request;
    }
    EXPECT_EQ(core.image().holding[0], 1) << "a write not understood changes nothing";
    core.setLineMismatch(false);
    const auto frame = InMode(mode, "01 03 00 01 00 01");  // plain took the write to 0
    EXPECT_EQ(HexOf(core.Answer(frame.data(), frame.size())->bytes), HexOf(plain.Answer(frame.data(), frame.size())->bytes));
  }
  // the same as a fault, for one id or every reply; a garble that leaves a good CRC is spoilt
  Fault f;
  std::string error;
  ASSERT_TRUE(ParseFault("garble", f, error));
  EXPECT_EQ(Answer(Core(f), Request(1, 3, 0, 1)), "FE FC FD FF FE 86 7B");
  auto frame = Framed("01 03");
  std::vector<std::uint8_t> lucky = frame;  // inverted, it is a good frame
  for (auto& b : lucky) b = static_cast<std::uint8_t>(~b);
  GarbleBytes(lucky);
  frame.back() ^= 0x01;
  EXPECT_EQ(lucky, frame);
}

// A map's values land in every id's tables, after what the image file set: a bit item
// changes only its bit of the register as the image left it, words go in the item's order
// (low-first without one), read-only items start with their value too.
TEST(slave_core, map_values_over_the_image) {
  vantrel::RegisterMap map;
  std::string error;
  ASSERT_TRUE(vantrel::ParseMap("name,table,address,type,word_order,writable,value\n"
                                "Low,holding,1,uint32,,,65538\n"
                                "High,holding,3,uint32,high-first,,65538\n"
                                "Set bit,holding,10,bit:1,,,1\n"
                                "Clear bit,holding,10,bit:8,,,0\n"
                                "Fixed,input,5,int16,,no,-2\n"
                                "Relay,coil,2,bool,,,on\n"
                                "Input,discrete,3,bool,,,0\n"
                                "Unset,holding,20,uint16,,,\n",
                                "m.csv", map, error))
      << error;
  SlaveCore core({3, 17}, MemoryImage::Pattern(), Fault{});
  core.image(17).holding[9] = 0x0F00;  // 17 has tables of its own before the map comes
  ASSERT_TRUE(core.ApplyMap(map, error)) << error;
  for (std::uint8_t id : {3, 17}) {
    const MemoryImage& m = core.image(id);
    EXPECT_EQ(m.holding[0], 2) << int(id);
    EXPECT_EQ(m.holding[1], 1);
    EXPECT_EQ(m.holding[2], 1);
    EXPECT_EQ(m.holding[3], 2);
    EXPECT_EQ(m.input[4], 0xFFFE);
    EXPECT_EQ(m.coils[1], 1);
    EXPECT_EQ(m.discrete[2], 0);
    EXPECT_EQ(m.holding[19], 20);  // no value: the pattern's
  }
  EXPECT_EQ(core.image(3).holding[9], 10 | 2);  // the pattern's 10, bit 1 set
  EXPECT_EQ(core.image(17).holding[9], 0x0E02);
}
