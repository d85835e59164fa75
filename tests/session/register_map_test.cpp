// Register maps: how an item's registers become the value shown and back, which CSV maps
// are read and which are refused and why, and that a written map reads back the same.
#include "session/RegisterMap.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "settings/test_folder.h"

namespace vantrel {

// A failed comparison shows the maps as their CSV.
void PrintTo(const RegisterMap& map, std::ostream* os) { *os << MapToCsv(map); }

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

// --- CSV maps ---------------------------------------------------------------------------

RegisterMap Parsed(const std::string& csv) {
  RegisterMap map;
  std::string error;
  EXPECT_TRUE(ParseMap(csv, "m.csv", map, error)) << error;
  return map;
}

TEST(register_map_test, an_address_is_an_offset_in_its_table_or_a_reference_that_names_the_table) {
  const struct {
    const char* table;
    const char* address;
    MapTable expected;
    int offset;
  } cases[] = {
      {"holding", "101", MapTable::Holding, 101},
      {"holding", "40101", MapTable::Holding, 101},
      {"holding", "400101", MapTable::Holding, 101},
      {"holding", "465536", MapTable::Holding, 65536},
      {"Holding", "65536", MapTable::Holding, 65536},
      {"input", "40101", MapTable::Input, 40101},
      {"input", "30001", MapTable::Input, 1},
      {"coil", "00005", MapTable::Coil, 5},
      {"coil", "12345", MapTable::Coil, 12345},
      {"discrete", "110000", MapTable::Discrete, 10000},
      {"holding", "0040101", MapTable::Holding, 40101},
      {"", "40001", MapTable::Holding, 1},
      {"", "49999", MapTable::Holding, 9999},
      {"", "400001", MapTable::Holding, 1},
      {"", "30017", MapTable::Input, 17},
      {"", "365536", MapTable::Input, 65536},
      {"", "10002", MapTable::Discrete, 2},
      {"", "00001", MapTable::Coil, 1},
      {"", "065536", MapTable::Coil, 65536},
  };
  for (const auto& c : cases) {
    const RegisterMap map = Parsed(std::string("name,table,address\nX,") + c.table + "," + c.address + "\n");
    ASSERT_EQ(map.items.size(), 1u) << c.table << " " << c.address;
    EXPECT_EQ(map.items[0].table, c.expected) << c.table << " " << c.address;
    EXPECT_EQ(map.items[0].address, c.offset) << c.table << " " << c.address;
    // The defaults follow the table.
    const bool bits = c.expected == MapTable::Coil || c.expected == MapTable::Discrete;
    EXPECT_EQ(map.items[0].type, bits ? MapType::Bool : MapType::Uint16) << c.table << " " << c.address;
    EXPECT_EQ(map.items[0].writable, c.expected == MapTable::Coil || c.expected == MapTable::Holding);
  }
}

TEST(register_map_test, columns_in_any_order_and_case_comments_blank_lines_and_a_bom_are_read) {
  const std::string csv =
      "\xEF\xBB\xBF# Meter VM-300\r\n"
      "\r\n"
      "  Unit , TYPE,Address,Name ,Scale,Decimals,Writable,Description,Word_Order,Value,Offset,table\r\n"
      "# the voltages\r\n"
      "V,float32,30001,\"Voltage L1, N\",,,,\"phase \"\"one\"\"\",High-First,230.5,,\r\n"
      "  \r\n"
      "°C,int16,40101,\"Set\npoint\",0.1,1,no,,,21.5,,\r\n"
      ",,,,,,,,,,,\r\n"
      "\"\",bit:3,4,\"#7\",,,,,,1,,input\r\n"
      ",,,,,,,,,,,";
  RegisterMap expected;
  MapItem& v = expected.items.emplace_back(Item("float32", MapTable::Input));
  v.name = "Voltage L1, N";
  v.wordOrder = HF;
  v.unit = "V";
  v.description = "phase \"one\"";
  v.value = "230.5";
  MapItem& s = expected.items.emplace_back(Item("int16"));
  s.name = "Set\npoint";
  s.address = 101;
  s.scale = 0.1;
  s.unit = "°C";
  s.decimals = 1;
  s.writable = false;
  s.value = "21.5";
  MapItem& b = expected.items.emplace_back(Item("bit:3", MapTable::Input));
  b.name = "#7";
  b.address = 4;
  b.value = "1";
  EXPECT_EQ(Parsed(csv), expected);
}

TEST(register_map_test, meant_overlaps_are_taken) {
  const RegisterMap map = Parsed(
      "name,address,type\n"
      "Status,40010,uint16\nStatus signed,40010,int16\nRun,40010,bit:0\nFault,40010,bit:1\nAlarm,40010,bit:15\n"
      "Pair,40011,uint32\nPair as float,40011,float32\nPair as text,40011,string:2\n"
      "Same address in input,30010,float64\nFlag,30014,bit:2\nOnly bits,30015,bit:0\nOther bit,30015,bit:1\n"
      "Relay,00001,\nRelay again,00001,bool\nNext relay,00002,\n");
  EXPECT_EQ(map.items.size(), 15u);
}

// A map refused, and the message.
struct BadMap {
  std::string csv;
  std::string message;  // after "m.csv: "
};

TEST(register_map_test, a_bad_map_is_refused_whole_naming_line_and_column) {
  const std::string typed = "name,address,type,scale,offset,decimals,writable,value,word_order,unit\n";
  const BadMap cases[] = {
      // The header.
      {"", "line 1: no header row: a map begins with the names of its columns, such as name,table,address,type"},
      {"# only\n\n# comments\n", "line 3: no header row"},
      {"name,address,colour\n",
       "line 1: column 3: unknown column \"colour\"; the columns are name, table, address, type, word_order, "
       "scale, offset, unit, decimals, description, writable and value"},
      {"name,address,Name\n", "line 1: column name: named twice, as columns 1 and 3"},
      {"name,type\nX,uint16\n",
       "line 1: column address: missing from the header; a map needs the columns name and "
       "address"},
      {"table,address\n", "line 1: column name: missing from the header"},
      // The fields, and the CSV itself.
      {"name,address\nX,40001,5\n", "line 2: column 3: a value under no column named in the header"},
      {"name,address\n\"X\" y,40001\n",
       "line 2: column name: a quote out of place: a field with quotes, commas or "
       "line breaks is put in quotes whole, and each quote in it doubled"},
      {"name,address\nX,40\"001\n", "line 2: column address: a quote out of place"},
      {"name,address\nX,40001\n\"Y,40002\n", "line 3: a quote opened in this row is never closed"},
      {"name,address\n,40001\n", "line 2: column name: missing: every item needs a name"},
      {"name,address\nX\xB0,40001\n", "line 2: column name: not UTF-8 text (save the map as UTF-8)"},
      {typed + "X,40001,,,,,,,,\xB0"
               "C\n",
       "line 2: column unit: not UTF-8 text"},
      {"name,address\nX,40001\nX,40002\n", "line 3: column name: another item is named \"X\" too (line 2)"},
      // Lines as the file counts them: comments, blank lines and line breaks in quotes.
      {"# c\r\n\r\nname,address,type\r\n# c2\r\n\"A\r\nB\",40001,\r\nC,40002,flaot32\r\n",
       "line 7: column type: unknown type \"flaot32\"; the types are bool, uint16, int16, uint32, int32, float32, "
       "uint64, int64, float64, string:N or bit:B"},
      {"name,address,type\n\"A\nB\",40001,flaot\n", "line 3: column type: unknown type \"flaot\""},
      {"name,address\n\"A\nB\",40001\n\"A\nB\",40002\n",
       "line 4: column name: another item is named \"A\nB\" too (line 2)"},
      // The table and the address.
      {"name,table,address\nX,holdings,1\n",
       "line 2: column table: unknown table \"holdings\"; the tables are coil, "
       "discrete, input and holding"},
      {"name,table,address\nX,holding,\n", "line 2: column address: missing: every item needs an address"},
      {"name,table,address\nX,holding,4x1\n",
       "line 2: column address: \"4x1\" is no address: give the offset "
       "counted from 1, or a reference such as 40001"},
      {"name,table,address\nX,holding,-1\n", "line 2: column address: \"-1\" is no address"},
      {"name,table,address\nX,holding,0\n",
       "line 2: column address: must be 1 to 65536 (the offset, counted from "
       "1), not 0"},
      {"name,table,address\nX,holding,65537\n", "line 2: column address: must be 1 to 65536"},
      {"name,table,address\nX,holding,12345678\n", "line 2: column address: must be 1 to 65536"},
      {"name,table,address\nX,,123\n",
       "line 2: column address: 123 is no reference, and the table column is empty; "
       "references are 5 digits (40001 to 49999) or 6 (400001 to 465536)"},
      {"name,address\nX,1234567\n", "line 2: column address: 1234567 is no reference"},
      {"name,address\nX,20001\n", "line 2: column address: reference 20001 names no table"},
      {"name,address\nX,40000\n", "line 2: column address: reference 40000 names no holding register"},
      {"name,address\nX,465537\n", "line 2: column address: reference 465537 names no holding register"},
      {"name,table,address\nX,holding,40000\n",
       "line 2: column address: reference 40000 names no holding register; references are 5 digits (40001 to "
       "49999) or 6 (400001 to 465536), the first naming the table: 0 coil, 1 discrete, 3 input, 4 holding; "
       "offset 40000 of the holding registers is written 440000"},
      {"name,table,address\nX,discrete,100000\n", "line 2: column address: reference 100000 names no discrete input"},
      {"name,address,type\nX,465535,float64\n",
       "line 2: column address: holding registers 65535 to 65538 go past the last register, 65536"},
      {"name,address,type\nX,465500,string:40\n", "line 2: column address: holding registers 65500 to 65539 go past"},
      // Types.
      {"name,address,type\nX,40001,string\n",
       "line 2: column type: \"string\": string:N takes N, the registers it "
       "spans, from 1 to 125"},
      {"name,address,type\nX,40001,string:0\n", "line 2: column type: \"string:0\": string:N takes N"},
      {"name,address,type\nX,40001,string:126\n", "line 2: column type: \"string:126\": string:N takes N"},
      {"name,address,type\nX,40001,bit:16\n",
       "line 2: column type: \"bit:16\": bit:B takes B, the bit of its "
       "register, from 0 to 15"},
      {"name,address,type\nX,40001,bit:-1\n", "line 2: column type: \"bit:-1\": bit:B takes B"},
      {"name,address,type\nX,40001,uint16:2\n",
       "line 2: column type: \"uint16:2\": only string:N and bit:B take "
       "a number"},
      {"name,address,type\nX,40001,bool\n",
       "line 2: column type: bool is for coils and discrete inputs; a bit of a "
       "register is bit:B"},
      {"name,address,type\nX,00001,int16\n", "line 2: column type: a coil is one bit, of type bool, not int16"},
      {"name,address,type\nX,10001,bit:1\n",
       "line 2: column type: a discrete input is one bit, of type bool, not "
       "bit:1"},
      // The other columns.
      {typed + "X,40001,int16,abc\n", "line 2: column scale: \"abc\" is not a number"},
      {typed + "X,40001,int16,\"0,1\"\n", "line 2: column scale: \"0,1\" is not a number"},
      {typed + "X,40001,int16,0\n", "line 2: column scale: must be a number other than 0, not 0"},
      {typed + "X,40001,int16,1e999\n", "line 2: column scale: \"1e999\" is not a number"},
      {typed + "X,40001,int16,,0.1.2\n", "line 2: column offset: \"0.1.2\" is not a number"},
      {typed + "X,40001,int16,,,16\n", "line 2: column decimals: must be 0 to 15, not 16"},
      {typed + "X,40001,int16,,,-1\n", "line 2: column decimals: must be 0 to 15, not \"-1\""},
      {typed + "X,40001,int16,,,one\n", "line 2: column decimals: must be 0 to 15, not \"one\""},
      {typed + "X,40001,string:2,0.1\n", "line 2: column scale: only numeric types take one, not string:2"},
      {typed + "X,40001,bit:1,,5\n", "line 2: column offset: only numeric types take one, not bit:1"},
      {typed + "X,00001,bool,,,2\n", "line 2: column decimals: only numeric types take them, not bool"},
      {typed + "X,40001,,,,,maybe\n", "line 2: column writable: must be yes or no, not \"maybe\""},
      {typed + "X,30001,,,,,yes\n",
       "line 2: column writable: input registers cannot be written; only coils and holding registers can"},
      {typed + "X,10001,,,,,Yes\n", "line 2: column writable: discrete inputs cannot be written"},
      {typed + "X,40001,,,,,,,big\n",
       "line 2: column word_order: unknown word order \"big\"; the orders are "
       "low-first, high-first, low-first-swapped and high-first-swapped"},
      {typed + "X,00001,,,,,,,high-first\n",
       "line 2: column word_order: coils and discrete inputs have no word "
       "order"},
      // Starting values, by EncodeItem's rules but for writability.
      {typed + "X,40001,int16,,,,,40000\n",
       "line 2: column value: \"X\" takes a whole number from -32768 to 32767, not 40000"},
      {typed + "X,30001,int16,0.1,,,,3276.8\n",
       "line 2: column value: \"X\" takes a number from -3276.8 to 3276.7, not 3276.8"},
      {typed + "X,30001,int16,0.5,,1,,21.3\n",
       "line 2: column value: \"X\" cannot hold 21.3 (its steps are 0.5): the nearest value it holds is 21.5"},
      {typed + "X,30001,string:1,,,,,abc\n", "line 2: column value: \"X\" holds at most 2 characters"},
      {typed + "X,00001,,,,,,on and off\n", "line 2: column value: \"X\" takes 1 or 0"},
      // Overlaps that cannot be meant.
      {"name,address,type\nA,40001,float32\nB,40002,uint16\n",
       "line 3: column address: \"B\" (holding register 2) overlaps \"A\" (holding registers 1 to 2, line 2); only "
       "bits of one register, a bit and its register's item, and items over the very same registers may share them"},
      {"name,address,type\nA,40002,uint16\nB,40001,float32\n",
       "line 3: column address: \"B\" (holding registers 1 to 2) overlaps \"A\" (holding register 2, line 2)"},
      {"name,address,type\nA,40001,float64\nB,40002,float32\n",
       "line 3: column address: \"B\" (holding registers 2 to 3) overlaps \"A\" (holding registers 1 to 4, line 2)"},
      {"name,address,type\nA,40001,float32\nB,40001,float64\n",
       "line 3: column address: \"B\" (holding registers 1 to 4) overlaps \"A\" (holding registers 1 to 2, line 2)"},
      {"name,address,type\nA,40001,uint32\nB,40002,bit:3\n",
       "line 3: column address: \"B\" (bit 3 of holding register 2) overlaps \"A\" (holding registers 1 to 2, line 2)"},
      {"name,address,type\nA,40002,bit:3\nB,40001,uint32\n",
       "line 3: column address: \"B\" (holding registers 1 to 2) overlaps \"A\" (bit 3 of holding register 2, line 2)"},
      {"name,address,type\nA,40001,bit:3\nB,40001,bit:4\nC,40001,bit:3\n",
       "line 4: column type: bit 3 of holding register 1 is \"A\" already (line 2)"},
      {"name,address,type\nA,40001,uint16\nB,40001,uint16\nC,40001,string:3\n",
       "line 4: column address: \"C\" (holding registers 1 to 3) overlaps \"A\" (holding register 1, line 2)"},
  };
  const RegisterMap before = Parsed("name,address\nkept,40001\n");
  for (const BadMap& c : cases) {
    RegisterMap map = before;
    std::string error;
    EXPECT_FALSE(ParseMap(c.csv, "m.csv", map, error)) << c.csv;
    EXPECT_THAT(error, StartsWith("m.csv: " + c.message)) << c.csv;
    EXPECT_EQ(map, before) << c.csv;
  }
}

// Every column in use, and the texts that a CSV writer must quote or keep from trimming.
RegisterMap RichMap() {
  RegisterMap map;
  const auto add = [&map](std::string name, MapTable table, int address, const char* type) -> MapItem& {
    MapItem& item = map.items.emplace_back(Item(type, table));
    item.name = std::move(name);
    item.address = address;
    return item;
  };
  MapItem& v = add("Voltage L1, N", MapTable::Input, 1, "float32");
  v.wordOrder = HF;
  v.unit = "V";
  v.value = "230.1";
  v.description = "phase \"one\"\nto neutral";
  add("Voltage L2", MapTable::Input, 3, "float32").wordOrder = LFS;
  MapItem& t = add("Temperature", MapTable::Holding, 40101, "uint16");  // an offset that looks like a reference
  t.scale = 0.1;
  t.offset = -273.15;
  t.unit = "°C";
  t.value = "21.45";
  t.writable = false;
  MapItem& e = add("  Energy  ", MapTable::Input, 30001, "int64");
  e.scale = 1e-05;
  e.unit = "kWh";
  e.decimals = 0;
  e.wordOrder = HFS;
  add("#3 \"quoted\"", MapTable::Holding, 1, "string:8").value = "SN \\x01 ,\"x\"";
  add("Run", MapTable::Holding, 10, "bit:0").value = "1";
  add("Fault", MapTable::Holding, 10, "bit:15");
  add("Status", MapTable::Holding, 10, "int16").decimals = 0;
  add("Relay", MapTable::Coil, 65536, "bool").value = "0";
  add("Door", MapTable::Discrete, 10005, "bool").description = " open ";
  add("Mode", MapTable::Holding, 65533, "float64").unit = " m³/h";
  MapItem& f = add("Flow", MapTable::Input, 49999, "uint32");
  f.offset = -0.5;
  f.decimals = 3;
  add("Counter", MapTable::Holding, 20, "uint64").value = "18446744073709551615";
  add("Ω", MapTable::Coil, 1, "bool").writable = false;
  return map;
}

TEST(register_map_test, a_map_written_as_csv_reads_back_the_same) {
  const RegisterMap map = RichMap();
  ASSERT_EQ(CheckMap(map).message, "");
  const std::string csv = MapToCsv(map);
  EXPECT_THAT(csv, StartsWith("name,table,address,type,word_order,scale,offset,unit,decimals,description,writable,"
                              "value\n\"Voltage L1, N\",input,1,float32,high-first,,,V,,\"phase \"\"one\"\"\nto "
                              "neutral\",no,230.1\n"));
  EXPECT_THAT(csv, HasSubstr("\nTemperature,holding,440101,uint16,,0.1,-273.15,°C,,,no,21.45\n"));
  EXPECT_THAT(csv, HasSubstr("\n\"#3 \"\"quoted\"\"\",holding,1,string:8,"));
  EXPECT_THAT(csv, HasSubstr("\nDoor,discrete,110005,bool,"));
  EXPECT_EQ(Parsed(csv), map);

  // As a spreadsheet may save it: a BOM, CR LF line ends, some columns in capitals.
  std::string crlf =
      "\xEF\xBB\xBF"
      "NAME,Table,ADDRESS,Type";
  for (const char c : csv.substr(std::string("name,table,address,type").size())) {
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  // The line breaks within quotes become CR LF too, as a name's own.
  RegisterMap crlfMap = map;
  for (MapItem& item : crlfMap.items) {
    for (std::string* text : {&item.name, &item.description}) {
      for (std::size_t at = text->find('\n'); at != std::string::npos; at = text->find('\n', at + 2)) {
        text->insert(at, 1, '\r');
      }
    }
  }
  EXPECT_EQ(Parsed(crlf), crlfMap);

  // Only the columns some item uses.
  RegisterMap plain;
  plain.items = {Item("uint16"), Item("bool", MapTable::Discrete)};
  plain.items[1].name = "Y";
  EXPECT_EQ(MapToCsv(plain), "name,table,address,type\nX,holding,1,uint16\nY,discrete,1,bool\n");
  EXPECT_EQ(Parsed(MapToCsv(plain)), plain);
  EXPECT_EQ(MapToCsv(RegisterMap{}), "name,table,address,type\n");
  EXPECT_EQ(Parsed(MapToCsv(RegisterMap{})), RegisterMap{});
}

TEST(register_map_test, a_map_is_saved_atomically_and_loaded_and_a_bad_one_is_not_saved) {
  testing::WorkingFolder folder;
  const RegisterMap map = RichMap();
  std::string error;
  ASSERT_TRUE(SaveMap(folder.File("m.csv"), map, error)) << error;
  RegisterMap loaded;
  ASSERT_TRUE(LoadMap(folder.File("m.csv"), loaded, error)) << error;
  EXPECT_EQ(loaded, map);

  RegisterMap bad = map;
  bad.items[1].address = 2;  // into Voltage L1's second register
  EXPECT_FALSE(SaveMap(folder.File("m.csv"), bad, error));
  EXPECT_THAT(error, StartsWith(folder.File("m.csv") + ": \"Voltage L2\": column address: \"Voltage L2\" (input "
                                                       "registers 2 to 3) overlaps \"Voltage L1, N\""));
  EXPECT_EQ(folder.Read("m.csv"), MapToCsv(map));
  EXPECT_FALSE(LoadMap(folder.File("absent.csv"), loaded, error));
  EXPECT_EQ(error, folder.File("absent.csv") + ": cannot be read: No such file or directory");
}

TEST(register_map_test, the_example_map_loads_and_each_starting_value_is_shown_as_written) {
  RegisterMap map;
  std::string error;
  ASSERT_TRUE(LoadMap(VANTREL_DOCS_DIR "/example-map.csv", map, error)) << error;
  // What the example shows: float32 voltages and currents, an int64 energy counter, a
  // serial number, status bits and a scaled, writable setpoint.
  const auto has = [&map](const char* name, MapTable table, MapType type) {
    const MapItem* item = map.Find(name);
    return item != nullptr && item->table == table && item->type == type;
  };
  EXPECT_TRUE(has("Voltage L1", MapTable::Input, MapType::Float32));
  EXPECT_TRUE(has("Current L3", MapTable::Input, MapType::Float32));
  EXPECT_TRUE(has("Active energy import", MapTable::Input, MapType::Int64));
  EXPECT_TRUE(has("Serial number", MapTable::Input, MapType::String));
  EXPECT_TRUE(has("Phase loss", MapTable::Input, MapType::Bit));
  EXPECT_TRUE(has("Alarm temperature", MapTable::Holding, MapType::Int16));
  const MapItem* setpoint = map.Find("Alarm temperature");
  ASSERT_NE(setpoint, nullptr);
  EXPECT_TRUE(setpoint->writable);
  EXPECT_EQ(setpoint->scale, 0.1);
  for (const MapItem& item : map.items) {
    ASSERT_FALSE(item.value.empty()) << item.name;
    MapItem writable = item;
    writable.writable = true;
    std::vector<std::uint16_t> raw;
    ASSERT_TRUE(EncodeItem(writable, item.value, LF, raw, error)) << error;
    EXPECT_EQ(FormatItem(item, raw.data(), LF), item.value) << item.name;
  }
  EXPECT_EQ(Parsed(MapToCsv(map)), map);
}

}  // namespace
}  // namespace vantrel
