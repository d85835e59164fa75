#include "session/MapTable.h"

#include <cmath>
#include <cstdio>

namespace vantrel {
namespace {

// The reference of offset (counted from 1) in the item's table: five digits up to offset
// 9999, six beyond.
std::string Reference(MapTable table, int offset) {
  int digit = 4;
  switch (table) {
    case MapTable::Coil: digit = 0; break;
    case MapTable::Discrete: digit = 1; break;
    case MapTable::Input: digit = 3; break;
    case MapTable::Holding: break;
  }
  char text[16];
  if (offset <= 9999) {
    std::snprintf(text, sizeof text, "%d%04d", digit, offset);
  } else {
    std::snprintf(text, sizeof text, "%d%05d", digit, offset);
  }
  return text;
}

std::string RawText(const MapItem& item, const std::vector<std::uint16_t>& raw) {
  if (IsBitTable(item.table)) return raw.empty() ? "" : std::to_string(raw.front());
  std::string text;
  for (std::uint16_t word : raw) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%04X", word);
    text += (text.empty() ? "" : " ") + std::string(hex);
  }
  return text;
}

}  // namespace

std::string MapItemAddress(const MapItem& item) {
  std::string text = Reference(item.table, item.address);
  if (item.type == MapType::Bit) return text + "." + std::to_string(item.bit);
  if (item.Span() > 1) text += "-" + Reference(item.table, item.address + item.Span() - 1);
  return text;
}

std::string MapItemHeading(const MapItem& item) {
  return item.unit.empty() ? item.name : item.name + " [" + item.unit + "]";
}

ResponseTable MakeMapTable(const RegisterMap& map, const MapReading& reading, WordOrder viewOrder) {
  ResponseTable table;
  table.fill = TableFill::Filled;
  for (const char* caption : kMapColumns) table.columns.push_back({caption, caption[0] == 'N' ? 160 : 100});
  for (std::size_t i = 0; i < map.items.size(); ++i) {
    const MapItem& item = map.items[i];
    const std::vector<std::uint16_t> none;
    const std::vector<std::uint16_t>& raw = i < reading.raw.size() ? reading.raw[i] : none;
    // A value needs all of its registers; a bit of a register needs that register.
    const bool read = !raw.empty() && static_cast<int>(raw.size()) >= (IsBitTable(item.table) ? 1 : item.Span());
    table.rows.push_back({item.name, MapItemAddress(item), read ? FormatItem(item, raw.data(), viewOrder) : "",
                          item.unit, read ? RawText(item, raw) : ""});
    table.headings.push_back(MapItemHeading(item));
    table.numbers.push_back(read ? ItemNumber(item, raw.data(), viewOrder) : std::nan(""));
  }
  return table;
}

}  // namespace vantrel
