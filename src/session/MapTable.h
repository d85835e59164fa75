// The table of a poll definition read by its register map: a row per item with its name,
// address, value in shown units, unit and raw registers. Shared by the window, the poller,
// the data log and the chart.
#pragma once

#include <string>

#include "session/MapReads.h"
#include "session/RegisterMap.h"
#include "session/ResponseTable.h"

namespace vantrel {

// Its columns, in order.
inline constexpr const char* kMapColumns[] = {"Name", "Address", "Value", "Unit", "Raw"};
enum MapColumn { kMapName, kMapAddress, kMapValue, kMapUnit, kMapRaw };
inline constexpr const char* kMapFormatColumns[] = {"Offset", "6 digit address", "uint16", "int16", "uint32",
                                                    "int32",  "float32",         "uint64", "int64", "float64"};

// An item's address as its table's reference: "30001", "400101" past offset 9999,
// "40010-40011" for an item of several registers, "40010.3" for a bit of a register.
std::string MapItemAddress(const MapItem& item);
// The item as the data log's header and the chart's legend name it: "Voltage L1 [V]", or
// the name alone without a unit.
std::string MapItemHeading(const MapItem& item);

// The table of what a cycle read: every item of the map, in the map's order. An item not
// read has blank Value and Raw cells. Raw is each register in hex ("0x4366 0x6666"), or
// the bit (0 or 1) of a coil or discrete input. The table is Filled; its headings and
// numbers hold each item's MapItemHeading and ItemNumber (NaN when not read), for the data
// log and the chart.
// With formats, the columns of kMapFormatColumns follow: each item's offset and 6-digit
// address, and its first registers in every format of the block table (the item's word
// order, else the view's), blank where it has too few registers, or for a bit.
ResponseTable MakeMapTable(const RegisterMap& map, const MapReading& reading, WordOrder viewOrder,
                           bool formats = false);

}  // namespace vantrel
