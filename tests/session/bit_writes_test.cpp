// One bit of a register set or cleared with 22, and a write read back in one 23: the masks,
// the requests the Write dialog sends, and how the log and a failure name them.
#include <gtest/gtest.h>

#include "modbus/ModbusFrame.h"
#include "session/PollTexts.h"
#include "session/WritePlan.h"
#include "support/Hex.h"

using namespace vantrel;
using vantrel::test::HexOf;

namespace {

WriteTarget Registers(int slaveId, std::vector<int> offsets, std::vector<std::uint16_t> current) {
  WriteTarget t;
  t.function = 3;
  t.slaveId = slaveId;
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    t.rows.push_back(static_cast<int>(i));
    t.addresses.push_back(std::to_string(40000 + offsets[i]) + ", " + std::to_string(400000 + offsets[i]));
  }
  t.offsets = std::move(offsets);
  t.current = std::move(current);
  return t;
}

// Offsets 1 to n.
std::vector<int> OffsetsUpTo(int n) {
  std::vector<int> offsets;
  for (int i = 1; i <= n; ++i) offsets.push_back(i);
  return offsets;
}

}  // namespace

// The masks of each bit, and what the device makes of them, against the register computed
// bit by bit: the bit asked for takes its new state, every other keeps the device's.
TEST(bit_writes, masks_set_or_clear_one_bit_and_keep_the_others) {
  const struct {
    int bit;
    bool set;
    std::uint16_t andMask, orMask;
    std::uint16_t current, after;
  } cases[] = {
      {3, true, 0xFFF7, 0x0008, 0x0002, 0x000A},  {0, false, 0xFFFE, 0x0000, 0x000B, 0x000A},
      {0, true, 0xFFFE, 0x0001, 0x0001, 0x0001},  {15, true, 0x7FFF, 0x8000, 0x1234, 0x9234},
      {15, false, 0x7FFF, 0x0000, 0xFFFF, 0x7FFF}, {7, false, 0xFF7F, 0x0000, 0x0000, 0x0000},
      {8, true, 0xFEFF, 0x0100, 0xFEFF, 0xFFFF},  {12, false, 0xEFFF, 0x0000, 0xFFFF, 0xEFFF},
  };
  for (const auto& c : cases) {
    const BitMasks m = BitWriteMasks(c.bit, c.set);
    EXPECT_EQ(m, (BitMasks{c.andMask, c.orMask})) << c.bit << (c.set ? " set" : " clear");
    EXPECT_EQ(MaskedRegister(c.current, m), c.after) << c.bit;
    for (int b = 0; b < 16; ++b) {
      const bool expected = b == c.bit ? c.set : ((c.current >> b) & 1) != 0;
      EXPECT_EQ(((MaskedRegister(c.current, m) >> b) & 1) != 0, expected) << "bit " << b << " after " << c.bit;
    }
  }
}

TEST(bit_writes, the_request_is_a_mask_write_of_the_row_and_names_itself) {
  const WritePlanResult set = PlanBitWrite(Registers(1, {10}, {0x0002}), 3, true);
  ASSERT_TRUE(set.error.empty()) << set.error;
  ASSERT_EQ(set.requests.size(), 1u);
  // Offset 10 is address 9 on the wire.
  EXPECT_EQ(HexOf(set.requests[0].bytes).substr(0, 23), "01 16 00 09 FF F7 00 08");
  EXPECT_EQ(set.requests[0].bytes.size(), 10u) << "with its CRC";
  EXPECT_EQ(set.words, (std::vector<std::uint16_t>{0x000A}));
  EXPECT_EQ(WriteText(set.requests[0]), "1 holding register at offset 10 (40010) with function 22: AND 0xFFF7 OR 0x0008");
  EXPECT_EQ(DescribeWrite(set.requests[0]), "Writing 1 holding register at offset 10 (function 22)");

  // 22 may be broadcast.
  const WritePlanResult broadcast = PlanBitWrite(Registers(0, {1}, {0}), 0, false);
  ASSERT_EQ(broadcast.requests.size(), 1u) << broadcast.error;
  EXPECT_EQ(HexOf(broadcast.requests[0].bytes).substr(0, 23), "00 16 00 00 FF FE 00 00");

  EXPECT_NE(PlanBitWrite(Registers(1, {1, 2}, {0, 0}), 0, true).error, "") << "one register only";
  EXPECT_NE(PlanBitWrite(Registers(1, {1}, {0}), 16, true).error, "");
  EXPECT_NE(PlanBitWrite(Registers(1, {1}, {0}), -1, true).error, "");
  WriteTarget coil = Registers(1, {1}, {0});
  coil.function = 1;
  EXPECT_TRUE(PlanBitWrite(coil, 0, true).requests.empty());
}

TEST(bit_writes, a_run_written_and_read_back_in_one_request) {
  const WriteTarget run = Registers(1, {5, 6, 7}, {0, 0, 0});
  ASSERT_TRUE(CanReadBack(run));
  const WritePlanResult plan = PlanWrite(run, WriteFormat::Uint16, {"7", "8", "9"}, false, true);
  ASSERT_EQ(plan.requests.size(), 1u) << plan.error;
  // Reads 3 from address 4 and writes 3 there: 6 bytes.
  EXPECT_EQ(HexOf(plan.requests[0].bytes).substr(0, 50), "01 17 00 04 00 03 00 04 00 03 06 00 07 00 08 00 09");
  EXPECT_EQ(WriteText(plan.requests[0]), "3 holding registers from offset 5 (40005) with function 23: 7 8 9");
  EXPECT_EQ(DescribePlan(run, WriteFormat::Uint16, plan),
            "Writes 40005 = 0x0007, 40006 = 0x0008, 40007 = 0x0009 with function 23");
  // Without it, as before.
  EXPECT_EQ(PlanWrite(run, WriteFormat::Uint16, {"7", "8", "9"}, false).requests.at(0).function, 16);

  // Where 23 does not fit, the writes go as they would without it.
  const struct {
    WriteTarget target;
    bool fits;
  } cases[] = {
      {Registers(1, {1}, {0}), true},
      {Registers(1, {1, 3}, {0, 0}), false},  // not consecutive
      {Registers(0, {1, 2}, {0, 0}), false},  // a broadcast: 23 awaits a reply
      {Registers(1, OffsetsUpTo(121), std::vector<std::uint16_t>(121, 0)), true},
      {Registers(1, OffsetsUpTo(122), std::vector<std::uint16_t>(122, 0)), false},  // more than 23 writes
  };
  for (const auto& c : cases) EXPECT_EQ(CanReadBack(c.target), c.fits) << c.target.offsets.size();
  const WritePlanResult apart = PlanWrite(cases[1].target, WriteFormat::Uint16, {"1"}, false, true);
  ASSERT_EQ(apart.requests.size(), 2u);
  EXPECT_EQ(apart.requests[0].function, 6);

  // A run that would read past the last address is refused with the codec's text.
  const WritePlanResult past =
      PlanWrite(Registers(1, {65536, 65537}, {0, 0}), WriteFormat::Uint16, {"1"}, false, true);
  EXPECT_TRUE(past.requests.empty());
  EXPECT_EQ(past.error.rfind("Error - ", 0), 0u) << past.error;
}
