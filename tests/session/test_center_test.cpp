// The Test center below its window: the PDU each function's form makes, typed PDUs, the
// frame each mode puts on the wire, what an outcome says, and the history in a workspace.
#include "session/TestCenter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "session/PollTexts.h"
#include "support/Hex.h"

namespace vantrel {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using test::Bytes;
using test::HexOf;

struct FormCase {
  std::uint8_t function;
  std::vector<std::pair<TestParam, std::string>> fields;  // over the initial texts
  std::string pdu;      // expected, when made
  int check;            // MB_REQUEST_OK, or the refusal
  std::string problem;  // the start of the field's complaint, else ""
};

TEST(test_center_test, each_functions_form_makes_its_pdu_or_says_why_not) {
  using P = TestParam;
  const FormCase cases[] = {
      {1, {{P::Offset, "1"}, {P::Quantity, "10"}}, "01 00 00 00 0A", MB_REQUEST_OK, ""},
      {2, {{P::Offset, "197"}, {P::Quantity, "22"}}, "02 00 C4 00 16", MB_REQUEST_OK, ""},
      // Past the poll's range of function 3: the Test center reaches every address.
      {3, {{P::Offset, "20001"}, {P::Quantity, "0x2"}}, "03 4E 20 00 02", MB_REQUEST_OK, ""},
      {4, {{P::Offset, "9"}, {P::Quantity, "1"}}, "04 00 08 00 01", MB_REQUEST_OK, ""},
      {3, {{P::Quantity, "126"}}, "", MB_REQUEST_BAD_QUANTITY, ""},
      {1, {{P::Quantity, "0"}}, "", MB_REQUEST_BAD_QUANTITY, ""},
      {3, {{P::Offset, "65536"}, {P::Quantity, "2"}}, "", MB_REQUEST_OUT_OF_RANGE, ""},
      {3, {{P::Offset, "0"}}, "", MB_REQUEST_OK, "Offset: must be a whole number from 1 to 65536"},
      {3, {{P::Quantity, "ten"}}, "", MB_REQUEST_OK, "Quantity: must be a whole number from 0 to 65535"},
      {5, {{P::Offset, "173"}, {P::Values, "1"}}, "05 00 AC FF 00", MB_REQUEST_OK, ""},
      {5, {{P::Offset, "173"}, {P::Values, "0"}}, "05 00 AC 00 00", MB_REQUEST_OK, ""},
      {5, {{P::Values, "2"}}, "", MB_REQUEST_OK, "Value (1 on, 0 off): each value must be a whole number from 0 to 1"},
      {6, {{P::Offset, "2"}, {P::Values, "0x0003"}}, "06 00 01 00 03", MB_REQUEST_OK, ""},
      {6, {{P::Values, "1 2"}}, "", MB_REQUEST_WRITE_BAD_QUANTITY, ""},
      {15, {{P::Offset, "20"}, {P::Values, "1 0 1 1 0 0 1 1, 1 0"}}, "0F 00 13 00 0A 02 CD 01", MB_REQUEST_OK, ""},
      {16, {{P::Offset, "2"}, {P::Values, "0x000A,0x0102"}}, "10 00 01 00 02 04 00 0A 01 02", MB_REQUEST_OK, ""},
      {16, {{P::Values, ""}}, "", MB_REQUEST_WRITE_BAD_QUANTITY, ""},
      {16, {{P::Offset, "65536"}, {P::Values, "1 2"}}, "", MB_REQUEST_WRITE_OUT_OF_RANGE, ""},
      {16, {{P::Values, "1 65536"}}, "", MB_REQUEST_OK, "Values: each value must be a whole number from 0 to 65535 (0x for hex), not \"65536\""},
      {7, {}, "07", MB_REQUEST_OK, ""},
      {11, {}, "0B", MB_REQUEST_OK, ""},
      {12, {}, "0C", MB_REQUEST_OK, ""},
      {17, {}, "11", MB_REQUEST_OK, ""},
      {8, {{P::SubFunction, "0x0000 Return Query Data"}, {P::Values, "0xA537"}}, "08 00 00 A5 37", MB_REQUEST_OK, ""},
      {8, {{P::SubFunction, "11"}, {P::Values, "0"}}, "08 00 0B 00 00", MB_REQUEST_OK, ""},
      {8, {{P::SubFunction, "0x000B"}, {P::Values, "5"}}, "", MB_REQUEST_BAD_FIELD, ""},
      {8, {{P::SubFunction, "zz"}}, "", MB_REQUEST_OK, "Sub-function: must be a whole number from 0 to 65535"},
      {20, {{P::File, "4"}, {P::Record, "1"}, {P::Length, "2"}}, "14 07 06 00 04 00 01 00 02", MB_REQUEST_OK, ""},
      {20, {{P::File, "0"}}, "", MB_REQUEST_BAD_FIELD, ""},
      {20, {{P::Record, "9999"}, {P::Length, "2"}}, "", MB_REQUEST_OUT_OF_RANGE, ""},
      {21, {{P::File, "4"}, {P::Record, "7"}, {P::Values, "0x06AF 0x04BE 0x100D"}},
       "15 0D 06 00 04 00 07 00 03 06 AF 04 BE 10 0D", MB_REQUEST_OK, ""},
      {22, {{P::Offset, "5"}, {P::AndMask, "0x00F2"}, {P::OrMask, "0x0025"}}, "16 00 04 00 F2 00 25", MB_REQUEST_OK, ""},
      {22, {{P::OrMask, "0x10000"}}, "", MB_REQUEST_OK, "OR mask: must be a whole number from 0 to 65535"},
      {23, {{P::Offset, "4"}, {P::Quantity, "6"}, {P::WriteOffset, "15"}, {P::Values, "0xFF 0xFF 0xFF"}},
       "17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF", MB_REQUEST_OK, ""},
      {23, {{P::Quantity, "126"}}, "", MB_REQUEST_BAD_QUANTITY, ""},
      {23, {{P::WriteOffset, "x"}}, "", MB_REQUEST_OK, "Write offset: must be"},
      {24, {{P::Offset, "1247"}}, "18 04 DE", MB_REQUEST_OK, ""},
      {43, {{P::ReadCode, "1"}, {P::ObjectId, "0"}}, "2B 0E 01 00", MB_REQUEST_OK, ""},
      {43, {{P::ReadCode, "4"}, {P::ObjectId, "0x81"}}, "2B 0E 04 81", MB_REQUEST_OK, ""},
      {43, {{P::ReadCode, "5"}}, "", MB_REQUEST_BAD_FIELD, ""},
      {0x41, {}, "", MB_REQUEST_OK, "Function 0x41 has no form: type its PDU in Raw PDU"},
  };
  for (const FormCase& c : cases) {
    TestParamTexts texts = InitialTestParams();
    for (const auto& [param, text] : c.fields) At(texts, param) = text;
    const TestPdu made = BuildTestPdu(c.function, texts);
    const std::string label = std::to_string(c.function) + " " + (c.fields.empty() ? "" : c.fields.back().second);
    EXPECT_EQ(HexOf(made.pdu), c.pdu) << label;
    EXPECT_EQ(made.check, c.check) << label;
    if (c.problem.empty()) {
      EXPECT_EQ(made.problem, "") << label;
    } else {
      EXPECT_THAT(made.problem, StartsWith(c.problem)) << label;
    }
    EXPECT_EQ(made.ok(), !c.pdu.empty()) << label;
    // What the form makes, the raw field takes back as the same request.
    if (made.ok()) {
      EXPECT_EQ(ParseTestPdu(PduText(made.pdu)).pdu, made.pdu) << label;
    }
  }
}

TEST(test_center_test, every_function_of_the_codec_has_a_form_that_makes_a_request_as_it_starts) {
  const TestParamTexts initial = InitialTestParams();
  for (const FunctionInfo& f : ModbusFunctions()) {
    const TestPdu made = BuildTestPdu(f.code, initial);
    ASSERT_TRUE(made.ok()) << FunctionLabel(f) << ": " << made.problem << " " << made.check;
    EXPECT_EQ(made.pdu.front(), f.code) << FunctionLabel(f);
    const bool noData = f.code == 7 || f.code == 11 || f.code == 12 || f.code == 17;
    EXPECT_EQ(TestFormOf(f.code).empty(), noData) << FunctionLabel(f);
    EXPECT_EQ(RequestLabel(made.pdu), FunctionLabel(f));
  }
  EXPECT_EQ(FunctionLabel(*FindFunction(1)), "01 Read Coils");
  EXPECT_EQ(FunctionLabel(*FindFunction(43)), "43/14 Read Device Identification");
  EXPECT_EQ(RequestLabel(Bytes("41 00")), "Function 0x41");
}

TEST(test_center_test, a_typed_pdu_is_read_as_hex_pairs_and_checked_as_its_function_frames_it) {
  const struct {
    std::string text;
    std::string pdu;
    int check;
    std::string problem;
  } cases[] = {
      {"08 00 00 A5 37", "08 00 00 A5 37", MB_REQUEST_OK, ""},
      {" 080000a537 ", "08 00 00 A5 37", MB_REQUEST_OK, ""},
      {"41 00", "41 00", MB_REQUEST_OK, ""},  // a function the codec does not know goes as typed
      {"03 00 00 00", "03 00 00 00", MB_REQUEST_BAD_PDU_SIZE, ""},
      {"00", "00", MB_REQUEST_UNKNOWN_FUNCTION_CODE, ""},
      {"83 01", "83 01", MB_REQUEST_UNKNOWN_FUNCTION_CODE, ""},
      {"", "", MB_REQUEST_OK, "Raw PDU: empty"},
      {"0 3", "", MB_REQUEST_OK, "Raw PDU: the hex digits do not make whole bytes"},
      {"03 0", "", MB_REQUEST_OK, "Raw PDU: the hex digits do not make whole bytes"},
      {"0x03", "", MB_REQUEST_OK, "Raw PDU: \"x\" is no hex digit"},
  };
  for (const auto& c : cases) {
    const TestPdu parsed = ParseTestPdu(c.text);
    EXPECT_EQ(HexOf(parsed.pdu), c.pdu) << c.text;
    EXPECT_EQ(parsed.check, c.check) << c.text;
    EXPECT_THAT(parsed.problem, StartsWith(c.problem)) << c.text;
    EXPECT_EQ(parsed.problem.empty(), c.problem.empty()) << c.text;
  }
}

TEST(test_center_test, the_preview_is_the_frame_each_mode_puts_on_the_wire) {
  const TestPdu read = ParseTestPdu("03 00 00 00 0A");
  const struct {
    ModbusMode mode;
    const char* frame;
  } modes[] = {
      {ModbusMode::Rtu, "01 03 00 00 00 0A C5 CD"},
      {ModbusMode::Ascii, ":01030000000AF2<CR><LF>"},
      {ModbusMode::Tcp, "00 01 00 00 00 06 01 03 00 00 00 0A"},
      {ModbusMode::RtuOverTcp, "01 03 00 00 00 0A C5 CD"},
  };
  for (const auto& m : modes) {
    const TestPreview p = PreviewTestRequest(m.mode, 1, read);
    EXPECT_TRUE(p.ok) << ModeName(m.mode);
    EXPECT_EQ(p.frame, m.frame) << ModeName(m.mode);
    EXPECT_EQ(p.note, "A reply is awaited.");
  }

  const struct {
    int slave;
    std::string pdu;
    bool ok;
    std::string note;
  } cases[] = {
      {0, "06 00 13 12 34", true, "Broadcast: every device carries it out and none answers"},
      {0, "03 00 00 00 0A", false, PduRequestErrorText(MB_REQUEST_NO_BROADCAST)},
      {256, "03 00 00 00 0A", false, PduRequestErrorText(MB_REQUEST_BAD_SLAVE_ID)},
      {1, "03 00 00", false, PduRequestErrorText(MB_REQUEST_BAD_PDU_SIZE)},
      {1, "08 00 04 00 00", true, "No reply is awaited: the device listens only"},
      {1, "41 00", true, "Function 0x41 is not one the program knows: its reply is taken as the framing delimits it."},
      {1, "zz", false, "Raw PDU: \"z\" is no hex digit"},
  };
  for (const auto& c : cases) {
    const TestPreview p = PreviewTestRequest(ModbusMode::Rtu, c.slave, ParseTestPdu(c.pdu));
    EXPECT_EQ(p.ok, c.ok) << c.pdu;
    EXPECT_EQ(p.broadcast, c.ok && c.slave == 0) << c.pdu;
    EXPECT_EQ(p.frame.empty(), !c.ok) << c.pdu;
    EXPECT_THAT(p.note, StartsWith(c.note)) << c.pdu;
  }
  // A write refused by the form's builder is explained as the Write dialog explains it.
  TestParamTexts texts = InitialTestParams();
  At(texts, TestParam::Values) = "1 2";
  EXPECT_EQ(PreviewTestRequest(ModbusMode::Rtu, 1, BuildTestPdu(6, texts)).note,
            WriteRequestErrorText(MB_REQUEST_WRITE_BAD_QUANTITY));
}

TEST(test_center_test, an_outcome_says_what_came_back_in_one_line_and_in_full) {
  const std::vector<std::uint8_t> read = Bytes("03 00 00 00 02");
  PduOutcome ok;
  ok.sent = true;
  ok.result = MB_RESPONCE_OK;
  ok.replyPdu = Bytes("03 04 00 01 00 02");
  ok.ms = 12.25;
  TestResult r = DescribeTestOutcome(read, ok);
  EXPECT_EQ(r.summary, "OK");
  EXPECT_EQ(r.details, "Reply: 03 04 00 01 00 02\nFunction: 03 Read Holding Registers\nByte count: 4\nRegisters read: 1, 2\n");
  EXPECT_DOUBLE_EQ(r.ms, 12.25);

  PduOutcome exception = ok;
  exception.result = MB_RESPONCE_EXCEPTION;
  exception.replyPdu = Bytes("C1 01");
  exception.text = "Error - Illegal function\nexplained";
  r = DescribeTestOutcome(Bytes("41 00"), exception);
  EXPECT_EQ(r.summary, "Exception 0x01 - ILLEGAL FUNCTION");
  EXPECT_THAT(r.details, StartsWith("Reply: C1 01\n"));
  EXPECT_THAT(r.details, HasSubstr("Exception code: 0x01"));
  EXPECT_THAT(r.details, HasSubstr("\n\nError - Illegal function\nexplained"));

  PduOutcome timeout;
  timeout.sent = true;
  timeout.ms = 1000.5;
  timeout.text = TimeoutText(Bytes("01 03 00 00 00 02 C4 0B").data(), 8);
  r = DescribeTestOutcome(read, timeout);
  EXPECT_EQ(r.summary, "Timeout");
  EXPECT_EQ(r.details, timeout.text);
  EXPECT_DOUBLE_EQ(r.ms, 1000.5);

  PduOutcome crc = timeout;
  crc.result = MB_RESPONCE_INVALID_CRC;
  crc.text = ReplyErrorText(MB_RESPONCE_INVALID_CRC);
  r = DescribeTestOutcome(read, crc);
  EXPECT_EQ(r.summary, crc.text.substr(8, crc.text.find('\n') - 8));
  EXPECT_FALSE(r.summary.empty());

  PduOutcome refused;
  refused.text = PduRequestErrorText(MB_REQUEST_NO_BROADCAST);
  r = DescribeTestOutcome(read, refused);
  EXPECT_EQ(r.summary, "Not sent: This request cannot be broadcast");
  EXPECT_LT(r.ms, 0);

  PduOutcome broadcast;
  broadcast.sent = true;
  broadcast.broadcast = true;
  r = DescribeTestOutcome(Bytes("06 00 13 12 34"), broadcast);
  EXPECT_EQ(r.summary, "Broadcast, no reply awaited");
  EXPECT_LT(r.ms, 0);

  PduOutcome listenOnly;
  listenOnly.sent = true;
  r = DescribeTestOutcome(Bytes("08 00 04 00 00"), listenOnly);
  EXPECT_EQ(r.summary, "Sent, no reply awaited");
}

TEST(test_center_test, the_history_keeps_the_last_requests_and_goes_through_a_workspace_file_and_back) {
  TestHistory history;
  for (int i = 0; i < 55; ++i) history.Add("10:00:" + std::to_string(i), i % 3 + 1, {0x08, 0, 0, 0xA5, static_cast<std::uint8_t>(i)});
  ASSERT_EQ(history.size(), kTestHistorySize);
  EXPECT_EQ(history.at(0).time, "10:00:5");
  EXPECT_FALSE(history.Complete(1, {"OK", "", 3}));  // the first fell off
  const int last = history.at(kTestHistorySize - 1).id;
  EXPECT_TRUE(history.Complete(last, {"OK", "Reply: 08 00 00 A5 36", 3.5}));
  EXPECT_EQ(TestHistoryRow(history.at(kTestHistorySize - 1)),
            (std::array<std::string, kTestHistoryColumns>{"10:00:54", "1", "08 Diagnostics", "08 00 00 A5 36", "OK", "3.5"}));
  EXPECT_EQ(TestHistoryRow(history.at(0))[4], "waiting");
  EXPECT_EQ(TestHistoryRow(history.at(0))[5], "");

  Workspace ws;
  ws.testCenter = history.Saved();
  ws.testCenter.back().pdu = Bytes("41 00");          // a function the codec does not know
  ws.testCenter[1] = {0, Bytes("06 00 13 12 34"), R"({"note":"by hand"})"};  // a broadcast, with a member of its own
  const std::string json = WorkspaceJson(ws);
  EXPECT_THAT(json, HasSubstr("\"test_center\": [\n    {\n      \"slave_id\": 3,\n      \"pdu\": \"08 00 00 A5 05\"\n    },"));
  EXPECT_THAT(json, HasSubstr("\"pdu\": \"06 00 13 12 34\",\n      \"note\": \"by hand\""));
  Workspace loaded;
  std::string error;
  ASSERT_TRUE(ReadWorkspace(json, "w.json", loaded, error)) << error;
  EXPECT_EQ(loaded, ws);
  TestHistory back;
  back.Load(loaded.testCenter);
  EXPECT_EQ(back.Saved(), ws.testCenter);
  EXPECT_EQ(TestHistoryRow(back.at(49)), (std::array<std::string, kTestHistoryColumns>{"", "1", "Function 0x41", "41 00", "", ""}));
  // Nothing of it is written when there is none, so files stay as they were.
  EXPECT_THAT(WorkspaceJson(Workspace{}), ::testing::Not(HasSubstr("test_center")));

  // A longer list, written by hand, is read from its end.
  std::string many = R"({"format": "vantrel-workspace", "version": 1, "test_center": [)";
  for (int i = 0; i < 60; ++i) many += (i ? "," : "") + std::string(R"({"slave_id": )") + std::to_string(i + 1) + R"(, "pdu": "07"})";
  ASSERT_TRUE(ReadWorkspace(many + "]}", "w.json", loaded, error)) << error;
  ASSERT_EQ(loaded.testCenter.size(), kTestHistorySize);
  EXPECT_EQ(loaded.testCenter.front().slaveId, 11);
}

TEST(test_center_test, a_workspaces_test_center_member_that_cannot_be_sent_is_refused_naming_it) {
  const struct {
    std::string list;
    std::string refusal;
  } cases[] = {
      {R"({})", R"(test_center: must be a list [...], not {})"},
      {R"([1])", "test_center[0]: must be an object {...}, not 1"},
      {R"([{"slave_id": 1}])", "test_center[0].pdu: missing: every request needs its PDU"},
      {R"([{"pdu": 8}])", R"(test_center[0].pdu: must be hex bytes such as "08 00 00 A5 37", not 8)"},
      {R"([{"pdu": "07"}, {"pdu": "0x07"}])", R"(test_center[1].pdu: must be hex bytes such as "08 00 00 A5 37", not "0x07")"},
      {R"([{"slave_id": "1", "pdu": "07"}])", R"(test_center[0].slave_id: must be a whole number, not "1")"},
      {R"([{"slave_id": 256, "pdu": "07"}])", "test_center[0].slave_id: must be 0 to 255, not 256"},
      {R"([{"slave_id": 0, "pdu": "03 00 00 00 0A"}])",
       "test_center[0].slave_id: must be 1 to 255 for function 3, which cannot be broadcast, not 0"},
      {R"([{"pdu": "03 00 00"}])", "test_center[0].pdu: 03 00 00 is refused: The request does not fit its function"},
  };
  for (const auto& c : cases) {
    Workspace ws;
    std::string error;
    EXPECT_FALSE(ReadWorkspace(R"({"format": "vantrel-workspace", "version": 1, "test_center": )" + c.list + "}",
                               "site.json", ws, error))
        << c.list;
    EXPECT_EQ(error, "site.json: " + c.refusal) << c.list;
  }
  // A save refuses what a load would.
  Workspace ws;
  ws.testCenter = {{1, Bytes("03 00 00"), ""}};
  EXPECT_EQ(WorkspaceProblem(ws), "test_center[0].pdu: 03 00 00 is refused: The request does not fit its function");
}

}  // namespace
}  // namespace vantrel
