// vantrel-poll --monitor listening to a real exchange: mbpoll (or vantrel-poll) as the master,
// through a relay paced at the line's rate, to vantrel-slave with its faults or to a libmodbus
// slave; the monitor's frames must match what went over the line one for one.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/Hex.h"
#include "support/LibmodbusSlave.h"
#include "support/LineRelay.h"
#include "support/Process.h"
#include "support/TempDir.h"

using vantrel::test::BackgroundProcess;
using vantrel::test::HexOf;
using vantrel::test::LibmodbusSlave;
using vantrel::test::LineRelay;
using vantrel::test::PollBinary;
using vantrel::test::ReadFile;
using vantrel::test::RunResult;
using vantrel::test::SlaveProcess;
using vantrel::test::TempDir;
using Json = nlohmann::json;

namespace {

// vantrel-poll --monitor --json on the relay's monitor side, from construction to Stop.
class Monitor {
 public:
  Monitor(const TempDir& dir, const LineRelay& relay, int baud)
      : log_(dir / "monitor.log"),
        process_({PollBinary(), "--monitor", "--json", "-b", std::to_string(baud), relay.monitorPath()}, dir.path(), {},
                 log_) {
    // The port is open once it says it listens: bytes before would not reach it.
    for (int i = 0; i < 250 && ReadFile(log_).find("listening on") == std::string::npos; ++i) usleep(20000);
  }
  bool listening() const { return ReadFile(log_).find("listening on") != std::string::npos; }
  // SIGTERM ends it as Ctrl+C does; its JSON lines.
  std::vector<Json> Stop() {
    process_.Kill();
    std::vector<Json> frames;
    std::istringstream lines(ReadFile(log_));
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line[0] == '{') frames.push_back(Json::parse(line));
    }
    return frames;
  }

 private:
  std::string log_;
  BackgroundProcess process_;
};

RunResult Mbpoll(const std::string& device, int baud, std::vector<std::string> args,
                 const std::vector<std::string>& values = {}) {
  std::vector<std::string> argv{"mbpoll", "-m", "rtu", "-a", "1", "-b", std::to_string(baud), "-P", "none", "-1", "-o", "1"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(device);
  argv.insert(argv.end(), values.begin(), values.end());
  return vantrel::test::Run(argv);
}

// The frames of vantrel-slave's log: "-> HEX" (what it received) and "<- HEX" (what it sent).
struct LogFrame {
  bool request;
  std::string hex;
};
std::vector<LogFrame> SlaveFrames(const std::string& log) {
  std::vector<LogFrame> frames;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t in = line.find("] -> "), out = line.find("] <- ");
    const std::size_t at = in != std::string::npos ? in : out;
    if (at == std::string::npos) continue;
    std::string hex = line.substr(at + 5);
    hex = hex.substr(0, hex.find("  "));  // before a note such as "(no reply)"
    while (!hex.empty() && hex.back() == ' ') hex.pop_back();
    frames.push_back({in != std::string::npos, hex});
  }
  return frames;
}

std::string Kinds(const std::vector<Json>& frames) {
  std::string text;
  for (const Json& f : frames) text += (text.empty() ? "" : " ") + f["kind"].get<std::string>() + (f.contains("crc_error") ? "!" : "");
  return text;
}

class MonitorLine : public ::testing::TestWithParam<int> {};

TEST_P(MonitorLine, frames_match_vantrel_slave_log_one_for_one_faults_included) {
  const int baud = GetParam();
  TempDir dir;
  SlaveProcess slave(dir.path(), "COM3",
                     {"-a", "1", "-b", std::to_string(baud), "--fault-at", "500=noise"});
  ASSERT_TRUE(slave.ready());
  LineRelay relay(slave.linkPath(), baud);
  ASSERT_TRUE(relay.ok());
  Monitor monitor(dir, relay, baud);
  ASSERT_TRUE(monitor.listening());
  const std::string line = relay.masterPath();

  EXPECT_EQ(Mbpoll(line, baud, {"-t", "4", "-r", "1", "-c", "5"}).status, 0);
  EXPECT_EQ(Mbpoll(line, baud, {"-t", "0", "-r", "3", "-c", "10"}).status, 0);
  EXPECT_EQ(Mbpoll(line, baud, {"-t", "1", "-r", "2", "-c", "3"}).status, 0);
  EXPECT_EQ(Mbpoll(line, baud, {"-t", "3", "-r", "7", "-c", "2"}).status, 0);
  EXPECT_EQ(Mbpoll(line, baud, {"-t", "4", "-r", "10"}, {"1234"}).status, 0);          // 06
  EXPECT_EQ(Mbpoll(line, baud, {"-t", "4", "-r", "20"}, {"7", "8", "9"}).status, 0);  // 16
  EXPECT_EQ(Mbpoll(line, baud, {"-t", "0", "-r", "5"}, {"1"}).status, 0);             // 05
  EXPECT_EQ(Mbpoll(line, baud, {"-t", "0", "-r", "40"}, {"1", "0", "1"}).status, 0);  // 15
  Mbpoll(line, baud, {"-t", "4", "-r", "9002", "-c", "1"});  // exception 02
  Mbpoll(line, baud, {"-t", "4", "-r", "9020", "-c", "1"});  // bad CRC
  Mbpoll(line, baud, {"-t", "4", "-r", "9021", "-c", "1"});  // silence
  Mbpoll(line, baud, {"-t", "4", "-r", "9023", "-c", "2"});  // split reply, 300 ms apart
  Mbpoll(line, baud, {"-t", "4", "-r", "9024", "-c", "1"});  // garbage for a reply
  Mbpoll(line, baud, {"-t", "4", "-r", "500", "-c", "1"});   // a stray byte before the reply
  const RunResult id = vantrel::test::Run({PollBinary(), "--id-info", "-a", "1", "-b", std::to_string(baud), line});
  EXPECT_EQ(id.status, 0) << id.err;
  ASSERT_TRUE(relay.WaitQuiet(1500, 20000));
  const std::vector<Json> frames = monitor.Stop();
  slave.Stop();
  const std::vector<LogFrame> reference = SlaveFrames(slave.Log());
  ASSERT_FALSE(reference.empty());

  // Walk the log: each line's bytes are one monitor frame, or (a reply with noise in front or
  // made of noise) a few frames whose bytes are exactly the line's.
  std::size_t at = 0;
  std::vector<std::string> missing;
  for (const LogFrame& r : reference) {
    std::string seen;
    std::vector<Json> covered;
    while (at < frames.size() && seen.size() < r.hex.size()) {
      seen += (seen.empty() ? "" : " ") + frames[at]["hex"].get<std::string>();
      covered.push_back(frames[at++]);
    }
    ASSERT_EQ(seen, r.hex) << "after " << at << " frames; kinds " << Kinds(frames);
    if (r.request) {
      ASSERT_EQ(covered.size(), 1u);
      EXPECT_EQ(covered[0]["kind"], "request") << r.hex;
    } else if (covered.size() == 1 && covered[0]["kind"] != "noise") {
      EXPECT_TRUE(covered[0].contains("turnaround_ms")) << r.hex;
      EXPECT_GT(covered[0]["turnaround_ms"].get<double>(), 0);
    }
  }
  EXPECT_EQ(at, frames.size()) << "frames the slave did not log: " << Kinds(frames);

  // The faults as the monitor names them.
  std::vector<std::string> exceptions, crcErrors, noise;
  int objects = 0;
  for (const Json& f : frames) {
    if (f["kind"] == "exception") exceptions.push_back(f["exception"]);
    if (f.contains("crc_error")) crcErrors.push_back(f["hex"]);
    if (f["kind"] == "noise" && !f.contains("crc_error")) noise.push_back(f["hex"]);
    if (f.contains("objects")) objects += static_cast<int>(f["objects"].size());
  }
  EXPECT_EQ(exceptions, std::vector<std::string>{"0x02 - ILLEGAL DATA ADDRESS"});
  EXPECT_EQ(crcErrors.size(), 1u);
  EXPECT_EQ(noise, (std::vector<std::string>{"DE AD BE EF 55 AA 00 FF", "00"}));
  EXPECT_GE(objects, 3);  // VendorName, ProductCode, MajorMinorRevision at least
  // Decoded fields of the plain exchanges.
  EXPECT_EQ(frames[1]["registers"], Json::array({1, 2, 3, 4, 5}));
  EXPECT_EQ(frames[0]["address"], 1);
  EXPECT_EQ(frames[0]["quantity"], 5);
}

INSTANTIATE_TEST_SUITE_P(Bauds, MonitorLine, ::testing::Values(9600, 115200));

TEST(MonitorLibmodbus, frames_match_the_bytes_carried_with_a_libmodbus_slave) {
  const int baud = 115200;
  TempDir dir;
  LineRelay relay(baud);
  ASSERT_TRUE(relay.ok());
  LibmodbusSlave slave(relay.slaveEnd(), 1);
  Monitor monitor(dir, relay, baud);
  ASSERT_TRUE(monitor.listening());
  const std::string line = relay.masterPath();
  EXPECT_EQ(Mbpoll(line, baud, {"-t", "4", "-r", "1", "-c", "10"}).status, 0);
  EXPECT_EQ(Mbpoll(line, baud, {"-t", "0", "-r", "1", "-c", "20"}).status, 0);
  EXPECT_EQ(Mbpoll(line, baud, {"-t", "4", "-r", "3"}, {"11", "12"}).status, 0);
  Mbpoll(line, baud, {"-t", "4", "-r", "500", "-c", "1"});  // past its registers: exception 02
  EXPECT_EQ(Mbpoll(line, baud, {"-t", "3", "-r", "1", "-c", "2"}).status, 0);
  ASSERT_TRUE(relay.WaitQuiet(300, 10000));
  const std::vector<Json> frames = monitor.Stop();
  std::string all;
  for (const Json& f : frames) all += (all.empty() ? "" : " ") + f["hex"].get<std::string>();
  EXPECT_EQ(all, HexOf(relay.Carried()));
  EXPECT_EQ(Kinds(frames), "request reply request reply request reply request exception request reply");
  EXPECT_EQ(frames[1]["registers"], Json::array({0x1000, 0x1001, 0x1002, 0x1003, 0x1004, 0x1005, 0x1006, 0x1007,
                                                 0x1008, 0x1009}));
  EXPECT_EQ(frames[3]["bits"], Json::array({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(frames[4]["registers"], Json::array({11, 12}));
  EXPECT_EQ(slave.Registers(2, 2), (std::vector<std::uint16_t>{11, 12}));
}

}  // namespace
