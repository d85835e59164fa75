#include "PollOptions.h"

#include "settings/ScannerSettings.h"

#include <gtest/gtest.h>

using namespace vantrel::poll;

namespace {

PollConfig Parse(const std::vector<std::string>& args, ParseOutcome expected = ParseOutcome::Run) {
  PollConfig c;
  std::string error;
  EXPECT_EQ(ParsePollOptions(args, c, error), expected) << error;
  return c;
}

}  // namespace

TEST(poll_options, defaults_are_the_programs) {
  const PollConfig c = Parse({});
  EXPECT_EQ(c.comPort, 3);
  EXPECT_EQ(c.device, "");
  EXPECT_EQ(c.baudRate, 9600);
  EXPECT_EQ(c.parity, 'N');
  EXPECT_EQ(c.slaveId, 11);
  EXPECT_EQ(c.function, 1);
  EXPECT_EQ(c.offset, 1);
  EXPECT_EQ(c.length, 20);
  EXPECT_EQ(c.timeoutMs, 10000);
  EXPECT_EQ(c.periodMs, 0);
}

TEST(poll_options, mbpoll_style_values_joined_or_apart) {
  const PollConfig c = Parse({"-m", "rtu", "-a5", "-r", "100", "-c", "10", "-t", "4", "-b115200",
                              "-d", "7", "-s", "2", "-P", "even", "-o", "0.25", "/dev/ttyUSB0"});
  EXPECT_EQ(c.slaveId, 5);
  EXPECT_EQ(c.offset, 100);
  EXPECT_EQ(c.length, 10);
  EXPECT_EQ(c.function, 3);
  EXPECT_EQ(c.baudRate, 115200);
  EXPECT_EQ(c.dataBits, 7);
  EXPECT_EQ(c.stopBits, 2);
  EXPECT_EQ(c.parity, 'E');
  EXPECT_EQ(c.timeoutMs, 250);
  EXPECT_EQ(c.device, "/dev/ttyUSB0");
}

TEST(poll_options, types_map_to_functions_as_in_mbpoll) {
  EXPECT_EQ(Parse({"-t", "0"}).function, 1);
  EXPECT_EQ(Parse({"-t", "1"}).function, 2);
  EXPECT_EQ(Parse({"-t", "3"}).function, 4);
  EXPECT_EQ(Parse({"-t", "4"}).function, 3);
  Parse({"-t", "2"}, ParseOutcome::Error);
}

TEST(poll_options, all_parities) {
  EXPECT_EQ(Parse({"-P", "odd"}).parity, 'O');
  EXPECT_EQ(Parse({"-P", "MARK"}).parity, 'M');
  EXPECT_EQ(Parse({"-P", "space"}).parity, 'S');
  EXPECT_EQ(Parse({"-P", "none"}).parity, 'N');
  Parse({"-P", "x"}, ParseOutcome::Error);
}

TEST(poll_options, com_names_map_like_the_program) {
  EXPECT_EQ(Parse({"COM7"}).comPort, 7);
  EXPECT_EQ(Parse({"com2"}).comPort, 2);
  EXPECT_EQ(Parse({"COM7"}).device, "");
  EXPECT_EQ(Parse({"./COM3"}).device, "./COM3");
  EXPECT_EQ(ComPortNumber("COMx"), 0);
  EXPECT_EQ(ComPortNumber("COM"), 0);
}

TEST(poll_options, period_and_once) {
  EXPECT_EQ(Parse({"-l", "500"}).periodMs, 500);
  EXPECT_EQ(Parse({"-l", "500", "-1"}).periodMs, 0);
  EXPECT_TRUE(Parse({"--csv"}).csv);
}

TEST(poll_options, refuses_what_it_cannot_do) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-m", "tcp"}, {"-a", "256"}, {"-r", "0"}, {"-c", "0"}, {"-c", "2001"}, {"-b", "x"},
           {"-d", "6"}, {"-s", "3"}, {"-o", "0"}, {"-o", "abc"}, {"-l", "0"}, {"-x"}, {"-a"},
           {"a", "b"}}) {
    PollConfig c;
    std::string error;
    EXPECT_EQ(ParsePollOptions(args, c, error), ParseOutcome::Error) << args[0];
    EXPECT_FALSE(error.empty());
  }
  Parse({"--help"}, ParseOutcome::Help);
}

TEST(poll_options, settings_give_connection_and_request_and_options_override) {
  vantrel::ScannerSettings s("/nowhere");
  s.com_port = 5;
  s.buad_rate = 19200;
  s.parity = 'E';
  s.data_bits = 7;
  s.stop_bits = 2;
  s.recv_time_out = 1500;
  s.request_id = 9;
  s.request_function_code = 4;
  s.request_offset = 100;
  s.request_length = 7;
  s.poll_frequency = 5;
  PollConfig c;
  ApplySettings(s, c);
  std::string error;
  ASSERT_EQ(ParsePollOptions({"-c", "3"}, c, error), ParseOutcome::Run);
  EXPECT_EQ(c.comPort, 5);
  EXPECT_EQ(c.baudRate, 19200);
  EXPECT_EQ(c.parity, 'E');
  EXPECT_EQ(c.dataBits, 7);
  EXPECT_EQ(c.stopBits, 2);
  EXPECT_EQ(c.timeoutMs, 1500);
  EXPECT_EQ(c.slaveId, 9);
  EXPECT_EQ(c.function, 4);
  EXPECT_EQ(c.offset, 100);
  EXPECT_EQ(c.length, 3);
  EXPECT_EQ(c.periodMs, 0) << "the poll frequency is the window's, not the poller's";
}
