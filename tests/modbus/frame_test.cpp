#include "modbus/ModbusFrame.h"

#include <gtest/gtest.h>

#include "support/Hex.h"

using namespace vantrel;
using vantrel::test::Bytes;
using vantrel::test::HexOf;

namespace {

std::string Frame(int function, int slave, int offset, int length) {
  std::uint8_t out[8] = {};
  const int n = BuildReadRequest(static_cast<std::uint8_t>(function), static_cast<std::uint8_t>(slave),
                                 static_cast<std::uint16_t>(offset), static_cast<std::uint16_t>(length), out);
  return n == 8 ? HexOf(out, 8) : "code " + std::to_string(n);
}

}  // namespace

TEST(crc16, empty_input_is_the_initial_value) { EXPECT_EQ(Crc16(nullptr, 0), 0xFFFF); }

TEST(crc16, high_byte_is_sent_first) {
  const auto f = Bytes("01 03 00 00 00 0A");
  EXPECT_EQ(Crc16(f.data(), 6), 0xC5CD);
  const auto r = Bytes("01 03 04 00 0A 00 0B");
  EXPECT_EQ(Crc16(r.data(), 7), 0x9BF6);
}

TEST(crc16, matches_the_bitwise_definition_for_every_single_byte) {
  for (int b = 0; b < 256; ++b) {
    unsigned crc = 0xFFFF ^ static_cast<unsigned>(b);
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    const std::uint8_t byte = static_cast<std::uint8_t>(b);
    // the low-order byte of the usual CRC goes first, so it is the high byte here
    EXPECT_EQ(Crc16(&byte, 1), static_cast<std::uint16_t>((crc & 0xFF) << 8 | crc >> 8)) << b;
  }
}

TEST(build_read_request, frames_with_crc_low_byte_first) {
  EXPECT_EQ(Frame(3, 1, 1, 10), "01 03 00 00 00 0A C5 CD");
  EXPECT_EQ(Frame(1, 17, 20, 37), "11 01 00 13 00 25 0E 84");
  EXPECT_EQ(Frame(4, 1, 1, 1), "01 04 00 00 00 01 31 CA");
}

TEST(build_read_request, offset_zero_and_one_both_start_at_address_zero) {
  EXPECT_EQ(Frame(3, 1, 0, 10), Frame(3, 1, 1, 10));
}

TEST(build_read_request, offset_is_cut_to_16_bits_before_the_decrement) {
  // 70000 is carried as 4464, so the wire address is 4463 (0x116F)
  EXPECT_EQ(Frame(4, 1, 70000, 1).substr(0, 17), "01 04 11 6F 00 01");
}

TEST(build_read_request, refuses_without_a_buffer_or_on_a_failed_check) {
  EXPECT_EQ(BuildReadRequest(3, 1, 1, 10, nullptr), MB_REQUEST_NO_BUFFER);
  std::uint8_t out[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(BuildReadRequest(5, 1, 1, 10, out), MB_REQUEST_UNKNOWN_FUNCTION_CODE);
  EXPECT_EQ(HexOf(out, 8), "AA AA AA AA AA AA AA AA");
}

TEST(build_read_request, checks_the_decremented_offset) {
  // 9990 + 10 = 10000 passes in the builder; the raw offset 9991 does not
  EXPECT_EQ(Frame(3, 1, 9991, 10).size(), 23u);
  EXPECT_EQ(CheckReadRequest(3, 1, 9991, 10), MB_REQUEST_OUT_OF_RANGE);
}

TEST(check_read_request, length_limits_per_function) {
  EXPECT_EQ(CheckReadRequest(1, 1, 0, 2000), MB_REQUEST_OK);
  EXPECT_EQ(CheckReadRequest(1, 1, 0, 2001), MB_REQUEST_TOO_LONG);
  EXPECT_EQ(CheckReadRequest(2, 1, 0, 2001), MB_REQUEST_TOO_LONG);
  EXPECT_EQ(CheckReadRequest(3, 1, 0, 125), MB_REQUEST_OK);
  EXPECT_EQ(CheckReadRequest(3, 1, 0, 126), MB_REQUEST_TOO_LONG);
  EXPECT_EQ(CheckReadRequest(4, 1, 0, 126), MB_REQUEST_TOO_LONG);
  EXPECT_EQ(CheckReadRequest(3, 1, 0, 0), MB_REQUEST_OK);
}

TEST(check_read_request, range_limits_per_function) {
  EXPECT_EQ(CheckReadRequest(4, 1, 60001, 100), MB_REQUEST_OK);
  EXPECT_EQ(CheckReadRequest(3, 1, 60001, 100), MB_REQUEST_OUT_OF_RANGE);
  EXPECT_EQ(CheckReadRequest(1, 1, 9000, 1000), MB_REQUEST_OK);
  EXPECT_EQ(CheckReadRequest(2, 1, 9001, 1000), MB_REQUEST_OUT_OF_RANGE);
  // the sum does not wrap at 16 bits
  EXPECT_EQ(CheckReadRequest(4, 1, 65535, 1), MB_REQUEST_OUT_OF_RANGE);
  EXPECT_EQ(CheckReadRequest(4, 1, 65535, 0), MB_REQUEST_OK);
}

TEST(check_read_request, unknown_function_comes_before_the_range) {
  EXPECT_EQ(CheckReadRequest(0, 1, 65000, 5000), MB_REQUEST_UNKNOWN_FUNCTION_CODE);
  EXPECT_EQ(CheckReadRequest(5, 1, 0, 1), MB_REQUEST_UNKNOWN_FUNCTION_CODE);
}

TEST(swap_bytes16, exchanges_the_bytes) {
  EXPECT_EQ(SwapBytes16(0x3F80), 0x803F);
  EXPECT_EQ(SwapBytes16(SwapBytes16(0x1234)), 0x1234);
}

// The settings as the user gives them: values that do not fit a frame field are refused,
// never cut (256 would go out as 0, the broadcast address; 65537 as offset 1).
TEST(check_request_settings, refuses_what_a_frame_would_cut) {
  struct Case {
    int function, slaveId, offset, length, code;
  };
  const Case cases[] = {
      {3, 1, 1, 10, MB_REQUEST_OK},
      {3, 255, 1, 10, MB_REQUEST_OK},
      {4, 11, 65000, 1, MB_REQUEST_OK},
      {3, 0, 1, 10, MB_REQUEST_BAD_SLAVE_ID},
      {3, 256, 1, 10, MB_REQUEST_BAD_SLAVE_ID},
      {3, 99999, 1, 10, MB_REQUEST_BAD_SLAVE_ID},
      {3, -1, 1, 10, MB_REQUEST_BAD_SLAVE_ID},
      {4, 1, 0, 1, MB_REQUEST_OK},  // as older versions stored it: address 0, as offset 1
      {4, 1, -1, 1, MB_REQUEST_BAD_OFFSET},
      {4, 1, 65537, 1, MB_REQUEST_BAD_OFFSET},
      {4, 1, 65536, 1, MB_REQUEST_OUT_OF_RANGE},  // fits the field, but the range ends at 65535
      {1, 1, 1, 0, MB_REQUEST_BAD_LENGTH},
      {1, 1, 1, -5, MB_REQUEST_BAD_LENGTH},
      {1, 1, 1, 2001, MB_REQUEST_TOO_LONG},
      {3, 1, 1, 65537, MB_REQUEST_TOO_LONG},  // not 1 after a cut to 16 bits
      {3, 1, 9991, 10, MB_REQUEST_OUT_OF_RANGE},  // the user's offset, one stricter than the builder
      {5, 0, 0, 0, MB_REQUEST_UNKNOWN_FUNCTION_CODE},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckRequestSettings(c.function, c.slaveId, c.offset, c.length), c.code)
        << c.function << " " << c.slaveId << " " << c.offset << " " << c.length;
  }
  EXPECT_EQ(CheckRequestFields(1, 65536, 0xFFFF), MB_REQUEST_OK);
  EXPECT_EQ(CheckRequestFields(1, 1, 0x10000), MB_REQUEST_BAD_LENGTH);
}

// The worked examples of the Modbus serial-line documentation, slave 0x11; offsets count
// from 1, so the wire address is one less.
TEST(build_write_request, frames_the_four_write_functions) {
  struct Row {
    int function, offset;
    std::vector<std::uint16_t> values;
    const char* frame;
  };
  const Row rows[] = {
      {5, 173, {1}, "11 05 00 AC FF 00 4E 8B"},
      {5, 173, {7}, "11 05 00 AC FF 00 4E 8B"},  // any non-zero value is on
      {5, 173, {0}, "11 05 00 AC 00 00 0F 7B"},
      {6, 2, {3}, "11 06 00 01 00 03 9A 9B"},
      {6, 0, {3}, "11 06 00 00 00 03 CB 5B"},  // offset 0 writes address 0, as offset 1 does
      {15, 20, {1, 0, 1, 1, 0, 0, 1, 1, 1, 0}, "11 0F 00 13 00 0A 02 CD 01 BF 0B"},
      {16, 2, {0x000A, 0x0102}, "11 10 00 01 00 02 04 00 0A 01 02 C6 F0"},
  };
  for (const Row& row : rows) {
    std::uint8_t out[kFrameCapacity] = {};
    const int n = BuildWriteRequest(static_cast<std::uint8_t>(row.function), 0x11, row.offset, row.values.data(),
                                    static_cast<int>(row.values.size()), out);
    ASSERT_GT(n, 0) << row.frame;
    EXPECT_EQ(HexOf(out, static_cast<std::size_t>(n)), row.frame);
  }
  // The largest writes fill the frame to 255 bytes.
  std::vector<std::uint16_t> many(kMaxWriteCoils, 1);
  std::uint8_t out[kFrameCapacity] = {};
  EXPECT_EQ(BuildWriteRequest(15, 1, 1, many.data(), kMaxWriteCoils, out), 255);
  EXPECT_EQ(BuildWriteRequest(16, 1, 1, many.data(), kMaxWriteRegisters, out), 255);
  EXPECT_EQ(BuildWriteRequest(16, 1, 1, nullptr, 1, out), MB_REQUEST_NO_BUFFER);
}

TEST(check_write_request, quantities_and_the_end_of_the_address_space) {
  struct Row {
    int function, slave, offset, count, code;
  };
  const Row rows[] = {
      {5, 1, 1, 1, MB_REQUEST_OK},
      {5, 1, 1, 2, MB_REQUEST_WRITE_BAD_QUANTITY},
      {6, 1, 65536, 1, MB_REQUEST_OK},
      {15, 1, 1, 1968, MB_REQUEST_OK},
      {15, 1, 1, 1969, MB_REQUEST_WRITE_BAD_QUANTITY},
      {15, 1, 1, 0, MB_REQUEST_WRITE_BAD_QUANTITY},
      {16, 1, 1, 123, MB_REQUEST_OK},
      {16, 1, 1, 124, MB_REQUEST_WRITE_BAD_QUANTITY},
      {16, 1, 65414, 123, MB_REQUEST_OK},  // the last register written is address 65535
      {16, 1, 65415, 123, MB_REQUEST_WRITE_OUT_OF_RANGE},
      {15, 1, 65536, 2, MB_REQUEST_WRITE_OUT_OF_RANGE},
      {16, 0, 1, 1, MB_REQUEST_OK},  // a broadcast
      {5, 0, 1, 1, MB_REQUEST_OK},
      {16, -1, 1, 1, MB_REQUEST_BAD_SLAVE_ID},
      {6, 256, 1, 1, MB_REQUEST_BAD_SLAVE_ID},
      {16, 1, 0, 123, MB_REQUEST_OK},
      {16, 1, -1, 1, MB_REQUEST_BAD_OFFSET},
      {16, 1, 65537, 1, MB_REQUEST_BAD_OFFSET},
      {3, 1, 1, 1, MB_REQUEST_UNKNOWN_FUNCTION_CODE},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(CheckWriteRequest(r.function, r.slave, r.offset, r.count), r.code)
        << r.function << " " << r.offset << " " << r.count;
  }
}
