// A register map: a device's manual as a table of named items (where each lies, its type,
// scale and unit), read from and written to CSV. The window, vantrel-poll, the data log, the
// chart and vantrel-slave all read the same map; a workspace keeps it inside the poll
// definition it belongs to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/WriteValues.h"

namespace vantrel {

// The four tables of a Modbus device.
enum class MapTable { Coil, Discrete, Input, Holding };
// "coil", "discrete", "input", "holding", as the map's table column names them.
const char* MapTableName(MapTable table);
// The read function of the table: 1, 2, 4, 3.
int MapReadFunction(MapTable table);
// Coils and discrete inputs hold bits; input and holding registers hold 16-bit words.
bool IsBitTable(MapTable table);

enum class MapType { Bool, Uint16, Int16, Uint32, Int32, Float32, Uint64, Int64, Float64, String, Bit };

// One named item of a map.
struct MapItem {
  std::string name;  // unique within the map
  MapTable table = MapTable::Holding;
  int address = 1;  // the first item, counted from 1, as the Offset column shows it
  MapType type = MapType::Uint16;
  int stringRegisters = 0;  // String: the registers it spans (two characters each)
  int bit = 0;              // Bit: the bit of its register, 0 (least significant) to 15
  // How its registers make its value; none: the view's (the poll definition's).
  std::optional<WordOrder> wordOrder;
  double scale = 1;  // shown = raw x scale + offset
  double offset = 0;
  std::string unit;
  int decimals = -1;  // -1: as the value needs (see FormatItem)
  std::string description;
  bool writable = true;  // only coils and holding registers can be
  std::string value;     // the starting value in shown units, for the simulator ("" none)

  // The registers (or bits) it spans: 1 for bool, bit and the 16-bit types, 2, 4, or
  // stringRegisters.
  int Span() const;
  bool operator==(const MapItem&) const = default;
};

struct RegisterMap {
  std::vector<MapItem> items;

  const MapItem* Find(std::string_view name) const;
  bool empty() const { return items.empty(); }
  bool operator==(const RegisterMap&) const = default;
};

// Reads a map from the text of a CSV file, named source in messages. A map that cannot be
// taken whole is refused: false, map untouched, and error names the source, the line and
// the column ("meter.csv: line 7: column type: unknown type \"flaot32\"").
bool ParseMap(std::string_view text, const std::string& source, RegisterMap& map, std::string& error);
bool LoadMap(const std::string& path, RegisterMap& map, std::string& error);
// The map as CSV, with a header row of the columns it uses; ParseMap reads it back to the
// same map. SaveMap writes it atomically.
std::string MapToCsv(const RegisterMap& map);
bool SaveMap(const std::string& path, const RegisterMap& map, std::string& error);

// --- values ----------------------------------------------------------------------------
// raw holds the item's Span() registers as read (uint16 each), or one value 0 or 1 for a
// bit of a coil or discrete input; a Bit item gets its whole register. viewOrder is the
// word order of the poll it is shown in, for items whose own is not set.

// The value in shown units as a number (strings: NaN), for the data log and the chart.
double ItemNumber(const MapItem& item, const std::uint16_t* raw, WordOrder viewOrder);
// The value as the table shows it, without the unit: with item.decimals decimals, else
// integers (scale 1, offset 0) exactly, floats in the shortest form that reads back the
// same, scaled values with as many decimals as the scale and offset have; "ON"/"OFF" is not
// used: bits are "1" or "0"; strings up to their first NUL, trailing blanks dropped, other
// bytes that are not printable as \xNN.
std::string FormatItem(const MapItem& item, const std::uint16_t* raw, WordOrder viewOrder);
// The registers (or bit) that write text, a value in shown units: the scale and offset
// undone, the type and word order applied. A Bit item changes its bit in raw, which holds
// the register as last read. False, with error naming the item and what it takes, for a
// value the type cannot hold, one the scale cannot reach within half the last decimal
// shown, or an item that is not writable.
bool EncodeItem(const MapItem& item, const std::string& text, WordOrder viewOrder, std::vector<std::uint16_t>& raw,
                std::string& error);

}  // namespace vantrel
