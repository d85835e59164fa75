// vantrel-poll run as a user would, against vantrel-slave.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/Process.h"
#include "support/TempDir.h"

using vantrel::test::BackgroundProcess;
using vantrel::test::PollBinary;
using vantrel::test::ReadFile;
using vantrel::test::RunResult;
using vantrel::test::SlaveProcess;
using vantrel::test::TempDir;

namespace {

class PollCli : public ::testing::Test {
 protected:
  void SetUp() override {
    slave_ = std::make_unique<SlaveProcess>(dir_.path(), "COM3",
                                            std::vector<std::string>{"-a", "1", "-b", "115200", "--fault-at",
                                                                     "30=noise", "--fault-at", "40=short"});
    ASSERT_TRUE(slave_->ready());
  }
  RunResult Poll(std::vector<std::string> args, bool withDevice = true) {
    std::vector<std::string> argv{PollBinary(), "-a", "1", "-b", "115200"};
    argv.insert(argv.end(), args.begin(), args.end());
    if (withDevice) argv.push_back(slave_->linkPath());
    return vantrel::test::Run(argv);
  }

  TempDir dir_;
  std::unique_ptr<SlaveProcess> slave_;
};

}  // namespace

TEST_F(PollCli, prints_the_response_table_aligned) {
  // Without the window's Write column, unless --cells asks for the window's cells.
  const struct {
    const char* cells;
    const char* out;
  } cases[] = {
      {"-1",
       "Offset  Standard address  6 digit address  Hex     uint16  int16  uint32  int32   float32\n"
       "1       40001             400001           0x0001  1       1\n"
       "2       40002             400002           0x0002  2       2      131073  131073  0.000000\n"},
      {"--cells",
       "Write  Offset  Standard address  6 digit address  Hex     uint16  int16  uint32  int32   float32\n"
       "Write  1       40001             400001           0x0001  1       1\n"
       "Write  2       40002             400002           0x0002  2       2      131073  131073  0.000000\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = Poll({"-t", "4", "-r", "1", "-c", "2", c.cells});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
}

TEST_F(PollCli, prints_csv) {
  const struct {
    const char* cells;
    const char* out;
  } cases[] = {
      {"-1", "Offset,Standard address,6 digit address,Value\n4,10004,100004,1\n5,10005,100005,0\n"},
      {"--cells",
       "Write,Offset,Standard address,6 digit address,Value\n"
       "Read-only,4,10004,100004,1\n"
       "Read-only,5,10005,100005,0\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = Poll({"-t", "1", "-r", "4", "-c", "2", "--csv", c.cells});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
}

TEST_F(PollCli, failures_explain_themselves_with_their_own_status) {
  struct Case {
    int offset;
    int status;
    const char* text;
  };
  const Case cases[] = {
      {9002, 8, "0x02 - ILLEGAL DATA ADDRESS\n"},
      {9007, 8, "Error. Unknown Modbus exception error \n   Modbus Error code: 0x83\n"},
      {9020, 7, "mb_responce_code=-7 - MB_RESPONCE_INVALID_CRC"},
      {9021, 6, "Error - Timeout\n"},
      {9026, 9, "mb_responce_code=-5 - MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE"},
      {9028, 9, "mb_responce_code=-4 - MB_RESPONCE_INVALID_FUNCTION_CODE"},
      {9024, 10, "mb_responce_code=-8 - MB_RESPONCE_UNKOWN"},  // garbage: last, nothing follows it
  };
  for (const Case& c : cases) {
    const RunResult r = Poll({"-t", "4", "-o", "2", "-c", "1", "-r", std::to_string(c.offset)});
    EXPECT_EQ(r.status, c.status) << c.offset << r.err;
    EXPECT_NE(r.err.find(c.text), std::string::npos) << c.offset << r.err;
    EXPECT_EQ(r.out, "");
  }
  const RunResult t = Poll({"-t", "4", "-o", "0.3", "-c", "1", "-r", "9021"});
  EXPECT_NE(t.err.find("Poll: 01 03 23 3C 00 01 "), std::string::npos) << t.err;
  // A write that the device acknowledges with another address is not confirmed.
  const RunResult echo = Poll({"-t", "4", "-r", "9029", slave_->linkPath(), "5"}, false);
  EXPECT_EQ(echo.status, 13) << echo.err;
  EXPECT_NE(echo.err.find("MB_RESPONCE_WRITE_ECHO_MISMATCH"), std::string::npos) << echo.err;
  EXPECT_EQ(echo.out, "");
}

TEST_F(PollCli, refusals_before_the_line) {
  RunResult r = Poll({"-t", "4", "-c", "126"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("Error - The message is too long\n"), std::string::npos);
  r = Poll({"-t", "4", "-r", "9991", "-c", "10"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("Error - Request is out of range\n"), std::string::npos);
  r = Poll({"-t", "9"});
  EXPECT_EQ(r.status, 2);
  r = vantrel::test::Run({PollBinary(), "-b", "9600", dir_ / "nothing"});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("Error - Can not connect to the serial port\n"), std::string::npos);
}

// Only the reply to the question asked is shown: not a late one of an earlier request, not
// another device's, and not lost behind a stray byte.
TEST_F(PollCli, shows_only_the_reply_to_its_own_request) {
  for (int round = 0; round < 3; ++round) {
    RunResult r = Poll({"-t", "4", "-r", "9022", "-c", "10", "-o", "0.2"});  // answered after 500 ms
    EXPECT_EQ(r.status, 6) << r.err;
    r = Poll({"-t", "4", "-r", "1", "-c", "2", "--csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "1,40001,400001,0x0001,1,1,,,\n"
                                                  "2,40002,400002,0x0002,2,2,131073,131073,0.000000\n");
    EXPECT_NE(r.err.find("(20 data bytes, not the 4 asked for)"), std::string::npos) << r.err;
  }
  RunResult r = Poll({"-t", "4", "-r", "9025", "-c", "1", "-o", "2"});
  EXPECT_EQ(r.status, 6) << "another slave id's reply is no answer";
  EXPECT_NE(r.err.find("(from slave 2, not 1)"), std::string::npos) << r.err;

  r = Poll({"-t", "4", "-r", "30", "-c", "1", "--csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "30,40030,400030,0x001E,30,30,incomplete,incomplete,incomplete\n");
  EXPECT_NE(r.err.find("Line noise before the reply, skipped: 00 "), std::string::npos) << r.err;

  // a device that always answers too short is told so, not timed out
  r = Poll({"-t", "4", "-r", "40", "-c", "2", "-o", "2"});
  EXPECT_EQ(r.status, 11) << r.err;
  EXPECT_NE(r.err.find("Not enugh data to cover the request lenght"), std::string::npos) << r.err;
}

TEST_F(PollCli, refuses_values_that_do_not_fit_the_frame) {
  const RunResult broadcast = Poll({"-a", "0"});  // a read: no device answers a broadcast
  EXPECT_EQ(broadcast.status, 3);
  EXPECT_NE(broadcast.err.find("Error - This request cannot be broadcast\n"), std::string::npos) << broadcast.err;
  EXPECT_EQ(Poll({"-a", "256"}).status, 2);
  EXPECT_EQ(Poll({"-r", "65537"}).status, 2);
  EXPECT_EQ(Poll({"-t", "3", "-r", "65536", "-c", "1"}).status, 3) << "in the field, past the range";
  std::ofstream(dir_ / "settings.ini") << "[Vantrel Modbus Scanner]\ncom_port=3\nbuad_rate=115200\n"
                                          "request_id=256\nrequest_function_code=3\n";
  const std::string cd = "cd '" + dir_.path() + "' && " + PollBinary();
  RunResult r = vantrel::test::Run({"/bin/sh", "-c", cd});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("Error - The slave id is out of range\n"), std::string::npos) << r.err;
  std::ofstream(dir_ / "settings.ini") << "[Vantrel Modbus Scanner]\ncom_port=3\nbuad_rate=115200\n"
                                          "request_id=1\nrequest_length=0\n";
  r = vantrel::test::Run({"/bin/sh", "-c", cd});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("Error - The length is out of range\n"), std::string::npos) << r.err;
}

TEST_F(PollCli, the_port_in_use_is_refused) {
  // the first poller holds the port while it waits for a reply that never comes
  BackgroundProcess busy({PollBinary(), "-a", "1", "-b", "115200", "-t", "4", "-r", "9021", "-o", "3",
                          slave_->linkPath()},
                         "", {}, dir_ / "busy.log");
  ASSERT_TRUE(busy.started());
  for (int i = 0; i < 600 && slave_->Log().find("-> 01 03 23 3C ") == std::string::npos; ++i) usleep(50000);
  ASSERT_NE(slave_->Log().find("-> 01 03 23 3C "), std::string::npos) << "its request reached the line";
  const RunResult second = Poll({"-t", "4", "-c", "1"});
  EXPECT_EQ(second.status, 4) << second.err;
  EXPECT_EQ(busy.Wait(60000), 6);
}

TEST_F(PollCli, comn_names_the_link_in_the_current_folder) {
  const RunResult r = vantrel::test::Run(
      {"/bin/sh", "-c", "cd '" + dir_.path() + "' && " + PollBinary() + " -a 1 -b 115200 -t 4 -c 1 -r 7 --csv COM3"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Offset,Standard address,6 digit address,Hex,uint16,int16,uint32,int32,float32\n"
                   "7,40007,400007,0x0007,7,7,incomplete,incomplete,incomplete\n");
}

TEST_F(PollCli, polls_periodically_until_the_device_goes_away) {
  BackgroundProcess run({PollBinary(), "-a", "1", "-b", "115200", "-t", "4", "-c", "1", "-l", "100", "-o", "5",
                         slave_->linkPath()},
                        "", {}, dir_ / "run.log");
  ASSERT_TRUE(run.started());
  // polls 100 ms apart: wait for the third, however busy the machine is
  for (int i = 0; i < 600 && ReadFile(dir_ / "run.log").find("-- Poll 3\n") == std::string::npos; ++i) usleep(50000);
  ASSERT_NE(ReadFile(dir_ / "run.log").find("-- Poll 3\n"), std::string::npos) << ReadFile(dir_ / "run.log");
  slave_->Stop();
  EXPECT_EQ(run.Wait(4000), 12) << "ends at once with its own status, well before the 5 s time-out";
  EXPECT_NE(ReadFile(dir_ / "run.log").find("gone away"), std::string::npos);
}

TEST_F(PollCli, takes_connection_and_request_from_settings_ini) {
  std::ofstream(dir_ / "settings.ini") << "[Vantrel Modbus Scanner]\ncom_port=3\nbuad_rate=115200\n"
                                          "request_id=1\nrequest_function_code=4\nrequest_offset=3\n"
                                          "request_length=2\nrecv_time_out=2000\n";
  const std::string cd = "cd '" + dir_.path() + "' && " + PollBinary();
  RunResult r = vantrel::test::Run({"/bin/sh", "-c", cd + " --csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Offset,Standard address,6 digit address,Hex,uint16,int16,uint32,int32,float32\n"
                   "3,30003,300003,0x001E,30,30,,,\n"
                   "4,30004,300004,0x0028,40,40,2621470,2621470,0.000000\n");
  // an option overrides one value, the rest stays
  r = vantrel::test::Run({"/bin/sh", "-c", cd + " --csv -c 1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "3,30003,300003,0x001E,30,30,incomplete,incomplete,incomplete\n");
  // offset 0, as older versions stored it, reads from address 0 as offset 1 does
  std::ofstream(dir_ / "settings.ini") << "[Vantrel Modbus Scanner]\ncom_port=3\nbuad_rate=115200\n"
                                          "request_id=1\nrequest_function_code=4\nrequest_offset=0\n";
  r = vantrel::test::Run({"/bin/sh", "-c", cd + " --csv -c 1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "1,30001,300001,0x000A,10,10,incomplete,incomplete,incomplete\n");
  // another folder, other settings: slave 11 does not answer here
  std::ofstream(dir_ / "settings.ini") << "[Vantrel Modbus Scanner]\ncom_port=3\nbuad_rate=115200\nrecv_time_out=300\n";
  r = vantrel::test::Run({"/bin/sh", "-c", cd});
  EXPECT_EQ(r.status, 6);
  EXPECT_NE(r.err.find("Poll: 0B 01 00 00 00 14 "), std::string::npos) << r.err;
}

// Started in the home folder with no settings.ini there, it reads the one the desktop
// program keeps when started from the menu, and COM3 is the entry beside it.
TEST_F(PollCli, started_in_home_reads_the_settings_and_ports_of_the_config_folder) {
  TempDir home;
  const std::string config = home / ".config/vantrel-modbus-scanner";
  std::filesystem::create_directories(config);
  std::filesystem::create_symlink(slave_->linkPath(), config + "/COM3");
  std::ofstream(config + "/settings.ini") << "[Vantrel Modbus Scanner]\ncom_port=3\nbuad_rate=115200\n"
                                             "request_id=1\nrequest_function_code=4\nrequest_offset=3\n"
                                             "request_length=2\nrecv_time_out=2000\n";
  const RunResult r = vantrel::test::Run({"/bin/sh", "-c",
                                          "cd '" + home.path() + "' && HOME='" + home.path() +
                                              "' XDG_CONFIG_HOME= XDG_STATE_HOME= " + PollBinary() + " --csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Offset,Standard address,6 digit address,Hex,uint16,int16,uint32,int32,float32\n"
                   "3,30003,300003,0x001E,30,30,,,\n"
                   "4,30004,300004,0x0028,40,40,2621470,2621470,0.000000\n");
  for (const auto& entry : std::filesystem::directory_iterator(home.path())) {
    EXPECT_EQ(entry.path().filename().string().front(), '.') << entry.path() << " at the top of home";
  }
}

// -l with --csv: a header once, then a line per poll with its time, as the data log has them.
TEST_F(PollCli, timed_csv_prints_a_line_per_poll) {
  struct Case {
    std::vector<std::string> request;
    const char* header;
    const char* values;  // after the time
  };
  const Case cases[] = {
      {{"-t", "4", "-r", "1", "-c", "3"},
       "time,40001,40002,40003,40001-40002 uint32,40001-40002 int32,40001-40002 float32",
       ",1,2,3,131073,131073,0.000000"},
      {{"-t", "1", "-r", "4", "-c", "2"}, "time,10004,10005", ",1,0"},
  };
  const std::regex isoTime(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3})");
  for (const Case& c : cases) {
    std::vector<std::string> argv{PollBinary(), "-a", "1", "-b", "115200", "-l", "100", "-o", "5", "--csv"};
    argv.insert(argv.end(), c.request.begin(), c.request.end());
    argv.push_back(slave_->linkPath());
    const std::string log = dir_ / "timed.log";
    std::remove(log.c_str());
    BackgroundProcess run(argv, "", {}, log);
    ASSERT_TRUE(run.started());
    // the header and three polls, however busy the machine is; then it is stopped
    auto lines = [&] {
      std::vector<std::string> v;
      std::istringstream in(ReadFile(log));
      for (std::string line; std::getline(in, line);) v.push_back(line);
      return v;
    };
    for (int i = 0; i < 600 && lines().size() < 4; ++i) usleep(50000);
    run.Kill();
    const std::vector<std::string> got = lines();
    ASSERT_GE(got.size(), 4u) << ReadFile(log);
    EXPECT_EQ(got[0], c.header);
    for (std::size_t i = 1; i < got.size(); ++i) {
      const std::string& line = got[i];
      if (i + 1 == got.size() && ReadFile(log).back() != '\n') break;  // cut off by the kill
      const std::size_t comma = line.find(',');
      ASSERT_NE(comma, std::string::npos) << line;
      EXPECT_TRUE(std::regex_match(line.substr(0, comma), isoTime)) << line;
      EXPECT_EQ(line.substr(comma), c.values) << "no second header, no blank line: " << line;
      if (i > 1) {
        EXPECT_LT(got[i - 1].substr(0, comma), line.substr(0, comma)) << "the times go forward";
      }
    }
  }
}

namespace {

// What jq, given the options, makes of the text: its output, or "jq failed" and why when
// it cannot read the text as JSON.
std::string Jq(const TempDir& dir, std::vector<std::string> options, const std::string& text) {
  const std::string path = dir / "output.json";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  options.insert(options.begin(), "jq");
  options.push_back(path);
  const RunResult r = vantrel::test::Run(options);
  return r.status == 0 ? r.out : "jq failed: " + r.err;
}

std::size_t Lines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

}  // namespace

// --json: one object a line, read by jq, with the request and every cell of each item, or
// the failure with its status and the text of standard error.
TEST_F(PollCli, json_prints_an_object_per_poll_for_jq) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* filter;
    const char* out;  // jq's, compact
  };
  const Case cases[] = {
      {{"-t", "4", "-r", "1", "-c", "3"}, 0, "[.request | .mode, .slave_id, .function, .offset, .count, .word_order]",
       R"(["rtu",1,3,1,3,"low-first"])"},
      {{"-t", "4", "-r", "1", "-c", "3"}, 0, ".values",
       R"([{"offset":1,"address":"40001","address6":"400001","value":1,"hex":"0x0001","uint16":1,"int16":1},)"
       R"({"offset":2,"address":"40002","address6":"400002","value":2,"hex":"0x0002","uint16":2,"int16":2,)"
       R"("uint32":131073,"int32":131073,"float32":0},)"
       R"({"offset":3,"address":"40003","address6":"400003","value":3,"hex":"0x0003","uint16":3,"int16":3,)"
       R"("uint32":"incomplete","int32":"incomplete","float32":"incomplete"}])"},
      {{"-t", "0", "-r", "1", "-c", "3"}, 0, ".values",
       R"([{"offset":1,"address":"00001","address6":"000001","value":1},)"
       R"({"offset":2,"address":"00002","address6":"000002","value":0},)"
       R"({"offset":3,"address":"00003","address6":"000003","value":1}])"},
      // input registers 110 and 120 as one high-word-first value: 0x006E0078
      {{"-t", "3", "-r", "11", "-c", "2", "--word-order", "high-first"}, 0,
       "[.request.word_order, .values[1].uint32, .values[1].int32]", R"(["high-first",7209080,7209080])"},
      {{"-t", "4", "-r", "9002", "-c", "1"}, 8, "[.error.status, .values]", "[8,null]"},
      {{"-t", "4", "-r", "9021", "-c", "1", "-o", "0.3"}, 6, ".error.status", "6"},
  };
  const std::regex time(R"("\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}[+-]\d{2}:\d{2}"\n)");
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("--json");
    const RunResult r = Poll(args);
    EXPECT_EQ(r.status, c.status) << c.filter << r.err;
    EXPECT_EQ(Lines(r.out), 1u) << r.out;
    EXPECT_EQ(Jq(dir_, {"-c", c.filter}, r.out), std::string(c.out) + "\n") << r.out;
    EXPECT_TRUE(std::regex_match(Jq(dir_, {".time"}, r.out), time)) << r.out;
    // a failure's text is the one on standard error
    if (c.status != 0) {
      EXPECT_EQ(Jq(dir_, {"-j", ".error.text"}, r.out) + "\n", r.err);
    }
  }
}

// A device path with a quote, a backslash, a tab and a byte that is no UTF-8 comes through
// the failure's text and the request as JSON that jq reads back (the byte as U+FFFD).
TEST_F(PollCli, json_escapes_what_a_text_holds) {
  const RunResult r = vantrel::test::Run({PollBinary(), "--json", dir_ / "no\"such\\dev\tice\xFF"});
  EXPECT_EQ(r.status, 4) << r.err;
  const std::string path = "no\"such\\dev\tice\xEF\xBF\xBD:9600,N,8,1";
  EXPECT_NE(Jq(dir_, {"-j", ".error.text"}, r.out).find("Serial post settings: " + dir_.path() + "/" + path),
            std::string::npos) << r.out;
  EXPECT_EQ(Jq(dir_, {"-j", ".request.connection"}, r.out), dir_.path() + "/" + path) << r.out;
}

// With -l a line per poll, and the failure that ends the polls last.
TEST_F(PollCli, json_with_a_period_ends_with_the_failure) {
  const std::string log = dir_ / "json.log";
  BackgroundProcess run({PollBinary(), "-a", "1", "-b", "115200", "-t", "4", "-c", "2", "-l", "100", "-o", "5",
                         "--json", slave_->linkPath()},
                        "", {}, log);
  ASSERT_TRUE(run.started());
  for (int i = 0; i < 600 && Lines(ReadFile(log)) < 3; ++i) usleep(50000);
  slave_->Stop();
  EXPECT_EQ(run.Wait(4000), 12);
  // standard error's explanation is in the same file: the objects are the lines with '{'
  std::string objects;
  std::istringstream in(ReadFile(log));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind('{', 0) == 0) objects += line + "\n";
  }
  EXPECT_EQ(Jq(dir_, {"-sc", "map(.values[1].uint32 // .error.status) | .[-4:]"}, objects),
            "[131073,131073,131073,12]\n") << ReadFile(log);
  EXPECT_EQ(ReadFile(log).find("-- Poll"), std::string::npos) << "no poll lines between the objects";
}

// The simulator's image puts 32-bit values low word first, so a high-word-first float is
// written as its two registers: 3.5 is 0x40600000, -2.5 is 0xC0200000.
TEST(PollCliWordOrder, b_reads_a_high_word_first_float_and_writes_one_back) {
  TempDir dir;
  std::ofstream(dir / "image.txt") << "holding 0 0x4060\nholding 1 0x0000\n"
                                      "holding 2 0xC020\nholding 3 0x0000\n";
  SlaveProcess slave(dir.path(), "COM3", {"-a", "1", "-b", "115200", "-i", dir / "image.txt"});
  ASSERT_TRUE(slave.ready());
  const std::vector<std::string> base{PollBinary(), "-a", "1", "-b", "115200", "-t", "4"};
  auto poll = [&](std::vector<std::string> args) {
    std::vector<std::string> argv = base;
    argv.insert(argv.end(), args.begin(), args.end());
    return vantrel::test::Run(argv);
  };
  RunResult r = poll({"-B", "-r", "1", "-c", "4", "--csv", slave.linkPath()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Offset,Standard address,6 digit address,Hex,uint16,int16,uint32 (high word first),"
            "int32 (high word first),float32 (high word first)\n"
            "1,40001,400001,0x4060,16480,16480,,,\n"
            "2,40002,400002,0x0000,0,0,1080033280,1080033280,3.500000\n"
            "3,40003,400003,0xC020,49184,-16352,,,\n"
            "4,40004,400004,0x0000,0,0,3223322624,-1071644672,-2.500000\n");
  // without -B the same registers are another float
  r = poll({"-r", "1", "-c", "2", "--csv", slave.linkPath()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\n2,40002,400002,0x0000,0,0,16480,16480,0.000000\n"), std::string::npos) << r.out;
  // the four registers as one high-word-first double: 0x40600000C0200000
  r = poll({"-B", "--64bit", "-r", "1", "-c", "4", "--csv", slave.linkPath()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(",uint64 (high word first),int64 (high word first),float64 (high word first)\n"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find(",-2.500000,4638707619414933504,4638707619414933504,128.000092\n"), std::string::npos) << r.out;
  // a write with -B lands high word first, as the read shows it
  r = poll({"-B", "-t", "4:float", "-r", "11", slave.linkPath(), "1.5"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Wrote 2 holding registers from offset 11 (40011) with function 16, 1 float32 value: 1.5\n");
  r = poll({"-r", "11", "-c", "2", "--csv", slave.linkPath()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\n11,40011,400011,0x3FC0,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n12,40012,400012,0x0000,"), std::string::npos) << r.out;
}

// A run that timed out leaves the rest of its reply on the line: 125 registers at 9600 baud
// take about 266 ms on the wire. The next run lets the line go quiet before its request and
// reads its own reply, as mbpoll does in the same sequence.
TEST(PollCliLine, a_run_after_one_that_timed_out_reads_its_own_reply) {
  TempDir dir;
  SlaveProcess slave(dir.path(), "COM3", {"-a", "11", "-b", "9600"});
  ASSERT_TRUE(slave.ready());
  const auto poll = [&](const char* timeout) {
    return vantrel::test::Run({PollBinary(), "-b", "9600", "-t", "4", "-c", "125", "-o", timeout, "--csv", slave.linkPath()});
  };
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const RunResult cut = poll("0.1");
    EXPECT_EQ(cut.status, 6) << cut.err;
    const RunResult next = poll("1");
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_NE(next.out.find("\n125,40125,400125,0x007D,125,125,"), std::string::npos) << next.out;
  }
}
