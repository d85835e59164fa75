// A register map: a device's manual as a table of named items (where each lies, its type,
// scale and unit), read from and written to CSV. The window, vantrel-poll, the data log, the
// chart and vantrel-slave all read the same map; a workspace keeps it inside the poll
// definition it belongs to.
#pragma once

#include <cstdint>
#include <functional>
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
// The table of one of those names, in any letter case; false (table untouched) for another.
bool MapTableFromName(std::string_view name, MapTable& table);
// Whether an item of the table is writable unless the map says no: coils and holding
// registers are, and only they can be.
bool DefaultWritable(MapTable table);

enum class MapType { Bool, Uint16, Int16, Uint32, Int32, Float32, Uint64, Int64, Float64, String, Bit };

// One named item of a map.
struct MapItem {
  std::string name;  // unique within the map
  MapTable table = MapTable::Holding;
  int address = 1;  // the first item, counted from 1, as the Offset column shows it (1 to 65536)
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
  // The members of its workspace file entry that this version does not know, as the text
  // of a JSON object ("" for none), written back on save. A CSV map carries none.
  std::string unknownFields;

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

// "bool", "uint16", "int16", "uint32", "int32", "float32", "uint64", "int64", "float64",
// "string:N", "bit:B": the item's type as the type column names it.
std::string MapTypeName(const MapItem& item);
// Sets item's type (and stringRegisters or bit) from such a name, in any letter case, and
// returns ""; else returns what is wrong ("unknown type \"flaot32\"; ...", "string:N takes
// N from 1 to 125") and leaves item untouched.
std::string SetMapType(std::string_view name, MapItem& item);

// The longest string item: as many registers as one read returns.
inline constexpr int kMaxStringRegisters = 125;

// Where a map breaks a rule that its files are held to.
struct MapProblem {
  int item = -1;       // the item, by index; -1 when the map has no problem
  std::string column;  // the column (the workspace member) at fault: "name", "type", ...
  std::string message;
};
// The first problem of the map, in item order; item -1 when it has none. Each item on its
// own: a name (UTF-8, not empty), a type its table takes (bool for coils and discrete
// inputs only), an address from 1 with its whole span up to 65536, no word order for a bit
// table, scale (not 0) and offset, and decimals (0 to 15), only for the numeric types,
// writable only for coils and holding registers, a value that EncodeItem takes (writable
// or not). Between items: unique names, and no overlap within a table but bits of one
// register (each bit once), a bit with a one-register item of its register, and items
// spanning exactly the same registers (two views of one value). The messages that name
// another item add where(index) after it, when where is given: ParseMap gives "line 7".
MapProblem CheckMap(const RegisterMap& map, const std::function<std::string(int)>& where = {});

// Reads a map from the text of a CSV file, named source in messages: RFC 4180 fields, a
// header row that names the columns (any order and letter case; name and address must be
// there, no other name may), one row per item. Blank lines, rows of commas only and lines
// that begin with # where a row begins are skipped, and so is a UTF-8 BOM. The address is
// the offset in the table given, counted from 1, except that a 5- or 6-digit address that
// begins with the table's own digit (0 coil, 1 discrete, 3 input, 4 holding) is a
// reference (holding 40101 and 400101 are offset 101); with the table empty it must be
// such a reference, which names the table. A map that cannot be taken whole is refused:
// false, map untouched, and error names the source, the line of the file (line breaks
// within quotes counted) and the column ("meter.csv: line 7: column type: unknown type
// \"flaot32\"; ...").
bool ParseMap(std::string_view text, const std::string& source, RegisterMap& map, std::string& error);
bool LoadMap(const std::string& path, RegisterMap& map, std::string& error);
// The map as CSV: name, table, address and type, then the other columns that some item
// uses; addresses as offsets, but those that would read as a reference of their table as
// 6-digit references (holding 40101 as 440101). ParseMap reads it back to the same map (a
// workspace's unknown members excepted). SaveMap writes it atomically, and refuses a map
// that CheckMap refuses.
std::string MapToCsv(const RegisterMap& map);
bool SaveMap(const std::string& path, const RegisterMap& map, std::string& error);

// --- values ----------------------------------------------------------------------------
// raw holds the item's Span() registers as read (uint16 each), or one value 0 or 1 for a
// bit of a coil or discrete input; a Bit item gets its whole register. viewOrder is the
// word order of the poll it is shown in, for items whose own is not set.

// The value in shown units as a number (strings: NaN), for the data log and the chart.
double ItemNumber(const MapItem& item, const std::uint16_t* raw, WordOrder viewOrder);
// The value as the table shows it, without the unit, whatever the locale: with
// item.decimals decimals, else integers (scale 1, offset 0) exactly, floats in the shortest
// form that reads back the same (float32 as a float; "nan", "inf", "-inf"), scaled values
// with as many decimals as the scale and offset have; "ON"/"OFF" is not used: bits are "1"
// or "0"; strings up to their first NUL, trailing blanks dropped, a backslash as \\ and
// bytes that are not printable (controls, what is no UTF-8) as \xNN. For 16-bit types,
// bits and strings the swapped word orders swap each register's bytes.
std::string FormatItem(const MapItem& item, const std::uint16_t* raw, WordOrder viewOrder);
// The registers (or bit) that write text, a value in shown units: the scale and offset
// undone (integer types rounded to the nearest), the type and word order applied. Integer
// types without scale and offset take whole numbers only; bool and bits 1/0, on/off,
// true/false; strings at most 2 bytes a register, NUL-padded, \\ and \xNN undone. A Bit
// item changes its bit in raw, which holds the register as last read. False, raw untouched,
// with error naming the item and what it takes, for a value the type cannot hold, one the
// scale cannot reach within half the last decimal shown, or an item that is not writable.
bool EncodeItem(const MapItem& item, const std::string& text, WordOrder viewOrder, std::vector<std::uint16_t>& raw,
                std::string& error);

}  // namespace vantrel
