#include "SlaveCore.h"

#include <gtest/gtest.h>

#include <filesystem>

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
  std::vector<std::uint8_t> diag{1, 0x11};
  AppendCrc(diag);
  EXPECT_EQ(Answer(core, diag).substr(0, 8), "01 91 01");
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
  EXPECT_EQ(SlaveCore::RequestLength(Bytes("01 11").data(), 2), -1);
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
