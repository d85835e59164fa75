// The framings' byte vectors: ASCII frames of the examples in the Modicon Modbus protocol
// reference guide (slave 17, 0x11), and MBAP headers.
#include "modbus/Framing.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/Hex.h"

using namespace vantrel;
using vantrel::test::Bytes;
using vantrel::test::HexOf;

TEST(ascii_framing, the_guide_examples_encode_and_decode_exactly) {
  struct Row {
    const char* what;
    const char* bytes;  // slave id and PDU
    const char* line;
  };
  const Row rows[] = {
      {"read holding registers 40108-40110", "11 03 00 6B 00 03", ":1103006B00037E\r\n"},
      {"its reply", "11 03 06 02 2B 00 00 00 64", ":110306022B0000006455\r\n"},
      {"read coils 20-56", "11 01 00 13 00 25", ":110100130025B6\r\n"},
      {"its reply", "11 01 05 CD 6B B2 0E 1B", ":110105CD6BB20E1BD6\r\n"},
      {"force coil 173 on", "11 05 00 AC FF 00", ":110500ACFF003F\r\n"},
      {"preset register 40002", "11 06 00 01 00 03", ":110600010003E5\r\n"},
      {"force 10 coils from 20", "11 0F 00 13 00 0A 02 CD 01", ":110F0013000A02CD01F3\r\n"},
      {"preset 2 registers from 40002", "11 10 00 01 00 02 04 00 0A 01 02", ":11100001000204000A0102CB\r\n"},
      {"an exception: illegal data address", "0A 81 02", ":0A810273\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const auto bytes = Bytes(row.bytes);
    EXPECT_EQ(EncodeAscii(bytes.data(), static_cast<int>(bytes.size())), row.line);
    // the characters between ':' and CR LF carry the bytes and the LRC
    const std::string line = row.line;
    std::uint8_t decoded[kMaxAsciiFrame];
    const int n = DecodeAsciiHex(reinterpret_cast<const std::uint8_t*>(line.data()) + 1,
                                 static_cast<int>(line.size()) - 3, decoded, sizeof decoded);
    ASSERT_EQ(n, static_cast<int>(bytes.size()) + 1);
    EXPECT_EQ(HexOf(decoded, bytes.size()), HexOf(bytes));
    EXPECT_EQ(decoded[n - 1], Lrc(bytes.data(), static_cast<int>(bytes.size())));
    EXPECT_EQ(Lrc(decoded, n), 0) << "the sum of the bytes and their LRC is 0";
  }
}

TEST(ascii_framing, decoding_refuses_what_is_no_hex_pair) {
  struct Row {
    const char* chars;
    int capacity;
    int result;
  };
  const Row rows[] = {
      {"0a81027f", 8, 4},  // lower case is read too
      {"0A8102", 3, 3},
      {"0A8102", 2, -1},   // more bytes than room
      {"0A810", 8, -1},    // an odd count
      {"0A81G2", 8, -1},   // no hex digit
      {"0A 810", 8, -1},
      {"", 8, 0},
  };
  for (const Row& row : rows) {
    std::uint8_t out[8];
    EXPECT_EQ(DecodeAsciiHex(reinterpret_cast<const std::uint8_t*>(row.chars), static_cast<int>(std::strlen(row.chars)),
                             out, row.capacity),
              row.result)
        << row.chars;
  }
}

TEST(mbap_framing, header_fields_and_possible_lengths) {
  // Transaction 0x1234, unit 17, the PDU of a read of 3 registers: the length counts the
  // unit id and the PDU.
  std::uint8_t header[kMbapHeaderSize];
  PutMbap(header, 0x1234, 0x11, 5);
  EXPECT_EQ(HexOf(header, kMbapHeaderSize), "12 34 00 00 00 06 11");
  const MbapHeader h = ParseMbap(Bytes("FF FE 00 01 00 FE 0B").data());
  EXPECT_EQ(h.transaction, 0xFFFE);
  EXPECT_EQ(h.protocol, 1);
  EXPECT_EQ(h.length, 254);
  EXPECT_EQ(h.unit, 11);
  for (unsigned length : {0u, 1u, 255u, 65535u}) EXPECT_FALSE(MbapLengthPossible(length)) << length;
  for (unsigned length : {2u, 6u, 254u}) EXPECT_TRUE(MbapLengthPossible(length)) << length;
}

TEST(modes, stored_positions_names_and_layouts) {
  struct Row {
    int position;
    const char* name;
    bool network;
    int header;
    int check;
  };
  const Row rows[] = {{0, "ASCII", false, 1, 1}, {1, "RTU", false, 1, 2}, {2, "TCP", true, 7, 0},
                      {3, "RTU over TCP", true, 1, 2}};
  for (const Row& row : rows) {
    ModbusMode mode = ModbusMode::Rtu;
    ASSERT_TRUE(ModeFromInt(row.position, mode));
    EXPECT_STREQ(ModeName(mode), row.name);
    EXPECT_EQ(IsNetworkMode(mode), row.network);
    EXPECT_EQ(LayoutOf(mode).header, row.header);
    EXPECT_EQ(LayoutOf(mode).check, row.check);
  }
  ModbusMode mode = ModbusMode::Tcp;
  EXPECT_FALSE(ModeFromInt(4, mode));
  EXPECT_FALSE(ModeFromInt(-1, mode));
  EXPECT_EQ(mode, ModbusMode::Tcp);
}
