// The plan of requests that reads a register map, and the items' values taken back out of
// the replies.
#include "session/MapReads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/Hex.h"

using namespace vantrel;
using vantrel::test::HexOf;

namespace {

constexpr MapTable kCoil = MapTable::Coil;
constexpr MapTable kDiscrete = MapTable::Discrete;
constexpr MapTable kHolding = MapTable::Holding;
constexpr MapTable kInput = MapTable::Input;

struct ItemAt {
  MapTable table;
  int address;
  MapType type = MapType::Uint16;
  int stringRegisters = 0;
};

// The items named i0, i1, ... in the order given.
RegisterMap MapOf(const std::vector<ItemAt>& at) {
  RegisterMap map;
  for (const ItemAt& a : at) {
    MapItem item;
    item.name = "i" + std::to_string(map.items.size());
    item.table = a.table;
    item.address = a.address;
    item.type = a.type;
    item.stringRegisters = a.stringRegisters;
    map.items.push_back(item);
  }
  return map;
}

// A request as "03 @1 x6 [0 1 2]": function, offset, count, items.
std::string Text(const MapRequest& r) {
  std::string text = (r.function < 10 ? "0" : "") + std::to_string(r.function) + " @" + std::to_string(r.offset) +
                     " x" + std::to_string(r.count) + " [";
  for (std::size_t k = 0; k < r.items.size(); ++k) text += (k > 0 ? " " : "") + std::to_string(r.items[k]);
  return text + "]";
}

std::vector<std::string> Texts(const std::vector<MapRequest>& plan) {
  std::vector<std::string> out;
  for (const MapRequest& r : plan) out.push_back(Text(r));
  return out;
}

// A string item of n registers.
ItemAt Str(MapTable table, int address, int n) { return {table, address, MapType::String, n}; }

}  // namespace

TEST(map_reads, plan_merges_neighbours_within_the_gap_and_the_limits) {
  struct Row {
    const char* what;
    std::vector<ItemAt> items;
    int gap;
    std::vector<std::string> plan;
    std::vector<bool> alone = {};
  };
  using T = MapType;
  const std::vector<Row> rows = {
      {"adjacent items of several widths",
       {{kHolding, 1}, {kHolding, 2, T::Uint32}, {kHolding, 4, T::Float32}, {kHolding, 6}},
       8,
       {"03 @1 x6 [0 1 2 3]"}},
      {"adjacent items merge with gap 0 too",
       {{kHolding, 6}, {kHolding, 4, T::Float32}, {kHolding, 1}, {kHolding, 2, T::Uint32}},
       0,
       {"03 @1 x6 [2 3 1 0]"}},
      {"gap 0 reads only mapped registers",
       {{kHolding, 1}, {kHolding, 2}, {kHolding, 4}},
       0,
       {"03 @1 x2 [0 1]", "03 @4 x1 [2]"}},
      {"a gap of exactly the merge gap merges, one more does not",
       {{kHolding, 1}, {kHolding, 5}, {kHolding, 14}, {kHolding, 24}},
       8,
       {"03 @1 x14 [0 1 2]", "03 @24 x1 [3]"}},
      {"a negative gap counts as 0",
       {{kInput, 10}, {kInput, 11}, {kInput, 13}},
       -3,
       {"04 @10 x2 [0 1]", "04 @13 x1 [2]"}},
      {"far apart items each have a request",
       {{kHolding, 60000}, {kHolding, 1}, {kHolding, 1000}},
       8,
       {"03 @1 x1 [1]", "03 @1000 x1 [2]", "03 @60000 x1 [0]"}},
      {"a 64-bit item that ends on the 125th register fits",
       {Str(kHolding, 1, 121), {kHolding, 122, T::Uint64}},
       8,
       {"03 @1 x125 [0 1]"}},
      {"a 64-bit item that would straddle the 125-register limit starts the next request",
       {Str(kHolding, 1, 122), {kHolding, 123, T::Float64}, {kHolding, 127}},
       8,
       {"03 @1 x122 [0]", "03 @123 x5 [1 2]"}},
      {"a gap within the merge gap is not taken past the limit",
       {Str(kInput, 1, 120), {kInput, 126}},
       8,
       {"04 @1 x120 [0]", "04 @126 x1 [1]"}},
      {"coils: 2000 bits in one request, the 2001st in the next",
       {{kCoil, 1, T::Bool}, {kCoil, 1000, T::Bool}, {kCoil, 2000, T::Bool}, {kCoil, 2001, T::Bool}},
       1000,
       {"01 @1 x2000 [0 1 2]", "01 @2001 x1 [3]"}},
      {"discrete inputs every 8 bits: 250 to a request of 1993 bits",
       [] {
         std::vector<ItemAt> items;
         for (int k = 0; k < 300; ++k) items.push_back({kDiscrete, 1 + 8 * k, T::Bool});
         return items;
       }(),
       8,
       [] {
         std::string first = "02 @1 x1993 [";
         std::string second = "02 @2001 x393 [";
         for (int k = 0; k < 300; ++k) {
           std::string& s = k < 250 ? first : second;
           s += (k == 0 || k == 250 ? "" : " ") + std::to_string(k);
         }
         return std::vector<std::string>{first + "]", second + "]"};
       }()},
      {"an item of a bit table is one bit, whatever its type",
       {{kCoil, 5, T::Uint32}, {kCoil, 6, T::Bool}},
       0,
       {"01 @5 x2 [0 1]"}},
      {"items at the last address, and one that would pass it",
       {{kHolding, 65536}, {kHolding, 65535, T::Uint32}, {kHolding, 65536, T::Uint32}, {kCoil, 65536, T::Bool},
        {kInput, 65533, T::Uint64}},
       8,
       {"01 @65536 x1 [3]", "03 @65535 x2 [1 0]", "04 @65533 x4 [4]"}},
      {"overlapping views of the same registers share one request",
       {{kHolding, 10, T::Uint32}, {kHolding, 10}, {kHolding, 11}, {kHolding, 11, T::Bit}, {kHolding, 10, T::Float64}},
       0,
       {"03 @10 x4 [0 1 4 2 3]"}},
      {"by function: coils, discrete inputs, holding, input",
       {{kInput, 1}, {kHolding, 1}, {kDiscrete, 1, T::Bool}, {kCoil, 1, T::Bool}},
       8,
       {"01 @1 x1 [3]", "02 @1 x1 [2]", "03 @1 x1 [1]", "04 @1 x1 [0]"}},
      {"items no request can read are left out",
       {Str(kHolding, 1, 0), Str(kHolding, 2, 126), {kHolding, 0}, {kHolding, -4}, Str(kHolding, 3, 2)},
       8,
       {"03 @3 x2 [4]"}},
      {"an item read alone has its own request; the others merge as before",
       {{kHolding, 1}, {kHolding, 2}, {kHolding, 3}, {kHolding, 4}, {kHolding, 7}},
       8,
       {"03 @1 x7 [0 1 3 4]", "03 @3 x1 [2]"},
       {false, false, true}},
      {"an item read alone, gap 0",
       {{kHolding, 1}, {kHolding, 2}, {kHolding, 3}, {kHolding, 4}, {kHolding, 7}},
       0,
       {"03 @1 x2 [0 1]", "03 @3 x1 [2]", "03 @4 x1 [3]", "03 @7 x1 [4]"},
       {false, false, true}},
      {"items read alone that span the same registers share their request",
       {{kHolding, 20, T::Uint32}, {kHolding, 20, T::Int32}, {kHolding, 20}, {kHolding, 21}},
       8,
       {"03 @20 x1 [2]", "03 @20 x2 [0 1]", "03 @21 x1 [3]"},
       {true, true, true, true}},
  };
  for (const Row& row : rows) {
    const RegisterMap map = MapOf(row.items);
    EXPECT_EQ(Texts(PlanMapReads(map, row.gap, row.alone)), row.plan) << row.what;
  }
}

// Every readable item is carried by exactly one request, which covers all its registers and
// stays within the limits, whatever the gap; and no request could take the next one in.
TEST(map_reads, plan_carries_every_item_once_within_the_limits) {
  RegisterMap map;
  unsigned seed = 7;
  const auto next = [&seed](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int>((seed >> 16) % n);
  };
  const MapType types[] = {MapType::Uint16, MapType::Uint32, MapType::Float64, MapType::Bit, MapType::String};
  for (int k = 0; k < 400; ++k) {
    MapItem item;
    item.name = "m" + std::to_string(k);
    item.table = static_cast<MapTable>(next(4));
    item.address = 1 + next(k < 300 ? 3000 : 65536);
    item.type = types[next(5)];
    item.stringRegisters = 1 + next(20);
    map.items.push_back(item);
  }
  for (const int gap : {0, 3, 8, 40, 5000}) {
    std::vector<int> carried(map.items.size(), 0);
    const std::vector<MapRequest> plan = PlanMapReads(map, gap);
    for (std::size_t r = 0; r < plan.size(); ++r) {
      const MapRequest& q = plan[r];
      const int limit = IsBitTable(q.table) ? kMaxReadBits : kMaxReadRegisters;
      EXPECT_LE(q.count, limit);
      EXPECT_LE(q.offset + q.count - 1, kLastReadOffset);
      EXPECT_EQ(q.function, MapReadFunction(q.table));
      if (r > 0 && plan[r - 1].table == q.table) {
        const MapRequest& before = plan[r - 1];
        const int end = before.offset + before.count;
        EXPECT_LE(before.offset, q.offset) << "in order";
        int widest = 0;
        for (int i : q.items) {
          const MapItem& item = map.items[static_cast<std::size_t>(i)];
          if (item.address == q.offset) widest = std::max(widest, MapItemWidth(item));
        }
        EXPECT_TRUE(q.offset - end > gap || std::max(end, q.offset + widest) - before.offset > limit)
            << "the one before could have taken " << Text(q) << " in, gap " << gap;
      } else if (r > 0) {
        EXPECT_LT(plan[r - 1].function, q.function) << "by function";
      }
      for (int i : q.items) {
        const MapItem& item = map.items[static_cast<std::size_t>(i)];
        ++carried[static_cast<std::size_t>(i)];
        EXPECT_EQ(item.table, q.table);
        EXPECT_GE(item.address, q.offset);
        EXPECT_LE(item.address + MapItemWidth(item), q.offset + q.count);
      }
    }
    for (std::size_t i = 0; i < map.items.size(); ++i) {
      EXPECT_EQ(carried[i], MapItemWidth(map.items[i]) > 0 ? 1 : 0) << map.items[i].name << " gap " << gap;
    }
  }
}

TEST(map_reads, a_merged_read_is_one_wider_than_some_item_it_carries) {
  const RegisterMap map = MapOf({{kHolding, 10, MapType::Uint32}, {kHolding, 10, MapType::Int32}, {kHolding, 11},
                                 {kHolding, 14}, {kCoil, 3, MapType::Bool}, {kCoil, 3, MapType::Bool}});
  struct Row {
    MapRequest request;
    bool merged;
  };
  const Row rows[] = {
      {{kHolding, 3, 10, 2, {0}}, false},
      {{kHolding, 3, 10, 2, {0, 1}}, false},  // the same registers, twice
      {{kHolding, 3, 10, 2, {0, 2}}, true},
      {{kHolding, 3, 11, 4, {2, 3}}, true},
      {{kHolding, 3, 10, 5, {0, 1, 3}}, true},
      {{kHolding, 3, 14, 1, {3}}, false},
      {{kHolding, 3, 13, 2, {3}}, true},  // across a register no item needs
      {{kCoil, 1, 3, 1, {4, 5}}, false},
      {{kCoil, 1, 3, 2, {4}}, true},
  };
  for (const Row& row : rows) EXPECT_EQ(IsMergedRead(map, row.request), row.merged) << Text(row.request);
}

TEST(map_reads, requests_framed_as_rtu) {
  struct Row {
    int slave;
    MapRequest request;
    std::string frame;  // "" when it does not fit
  };
  const Row rows[] = {
      {11, {kHolding, 3, 10, 10, {}}, "0B 03 00 09 00 0A 15 65"},
      {1, {kHolding, 3, 65536, 1, {}}, "01 03 FF FF 00 01 84 2E"},
      {17, {kDiscrete, 2, 1, 2000, {}}, "11 02 00 00 07 D0 79 36"},
      {0, {kHolding, 3, 1, 1, {}}, ""},
      {256, {kHolding, 3, 1, 1, {}}, ""},
      {1, {kInput, 4, 1, 126, {}}, ""},
      {1, {kCoil, 1, 1, 2001, {}}, ""},
      {1, {kCoil, 1, 1, 0, {}}, ""},
      {1, {kHolding, 3, 65536, 2, {}}, ""},
      {1, {kHolding, 3, 0, 2, {}}, ""},
  };
  for (const Row& row : rows) {
    std::uint8_t out[8] = {};
    const int size = FrameMapRequest(row.slave, row.request, out);
    EXPECT_EQ(size > 0 ? HexOf(out, static_cast<std::size_t>(size)) : "", row.frame) << Text(row.request);
  }
}

TEST(map_reads, reply_values_and_each_items_raw_values) {
  // Registers: high byte first.
  const std::uint8_t registers[] = {0x12, 0x34, 0x00, 0x01, 0xAB, 0xCD, 0xFF, 0xFF, 0x00, 0x07};
  const RegisterMap words = MapOf({{kHolding, 100, MapType::Uint32}, {kHolding, 102, MapType::Bit}, {kHolding, 104},
                                   {kHolding, 100}, {kHolding, 103, MapType::Int32}});
  const MapRequest all{kHolding, 3, 100, 5, {0, 3, 1, 4, 2}};
  const std::vector<std::uint16_t> values = ReplyValues(all, registers, 10);
  EXPECT_EQ(values, (std::vector<std::uint16_t>{0x1234, 0x0001, 0xABCD, 0xFFFF, 0x0007}));
  EXPECT_EQ(ReplyValues(all, registers, 4).size(), 2u) << "only what the bytes hold";
  MapReading reading;
  ASSERT_TRUE(SplitMapReply(words, all, values, reading));
  EXPECT_EQ(reading.raw, (std::vector<std::vector<std::uint16_t>>{
                             {0x1234, 0x0001}, {0xABCD}, {0x0007}, {0x1234}, {0xFFFF, 0x0007}}));

  // A request that carries some items only: the others keep what they had.
  MapReading part;
  part.raw = {{}, {}, {9}, {}, {}};
  ASSERT_TRUE(SplitMapReply(words, {kHolding, 3, 102, 1, {1}}, {0x5555}, part));
  EXPECT_EQ(part.raw, (std::vector<std::vector<std::uint16_t>>{{}, {0x5555}, {9}, {}, {}}));
  EXPECT_FALSE(SplitMapReply(words, all, {1, 2, 3, 4}, part)) << "fewer values than the request reads";
  EXPECT_EQ(part.raw[0], std::vector<std::uint16_t>{}) << "nothing stored";

  // Bits: the first the lowest of the first byte, one value 0 or 1 an item.
  const std::uint8_t bits[] = {0b10110010, 0b00000101};
  const RegisterMap coils = MapOf({{kCoil, 21, MapType::Bool}, {kCoil, 22, MapType::Bool}, {kCoil, 30, MapType::Bool},
                                   {kCoil, 29, MapType::Uint32}, {kCoil, 31, MapType::Bool}});
  const MapRequest bitRequest{kCoil, 1, 21, 11, {0, 1, 3, 2, 4}};
  const std::vector<std::uint16_t> bitValues = ReplyValues(bitRequest, bits, 2);
  EXPECT_EQ(bitValues, (std::vector<std::uint16_t>{0, 1, 0, 0, 1, 1, 0, 1, 1, 0, 1}));
  MapReading bitReading;
  ASSERT_TRUE(SplitMapReply(coils, bitRequest, bitValues, bitReading));
  EXPECT_EQ(bitReading.raw, (std::vector<std::vector<std::uint16_t>>{{0}, {1}, {0}, {1}, {1}}));
}

TEST(map_reads, request_text_names_its_first_items) {
  RegisterMap map = MapOf({{kHolding, 1}, {kHolding, 2}, {kHolding, 3}, {kHolding, 4}, {kHolding, 5},
                           {kHolding, 6}, {kHolding, 7}, {kCoil, 9, MapType::Bool}});
  map.items[0].name = "flow";
  struct Row {
    MapRequest request;
    const char* text;
  };
  const Row rows[] = {
      {{kHolding, 3, 1, 7, {0, 1, 2, 3, 4, 5, 6}},
       "7 holding registers from offset 1 (flow, i1, i2, i3, i4 and 2 more)"},
      {{kHolding, 3, 2, 1, {1}}, "1 holding register at offset 2 (i1)"},
      {{kInput, 4, 2, 3, {1, 3}}, "3 input registers from offset 2 (i1, i3)"},
      {{kCoil, 1, 9, 1, {7}}, "1 coil at offset 9 (i7)"},
      {{kDiscrete, 2, 9, 16, {7}}, "16 discrete inputs from offset 9 (i7)"},
  };
  for (const Row& row : rows) EXPECT_EQ(MapRequestText(map, row.request), row.text);
}
