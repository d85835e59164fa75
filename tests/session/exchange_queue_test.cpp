// What goes on the line next: polls, writes queued behind them, and the read-back.
#include "session/ExchangeQueue.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "session/WritePlan.h"

using namespace vantrel;
using Kind = ExchangeQueue::Kind;
using Next = ExchangeQueue::Next;

namespace {

std::vector<WriteFrame> Requests(std::initializer_list<int> offsets) {
  std::vector<WriteFrame> requests;
  for (int offset : offsets) {
    WriteFrame f;
    f.function = 6;
    f.offset = offset;
    requests.push_back(f);
  }
  return requests;
}

}  // namespace

TEST(exchange_queue, a_write_behind_a_poll_goes_when_the_poll_ends_then_the_table_is_read) {
  for (bool pollConfirmed : {true, false}) {  // a reply, or a time-out
    ExchangeQueue q;
    ASSERT_TRUE(q.PollDue());
    q.PollSent();
    EXPECT_FALSE(q.AddWrite(Requests({10}))) << "the poll is on the line";
    EXPECT_EQ(q.Ended(pollConfirmed), Next::Write);
    EXPECT_EQ(q.TakeWrite().offset, 10);
    EXPECT_EQ(q.OnLine(), Kind::Write);
    EXPECT_FALSE(q.PollDue()) << "no poll while a write is on the line";
    EXPECT_EQ(q.Ended(true), Next::Poll) << "read back at once";
    EXPECT_EQ(q.OnLine(), Kind::None);
    EXPECT_EQ(q.Ended(true), Next::Nothing) << "once";
  }
}

// A poll never goes on top of an exchange awaiting its reply: it waits, and goes once however
// often it fell due; polling stopped meanwhile, it does not go.
TEST(exchange_queue, a_poll_due_during_a_poll_waits_for_it) {
  for (bool confirmed : {true, false}) {
    ExchangeQueue q;
    ASSERT_TRUE(q.PollDue());
    q.PollSent();
    EXPECT_FALSE(q.PollDue()) << "the reply is still awaited";
    EXPECT_FALSE(q.PollDue());
    EXPECT_EQ(q.OnLine(), Kind::Poll);
    EXPECT_EQ(q.Ended(confirmed), Next::Poll) << "right after it, once";
    ASSERT_TRUE(q.PollDue());
    q.PollSent();
    EXPECT_EQ(q.Ended(confirmed), Next::Nothing);
  }
  ExchangeQueue q;
  q.PollDue();
  q.PollSent();
  EXPECT_FALSE(q.PollDue());
  q.ForgetPoll();
  EXPECT_EQ(q.Ended(false), Next::Nothing) << "polling stopped: the waiting poll is forgotten";
}

TEST(exchange_queue, writes_in_turn_and_what_a_failure_drops) {
  ExchangeQueue q;
  ASSERT_TRUE(q.AddWrite(Requests({1, 20})));  // one write of two runs
  EXPECT_FALSE(q.AddWrite(Requests({5})));
  EXPECT_EQ(q.TakeWrite().offset, 1);
  EXPECT_EQ(q.Ended(false), Next::Write) << "the rest of the first write is dropped, the second goes";
  EXPECT_EQ(q.TakeWrite().offset, 5);
  EXPECT_EQ(q.Ended(false), Next::Nothing) << "nothing confirmed, no poll due: nothing to read back";

  ASSERT_TRUE(q.AddWrite(Requests({1, 20})));
  q.TakeWrite();
  EXPECT_EQ(q.Ended(true), Next::Write);
  EXPECT_EQ(q.TakeWrite().offset, 20);
  EXPECT_EQ(q.Ended(false), Next::Poll) << "the first run was written: show it";

  // A poll that fell due during a failed write still comes.
  ASSERT_TRUE(q.AddWrite(Requests({3})));
  q.TakeWrite();
  EXPECT_FALSE(q.PollDue());
  EXPECT_EQ(q.Ended(false), Next::Poll);
  EXPECT_FALSE(q.AddWrite({})) << "an empty write is no write";
  EXPECT_FALSE(q.WritesWaiting());
}

TEST(exchange_queue, a_lost_line_drops_the_waiting_writes) {
  ExchangeQueue q;
  ASSERT_TRUE(q.AddWrite(Requests({1})));
  q.AddWrite(Requests({2}));
  q.AddWrite(Requests({3}));
  q.TakeWrite();
  EXPECT_FALSE(q.PollDue());
  EXPECT_EQ(q.Drop(), 2) << "the one on the line failed; two never went";
  EXPECT_EQ(q.OnLine(), Kind::None);
  EXPECT_TRUE(q.PollDue());
  EXPECT_EQ(q.Ended(false), Next::Nothing) << "no read-back owed";
}

// The Write dialog's logic over a table of registers 1 to 4 (holding 1, 2, 3, 4).
TEST(write_plan, formats_items_and_requests_for_the_rows_chosen) {
  ResponseTable table;
  table.function = 3;
  table.firstOffset = 9;
  for (int i = 0; i < 4; ++i) {
    table.rows.push_back({"Write", std::to_string(9 + i), std::to_string(40009 + i), std::to_string(400009 + i)});
    table.values.push_back(static_cast<std::uint16_t>(i + 1));
  }
  const WriteTarget one = MakeWriteTarget(table, {1}, 17);
  EXPECT_EQ(DescribeTarget(one), "Holding register at offset 10 (40010, 400010)");
  EXPECT_EQ(FormatsFor(one).size(), 3u) << "no 32-bit formats for one register";
  EXPECT_EQ(CurrentValue(one, WriteFormat::Hex, 0), "0x0002");

  const WriteTarget pair = MakeWriteTarget(table, {3, 2, 2, 7}, 17);  // order, repeats and rows past the end
  EXPECT_EQ(pair.offsets, (std::vector<int>{11, 12}));
  EXPECT_EQ(FormatsFor(pair).back(), WriteFormat::Float32);
  EXPECT_EQ(ItemCount(pair, WriteFormat::Float32), 1);
  EXPECT_EQ(ItemLabel(pair, WriteFormat::Float32, 0), "Offsets 11-12 (40011, 400011)");
  EXPECT_EQ(CurrentValue(pair, WriteFormat::Uint32, 0), std::to_string(4 << 16 | 3)) << "low-order word first";
  EXPECT_EQ(FormatsFor(MakeWriteTarget(table, {1, 2}, 17)).size(), 3u) << "rows 1-2 straddle two pairs";

  auto plan = PlanWrite(pair, WriteFormat::Float32, {"3.5"}, false);
  ASSERT_EQ(plan.requests.size(), 1u) << plan.error;
  EXPECT_EQ(plan.requests[0].function, 16);
  EXPECT_EQ(plan.requests[0].offset, 11);
  EXPECT_EQ(plan.requests[0].count, 2);

  const WriteTarget gaps = MakeWriteTarget(table, {0, 1, 3}, 17);
  EXPECT_EQ(DescribeTarget(gaps), "3 holding registers at offsets 9, 10, 12");
  plan = PlanWrite(gaps, WriteFormat::Uint16, {"5", "6", "7"}, false);
  ASSERT_EQ(plan.requests.size(), 2u) << "one request per consecutive run";
  EXPECT_EQ(plan.requests[0].function, 16);
  EXPECT_EQ(plan.requests[1].function, 6);
  EXPECT_EQ(PlanWrite(gaps, WriteFormat::Uint16, {"5"}, true).requests.back().function, 16);

  plan = PlanWrite(gaps, WriteFormat::Uint16, {"5", "70000", "7"}, false);
  EXPECT_TRUE(plan.requests.empty());
  EXPECT_EQ(plan.badItem, 1);
  EXPECT_EQ(plan.error, "Offset 10 (40010, 400010): 70000 is out of range for uint16: enter a whole number from 0 to 65535.");

  EXPECT_EQ(DescribeTarget(MakeWriteTarget(table, {0, 1, 2, 3}, 17)),
            "4 holding registers, offsets 9 to 12 (40009 to 40012)");
}

// Before a write is sent, the dialog says what goes where: the addresses, the registers in
// the table's word order, and the function.
TEST(write_plan, describes_what_goes_where) {
  ResponseTable registers;
  registers.function = 3;
  registers.firstOffset = 9;
  ResponseTable coils;
  coils.function = 1;
  coils.firstOffset = 9;
  for (int i = 0; i < 10; ++i) {
    registers.rows.push_back({"Write", std::to_string(9 + i), std::to_string(40009 + i), std::to_string(400009 + i)});
    registers.values.push_back(0);
    char address[8];
    std::snprintf(address, sizeof address, "%05d", 9 + i);
    coils.rows.push_back({"Write", std::to_string(9 + i), address, "0" + std::string(address)});
    coils.values.push_back(0);
  }
  struct Case {
    const ResponseTable& table;
    std::vector<int> rows;
    WordOrder order;
    WriteFormat format;
    std::vector<std::string> values;
    const char* text;
  };
  const Case cases[] = {
      {registers, {2, 3}, WordOrder::HighFirst, WriteFormat::Float32, {"3.5"},
       "Writes 40011 = 0x4060, 40012 = 0x0000 (float32, high word first) with function 16"},
      {registers, {2, 3}, WordOrder::LowFirst, WriteFormat::Float32, {"3.5"},
       "Writes 40011 = 0x0000, 40012 = 0x4060 (float32, low word first) with function 16"},
      {registers, {2, 3}, WordOrder::HighFirstSwapped, WriteFormat::Uint32, {"16909060"},
       "Writes 40011 = 0x0201, 40012 = 0x0403 (uint32, high word first, bytes swapped) with function 16"},
      {registers, {0, 1, 3}, WordOrder::HighFirst, WriteFormat::Uint16, {"5", "6", "7"},
       "Writes 40009 = 0x0005, 40010 = 0x0006, 40012 = 0x0007 in 2 requests, functions 16 and 06"},
      {registers, {4}, WordOrder::LowFirst, WriteFormat::Int16, {"-2"}, "Writes 40013 = 0xFFFE with function 06"},
      {coils, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, WordOrder::LowFirst, WriteFormat::Coil, {"1"},
       "Writes 00009 = On, 00010 = On, 00011 = On, 00012 = On, 00013 = On, 00014 = On, 00015 = On, 00016 = On, "
       "... (10 coils) with function 15"},
      {registers, {4}, WordOrder::LowFirst, WriteFormat::Uint16, {"70000"}, ""},  // refused: nothing to say
  };
  for (const Case& c : cases) {
    const WriteTarget target = MakeWriteTarget(c.table, c.rows, 17, c.order);
    EXPECT_EQ(DescribePlan(target, c.format, PlanWrite(target, c.format, c.values, false)), c.text) << c.text;
  }
}
