#include "session/TrendHistory.h"

#include "session/MapTable.h"

#include <gtest/gtest.h>

#include "support/DetachedMaster.h"

#include <numeric>

using namespace vantrel;

namespace {

// The table of a good reply to a read of these values from firstOffset (counted from 1).
ResponseTable Reply(int function, int firstOffset, const std::vector<std::uint16_t>& values) {
  vantrel::test::DetachedMaster m;
  m.response_function = m.request_function = static_cast<std::uint8_t>(function);
  m.request_address = static_cast<std::uint16_t>(firstOffset - 1);
  m.request_quantity = static_cast<std::uint16_t>(values.size());
  const bool bits = function <= 2;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (bits) {
      m.data[i / 8] = static_cast<std::uint8_t>(m.data[i / 8] | (values[i] & 1) << (i % 8));
    } else {
      m.data[2 * i] = static_cast<std::uint8_t>(values[i] >> 8);
      m.data[2 * i + 1] = static_cast<std::uint8_t>(values[i]);
    }
  }
  m.byte_count = static_cast<std::uint8_t>(bits ? (values.size() + 7) / 8 : 2 * values.size());
  return MakeResponseTable(&m);
}

std::vector<std::uint16_t> Count(int n, std::uint16_t first) {
  std::vector<std::uint16_t> v(static_cast<std::size_t>(n));
  std::iota(v.begin(), v.end(), first);
  return v;
}

}  // namespace

TEST(trend_history, keeps_one_span_and_at_most_its_capacity) {
  struct Case {
    std::int64_t span;
    std::size_t capacity;
    int periodMs, replies;
    std::size_t kept;
    std::int64_t oldest;
  };
  const Case cases[] = {
      {1000, 100, 100, 50, 11, 3900},  // 4900 back to 3900, both ends kept
      {1000, 5, 100, 50, 5, 4500},     // the capacity first
      {TrendHistory::kSpanMs, TrendHistory::kCapacity, 100, 72000, 36000, 3600000},  // 2 h at 10/s
      {TrendHistory::kSpanMs, TrendHistory::kCapacity, 1000, 7200, 3601, 3599000},   // 2 h at 1/s
      {TrendHistory::kSpanMs, TrendHistory::kCapacity, 10, 400000, 36000, 3640000},  // 100/s
  };
  const ResponseTable table = Reply(3, 1, {7});
  for (const Case& c : cases) {
    TrendHistory history(c.span, c.capacity);
    history.Follow(table, 1, {0});
    for (int n = 0; n < c.replies; ++n) history.Add(table, 1, std::int64_t{n} * c.periodMs);
    const auto& samples = history.lines()[0].samples;
    EXPECT_EQ(samples.size(), c.kept) << c.span << " " << c.periodMs;
    EXPECT_EQ(samples.front().ms, c.oldest) << c.span << " " << c.periodMs;
    EXPECT_EQ(samples.back(), (TrendSample{std::int64_t{c.replies - 1} * c.periodMs, 7}));
  }
}

TEST(trend_history, a_reply_feeds_the_lines_whose_item_it_holds) {
  struct Case {
    const char* what;
    int device;
    ResponseTable reply;
    std::vector<std::uint16_t> last;  // per line: the value of its one sample, 0xFFFF for none
    std::vector<std::string> captions;
  };
  const Case cases[] = {
      {"the same request", 1, Reply(3, 1, Count(10, 101)), {103, 106}, {"40003", "40006"}},
      {"another length", 1, Reply(3, 1, Count(4, 201)), {203, 0xFFFF}, {"40003", "40006 (not polled)"}},
      {"another offset", 1, Reply(3, 5, Count(3, 305)), {0xFFFF, 306}, {"40003 (not polled)", "40006"}},
      {"input registers", 1, Reply(4, 1, Count(10, 1)), {0xFFFF, 0xFFFF},
       {"40003 (not polled)", "40006 (not polled)"}},
      {"another device", 2, Reply(3, 1, Count(10, 1)), {0xFFFF, 0xFFFF},
       {"40003 (not polled)", "40006 (not polled)"}},
  };
  for (const Case& c : cases) {
    TrendHistory history;
    EXPECT_EQ(history.Follow(Reply(3, 1, Count(10, 1)), 1, {2, 5, 2, 10, -1}), 0u) << c.what;
    history.Add(c.reply, c.device, 5000);
    ASSERT_EQ(history.lines().size(), 2u) << c.what;
    for (std::size_t i = 0; i < 2; ++i) {
      const TrendLine& line = history.lines()[i];
      EXPECT_EQ(history.Caption(line), c.captions[i]) << c.what;
      if (c.last[i] == 0xFFFF) {
        EXPECT_TRUE(line.samples.empty()) << c.what << " " << i;
      } else {
        EXPECT_EQ(line.samples, (std::deque<TrendSample>{{5000, double(c.last[i])}})) << c.what << " " << i;
      }
    }
  }

  // Coils as 0 and 1; a clock set back repeats the last time; a table without values adds
  // nothing; lines of several devices say whose they are.
  TrendHistory history;
  history.Follow(Reply(1, 1, {1, 0, 1}), 4, {1});
  history.Add(Reply(1, 1, {0, 1, 1}), 4, 2000);
  history.Add(Reply(1, 1, {1, 0, 1}), 4, 1500);
  ResponseTable empty = Reply(1, 1, {1, 1, 1});
  empty.fill = TableFill::ColumnsOnly;
  history.Add(empty, 4, 3000);
  EXPECT_EQ(history.lines()[0].samples, (std::deque<TrendSample>{{2000, 1}, {2000, 0}}));
  EXPECT_EQ(history.latest(), 2000);
  history.Follow(Reply(1, 1, {1, 0}), 7, {1});
  EXPECT_EQ(history.Caption(history.lines()[0]), "00002 (device 4)");
  EXPECT_EQ(history.Caption(history.lines()[1]), "00002 (device 7)");
  // Lines of several polls on the line say whose they are.
  history.Follow(Reply(3, 1, {5}), 4, {0}, "Setpoints");
  EXPECT_EQ(history.Caption(history.lines()[2]), "Setpoints 40001 (device 4)");
  EXPECT_EQ(history.Caption(history.lines()[0]), "00002 (device 4)") << "taken with one poll on the line";
}

TEST(trend_history, decimation_keeps_each_buckets_lowest_and_highest) {
  const auto samples = [](const std::vector<std::uint16_t>& values, std::int64_t step) {
    std::deque<TrendSample> s;
    for (std::size_t i = 0; i < values.size(); ++i) s.push_back({static_cast<std::int64_t>(i) * step, double(values[i])});
    return s;
  };
  std::vector<std::uint16_t> spike(1000, 20);
  spike[437] = 500;
  spike[438] = 3;
  struct Case {
    const char* what;
    std::deque<TrendSample> in;
    std::int64_t from, to;
    int buckets;
    std::vector<TrendSample> out;
  };
  const Case cases[] = {
      {"few enough: all", samples({3, 1, 4, 1, 5}, 10), 0, 40, 4, {{0, 3}, {10, 1}, {20, 4}, {30, 1}, {40, 5}}},
      {"a range: with one each side", samples({3, 1, 4, 1, 5, 9}, 10), 15, 35, 4, {{10, 1}, {20, 4}, {30, 1}, {40, 5}}},
      {"two buckets", samples({3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8}, 1), 0, 11, 2, {{1, 1}, {5, 9}, {6, 2}, {11, 8}}},
      {"buckets on multiples of their width", samples({3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8}, 1), 3, 11, 2,
       {{2, 4}, {3, 1}, {5, 9}, {6, 2}, {9, 3}, {11, 8}}},
      {"flat buckets: one point each", samples(std::vector<std::uint16_t>(12, 7), 1), 0, 11, 3, {{0, 7}, {4, 7}, {8, 7}}},
      {"a spike of one sample", samples(spike, 1), 0, 999, 10,
       {{0, 20}, {100, 20}, {200, 20}, {300, 20}, {437, 500}, {438, 3}, {500, 20}, {600, 20}, {700, 20},
        {800, 20}, {900, 20}}},
      {"nothing in range", samples({1, 2}, 10), 100, 200, 4, {{10, 2}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TrendHistory::Decimate(c.in, c.from, c.to, c.buckets), c.out) << c.what;
  }
}

namespace {

// The table of a cycle read by map: Flow (l/s, scale 0.1), Level (m), Name (a string).
ResponseTable MapCycle(std::uint16_t flow, std::uint16_t level, const char* unit = "m") {
  RegisterMap map;
  std::string error;
  const std::string csv = std::string("name,table,address,type,scale,unit\nFlow,holding,1,uint16,0.1,l/s\n"
                                      "Level,holding,2,uint16,,") + unit + "\nName,holding,3,string:1,,\n";
  EXPECT_TRUE(ParseMap(csv, "map.csv", map, error)) << error;
  MapReading reading;
  reading.raw = {{flow}, {level}, {0x4142}};
  return MakeMapTable(map, reading, WordOrder::LowFirst);
}

}  // namespace

// Rows of a table read by map are followed by item name, in shown units; text has no line.
TEST(trend_history, follows_mapped_items_by_name_in_shown_units) {
  TrendHistory history;
  EXPECT_EQ(history.Follow(MapCycle(123, 7), 1, {0, 1, 2}), 0u);
  ASSERT_EQ(history.lines().size(), 2u) << "the string item is passed over";
  EXPECT_EQ(history.Unit(), "") << "l/s and m";
  history.Add(MapCycle(123, 7), 1, 1000);
  history.Add(MapCycle(250, 8), 1, 2000);
  history.Add(MapCycle(1, 1), 2, 3000);   // another device: none of these lines
  history.Add(Reply(3, 1, {5, 6}), 1, 4000);  // the same registers, not by map
  const auto& flow = history.lines()[0].samples;
  ASSERT_EQ(flow.size(), 2u);
  EXPECT_DOUBLE_EQ(flow[0].value, 12.3);
  EXPECT_DOUBLE_EQ(flow[1].value, 25.0);
  EXPECT_EQ(history.lines()[1].samples.back(), (TrendSample{2000, 8}));
  EXPECT_EQ(history.Caption(history.lines()[0]), "Flow (not polled)");
  history.Add(MapCycle(0, 9), 1, 5000);
  EXPECT_EQ(history.Caption(history.lines()[1]), "Level");

  struct Case {
    std::vector<int> rows;
    const char* unit;
    std::string shared;
  };
  const Case cases[] = {{{0}, "m", "l/s"}, {{1}, "m", "m"}, {{1}, "", ""}, {{0, 1}, "l/s", "l/s"}};
  for (const Case& c : cases) {
    TrendHistory h;
    h.Follow(MapCycle(1, 1, c.unit), 1, c.rows);
    EXPECT_EQ(h.Unit(), c.shared) << c.unit;
  }
}

// With polls named, a reply of one poll leaves the lines of another as they are.
TEST(trend_history, a_reply_of_another_poll_leaves_a_line_alone) {
  TrendHistory history;
  history.Follow(MapCycle(10, 1), 1, {1}, "Tank");
  history.Follow(Reply(3, 1, {4, 5}), 1, {0}, "Block");
  history.Add(MapCycle(10, 2), 1, 1000, "Tank");
  history.Add(Reply(3, 1, {6, 7}), 1, 2000, "Block");
  EXPECT_EQ(history.Caption(history.lines()[0]), "Tank Level");
  EXPECT_EQ(history.Caption(history.lines()[1]), "Block 40001");
  EXPECT_EQ(history.lines()[0].samples.size(), 1u);
  EXPECT_EQ(history.lines()[1].samples.back(), (TrendSample{2000, 6}));
}
