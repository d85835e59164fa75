// What the Write dialog offers and sends for the rows chosen in the response table: the
// formats, the items (a row, or a pair of rows for the 32-bit formats), their current
// values, and the write requests for the values entered. Plain C++; the dialog is a thin
// view over it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/ResponseTable.h"
#include "session/WriteValues.h"

namespace vantrel {

struct WriteTarget {
  int function = 0;  // the table's read function: 1 coils, 3 holding registers
  int slaveId = 0;
  std::vector<int> rows;               // the rows chosen, ascending indices into the table
  std::vector<int> offsets;            // each row's offset, counted from 1
  std::vector<std::string> addresses;  // each row's "5-digit, 6-digit" address text
  std::vector<std::uint16_t> current;  // each row's value as last read
  WordOrder order = WordOrder::LowFirst;  // how the table lays 32-bit values over a pair
};

// The rows chosen (any order, repeats ignored; rows outside the table are left out) of a
// table of coils or holding registers read from slaveId.
WriteTarget MakeWriteTarget(const ResponseTable& table, std::vector<int> rows, int slaveId,
                            WordOrder order = WordOrder::LowFirst);

// On/off for coils; uint16, int16 and hex for registers, and uint32, int32 and float32
// when the rows are whole pairs as the table pairs them (from its first row).
std::vector<WriteFormat> FormatsFor(const WriteTarget& target);

// The items a value goes to: the rows, or the pairs of rows for a 32-bit format.
int ItemCount(const WriteTarget& target, WriteFormat format);
// "Offset 10 (40010, 400010)", or "Offsets 9-10 (40009, 400009)" for a pair.
std::string ItemLabel(const WriteTarget& target, WriteFormat format, int item);
// The item's current value in the format.
std::string CurrentValue(const WriteTarget& target, WriteFormat format, int item);
// What the dialog writes to: "Holding register at offset 10 (40010, 400010)", "10 holding
// registers, offsets 1 to 10 (40001 to 40010)", "3 coils at offsets 1, 2, 5".
std::string DescribeTarget(const WriteTarget& target);

struct WritePlanResult {
  std::vector<WriteFrame> requests;  // one per run of consecutive items (more when a run is long)
  std::vector<std::uint16_t> words;  // what each row gets: 0 or 1, or the register
  std::string error;                 // set when a value is refused: names the item and the range
  int badItem = -1;                  // the item whose value was refused
};

// The requests that write values: one text for every item, or one per item. With readBack,
// and rows that CanReadBack, one function 23 request that writes them and reads them back.
WritePlanResult PlanWrite(const WriteTarget& target, WriteFormat format, const std::vector<std::string>& values,
                          bool alwaysMultiple, bool readBack = false);

// Whether the rows can be written and read back in one request (23): holding registers, 1 to
// 121 consecutive ones, to one device (23 cannot be broadcast).
bool CanReadBack(const WriteTarget& target);

// One bit of a register, set or cleared by the device itself with function 22 (Mask Write
// Register), so that the other bits keep what the device holds now, not what was last read.
// The device computes (current AND andMask) OR (orMask AND NOT andMask).
inline constexpr int kMaxBitNumber = 15;
struct BitMasks {
  std::uint16_t andMask = 0xFFFF;
  std::uint16_t orMask = 0;
  bool operator==(const BitMasks&) const = default;
};
// Bit 0 to 15: AND ~(1 << bit), and OR (1 << bit) to set it or 0 to clear it.
BitMasks BitWriteMasks(int bit, bool set);
// What a register holds after a 22 with these masks.
std::uint16_t MaskedRegister(std::uint16_t current, BitMasks masks);
// The request that sets or clears the bit (0 to 15) of the target's register (one holding
// register); words holds what the register becomes from its value as last read.
WritePlanResult PlanBitWrite(const WriteTarget& target, int bit, bool set);

// What a plan writes where, for the user to see before it is sent: each address with its
// new value, the first kPlanShown of them and how many there are in all, the 32-bit format
// and word order the registers were made in, and the function: "Writes 40009 = 0x3FC0,
// 40010 = 0x0000 (float32, high word first) with function 16". Empty for a plan refused.
inline constexpr std::size_t kPlanShown = 8;
std::string DescribePlan(const WriteTarget& target, WriteFormat format, const WritePlanResult& plan);

}  // namespace vantrel
