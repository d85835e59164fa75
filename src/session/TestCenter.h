// The Test center's logic below its window: the form of each function the codec knows and the
// request PDU its fields make, a PDU typed in hex, the frame the line's mode puts on the wire,
// what an exchange's outcome says, and the history of requests sent with its workspace form.
// No Qt and no clock: the window gives the times.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "modbus/Framing.h"
#include "modbus/Functions.h"
#include "session/LineSession.h"
#include "session/Workspace.h"

namespace vantrel {

// The fields of the request form. A function's form shows some of them (TestFormOf); a field
// keeps its text when another function is chosen.
enum class TestParam : int {
  Offset,       // the first item (01 to 06, 15, 16, 22), 23's read, 24's FIFO pointer: counted from 1
  Quantity,     // 01 to 04, 23's read
  WriteOffset,  // 23's write, counted from 1
  Values,       // what 05, 06, 15, 16, 21 and 23 write; 08's data words
  SubFunction,  // 08; the first word of the text counts ("0x000B Return Bus Message Count")
  File,         // 20, 21: 1 to 65535
  Record,       // 20, 21: the first record, 0 to 9999
  Length,       // 20: registers from that record on
  AndMask,      // 22
  OrMask,       // 22
  ReadCode,     // 43/14: 1 basic, 2 regular, 3 extended, 4 one object
  ObjectId,     // 43/14
};
inline constexpr int kTestParamCount = 12;

struct TestField {
  TestParam param;
  const char* label;  // as the form names it: "AND mask"
};

// The fields of a function's form, in order: none for 07, 11, 12, 17 and a code the codec
// does not know.
std::vector<TestField> TestFormOf(std::uint8_t function);
// What a field holds before the user types anything.
const char* TestParamInitial(TestParam param);

// The texts of the form, by TestParam.
using TestParamTexts = std::array<std::string, kTestParamCount>;
TestParamTexts InitialTestParams();
inline std::string& At(TestParamTexts& texts, TestParam param) { return texts[static_cast<std::size_t>(param)]; }
inline const std::string& At(const TestParamTexts& texts, TestParam param) {
  return texts[static_cast<std::size_t>(param)];
}

// A request PDU as a form or a typed text makes it: the PDU, or why there is none.
struct TestPdu {
  std::vector<std::uint8_t> pdu;
  int check = MB_REQUEST_OK;  // the builder's refusal, or CheckRequestPdu's
  std::string problem;        // a field that is no number of its range, or a text that is no hex
  bool ok() const { return problem.empty() && check == MB_REQUEST_OK; }
};

// The request that the function's form makes of the texts (only its own fields are read).
// Numbers are decimal, or hex after 0x; values are separated by blanks or commas. The
// reads lay out their PDU here, so that they reach every address as a raw PDU does (the
// read builder keeps to the poll's range); the writes are made by BuildWriteRequest, 07 to 24
// by the builders of Functions.h, 43/14 by DeviceIdRequestPdu. A function the codec does
// not know makes no PDU (problem says so).
TestPdu BuildTestPdu(std::uint8_t function, const TestParamTexts& texts);

// A PDU typed in hex: "08 00 00 A5 37", blanks optional between pairs ("080000A537").
TestPdu ParseTestPdu(const std::string& text);

// The PDU as the raw field shows it: "08 00 00 A5 37".
std::string PduText(const std::vector<std::uint8_t>& pdu);

// "01 Read Coils", "43/14 Read Device Identification", as the function list names them.
std::string FunctionLabel(const FunctionInfo& function);
// What a request PDU asks, as the history names it: its function's label, "Function 0x41" for
// a code the codec does not know.
std::string RequestLabel(const std::vector<std::uint8_t>& pdu);

// What goes when Send is pressed.
struct TestPreview {
  bool ok = false;
  // The frame as the mode puts it on the wire: RTU and RTU over TCP with the CRC, ASCII's
  // characters from ':' to <CR><LF> with the LRC, Modbus TCP with the MBAP header of
  // transaction id 1 (each request carries the next, so only that field differs on the line).
  std::string frame;
  // Whether a reply is awaited: "Broadcast: every device carries it out, none answers; no
  // reply is awaited.", ...; when refused, the explanation (PduRequestErrorText, or the
  // field or text at fault).
  std::string note;
  bool broadcast = false;
};
TestPreview PreviewTestRequest(ModbusMode mode, int slaveId, const TestPdu& request);

// What an exchange's outcome says.
struct TestResult {
  std::string summary;  // one line for the history: "OK", "Exception: 0x01 - ILLEGAL FUNCTION", "Time-out"
  std::string details;  // the reply in hex and decoded, or the explanation
  double ms = -1;       // the response time; -1 when there is none (a broadcast, nothing sent)
};
TestResult DescribeTestOutcome(const std::vector<std::uint8_t>& requestPdu, const PduOutcome& outcome);

// One request of the history.
struct TestExchange {
  int id = 0;  // given by Add, for Complete
  std::string time;
  int slaveId = 1;
  std::vector<std::uint8_t> pdu;
  std::string outcome;  // summary; "waiting" until the outcome comes, "" for one from a workspace
  std::string details;
  double ms = -1;
  std::string unknownFields;  // a workspace's members of the entry that this version does not know
};

// The requests sent, oldest first; the last kTestHistorySize are kept and saved.
inline constexpr std::size_t kTestHistorySize = 50;

class TestHistory {
 public:
  // A request went; its id, for Complete.
  int Add(const std::string& time, int slaveId, std::vector<std::uint8_t> pdu);
  // Its outcome came; false when it is no longer kept.
  bool Complete(int id, const TestResult& result);
  void Clear() { entries_.clear(); }
  const std::deque<TestExchange>& entries() const { return entries_; }
  std::size_t size() const { return entries_.size(); }
  const TestExchange& at(std::size_t i) const { return entries_.at(i); }
  // The row of the exchange with that id; -1 when none.
  int RowOf(int id) const;

  // The workspace's form: slave id and PDU of each, and the members it did not know.
  std::vector<SavedTestRequest> Saved() const;
  // Replaces the history with a workspace's requests (the last kTestHistorySize of them).
  void Load(const std::vector<SavedTestRequest>& saved);

 private:
  std::deque<TestExchange> entries_;
  int nextId_ = 1;
};

// The columns of a history row: time, slave, function, PDU, outcome, ms.
inline constexpr int kTestHistoryColumns = 6;
std::array<std::string, kTestHistoryColumns> TestHistoryRow(const TestExchange& exchange);

}  // namespace vantrel
