#include "SlaveCore.h"

#include <gtest/gtest.h>

#include "modbus/ModbusFrame.h"
#include "support/Hex.h"

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

std::string Answer(const SlaveCore& core, const std::vector<std::uint8_t>& req) {
  const auto r = core.Answer(req.data(), req.size());
  return r ? HexOf(r->bytes) : "none";
}

SlaveCore Core(Fault every = {}) { return SlaveCore(1, MemoryImage::Pattern(), every); }

}  // namespace

TEST(slave_core, serves_the_pattern) {
  const SlaveCore core = Core();
  EXPECT_EQ(Answer(core, Request(1, 3, 0, 2)), "01 03 04 00 01 00 02 2A 32");
  EXPECT_EQ(Answer(core, Request(1, 1, 0, 10)), "01 01 02 55 01 47 6C");
}

TEST(slave_core, stays_silent_for_others_and_bad_frames) {
  const SlaveCore core = Core();
  EXPECT_EQ(Answer(core, Request(2, 3, 0, 1)), "none");
  EXPECT_EQ(Answer(core, Request(0, 3, 0, 1)), "none");
  auto bad = Request(1, 3, 0, 1);
  bad.back() ^= 1;
  EXPECT_EQ(Answer(core, bad), "none");
}

TEST(slave_core, exceptions_of_a_real_slave) {
  const SlaveCore core = Core();
  EXPECT_EQ(Answer(core, Request(1, 3, 0, 126)).substr(0, 8), "01 83 03");
  EXPECT_EQ(Answer(core, Request(1, 1, 0, 0)).substr(0, 8), "01 81 03");
  EXPECT_EQ(Answer(core, Request(1, 4, 65535, 2)).substr(0, 8), "01 84 02");
  std::vector<std::uint8_t> diag{1, 0x11};
  AppendCrc(diag);
  EXPECT_EQ(Answer(core, diag).substr(0, 8), "01 91 01");
}

TEST(slave_core, faults_by_offset) {
  const SlaveCore core = Core();
  EXPECT_EQ(Answer(core, Request(1, 3, 9001, 1)), "01 83 02 C0 F1");  // offset 9002
  EXPECT_EQ(Answer(core, Request(1, 3, 9020, 1)), "none");            // 9021 silence
  const auto bad = core.Answer(Request(1, 3, 9019, 1).data(), 8);     // 9020 bad CRC
  ASSERT_TRUE(bad);
  const SlaveCore plain(1, MemoryImage::Pattern(), Fault{}, {});
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
