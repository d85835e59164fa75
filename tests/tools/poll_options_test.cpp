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
  EXPECT_TRUE(Parse({"--csv", "--cells"}).cells);
  EXPECT_TRUE(Parse({"--json", "-l", "500"}).json);
}

TEST(poll_options, refuses_what_it_cannot_do) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-m", "tcp"}, {"-a", "256"}, {"-r", "0"}, {"-c", "0"}, {"-c", "2001"}, {"-b", "x"},
           {"-d", "6"}, {"-s", "3"}, {"-o", "0"}, {"-o", "abc"}, {"-l", "0"}, {"-x"}, {"-a"},
           {"a", "b"}, {"--json", "--csv"}, {"--json", "--cells"}, {"-t", "4", "--json", "COM3", "5"}}) {
    PollConfig c;
    std::string error;
    EXPECT_EQ(ParsePollOptions(args, c, error), ParseOutcome::Error) << args[0];
    EXPECT_FALSE(error.empty());
  }
  Parse({"--help"}, ParseOutcome::Help);
  Parse({"--version"}, ParseOutcome::Version);
  Parse({"-a", "1", "-V"}, ParseOutcome::Version);
}

TEST(poll_options, modes_and_network_devices) {
  using vantrel::ModbusMode;
  struct Row {
    std::vector<std::string> args;
    ModbusMode mode;
    std::string host;
    int port;
    std::vector<std::string> values;
  };
  const Row rows[] = {
      {{"-m", "ascii", "-d", "7", "-P", "even", "/dev/ttyUSB0"}, ModbusMode::Ascii, "", 502, {}},
      {{"-m", "tcp", "192.168.1.20"}, ModbusMode::Tcp, "192.168.1.20", 502, {}},
      {{"-m", "TCP", "-p", "1502", "plc-7"}, ModbusMode::Tcp, "plc-7", 1502, {}},
      {{"plc-7:1503", "-m", "tcp", "-p", "1502"}, ModbusMode::Tcp, "plc-7", 1503, {}},  // HOST:PORT wins
      {{"-m", "rtutcp", "-t", "4:int16", "[::1]:4001", "7", "-8"}, ModbusMode::RtuOverTcp, "::1", 4001, {"7", "-8"}},
  };
  for (const Row& row : rows) {
    const PollConfig c = Parse(row.args);
    EXPECT_EQ(c.mode, row.mode) << row.args[1];
    EXPECT_EQ(c.host, row.host) << row.args[1];
    EXPECT_EQ(c.tcpPort, row.port) << row.args[1];
    EXPECT_EQ(c.values, row.values) << row.args[1];
  }
  EXPECT_EQ(Parse({"-m", "ascii", "/dev/ttyUSB0"}).device, "/dev/ttyUSB0");
  EXPECT_TRUE(Parse({"--rs485", "/dev/ttyUSB0"}).rs485);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-m", "rtutcp"}, {"-m", "tcp", "host:0"}, {"-m", "tcp", "[::1"}, {"-m", "udp", "host"}, {"-p", "0"},
           {"-p", "65536"}, {"-m", "tcp", "--rs485", "host"}}) {
    PollConfig c;
    std::string error;
    EXPECT_EQ(ParsePollOptions(args, c, error), ParseOutcome::Error) << args[1];
    EXPECT_FALSE(error.empty());
  }
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

// The mode, host, TCP port, device path and RS-485 of settings.ini, as the program uses
// them; the command line overrides each.
TEST(poll_options, settings_give_the_mode_and_its_link) {
  const struct {
    int mode;
    std::vector<std::string> args;
    ParseOutcome outcome;
    vantrel::ModbusMode expectMode;
    const char* host;
    int tcpPort;
    const char* device;
    bool rs485;
  } cases[] = {
      {2, {}, ParseOutcome::Run, vantrel::ModbusMode::Tcp, "10.0.0.5", 1502, "/dev/ttyUSB1", false},
      {3, {"plc:502"}, ParseOutcome::Run, vantrel::ModbusMode::RtuOverTcp, "plc", 502, "/dev/ttyUSB1", false},
      {2, {"-m", "rtu"}, ParseOutcome::Run, vantrel::ModbusMode::Rtu, "10.0.0.5", 1502, "/dev/ttyUSB1", true},
      {0, {}, ParseOutcome::Run, vantrel::ModbusMode::Ascii, "10.0.0.5", 1502, "/dev/ttyUSB1", true},
      {1, {"COM4"}, ParseOutcome::Run, vantrel::ModbusMode::Rtu, "10.0.0.5", 1502, "", true},
      {2, {"--rs485"}, ParseOutcome::Error, vantrel::ModbusMode::Tcp, "", 0, "", false},
      {9, {}, ParseOutcome::Run, vantrel::ModbusMode::Rtu, "10.0.0.5", 1502, "/dev/ttyUSB1", true},  // no such mode: RTU
  };
  for (const auto& c : cases) {
    vantrel::ScannerSettings s("/nowhere");
    s.modbus_mode = c.mode;
    s.tcp_host = "10.0.0.5";
    s.tcp_port = 1502;
    s.device_path = "/dev/ttyUSB1";
    s.rs485 = 1;
    PollConfig config;
    ApplySettings(s, config);
    std::string error;
    ASSERT_EQ(ParsePollOptions(c.args, config, error), c.outcome) << c.mode << " " << error;
    if (c.outcome != ParseOutcome::Run) continue;
    EXPECT_EQ(config.mode, c.expectMode) << c.mode;
    EXPECT_EQ(config.host, c.host) << c.mode;
    EXPECT_EQ(config.tcpPort, c.tcpPort) << c.mode;
    EXPECT_EQ(config.device, c.device) << c.mode;
    EXPECT_EQ(config.rs485, c.rs485) << c.mode;
  }
  vantrel::ScannerSettings noHost("/nowhere");
  noHost.modbus_mode = 2;
  PollConfig config;
  ApplySettings(noHost, config);
  std::string error;
  EXPECT_EQ(ParsePollOptions({}, config, error), ParseOutcome::Error) << "a network mode with no host anywhere";
}

namespace {

struct WriteParse {
  std::vector<std::string> args;
  int function;
  vantrel::WriteFormat format;
  std::vector<std::uint16_t> words;
  std::vector<std::string> values;
};

}  // namespace

TEST(poll_options, values_after_the_device_are_written) {
  using F = vantrel::WriteFormat;
  const WriteParse cases[] = {
      {{"-t", "4", "-r", "10", "COM3", "1234"}, 3, F::Uint16, {1234}, {"1234"}},
      {{"d", "1"}, 1, F::Coil, {1}, {"1"}},  // the program's default table: coils
      {{"-t", "0", "d", "1", "0", "on"}, 1, F::Coil, {1, 0, 1}, {"1", "0", "on"}},
      {{"-t", "4:int", "-t", "0", "d", "1"}, 1, F::Coil, {1}, {"1"}},  // the last -t counts
      {{"-t", "4:hex", "d", "0x10", "ff"}, 3, F::Hex, {0x10, 0xFF}, {"0x10", "ff"}},
      {{"-t", "4:int16", "d", "-5", "-300"}, 3, F::Int16, {0xFFFB, 0xFED4}, {"-5", "-300"}},
      {{"-t", "4:int", "d", "--", "-2"}, 3, F::Int32, {0xFFFE, 0xFFFF}, {"-2"}},
      {{"-t", "4:int32", "d", "65538"}, 3, F::Int32, {2, 1}, {"65538"}},
      {{"-t4:uint", "d", "4294967295"}, 3, F::Uint32, {0xFFFF, 0xFFFF}, {"4294967295"}},
      {{"-t", "4:float", "d", "-0.5"}, 3, F::Float32, {0x0000, 0xBF00}, {"-0.5"}},
      {{"-t", "4:float32", "d", "-.5"}, 3, F::Float32, {0x0000, 0xBF00}, {"-.5"}},
      {{"d", "1", "-t", "4"}, 3, F::Uint16, {1}, {"1"}},  // options may follow the values
      {{"-t", "4", "d", "5", "-1"}, 3, F::Uint16, {5}, {"5"}},  // a bare -1 stays "once"
      {{"-t", "4:int16", "--", "d", "-1"}, 3, F::Int16, {0xFFFF}, {"-1"}},
      {{"-t", "4", "-c", "2", "d", "1", "2"}, 3, F::Uint16, {1, 2}, {"1", "2"}},
      {{"-t", "4:int", "-c", "2", "d", "7"}, 3, F::Int32, {7, 0}, {"7"}},  // -c counts registers
  };
  for (const WriteParse& c : cases) {
    const PollConfig p = Parse(c.args);
    SCOPED_TRACE(c.args.back());
    EXPECT_TRUE(p.IsWrite());
    EXPECT_EQ(p.function, c.function);
    EXPECT_EQ(p.format, c.format);
    EXPECT_EQ(p.words, c.words);
    EXPECT_EQ(p.values, c.values);
    EXPECT_EQ(p.length, static_cast<int>(c.words.size()));
    EXPECT_FALSE(p.alwaysMultiple);
  }
  EXPECT_TRUE(Parse({"-t", "4", "--multiple", "d", "7"}).alwaysMultiple);
  EXPECT_EQ(Parse({"-t", "4", "COM3", "7"}).comPort, 3);
  EXPECT_EQ(Parse({"-t", "4", "./dev", "7"}).device, "./dev");
}

TEST(poll_options, a_register_format_on_a_read_means_the_type) {
  EXPECT_EQ(Parse({"-t", "3:hex"}).function, 4);
  EXPECT_EQ(Parse({"-t", "4:float", "-c", "4"}).function, 3);
  EXPECT_EQ(Parse({"-t", "4:float", "-c", "4"}).length, 4);
  EXPECT_FALSE(Parse({"-t", "4:int", "d", "-1"}).IsWrite());
}

TEST(poll_options, refuses_writes_it_cannot_make) {
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"-t", "3", "d", "5"}, "Input registers are read-only"},
      {{"-t", "1", "d", "1"}, "Discrete inputs are read-only"},
      {{"-t", "4", "-l", "100", "d", "5"}, "-l polls again and again, but values are written once"},
      {{"-t", "4", "-c", "3", "d", "1", "2"}, "-c 3 does not match the 2 values to write, which set 2 registers"},
      {{"-t", "4:int", "-c", "1", "d", "1"}, "-c 1 does not match the 1 value to write, which set 2 registers"},
      {{"-t", "0", "-c", "2", "d", "1"}, "which set 1 coil:"},
      {{"-t", "4", "d", "70000"}, "70000 is out of range for uint16: enter a whole number from 0 to 65535."},
      {{"-t", "4", "d", "-5"}, "-5 is out of range for uint16"},
      {{"-t", "4:int16", "d", "40000"}, "40000 is out of range for int16"},
      {{"-t", "4:hex", "d", "0x10000"}, "out of range for hex"},
      {{"-t", "4:int16", "d", "-.5"}, "\"-.5\" is not an int16 value"},
      {{"-t", "0", "d", "2"}, "\"2\" is not a coil value"},
      {{"-t", "0:hex"}, "-t 0 takes no format"},
      {{"-t", "1:int"}, "-t 1 takes no format"},
      {{"-t", "4:double"}, "-t 4:double: the register formats are 4:hex, 4:int16, 4:int, 4:uint and 4:float"},
      {{"-t", "4:"}, "the register formats are"},
      {{"-t", "2"}, "-t: type 0, 1, 3 or 4"},
      {{"--multiple", "d"}, "--multiple is for writes"},
      {{"-t", "4", "-5", "d"}, "unknown option -5 (values to write go after the device)"},
  };
  for (const auto& c : cases) {
    PollConfig config;
    std::string error;
    EXPECT_EQ(ParsePollOptions(c.args, config, error), ParseOutcome::Error) << c.says;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

TEST(poll_options, settings_choose_the_table_a_write_goes_to) {
  vantrel::ScannerSettings s("/nowhere");
  s.request_function_code = 4;
  s.request_length = 7;
  PollConfig c;
  ApplySettings(s, c);
  std::string error;
  EXPECT_EQ(ParsePollOptions({"d", "5"}, c, error), ParseOutcome::Error);
  EXPECT_NE(error.find("Input registers are read-only"), std::string::npos) << error;
  s.request_function_code = 3;
  PollConfig h;
  ApplySettings(s, h);
  ASSERT_EQ(ParsePollOptions({"d", "5", "6"}, h, error), ParseOutcome::Run) << error;
  EXPECT_EQ(h.length, 2) << "the values give the count, not the stored length";
}

TEST(poll_options, usage_names_the_writes) {
  const std::string usage = kPollUsage;
  for (const char* text : {"DEVICE [VALUE...]", "--multiple", "4:int16", "4:float", "13  the write was not confirmed"}) {
    EXPECT_NE(usage.find(text), std::string::npos) << text;
  }
}

TEST(poll_options, word_order_from_b_the_option_or_settings) {
  using O = vantrel::WordOrder;
  const struct {
    std::vector<std::string> args;
    int stored;  // settings.ini's word_order
    O order;
  } cases[] = {
      {{}, 0, O::LowFirst},
      {{}, 3, O::HighFirstSwapped},
      {{}, 9, O::LowFirst},  // no order: the default stays
      {{"-B"}, 0, O::HighFirst},
      {{"-B"}, 2, O::HighFirst},
      {{"--word-order", "low-first"}, 1, O::LowFirst},
      {{"--word-order", "high-first"}, 0, O::HighFirst},
      {{"--word-order=low-first-swapped"}, 0, O::LowFirstSwapped},
      {{"--word-order", "high-first-swapped"}, 0, O::HighFirstSwapped},
      {{"-B", "--word-order", "low-first"}, 0, O::LowFirst},  // the last one counts
      {{"--word-order", "low-first", "-B"}, 0, O::HighFirst},
  };
  for (const auto& c : cases) {
    vantrel::ScannerSettings s("/nowhere");
    s.word_order = c.stored;
    PollConfig config;
    ApplySettings(s, config);
    std::string error;
    ASSERT_EQ(ParsePollOptions(c.args, config, error), ParseOutcome::Run) << error;
    EXPECT_EQ(config.wordOrder, c.order) << c.stored << " " << c.args.size();
    EXPECT_FALSE(config.show64);
  }
  for (O order : vantrel::kWordOrders) {
    std::string name = WordOrderOptionName(order);
    EXPECT_EQ(Parse({"--word-order", name}).wordOrder, order) << name;
  }
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--word-order"}, {"--word-order", "big"}, {"--word-order="}, {"--word-order", "HIGH-FIRST"}, {"-Bx"}}) {
    PollConfig c;
    std::string error;
    EXPECT_EQ(ParsePollOptions(args, c, error), ParseOutcome::Error) << args.back();
    EXPECT_FALSE(error.empty());
  }
}

TEST(poll_options, sixty_four_bit_columns_from_the_option_or_settings) {
  EXPECT_FALSE(Parse({}).show64);
  EXPECT_TRUE(Parse({"--64bit"}).show64);
  vantrel::ScannerSettings s("/nowhere");
  s.show_64bit = 1;
  PollConfig c;
  ApplySettings(s, c);
  EXPECT_TRUE(c.show64);
}

TEST(poll_options, thirty_two_bit_writes_follow_the_word_order) {
  using F = vantrel::WriteFormat;
  const WriteParse cases[] = {
      {{"-t", "4:float", "d", "1"}, 3, F::Float32, {0x0000, 0x3F80}, {"1"}},
      {{"-B", "-t", "4:float", "d", "1"}, 3, F::Float32, {0x3F80, 0x0000}, {"1"}},
      {{"-t", "4:float", "d", "-2.5", "-B"}, 3, F::Float32, {0xC020, 0x0000}, {"-2.5"}},  // -B after the values too
      {{"--word-order", "low-first-swapped", "-t", "4:uint", "d", "305419896"}, 3, F::Uint32, {0x7856, 0x3412},
       {"305419896"}},
      {{"--word-order", "high-first-swapped", "-t", "4:int", "d", "-2"}, 3, F::Int32, {0xFFFF, 0xFEFF}, {"-2"}},
      {{"-B", "-t", "4", "d", "258"}, 3, F::Uint16, {258}, {"258"}},
  };
  for (const WriteParse& c : cases) {
    SCOPED_TRACE(c.args.front());
    const PollConfig p = Parse(c.args);
    EXPECT_EQ(p.format, c.format);
    EXPECT_EQ(p.words, c.words);
    EXPECT_EQ(p.values, c.values);
  }
}

TEST(poll_options, usage_names_the_word_orders) {
  const std::string usage = kPollUsage;
  for (const char* text : {"-B", "--word-order ORDER", "low-first ", "high-first ", "low-first-swapped",
                           "high-first-swapped", "--64bit", "word_order", "show_64bit"}) {
    EXPECT_NE(usage.find(text), std::string::npos) << text;
  }
}

// --workspace, --poll and --save-workspace, with a value apart or after '=', and what cannot
// go with them.
TEST(poll_options, workspace_options_and_what_goes_with_them) {
  const PollConfig c = Parse({"--workspace=site.json", "--poll", "A", "--poll=B, C", "-l", "500", "--json", "COM4"});
  EXPECT_EQ(c.workspace, "site.json");
  EXPECT_EQ(c.pollNames, (std::vector<std::string>{"A", "B, C"}));
  EXPECT_EQ(c.comPort, 4);
  EXPECT_EQ(OptionValue({"-b", "9600", "--workspace", "x.json"}, "--workspace"), "x.json");
  EXPECT_EQ(OptionValue({"COM3", "--", "--workspace", "x.json"}, "--workspace"), "") << "after --, a value";
  EXPECT_EQ(Parse({"--save-workspace", "out.json", "-a", "4", "-t", "3"}).saveWorkspace, "out.json");
  const struct {
    std::vector<std::string> args;
    const char* says;
  } refused[] = {
      {{"--workspace", "w.json", "-c", "4"}, "leave out -c"},
      {{"--workspace", "w.json", "-B"}, "leave out -B"},
      {{"--workspace", "w.json", "COM3", "5"}, "--workspace is for reads: give no values after the device"},
      {{"--workspace", "w.json", "--scan"}, "--workspace is for reads: --scan goes without it"},
      {{"--save-workspace", "s.json", "-t", "4", "COM3", "7"}, "--save-workspace is for reads"},
      {{"--workspace", "w.json", "--save-workspace", "s.json"}, "not a --workspace"},
      {{"--poll", "A"}, "--poll picks definitions of a --workspace file"},
      {{"--workspace"}, "option --workspace needs a value"},
  };
  for (const auto& r : refused) {
    PollConfig config;
    std::string error;
    EXPECT_EQ(ParsePollOptions(r.args, config, error), ParseOutcome::Error) << r.says;
    EXPECT_NE(error.find(r.says), std::string::npos) << error;
  }
}

// The options' line and request as the session and a workspace file hold them, and back.
TEST(poll_options, connection_and_definition_of_the_options) {
  const PollConfig c = Parse({"-b", "19200", "-P", "even", "-a", "7", "-t", "3", "-r", "5", "-c", "6", "-l", "250",
                              "-B", "--64bit", "COM4"});
  const vantrel::LineConnection line = ConnectionOf(c);
  EXPECT_EQ(line.device, "COM4");
  EXPECT_EQ(line.baud, 19200);
  EXPECT_EQ(line.parity, 'E');
  PollConfig back;
  back.device = "/dev/ttyS0";
  ApplyConnection(line, back);
  EXPECT_EQ(back.device, "") << "a port number again";
  EXPECT_EQ(ConnectionOf(back), line);
  const vantrel::PollDefinition d = DefinitionOf(c);
  EXPECT_EQ(std::vector<int>({d.slaveId, d.function, d.offset, d.length, d.periodMs}),
            std::vector<int>({7, 4, 5, 6, 250}));
  EXPECT_EQ(d.view.wordOrder, vantrel::WordOrder::HighFirst);
  EXPECT_TRUE(d.view.show64);
  ApplyDefinition(d, back);
  back.periodMs = d.periodMs;
  EXPECT_EQ(DefinitionOf(back), d);
}

// --map loads the map while the options are read, so that a bad map, an unknown item or a
// value the item cannot hold is a usage error before the line is opened.
TEST(poll_options, map_options_and_what_goes_with_them) {
  const std::string map = VANTREL_DOCS_DIR "/example-map.csv";
  const PollConfig all = Parse({"--map", map, "-a", "1", "-B", "--gap=3", "COM3"});
  EXPECT_TRUE(all.byMap);
  EXPECT_EQ(all.map.items.size(), 16u);
  EXPECT_EQ(all.mergeGap, 3);
  const vantrel::PollDefinition d = DefinitionOf(all);
  EXPECT_TRUE(d.byMap);
  EXPECT_EQ(d.map, all.map);
  EXPECT_EQ(d.view.wordOrder, vantrel::WordOrder::HighFirst);

  // --item keeps the map's order, whatever the order of the options.
  const PollConfig some = Parse({"--map", map, "--item", "Status", "--item=Voltage L1"});
  ASSERT_EQ(some.map.items.size(), 2u);
  EXPECT_EQ(some.map.items[0].name, "Voltage L1");
  EXPECT_EQ(some.map.items[1].name, "Status");

  const PollConfig write = Parse({"--map", map, "--write", "Alarm temperature=47.5", "--write=Alarm relay=on"});
  ASSERT_EQ(write.mapWrites.size(), 2u);
  EXPECT_EQ(write.mapWrites[0].item, "Alarm temperature");
  EXPECT_EQ(write.mapWrites[0].value, "47.5");
  EXPECT_EQ(write.mapWrites[1].value, "on");

  const struct {
    std::vector<std::string> args;
    const char* says;
  } refused[] = {
      {{"--map", map, "-t", "3"}, "leave out -t"},
      {{"--map", map, "-r", "5"}, "leave out -r"},
      {{"--map", map, "-c", "5"}, "leave out -c"},
      {{"--map", map, "--item", "Nope"}, "--item Nope: "},
      {{"--map", map, "--write", "Nope=1"}, "--write Nope: "},
      {{"--map", map, "--write", "Voltage L1=1"}, "\"Voltage L1\" cannot be written"},
      {{"--map", map, "--write", "Modbus address=2"}, "\"Modbus address\" cannot be written"},
      {{"--map", map, "--write", "Alarm temperature=4000"}, "-3276.8 to 3276.7"},
      {{"--map", map, "--write", "Alarm relay=maybe"}, "takes 1 or 0"},
      {{"--map", map, "--write", "Alarm relay"}, "NAME=VALUE"},
      {{"--map", map, "--write", "Alarm relay=1", "-l", "100"}, "leave out -l"},
      {{"--map", map, "--write", "Alarm relay=1", "--json"}, "--json is for reads"},
      {{"--map", map, "COM3", "5"}, "--write NAME=VALUE, not values"},
      {{"--map", map, "--workspace", "w.json"}, "maps of their own"},
      {{"--map", map, "--scan"}, "--scan goes without it"},
      {{"--map", map, "--gap", "-1"}, "--gap: "},
      {{"--map", "/nonexistent/map.csv"}, "--map: "},
      {{"--item", "Status"}, "--item names items of a --map file"},
      {{"--write", "Status=1"}, "--write names items of a --map file"},
      {{"--gap", "2"}, "--gap names items of a --map file"},
  };
  for (const auto& r : refused) {
    PollConfig config;
    std::string error;
    EXPECT_EQ(ParsePollOptions(r.args, config, error), ParseOutcome::Error) << r.says;
    EXPECT_NE(error.find(r.says), std::string::npos) << error;
  }
}

TEST(poll_options, monitor_options_and_what_goes_with_them) {
  const PollConfig m = Parse({"--monitor", "-m", "ascii", "-b", "19200", "-P", "even", "-d", "7", "--count", "5",
                              "--duration=2.5", "--reply-window", "250", "--pcap", "bus.pcap", "--json", "/dev/ttyUSB1"});
  EXPECT_TRUE(m.monitor);
  EXPECT_EQ(m.mode, vantrel::ModbusMode::Ascii);
  EXPECT_EQ(m.baudRate, 19200);
  EXPECT_EQ(m.parity, 'E');
  EXPECT_EQ(m.dataBits, 7);
  EXPECT_EQ(m.monitorCount, 5);
  EXPECT_DOUBLE_EQ(m.monitorSeconds, 2.5);
  EXPECT_DOUBLE_EQ(m.replyWindowMs, 250);
  EXPECT_EQ(m.pcapPath, "bus.pcap");
  EXPECT_EQ(m.device, "/dev/ttyUSB1");

  const struct {
    std::vector<std::string> args;
    const char* says;
  } refused[] = {
      {{"--monitor", "-a", "3", "COM3"}, "leave out -a"},
      {{"--monitor", "-t", "4", "COM3"}, "leave out -t"},
      {{"--monitor", "-r", "10", "COM3"}, "leave out -r"},
      {{"--monitor", "-c", "2", "COM3"}, "leave out -c"},
      {{"--monitor", "-l", "100", "COM3"}, "leave out -l"},
      {{"--monitor", "-o", "1", "COM3"}, "leave out -o"},
      {{"--monitor", "-B", "COM3"}, "leave out -B"},
      {{"--monitor", "--rs485", "COM3"}, "--rs485 would drive RTS"},
      {{"--monitor", "COM3", "1", "2"}, "writes nothing"},
      {{"--monitor", "--map", "m.csv", "COM3"}, "leave out --map"},
      {{"--monitor", "--workspace", "w.json"}, "leave out --workspace"},
      {{"--monitor", "--scan"}, "leave out --scan"},
      {{"--monitor", "--id-info"}, "leave out --id-info"},
      {{"--monitor", "--cells"}, "--cells is the response table's"},
      {{"--monitor", "-m", "tcp", "127.0.0.1"}, "-m rtu or ascii"},
      {{"--monitor", "--csv", "--json"}, "two outputs"},
      {{"--monitor", "--count", "0"}, "--count: "},
      {{"--monitor", "--duration", "-1"}, "--duration: "},
      {{"--monitor", "--pcap"}, "--pcap needs a value"},
      {{"--count", "3", "COM3"}, "--count goes with --monitor"},
      {{"--pcap=x.pcap", "COM3"}, "--pcap goes with --monitor"},
      {{"--duration", "1", "COM3"}, "--duration goes with --monitor"},
  };
  for (const auto& r : refused) {
    PollConfig config;
    std::string error;
    EXPECT_EQ(ParsePollOptions(r.args, config, error), ParseOutcome::Error) << r.says;
    EXPECT_NE(error.find(r.says), std::string::npos) << error;
  }
  // settings.ini's RS-485 switch would drive RTS: a monitor leaves it off.
  PollConfig fromSettings;
  fromSettings.rs485 = true;
  std::string error;
  ASSERT_EQ(ParsePollOptions({"--monitor", "COM3"}, fromSettings, error), ParseOutcome::Run) << error;
  EXPECT_FALSE(fromSettings.rs485);
}

// The requests of any function: what each option reads, the PDU MakePdu builds from it (or
// the check that refuses it), and the combinations refused on the command line.
TEST(poll_options, requests_of_any_function) {
  using namespace vantrel;
  const struct {
    std::vector<std::string> args;
    const char* error;  // a piece of the usage error; nullptr when it parses
    int check;          // MakePdu's result
    const char* pdu;    // the PDU built, in hex
  } cases[] = {
      {{"--raw", "08 00 00 A5 37"}, nullptr, MB_REQUEST_OK, "08 00 00 A5 37 "},
      {{"--raw=0800,00A537"}, nullptr, MB_REQUEST_OK, "08 00 00 A5 37 "},
      {{"--raw", "41"}, nullptr, MB_REQUEST_OK, "41 "},  // no function the program knows: sent as it is
      {{"--raw", "08 01"}, nullptr, MB_REQUEST_BAD_PDU_SIZE, ""},
      {{"--raw", "00"}, nullptr, MB_REQUEST_UNKNOWN_FUNCTION_CODE, ""},
      {{"-a", "0", "--raw", "06 00 01 00 05"}, nullptr, MB_REQUEST_OK, "06 00 01 00 05 "},
      {{"-a", "0", "--raw", "03 00 00 00 01"}, nullptr, MB_REQUEST_NO_BROADCAST, ""},
      {{"--diag", "0:A537"}, nullptr, MB_REQUEST_OK, "08 00 00 A5 37 "},
      {{"--diag", "0:A537 1234"}, nullptr, MB_REQUEST_OK, "08 00 00 A5 37 12 34 "},
      {{"--diag", "11"}, nullptr, MB_REQUEST_OK, "08 00 0B 00 00 "},
      {{"--diag", "1:FF00"}, nullptr, MB_REQUEST_OK, "08 00 01 FF 00 "},
      {{"--diag", "11:0001"}, nullptr, MB_REQUEST_BAD_FIELD, ""},
      {{"-a", "0", "--diag", "11"}, nullptr, MB_REQUEST_NO_BROADCAST, ""},
      {{"--report-id"}, nullptr, MB_REQUEST_OK, "11 "},
      {{"--exception-status"}, nullptr, MB_REQUEST_OK, "07 "},
      {{"--event-counter"}, nullptr, MB_REQUEST_OK, "0B "},
      {{"--event-log"}, nullptr, MB_REQUEST_OK, "0C "},
      {{"--mask-write", "5:0xFFF0:3"}, nullptr, MB_REQUEST_OK, "16 00 04 FF F0 00 03 "},
      {{"-a", "0", "--mask-write", "65536:65535:0"}, nullptr, MB_REQUEST_OK, "16 FF FF FF FF 00 00 "},
      {{"--fifo", "3"}, nullptr, MB_REQUEST_OK, "18 00 02 "},
      {{"--file-read", "1:0:10"}, nullptr, MB_REQUEST_OK, "14 07 06 00 01 00 00 00 0A "},
      {{"--file-read", "1:10000:1"}, nullptr, MB_REQUEST_BAD_FIELD, ""},
      {{"--file-read", "1:9999:2"}, nullptr, MB_REQUEST_OUT_OF_RANGE, ""},
      {{"--read-write", "-r", "10", "-c", "2", "d", "1", "2"}, nullptr, MB_REQUEST_OK,
       "17 00 09 00 02 00 09 00 02 04 00 01 00 02 "},
      {{"--read-write", "-t", "4:int", "-c", "1", "--write-ref", "20", "d", "--", "-1"}, nullptr, MB_REQUEST_OK,
       "17 00 00 00 01 00 13 00 02 04 FF FF FF FF "},
      {{"--read-write", "-c", "126", "d", "1"}, nullptr, MB_REQUEST_BAD_QUANTITY, ""},
      // refused on the command line
      {{"--raw", "0x08"}, "--raw: the PDU in hex", 0, ""},
      {{"--raw", "080"}, "--raw: the PDU in hex", 0, ""},
      {{"--diag", "x"}, "--diag: SUB[:DATA]", 0, ""},
      {{"--diag", "0:A53"}, "hex words of four digits", 0, ""},
      {{"--mask-write", "5:0x1FFFF:3"}, "--mask-write: REF:AND:OR", 0, ""},
      {{"--mask-write", "0:1:1"}, "--mask-write: REF:AND:OR", 0, ""},
      {{"--fifo", "0"}, "--fifo: the FIFO's pointer register", 0, ""},
      {{"--file-read", "1:2"}, "--file-read: FILE:RECORD:LENGTH", 0, ""},
      {{"--report-id=1"}, "--report-id takes no value", 0, ""},
      {{"--raw", "11", "--diag", "0"}, "--raw and --diag are two requests: give one of them", 0, ""},
      {{"--diag", "0", "-l", "100"}, "--diag sends one request: leave out -l", 0, ""},
      {{"--report-id", "--map", "m.csv"}, "--report-id sends one request: leave out --map", 0, ""},
      {{"--report-id", "--scan"}, "leave out --scan", 0, ""},
      {{"--report-id", "--workspace", "w.json"}, "leave out --workspace", 0, ""},
      {{"--monitor", "--event-log", "d"}, "--monitor only listens to the line: leave out --event-log", 0, ""},
      {{"--diag", "0", "--csv"}, "--csv is for tables", 0, ""},
      {{"--diag", "0", "--multiple"}, "--multiple is for the writes", 0, ""},
      {{"--report-id", "-t", "4"}, "--report-id makes the whole request: leave out -t", 0, ""},
      {{"--fifo", "1", "d", "5"}, "--fifo takes no values after the device", 0, ""},
      {{"--read-write", "-t", "3", "d", "1"}, "--read-write reads and writes holding registers", 0, ""},
      {{"--read-write", "d"}, "give at least one", 0, ""},
      {{"--read-write", "d", "70000"}, "70000 is out of range for uint16", 0, ""},
      {{"--write-ref", "5", "d", "1"}, "--write-ref is where --read-write writes", 0, ""},
      {{"--turnaround", "-1"}, "--turnaround: milliseconds", 0, ""},
  };
  for (const auto& c : cases) {
    std::string trace;
    for (const std::string& a : c.args) trace += a + " ";
    SCOPED_TRACE(trace);
    PollConfig config;
    std::string error;
    const ParseOutcome outcome = ParsePollOptions(c.args, config, error);
    if (c.error != nullptr) {
      EXPECT_EQ(outcome, ParseOutcome::Error);
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      continue;
    }
    ASSERT_EQ(outcome, ParseOutcome::Run) << error;
    ASSERT_TRUE(config.IsPdu());
    std::vector<std::uint8_t> pdu;
    EXPECT_EQ(MakePdu(config, pdu), c.check);
    EXPECT_EQ(vantrel::HexBytes(pdu.data(), static_cast<int>(pdu.size())), c.pdu);
  }
}

TEST(poll_options, slave_id_zero_and_the_turnaround) {
  EXPECT_EQ(Parse({"-a", "0", "-t", "4", "d", "5"}).slaveId, 0);  // a broadcast write
  EXPECT_EQ(ConnectionOf(Parse({})).turnaroundMs, 100);
  EXPECT_EQ(ConnectionOf(Parse({"--turnaround", "250"})).turnaroundMs, 250);
  EXPECT_FALSE(Parse({"-a", "0"}).IsPdu());
}
