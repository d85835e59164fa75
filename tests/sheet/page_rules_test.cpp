// The pages' rules without a window, where the pages' own tests do not reach: the edit
// checks, values that do not fit, and the texts of the port list.
#include "sheet/PageRules.h"

#include <gtest/gtest.h>

#include <climits>

#include "modbus/ModbusFrame.h"
#include "session/PollTexts.h"

using namespace vantrel;

TEST(edit_checks, unsigned_number_with_blanks_around) {
  int value = -1;
  EXPECT_EQ(CheckUnsignedEdit(" 12\t", value), "");
  EXPECT_EQ(value, 12);
  EXPECT_EQ(CheckUnsignedEdit("2147483647", value), "");
  EXPECT_EQ(value, INT_MAX);
  for (const char* text : {"", "  ", "-1", "+5", "1x", "1 2", "0x10", "2147483648", "99999999999999999999"}) {
    value = 42;
    EXPECT_EQ(CheckUnsignedEdit(text, value), "Please enter a positive integer.") << text;
    EXPECT_EQ(value, 42) << "unchanged on failure: " << text;
  }
}

// 0, as older versions stored it, is taken (it reads from address 0, as 1 does).
TEST(edit_checks, offset_lies_in_0_to_65536) {
  int value = 7;
  EXPECT_EQ(CheckOffsetEdit("0", value), "");
  EXPECT_EQ(value, 0);
  EXPECT_EQ(CheckOffsetEdit("65536", value), "");
  EXPECT_EQ(value, 65536);
  EXPECT_EQ(CheckOffsetEdit("65537", value), "Please enter an integer between 0 and 65536.");
  EXPECT_EQ(CheckOffsetEdit("", value), "Please enter a positive integer.");
  EXPECT_EQ(value, 65536);
}

// What a frame cannot carry is refused with the range, never cut (256 would be slave 0).
TEST(edit_checks, slave_id_and_length_name_their_ranges) {
  int value = 7;
  EXPECT_EQ(CheckSlaveIdEdit("255", value), "");
  EXPECT_EQ(value, 255);
  for (const char* text : {"256", "99999"}) {
    EXPECT_EQ(CheckSlaveIdEdit(text, value), "Please enter an integer between 1 and 255.") << text;
  }
  // The broadcast address, with why a poll cannot use it.
  for (const char* text : {"0", "000", " 0 "}) {
    EXPECT_EQ(CheckSlaveIdEdit(text, value), PduRequestErrorText(MB_REQUEST_NO_BROADCAST)) << text;
    EXPECT_EQ(value, 255) << "refused, not taken";
  }
  EXPECT_EQ(CheckLengthEdit("0", value), "Please enter an integer between 1 and 2000.");
  EXPECT_EQ(CheckLengthEdit("70000", value), "Please enter an integer between 1 and 2000.");
  EXPECT_EQ(CheckLengthEdit("126", value), "") << "too long for registers: the main window says so";
  EXPECT_EQ(value, 126);
  EXPECT_EQ(CheckSlaveIdEdit("", value), "Please enter a positive integer.");
}

TEST(edit_checks, poll_period_is_seconds_to_the_millisecond_from_a_tenth) {
  const struct {
    const char* text;
    int ms;  // -1: refused, the value kept
  } cases[] = {{" +7 ", 7000}, {"0", 0},       {"0.25", 250},   {"0.1", 100},     {"2.5", 2500},
               {"5.", 5000},   {".5", 500},    {"1.001", 1001}, {"1800", 1800000}, {"2147483", 2147483000},
               {"0.09", -1},   {"0.001", -1},  {"1.0001", -1},  {"-1", -1},        {"seven", -1},
               {"", -1},       {".", -1},      {"1.2.3", -1},   {"0,25", -1},      {"2147484", -1},
               {"1e3", -1},    {"99999999999", -1}};
  for (const auto& c : cases) {
    int value = 42;
    const std::string message = CheckPollEdit(c.text, value);
    EXPECT_EQ(message, c.ms < 0 ? kPollSecondsMessage : "") << c.text;
    EXPECT_EQ(value, c.ms < 0 ? 42 : c.ms) << c.text;
  }
}

TEST(connection_rules, time_out_neither_wraps_nor_goes_negative) {
  EXPECT_EQ(ReadConnection({}, 2147483).recv_time_out, 2147483000);
  EXPECT_EQ(ReadConnection({}, 2147484).recv_time_out, INT_MAX);
  EXPECT_EQ(TimeoutSecondsFor(-1500), 0);
}

TEST(connection_rules, nothing_selected_gives_the_stated_defaults) {
  const ConnectionValues v = ReadConnection(ConnectionSelection{}, 3);
  EXPECT_EQ(v, (ConnectionValues{-1, 0, 9600, 8, 1, 'N', 3000}));
  EXPECT_EQ(SelectConnection(ConnectionValues{4, 3, 9600, 8, 1, 'N', 0}).mode, -1);
}

TEST(port_entry_text, names_the_device_behind_each_port) {
  EXPECT_EQ(PortEntryText(4, {}, "/srv"), "COM4");
  EXPECT_EQ(PortEntryText(1, {"/dev/ttyUSB0", "FT232R USB UART"}, "/srv"), "COM1 - /dev/ttyUSB0 (FT232R USB UART)");
  EXPECT_EQ(PortEntryText(2, {"/dev/ttyS0", ""}, "/srv"), "COM2 - /dev/ttyS0");
  EXPECT_EQ(PortEntryText(3, {"/srv/COM3", "link to /dev/pts/4"}, "/srv"), "COM3 - link to /dev/pts/4");
}

TEST(request_rules, function_codes_and_no_cut_frame) {
  EXPECT_EQ(FunctionIndexFor(0), -1);
  EXPECT_EQ(FunctionIndexFor(5), -1);
  EXPECT_EQ(FunctionCodeFromIndex(-1), 1);
  EXPECT_EQ(FunctionCodeFromIndex(3), 4);
}

// The preview is the frame as the mode puts it on the line, or nothing for a request the
// main window would refuse (never a frame cut to fit, nor the last good one).
TEST(request_rules, preview_in_each_mode_or_nothing) {
  struct Case {
    int mode, function, id, offset, length;
    int code;
    const char* preview;
  };
  const Case cases[] = {
      {1, 3, 1, 1, 10, MB_REQUEST_OK, "01 03 00 00 00 0A C5 CD "},
      {3, 3, 1, 1, 10, MB_REQUEST_OK, "01 03 00 00 00 0A C5 CD "},  // RTU over TCP: the RTU frame
      {0, 3, 1, 1, 10, MB_REQUEST_OK, "01030000000AF2"},            // ASCII: between ':' and CR LF
      {0, 3, 11, 1, 125, MB_REQUEST_OK, "0B030000007D75"},
      {2, 3, 1, 1, 10, MB_REQUEST_OK, "00 01 00 00 00 06 01 03 00 00 00 0A "},  // MBAP, unit, PDU
      {2, 4, 247, 0, 2, MB_REQUEST_OK, "00 01 00 00 00 06 F7 04 00 00 00 02 "},
      {-1, 3, 1, 1, 10, MB_REQUEST_OK, "01 03 00 00 00 0A C5 CD "},  // no mode chosen speaks RTU
      {2, 3, 1, 1, 126, MB_REQUEST_TOO_LONG, ""},
      {1, 1, 1, 1, 2001, MB_REQUEST_TOO_LONG, ""},
      {1, 3, 1, 9991, 10, MB_REQUEST_OUT_OF_RANGE, ""},  // as the window's own check: its offset as typed
      {1, 3, 257, 1, 10, MB_REQUEST_BAD_SLAVE_ID, ""},   // would go out as slave 1
      {1, 3, 1, 65537, 10, MB_REQUEST_BAD_OFFSET, ""},
  };
  for (const Case& c : cases) {
    std::string preview = "stale";
    EXPECT_EQ(BuildRequestPreview(c.mode, c.function, c.id, c.offset, c.length, preview), c.code)
        << c.mode << " " << c.function << " " << c.length;
    EXPECT_EQ(preview, c.preview) << c.mode << " " << c.function << " " << c.length;
  }
}

TEST(poll_rules, nothing_selected_keeps_the_edit_disabled) {
  EXPECT_EQ(ReadPoll(-1, 7000).poll_period_ms, 7000);
  EXPECT_FALSE(ReadPoll(-1, 7000).editEnabled);
  EXPECT_EQ(PollEntryFor(-3), kCustomPollEntry);
  EXPECT_EQ(PollEntryFor(300000), 6);
  EXPECT_EQ(PollEntryFor(250), kCustomPollEntry);
}
