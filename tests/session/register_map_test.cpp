// Register maps: how an item's registers become the value shown and back.
#include "session/RegisterMap.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <optional>


namespace vantrel {

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr WordOrder LF = WordOrder::LowFirst, HF = WordOrder::HighFirst, LFS = WordOrder::LowFirstSwapped,
                    HFS = WordOrder::HighFirstSwapped;
const double kNaN = std::nan("");

MapItem Item(const char* type, MapTable table = MapTable::Holding) {
  MapItem item;
  item.name = "X";
  item.table = table;
  item.writable = DefaultWritable(table);
  EXPECT_EQ(SetMapType(type, item), "") << type;
  return item;
}

// An item, its registers as read, and what the table and the chart show of them.
struct Shown {
  const char* type;
  std::vector<std::uint16_t> raw;
  const char* text;
  double number;  // NaN: not a number
  WordOrder view = LF;
  std::optional<WordOrder> own = std::nullopt;
  double scale = 1, offset = 0;
  int decimals = -1;
  bool writesBack = true;  // EncodeItem(text) gives raw again
  MapTable table = MapTable::Holding;

  MapItem Make() const {
    MapItem item = Item(type, table);
    item.wordOrder = own;
    item.scale = scale;
    item.offset = offset;
    item.decimals = decimals;
    return item;
  }
};

const Shown kShown[] = {
    // 16 bits: the swapped orders swap the register's bytes; the word order does not apply.
    {"uint16", {0x1234}, "4660", 4660},
    {"uint16", {0x1234}, "13330", 13330, HF, LFS},
    {"uint16", {0x1234}, "13330", 13330, HFS},
    {"int16", {0xFFF1}, "-15", -15},
    {"int16", {0xF1FF}, "-15", -15, HFS},
    {"int16", {0xFFF1}, "-1.5", -1.5, LF, {}, 0.1},
    {"int16", {0x7FFF}, "3276.7", 3276.7, LF, {}, 0.1},
    {"int16", {0x0000}, "0.0", 0, LF, {}, -0.1},  // never "-0.0"
    {"uint16", {1000}, "-263.15", -263.15, LF, {}, 0.01, -273.15},
    {"uint16", {3}, "1.5", 1.5, LF, {}, 0.5},
    {"uint16", {3}, "1.500", 1.5, LF, {}, 0.5, 0, 3},
    {"uint16", {3}, "6", 6, LF, {}, 2},
    {"uint16", {7}, "7.00", 7, LF, {}, 1, 0, 2},
    // 32 bits: 123456789 is 0x075BCD15.
    {"uint32", {0xCD15, 0x075B}, "123456789", 123456789},
    {"uint32", {0x075B, 0xCD15}, "123456789", 123456789, HF},
    {"uint32", {0x15CD, 0x5B07}, "123456789", 123456789, LFS},
    {"uint32", {0x5B07, 0x15CD}, "123456789", 123456789, HFS},
    {"uint32", {0x075B, 0xCD15}, "123456789", 123456789, LF, HF},  // the item's own order wins
    {"int32", {0xFFFF, 0xFFFE}, "-2", -2, HF},
    {"int32", {0xFFFE, 0xFFFF}, "-0.002", -0.002, LF, {}, 0.001},
    {"float32", {0x3F80, 0x0000}, "1", 1, HF},
    {"float32", {0x0000, 0x3F80}, "1", 1, LF},
    {"float32", {0x803F, 0x0000}, "1", 1, HFS},
    {"float32", {0x0000, 0x803F}, "1", 1, LFS},
    {"float32", {0x4366, 0x199A}, "230.1", 230.1f, HF},
    {"float32", {0x3DCC, 0xCCCD}, "0.1", 0.1f, HF},  // float's shortest, not double's 0.10000000149011612
    {"float32", {0x3F80, 0x0000}, "10", 10, HF, {}, 10},
    {"float32", {0x3F80, 0x0000}, "1.00", 1, HF, {}, 1, 0, 2},
    {"float32", {0x7FC0, 0x0000}, "nan", kNaN, HF},
    {"float32", {0x7F80, 0x0000}, "inf", INFINITY, HF},
    {"float32", {0xFF80, 0x0000}, "-inf", -INFINITY, HF},
    {"float32", {0xFFC0, 0x0000}, "nan", kNaN, HF, {}, 1, 0, -1, false},  // a NaN with its sign bit
    // 64 bits.
    {"float64", {0x3FF0, 0, 0, 0}, "1", 1, HF},
    {"float64", {0xC004, 0, 0, 0}, "-2.5", -2.5, HF},
    {"float64", {0, 0, 0, 0xC004}, "-2.5", -2.5, LF},
    {"float64", {0, 0, 0, 0x04C0}, "-2.5", -2.5, LFS},
    {"float64", {0x04C0, 0, 0, 0}, "-2.5", -2.5, HFS},
    {"float64", {0x3FB9, 0x9999, 0x9999, 0x999A}, "0.1", 0.1, HF},
    {"int64", {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFE}, "-2", -2, HF},
    {"int64", {0xFFFE, 0xFFFF, 0xFFFF, 0xFFFF}, "-2", -2, LF},
    {"int64", {0x8000, 0, 0, 0}, "-9223372036854775808", -9223372036854775808.0, HF},
    {"uint64", {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, "18446744073709551615", 18446744073709551615.0},
    // No double holds it, so it is not written back with decimals.
    {"uint64",
     {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
     "18446744073709551615.00",
     18446744073709551615.0,
     LF,
     {},
     1,
     0,
     2,
     false},
    {"uint64", {0x0102, 0x0304, 0x0506, 0x0708}, "72623859790382856", 72623859790382856.0, HF},
    {"uint64", {0x0708, 0x0506, 0x0304, 0x0102}, "72623859790382856", 72623859790382856.0, LF},
    // Strings: high byte first, each register's bytes swapped in the swapped orders.
    {"string:2", {0x4142, 0x4300}, "ABC", kNaN},
    {"string:2", {0x4241, 0x0043}, "ABC", kNaN, LFS},
    {"string:2", {0x4241, 0x0043}, "ABC", kNaN, HF, HFS},
    {"string:3", {0x4142, 0x2020, 0x0000}, "AB", kNaN, LF, {}, 1, 0, -1, false},  // trailing blanks dropped
    {"string:3", {0x4142, 0x0043, 0x4400}, "AB", kNaN, LF, {}, 1, 0, -1, false},  // up to the first NUL
    {"string:2", {0xC2B0, 0x4300}, "°C", kNaN},
    {"string:2", {0x0141, 0x5C7F}, "\\x01A\\\\\\x7F", kNaN},
    {"string:1", {0xC2A0}, "\xC2\xA0", kNaN},    // a no-break space is printable
    {"string:1", {0xC285}, "\\xC2\\x85", kNaN},  // a C1 control is not
    {"string:1", {0xB041}, "\\xB0A", kNaN},      // Latin-1, no UTF-8
    // Bits: of the register as the 16-bit types see it.
    {"bit:3", {0x0008}, "1", 1},
    {"bit:3", {0xFFF7}, "0", 0},
    {"bit:15", {0x8000}, "1", 1},
    {"bit:15", {0x0080}, "1", 1, LFS},
    {"bit:0", {0x0100}, "1", 1, LF, HFS},
    {"bool", {1}, "1", 1, LF, {}, 1, 0, -1, true, MapTable::Coil},
    {"bool", {0}, "0", 0, LF, {}, 1, 0, -1, true, MapTable::Discrete},
};

TEST(register_map_test, every_type_and_word_order_shows_its_registers) {
  for (const Shown& c : kShown) {
    const MapItem item = c.Make();
    const std::string what = std::string(c.type) + " " + c.text;
    EXPECT_EQ(FormatItem(item, c.raw.data(), c.view), c.text) << what;
    const double number = ItemNumber(item, c.raw.data(), c.view);
    if (std::isnan(c.number)) {
      EXPECT_TRUE(std::isnan(number)) << what;
    } else {
      EXPECT_DOUBLE_EQ(number, c.number) << what;
    }
  }
}

TEST(register_map_test, what_is_shown_writes_the_registers_it_was_read_from) {
  for (const Shown& c : kShown) {
    if (!c.writesBack) continue;
    MapItem item = c.Make();
    item.writable = true;                    // a discrete input's value too
    std::vector<std::uint16_t> raw = c.raw;  // a bit item changes its bit in the register read
    std::string error;
    EXPECT_TRUE(EncodeItem(item, c.text, c.view, raw, error)) << c.type << " " << c.text << ": " << error;
    EXPECT_EQ(raw, c.raw) << c.type << " " << c.text;
  }
}

// A value typed in, and the registers it writes.
struct Written {
  const char* type;
  const char* text;
  std::vector<std::uint16_t> before;  // the registers as last read (a bit item's)
  std::vector<std::uint16_t> raw;
  WordOrder view = LF;
  double scale = 1, offset = 0;
  int decimals = -1;
  MapTable table = MapTable::Holding;
};

TEST(register_map_test, values_typed_in_write_these_registers) {
  const Written cases[] = {
      {"uint16", " 65535 ", {}, {0xFFFF}},
      {"uint16", "+7", {}, {7}},
      {"int16", "-32768", {}, {0x8000}},
      {"int16", "-15", {}, {0xF1FF}, HFS},
      {"int16", "-1.5", {}, {0xFFF1}, LF, 0.1},
      {"int16", "21.34", {}, {213}, LF, 0.1},  // within half the last decimal shown
      {"int16", "21.36", {}, {214}, LF, 0.1},
      {"int16", "-21.36", {}, {static_cast<std::uint16_t>(-214)}, LF, 0.1},
      {"uint16", "25.05", {}, {2982}, LF, 0.1, -273.15},  // °C as tenths of a kelvin
      {"uint16", "1.5", {}, {3}, LF, 0.5, 0, 3},
      {"uint16", "4.00", {}, {4}, LF, 1, 0, 2},
      {"uint32", "4294967295", {}, {0xFFFF, 0xFFFF}},
      {"int32", "-2", {}, {0xFEFF, 0xFFFF}, LFS},
      {"uint64", "18446744073709551615", {}, {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}},
      {"int64", "-2", {}, {0xFFFE, 0xFFFF, 0xFFFF, 0xFFFF}},
      {"int64", "9223372036854775807", {}, {0x7FFF, 0xFFFF, 0xFFFF, 0xFFFF}, HF},
      {"float32", "1", {}, {0x803F, 0x0000}, HFS},
      {"float32", "3.4028235e38", {}, {0x7F7F, 0xFFFF}, HF},  // the largest float as shown
      {"float32", "-inf", {}, {0xFF80, 0x0000}, HF},
      {"float32", "0.5", {}, {0x3F80, 0x0000}, HF, 0.5},
      {"float64", "-2.5", {}, {0xC004, 0, 0, 0}, HF},
      {"float64", "1e300", {}, {0x7E37, 0xE43C, 0x8800, 0x759C}, HF},
      {"string:2", "ABC", {}, {0x4142, 0x4300}},
      {"string:2", "ABC", {}, {0x4241, 0x0043}, HFS},
      {"string:2", "", {}, {0, 0}},
      {"string:2", "\\x01\\\\\\q", {}, {0x015C, 0x5C71}},  // \\ and \xNN undone, any other \ kept
      {"string:1", "°", {}, {0xC2B0}},
      {"bit:3", "1", {0x00F0}, {0x00F8}},
      {"bit:4", "off", {0x00F0}, {0x00E0}},
      {"bit:4", "TRUE", {}, {0x0010}},
      {"bit:0", "on", {0x0000}, {0x0100}, LFS},
      {"bit:8", "0", {0xFFFF}, {0xFFFE}, HFS},
      {"bool", "on", {}, {1}, LF, 1, 0, -1, MapTable::Coil},
      {"bool", "False", {}, {0}, LF, 1, 0, -1, MapTable::Coil},
  };
  for (const Written& c : cases) {
    MapItem item = Item(c.type, c.table);
    item.scale = c.scale;
    item.offset = c.offset;
    item.decimals = c.decimals;
    std::vector<std::uint16_t> raw = c.before;
    std::string error;
    EXPECT_TRUE(EncodeItem(item, c.text, c.view, raw, error)) << c.type << " " << c.text << ": " << error;
    EXPECT_EQ(raw, c.raw) << c.type << " " << c.text;
  }
}

// A value refused, and the start of what the message says.
struct Refused {
  const char* type;
  const char* text;
  std::string message;
  double scale = 1;
  int decimals = -1;
  const char* unit = "";
  MapTable table = MapTable::Holding;
};

TEST(register_map_test, values_out_of_reach_are_refused_naming_the_item_and_what_it_takes) {
  const Refused cases[] = {
      {"uint16", "65536", "\"X\" takes a whole number from 0 to 65535, not 65536"},
      {"uint16", "-1", "\"X\" takes a whole number from 0 to 65535, not -1"},
      {"uint16", "1.5", "\"X\" takes a whole number from 0 to 65535, not 1.5"},
      {"uint16", "0x10", "\"X\" takes a whole number from 0 to 65535, not \"0x10\""},
      {"uint16", "", "\"X\" takes a whole number from 0 to 65535, not \"\""},
      {"uint16", "1,5", "\"X\" takes a whole number from 0 to 65535, not \"1,5\""},
      {"int16", "nan", "\"X\" takes a whole number from -32768 to 32767, not nan"},
      {"int16", "3276.8", "\"X\" takes a number from -3276.8 to 3276.7 °C, not 3276.8", 0.1, -1, "°C"},
      {"int16", "nan", "\"X\" takes a number from -3276.8 to 3276.7, not nan", 0.1},
      {"int16", "-3276.86", "\"X\" takes a number from -3276.8 to 3276.7, not -3276.86", 0.1},
      {"uint16", "3", "\"X\" cannot hold 3 (its steps are 2): the nearest value it holds is 4", 2},
      {"uint16", "1.2", "\"X\" cannot hold 1.2 (its steps are 0.5): the nearest value it holds is 1.00", 0.5, 2},
      {"uint16", "7.5", "\"X\" cannot hold 7.5 (its steps are 1): the nearest value it holds is 8.00", 1, 2},
      {"uint32", "4294967296", "\"X\" takes a whole number from 0 to 4294967295, not 4294967296"},
      {"int32", "-2147483649", "\"X\" takes a whole number from -2147483648 to 2147483647, not -2147483649"},
      {"uint64", "18446744073709551616", "\"X\" takes a whole number from 0 to 18446744073709551615, not"},
      {"int64", "9223372036854775808", "\"X\" takes a whole number from -9223372036854775808 to"},
      {"uint64", "1e30", "\"X\" takes a number from 0.0 to", 0.1},
      {"float32", "1e39", "\"X\" takes a number from -3.4028235e+38 to 3.4028235e+38, not 1e39"},
      {"float32", "1e-50", "\"X\": 1e-50 is too small for float32, which would hold it as 0"},
      {"float32", "1e38", "\"X\" takes a number from -3.4028235e+37 to 3.4028235e+37, not 1e38", 0.1},
      {"float32", "inf", "\"X\" takes a number from", 0.1},
      {"float64", "1e400", "\"X\" takes a number from -1.7976931348623157e+308 to 1.7976931348623157e+308, not 1e400"},
      {"float64", "abc", "\"X\" takes a number from"},
      {"string:2", "ABCDE", "\"X\" holds at most 4 characters (string:2), not 5"},
      {"string:1", "°C", "\"X\" holds at most 2 characters (string:1), not 3"},
      {"bit:3", "2", "\"X\" takes 1 or 0 (on or off, true or false), not \"2\""},
      {"bool", "yes", "\"X\" takes 1 or 0 (on or off, true or false), not \"yes\"", 1, -1, "", MapTable::Coil},
      {"uint16", "1", "\"X\" cannot be written: the map has it read-only", 1, -1, "", MapTable::Input},
      {"bool", "1", "\"X\" cannot be written: the map has it read-only", 1, -1, "", MapTable::Discrete},
  };
  for (const Refused& c : cases) {
    MapItem item = Item(c.type, c.table);
    item.scale = c.scale;
    item.decimals = c.decimals;
    item.unit = c.unit;
    std::vector<std::uint16_t> raw = {0x1234};
    std::string error;
    EXPECT_FALSE(EncodeItem(item, c.text, LF, raw, error)) << c.type << " " << c.text;
    EXPECT_THAT(error, StartsWith(c.message)) << c.type << " " << c.text;
    EXPECT_EQ(raw, std::vector<std::uint16_t>{0x1234}) << c.type << " " << c.text;
  }
}

}  // namespace
}  // namespace vantrel
