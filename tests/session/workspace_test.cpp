// The workspace file: what it reads, what it refuses and why, what it writes, and how it
// maps onto settings.ini.
#include "session/Workspace.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "settings/ScannerSettings.h"
#include "settings/test_folder.h"

namespace vantrel {

// A failed comparison shows the workspaces as their files.
void PrintTo(const Workspace& ws, std::ostream* os) { *os << WorkspaceJson(ws); }

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using Json = nlohmann::ordered_json;

// The example of the file format, as scripts are told to write it.
constexpr char kMinimal[] = R"({"format": "vantrel-workspace", "version": 1,
 "connection": {"mode": "rtu", "device": "COM3", "baud": 9600, "data_bits": 8,
                "parity": "N", "stop_bits": 1, "rs485": false,
                "host": "", "port": 502, "timeout_ms": 1000},
 "polls": [{"name": "Voltages", "slave_id": 1, "function": 3, "offset": 1,
            "length": 10, "period_ms": 1000, "enabled": true}]})";

PollDefinition Poll(std::string name, int slaveId, int function, int offset, int length, int periodMs) {
  PollDefinition p;
  p.name = std::move(name);
  p.slaveId = slaveId;
  p.function = function;
  p.offset = offset;
  p.length = length;
  p.periodMs = periodMs;
  return p;
}

TEST(workspace_test, the_formats_example_loads_exactly) {
  Workspace ws;
  std::string error;
  ASSERT_TRUE(ReadWorkspace(kMinimal, "site.json", ws, error)) << error;
  Workspace expected;
  expected.connection.timeoutMs = 1000;  // the rest is LineConnection's defaults
  expected.polls = {Poll("Voltages", 1, 3, 1, 10, 1000)};
  EXPECT_EQ(ws, expected);
}

TEST(workspace_test, the_documented_example_loads_and_is_written_back_as_it_stands) {
  const std::string path = VANTREL_DOCS_DIR "/example-workspace.json";
  Workspace ws;
  std::string error;
  ASSERT_TRUE(LoadWorkspace(path, ws, error)) << error;
  Workspace expected;
  expected.connection = {ModbusMode::Rtu, "/dev/ttyUSB0", 19200, 8, 'E', 1, true, "", 502, 1000};
  expected.polls = {Poll("Voltages", 1, 3, 1, 10, 1000), Poll("Energy counters", 1, 4, 100, 20, 250),
                    Poll("Relays of meter 7", 7, 1, 1, 16, 0)};
  expected.polls[0].view.wordOrder = WordOrder::HighFirst;
  expected.polls[1].view = {WordOrder::HighFirst, true, false};
  expected.polls[1].policy = FailurePolicy::KeepPolling;
  expected.polls[2].enabled = false;
  expected.polls[2].view.wireAddress = true;
  EXPECT_EQ(ws, expected);
  EXPECT_EQ(WorkspaceJson(ws), test::ReadFile(path));
}

// A file with one member added in the connection or in the third poll, or a whole text.
struct BadFile {
  enum Where { Text, Connection, ThirdPoll } where;
  std::string member;
  std::string refusal;  // what the message says after "site.json: " (its start)
};

std::string FileWith(const BadFile& c) {
  if (c.where == BadFile::Text) return c.member;
  const std::string connection = c.where == BadFile::Connection ? "," + c.member : "";
  const std::string poll = c.where == BadFile::ThirdPoll ? "," + c.member : "";
  return R"({"format": "vantrel-workspace", "version": 1, "connection": {"device": "COM1")" + connection +
         R"(}, "polls": [{}, {"function": 4}, {"name": "third")" + poll + "}]}";
}

TEST(workspace_test, a_bad_file_is_refused_naming_the_member_and_nothing_is_applied) {
  const BadFile cases[] = {
      {BadFile::Text, "not json", "not JSON: parse error at line 1, column 2"},
      {BadFile::Text, "", "not JSON: parse error at line 1, column 1"},
      {BadFile::Text, "{\"format\": \"vantrel-workspace\", \"version\": 1, \"polls\": [{\"name\": \"\xff\"}]}",
       "not JSON: parse error"},
      {BadFile::Text, "[1]", "must be a JSON object {...}, not [1]"},
      {BadFile::Text, R"({"version": 1})", "format: missing"},
      {BadFile::Text, R"({"format": "vantrel-poll", "version": 1})",
       R"(format: must be "vantrel-workspace", not "vantrel-poll")"},
      {BadFile::Text, R"({"format": "vantrel-workspace"})", "version: missing"},
      {BadFile::Text, R"({"format": "vantrel-workspace", "version": 2})",
       "version: 2 is newer than this program reads (1)"},
      {BadFile::Text, R"({"format": "vantrel-workspace", "version": "1"})", R"(version: must be 1, not "1")"},
      {BadFile::Text, R"({"format": "vantrel-workspace", "version": 0})", "version: must be 1, not 0"},
      {BadFile::Text, R"({"format": "vantrel-workspace", "version": 1, "connection": []})",
       "connection: must be an object {...}, not []"},
      {BadFile::Text, R"({"format": "vantrel-workspace", "version": 1, "polls": {}})",
       "polls: must be a list [...], not {}"},
      {BadFile::Text, R"({"format": "vantrel-workspace", "version": 1, "polls": [1]})",
       "polls[0]: must be an object {...}, not 1"},
      {BadFile::Connection, R"("mode": "modbus")", R"(connection.mode: must be rtu, ascii, tcp or rtutcp, not "modbus")"},
      {BadFile::Connection, R"("mode": "RTU")", R"(connection.mode: must be rtu, ascii, tcp or rtutcp, not "RTU")"},
      {BadFile::Connection, R"("device": "")",
       R"(connection.device: must name the serial port (COMn or a device path), not "")"},
      {BadFile::Connection, R"("baud": "9600")", R"(connection.baud: must be a whole number, not "9600")"},
      {BadFile::Connection, R"("baud": 9600.5)", "connection.baud: must be a whole number, not 9600.5"},
      {BadFile::Connection, R"("baud": 0)", "connection.baud: must be a baud rate above 0, not 0"},
      {BadFile::Connection, R"("baud": 99999999999)", "connection.baud: 99999999999 is out of range"},
      {BadFile::Connection, R"("data_bits": 9)", "connection.data_bits: must be 7 or 8, not 9"},
      {BadFile::Connection, R"("parity": "X")", R"(connection.parity: must be N, O, E, M or S, not "X")"},
      {BadFile::Connection, R"("parity": "NE")", R"(connection.parity: must be N, O, E, M or S, not "NE")"},
      {BadFile::Connection, R"("stop_bits": 3)", "connection.stop_bits: must be 1, 1.5 or 2, not 3"},
      {BadFile::Connection, R"("stop_bits": "1")", R"(connection.stop_bits: must be 1, 1.5 or 2, not "1")"},
      {BadFile::Connection, R"("rs485": 1)", "connection.rs485: must be true or false, not 1"},
      {BadFile::Connection, R"("host": 5)", "connection.host: must be a text in quotes, not 5"},
      {BadFile::Connection, R"("port": 0)", "connection.port: must be 1 to 65535, not 0"},
      {BadFile::Connection, R"("port": 65536)", "connection.port: must be 1 to 65535, not 65536"},
      {BadFile::Connection, R"("timeout_ms": -1)", "connection.timeout_ms: must be 0 or more, not -1"},
      {BadFile::Connection, R"("turnaround_ms": -5)", "connection.turnaround_ms: must be 0 or more, not -5"},
      {BadFile::ThirdPoll, R"("name": 3)", "polls[2].name: must be a text in quotes, not 3"},
      {BadFile::ThirdPoll, R"("slave_id": 0)", "polls[2].slave_id: must be 1 to 255, not 0"},
      {BadFile::ThirdPoll, R"("slave_id": 256)", "polls[2].slave_id: must be 1 to 255, not 256"},
      {BadFile::ThirdPoll, R"("slave_id": 1.0)", "polls[2].slave_id: must be a whole number, not 1.0"},
      {BadFile::ThirdPoll, R"("function": 5)", "polls[2].function: must be 1, 2, 3 or 4, not 5"},
      {BadFile::ThirdPoll, R"("offset": -1)", "polls[2].offset: must be 0 to 65536, not -1"},
      {BadFile::ThirdPoll, R"("offset": 65537)", "polls[2].offset: must be 0 to 65536, not 65537"},
      {BadFile::ThirdPoll, R"("length": 0)", "polls[2].length: must be 1 to 2000 for function 1, not 0"},
      {BadFile::ThirdPoll, R"("length": 2001)", "polls[2].length: must be 1 to 2000 for function 1, not 2001"},
      {BadFile::ThirdPoll, R"("function": 3, "length": 200)",
       "polls[2].length: must be 1 to 125 for function 3, not 200"},
      {BadFile::ThirdPoll, R"("function": 3, "offset": 9990, "length": 20)",
       "polls[2].length: offset 9990 and length 20 go past the last address function 3 reads (offset + "
       "length at most 10000)"},
      {BadFile::ThirdPoll, R"("period_ms": 50)", "polls[2].period_ms: must be 0 (once) or at least 100, not 50"},
      {BadFile::ThirdPoll, R"("enabled": "yes")", R"(polls[2].enabled: must be true or false, not "yes")"},
      {BadFile::ThirdPoll, R"("on_failure": "ignore")", R"(polls[2].on_failure: must be "stop" or "keep", not "ignore")"},
      {BadFile::ThirdPoll, R"("word_order": "big")",
       R"(polls[2].word_order: must be low-first, high-first, low-first-swapped or high-first-swapped, not "big")"},
      {BadFile::ThirdPoll, R"("show_64bit": 1)", "polls[2].show_64bit: must be true or false, not 1"},
      {BadFile::ThirdPoll, R"("wire_address": null)", "polls[2].wire_address: must be true or false, not null"},
      {BadFile::ThirdPoll, R"("by_map": 1)", "polls[2].by_map: must be true or false, not 1"},
      {BadFile::ThirdPoll, R"("merge_gap": 126)", "polls[2].merge_gap: must be 0 to 125, not 126"},
      {BadFile::ThirdPoll, R"("merge_gap": -1)", "polls[2].merge_gap: must be 0 to 125, not -1"},
      // The map: each item's members, then the rules between items, as a CSV map's.
      {BadFile::ThirdPoll, R"("map": {})", "polls[2].map: must be a list [...], not {}"},
      {BadFile::ThirdPoll, R"("map": [1])", "polls[2].map[0]: must be an object {...}, not 1"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A"}])",
       "polls[2].map[0].address: missing: every item needs an address"},
      {BadFile::ThirdPoll, R"("map": [{"address": 1}])", "polls[2].map[0].name: missing: every item needs a name"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": "1"}])",
       R"(polls[2].map[0].address: must be a whole number, not "1")"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 0}])",
       "polls[2].map[0].address: must be 1 to 65536 (the offset, counted from 1), not 0"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 65535, "type": "float64"}])",
       "polls[2].map[0].address: holding registers 65535 to 65538 go past the last register, 65536"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1, "table": "holdings"}])",
       R"(polls[2].map[0].table: must be coil, discrete, input or holding, not "holdings")"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1, "type": 5}])",
       R"(polls[2].map[0].type: must be a type in quotes, such as "float32", not 5)"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1, "type": "flaot32"}])",
       R"(polls[2].map[0].type: unknown type "flaot32"; the types are bool, uint16, int16, uint32, int32, float32,)"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1, "type": "string:0"}])",
       R"(polls[2].map[0].type: "string:0": string:N takes N, the registers it spans, from 1 to 125)"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1, "table": "coil", "type": "uint16"}])",
       "polls[2].map[0].type: a coil is one bit, of type bool, not uint16"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1, "word_order": "big"}])",
       R"(polls[2].map[0].word_order: must be low-first, high-first, low-first-swapped or high-first-swapped, not "big")"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1, "scale": "0.1"}])",
       R"(polls[2].map[0].scale: must be a number, not "0.1")"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1, "scale": 0}])",
       "polls[2].map[0].scale: must be a number other than 0, not 0"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1, "type": "bit:2", "offset": 1}])",
       "polls[2].map[0].offset: only numeric types take one, not bit:2"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1, "decimals": 16}])",
       "polls[2].map[0].decimals: must be 0 to 15, not 16"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1, "unit": 5}])",
       "polls[2].map[0].unit: must be a text in quotes, not 5"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1, "writable": "yes"}])",
       R"(polls[2].map[0].writable: must be true or false, not "yes")"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1, "table": "input", "writable": true}])",
       "polls[2].map[0].writable: input registers cannot be written; only coils and holding registers can"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1, "value": [1]}])",
       "polls[2].map[0].value: must be a text in quotes or a number, not [1]"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1, "type": "int16", "value": 40000}])",
       R"(polls[2].map[0].value: "A" takes a whole number from -32768 to 32767, not 40000)"},
      {BadFile::ThirdPoll, R"("map": [{"name": "A", "address": 1}, {"name": "A", "address": 2}])",
       R"(polls[2].map[1].name: another item is named "A" too (map[0]))"},
      {BadFile::ThirdPoll,
       R"("map": [{"name": "A", "address": 1, "type": "uint32"}, {"name": "B", "address": 2, "type": "bit:0"}])",
       R"(polls[2].map[1].address: "B" (bit 0 of holding register 2) overlaps "A" (holding registers 1 to 2, map[0]))"},
  };
  Workspace before;
  before.polls = {Poll("kept", 5, 3, 1, 2, 0)};
  for (const BadFile& c : cases) {
    Workspace ws = before;
    std::string error;
    EXPECT_FALSE(ReadWorkspace(FileWith(c), "site.json", ws, error)) << c.member;
    EXPECT_THAT(error, StartsWith("site.json: " + c.refusal)) << c.member;
    EXPECT_EQ(ws, before) << c.member;
  }
  // Each case's file is sound but for its member.
  Workspace ws;
  std::string error;
  EXPECT_TRUE(ReadWorkspace(FileWith({BadFile::ThirdPoll, R"("function": 2)", ""}), "site.json", ws, error)) << error;

  testing::TempFolder folder;
  EXPECT_FALSE(LoadWorkspace(folder.File("absent.json"), ws, error));
  EXPECT_EQ(error, folder.File("absent.json") + ": cannot be read: No such file or directory");
  EXPECT_FALSE(LoadWorkspace(folder.path(), ws, error));
  EXPECT_EQ(error, folder.path() + ": cannot be read: Is a directory");
}

TEST(workspace_test, save_then_load_gives_the_same_workspace_unknown_members_and_all) {
  // A file that a later version, or another tool, wrote: members this reader does not know
  // at each level.
  const std::string later = R"({"format": "vantrel-workspace", "version": 1, "comment": {"by": "script"},
    "connection": {"mode": "tcp", "host": "plc-7", "port": 1502, "gateway": [1, 2], "stop_bits": 1.5,
                   "parity": "m", "timeout_ms": 0, "turnaround_ms": 250},
    "polls": [{"name": "Meter", "colour": "red", "on_failure": "keep", "word_order": "high-first-swapped",
               "show_64bit": true, "wire_address": true, "function": 4, "offset": 0, "length": 125,
               "slave_id": 255, "period_ms": 100, "enabled": false}, {"name": "Second"}]})";
  Workspace ws;
  std::string error;
  ASSERT_TRUE(ReadWorkspace(later, "later.json", ws, error)) << error;
  EXPECT_EQ(ws.unknownFields, R"({"comment":{"by":"script"}})");
  EXPECT_EQ(ws.unknownConnectionFields, R"({"gateway":[1,2]})");
  EXPECT_EQ(ws.polls[0].unknownFields, R"({"colour":"red"})");
  EXPECT_EQ(ws.polls[1].unknownFields, "");
  EXPECT_EQ(ws.connection.stopBits, 3);
  EXPECT_EQ(ws.connection.parity, 'M');
  EXPECT_EQ(ws.connection.turnaroundMs, 250);

  testing::TempFolder folder;
  ASSERT_TRUE(SaveWorkspace(folder.File("w.json"), ws, error)) << error;
  Workspace loaded;
  ASSERT_TRUE(LoadWorkspace(folder.File("w.json"), loaded, error)) << error;
  EXPECT_EQ(loaded, ws);

  const std::string saved = folder.Read("w.json");
  for (const char* member : {"format", "version", "connection", "mode", "device", "baud", "data_bits", "parity",
                             "stop_bits", "rs485", "host", "port", "timeout_ms", "turnaround_ms", "polls", "name", "slave_id",
                             "function", "offset", "length", "period_ms", "enabled", "on_failure", "word_order",
                             "show_64bit", "wire_address", "comment", "gateway", "colour"}) {
    EXPECT_THAT(saved, HasSubstr("\"" + std::string(member) + "\": ")) << member;
  }
  EXPECT_THAT(saved, StartsWith("{\n  \"format\": \"vantrel-workspace\",\n  \"version\": 1,\n"));
  EXPECT_THAT(saved, HasSubstr("\"stop_bits\": 1.5,"));
  EXPECT_THAT(saved, HasSubstr("\"wire_address\": true,\n      \"colour\": \"red\"\n"));
}

TEST(workspace_test, a_definitions_map_is_written_with_the_members_that_differ_from_the_defaults_and_read_back) {
  Workspace ws;
  PollDefinition& p = ws.polls.emplace_back(Poll("Meter", 1, 4, 1, 10, 1000));
  p.byMap = true;
  p.mergeGap = 0;
  const auto add = [&p](const char* name, MapTable table, int address) -> MapItem& {
    MapItem& item = p.map.items.emplace_back();
    item.name = name;
    item.table = table;
    item.address = address;
    item.type = IsBitTable(table) ? MapType::Bool : MapType::Uint16;
    item.writable = DefaultWritable(table);
    return item;
  };
  add("Plain", MapTable::Holding, 40101);  // an offset, never a reference here
  MapItem& v = add("Voltage L1, N", MapTable::Input, 1);
  v.type = MapType::Float32;
  v.wordOrder = WordOrder::HighFirst;
  v.scale = 0.1;
  v.offset = -273.15;
  v.unit = "°C";
  v.decimals = 2;
  v.description = "phase \"one\"\nto neutral";
  v.value = "21.45";
  MapItem& s = add("Serial", MapTable::Holding, 200);
  s.type = MapType::String;
  s.stringRegisters = 8;
  s.writable = false;
  s.unknownFields = R"({"colour":"red"})";
  MapItem& b = add("Run", MapTable::Holding, 300);
  b.type = MapType::Bit;
  b.bit = 15;
  b.value = "1";
  add("Relay", MapTable::Coil, 1).value = "0";
  ASSERT_EQ(WorkspaceProblem(ws), "");

  testing::TempFolder folder;
  std::string error;
  ASSERT_TRUE(SaveWorkspace(folder.File("w.json"), ws, error)) << error;
  Workspace loaded;
  ASSERT_TRUE(LoadWorkspace(folder.File("w.json"), loaded, error)) << error;
  EXPECT_EQ(loaded, ws);

  const Json saved = Json::parse(folder.Read("w.json"));
  const Json& poll = saved["polls"][0];
  EXPECT_EQ(poll["by_map"], true);
  EXPECT_EQ(poll["merge_gap"], 0);
  const Json expected = Json::parse(R"([
    {"name": "Plain", "table": "holding", "address": 40101, "type": "uint16"},
    {"name": "Voltage L1, N", "table": "input", "address": 1, "type": "float32", "word_order": "high-first",
     "scale": 0.1, "offset": -273.15, "unit": "°C", "decimals": 2, "description": "phase \"one\"\nto neutral",
     "value": "21.45"},
    {"name": "Serial", "table": "holding", "address": 200, "type": "string:8", "writable": false, "colour": "red"},
    {"name": "Run", "table": "holding", "address": 300, "type": "bit:15", "value": "1"},
    {"name": "Relay", "table": "coil", "address": 1, "type": "bool", "value": "0"}])");
  EXPECT_EQ(poll["map"], expected);

  // Types and tables as a script may spell them, a number for a value, members left out.
  const std::string script = R"({"format": "vantrel-workspace", "version": 1, "polls": [{"map": [
      {"name": "T", "address": 7, "type": "INT16", "scale": 0.5, "value": 2.5},
      {"name": "D", "table": "Discrete", "address": 7}]}]})";
  ASSERT_TRUE(ReadWorkspace(script, "s.json", loaded, error)) << error;
  const RegisterMap& map = loaded.polls[0].map;
  ASSERT_EQ(map.items.size(), 2u);
  EXPECT_EQ(map.items[0].type, MapType::Int16);
  EXPECT_EQ(map.items[0].value, "2.5");
  EXPECT_TRUE(map.items[0].writable);
  EXPECT_EQ(map.items[1].table, MapTable::Discrete);
  EXPECT_EQ(map.items[1].type, MapType::Bool);
  EXPECT_FALSE(map.items[1].writable);
  EXPECT_FALSE(loaded.polls[0].byMap);
  EXPECT_EQ(loaded.polls[0].mergeGap, kDefaultMergeGap);

  // A definition without a map keeps the members it had before maps.
  const std::string plain = WorkspaceJson(loaded);
  loaded.polls[0].map.items.clear();
  EXPECT_THAT(plain, HasSubstr("\"merge_gap\": 8"));
  EXPECT_THAT(WorkspaceJson(loaded), Not(HasSubstr("merge_gap")));
  EXPECT_THAT(WorkspaceJson(loaded), Not(HasSubstr("by_map")));
}

TEST(workspace_test, settings_become_a_one_poll_workspace_and_go_back_in_the_same_keys) {
  testing::TempFolder a, b;
  ScannerSettings s(a.path());
  s.modbus_mode = 0;
  s.com_port = 4;
  s.buad_rate = 19200;
  s.data_bits = 7;
  s.parity = 'E';
  s.stop_bits = 3;
  s.rs485 = 1;
  s.tcp_host = "gw";
  s.tcp_port = 4001;
  s.recv_time_out = 500;
  s.turnaround_ms = 40;
  s.request_id = 17;
  s.request_function_code = 3;
  s.request_offset = 100;
  s.request_length = 10;
  s.SetPollPeriodMs(250);
  s.keep_polling_on_failure = 1;
  s.word_order = 3;
  s.show_64bit = 1;
  s.show_wire_address = 1;

  const Workspace ws = WorkspaceFromSettings(s);
  Workspace expected;
  expected.connection = {ModbusMode::Ascii, "COM4", 19200, 7, 'E', 3, true, "gw", 4001, 500, 40};
  expected.polls = {Poll("", 17, 3, 100, 10, 250)};
  expected.polls[0].policy = FailurePolicy::KeepPolling;
  expected.polls[0].view = {WordOrder::HighFirstSwapped, true, true};
  EXPECT_EQ(ws, expected);

  // Back into other settings: every key of settings.ini, the fifteen first ones among them,
  // as the first settings hold it.
  ScannerSettings back(b.path());
  back.logfile_path = s.logfile_path;
  StoreInSettings(ws, back);
  ASSERT_TRUE(s.Save());
  ASSERT_TRUE(back.Save());
  EXPECT_EQ(b.Read("settings.ini"), a.Read("settings.ini"));
  EXPECT_THAT(b.Read("settings.ini"), HasSubstr("\npoll_frequency=1\n"));  // for readers of whole seconds

  // A device path, and a numbered port however it is written; no poll leaves the request.
  s.device_path = "/dev/ttyUSB0";
  s.parity = 'o';
  EXPECT_EQ(WorkspaceFromSettings(s).connection.device, "/dev/ttyUSB0");
  EXPECT_EQ(WorkspaceFromSettings(s).connection.parity, 'O');
  Workspace other;
  other.connection.device = "/dev/ttyACM1";
  StoreInSettings(other, back);
  EXPECT_EQ(back.device_path, "/dev/ttyACM1");
  EXPECT_EQ(back.request_id, 17);
  other.connection.device = "com9";
  StoreInSettings(other, back);
  EXPECT_EQ(back.device_path, "");
  EXPECT_EQ(back.com_port, 9);
}

TEST(workspace_test, a_save_that_cannot_be_made_leaves_the_old_file_whole) {
  testing::WorkingFolder folder;  // the debug log's line goes there
  folder.Write("w.json", "old");
  Workspace ws = WorkspaceFromSettings(ScannerSettings(folder.path()));
  std::string error;

  ws.polls[0].length = 0;  // a load would refuse it, so it is not written
  EXPECT_FALSE(SaveWorkspace(folder.File("w.json"), ws, error));
  EXPECT_EQ(error, folder.File("w.json") + ": polls[0].length: must be 1 to 2000 for function 1, not 0");

  // A write that fails part way.
  ws.polls[0].length = 1;
  ws.polls[0].name = std::string(100000, 'x');
  const bool ok = testing::WithFileSizeLimit(4096, [&] { return SaveWorkspace(folder.File("w.json"), ws, error); });

  EXPECT_FALSE(ok);
  EXPECT_EQ(error, folder.File("w.json") + ": could not write the temporary file: File too large");
  EXPECT_EQ(folder.Read("w.json"), "old");
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"w.json", "Debuglog.txt"}));  // no temporary left
  ASSERT_TRUE(SaveWorkspace(folder.File("w.json"), ws, error)) << error;
  Workspace loaded;
  ASSERT_TRUE(LoadWorkspace(folder.File("w.json"), loaded, error)) << error;
  EXPECT_EQ(loaded, ws);
}

}  // namespace
}  // namespace vantrel
