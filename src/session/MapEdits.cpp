#include "session/MapEdits.h"

#include <algorithm>

namespace vantrel {

namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The item that an ordinary table's row at offset shows, or -1.
int ItemAt(const RegisterMap& map, MapTable table, int offset) {
  for (std::size_t i = 0; i < map.items.size(); ++i) {
    const MapItem& item = map.items[i];
    if (item.table == table && item.address == offset && item.type != MapType::Bit) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

std::string MapRequestCaption(const PollDefinition& d) {
  const std::size_t n = d.map.items.size();
  return "By map: " + std::to_string(n) + (n == 1 ? " item" : " items") + ", Device: " + std::to_string(d.slaveId);
}

bool MapTableOfFunction(int function, MapTable& table) {
  for (MapTable t : {MapTable::Coil, MapTable::Discrete, MapTable::Holding, MapTable::Input}) {
    if (MapReadFunction(t) == function) {
      table = t;
      return true;
    }
  }
  return false;
}

std::vector<std::string> RowNames(const RegisterMap& map, const ResponseTable& table) {
  std::vector<std::string> names(table.rows.size());
  MapTable t;
  if (!MapTableOfFunction(table.function, t)) return names;
  for (std::size_t r = 0; r < names.size(); ++r) {
    const int at = ItemAt(map, t, table.firstOffset + static_cast<int>(r));
    if (at >= 0) names[r] = map.items[static_cast<std::size_t>(at)].name;
  }
  return names;
}

bool NameMapRow(RegisterMap& map, int function, int offset, const std::string& name, std::string& error) {
  MapTable table;
  if (!MapTableOfFunction(function, table)) {
    error = "Function " + std::to_string(function) + " reads no table of the map";
    return false;
  }
  RegisterMap named = map;
  const int at = ItemAt(named, table, offset);
  const std::string text = Trimmed(name);
  if (text.empty()) {
    if (at >= 0) named.items.erase(named.items.begin() + at);
  } else if (at >= 0) {
    named.items[static_cast<std::size_t>(at)].name = text;
  } else {
    MapItem item;
    item.name = text;
    item.table = table;
    item.address = offset;
    item.type = IsBitTable(table) ? MapType::Bool : MapType::Uint16;
    item.writable = DefaultWritable(table);
    named.items.push_back(std::move(item));
  }
  if (const MapProblem problem = CheckMap(named); problem.item >= 0) {
    error = "The name \"" + text + "\" cannot be given: " + problem.message;
    return false;
  }
  map = std::move(named);
  return true;
}

bool FrameItemWrite(const MapItem& item, const std::string& text, WordOrder viewOrder, std::vector<std::uint16_t>& raw,
                    int slaveId, bool alwaysMultiple, std::vector<WriteFrame>& frames, std::string& error) {
  if (item.type == MapType::Bit && raw.empty() && item.writable) {
    error = "\"" + item.name + "\" is a bit of a register not read yet: poll it first, so that its other bits are kept";
    return false;
  }
  std::vector<std::uint16_t> written = raw;
  if (!EncodeItem(item, text, viewOrder, written, error)) return false;
  const int perValue = item.type == MapType::String ? 1 : std::max<int>(1, static_cast<int>(written.size()));
  std::vector<WriteFrame> framed =
      FrameWrites(slaveId, item.table == MapTable::Coil, item.address, written, alwaysMultiple, perValue, error);
  if (framed.empty()) {
    error = "\"" + item.name + "\": " + error;
    return false;
  }
  frames = std::move(framed);
  raw = std::move(written);
  return true;
}

}  // namespace vantrel
