#include "session/RegisterMap.h"

namespace vantrel {

const char* MapTableName(MapTable table) {
  switch (table) {
    case MapTable::Coil:
      return "coil";
    case MapTable::Discrete:
      return "discrete";
    case MapTable::Input:
      return "input";
    case MapTable::Holding:
      break;
  }
  return "holding";
}

int MapReadFunction(MapTable table) {
  switch (table) {
    case MapTable::Coil:
      return 1;
    case MapTable::Discrete:
      return 2;
    case MapTable::Input:
      return 4;
    case MapTable::Holding:
      break;
  }
  return 3;
}

bool IsBitTable(MapTable table) { return table == MapTable::Coil || table == MapTable::Discrete; }

int MapItem::Span() const {
  switch (type) {
    case MapType::Uint32:
    case MapType::Int32:
    case MapType::Float32:
      return 2;
    case MapType::Uint64:
    case MapType::Int64:
    case MapType::Float64:
      return 4;
    case MapType::String:
      return stringRegisters;
    default:
      return 1;
  }
}

const MapItem* RegisterMap::Find(std::string_view name) const {
  for (const MapItem& item : items) {
    if (item.name == name) return &item;
  }
  return nullptr;
}

}  // namespace vantrel
