#include "session/ResponseTable.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "diag/Diagnostics.h"

namespace vantrel {
namespace {

constexpr ResponseColumn kCommonColumns[] = {
    {"Write", 40}, {"Offset", 40}, {"Standard address", 100}, {"6 digit address", 80}};
constexpr ResponseColumn kWireAddressColumn = {"Wire address", 90};
constexpr ResponseColumn kBitColumn = {"Value", 100};
constexpr ResponseColumn k16BitColumns[] = {{"Hex", 50}, {"uint16", 50}, {"int16", 50}};
constexpr int k32BitWidths[] = {50, 50, 80};
constexpr int k64BitWidths[] = {140, 140, 140};
// Per word order, in the order of WordOrder's integers.
constexpr const char* k32BitCaptions[][3] = {
    {"uint32", "int32", "float32"},
    {"uint32 (high word first)", "int32 (high word first)", "float32 (high word first)"},
    {"uint32 (low word first, bytes swapped)", "int32 (low word first, bytes swapped)",
     "float32 (low word first, bytes swapped)"},
    {"uint32 (high word first, bytes swapped)", "int32 (high word first, bytes swapped)",
     "float32 (high word first, bytes swapped)"}};
constexpr const char* k64BitCaptions[][3] = {
    {"uint64", "int64", "float64"},
    {"uint64 (high word first)", "int64 (high word first)", "float64 (high word first)"},
    {"uint64 (low word first, bytes swapped)", "int64 (low word first, bytes swapped)",
     "float64 (low word first, bytes swapped)"},
    {"uint64 (high word first, bytes swapped)", "int64 (high word first, bytes swapped)",
     "float64 (high word first, bytes swapped)"}};

// A caption longer than the column's usual width gets room for itself (about 7 pixels a
// character), so the order it names is not cut off.
void AddColumns(std::vector<ResponseColumn>& columns, const char* const (&captions)[3], const int (&widths)[3]) {
  for (int i = 0; i < 3; ++i) {
    const int fit = 7 * static_cast<int>(std::strlen(captions[i]));
    columns.push_back({captions[i], std::max(widths[i], fit)});
  }
}

template <typename... Args>
std::string Format(const char* format, Args... args) {
  // Sized to the text: "%f" of a large float64 takes over 300 characters.
  const int size = std::snprintf(nullptr, 0, format, args...);
  std::string text(static_cast<std::size_t>(size > 0 ? size : 0) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, args...);
  text.pop_back();
  return text;
}

struct Bases {
  int base5;
  int base6;
};

Bases BasesFor(int function) {
  switch (function) {
    case 2: return {10001, 100001};
    case 3: return {40001, 400001};
    case 4: return {30001, 300001};
    default: return {1, 1};
  }
}

}  // namespace

void WordSwap32(std::uint32_t* value) {
  std::uint8_t b[4];
  std::memcpy(b, value, 4);
  *value = std::uint32_t{b[2]} << 24 | std::uint32_t{b[3]} << 16 | std::uint32_t{b[0]} << 8 | b[1];
}

ResponseTable MakeResponseTable(const ModbusMaster* master, WordOrder order, bool show64, bool wireAddress) {
  ResponseTable table;
  if (master == nullptr || master->byte_count == 0) return table;
  // An order from a cast of a bad integer shows as the program's first order.
  if (!WordOrderFromInt(static_cast<int>(order), order)) order = WordOrder::LowFirst;
  const int captions = static_cast<int>(order);

  const int function = master->response_function;
  const bool bits = function == 1 || function == 2;
  const bool registers = function == 3 || function == 4;
  table.columns.assign(std::begin(kCommonColumns), std::end(kCommonColumns));
  if (wireAddress) table.columns.push_back(kWireAddressColumn);
  if (bits) table.columns.push_back(kBitColumn);
  if (registers) {
    table.columns.insert(table.columns.end(), std::begin(k16BitColumns), std::end(k16BitColumns));
    AddColumns(table.columns, k32BitCaptions[captions], k32BitWidths);
    if (show64) AddColumns(table.columns, k64BitCaptions[captions], k64BitWidths);
  }
  if (!bits && !registers) {
    table.fill = TableFill::UnknownFunction;
    return table;
  }

  const unsigned quantity = master->request_quantity;
  const unsigned needed = ReadReplyByteCount(function, quantity);
  const unsigned byteCount = master->byte_count;
  if (byteCount < needed) {
    table.fill = TableFill::ColumnsOnly;
    return table;
  }

  const unsigned off = master->request_address;
  const Bases bases = BasesFor(function);
  const std::uint8_t* d = master->data;
  bool pairToggle = true;
  std::uint32_t pairValue = 0;
  std::uint64_t groupValue = 0;
  table.rows.reserve(quantity);
  table.values.reserve(quantity);
  table.function = function;
  table.firstOffset = static_cast<int>(off) + 1;
  // Discrete inputs and input registers have no write function: their first cell says so
  // (a click there explains why).
  const char* const firstCell = function == 2 || function == 4 ? "Read-only" : "Write";
  for (unsigned i = 0; i < quantity; ++i) {
    std::vector<std::string> row;
    row.reserve(table.columns.size());
    row.push_back(firstCell);
    row.push_back(Format("%d", static_cast<int>(off + i + 1)));
    row.push_back(Format("%05d", static_cast<int>(bases.base5 + off + i)));
    row.push_back(Format("%06d", static_cast<int>(bases.base6 + off + i)));
    if (wireAddress) row.push_back(Format("%u (0x%04X)", off + i, off + i));
    if (bits) {
      table.values.push_back(static_cast<std::uint16_t>((d[i / 8] >> (i % 8)) & 1));
      row.push_back(Format("%d", table.values.back()));
    } else {
      const std::uint8_t hi = d[2 * i], lo = d[2 * i + 1];
      const auto reg = static_cast<std::uint16_t>(hi << 8 | lo);
      table.values.push_back(reg);
      row.push_back(Format("0x%02X%02X", hi, lo));
      row.push_back(Format("%u", unsigned{reg}));
      row.push_back(Format("%d", int{static_cast<std::int16_t>(reg)}));
      if (pairToggle) {
        pairToggle = false;
        if (2 * i + 4 > byteCount) {
          row.insert(row.end(), 3, "incomplete");
        } else {
          pairValue = static_cast<std::uint32_t>(JoinRegisters(d + 2 * i, 2, order));
          row.insert(row.end(), 3, "");
        }
      } else {
        pairToggle = true;
        float asFloat;
        std::memcpy(&asFloat, &pairValue, 4);
        row.push_back(Format("%u", pairValue));
        row.push_back(Format("%d", static_cast<std::int32_t>(pairValue)));
        row.push_back(Format("%f", static_cast<double>(asFloat)));
      }
      // As the pairs, but over four registers: checked on the first row of each group,
      // shown on its fourth.
      if (show64) {
        if (i % 4 == 0 && 2 * i + 8 > byteCount) {
          row.insert(row.end(), 3, "incomplete");
        } else if (i % 4 == 3) {
          double asDouble;
          std::memcpy(&asDouble, &groupValue, 8);
          row.push_back(Format("%llu", static_cast<unsigned long long>(groupValue)));
          row.push_back(Format("%lld", static_cast<long long>(static_cast<std::int64_t>(groupValue))));
          row.push_back(Format("%f", asDouble));
        } else {
          if (i % 4 == 0) groupValue = JoinRegisters(d + 2 * i, 4, order);
          row.insert(row.end(), 3, "");
        }
      }
    }
    table.rows.push_back(std::move(row));
  }
  table.fill = TableFill::Filled;
  return table;
}

ResponseTable MakeResponseTableOrPanic(const ModbusMaster* master, WordOrder order, bool show64, bool wireAddress) {
  ResponseTable table = MakeResponseTable(master, order, show64, wireAddress);
  if (table.fill == TableFill::ColumnsOnly) {
    Panic(kMainDialogSource, __LINE__, __DATE__, __TIME__, kNotEnoughData);
  } else if (table.fill == TableFill::UnknownFunction) {
    Panic(kMainDialogSource, __LINE__, __DATE__, __TIME__, kUndecodableFunction);
  }
  return table;
}

}  // namespace vantrel
