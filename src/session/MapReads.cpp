#include "session/MapReads.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "modbus/ModbusFrame.h"

namespace vantrel {

namespace {

// The tables in the order of their read functions, 01 to 04.
constexpr MapTable kByFunction[] = {MapTable::Coil, MapTable::Discrete, MapTable::Holding, MapTable::Input};

int ReadLimit(MapTable table) { return IsBitTable(table) ? kMaxReadBits : kMaxReadRegisters; }

struct Entry {
  int address;
  int width;
  int index;
};

const char* TableNoun(MapTable table, int count) {
  const bool one = count == 1;
  switch (table) {
    case MapTable::Coil:
      return one ? "coil" : "coils";
    case MapTable::Discrete:
      return one ? "discrete input" : "discrete inputs";
    case MapTable::Input:
      return one ? "input register" : "input registers";
    case MapTable::Holding:
      break;
  }
  return one ? "holding register" : "holding registers";
}

// Items named in a request's text; the rest are counted.
constexpr std::size_t kNamedItems = 5;

}  // namespace

int MapItemWidth(const MapItem& item) {
  const int width = IsBitTable(item.table) ? 1 : item.Span();
  if (width < 1 || width > ReadLimit(item.table)) return 0;
  if (item.address < 1 || item.address > kLastReadOffset - width + 1) return 0;
  return width;
}

std::vector<MapRequest> PlanMapReads(const RegisterMap& map, int mergeGap, const std::vector<bool>& alone) {
  const int gap = std::max(mergeGap, 0);
  std::vector<MapRequest> plan;
  for (const MapTable table : kByFunction) {
    std::vector<Entry> merging;
    std::vector<Entry> single;
    for (std::size_t i = 0; i < map.items.size(); ++i) {
      const MapItem& item = map.items[i];
      const int width = item.table == table ? MapItemWidth(item) : 0;
      if (width == 0) continue;
      const bool byItself = i < alone.size() && alone[i];
      (byItself ? single : merging).push_back({item.address, width, static_cast<int>(i)});
    }
    std::vector<MapRequest> requests;
    // The widest of items at one address first: when it fits, the others fit too.
    std::sort(merging.begin(), merging.end(), [](const Entry& a, const Entry& b) {
      return std::tie(a.address, b.width, a.index) < std::tie(b.address, a.width, b.index);
    });
    for (const Entry& e : merging) {
      if (!requests.empty()) {
        MapRequest& last = requests.back();
        const int end = last.offset + last.count;
        const int reach = std::max(end, e.address + e.width);
        if (e.address - end <= gap && reach - last.offset <= ReadLimit(table)) {
          last.count = reach - last.offset;
          last.items.push_back(e.index);
          continue;
        }
      }
      requests.push_back({table, MapReadFunction(table), e.address, e.width, {e.index}});
    }
    const std::size_t mergedRequests = requests.size();
    std::sort(single.begin(), single.end(), [](const Entry& a, const Entry& b) {
      return std::tie(a.address, a.width, a.index) < std::tie(b.address, b.width, b.index);
    });
    for (const Entry& e : single) {
      if (requests.size() > mergedRequests && requests.back().offset == e.address && requests.back().count == e.width) {
        requests.back().items.push_back(e.index);
      } else {
        requests.push_back({table, MapReadFunction(table), e.address, e.width, {e.index}});
      }
    }
    std::stable_sort(requests.begin(), requests.end(), [](const MapRequest& a, const MapRequest& b) {
      return std::tie(a.offset, a.count) < std::tie(b.offset, b.count);
    });
    for (MapRequest& r : requests) {
      std::sort(r.items.begin(), r.items.end(), [&map](int a, int b) {
        return std::pair(map.items[static_cast<std::size_t>(a)].address, a) <
               std::pair(map.items[static_cast<std::size_t>(b)].address, b);
      });
      plan.push_back(std::move(r));
    }
  }
  return plan;
}

bool IsMergedRead(const RegisterMap& map, const MapRequest& request) {
  return std::any_of(request.items.begin(), request.items.end(), [&](int i) {
    const MapItem& item = map.items.at(static_cast<std::size_t>(i));
    return item.address != request.offset || MapItemWidth(item) != request.count;
  });
}

int FrameMapRequest(int slaveId, const MapRequest& request, std::uint8_t* out) {
  if (slaveId < kMinSlaveId || slaveId > kMaxSlaveId) return 0;
  if (request.count < 1 || request.count > ReadLimit(request.table)) return 0;
  if (request.offset < 1 || request.offset > kLastReadOffset - request.count + 1) return 0;
  const int wire = request.offset - 1;
  out[0] = static_cast<std::uint8_t>(slaveId);
  out[1] = static_cast<std::uint8_t>(MapReadFunction(request.table));
  out[2] = static_cast<std::uint8_t>(wire >> 8);
  out[3] = static_cast<std::uint8_t>(wire);
  out[4] = static_cast<std::uint8_t>(request.count >> 8);
  out[5] = static_cast<std::uint8_t>(request.count);
  const std::uint16_t crc = Crc16(out, 6);
  out[6] = static_cast<std::uint8_t>(crc >> 8);
  out[7] = static_cast<std::uint8_t>(crc);
  return 8;
}

std::vector<std::uint16_t> ReplyValues(const MapRequest& request, const std::uint8_t* data, int byteCount) {
  std::vector<std::uint16_t> values;
  if (IsBitTable(request.table)) {
    const int n = std::min(request.count, std::max(byteCount, 0) * 8);
    for (int i = 0; i < n; ++i) values.push_back(static_cast<std::uint16_t>(data[i / 8] >> (i % 8) & 1));
  } else {
    const int n = std::min(request.count, std::max(byteCount, 0) / 2);
    for (int i = 0; i < n; ++i) values.push_back(static_cast<std::uint16_t>(data[2 * i] << 8 | data[2 * i + 1]));
  }
  return values;
}

bool SplitMapReply(const RegisterMap& map, const MapRequest& request, const std::vector<std::uint16_t>& values,
                   MapReading& reading) {
  if (static_cast<int>(values.size()) < request.count) return false;
  reading.raw.resize(map.items.size());
  for (const int i : request.items) {
    if (i < 0 || static_cast<std::size_t>(i) >= map.items.size()) continue;
    const MapItem& item = map.items[static_cast<std::size_t>(i)];
    const int at = item.address - request.offset;
    const int width = MapItemWidth(item);
    // An item the request does not cover (a plan of another map) gets nothing.
    if (width == 0 || at < 0 || at + width > request.count) continue;
    reading.raw[static_cast<std::size_t>(i)].assign(values.begin() + at, values.begin() + at + width);
  }
  return true;
}

std::string MapRequestText(const RegisterMap& map, const MapRequest& request) {
  std::string text = std::to_string(request.count) + " " + TableNoun(request.table, request.count) +
                     (request.count == 1 ? " at offset " : " from offset ") + std::to_string(request.offset) + " (";
  for (std::size_t k = 0; k < request.items.size() && k < kNamedItems; ++k) {
    const auto i = static_cast<std::size_t>(request.items[k]);
    text += (k > 0 ? ", " : "") + (i < map.items.size() ? map.items[i].name : "?");
  }
  if (request.items.size() > kNamedItems) {
    text += " and " + std::to_string(request.items.size() - kNamedItems) + " more";
  }
  return text + ")";
}

}  // namespace vantrel
