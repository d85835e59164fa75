#include "app/WriteValues.h"

#include <gtest/gtest.h>

#include "modbus/ModbusFrame.h"
#include "support/Hex.h"

using namespace vantrel;
using vantrel::test::HexOf;

TEST(write_values, parse_into_registers_low_word_first) {
  struct Row {
    const char* text;
    WriteFormat format;
    std::vector<std::uint16_t> words;  // empty: refused
    const char* error = "";
  };
  const Row rows[] = {
      {"1234", WriteFormat::Uint16, {1234}},
      {" 65535 ", WriteFormat::Uint16, {65535}},
      {"70000", WriteFormat::Uint16, {},
       "70000 is out of range for uint16: enter a whole number from 0 to 65535."},
      {"-1", WriteFormat::Uint16, {}, "-1 is out of range for uint16: enter a whole number from 0 to 65535."},
      {"abc", WriteFormat::Uint16, {}, "\"abc\" is not a uint16 value: enter a whole number from 0 to 65535."},
      {"", WriteFormat::Uint16, {}, "Enter a value: a whole number from 0 to 65535."},
      {"+5", WriteFormat::Uint16, {}, "\"+5\" is not a uint16 value: enter a whole number from 0 to 65535."},
      {"12.5", WriteFormat::Int16, {}, "\"12.5\" is not an int16 value: enter a whole number from -32768 to 32767."},
      {"-32768", WriteFormat::Int16, {0x8000}},
      {"32768", WriteFormat::Int16, {}, "32768 is out of range for int16: enter a whole number from -32768 to 32767."},
      {"0xBEEF", WriteFormat::Hex, {0xBEEF}},
      {"beef", WriteFormat::Hex, {0xBEEF}},
      {"0x10000", WriteFormat::Hex, {},
       "0x10000 is out of range for hex: enter a hexadecimal number from 0x0000 to 0xFFFF."},
      {"0xG1", WriteFormat::Hex, {},
       "\"0xG1\" is not a hex value: enter a hexadecimal number from 0x0000 to 0xFFFF."},
      {"4294967295", WriteFormat::Uint32, {0xFFFF, 0xFFFF}},
      {"65536", WriteFormat::Uint32, {0x0000, 0x0001}},
      {"4294967296", WriteFormat::Uint32, {},
       "4294967296 is out of range for uint32: enter a whole number from 0 to 4294967295."},
      {"-2", WriteFormat::Int32, {0xFFFE, 0xFFFF}},
      {"99999999999999999999", WriteFormat::Int32, {},
       "99999999999999999999 is out of range for int32: enter a whole number from -2147483648 to 2147483647."},
      {"3.5", WriteFormat::Float32, {0x0000, 0x4060}},
      {"-1e-3", WriteFormat::Float32, {0x126F, 0xBA83}},
      {"1e40", WriteFormat::Float32, {},
       "1e40 is out of range for float32: enter a number from -3.4028235e38 to 3.4028235e38."},
      {"nan", WriteFormat::Float32, {},
       "\"nan\" is not a float32 value: enter a number from -3.4028235e38 to 3.4028235e38."},
      {"3.5x", WriteFormat::Float32, {},
       "\"3.5x\" is not a float32 value: enter a number from -3.4028235e38 to 3.4028235e38."},
      {"On", WriteFormat::Coil, {1}},
      {"0", WriteFormat::Coil, {0}},
      {"2", WriteFormat::Coil, {}, "\"2\" is not a coil value: enter 1 (on) or 0 (off)."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    std::vector<std::uint16_t> words{42};
    std::string error;
    const bool ok = ParseWriteValue(row.text, row.format, words, error);
    EXPECT_EQ(ok, !row.words.empty());
    EXPECT_EQ(words, row.words);
    EXPECT_EQ(error, row.error);
    // What is parsed formats back to a text that parses to the same registers.
    if (ok) {
      std::vector<std::uint16_t> again;
      ASSERT_TRUE(ParseWriteValue(FormatWriteValue(words.data(), row.format), row.format, again, error)) << error;
      EXPECT_EQ(again, words);
    }
  }
  const std::uint16_t pi[] = {0x0FDB, 0x4049};
  EXPECT_EQ(FormatWriteValue(pi, WriteFormat::Float32), "3.1415927");
  const std::uint16_t half[] = {0x0000, 0x3F00};
  EXPECT_EQ(FormatWriteValue(half, WriteFormat::Float32), "0.5");
  const std::uint16_t ten[] = {10};
  EXPECT_EQ(FormatWriteValue(ten, WriteFormat::Hex), "0x000A");
}

TEST(write_values, frame_runs_with_the_quantity_limits) {
  std::string error;
  auto frames = FrameWrites(0x11, false, 2, {3}, false, 1, error);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(HexOf(frames[0].bytes), "11 06 00 01 00 03 9A 9B");
  frames = FrameWrites(0x11, false, 2, {3}, true, 1, error);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].function, 16) << "a device without 06 gets 16";
  frames = FrameWrites(0x11, true, 173, {1}, false, 1, error);
  EXPECT_EQ(HexOf(frames.at(0).bytes), "11 05 00 AC FF 00 4E 8B");

  // 125 registers of float pairs go as 122 + 3, never cutting a pair; 2000 coils as 1968 + 32.
  frames = FrameWrites(1, false, 1, std::vector<std::uint16_t>(126, 7), false, 2, error);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].count, 122);
  EXPECT_EQ(frames[1].offset, 123);
  EXPECT_EQ(frames[1].count, 4);
  frames = FrameWrites(1, true, 1, std::vector<std::uint16_t>(2000, 1), false, 1, error);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].count, 1968);
  EXPECT_EQ(frames[1].count, 32);
  EXPECT_EQ(frames[1].function, 15);

  EXPECT_TRUE(FrameWrites(1, false, 65536, {1, 2}, false, 1, error).empty());
  EXPECT_NE(error.find("out of range"), std::string::npos) << error;
  EXPECT_TRUE(FrameWrites(0, false, 1, {1}, false, 1, error).empty());
  EXPECT_NE(error.find("slave id"), std::string::npos) << error;
  EXPECT_TRUE(FrameWrites(1, false, 1, {}, false, 1, error).empty());
  EXPECT_FALSE(error.empty());
}
