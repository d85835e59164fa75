#include "session/WriteValues.h"

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
       "1e40 is out of range for float32: enter a number from -3.4028235e38 to 3.4028235e38; below 1.1754944e-38 in size, only one that float32 keeps as written (such as 0)."},
      {"nan", WriteFormat::Float32, {},
       "\"nan\" is not a float32 value: enter a number from -3.4028235e38 to 3.4028235e38; below 1.1754944e-38 in size, only one that float32 keeps as written (such as 0)."},
      {"3.5x", WriteFormat::Float32, {},
       "\"3.5x\" is not a float32 value: enter a number from -3.4028235e38 to 3.4028235e38; below 1.1754944e-38 in size, only one that float32 keeps as written (such as 0)."},
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

// The range a message names is the range taken, and a value is never written as another
// one than typed beyond float32's own rounding: not as 0, not as a subnormal that keeps only
// a few bits of it (a subnormal that keeps it as written goes). Texts beyond double's own range too, which strtod cannot hold.
TEST(write_values, the_range_named_is_the_range_taken) {
  const std::string floats = "a number from -3.4028235e38 to 3.4028235e38; below 1.1754944e-38 in size, only one that float32 keeps as written (such as 0)";
  const struct {
    const char* text;
    WriteFormat format;
    std::vector<std::uint16_t> words;  // low word first; empty: refused
    std::string error;
  } rows[] = {
      {"3.4028235e38", WriteFormat::Float32, {0xFFFF, 0x7F7F}, ""},  // FLT_MAX as the message names it
      {"-3.4028235e38", WriteFormat::Float32, {0xFFFF, 0xFF7F}, ""},
      {"340282346638528859811704183484516925440", WriteFormat::Float32, {0xFFFF, 0x7F7F}, ""},  // its exact value
      {"3.40282356e38", WriteFormat::Float32, {0xFFFF, 0x7F7F}, ""},  // still rounds to it
      {"3.4028236e38", WriteFormat::Float32, {}, "3.4028236e38 is out of range for float32: enter " + floats + "."},
      {"-3.5e38", WriteFormat::Float32, {}, "-3.5e38 is out of range for float32: enter " + floats + "."},
      {"1e308", WriteFormat::Float32, {}, "1e308 is out of range for float32: enter " + floats + "."},
      {"1e400", WriteFormat::Float32, {}, "1e400 is out of range for float32: enter " + floats + "."},
      {"-inf", WriteFormat::Float32, {}, "-inf is out of range for float32: enter " + floats + "."},
      {"1.1754944e-38", WriteFormat::Float32, {0x0000, 0x0080}, ""},  // FLT_MIN, the smallest normal
      {"-1.17549435e-38", WriteFormat::Float32, {0x0000, 0x8080}, ""},
      // Below it, a value that float32 keeps as written, as the table shows one read from a device.
      {"1.1754942e-38", WriteFormat::Float32, {0xFFFF, 0x007F}, ""},
      {"1.83672e-40", WriteFormat::Float32, {0x0001, 0x0002}, ""},
      {"1.4013e-45", WriteFormat::Float32, {0x0001, 0x0000}, ""},  // the smallest there is
      {"1e-45", WriteFormat::Float32, {}, "1e-45 is too small for float32, which would write it as 1.4013e-45: enter " + floats + "."},
      {"1e-40", WriteFormat::Float32, {},
       "1e-40 is too small for float32, which would write it as 9.99995e-41: enter " + floats + "."},
      {"1e-50", WriteFormat::Float32, {}, "1e-50 is too small for float32, which would write it as 0: enter " + floats + "."},
      {"-1e-50", WriteFormat::Float32, {}, "-1e-50 is too small for float32, which would write it as -0: enter " + floats + "."},
      {"4.9e-324", WriteFormat::Float32, {}, "4.9e-324 is too small for float32, which would write it as 0: enter " + floats + "."},
      {"1e-400", WriteFormat::Float32, {}, "1e-400 is too small for float32, which would write it as 0: enter " + floats + "."},
      {"0", WriteFormat::Float32, {0x0000, 0x0000}, ""},
      {"0.000e-500", WriteFormat::Float32, {0x0000, 0x0000}, ""},  // 0, however written
      {"-0", WriteFormat::Float32, {0x0000, 0x8000}, ""},
      // the integer formats at and just beyond their ends
      {"65535", WriteFormat::Uint16, {0xFFFF}, ""},
      {"65536", WriteFormat::Uint16, {}, "65536 is out of range for uint16: enter a whole number from 0 to 65535."},
      {"-0", WriteFormat::Uint16, {0x0000}, ""},
      {"-32768", WriteFormat::Int16, {0x8000}, ""},
      {"-32769", WriteFormat::Int16, {}, "-32769 is out of range for int16: enter a whole number from -32768 to 32767."},
      {"0xFFFF", WriteFormat::Hex, {0xFFFF}, ""},
      {"0x0000000000000000FFFF", WriteFormat::Hex, {0xFFFF}, ""},
      {"4294967295", WriteFormat::Uint32, {0xFFFF, 0xFFFF}, ""},
      {"-1", WriteFormat::Uint32, {}, "-1 is out of range for uint32: enter a whole number from 0 to 4294967295."},
      {"-2147483648", WriteFormat::Int32, {0x0000, 0x8000}, ""},
      {"2147483648", WriteFormat::Int32, {},
       "2147483648 is out of range for int32: enter a whole number from -2147483648 to 2147483647."},
      {"9223372036854775808", WriteFormat::Int32, {},
       "9223372036854775808 is out of range for int32: enter a whole number from -2147483648 to 2147483647."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    std::vector<std::uint16_t> words;
    std::string error;
    EXPECT_EQ(ParseWriteValue(row.text, row.format, words, error), row.error.empty());
    EXPECT_EQ(words, row.words);
    EXPECT_EQ(error, row.error);
  }
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
  EXPECT_TRUE(FrameWrites(256, false, 1, {1}, false, 1, error).empty());
  EXPECT_NE(error.find("slave id"), std::string::npos) << error;
  // Slave id 0 broadcasts: every device writes, none answers.
  const std::vector<WriteFrame> broadcast = FrameWrites(0, false, 1, {1}, false, 1, error);
  ASSERT_EQ(broadcast.size(), 1u);
  EXPECT_EQ(broadcast[0].bytes[0], 0);
  EXPECT_TRUE(FrameWrites(1, false, 1, {}, false, 1, error).empty());
  EXPECT_FALSE(error.empty());
}

// A failed write names what it was: the items, the address, the function and the values
// that the request itself carries.
TEST(write_values, a_write_names_its_items_function_and_values) {
  struct Case {
    bool coils;
    int offset;
    std::vector<std::uint16_t> words;
    bool multiple;
    const char* text;
  };
  const Case cases[] = {
      {false, 10, {1234}, false, "1 holding register at offset 10 (40010) with function 06: 1234"},
      {false, 9001, {5, 65535}, false, "2 holding registers from offset 9001 (49001) with function 16: 5 65535"},
      {true, 5, {1}, false, "1 coil at offset 5 (00005) with function 05: 1"},
      {true, 5, {0}, false, "1 coil at offset 5 (00005) with function 05: 0"},
      {true, 3, {1, 0, 1, 1, 0, 0, 0, 0, 1}, false, "9 coils from offset 3 (00003) with function 15: 1 0 1 1 0 0 0 0 1"},
      {false, 7, {42}, true, "1 holding register at offset 7 (40007) with function 16: 42"},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto frames = FrameWrites(1, c.coils, c.offset, c.words, c.multiple, 1, error);
    ASSERT_EQ(frames.size(), 1u) << error;
    EXPECT_EQ(WriteText(frames[0]), c.text);
  }
}

TEST(write_values, thirty_two_bit_values_follow_the_word_order) {
  using O = WordOrder;
  const struct {
    const char* text;
    WriteFormat format;
    O order;
    std::vector<std::uint16_t> words;  // the registers, first to last
  } rows[] = {
      {"1", WriteFormat::Float32, O::LowFirst, {0x0000, 0x3F80}},
      {"1", WriteFormat::Float32, O::HighFirst, {0x3F80, 0x0000}},
      {"1", WriteFormat::Float32, O::LowFirstSwapped, {0x0000, 0x803F}},
      {"1", WriteFormat::Float32, O::HighFirstSwapped, {0x803F, 0x0000}},
      {"-2.5", WriteFormat::Float32, O::LowFirst, {0x0000, 0xC020}},
      {"-2.5", WriteFormat::Float32, O::HighFirst, {0xC020, 0x0000}},
      {"-2.5", WriteFormat::Float32, O::LowFirstSwapped, {0x0000, 0x20C0}},
      {"-2.5", WriteFormat::Float32, O::HighFirstSwapped, {0x20C0, 0x0000}},
      {"305419896", WriteFormat::Uint32, O::LowFirst, {0x5678, 0x1234}},
      {"305419896", WriteFormat::Uint32, O::HighFirst, {0x1234, 0x5678}},
      {"305419896", WriteFormat::Uint32, O::LowFirstSwapped, {0x7856, 0x3412}},
      {"305419896", WriteFormat::Uint32, O::HighFirstSwapped, {0x3412, 0x7856}},
      {"-2", WriteFormat::Int32, O::HighFirst, {0xFFFF, 0xFFFE}},
      {"-2", WriteFormat::Int32, O::HighFirstSwapped, {0xFFFF, 0xFEFF}},
      // one register: no order to follow
      {"0x1234", WriteFormat::Hex, O::HighFirstSwapped, {0x1234}},
      {"-2", WriteFormat::Int16, O::LowFirstSwapped, {0xFFFE}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.text) + " order " + std::to_string(static_cast<int>(row.order)));
    std::vector<std::uint16_t> words;
    std::string error;
    ASSERT_TRUE(ParseWriteValue(row.text, row.format, words, error, row.order)) << error;
    EXPECT_EQ(words, row.words);
    const std::string back = FormatWriteValue(words.data(), row.format, row.order);
    std::vector<std::uint16_t> again;
    ASSERT_TRUE(ParseWriteValue(back, row.format, again, error, row.order)) << error;
    EXPECT_EQ(again, words);
    EXPECT_EQ(back, row.text);
  }
  // the same registers are another value in another order
  const std::uint16_t one[] = {0x0000, 0x3F80};
  EXPECT_EQ(FormatWriteValue(one, WriteFormat::Float32, O::LowFirst), "1");
  EXPECT_EQ(FormatWriteValue(one, WriteFormat::Uint32, O::HighFirst), "16256");
  EXPECT_EQ(FormatWriteValue(one, WriteFormat::Uint32, O::HighFirstSwapped), "32831");
}

TEST(word_order, join_and_split_over_two_and_four_registers) {
  using O = WordOrder;
  const struct {
    O order;
    int count;
    std::string wire;
    std::uint64_t value;
  } rows[] = {
      {O::LowFirst, 2, "56 78 12 34", 0x12345678},
      {O::HighFirst, 2, "12 34 56 78", 0x12345678},
      {O::LowFirstSwapped, 2, "78 56 34 12", 0x12345678},
      {O::HighFirstSwapped, 2, "34 12 78 56", 0x12345678},
      {O::LowFirst, 4, "32 10 76 54 BA 98 FE DC", 0xFEDCBA9876543210},
      {O::HighFirst, 4, "FE DC BA 98 76 54 32 10", 0xFEDCBA9876543210},
      {O::LowFirstSwapped, 4, "10 32 54 76 98 BA DC FE", 0xFEDCBA9876543210},
      {O::HighFirstSwapped, 4, "DC FE 98 BA 54 76 10 32", 0xFEDCBA9876543210},
      {O::HighFirstSwapped, 1, "34 12", 0x1234},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.wire);
    const auto wire = vantrel::test::Bytes(row.wire);
    EXPECT_EQ(JoinRegisters(wire.data(), row.count, row.order), row.value);
    std::uint16_t words[4] = {};
    SplitRegisters(row.value, row.count, row.order, words);
    std::vector<std::uint8_t> split;
    for (int i = 0; i < row.count; ++i) {
      split.push_back(static_cast<std::uint8_t>(words[i] >> 8));
      split.push_back(static_cast<std::uint8_t>(words[i]));
    }
    EXPECT_EQ(split, wire);
  }
  WordOrder order = O::HighFirst;
  EXPECT_FALSE(WordOrderFromInt(4, order));
  EXPECT_FALSE(WordOrderFromInt(-1, order));
  EXPECT_EQ(order, O::HighFirst);
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(WordOrderFromInt(i, order));
    EXPECT_EQ(static_cast<int>(order), i);
  }
  EXPECT_STREQ(WordOrderCaption(O::LowFirst), "low word first");
  EXPECT_STREQ(WordOrderCaption(O::HighFirstSwapped), "high word first, bytes swapped");
}
