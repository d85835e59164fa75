// The line session on a simulated line and a fake clock: what goes on the line when, its
// counters, time-outs and failure policies, writes cutting in, a line lost and found again.
#include "session/LineSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <utility>

#include "session/WritePlan.h"
#include "support/Hex.h"

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

// A device on a line whose exchanges take a set time: each request's whole reply arrives
// that long after the request was written. Slave 1 answers reads (register = its address,
// coil = 1 at even addresses) and echoes writes; offsets from 9021 on it leaves unanswered,
// and a read over an address it lacks it refuses with exception 02.
class SimLink final : public Link {
 public:
  explicit SimLink(const TimePoint& now) : now_(now) {}

  int exchangeMs = 20;
  std::set<int> missing;  // addresses as the frame carries them, in every table
  bool open = false;
  bool lost = false;  // the device went away: nothing is read or written any more
  struct Sent {
    TimePoint at;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Sent> sent;

  int IsOpen() const override { return open ? 1 : 0; }
  int Close() override {
    open = false;
    arriving_.clear();
    return 1;
  }
  int Write(const std::uint8_t* bytes, int count) override {
    if (!open || lost) return 0;
    sent.push_back({now_, {bytes, bytes + count}});
    std::vector<std::uint8_t> reply = Answer(sent.back().bytes);
    if (!reply.empty()) arriving_.push_back({now_ + std::chrono::milliseconds(exchangeMs), std::move(reply)});
    return count;
  }
  int Read(std::uint8_t* buffer, int capacity) override {
    if (lost) return 0;
    int n = 0;
    while (!arriving_.empty() && arriving_.front().first <= now_ && n < capacity) {
      std::vector<std::uint8_t>& bytes = arriving_.front().second;
      const int take = std::min(capacity - n, static_cast<int>(bytes.size()));
      std::copy(bytes.begin(), bytes.begin() + take, buffer + n);
      bytes.erase(bytes.begin(), bytes.begin() + take);
      n += take;
      if (bytes.empty()) arriving_.erase(arriving_.begin());
    }
    return n;
  }
  int WaitReadable(int) override { return 0; }
  void DiscardInput() override {
    while (!arriving_.empty() && arriving_.front().first <= now_) arriving_.erase(arriving_.begin());
  }
  int QuietGapMs() const override { return 1; }
  int Handle() const override { return open ? 7 : -1; }
  const std::string& Device() const override { return device_; }
  int LastError() const override { return lost ? EIO : 0; }
  bool DeviceLost() const override { return lost; }

  TimePoint NextArrival() const { return arriving_.empty() ? TimePoint::max() : arriving_.front().first; }

 private:
  std::vector<std::uint8_t> Answer(const std::vector<std::uint8_t>& r) const {
    if (r.size() < 8 || r[0] != 1) return {};
    const int function = r[1];
    const int address = r[2] << 8 | r[3];
    const int quantity = r[4] << 8 | r[5];
    if (address >= 9020) return {};
    std::vector<std::uint8_t> reply{r[0], r[1]};
    const bool read = function >= 1 && function <= 4;
    if (read && missing.lower_bound(address) != missing.lower_bound(address + quantity)) {
      reply[1] |= 0x80;
      reply.push_back(2);
    } else if (function == 3 || function == 4) {
      reply.push_back(static_cast<std::uint8_t>(2 * quantity));
      for (int i = 0; i < quantity; ++i) {
        reply.push_back(static_cast<std::uint8_t>((address + i) >> 8));
        reply.push_back(static_cast<std::uint8_t>(address + i));
      }
    } else if (function == 1 || function == 2) {
      reply.push_back(static_cast<std::uint8_t>((quantity + 7) / 8));
      reply.insert(reply.end(), (quantity + 7) / 8, 0);
      for (int i = 0; i < quantity; ++i) {
        if ((address + i) % 2 == 0) reply[3 + i / 8] |= static_cast<std::uint8_t>(1 << i % 8);
      }
    } else {
      reply.assign(r.begin(), r.begin() + 6);  // a write's echo
    }
    const std::uint16_t crc = Crc16(reply.data(), static_cast<std::uint16_t>(reply.size()));
    reply.push_back(static_cast<std::uint8_t>(crc >> 8));
    reply.push_back(static_cast<std::uint8_t>(crc));
    return reply;
  }

  const TimePoint& now_;
  std::vector<std::pair<TimePoint, std::vector<std::uint8_t>>> arriving_;
  std::string device_ = "/dev/ttySIM";
};

class FakeLine final : public LineLinks {
 public:
  explicit FakeLine(const TimePoint& now) : link(now), master_(link) {}
  SimLink link;
  bool openFails = false;
  int opens = 0;

  ModbusMaster& master() override { return master_; }
  const ModbusMaster& master() const override { return master_; }
  void SetMode(ModbusMode mode) override { master_.SetMode(mode); }
  int OpenSerial(const LineConnection&) override {
    ++opens;
    if (openFails) return 0;
    link.open = true;
    link.lost = false;
    return 1;
  }
  bool SetRs485() override { return true; }
  void StartConnect(const std::string&, int, int) override {}
  int ConnectHandle() const override { return -1; }
  int WaitConnect(int) override { return 1; }  // the outcome, a refusal, is there at once
  int FinishConnect() override { return 0; }
  int ConnectError() const override { return ECONNREFUSED; }

 private:
  ModbusMaster master_;
};

struct Recorder final : LineObserver {
  std::vector<std::string> log;
  std::vector<std::pair<int, TimePoint>> replies;
  std::vector<std::pair<TimePoint, MapReading>> mapValues;
  int attempts = 0;
  std::vector<std::pair<int, LineFailure>> failures;
  std::vector<std::string> writeFailures;
  std::vector<int> writeFailurePolls;
  int writesConfirmed = 0;
  int lost = 0;
  int opened = 0;
  std::vector<std::string> boxes;
  const TimePoint* now = nullptr;

  void OnLog(int poll, const std::string& text) override { log.push_back(std::to_string(poll) + " " + text); }
  void OnReply(int poll, const ModbusMaster&) override { replies.emplace_back(poll, *now); }
  void OnMapValues(int, const MapReading& reading) override { mapValues.emplace_back(*now, reading); }
  void OnPollAttempt(int) override { ++attempts; }
  void OnPollFailed(int poll, const LineFailure& f) override {
    failures.emplace_back(poll, f);
    if (f.explain) boxes.push_back(f.text);
  }
  void OnWriteConfirmed(int, const WriteFrame&) override { ++writesConfirmed; }
  void OnWriteFailed(int poll, const WriteFrame&, const LineFailure& f) override {
    writeFailures.push_back(f.text);
    writeFailurePolls.push_back(poll);
  }
  std::vector<std::pair<TimePoint, PduOutcome>> pdus;
  void OnPduDone(const PduOutcome& outcome) override { pdus.emplace_back(*now, outcome); }
  void OnLineOpen() override { ++opened; }
  void OnLineLost() override { ++lost; }
  void OnConnectFailed(const std::string& text) override { boxes.push_back(text); }
  int Count(const std::string& part) const {
    return static_cast<int>(std::count_if(log.begin(), log.end(),
                                          [&](const std::string& l) { return l.find(part) != std::string::npos; }));
  }
};

class LineSessionTest : public ::testing::Test {
 protected:
  LineSessionTest() : line_(now_), session_(line_, rec_, [this] { return now_; }) {
    rec_.now = &now_;
    LineConnection c;
    c.timeoutMs = 1000;
    session_.SetConnection(c);
    EXPECT_EQ(session_.Connect(), LineSession::OpenResult::Open);
  }

  static PollDefinition Holding(int periodMs, int offset = 1, int length = 2) {
    PollDefinition d;
    d.slaveId = 1;
    d.function = 3;
    d.offset = offset;
    d.length = length;
    d.periodMs = periodMs;
    return d;
  }
  long long Ms(TimePoint t) const { return std::chrono::duration_cast<std::chrono::milliseconds>(t - start_).count(); }
  // The driver's loop: wakes the session when it asks to be, and when a reply's bytes are
  // there, until the time given.
  void RunUntil(long long ms) {
    const TimePoint end = start_ + std::chrono::milliseconds(ms);
    for (int guard = 0; guard < 1000000; ++guard) {
      const TimePoint bytes = session_.WatchHandle() >= 0 ? line_.link.NextArrival() : TimePoint::max();
      const TimePoint next = std::min(session_.NextWake(), bytes);
      if (next > end) break;
      now_ = std::max(now_, next);
      if (bytes <= now_) {
        session_.LinkReadable();
      } else {
        session_.TimePassed();
      }
    }
    now_ = std::max(now_, end);
  }
  // The requests sent, as (ms since start, the first offset they read or write).
  std::vector<std::pair<long long, int>> Sends() const {
    std::vector<std::pair<long long, int>> out;
    for (const auto& s : line_.link.sent) out.emplace_back(Ms(s.at), (s.bytes[2] << 8 | s.bytes[3]) + 1);
    return out;
  }
  // The requests sent, as "03 @1 x3": the function, the first offset, and the quantity (a
  // single write's value).
  std::vector<std::string> Requests(std::size_t from = 0) const {
    std::vector<std::string> out;
    for (std::size_t i = from; i < line_.link.sent.size(); ++i) {
      const std::vector<std::uint8_t>& b = line_.link.sent[i].bytes;
      char text[32];
      std::snprintf(text, sizeof text, "%02d @%d x%d", b[1], (b[2] << 8 | b[3]) + 1, b[4] << 8 | b[5]);
      out.emplace_back(text);
    }
    return out;
  }
  void ExpectCountersAddUp() const {
    const PollStatistics& s = session_.LineStatistics();
    EXPECT_EQ(s.polls() + s.writes(), s.replies() + s.writesConfirmed() + s.timeouts() + s.crcLrcErrors() +
                                          s.exceptions() + s.otherErrors() + (session_.AwaitingReply() ? 1 : 0))
        << s.StatusLine();
  }

  TimePoint now_ = TimePoint{} + 1h;
  const TimePoint start_ = now_;
  FakeLine line_;
  Recorder rec_;
  LineSession session_;
};

}  // namespace

// Three definitions at 100, 250 and 1000 ms on a line whose exchanges take 20 ms: each due
// poll goes as soon as the line is free, the most overdue first (ties in definition order),
// and its next is due a period after its send.
TEST_F(LineSessionTest, three_definitions_go_most_overdue_first) {
  const int a = session_.Add(Holding(100, 1));
  const int b = session_.Add(Holding(250, 101));
  const int c = session_.Add(Holding(1000, 201));
  RunUntil(9999);
  const std::vector<std::pair<long long, int>> first{{100, 1},  {200, 1},  {250, 101}, {300, 1},   {400, 1},
                                                     {500, 1},  {520, 101}, {600, 1},  {700, 1},   {770, 101},
                                                     {800, 1},  {900, 1},  {1000, 1},  {1020, 201}, {1040, 101}};
  const auto sends = Sends();
  ASSERT_GE(sends.size(), first.size());
  EXPECT_EQ(std::vector(sends.begin(), sends.begin() + static_cast<long>(first.size())), first);
  std::map<int, int> counts;
  for (std::size_t i = 0; i < sends.size(); ++i) {
    ++counts[sends[i].second];
    if (i > 0) {
      EXPECT_GE(sends[i].first, sends[i - 1].first + 20) << "one exchange at a time";
    }
  }
  EXPECT_EQ(counts, (std::map<int, int>{{1, 99}, {101, 39}, {201, 9}}));
  EXPECT_EQ(session_.Statistics(a).polls(), 99);
  EXPECT_EQ(session_.Statistics(b).polls(), 39);
  EXPECT_EQ(session_.Statistics(c).polls(), 9);
  EXPECT_EQ(session_.LineStatistics().replies() + (session_.AwaitingReply() ? 1 : 0), 147);
  ExpectCountersAddUp();
}

// More than the line can carry: ten definitions each due every 50 ms, exchanges of 20 ms.
// Each due definition is served before any is served twice.
TEST_F(LineSessionTest, a_saturated_line_serves_every_definition_in_turn) {
  for (int i = 0; i < 10; ++i) session_.Add(Holding(50, 1 + 10 * i));
  RunUntil(10000);
  const auto sends = Sends();
  for (std::size_t i = 0; i < sends.size(); ++i) {
    EXPECT_EQ(sends[i].second, 1 + 10 * static_cast<int>(i % 10)) << "send " << i;
  }
  EXPECT_GE(sends.size(), 495u) << "back to back, at the line's pace";
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(session_.Statistics(i).polls(), 50, 1);
}

// A write goes right after the exchange on the line, before any poll due, and its
// definition is read again right after it; a write that fails names itself and polling goes
// on.
TEST_F(LineSessionTest, a_write_cuts_in_and_its_definition_is_read_back) {
  const int a = session_.Add(Holding(100, 1));
  const int b = session_.Add(Holding(100, 51));
  RunUntil(105);  // a's poll is on the line
  ASSERT_TRUE(session_.OnLine(a));
  std::string error;
  session_.Write(b, FrameWrites(1, false, 60, {7}, false, 1, error));
  session_.Write(b, FrameWrites(1, false, 9030, {8}, false, 1, error));  // left unanswered
  RunUntil(1700);
  const auto sends = Sends();
  ASSERT_GE(sends.size(), 5u);
  EXPECT_EQ(sends[0], std::make_pair(100LL, 1));
  EXPECT_EQ(sends[1], std::make_pair(120LL, 60)) << "the write, right after a's poll";
  EXPECT_EQ(sends[2], std::make_pair(140LL, 9030)) << "the next write";
  EXPECT_EQ(sends[3], std::make_pair(1141LL, 51))
      << "after its time-out (1 s, counted at the next call), b's poll, overdue since 100";
  EXPECT_EQ(sends[4].second, 1);
  EXPECT_EQ(rec_.writesConfirmed, 1);
  ASSERT_EQ(rec_.writeFailures.size(), 1u);
  EXPECT_EQ(rec_.writeFailures[0].rfind("Write of 1 holding register at offset 9030 (49030) with function 06: 8\n\n"
                                        "Error - Timeout\n",
                                        0),
            0u)
      << rec_.writeFailures[0];
  EXPECT_EQ(rec_.writeFailurePolls, std::vector<int>{b}) << "told as the write of the definition that asked for it";
  EXPECT_EQ(session_.Definition(b).periodMs, 100) << "a failed write does not stop the polls";
  EXPECT_EQ(session_.Statistics(b).writes(), 2);
  EXPECT_EQ(session_.Statistics(b).timeouts(), 1);
  EXPECT_EQ(rec_.Count("The write waits until the exchange on the line is over"), 2);
  ExpectCountersAddUp();
}

// The reply wait, counted at each call as the time since the send, times out at the first
// call after one that found it past the time-out: on the window's 100 ms tick, the time-out
// comes on the second tick for a time-out of 0 and on the twelfth for 1000 ms.
TEST_F(LineSessionTest, the_time_out_on_a_100_ms_tick) {
  for (const auto& [timeoutMs, ticks] : std::vector<std::pair<int, int>>{{0, 2}, {1000, 12}, {-5, 1}}) {
    LineConnection c = session_.connection();
    c.timeoutMs = timeoutMs;
    session_.SetConnection(c);
    session_.Connect();
    const int p = session_.Add(Holding(0, 9021));
    session_.Start(p);
    ASSERT_TRUE(session_.OnLine(p));
    int tick = 0;
    while (rec_.failures.empty() && tick < 50) {
      now_ += 100ms;
      ++tick;
      session_.TimePassed();
      if (rec_.failures.empty() && tick == 1 && timeoutMs >= 0) {
        EXPECT_EQ(session_.ReplyWaitMs(), 100u);
      }
    }
    EXPECT_EQ(tick, ticks) << "time-out " << timeoutMs;
    ASSERT_EQ(rec_.failures.size(), 1u);
    EXPECT_EQ(rec_.failures[0].second.cls, ExchangeClass::Timeout);
    rec_.failures.clear();
    session_.Remove(p);
  }
}

// Stop and explain: polling of that definition falls back to once before its failure is
// told, so nothing of it polls while a box is up; the others go on. Keep polling: the
// failure is counted and polling goes on at the period.
TEST_F(LineSessionTest, failure_policies) {
  LineConnection c = session_.connection();
  c.timeoutMs = 300;
  session_.SetConnection(c);
  session_.Connect();
  PollDefinition silent = Holding(250, 9021);
  const int stop = session_.Add(silent);
  silent.policy = FailurePolicy::KeepPolling;
  silent.offset = 9025;
  const int keep = session_.Add(silent);
  const int good = session_.Add(Holding(500, 1));
  RunUntil(5000);
  int stopFailures = 0;
  for (const auto& [poll, f] : rec_.failures) {
    if (poll == stop) {
      ++stopFailures;
      EXPECT_TRUE(f.explain);
    } else {
      EXPECT_EQ(poll, keep);
      EXPECT_FALSE(f.explain);
    }
  }
  EXPECT_EQ(stopFailures, 1) << "one failure, one box";
  EXPECT_EQ(rec_.boxes.size(), 1u);
  EXPECT_EQ(session_.Definition(stop).periodMs, 0) << "back to once";
  EXPECT_EQ(session_.Statistics(stop).polls(), 1);
  EXPECT_GE(session_.Statistics(keep).timeouts(), 3) << "polling goes on";
  EXPECT_EQ(session_.Definition(keep).periodMs, 250);
  EXPECT_GE(session_.Statistics(good).replies(), 6);
  EXPECT_EQ(rec_.Count("Failed: Error - Timeout; received: nothing"), static_cast<int>(rec_.failures.size()));
  ExpectCountersAddUp();
}

// Stop pauses a definition (its exchange on the line given up, its period kept); Start polls
// it now and goes on at its period. The others poll on meanwhile.
TEST_F(LineSessionTest, stop_pauses_and_start_goes_on) {
  const int a = session_.Add(Holding(100, 1));
  const int b = session_.Add(Holding(100, 51));
  RunUntil(105);
  ASSERT_TRUE(session_.OnLine(a));
  session_.Stop(a);
  EXPECT_TRUE(session_.Stopped(a));
  EXPECT_FALSE(session_.OnLine(a)) << "its reply is given up at once";
  const std::int64_t aPolls = session_.Statistics(a).polls();
  RunUntil(1000);
  EXPECT_EQ(session_.Statistics(a).polls(), aPolls);
  EXPECT_EQ(session_.Statistics(a).otherErrors(), 1) << "the reply given up";
  EXPECT_GE(session_.Statistics(b).replies(), 8);
  EXPECT_EQ(session_.Definition(a).periodMs, 100) << "a pause keeps the period";
  session_.Start(a);
  RunUntil(1500);
  EXPECT_GE(session_.Statistics(a).replies(), 5) << "Start goes on at the period";
  EXPECT_EQ(rec_.Count("Polling stopped"), 1);
  EXPECT_EQ(rec_.Count("Polling resumed"), 1);
  ExpectCountersAddUp();
}

// The device goes away: the line is let go with one log line, each due poll looks for it
// once (counted, without another line), and once it is back, one line says so and the polls
// go on.
TEST_F(LineSessionTest, a_lost_line_is_looked_for_once_per_due_poll) {
  const int a = session_.Add(Holding(100, 1));
  RunUntil(350);
  ASSERT_EQ(rec_.replies.size(), 3u);
  line_.link.lost = true;
  line_.openFails = true;
  RunUntil(1000);
  EXPECT_EQ(rec_.Count("has gone away"), 1) << "said once, as it went";
  EXPECT_GE(rec_.lost, 1);
  const int attempts = line_.opens - 1;  // the first opened the line at the start
  EXPECT_EQ(attempts, 6) << "once per due poll, 500 to 1000 ms";
  EXPECT_EQ(rec_.Count("Failed: "), 0) << "the attempts show in the counters only";
  EXPECT_EQ(session_.Statistics(a).otherErrors(), attempts + 1) << "the poll that found it gone, and each attempt";
  EXPECT_TRUE(rec_.boxes.empty());
  line_.openFails = false;
  RunUntil(1500);
  EXPECT_EQ(rec_.Count("Connected to serial port"), 2) << "at the start, and once back";
  EXPECT_GE(rec_.replies.size(), 7u);
  EXPECT_EQ(session_.Definition(a).periodMs, 100);
  ExpectCountersAddUp();
}

// A write that is not confirmed drops the rest of its requests, and nothing of it is read
// back; a line that goes drops the writes still waiting, and says how many.
TEST_F(LineSessionTest, what_a_failed_write_and_a_lost_line_drop) {
  const int a = session_.Add(Holding(0, 1));
  std::string error;
  const std::vector<WriteFrame> long_write = FrameWrites(1, false, 9030, std::vector<std::uint16_t>(200, 5), false, 1, error);
  ASSERT_EQ(long_write.size(), 2u) << "123 registers, then 77";
  session_.Write(a, long_write);
  RunUntil(2000);
  ASSERT_EQ(line_.link.sent.size(), 1u) << "the second request of a write not confirmed is not sent, nor a read-back";
  EXPECT_EQ(rec_.writeFailures.size(), 1u);

  session_.Start(a);
  ASSERT_TRUE(session_.OnLine(a));
  for (int offset : {10, 20, 30}) session_.Write(a, FrameWrites(1, false, offset, {1}, false, 1, error));
  line_.link.lost = true;
  line_.openFails = true;
  RunUntil(2100);
  EXPECT_EQ(rec_.Count("Writes not sent, the line having gone: 3"), 1);
  EXPECT_EQ(line_.link.sent.size(), 2u);
  ExpectCountersAddUp();
}

// --- reading by map ---------------------------------------------------------------------

namespace {

MapItem Mapped(const std::string& name, MapTable table, int address, MapType type = MapType::Uint16) {
  MapItem item;
  item.name = name;
  item.table = table;
  item.address = address;
  item.type = type;
  return item;
}

PollDefinition ByMap(int periodMs, std::vector<MapItem> items, int mergeGap = kDefaultMergeGap) {
  PollDefinition d;
  d.slaveId = 1;
  d.periodMs = periodMs;
  d.byMap = true;
  d.mergeGap = mergeGap;
  d.map.items = std::move(items);
  return d;
}

using Raw = std::vector<std::vector<std::uint16_t>>;

// Two coils, holding registers in a run and one far off, an input register pair, and a bit
// of a register another item reads too.
std::vector<MapItem> MeterItems() {
  return {Mapped("level", MapTable::Holding, 1),          Mapped("flow", MapTable::Holding, 2, MapType::Uint32),
          Mapped("alarm", MapTable::Coil, 3, MapType::Bool), Mapped("pump", MapTable::Coil, 4, MapType::Bool),
          Mapped("temp", MapTable::Input, 5, MapType::Float32), Mapped("far", MapTable::Holding, 30),
          Mapped("status", MapTable::Holding, 3, MapType::Bit)};
}

}  // namespace

// One poll is a cycle: the plan's requests one after another, each an exchange counted as a
// poll; the values of every item come once, when the last is answered, and OnReply never.
TEST_F(LineSessionTest, a_cycle_reads_the_plan_and_gives_each_items_values) {
  const int p = session_.Add(ByMap(0, MeterItems()));
  session_.Start(p);
  RunUntil(1000);
  EXPECT_EQ(Requests(), (std::vector<std::string>{"01 @3 x2", "03 @1 x3", "03 @30 x1", "04 @5 x2"}));
  ASSERT_FALSE(line_.link.sent.empty());
  EXPECT_EQ(test::HexOf(line_.link.sent[0].bytes), "01 01 00 02 00 02 1C 0B");
  EXPECT_EQ(Sends()[3].first, 60) << "back to back";
  ASSERT_EQ(rec_.mapValues.size(), 1u);
  EXPECT_EQ(Ms(rec_.mapValues[0].first), 80) << "when the last reply is in";
  // Registers hold their address as the frame carries it; coils are 1 at even addresses.
  EXPECT_EQ(rec_.mapValues[0].second.raw, (Raw{{0}, {1, 2}, {1}, {0}, {4, 5}, {29}, {2}}));
  EXPECT_TRUE(rec_.replies.empty());
  EXPECT_EQ(rec_.attempts, 1) << "one poll of the definition";
  EXPECT_EQ(session_.Statistics(p).polls(), 4);
  EXPECT_EQ(session_.Statistics(p).replies(), 4);
  EXPECT_EQ(session_.LineStatistics().polls(), 4);
  EXPECT_EQ(rec_.Count("Sending request to device: 3 holding registers from offset 1 (level, flow, status)"), 1);
  EXPECT_FALSE(session_.InCycle(p));
  ExpectCountersAddUp();
}

// A write goes between two requests of a cycle, which then goes on; once confirmed, its
// definition is read again, by a whole cycle after the one under way.
TEST_F(LineSessionTest, a_write_cuts_in_between_the_requests_of_a_cycle) {
  const int p = session_.Add(ByMap(0, MeterItems()));
  session_.Start(p);
  RunUntil(5);
  ASSERT_TRUE(session_.InCycle(p));
  std::string error;
  session_.Write(p, FrameWrites(1, false, 60, {7}, false, 1, error));
  RunUntil(1000);
  EXPECT_EQ(Requests(), (std::vector<std::string>{"01 @3 x2", "06 @60 x7", "03 @1 x3", "03 @30 x1", "04 @5 x2",
                                                   "01 @3 x2", "03 @1 x3", "03 @30 x1", "04 @5 x2"}));
  ASSERT_EQ(rec_.mapValues.size(), 2u);
  EXPECT_EQ(Ms(rec_.mapValues[0].first), 100);
  EXPECT_EQ(rec_.mapValues[0].second.raw, rec_.mapValues[1].second.raw);
  EXPECT_EQ(rec_.writesConfirmed, 1);
  EXPECT_TRUE(rec_.failures.empty());
  ExpectCountersAddUp();
}

// A cycle is one serving: an ordinary definition due meanwhile waits until it ends, and is
// then served before the next cycle, so on a full line the two take turns.
TEST_F(LineSessionTest, a_cycle_counts_as_one_serving) {
  const int m = session_.Add(ByMap(50, {Mapped("a", MapTable::Holding, 1), Mapped("b", MapTable::Holding, 20),
                                        Mapped("c", MapTable::Holding, 40)}));
  const int o = session_.Add(Holding(50, 101));
  RunUntil(2000);
  const auto sends = Sends();
  ASSERT_GE(sends.size(), 80u);
  for (std::size_t i = 0; i < sends.size(); ++i) {
    EXPECT_EQ(sends[i].second, (std::vector<int>{1, 20, 40, 101})[i % 4]) << "send " << i;
  }
  EXPECT_EQ(sends[0].first, 50);
  EXPECT_EQ(session_.Statistics(o).polls(), static_cast<std::int64_t>(sends.size() / 4));
  EXPECT_EQ(session_.Statistics(m).polls(), static_cast<std::int64_t>(sends.size()) - session_.Statistics(o).polls());
  EXPECT_NEAR(static_cast<double>(rec_.mapValues.size()), static_cast<double>(rec_.replies.size()), 1);
  ExpectCountersAddUp();
}

// A device that refuses a merged read with exception 02: the items of that request are read
// one by one from then on, the cycle goes on with them and ends well; once, one log line.
TEST_F(LineSessionTest, a_refused_merged_read_is_split_into_reads_of_one_item) {
  line_.link.missing = {1};  // offset 2, between a and b
  const int p = session_.Add(ByMap(
      200, {Mapped("a", MapTable::Holding, 1), Mapped("b", MapTable::Holding, 3), Mapped("c", MapTable::Input, 10)}));
  RunUntil(500);
  EXPECT_EQ(Requests(), (std::vector<std::string>{"03 @1 x3", "03 @1 x1", "03 @3 x1", "04 @10 x1",  // the first cycle
                                                   "03 @1 x1", "03 @3 x1", "04 @10 x1"}));
  EXPECT_TRUE(rec_.failures.empty());
  ASSERT_EQ(rec_.mapValues.size(), 2u);
  EXPECT_EQ(Ms(rec_.mapValues[0].first), 280);
  EXPECT_EQ(rec_.mapValues[0].second.raw, (Raw{{0}, {2}, {9}}));
  EXPECT_EQ(rec_.Count("The device refused the merged read of 2 items (3 holding registers from offset 1 (a, b)): "
                       "they are read one by one from now on"),
            1);
  EXPECT_EQ(session_.Statistics(p).exceptions(), 1);
  EXPECT_EQ(session_.Definition(p).periodMs, 200);
  EXPECT_EQ(session_.MapPlan(p).size(), 3u);
  ExpectCountersAddUp();
}

// Exception 02 to a read that is no merged one (one item, or items of the very same
// registers) fails the poll as any exception does, and names the read.
TEST_F(LineSessionTest, exception_02_to_a_read_of_one_item_fails_the_poll) {
  line_.link.missing = {1};
  const std::vector<std::vector<MapItem>> maps = {
      {Mapped("gone", MapTable::Holding, 2)},
      {Mapped("gone", MapTable::Holding, 2, MapType::Uint32), Mapped("twin", MapTable::Holding, 2, MapType::Int32)},
  };
  const char* what[] = {"1 holding register at offset 2 (gone)", "2 holding registers from offset 2 (gone, twin)"};
  for (std::size_t k = 0; k < maps.size(); ++k) {
    rec_.failures.clear();
    const std::size_t sent = line_.link.sent.size();
    const int p = session_.Add(ByMap(100, maps[k]));
    RunUntil(Ms(now_) + 200);
    EXPECT_EQ(line_.link.sent.size() - sent, 1u) << what[k];
    ASSERT_EQ(rec_.failures.size(), 1u) << what[k];
    const LineFailure& f = rec_.failures[0].second;
    EXPECT_EQ(f.cls, ExchangeClass::Exception);
    EXPECT_TRUE(f.explain);
    EXPECT_EQ(f.text.rfind("Read of " + std::string(what[k]) + "\n\n", 0), 0u) << f.text;
    EXPECT_EQ(rec_.Count("Failed: Read of " + std::string(what[k]) + ": "), 1);
    EXPECT_EQ(session_.Definition(p).periodMs, 0);
  }
  EXPECT_TRUE(rec_.mapValues.empty());
  EXPECT_EQ(rec_.Count("refused the merged read"), 0);
}

// A request that times out ends its cycle as a failure of the poll, named in the log, under
// the definition's failure policy: stop and explain, or counted while polling goes on.
TEST_F(LineSessionTest, a_time_out_mid_cycle_fails_the_poll) {
  for (const FailurePolicy policy : {FailurePolicy::StopAndExplain, FailurePolicy::KeepPolling}) {
    rec_.failures.clear();
    // Every 2 s; a cycle that times out (1 s) ends 1.04 s after it started.
    PollDefinition d = ByMap(2000, {Mapped("ok", MapTable::Holding, 1), Mapped("silent", MapTable::Holding, 9021),
                                    Mapped("after", MapTable::Input, 1)});
    d.policy = policy;
    const int p = session_.Add(d);
    RunUntil(Ms(now_) + 5500);
    const bool keep = policy == FailurePolicy::KeepPolling;
    ASSERT_EQ(rec_.failures.size(), keep ? 2u : 1u);
    for (const auto& [poll, f] : rec_.failures) {
      EXPECT_EQ(poll, p);
      EXPECT_EQ(f.cls, ExchangeClass::Timeout);
      EXPECT_EQ(f.explain, !keep);
    }
    const std::int64_t cycles = keep ? 2 : 1;
    EXPECT_EQ(session_.Statistics(p).polls(), 2 * cycles) << "the rest of a failed cycle is not sent";
    EXPECT_EQ(session_.Statistics(p).replies(), cycles);
    EXPECT_EQ(session_.Statistics(p).timeouts(), cycles);
    EXPECT_EQ(session_.Definition(p).periodMs, keep ? 2000 : 0);
    EXPECT_FALSE(session_.InCycle(p));
    session_.Remove(p);
  }
  EXPECT_TRUE(rec_.mapValues.empty());
  EXPECT_EQ(
      rec_.Count("Failed: Read of 1 holding register at offset 9021 (silent): Error - Timeout; received: nothing"), 3);
  const std::vector<std::string> sent = Requests();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "04 @1 x1"), 0);
  ExpectCountersAddUp();
}

// What the device refused is forgotten when the map, the merge gap or the device changes,
// not when the period does; another map mid-cycle ends the cycle without values, and the
// next cycle reads the new map.
TEST_F(LineSessionTest, change_plans_again) {
  line_.link.missing = {1};
  PollDefinition d = ByMap(200, {Mapped("a", MapTable::Holding, 1), Mapped("b", MapTable::Holding, 3)});
  const int p = session_.Add(d);
  RunUntil(300);
  const std::vector<std::string> split{"03 @1 x1", "03 @3 x1"};
  ASSERT_EQ(rec_.mapValues.size(), 1u);
  d.periodMs = 250;
  session_.Change(p, d);
  std::size_t from = line_.link.sent.size();
  RunUntil(600);
  EXPECT_EQ(Requests(from), split) << "a new period keeps the split";

  d.mergeGap = 9;
  session_.Change(p, d);
  from = line_.link.sent.size();
  RunUntil(900);
  EXPECT_EQ(Requests(from), (std::vector<std::string>{"03 @1 x3", "03 @1 x1", "03 @3 x1"}))
      << "merged, then split again";
  EXPECT_EQ(rec_.Count("refused the merged read"), 2);
  EXPECT_TRUE(rec_.failures.empty());

  // Another map while the first request of a cycle is on the line.
  RunUntil(Ms(session_.NextWake()) + 5);
  ASSERT_TRUE(session_.OnLine(p));
  const std::size_t values = rec_.mapValues.size();
  d.map.items = {Mapped("x", MapTable::Input, 7), Mapped("y", MapTable::Input, 8), Mapped("z", MapTable::Coil, 1)};
  session_.Change(p, d);
  EXPECT_FALSE(session_.InCycle(p));
  from = line_.link.sent.size();
  RunUntil(Ms(now_) + 300);
  EXPECT_EQ(Requests(from), (std::vector<std::string>{"01 @1 x1", "04 @7 x2"}));
  ASSERT_EQ(rec_.mapValues.size(), values + 1) << "none for the cycle cut short";
  EXPECT_EQ(rec_.mapValues.back().second.raw, (Raw{{6}, {7}, {1}}));
  EXPECT_TRUE(rec_.failures.empty());
  ExpectCountersAddUp();
}

// Requests of any function share the line with the polls: each goes when the line is free,
// is told with its reply or why it failed, and is not counted in the poll figures. A
// broadcast awaits no reply and keeps the line quiet for the turnaround; a read cannot be
// broadcast.
TEST_F(LineSessionTest, requests_of_any_function_and_broadcasts) {
  const int poll = session_.Add(Holding(2000));
  const auto sentHex = [&](std::size_t i) { return vantrel::test::HexOf(line_.link.sent.at(i).bytes); };

  session_.Send({1, {0x06, 0x00, 0x09, 0x04, 0xD2}, 7});
  session_.Send({0, {0x03, 0x00, 0x00, 0x00, 0x01}, 8});              // a read to everyone: refused
  session_.Send({1, {0x03, 0x23, 0x3C, 0x00, 0x01}, 9});              // address 9020: no answer
  RunUntil(1500);
  ASSERT_EQ(rec_.pdus.size(), 3u);
  const PduOutcome& reply = rec_.pdus[0].second;
  EXPECT_EQ(reply.tag, 7);
  EXPECT_EQ(reply.result, MB_RESPONCE_OK);
  EXPECT_TRUE(reply.sent);
  EXPECT_EQ(vantrel::test::HexOf(reply.replyPdu), "06 00 09 04 D2");
  EXPECT_EQ(vantrel::test::HexOf(reply.request), sentHex(0));
  EXPECT_DOUBLE_EQ(reply.ms, 20.0);
  const PduOutcome& refused = rec_.pdus[1].second;
  EXPECT_EQ(refused.tag, 8);
  EXPECT_FALSE(refused.sent);
  EXPECT_NE(refused.text.find("cannot be broadcast"), std::string::npos) << refused.text;
  ASSERT_EQ(line_.link.sent.size(), 2u);  // the refused one never went
  const PduOutcome& unanswered = rec_.pdus[2].second;
  EXPECT_EQ(unanswered.tag, 9);
  EXPECT_TRUE(unanswered.sent);
  EXPECT_EQ(unanswered.result, MB_RESPONCE_EMPTY);
  EXPECT_NE(unanswered.text.find("too long to respond to the request"), std::string::npos) << unanswered.text;
  EXPECT_GT(unanswered.ms, 1000.0);
  EXPECT_EQ(session_.LineStatistics().polls() + session_.LineStatistics().writes(), 0);

  // A broadcast just before the poll falls due: the poll waits the turnaround.
  RunUntil(2000 - 10);
  const std::size_t before = line_.link.sent.size();
  session_.Send({0, {0x06, 0x00, 0x01, 0x00, 0x03}, 10});
  RunUntil(2200);
  ASSERT_EQ(rec_.pdus.size(), 4u);
  EXPECT_TRUE(rec_.pdus[3].second.broadcast);
  EXPECT_TRUE(rec_.pdus[3].second.sent);
  EXPECT_TRUE(rec_.pdus[3].second.text.empty());
  ASSERT_EQ(line_.link.sent.size(), before + 2);
  EXPECT_EQ(sentHex(before), vantrel::test::HexOf(rec_.pdus[3].second.request));
  EXPECT_EQ(Ms(line_.link.sent[before + 1].at) - Ms(line_.link.sent[before].at), 100);
  EXPECT_EQ(rec_.Count("Broadcast: no device answers; the next request waits 100 ms"), 1);

  // A broadcast write of a definition is done once sent, and not counted as an exchange.
  const PollStatistics figures = session_.LineStatistics();
  WriteFrame w;
  w.function = kWriteSingleRegister;
  w.offset = 2;
  w.count = 1;
  w.bytes = vantrel::test::Bytes("00 06 00 01 00 03 99 DA");
  session_.Write(poll, {w});
  RunUntil(2500);
  EXPECT_EQ(rec_.writesConfirmed, 1);
  EXPECT_EQ(session_.LineStatistics().writes(), figures.writes());
  EXPECT_EQ(rec_.Count("Broadcast: no device answers"), 2);
  ExpectCountersAddUp();
}
