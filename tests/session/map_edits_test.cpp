#include "session/MapEdits.h"

#include <gtest/gtest.h>

using namespace vantrel;

namespace {

RegisterMap Map(const std::string& csv) {
  RegisterMap map;
  std::string error;
  EXPECT_TRUE(ParseMap("name,table,address,type,scale,unit,writable\n" + csv, "map.csv", map, error)) << error;
  return map;
}

std::string Names(const RegisterMap& map) {
  std::string text;
  for (const MapItem& item : map.items) {
    text += (text.empty() ? "" : " ") + item.name + "@" + MapTableName(item.table) + std::to_string(item.address) +
            ":" + MapTypeName(item);
  }
  return text;
}

}  // namespace

TEST(map_edits, request_caption) {
  PollDefinition d;
  d.slaveId = 7;
  EXPECT_EQ(MapRequestCaption(d), "By map: 0 items, Device: 7");
  d.map = Map("Flow,holding,1,uint16,,,\n");
  EXPECT_EQ(MapRequestCaption(d), "By map: 1 item, Device: 7");
}

// Names typed into an ordinary table: an item made, renamed or removed at the row's
// offset of the function's table; what would break the map's rules is refused whole.
TEST(map_edits, a_row_named_makes_renames_or_removes_its_item) {
  struct Case {
    const char* map;
    int function, offset;
    const char* name;
    bool taken;
    const char* after;  // the items after it (the map unchanged when refused)
  };
  const Case cases[] = {
      {"", 3, 4, "Flow", true, "Flow@holding4:uint16"},
      {"", 1, 2, " Pump ", true, "Pump@coil2:bool"},
      {"", 2, 2, "Door", true, "Door@discrete2:bool"},
      {"", 4, 9, "Level", true, "Level@input9:uint16"},
      {"Energy,holding,4,float32,,kWh,\n", 3, 4, "Total", true, "Total@holding4:float32"},  // keeps its type
      {"Flow,holding,4,uint16,,,\n", 3, 4, "  ", true, ""},
      {"Flow,holding,4,uint16,,,\nBit,holding,4,bit:2,,,\n", 3, 4, "", true, "Bit@holding4:bit:2"},
      {"Flow,holding,4,uint16,,,\n", 4, 4, "Flow", false, "Flow@holding4:uint16"},  // a name used already
      {"Energy,holding,3,uint32,,,\n", 3, 4, "Low", false, "Energy@holding3:uint32"},  // inside Energy
      {"Flow,holding,4,uint16,,,\n", 3, 5, "", true, "Flow@holding4:uint16"},           // nothing there
      {"", 5, 1, "Flow", false, ""},
  };
  for (const Case& c : cases) {
    RegisterMap map = Map(c.map);
    std::string error;
    EXPECT_EQ(NameMapRow(map, c.function, c.offset, c.name, error), c.taken) << c.map << c.name;
    EXPECT_EQ(error.empty(), c.taken) << error;
    EXPECT_EQ(Names(map), c.after) << c.map << c.name;
  }
  RegisterMap input;
  std::string error;
  ASSERT_TRUE(NameMapRow(input, 4, 1, "Level", error));
  EXPECT_FALSE(input.items[0].writable) << "an input register cannot be written";
}

TEST(map_edits, row_names_of_an_ordinary_table) {
  const RegisterMap map = Map("Flow,holding,2,uint16,,,\nBit,holding,3,bit:0,,,\nWord,holding,3,uint16,,,\n"
                              "Level,input,2,uint16,,,\n");
  ResponseTable table;
  table.function = 3;
  table.firstOffset = 1;
  table.rows.resize(4);
  EXPECT_EQ(RowNames(map, table), (std::vector<std::string>{"", "Flow", "Word", ""}));
  table.function = 4;
  EXPECT_EQ(RowNames(map, table), (std::vector<std::string>{"", "Level", "", ""}));
}

// The requests writing a value in shown units: 05 for a coil, 06 for a register, 16 for
// more, the bit of a register over the register as last read; refusals name the item.
TEST(map_edits, an_item_written_in_shown_units) {
  const RegisterMap map =
      Map("Pump,coil,5,bool,,,\nSetpoint,holding,10,int16,0.5,C,\nTotal,holding,20,uint32,,,\n"
          "Flag,holding,30,bit:4,,,\nLevel,input,1,uint16,,,\nLocked,holding,40,uint16,,,no\n");
  struct Case {
    const char* item;
    const char* text;
    std::vector<std::uint16_t> lastRaw;
    std::vector<std::uint8_t> frame;  // RTU, without the CRC; empty: refused
  };
  const Case cases[] = {
      {"Pump", "on", {}, {1, 5, 0, 4, 0xFF, 0}},
      {"Setpoint", "-12.5", {}, {1, 6, 0, 9, 0xFF, 0xE7}},
      {"Total", "65537", {}, {1, 16, 0, 19, 0, 2, 4, 0, 1, 0, 1}},
      {"Flag", "1", {0x0101}, {1, 6, 0, 29, 0x01, 0x11}},
      {"Flag", "1", {}, {}},           // its register not read
      {"Setpoint", "1.2", {}, {}},     // between two steps
      {"Setpoint", "20000", {}, {}},   // past int16
      {"Level", "1", {}, {}},
      {"Locked", "1", {}, {}},
  };
  for (const Case& c : cases) {
    const MapItem& item = *map.Find(c.item);
    std::vector<WriteFrame> frames;
    std::string error;
    std::vector<std::uint16_t> raw = c.lastRaw;
    const bool framed = FrameItemWrite(item, c.text, WordOrder::LowFirst, raw, 1, false, frames, error);
    ASSERT_EQ(framed, !c.frame.empty()) << c.item << " " << c.text << ": " << error;
    if (!framed) {
      EXPECT_NE(error.find(c.item), std::string::npos) << error;
      EXPECT_TRUE(frames.empty());
      continue;
    }
    ASSERT_EQ(frames.size(), 1u);
    const std::vector<std::uint8_t> bytes(frames[0].bytes.begin(), frames[0].bytes.end() - 2);
    EXPECT_EQ(bytes, c.frame) << c.item << " " << c.text;
    EXPECT_EQ(raw.size(), static_cast<std::size_t>(item.Span())) << "raw holds what was written";
  }
  // A string longer than one request carries is cut where the limit falls.
  const RegisterMap label = Map("Label,holding,100,string:125,,,\n");
  std::vector<std::uint16_t> raw;
  std::vector<WriteFrame> frames;
  std::string error;
  ASSERT_TRUE(FrameItemWrite(label.items[0], std::string(250, 'A'), WordOrder::LowFirst, raw, 1, false, frames, error))
      << error;
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].count + frames[1].count, 125);
  EXPECT_EQ(raw, std::vector<std::uint16_t>(125, 0x4141));
}
