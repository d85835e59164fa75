#include "app/ResponseTable.h"

#include <cstdio>
#include <cstring>

#include "diag/Diagnostics.h"

namespace vantrel {
namespace {

constexpr ResponseColumn kCommonColumns[] = {
    {"Write", 40}, {"Offset", 40}, {"Standard address", 100}, {"6 digit address", 80}};
constexpr ResponseColumn kBitColumn = {"Value", 100};
constexpr ResponseColumn kRegisterColumns[] = {{"Hex", 50},   {"uint16", 50}, {"int16", 50},
                                               {"uint32", 50}, {"int32", 50}, {"float32", 80}};

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
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

ResponseTable MakeResponseTable(const ModbusMaster* master) {
  ResponseTable table;
  if (master == nullptr || master->byte_count == 0) return table;

  const int function = master->response_function;
  const bool bits = function == 1 || function == 2;
  const bool registers = function == 3 || function == 4;
  table.columns.assign(std::begin(kCommonColumns), std::end(kCommonColumns));
  if (bits) table.columns.push_back(kBitColumn);
  if (registers) table.columns.insert(table.columns.end(), std::begin(kRegisterColumns),
                                      std::end(kRegisterColumns));
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
  table.rows.reserve(quantity);
  table.values.reserve(quantity);
  table.function = function;
  table.firstOffset = static_cast<int>(off) + 1;
  for (unsigned i = 0; i < quantity; ++i) {
    std::vector<std::string> row;
    row.reserve(table.columns.size());
    row.push_back("Write");
    row.push_back(Format("%d", static_cast<int>(off + i + 1)));
    row.push_back(Format("%05d", static_cast<int>(bases.base5 + off + i)));
    row.push_back(Format("%06d", static_cast<int>(bases.base6 + off + i)));
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
          std::memcpy(&pairValue, d + 2 * i, 4);
          WordSwap32(&pairValue);
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
    }
    table.rows.push_back(std::move(row));
  }
  table.fill = TableFill::Filled;
  return table;
}

ResponseTable MakeResponseTableOrPanic(const ModbusMaster* master) {
  ResponseTable table = MakeResponseTable(master);
  if (table.fill == TableFill::ColumnsOnly) {
    Panic(kMainDialogSource, __LINE__, __DATE__, __TIME__, kNotEnoughData);
  } else if (table.fill == TableFill::UnknownFunction) {
    Panic(kMainDialogSource, __LINE__, __DATE__, __TIME__, kUndecodableFunction);
  }
  return table;
}

}  // namespace vantrel
