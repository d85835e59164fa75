// Reading a poll definition by its register map: the requests that read the mapped items
// with as few requests as the function's limits allow, and each item's raw values taken
// back out of the replies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/RegisterMap.h"

namespace vantrel {

// The most one read request carries: registers (03, 04) and bits (01, 02).
inline constexpr int kMaxReadRegisters = 125;
inline constexpr int kMaxReadBits = 2000;
// The last register or bit a request may reach, counted from 1 (address 65535 on the wire).
inline constexpr int kLastReadOffset = 65536;

// One request of a map's plan.
struct MapRequest {
  MapTable table = MapTable::Holding;
  int function = 3;        // MapReadFunction(table)
  int offset = 1;          // the first register or bit it reads, counted from 1
  int count = 1;           // registers or bits
  std::vector<int> items;  // the indexes in the map of the items it carries, by address

  bool operator==(const MapRequest&) const = default;
};

// What one cycle of reading by map brought: per item of the map, in the map's order, its
// raw values as SplitMapReply stores them; empty for an item not read.
struct MapReading {
  std::vector<std::vector<std::uint16_t>> raw;
};

// The registers (or bits) a request reads for the item: Span() in the register tables, one
// bit in the bit tables; 0 for an item that no request can read (a string of no registers,
// more registers than a request carries, an address before 1 or a span past 65536).
int MapItemWidth(const MapItem& item);

// The requests that read every readable item of the map, by function (01, 02, 03, 04) and
// then offset. Within a table, items in address order share a request while the registers
// (or bits) between the request so far and the next item that no item needs are at most
// mergeGap (a negative gap counts as 0; overlapping items have none), and the request stays
// within the function's limit. An item marked in alone (indexed as the map; missing entries
// are false) is read by a request of exactly its own registers, shared only with other such
// items that span the very same ones.
std::vector<MapRequest> PlanMapReads(const RegisterMap& map, int mergeGap, const std::vector<bool>& alone = {});

// The request reads more than one of its items would on its own: items of other spans, or
// registers that no item needs. A device that refuses such a read may take them one by one.
bool IsMergedRead(const RegisterMap& map, const MapRequest& request);

// The request framed as RTU for slaveId (the master frames it for its mode): 8 bytes into
// out, or 0 when it does not fit the frame (a slave id outside 1..255, a count of none or
// beyond the function's limit, a range outside 1..65536).
int FrameMapRequest(int slaveId, const MapRequest& request, std::uint8_t* out);

// The request's values out of the data bytes of its reply: registers high byte first, or
// bits as 0 and 1, the first bit the lowest of the first byte. Only as many as the bytes
// hold, at most request.count.
std::vector<std::uint16_t> ReplyValues(const MapRequest& request, const std::uint8_t* data, int byteCount);

// Stores the raw values of each item the request carries, out of the request's values:
// Span() registers (a Bit item its whole register), or one value 0 or 1 for an item of a
// bit table. reading.raw is sized to the map first. False, storing nothing, when values
// holds fewer than request.count.
bool SplitMapReply(const RegisterMap& map, const MapRequest& request, const std::vector<std::uint16_t>& values,
                   MapReading& reading);

// The request as the log names it: "3 holding registers from offset 10 (flow, total)", the
// names of the first items it carries and how many more.
std::string MapRequestText(const RegisterMap& map, const MapRequest& request);

}  // namespace vantrel
