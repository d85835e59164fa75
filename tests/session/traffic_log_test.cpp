// The main window's traffic: what the master reports of its link, and the lines made of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "modbus/Link.h"
#include "modbus/ModbusMaster.h"
#include "session/TrafficLog.h"
#include "support/Hex.h"

using namespace vantrel;
using vantrel::test::Bytes;
using vantrel::test::HexOf;

namespace {

// A link whose replies are scripted: each Read takes the next chunk.
class ScriptedLink final : public Link {
 public:
  std::deque<std::vector<std::uint8_t>> chunks;
  int IsOpen() const override { return 1; }
  int Close() override { return 1; }
  int Write(const std::uint8_t*, int count) override { return count; }
  int Read(std::uint8_t* buffer, int capacity) override {
    if (chunks.empty()) return 0;
    const std::vector<std::uint8_t> c = chunks.front();
    chunks.pop_front();
    const int n = std::min<int>(capacity, static_cast<int>(c.size()));
    std::copy(c.begin(), c.begin() + n, buffer);
    return n;
  }
  int WaitReadable(int) override { return chunks.empty() ? 0 : 1; }
  void DiscardInput() override {}
  int QuietGapMs() const override { return 2; }
  int Handle() const override { return -1; }
  const std::string& Device() const override { return device_; }
  int LastError() const override { return 0; }
  bool DeviceLost() const override { return false; }

 private:
  std::string device_ = "scripted";
};

struct Seen {
  bool sent;
  std::string hex;
};

TEST(MasterTraffic, every_byte_sent_and_read_is_reported_noise_and_other_frames_included) {
  ScriptedLink link;
  ModbusMaster master(link);
  std::vector<Seen> seen;
  master.traffic = [&](bool sent, const std::uint8_t* b, int n) { seen.push_back({sent, HexOf(b, static_cast<std::size_t>(n))}); };
  const std::vector<std::uint8_t> request = Bytes("01 03 00 00 00 01 84 0A");
  ASSERT_EQ(master.SendRequest(request.data(), static_cast<int>(request.size())), 1);
  // Noise, a late reply of slave 2, then the reply in two reads.
  link.chunks = {Bytes("FF 00"), Bytes("02 03 02 00 05 3C 47"), Bytes("01 03 02 00"), Bytes("2A 39 9B")};
  int result = 0;
  for (int i = 0; i < 8 && result <= 0; ++i) result = master.ReadResponse();
  EXPECT_GT(result, 0);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_TRUE(seen[0].sent);
  EXPECT_EQ(seen[0].hex, HexOf(request));
  const char* received[] = {"FF 00", "02 03 02 00 05 3C 47", "01 03 02 00", "2A 39 9B"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(seen[static_cast<std::size_t>(i + 1)].sent);
    EXPECT_EQ(seen[static_cast<std::size_t>(i + 1)].hex, HexOf(Bytes(received[i]))) << i;
  }
}

TEST(TrafficLog, lines_show_time_direction_bytes_and_the_wait_since_the_request) {
  TrafficLog log(3);
  const std::vector<std::uint8_t> rtu = Bytes("01 03 00 00 00 01 84 0A");
  const std::string ascii = ":010300000001FB\r\n";
  struct Case {
    const char* what;
    TrafficEntry entry;
    const char* line;
  } cases[] = {
      {"received before any send", log.AddBytes(5, false, rtu.data(), 2, false), "       5.0  in    01 03"},
      {"sent", log.AddBytes(100, true, rtu.data(), 8, false), "     100.0  out   01 03 00 00 00 01 84 0A"},
      {"received after it", log.AddBytes(112.25, false, rtu.data(), 3, false), "     112.2  in    01 03 00  (+12.2 ms)"},
      {"ascii characters", log.AddBytes(200, true, reinterpret_cast<const std::uint8_t*>(ascii.data()), static_cast<int>(ascii.size()), true),
       "     200.0  out   :010300000001FB<CR><LF>"},
      {"note", log.AddNote(250.5, "Line noise, skipped: FF"), "     250.5  note  Line noise, skipped: FF"},
  };
  for (const Case& c : cases) EXPECT_EQ(TrafficLine(c.entry), c.line) << c.what;
  ASSERT_EQ(log.entries().size(), 3u) << "the oldest go first";
  EXPECT_EQ(log.entries().front().ms, 112.25);
  log.Clear();
  EXPECT_TRUE(log.entries().empty());
}

}  // namespace
