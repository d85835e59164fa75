#include "session/MapTable.h"

#include <cmath>
#include <cstdio>

namespace vantrel {
namespace {

// The first digit of the table's references.
int TableDigit(MapTable table) {
  switch (table) {
    case MapTable::Coil: return 0;
    case MapTable::Discrete: return 1;
    case MapTable::Input: return 3;
    case MapTable::Holding: break;
  }
  return 4;
}

// The reference of offset (counted from 1) in the table: five digits up to offset 9999, six
// beyond, or always six.
std::string Reference(MapTable table, int offset, bool sixDigits = false) {
  char text[16];
  std::snprintf(text, sizeof text, sixDigits || offset > 9999 ? "%d%05d" : "%d%04d", TableDigit(table), offset);
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

// The item's first registers seen as each format of the block table.
void AddFormats(const MapItem& item, const std::vector<std::uint16_t>& raw, bool read, WordOrder viewOrder,
                std::vector<std::string>& row) {
  row.push_back(std::to_string(item.address));
  row.push_back(Reference(item.table, item.address, true));
  static constexpr MapType kTypes[] = {MapType::Uint16,  MapType::Int16,  MapType::Uint32, MapType::Int32,
                                       MapType::Float32, MapType::Uint64, MapType::Int64,  MapType::Float64};
  for (MapType type : kTypes) {
    MapItem as = item;
    as.type = type;
    as.scale = 1;
    as.offset = 0;
    as.decimals = -1;
    const bool fits = read && !IsBitTable(item.table) && static_cast<int>(raw.size()) >= as.Span();
    row.push_back(fits ? FormatItem(as, raw.data(), viewOrder) : "");
  }
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

ResponseTable MakeMapTable(const RegisterMap& map, const MapReading& reading, WordOrder viewOrder, bool formats) {
  ResponseTable table;
  table.fill = TableFill::Filled;
  for (const char* caption : kMapColumns) table.columns.push_back({caption, caption[0] == 'N' ? 160 : 100});
  if (formats) {
    for (const char* caption : kMapFormatColumns) table.columns.push_back({caption, 80});
  }
  for (std::size_t i = 0; i < map.items.size(); ++i) {
    const MapItem& item = map.items[i];
    const std::vector<std::uint16_t> none;
    const std::vector<std::uint16_t>& raw = i < reading.raw.size() ? reading.raw[i] : none;
    // A value needs all of its registers; a bit of a register needs that register.
    const bool read = !raw.empty() && static_cast<int>(raw.size()) >= (IsBitTable(item.table) ? 1 : item.Span());
    table.rows.push_back({item.name, MapItemAddress(item), read ? FormatItem(item, raw.data(), viewOrder) : "",
                          item.unit, read ? RawText(item, raw) : ""});
    if (formats) AddFormats(item, raw, read, viewOrder, table.rows.back());
    table.headings.push_back(MapItemHeading(item));
    table.numbers.push_back(read ? ItemNumber(item, raw.data(), viewOrder) : std::nan(""));
  }
  return table;
}

}  // namespace vantrel
