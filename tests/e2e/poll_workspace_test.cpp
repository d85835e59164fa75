// vantrel-poll --workspace and --save-workspace, run as a user would, against vantrel-slave
// and a libmodbus server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/LibmodbusSlave.h"
#include "support/Process.h"
#include "support/TempDir.h"

using vantrel::test::BackgroundProcess;
using vantrel::test::LibmodbusSlave;
using vantrel::test::PollBinary;
using vantrel::test::ReadFile;
using vantrel::test::RunResult;
using vantrel::test::SlaveProcess;
using vantrel::test::TempDir;
using Json = nlohmann::json;

namespace {

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The JSON objects among the lines (standard error may be mixed in).
std::vector<Json> Objects(const std::string& text) {
  std::vector<Json> objects;
  for (const std::string& line : LinesOf(text)) {
    if (line.rfind('{', 0) == 0) objects.push_back(Json::parse(line));
  }
  return objects;
}

// A timed CSV's rows by the name in their poll column: the milliseconds of the day of each.
std::map<std::string, std::vector<long long>> RowTimes(const std::string& text) {
  std::map<std::string, std::vector<long long>> rows;
  for (const std::string& line : LinesOf(text)) {
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos || line.rfind("poll,", 0) == 0 || line.size() < comma + 24) continue;
    const std::string time = line.substr(comma + 12, 12);  // 14:03:07.250 of 2026-12-08T14:03:07.250
    const long long ms = std::stoll(time.substr(0, 2)) * 3600000 + std::stoll(time.substr(3, 2)) * 60000 +
                         std::stoll(time.substr(6, 2)) * 1000 + std::stoll(time.substr(9, 3));
    rows[line.substr(0, comma)].push_back(ms);
  }
  return rows;
}

class PollWorkspace : public ::testing::Test {
 protected:
  void SetUp() override {
    slave_ = std::make_unique<SlaveProcess>(dir_.path(), "COM3", std::vector<std::string>{"-a", "1,2", "-b", "115200"});
    ASSERT_TRUE(slave_->ready());
  }
  // A workspace file of the connection's members and the definitions given, in the folder.
  std::string Workspace(const std::string& connection, const std::string& polls) {
    const std::string path = dir_ / "site.vantrel.json";
    std::ofstream(path) << R"({"format": "vantrel-workspace", "version": 1, "connection": {)" << connection
                        << R"(}, "polls": [)" << polls << "]}";
    return path;
  }
  RunResult Poll(std::vector<std::string> args) {
    args.insert(args.begin(), PollBinary());
    return vantrel::test::Run(args);
  }

  TempDir dir_;
  std::unique_ptr<SlaveProcess> slave_;
};

// Three enabled definitions (one without a name) and one disabled: each output form names
// each definition polled, in the file's order; --poll picks, the disabled one too. The
// file's connection leads nowhere: the options override it.
TEST_F(PollWorkspace, every_output_names_its_definition) {
  const std::string file = Workspace(
      R"("device": "/nonexistent/COM9", "baud": 9600, "timeout_ms": 2000)",
      R"({"name": "Holding", "slave_id": 1, "function": 3, "offset": 1, "length": 2},
         {"name": "Inputs, of 2", "slave_id": 2, "function": 2, "offset": 1, "length": 2},
         {"slave_id": 1, "function": 4, "offset": 5, "length": 1},
         {"name": "Off", "slave_id": 1, "function": 1, "offset": 1, "length": 2, "enabled": false})");
  const struct {
    std::vector<std::string> options;
    const char* out;
  } cases[] = {
      {{},
       "== Holding\n"
       "Offset  Standard address  6 digit address  Hex     uint16  int16  uint32  int32   float32\n"
       "1       40001             400001           0x0001  1       1\n"
       "2       40002             400002           0x0002  2       2      131073  131073  0.000000\n\n"
       "== Inputs, of 2\n"
       "Offset  Standard address  6 digit address  Value\n"
       "1       10001             100001           1\n"
       "2       10002             100002           0\n\n"
       "== Poll 3\n"
       "Offset  Standard address  6 digit address  Hex     uint16  int16  uint32      int32       float32\n"
       "5       30005             300005           0x0032  50      50     incomplete  incomplete  incomplete\n\n"},
      {{"--csv"},
       "poll,Offset,Standard address,6 digit address,Hex,uint16,int16,uint32,int32,float32\n"
       "Holding,1,40001,400001,0x0001,1,1,,,\n"
       "Holding,2,40002,400002,0x0002,2,2,131073,131073,0.000000\n"
       "poll,Offset,Standard address,6 digit address,Value\n"
       "\"Inputs, of 2\",1,10001,100001,1\n"
       "\"Inputs, of 2\",2,10002,100002,0\n"
       "poll,Offset,Standard address,6 digit address,Hex,uint16,int16,uint32,int32,float32\n"
       "Poll 3,5,30005,300005,0x0032,50,50,incomplete,incomplete,incomplete\n"},
      {{"--csv", "--poll", "Off", "--poll", "Poll 3", "--poll", "Off"},
       "poll,Offset,Standard address,6 digit address,Hex,uint16,int16,uint32,int32,float32\n"
       "Poll 3,5,30005,300005,0x0032,50,50,incomplete,incomplete,incomplete\n"
       "poll,Offset,Standard address,6 digit address,Value\n"
       "Off,1,00001,000001,1\n"
       "Off,2,00002,000002,0\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"--workspace", file, "-b", "115200"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(slave_->linkPath());
    const RunResult r = Poll(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
  // --json: a "poll" member in each object, before the rest of it
  const RunResult r = Poll({"--workspace", file, "-b", "115200", "--json", slave_->linkPath()});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> polls;
  for (const Json& o : Objects(r.out)) {
    polls.push_back(o.at("poll"));
    EXPECT_EQ(o.begin().key(), "poll");
    EXPECT_EQ(o.at("request").at("connection"), slave_->linkPath() + ":115200,N,8,1");
  }
  EXPECT_EQ(polls, (std::vector<std::string>{"Holding", "Inputs, of 2", "Poll 3"})) << r.out;

  // what cannot go with a workspace is refused before the line
  const struct {
    std::vector<std::string> args;
    int status;
    std::string says;
  } refusals[] = {
      {{"--workspace", file, "--poll", "Nothing"}, 2, "--poll Nothing: " + file + " has no definition of that name"},
      {{"--workspace", file, "-a", "3"}, 2, "leave out -a"},
      {{"--poll", "Holding"}, 2, "--poll picks definitions of a --workspace file"},
      {{"--workspace", dir_ / "none.json"}, 17, "none.json: cannot be read"},
      {{"--workspace", file}, 4, "Serial post settings: /nonexistent/COM9:9600,N,8,1"},
  };
  for (const auto& c : refusals) {
    const RunResult refused = Poll(c.args);
    EXPECT_EQ(refused.status, c.status) << refused.err;
    EXPECT_NE(refused.err.find(c.says), std::string::npos) << refused.err;
  }
}

// A definition that fails (an exception at 9002) under either policy, once and with -l: a
// "stop" ends the run with its status at once; a "keep" is told and the others go on, and
// once the run ends with its status after every definition.
TEST_F(PollWorkspace, a_failing_definition_stops_or_is_counted_by_its_policy) {
  const auto file = [&](const char* policy) {
    return Workspace(R"("device": ")" + slave_->linkPath() + R"(", "baud": 115200, "timeout_ms": 2000)",
                     std::string(R"({"name": "Before", "slave_id": 1, "function": 3, "offset": 1, "length": 1},
                                    {"name": "Failing", "slave_id": 1, "function": 3, "offset": 9002, "length": 1,
                                     "on_failure": ")") + policy + R"("},
                                    {"name": "After", "slave_id": 1, "function": 3, "offset": 2, "length": 1})");
  };
  // once
  RunResult r = Poll({"--workspace", file("stop"), "--json"});
  EXPECT_EQ(r.status, 8) << r.err;
  std::vector<Json> objects = Objects(r.out);
  ASSERT_EQ(objects.size(), 2u) << r.out;
  EXPECT_EQ(objects[1].at("poll"), "Failing");
  EXPECT_EQ(objects[1].at("error").at("status"), 8);
  EXPECT_NE(r.err.find("0x02 - ILLEGAL DATA ADDRESS"), std::string::npos) << r.err;
  r = Poll({"--workspace", file("keep"), "--json"});
  EXPECT_EQ(r.status, 8) << r.err;
  objects = Objects(r.out);
  ASSERT_EQ(objects.size(), 3u) << r.out;
  EXPECT_EQ(objects[2].at("poll"), "After");
  EXPECT_EQ(objects[2].at("values")[0].at("value"), 2);

  // with -l: "stop" ends the run; "keep" polls on until stopped
  r = Poll({"--workspace", file("stop"), "-l", "100", "--json"});
  EXPECT_EQ(r.status, 8) << r.err;
  EXPECT_EQ(Objects(r.out).size(), 2u) << r.out;
  const std::string log = dir_ / "keep.log";
  BackgroundProcess run({PollBinary(), "--workspace", file("keep"), "-l", "100", "--json"}, "", {}, log);
  ASSERT_TRUE(run.started());
  const auto failures = [&] {
    int n = 0;
    for (const Json& o : Objects(ReadFile(log))) n += o.contains("error") ? 1 : 0;
    return n;
  };
  for (int i = 0; i < 600 && failures() < 3; ++i) usleep(50000);
  EXPECT_TRUE(run.Running()) << ReadFile(log);
  run.Kill();
  std::map<std::string, int> polled;
  for (const Json& o : Objects(ReadFile(log))) ++polled[o.at("poll")];
  EXPECT_GE(failures(), 3) << ReadFile(log);
  EXPECT_GE(polled["After"], 2) << ReadFile(log);
}

// With -l each definition polls at its own period, and one whose period is 0 at -l's: over
// the same stretch, the one at 100 ms about four times as often as the one at 400 ms. The
// session never polls a definition before its period, so the counts have a hard upper
// bound; the lower one leaves room for a busy machine.
TEST_F(PollWorkspace, with_a_period_each_polls_at_its_own) {
  const std::string file = Workspace(
      R"("device": ")" + slave_->linkPath() + R"(", "baud": 115200, "timeout_ms": 2000)",
      R"({"name": "Fast", "slave_id": 1, "function": 3, "offset": 1, "length": 2, "period_ms": 0},
         {"name": "Slow", "slave_id": 1, "function": 4, "offset": 1, "length": 2, "period_ms": 400})");
  const std::string log = dir_ / "periods.log";
  BackgroundProcess run({PollBinary(), "--workspace", file, "-l", "100", "--csv"}, "", {}, log);
  ASSERT_TRUE(run.started());
  for (int i = 0; i < 600 && RowTimes(ReadFile(log))["Slow"].size() < 5; ++i) usleep(50000);
  run.Kill();
  auto rows = RowTimes(ReadFile(log));
  const std::vector<long long>& slow = rows["Slow"];
  ASSERT_GE(slow.size(), 5u) << ReadFile(log);
  const long long from = slow[0], to = slow[4];
  EXPECT_GE(to - from, 4 * 400 - 100) << "the slow one is polled at its own period";
  const long long fast = std::count_if(rows["Fast"].begin(), rows["Fast"].end(),
                                       [&](long long t) { return t >= from && t <= to; });
  EXPECT_LE(fast, (to - from) / 100 + 2) << ReadFile(log);
  EXPECT_GE(fast, (to - from) / 200) << ReadFile(log);
  EXPECT_EQ(LinesOf(ReadFile(log)).front(), "poll,time,40001,40002,40001-40002 uint32,40001-40002 int32,"
                                            "40001-40002 float32");
}

// --save-workspace writes what the options and settings.ini describe; --workspace polls it
// back the same. A definition the file cannot hold is refused with status 17, as is a file
// that cannot be written.
TEST_F(PollWorkspace, a_saved_command_line_polls_the_same) {
  std::ofstream(dir_ / "settings.ini") << "[Vantrel Modbus Scanner]\ncom_port=3\nbuad_rate=115200\n"
                                          "request_id=1\nrequest_function_code=4\nrequest_offset=3\n"
                                          "request_length=2\nrecv_time_out=2000\n";
  const std::string cd = "cd '" + dir_.path() + "' && " + PollBinary();
  const auto sh = [&](const std::string& options) { return vantrel::test::Run({"/bin/sh", "-c", cd + options}); };
  RunResult r = sh(" -c 4 --word-order high-first --save-workspace saved.vantrel.json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const Json saved = Json::parse(ReadFile(dir_ / "saved.vantrel.json"));
  EXPECT_EQ(saved.at("connection").at("device"), "COM3");
  EXPECT_EQ(saved.at("connection").at("baud"), 115200);
  EXPECT_EQ(saved.at("polls").size(), 1u);
  EXPECT_EQ(saved.at("polls")[0].at("length"), 4);
  EXPECT_EQ(saved.at("polls")[0].at("word_order"), "high-first");

  const RunResult direct = sh(" -c 4 --word-order high-first --csv");
  ASSERT_EQ(direct.status, 0) << direct.err;
  r = sh(" --workspace saved.vantrel.json --csv");
  ASSERT_EQ(r.status, 0) << r.err;
  std::string expected;
  for (const std::string& line : LinesOf(direct.out)) expected += (expected.empty() ? "poll," : "Poll 1,") + line + "\n";
  EXPECT_EQ(r.out, expected);

  r = sh(" -l 50 --save-workspace fast.vantrel.json");
  EXPECT_EQ(r.status, 17) << r.err;
  EXPECT_NE(r.err.find("fast.vantrel.json: polls[0].period_ms: "), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "fast.vantrel.json"));
  r = sh(" --save-workspace no/such/folder.json");
  EXPECT_EQ(r.status, 17) << r.err;
}

// A workspace over Modbus TCP to a server that nobody here wrote: each definition reads
// what its map holds.
TEST(PollWorkspaceLibmodbus, polls_a_libmodbus_server_over_tcp) {
  LibmodbusSlave server(LibmodbusSlave::Tcp{});
  ASSERT_GT(server.port(), 0);
  TempDir dir;
  std::ofstream(dir / "tcp.vantrel.json")
      << R"({"format": "vantrel-workspace", "version": 1,
             "connection": {"mode": "tcp", "host": "127.0.0.1", "port": )" << server.port() << R"(, "timeout_ms": 2000},
             "polls": [{"name": "Registers", "slave_id": 1, "function": 3, "offset": 10, "length": 3},
                       {"name": "Coils", "slave_id": 1, "function": 1, "offset": 5, "length": 6}]})";
  const RunResult r = vantrel::test::Run({PollBinary(), "--workspace", dir / "tcp.vantrel.json", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::map<std::string, std::vector<int>> values;
  for (const Json& o : Objects(r.out)) {
    for (const Json& item : o.at("values")) values[o.at("poll")].push_back(item.at("value"));
  }
  const std::vector<std::uint16_t> registers = server.Registers(9, 3);
  const std::vector<int> coils = server.Coils(4, 6);
  EXPECT_EQ(values["Registers"], std::vector<int>(registers.begin(), registers.end()));
  EXPECT_EQ(values["Coils"], coils);
  EXPECT_EQ(values["Coils"], (std::vector<int>{0, 1, 0, 0, 0, 0})) << "coil i is on for i % 5 == 0";
}

}  // namespace
