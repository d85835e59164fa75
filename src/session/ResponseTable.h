// The cells of the response table: columns, captions and texts made from a good reply.
// Pure, shared by the main window and the command-line poller.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/WriteValues.h"
#include "modbus/ModbusMaster.h"

namespace vantrel {

struct ResponseColumn {
  const char* caption;
  int width;  // pixels
};

enum class TableFill {
  Unchanged,    // no master or no data bytes: the view keeps what it shows
  ColumnsOnly,  // the reply holds fewer bytes than the request needs
  Filled,
  UnknownFunction,  // a reply function the table cannot show (only columns 0 to 3)
};

struct ResponseTable {
  TableFill fill = TableFill::Unchanged;
  std::vector<ResponseColumn> columns;
  std::vector<std::vector<std::string>> rows;  // one text per column, "" for a blank cell
  // What the rows show, for writing them: the read function, the first row's offset
  // (counted from 1), and each row's value (0 or 1, or the register).
  int function = 0;
  int firstOffset = 0;
  std::vector<std::uint16_t> values;
  // A table read by register map (see MapTable.h): per row, the item's heading ("Voltage L1
  // [V]") and its value in shown units (NaN for text or an item not read); empty otherwise.
  std::vector<std::string> headings;
  std::vector<double> numbers;
};

inline constexpr char kNotEnoughData[] = "Not enugh data to cover the request lenght";
inline constexpr char kUndecodableFunction[] = "Unknown function code in the response";
// The source name the main window's panic reports carry.
inline constexpr char kMainDialogSource[] = "Vantrel Modbus TestDlg";

// Builds the table for the reply held by master (after MB_RESPONCE_OK). A row's first cell
// reads "Write", or "Read-only" for discrete inputs and input registers. Register replies
// get the 32-bit columns in order (captions name any order but LowFirst) and, with
// show64, uint64, int64 and float64 over groups of four registers in the same order. With
// wireAddress, a "Wire address" column after the 6-digit address gives each item's address
// as the frame carries it, 0-based, in decimal and hex: "9 (0x0009)".
ResponseTable MakeResponseTable(const ModbusMaster* master, WordOrder order = WordOrder::LowFirst,
                                bool show64 = false, bool wireAddress = false);

// MakeResponseTable, raising the panic report when the table cannot be filled.
ResponseTable MakeResponseTableOrPanic(const ModbusMaster* master, WordOrder order = WordOrder::LowFirst,
                                       bool show64 = false, bool wireAddress = false);

// Reorders four wire bytes b0 b1 b2 b3 held in memory into the host value with b2 most
// significant, then b3, b0, b1 (the first register is the low-order word, WordOrder::LowFirst).
void WordSwap32(std::uint32_t* value);

}  // namespace vantrel
