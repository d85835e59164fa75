#include "PollJson.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vantrel;
using namespace vantrel::poll;

namespace {

std::string Bytes(std::initializer_list<unsigned char> bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

// Whatever bytes a text holds, its JSON string is valid JSON that gives the text back (bytes
// that are no UTF-8 as U+FFFD).
TEST(poll_json, strings_escape_every_byte_that_needs_it) {
  const struct {
    std::string bytes;
    const char* json;
  } cases[] = {
      {"plain text", R"("plain text")"},
      {Bytes({'"', '\\', '/'}), R"("\"\\/")"},
      {Bytes({'\n', '\r', '\t', '\b', '\f'}), R"("\n\r\t\b\f")"},
      {Bytes({0x00, 0x01, 0x1F, 0x7F}), "\"\\u0000\\u0001\\u001f\x7f\""},
      {Bytes({0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}), "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
      {Bytes({0xFF, 'a'}), R"("\ufffda")"},
      {Bytes({'a', 0xC3}), R"("a\ufffd")"},                             // cut short at the end
      {Bytes({0xE2, 0x82, 'a'}), R"("\ufffd\ufffda")"},                 // cut short before a letter
      {Bytes({0xC0, 0x80}), R"("\ufffd\ufffd")"},                       // an overlong NUL
      {Bytes({0xED, 0xA0, 0x80}), R"("\ufffd\ufffd\ufffd")"},           // a surrogate
      {Bytes({0xF4, 0x90, 0x80, 0x80}), R"("\ufffd\ufffd\ufffd\ufffd")"},  // above U+10FFFF
      {Bytes({0x80, 0xBF}), R"("\ufffd\ufffd")"},                       // continuation bytes alone
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.bytes), c.json) << c.json;
}

// Each item: offset, addresses, value, then the other cells under their captions' types;
// numbers as numbers, other texts as strings, blanks left out, no Write column.
TEST(poll_json, items_carry_every_cell_of_their_row) {
  ResponseTable registers;
  registers.fill = TableFill::Filled;
  registers.columns = {{"Write", 40},  {"Offset", 40}, {"Standard address", 100}, {"6 digit address", 80},
                       {"Hex", 50},    {"uint16", 50}, {"int16", 50},             {"uint32 (high word first)", 80},
                       {"int32 (high word first)", 80}, {"float32 (high word first)", 80}};
  registers.rows = {{"Write", "1", "40001", "400001", "0xFFFE", "65534", "-2", "", "", ""},
                    {"Write", "2", "40002", "400002", "0x7FC0", "32704", "32704", "4294868928", "-98368", "nan"},
                    {"Write", "3", "40003", "400003", "0x0001", "1", "1", "incomplete", "incomplete", "incomplete"}};
  registers.values = {0xFFFE, 0x7FC0, 1};
  ResponseTable coils;
  coils.fill = TableFill::Filled;
  coils.columns = {{"Write", 40}, {"Offset", 40}, {"Standard address", 100}, {"6 digit address", 80}, {"Value", 100}};
  coils.rows = {{"Write", "6", "00006", "000006", "1"}};
  coils.values = {1};

  const struct {
    const ResponseTable& table;
    const char* json;
  } cases[] = {
      {registers,
       R"([{"offset":1,"address":"40001","address6":"400001","value":65534,"hex":"0xFFFE","uint16":65534,"int16":-2},)"
       R"({"offset":2,"address":"40002","address6":"400002","value":32704,"hex":"0x7FC0","uint16":32704,"int16":32704,)"
       R"("uint32":4294868928,"int32":-98368,"float32":"nan"},)"
       R"({"offset":3,"address":"40003","address6":"400003","value":1,"hex":"0x0001","uint16":1,"int16":1,)"
       R"("uint32":"incomplete","int32":"incomplete","float32":"incomplete"}])"},
      {coils, R"([{"offset":6,"address":"00006","address6":"000006","value":1}])"},
      {ResponseTable{}, "[]"},
  };
  for (const auto& c : cases) EXPECT_EQ(ItemsJson(c.table), c.json);
}

TEST(poll_json, a_poll_or_a_failure_with_its_request) {
  PollConfig cfg;
  cfg.mode = ModbusMode::Tcp;
  cfg.slaveId = 7;
  cfg.function = 4;
  cfg.offset = 100;
  cfg.length = 2;
  cfg.wordOrder = WordOrder::HighFirstSwapped;
  const std::string request = RequestJson(cfg, "TCP plc-7:502");
  EXPECT_EQ(request, R"({"mode":"tcp","connection":"TCP plc-7:502","slave_id":7,"function":4,"offset":100,)"
                     R"("count":2,"word_order":"high-first-swapped"})");
  EXPECT_EQ(RequestJson(PollConfig{}, ""),
            R"({"mode":"rtu","slave_id":11,"function":1,"offset":1,"count":20,"word_order":"low-first"})");
  EXPECT_EQ(PollJson("2026-12-08T14:03:07.250+01:00", "{}", ResponseTable{}),
            R"({"time":"2026-12-08T14:03:07.250+01:00","request":{},"values":[]})");
  EXPECT_EQ(FailureJson("t", "{}", 6, "Error - Timeout\n\nPoll: \"01 03\""),
            R"({"time":"t","request":{},"error":{"status":6,"text":"Error - Timeout\n\nPoll: \"01 03\""}})");
}
