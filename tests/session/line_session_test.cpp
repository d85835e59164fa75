// The line session on a simulated line and a fake clock: what goes on the line when, its
// counters, time-outs and failure policies, writes cutting in, a line lost and found again.
#include "session/LineSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>

#include "session/WritePlan.h"

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

// A device on a line whose exchanges take a set time: each request's whole reply arrives
// that long after the request was written. Slave 1 answers reads (register = its address,
// coils 1 0 1 0 ...) and echoes writes; offsets from 9021 on it leaves unanswered.
class SimLink final : public Link {
 public:
  explicit SimLink(const TimePoint& now) : now_(now) {}

  int exchangeMs = 20;
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
  static std::vector<std::uint8_t> Answer(const std::vector<std::uint8_t>& r) {
    if (r.size() < 8 || r[0] != 1) return {};
    const int function = r[1];
    const int address = r[2] << 8 | r[3];
    const int quantity = r[4] << 8 | r[5];
    if (address >= 9020) return {};
    std::vector<std::uint8_t> reply{r[0], r[1]};
    if (function == 3 || function == 4) {
      reply.push_back(static_cast<std::uint8_t>(2 * quantity));
      for (int i = 0; i < quantity; ++i) {
        reply.push_back(static_cast<std::uint8_t>((address + i) >> 8));
        reply.push_back(static_cast<std::uint8_t>(address + i));
      }
    } else if (function == 1 || function == 2) {
      reply.push_back(static_cast<std::uint8_t>((quantity + 7) / 8));
      reply.insert(reply.end(), (quantity + 7) / 8, 0x55);
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
  int FinishConnect() override { return 0; }
  int ConnectError() const override { return ECONNREFUSED; }

 private:
  ModbusMaster master_;
};

struct Recorder final : LineObserver {
  std::vector<std::string> log;
  std::vector<std::pair<int, TimePoint>> replies;
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
  void OnPollFailed(int poll, const LineFailure& f) override {
    failures.emplace_back(poll, f);
    if (f.explain) boxes.push_back(f.text);
  }
  void OnWriteConfirmed(int, const WriteFrame&) override { ++writesConfirmed; }
  void OnWriteFailed(int poll, const WriteFrame&, const LineFailure& f) override {
    writeFailures.push_back(f.text);
    writeFailurePolls.push_back(poll);
  }
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
