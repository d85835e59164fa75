// The Diagnostics window's rows from the replies of a device: which requests a read makes,
// the values and their changes, and what a failure leaves.
#include "session/DiagnosticsRead.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "modbus/ModbusFrame.h"
#include "session/PollTexts.h"
#include "support/Hex.h"

using namespace vantrel;
using vantrel::test::Bytes;
using vantrel::test::HexOf;

namespace {

PduOutcome Reply(const std::string& hex) {
  PduOutcome o;
  o.sent = true;
  o.replyPdu = Bytes(hex);
  o.result = o.replyPdu.at(0) & 0x80 ? MB_RESPONCE_EXCEPTION : MB_RESPONCE_OK;
  if (o.result == MB_RESPONCE_EXCEPTION) o.text = "Error - Exception 01\nIllegal function";
  return o;
}

PduOutcome TimedOut() {
  PduOutcome o;
  o.sent = true;
  o.text = "Error - Timeout";
  return o;
}

// Answers every request of a read: a Value reply of each sub-function with value(sub).
void ReadAll(DiagnosticsRead& read, const std::function<PduOutcome(std::uint16_t)>& answer) {
  read.Begin();
  std::vector<std::uint8_t> pdu;
  for (int guard = 0; guard < 20 && read.Next(pdu); ++guard) {
    read.Take(answer(static_cast<std::uint16_t>(pdu.at(1) << 8 | pdu.at(2))));
  }
  EXPECT_FALSE(read.Reading());
}

PduOutcome Value(std::uint16_t sub, std::uint16_t value) {
  char hex[32];
  std::snprintf(hex, sizeof hex, "08 %04X %04X", unsigned{sub}, unsigned{value});
  return Reply(hex);
}

std::vector<std::string> Column(const DiagnosticsRead& read, bool change) {
  std::vector<std::string> cells;
  for (const DiagnosticsRow& row : read.rows()) cells.push_back(change ? DiagnosticsChangeText(row) : DiagnosticsValueText(row));
  return cells;
}

}  // namespace

TEST(diagnostics_read, one_request_a_row_the_counters_then_the_register) {
  DiagnosticsRead read;
  std::vector<std::string> names;
  for (const DiagnosticsRow& row : read.rows()) names.push_back(row.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Bus message count", "Bus communication error count",
                                             "Bus exception error count", "Server message count",
                                             "Server no response count", "Server NAK count", "Server busy count",
                                             "Bus character overrun count", "Diagnostic register"}));
  EXPECT_FALSE(read.Reading());
  std::vector<std::uint16_t> asked, expected;
  for (const DiagnosticsRow& row : read.rows()) expected.push_back(row.subFunction);
  ReadAll(read, [&](std::uint16_t sub) {
    asked.push_back(sub);
    return Value(sub, sub);
  });
  EXPECT_EQ(asked, expected) << "each row's request, in turn";
  EXPECT_EQ(expected.front(), 0x0B);
  EXPECT_EQ(expected.back(), 0x02);
  std::vector<std::uint8_t> pdu;
  read.Begin();
  ASSERT_TRUE(read.Next(pdu));
  EXPECT_EQ(HexOf(pdu), "08 00 0B 00 00");
  EXPECT_EQ(HexOf(DiagnosticsRead::ClearCountersPdu()), "08 00 0A 00 00");
  EXPECT_EQ(HexOf(DiagnosticsRead::RestartCommunicationsPdu(true)), "08 00 01 FF 00");
  EXPECT_EQ(HexOf(DiagnosticsRead::RestartCommunicationsPdu(false)), "08 00 01 00 00");
}

// Two reads in a row: values, and the change of each since the read before; counters that
// were cleared fall, a counter that wrapped counts on, the register shows the bits changed.
TEST(diagnostics_read, values_and_changes_from_two_reads) {
  DiagnosticsRead read;
  const std::uint16_t first[] = {65530, 4, 0, 120, 7, 0, 0, 3, 0x0005};
  const std::uint16_t second[] = {3, 4, 2, 0, 7, 1, 0, 3, 0x0004};
  const auto by = [&read](const std::uint16_t* values) {
    return [&read, values](std::uint16_t sub) {
      for (std::size_t i = 0; i < read.rows().size(); ++i) {
        if (read.rows()[i].subFunction == sub) return Value(sub, values[i]);
      }
      return TimedOut();
    };
  };
  ReadAll(read, by(first));
  EXPECT_EQ(Column(read, false), (std::vector<std::string>{"65530", "4", "0", "120", "7", "0", "0", "3", "0x0005"}));
  EXPECT_EQ(Column(read, true), std::vector<std::string>(9, "")) << "no read before";
  EXPECT_EQ(read.failure(), "");
  ReadAll(read, by(second));
  EXPECT_EQ(Column(read, false), (std::vector<std::string>{"3", "4", "2", "0", "7", "1", "0", "3", "0x0004"}));
  EXPECT_EQ(Column(read, true), (std::vector<std::string>{"+9", "0", "+2", "-120", "0", "+1", "0", "0", "0x0001"}));
}

// An exception leaves its row empty and the read goes on; a time-out ends it, the rest empty,
// and the first failure is the one told, naming its row.
TEST(diagnostics_read, failures_leave_rows_empty) {
  DiagnosticsRead read;
  int asked = 0;
  ReadAll(read, [&](std::uint16_t sub) {
    ++asked;
    if (sub == 0x0C) return Reply("88 01");
    if (sub == 0x10) return TimedOut();
    return Value(sub, 1);
  });
  EXPECT_EQ(asked, 6) << "nothing after the time-out";
  EXPECT_EQ(Column(read, false), (std::vector<std::string>{"1", "", "1", "1", "1", "", "", "", ""}));
  EXPECT_EQ(read.failure(), "Bus communication error count: Error - Exception 01\nIllegal function");

  // A reply that carries no counter is no value either, and ends the read.
  read.Begin();
  read.Take(Reply("08 00 0B"));
  EXPECT_EQ(DiagnosticsValueText(read.rows()[0]), "");
  EXPECT_EQ(DiagnosticsChangeText(read.rows()[0]), "") << "nothing to compare";
  EXPECT_FALSE(read.Reading());
  EXPECT_EQ(read.failure().rfind("Bus message count: Error - ", 0), 0u) << read.failure();

  // A command: confirmed, or why not.
  EXPECT_EQ(read.TakeCommand(Reply("08 00 0A 00 00")), "");
  EXPECT_EQ(read.TakeCommand(TimedOut()), "Error - Timeout");
  EXPECT_EQ(read.failure(), "Error - Timeout");
}
