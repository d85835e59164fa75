// Register maps end to end: vantrel-slave serving a map's values, and vantrel-poll reading
// and writing by item name, against vantrel-slave and against libmodbus.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/LibmodbusSlave.h"
#include "support/MbpollOutput.h"
#include "support/Process.h"
#include "support/TempDir.h"

using vantrel::test::LibmodbusSlave;
using vantrel::test::PollBinary;
using vantrel::test::RunResult;
using vantrel::test::SlaveProcess;
using vantrel::test::TempDir;

namespace {

const std::string kExampleMap = VANTREL_DOCS_DIR "/example-map.csv";

// mbpoll, a master of its own, reads what vantrel-slave serves.
std::vector<std::string> Mbpoll(const SlaveProcess& slave, const std::vector<std::string>& args) {
  std::vector<std::string> argv{"mbpoll", "-m", "rtu", "-a", "1", "-b", "115200", "-P", "none", "-1", "-o", "2"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(slave.linkPath());
  const RunResult r = vantrel::test::Run(argv);
  EXPECT_EQ(r.status, 0) << r.err;
  return vantrel::test::MbpollValues(r.out);
}

}  // namespace

TEST(slave_map, serves_the_example_map_values) {
  TempDir dir;
  // The image sets what the map then overrides.
  std::ofstream(dir / "image.txt") << "holding 100 999\ninput 300 0x0012\n";
  SlaveProcess slave(dir.path(), "COM3",
                     {"-a", "1", "-b", "115200", "-i", dir / "image.txt", "--map", kExampleMap});
  ASSERT_TRUE(slave.ready());
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> values;
  } reads[] = {
      {{"-t", "3:float", "-B", "-r", "1", "-c", "3"}, {"230.1", "229.8", "231.4"}},
      {{"-t", "3:float", "-B", "-r", "13"}, {"50"}},
      // "VM3-004217", two characters a register, NUL-padded.
      {{"-t", "3:hex", "-r", "201", "-c", "6"}, {"0x564D", "0x332D", "0x3030", "0x3432", "0x3137", "0x0000"}},
      // Status 5, then bits 0 and 2 set and 15 clear over it.
      {{"-t", "3", "-r", "301"}, {"5"}},
      {{"-t", "4", "-r", "101", "-c", "2"}, {"450", "1"}},
      {{"-t", "0", "-r", "1", "-c", "2"}, {"0", "0"}},  // the alarm relay off; coil 2 the pattern's
  };
  for (const auto& r : reads) EXPECT_EQ(Mbpoll(slave, r.args), r.values) << r.args[1] << " " << r.args[3];
}

TEST(slave_map, a_map_that_cannot_be_loaded_is_a_usage_error) {
  TempDir dir;
  std::ofstream(dir / "bad.csv") << "name,table,address,type\nA,holding,1,uint16\nB,holding,2,flaot32\n";
  const RunResult r = vantrel::test::Run({vantrel::test::SlaveBinary(), "--map", dir / "bad.csv", dir / "COM3"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("bad.csv: line 3: column type:"), std::string::npos) << r.err;
}

namespace {

class PollMap : public ::testing::Test {
 protected:
  void SetUp() override {
    slave_ = std::make_unique<SlaveProcess>(dir_.path(), "COM3",
                                            std::vector<std::string>{"-a", "1", "-b", "115200", "--map", kExampleMap});
    ASSERT_TRUE(slave_->ready());
  }
  RunResult Poll(std::vector<std::string> args, int timeoutMs = 30000) {
    std::vector<std::string> argv{PollBinary(), "-a", "1", "-b", "115200", "--map", kExampleMap};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(slave_->linkPath());
    return vantrel::test::Run(argv, timeoutMs);
  }

  TempDir dir_;
  std::unique_ptr<SlaveProcess> slave_;
};

// What follows "values": in a JSON line, without the time and the connection.
std::string ValuesOf(const std::string& line) {
  const std::size_t at = line.find("\"values\":");
  return at == std::string::npos ? line : line.substr(at);
}

}  // namespace

TEST_F(PollMap, prints_the_items_as_table_csv_and_json) {
  const std::vector<std::string> items{"--item", "Voltage L1", "--item", "Serial number", "--item", "Overvoltage",
                                       "--item", "Alarm temperature", "--item", "Alarm relay"};
  const struct {
    std::vector<std::string> output;
    std::string out;
  } cases[] = {
      {{},
       "Name               Address      Value       Unit  Raw\n"
       "Voltage L1         30001-30002  230.1       V     0x4366 0x199A\n"
       "Serial number      30201-30206  VM3-004217        0x564D 0x332D 0x3030 0x3432 0x3137 0x0000\n"
       "Overvoltage        30301.2      1                 0x0005\n"
       "Alarm temperature  40101        45.0        \u00b0C    0x01C2\n"
       "Alarm relay        00001        0                 0\n"},
      {{"--csv"},
       "Name,Address,Value,Unit,Raw\n"
       "Voltage L1,30001-30002,230.1,V,0x4366 0x199A\n"
       "Serial number,30201-30206,VM3-004217,,0x564D 0x332D 0x3030 0x3432 0x3137 0x0000\n"
       "Overvoltage,30301.2,1,,0x0005\n"
       "Alarm temperature,40101,45.0,\u00b0C,0x01C2\n"
       "Alarm relay,00001,0,,0\n"},
      {{"--json"},
       "\"values\":{\"Voltage L1\":{\"value\":230.1,\"unit\":\"V\",\"raw\":[17254,6554]},"
       "\"Serial number\":{\"value\":\"VM3-004217\",\"raw\":[22093,13101,12336,13362,12599,0]},"
       "\"Overvoltage\":{\"value\":1,\"raw\":[5]},"
       "\"Alarm temperature\":{\"value\":45.0,\"unit\":\"\u00b0C\",\"raw\":[450]},"
       "\"Alarm relay\":{\"value\":0,\"raw\":[0]}}}\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = items;
    args.insert(args.end(), c.output.begin(), c.output.end());
    const RunResult r = Poll(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(c.output.empty() || c.output[0] != "--json" ? r.out : ValuesOf(r.out), c.out);
  }
}

TEST_F(PollMap, json_names_the_request_by_map) {
  const RunResult r = Poll({"--json", "--gap", "0", "--item", "Frequency"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"slave_id\":1,\"merge_gap\":0,\"word_order\":\"low-first\"}"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"Frequency\":{\"value\":50.00,\"unit\":\"Hz\""), std::string::npos) << r.out;
}

TEST_F(PollMap, timed_csv_logs_each_item_under_its_heading) {
  // -l polls until stopped: the run is ended by Run's time-out, and what came is looked at.
  const RunResult r = Poll({"--csv", "-l", "100", "--item", "Current L2", "--item", "Status"}, 1000);
  std::istringstream lines(r.out);
  std::string header, first;
  std::getline(lines, header);
  std::getline(lines, first);
  EXPECT_EQ(header, "time,Current L2 [A],Status");
  EXPECT_EQ(first.substr(first.find(',')), ",11.75,5");
}

// A workspace definition read by its map, beside an ordinary one: each named, the mapped
// one's values by item.
TEST_F(PollMap, a_workspace_definition_is_read_by_its_map) {
  std::ofstream(dir_ / "site.vantrel.json") << R"({"format": "vantrel-workspace", "version": 1,
    "connection": {"mode": "rtu", "device": ")"
                                            << slave_->linkPath() << R"(", "baud": 115200, "timeout_ms": 2000},
    "polls": [{"name": "Meter", "slave_id": 1, "by_map": true, "merge_gap": 0,
               "map": [{"name": "Voltage L2", "table": "input", "address": 3, "type": "float32",
                        "word_order": "high-first", "unit": "V"},
                       {"name": "Setpoint", "table": "holding", "address": 101, "type": "int16", "scale": 0.1}]},
              {"name": "Block", "slave_id": 1, "function": 3, "offset": 102, "length": 1}]})";
  const RunResult r = vantrel::test::Run({PollBinary(), "--workspace", dir_ / "site.vantrel.json", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::string meter, block;
  std::getline(lines, meter);
  std::getline(lines, block);
  EXPECT_EQ(meter.rfind("{\"poll\":\"Meter\",", 0), 0u) << meter;
  EXPECT_EQ(ValuesOf(meter),
            "\"values\":{\"Voltage L2\":{\"value\":229.8,\"unit\":\"V\",\"raw\":[17253,52429]},"
            "\"Setpoint\":{\"value\":45.0,\"raw\":[450]}}}");
  EXPECT_EQ(block.rfind("{\"poll\":\"Block\",", 0), 0u) << block;
}

TEST_F(PollMap, writes_items_by_name_in_their_units) {
  const struct {
    std::string write;
    std::string printed;
    std::vector<std::string> readBack;  // mbpoll's type, reference and count
    std::vector<std::string> values;
  } cases[] = {
      {"Alarm temperature=47.5",
       "Wrote Alarm temperature = 47.5 \u00b0C: 1 holding register at offset 101 (40101) with function 06: 475\n",
       {"-t", "4", "-r", "101"}, {"475"}},
      {"Alarm temperature=-3.2",
       "Wrote Alarm temperature = -3.2 \u00b0C: 1 holding register at offset 101 (40101) with function 06: 65504\n",
       {"-t", "4", "-r", "101"}, {"65504"}},
      {"Alarm relay=on", "Wrote Alarm relay = on: 1 coil at offset 1 (00001) with function 05: 1\n",
       {"-t", "0", "-r", "1"}, {"1"}},
  };
  for (const auto& c : cases) {
    const RunResult r = Poll({"--write", c.write});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.printed);
    EXPECT_EQ(Mbpoll(*slave_, c.readBack), c.values) << c.write;
  }
}

TEST_F(PollMap, refuses_a_write_before_sending_anything) {
  const struct {
    std::string write;
    const char* says;
  } cases[] = {
      {"Voltage L1=230", "\"Voltage L1\" cannot be written: the map has it read-only"},
      {"Modbus address=7", "\"Modbus address\" cannot be written"},
      {"Alarm temperature=3276.8", "\"Alarm temperature\" takes a number from -3276.8 to 3276.7"},
  };
  for (const auto& c : cases) {
    const RunResult r = Poll({"--write", "Alarm relay=1", "--write", c.write});
    EXPECT_EQ(r.status, 2) << c.write;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  EXPECT_EQ(Mbpoll(*slave_, {"-t", "0", "-r", "1"}), std::vector<std::string>{"0"}) << "the relay was not written";
}

// libmodbus checks the requests: holding register i holds 0x1000 + i, input register i
// 0xF000 - i (i from 0), read and written by name through a map of the test's own.
TEST(poll_map_libmodbus, reads_and_writes_by_name_over_tcp) {
  TempDir dir;
  std::ofstream(dir / "map.csv") << "name,table,address,type,word_order,scale,unit\n"
                                    "Setpoint,holding,3,uint16,,,\n"
                                    "Pair,holding,5,uint32,high-first,,\n"
                                    "Flag,holding,10,bit:0,,,\n"
                                    "Other flag,holding,10,bit:4,,,\n"
                                    "Level,input,2,int16,,0.5,mm\n";
  LibmodbusSlave slave(LibmodbusSlave::Tcp{});
  ASSERT_GT(slave.port(), 0);
  auto poll = [&](std::vector<std::string> args) {
    std::vector<std::string> argv{PollBinary(), "-m", "tcp", "-a", "1", "-o", "2", "--map", dir / "map.csv"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("127.0.0.1:" + std::to_string(slave.port()));
    return vantrel::test::Run(argv);
  };
  RunResult r = poll({"--csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Name,Address,Value,Unit,Raw\n"
            "Setpoint,40003,4098,,0x1002\n"
            "Pair,40005-40006,268701701,,0x1004 0x1005\n"
            "Flag,40010.0,1,,0x1009\n"
            "Other flag,40010.4,0,,0x1009\n"
            "Level,30002,-2048.5,mm,0xEFFF\n");

  // Both bits of one register: it is read once, and the second write keeps the first's.
  r = poll({"--write", "Setpoint=1234", "--write", "Pair=65536", "--write", "Flag=0", "--write", "Other flag=1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Wrote Setpoint = 1234: 1 holding register at offset 3 (40003) with function 06: 1234\n"
            "Wrote Pair = 65536: 2 holding registers from offset 5 (40005) with function 16: 1 0\n"
            "Wrote Flag = 0: 1 holding register at offset 10 (40010) with function 06: 4104\n"
            "Wrote Other flag = 1: 1 holding register at offset 10 (40010) with function 06: 4120\n");
  EXPECT_EQ(slave.Registers(2, 1), std::vector<std::uint16_t>{1234});
  EXPECT_EQ(slave.Registers(4, 2), (std::vector<std::uint16_t>{1, 0}));
  EXPECT_EQ(slave.Registers(9, 1), std::vector<std::uint16_t>{0x1018});
}
