// What the window does with a poll definition's register map beyond reading it: the
// summary of a definition read by map, the names of an ordinary table's rows, a row named
// (or unnamed) in that table, and the requests that write an item in shown units.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/PollDefinition.h"
#include "session/RegisterMap.h"
#include "session/ResponseTable.h"
#include "session/WriteValues.h"

namespace vantrel {

// The Request button of a definition read by map: "By map: 18 items, Device: 1".
std::string MapRequestCaption(const PollDefinition& definition);

// The table of a read function (1 coils, 2 discrete inputs, 3 holding, 4 input registers);
// false for another function.
bool MapTableOfFunction(int function, MapTable& table);

// Per row of an ordinary table, the name of the map's item of the table's function at the
// row's offset ("" for none): the first item that starts there and is not a single bit.
std::vector<std::string> RowNames(const RegisterMap& map, const ResponseTable& table);

// Names the item at offset of the function's table: the item there is renamed, or a new
// one made (uint16 for a register, bool for a bit, writable as its table allows); an empty
// name (blanks around it are dropped) removes the item there. False, map untouched, with
// error saying why, when the map would break one of its rules (a name used already, an
// overlap with a wider item) or the function has no table.
bool NameMapRow(RegisterMap& map, int function, int offset, const std::string& name, std::string& error);

// The requests that write text, a value in shown units, to the item of slaveId: a coil
// with 05, one register with 06, more with 16 (15 and 16 always with alwaysMultiple); a
// string too long for one request is cut anywhere, a number never. raw holds the item's
// raw values as last read (a bit of a register keeps its other bits) and then those
// written. False, nothing framed, with error naming the item, for a value it cannot take,
// an item that is not writable, or a bit whose register was not read yet.
bool FrameItemWrite(const MapItem& item, const std::string& text, WordOrder viewOrder, std::vector<std::uint16_t>& raw,
                    int slaveId, bool alwaysMultiple, std::vector<WriteFrame>& frames, std::string& error);

}  // namespace vantrel
