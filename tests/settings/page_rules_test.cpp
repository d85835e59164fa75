// What the Connection, Request and Polling frequency pages select for stored values, what
// they read back, and how their edits are checked.
#include "settings/PageRules.h"

#include <gtest/gtest.h>

#include <climits>

using namespace vantrel;

namespace {

std::string Unsigned(const std::string& text, int& value) { return CheckUnsignedEdit(text, value); }

ConnectionValues Stored(int baud = 9600, int port = 3, char parity = 'N', int stopBits = 1, int timeoutMs = 10000) {
  ConnectionValues v;
  v.buad_rate = baud;
  v.com_port = port;
  v.parity = parity;
  v.stop_bits = stopBits;
  v.recv_time_out = timeoutMs;
  return v;
}

// The values read back straight after the page has shown stored values.
ConnectionValues RoundTrip(const ConnectionValues& v) {
  return ReadConnection(SelectConnection(v), TimeoutSecondsFor(v.recv_time_out));
}

}  // namespace

TEST(edit_checks, unsigned_number_with_blanks_around) {
  int value = -1;
  EXPECT_EQ(Unsigned(" 12\t", value), "");
  EXPECT_EQ(value, 12);
  EXPECT_EQ(Unsigned("0", value), "");
  EXPECT_EQ(value, 0);
  EXPECT_EQ(Unsigned("2147483647", value), "");
  EXPECT_EQ(value, INT_MAX);
}

TEST(edit_checks, anything_else_asks_for_a_positive_integer) {
  for (const char* text : {"", "  ", "-1", "+5", "1x", "1 2", "0x10", "2147483648", "99999999999999999999"}) {
    int value = 42;
    EXPECT_EQ(Unsigned(text, value), "Please enter a positive integer.") << text;
    EXPECT_EQ(value, 42) << "unchanged on failure: " << text;
  }
}

TEST(edit_checks, offset_lies_in_1_to_99999) {
  int value = 7;
  EXPECT_EQ(CheckOffsetEdit("1", value), "");
  EXPECT_EQ(CheckOffsetEdit("99999", value), "");
  EXPECT_EQ(value, 99999);
  EXPECT_EQ(CheckOffsetEdit("0", value), "Please enter an integer between 1 and 99999.");
  EXPECT_EQ(CheckOffsetEdit("100000", value), "Please enter an integer between 1 and 99999.");
  EXPECT_EQ(CheckOffsetEdit("", value), "Please enter a positive integer.");
  EXPECT_EQ(value, 99999);
}

TEST(edit_checks, poll_frequency_is_a_signed_number_but_not_negative) {
  int value = 5;
  EXPECT_EQ(CheckPollEdit(" +7 ", value), "");
  EXPECT_EQ(value, 7);
  EXPECT_EQ(CheckPollEdit("0", value), "");
  EXPECT_EQ(value, 0);
  EXPECT_EQ(CheckPollEdit("seven", value), "Please enter an integer.");
  EXPECT_EQ(CheckPollEdit("", value), "Please enter an integer.");
  EXPECT_EQ(CheckPollEdit("-1", value), "Please enter a positive integer.") << "would poll without pause";
  EXPECT_EQ(value, 0);
}

TEST(connection_rules, time_out_is_whole_seconds) {
  const ConnectionValues v = Stored(9600, 3, 'N', 1, 1500);
  EXPECT_EQ(TimeoutSecondsFor(v.recv_time_out), 1);
  EXPECT_EQ(RoundTrip(v).recv_time_out, 1000);
  EXPECT_EQ(TimeoutSecondsFor(999), 0);
  EXPECT_EQ(TimeoutSecondsFor(-1500), 0) << "not a huge unsigned number";
}

TEST(connection_rules, time_out_holds_at_the_largest_int) {
  EXPECT_EQ(ReadConnection(ConnectionSelection{}, 2147483).recv_time_out, 2147483000);
  EXPECT_EQ(ReadConnection(ConnectionSelection{}, 2147484).recv_time_out, INT_MAX);
  EXPECT_EQ(ReadConnection(ConnectionSelection{}, INT_MAX).recv_time_out, INT_MAX);
}

TEST(connection_rules, baud_rate_not_offered_shows_9600) {
  const ConnectionSelection s = SelectConnection(Stored(14400));
  EXPECT_EQ(kBaudRates[static_cast<std::size_t>(s.baud)], 9600);
  EXPECT_EQ(RoundTrip(Stored(14400)).buad_rate, 9600);
  EXPECT_EQ(RoundTrip(Stored(921600)).buad_rate, 921600);
}

TEST(connection_rules, port_outside_the_list_selects_nothing_and_reads_back_0) {
  EXPECT_EQ(SelectConnection(Stored(9600, 11)).port, -1);
  EXPECT_EQ(RoundTrip(Stored(9600, 11)).com_port, 0);
  EXPECT_EQ(SelectConnection(Stored(9600, 0)).port, -1);
  EXPECT_EQ(SelectConnection(Stored(9600, 10)).port, 9);
  EXPECT_EQ(RoundTrip(Stored(9600, 10)).com_port, 10);
}

TEST(connection_rules, unknown_parity_shows_none) {
  EXPECT_STREQ(kParityEntries[static_cast<std::size_t>(SelectConnection(Stored(9600, 3, 'X')).parity)], "None");
  EXPECT_EQ(RoundTrip(Stored(9600, 3, 'X')).parity, 'N');
  EXPECT_EQ(RoundTrip(Stored(9600, 3, 'M')).parity, 'M');
  EXPECT_EQ(RoundTrip(Stored(9600, 3, 'S')).parity, 'S');
}

TEST(connection_rules, stop_bit_codes) {
  EXPECT_STREQ(kStopBitsEntries[static_cast<std::size_t>(SelectConnection(Stored(9600, 3, 'N', 3)).stopBits)], "1.5");
  EXPECT_EQ(RoundTrip(Stored(9600, 3, 'N', 3)).stop_bits, 3);
  EXPECT_EQ(RoundTrip(Stored(9600, 3, 'N', 2)).stop_bits, 2);
  EXPECT_EQ(RoundTrip(Stored(9600, 3, 'N', 5)).stop_bits, 1);
}

TEST(connection_rules, data_bits_and_mode) {
  ConnectionValues v;
  v.data_bits = 7;
  v.modbus_mode = 0;
  EXPECT_EQ(RoundTrip(v).data_bits, 7);
  EXPECT_EQ(RoundTrip(v).modbus_mode, 0);
  v.data_bits = 5;
  v.modbus_mode = 4;
  EXPECT_EQ(RoundTrip(v).data_bits, 8);
  EXPECT_EQ(RoundTrip(v).modbus_mode, -1) << "a mode outside the list selects nothing";
}

TEST(connection_rules, nothing_selected_gives_the_stated_defaults) {
  const ConnectionValues v = ReadConnection(ConnectionSelection{}, 3);
  EXPECT_EQ(v.modbus_mode, -1);
  EXPECT_EQ(v.com_port, 0);
  EXPECT_EQ(v.buad_rate, 9600);
  EXPECT_EQ(v.data_bits, 8);
  EXPECT_EQ(v.stop_bits, 1);
  EXPECT_EQ(v.parity, 'N');
  EXPECT_EQ(v.recv_time_out, 3000);
}

TEST(port_entry_text, names_the_device_behind_each_port) {
  EXPECT_EQ(PortEntryText(4, {}, "/srv"), "COM4");
  EXPECT_EQ(PortEntryText(1, {"/dev/ttyUSB0", "FT232R USB UART"}, "/srv"), "COM1 - /dev/ttyUSB0 (FT232R USB UART)");
  EXPECT_EQ(PortEntryText(2, {"/dev/ttyS0", ""}, "/srv"), "COM2 - /dev/ttyS0");
  EXPECT_EQ(PortEntryText(3, {"/srv/COM3", "link to /dev/pts/4"}, "/srv"), "COM3 - link to /dev/pts/4");
}

TEST(request_rules, function_entries_and_codes) {
  EXPECT_EQ(FunctionIndexFor(1), 0);
  EXPECT_EQ(FunctionIndexFor(4), 3);
  EXPECT_EQ(FunctionIndexFor(0), -1);
  EXPECT_EQ(FunctionIndexFor(5), -1);
  EXPECT_EQ(FunctionCodeFromIndex(-1), 1);
  EXPECT_EQ(FunctionCodeFromIndex(0), 1);
  EXPECT_EQ(FunctionCodeFromIndex(2), 3);
  EXPECT_EQ(FunctionCodeFromIndex(3), 4);
  EXPECT_EQ(FunctionCodeFromIndex(4), 1);
}

TEST(request_rules, preview_shows_the_frame_and_keeps_it_when_refused) {
  std::string preview;
  EXPECT_TRUE(BuildRequestPreview(3, 1, 1, 10, preview));
  EXPECT_EQ(preview, "01 03 00 00 00 0A C5 CD ");
  EXPECT_FALSE(BuildRequestPreview(3, 1, 1, 126, preview));
  EXPECT_EQ(preview, "01 03 00 00 00 0A C5 CD ");
  // the slave id is cut to 8 bits, the length to 16, only for the frame
  std::string cut;
  EXPECT_TRUE(BuildRequestPreview(3, 257, 1, 65536 + 10, cut));
  EXPECT_EQ(cut, preview);
}

TEST(poll_rules, entries_for_stored_values) {
  EXPECT_EQ(PollEntryFor(0), 0);
  EXPECT_EQ(PollEntryFor(10), 3);
  EXPECT_EQ(PollEntryFor(1800), 8);
  EXPECT_EQ(PollEntryFor(7), kCustomPollEntry);
  EXPECT_EQ(PollEntryFor(-3), kCustomPollEntry);
}

TEST(poll_rules, read_back) {
  EXPECT_EQ(ReadPoll(kCustomPollEntry, 7).poll_frequency, 7);
  EXPECT_TRUE(ReadPoll(kCustomPollEntry, 7).editEnabled);
  EXPECT_EQ(ReadPoll(0, 7).poll_frequency, 0);
  EXPECT_FALSE(ReadPoll(0, 7).editEnabled);
  EXPECT_EQ(ReadPoll(6, 7).poll_frequency, 300);
  EXPECT_EQ(ReadPoll(-1, 7).poll_frequency, 7) << "nothing selected keeps the edit's value";
  EXPECT_FALSE(ReadPoll(-1, 7).editEnabled);
}
