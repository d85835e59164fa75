// The codec of every public function: requests built and checked, reply sizes, reply checks
// and decoding, on PDUs. The examples are those of the Modbus application protocol where it
// gives them.
#include "modbus/Functions.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "support/Hex.h"

using namespace vantrel;
using vantrel::test::Bytes;
using vantrel::test::HexOf;

namespace {

const std::string kFileRead = "14 0E 06 00 04 00 01 00 02 06 00 03 00 09 00 02";
const std::string kFileReadReply = "14 0C 05 06 0D FE 00 20 05 06 33 CD 00 40";
const std::string kFileWrite = "15 0D 06 00 04 00 07 00 03 06 AF 04 BE 10 0D";
const std::string kReadWrite = "17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF";
const std::string kReadWriteReply = "17 0C 00 FE 0A CD 00 01 00 03 00 0D 00 FF";
const std::string kEventLogReply = "0C 08 00 00 01 08 01 21 20 00";
const std::string kFifoReply = "18 00 06 00 02 01 B8 12 84";

// A FIFO reply with count registers, the byte count as the count needs.
std::string FifoReply(int count) {
  std::vector<std::uint8_t> pdu{kReadFifoQueue, 0, static_cast<std::uint8_t>(2 + 2 * count), 0,
                                static_cast<std::uint8_t>(count)};
  pdu.resize(pdu.size() + 2 * static_cast<std::size_t>(count), 0x11);
  return HexOf(pdu);
}

int CheckRaw(int slaveId, const std::string& pdu) {
  const auto b = Bytes(pdu);
  return CheckRequest(slaveId, b.data(), static_cast<int>(b.size()));
}

}  // namespace

TEST(functions, the_table_names_each_code_and_lets_the_writes_alone_be_broadcast) {
  std::set<int> codes;
  std::set<int> broadcast;
  for (const FunctionInfo& f : ModbusFunctions()) {
    EXPECT_EQ(FindFunction(f.code), &f);
    EXPECT_TRUE(codes.insert(f.code).second) << int{f.code};
    if (f.broadcast) broadcast.insert(f.code);
    EXPECT_EQ(f.reply == ReplyShape::Fixed, f.replySize > 0) << f.name;
  }
  EXPECT_EQ(codes, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 15, 16, 17, 20, 21, 22, 23, 24, 43}));
  EXPECT_EQ(broadcast, (std::set<int>{5, 6, 15, 16, 21, 22}));
  const std::pair<std::uint8_t, const char*> names[] = {
      {7, "Read Exception Status"}, {8, "Diagnostics"}, {11, "Get Comm Event Counter"},
      {12, "Get Comm Event Log"},   {17, "Report Server ID"}, {20, "Read File Record"},
      {21, "Write File Record"},    {22, "Mask Write Register"}, {0x97, "Read/Write Multiple Registers"},
      {24, "Read FIFO Queue"},      {0x41, "Function 0x41"}, {0xC1, "Function 0x41"},
  };
  for (const auto& [code, name] : names) EXPECT_EQ(FunctionName(code), name);
  EXPECT_EQ(FindFunction(0x41), nullptr);

  std::set<int> subs;
  for (const DiagnosticInfo& d : DiagnosticFunctions()) {
    EXPECT_EQ(FindDiagnostic(d.code), &d);
    subs.insert(d.code);
    EXPECT_EQ(d.kind == DiagnosticKind::Value, d.value != nullptr) << d.name;
  }
  EXPECT_EQ(subs, (std::set<int>{0, 1, 2, 4, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20}));
  EXPECT_EQ(DiagnosticName(0x0B), "Return Bus Message Count");
  EXPECT_EQ(DiagnosticName(0x14), "Clear Overrun Counter and Flag");
  EXPECT_EQ(DiagnosticName(3), "Sub-function 0x0003");
}

TEST(functions, requests_built_from_typed_fields_within_their_limits) {
  const std::vector<std::uint16_t> regs121(121, 1), regs122(122, 1);
  const std::vector<std::uint16_t> words125(125, 0xAB), words126(126, 0xAB);
  struct Row {
    const char* what;
    RequestPdu built;
    int check;
    const char* pdu = nullptr;  // null: not compared
  };
  const Row rows[] = {
      {"07", ReadExceptionStatusPdu(), MB_REQUEST_OK, "07"},
      {"08 return query data", DiagnosticsPdu(0, {0xA537}), MB_REQUEST_OK, "08 00 00 A5 37"},
      {"08 00 with 125 words", DiagnosticsPdu(0, words125), MB_REQUEST_OK},
      {"08 00 with 126 words", DiagnosticsPdu(0, words126), MB_REQUEST_BAD_PDU_SIZE},
      {"08 00 with no data", DiagnosticsPdu(0, {}), MB_REQUEST_BAD_PDU_SIZE},
      {"08 restart, clearing the log", DiagnosticsPdu(1, {0xFF00}), MB_REQUEST_OK, "08 00 01 FF 00"},
      {"08 restart with other data", DiagnosticsPdu(1, {0x1234}), MB_REQUEST_BAD_FIELD},
      {"08 listen only", DiagnosticsPdu(4, {0}), MB_REQUEST_OK, "08 00 04 00 00"},
      {"08 bus message count", DiagnosticsPdu(0x0B, {0}), MB_REQUEST_OK, "08 00 0B 00 00"},
      {"08 a counter with data", DiagnosticsPdu(0x0B, {1}), MB_REQUEST_BAD_FIELD},
      {"08 a counter with two words", DiagnosticsPdu(0x0B, {0, 0}), MB_REQUEST_BAD_PDU_SIZE},
      {"08 clear overrun", DiagnosticsPdu(0x14, {0}), MB_REQUEST_OK, "08 00 14 00 00"},
      {"08 a sub-function not known", DiagnosticsPdu(3, {0}), MB_REQUEST_BAD_FIELD},
      {"11", CommEventCounterPdu(), MB_REQUEST_OK, "0B"},
      {"12", CommEventLogPdu(), MB_REQUEST_OK, "0C"},
      {"17", ReportServerIdPdu(), MB_REQUEST_OK, "11"},
      {"20", ReadFileRecordPdu({{4, 1, 2}, {3, 9, 2}}), MB_REQUEST_OK, kFileRead.c_str()},
      {"20 the last record", ReadFileRecordPdu({{1, 9999, 1}}), MB_REQUEST_OK, "14 07 06 00 01 27 0F 00 01"},
      {"20 past the last record", ReadFileRecordPdu({{1, 9999, 2}}), MB_REQUEST_OUT_OF_RANGE},
      {"20 record 10000", ReadFileRecordPdu({{1, 10000, 1}}), MB_REQUEST_BAD_FIELD},
      {"20 file 0", ReadFileRecordPdu({{0, 1, 2}}), MB_REQUEST_BAD_FIELD},
      {"20 no registers", ReadFileRecordPdu({{1, 0, 0}}), MB_REQUEST_BAD_QUANTITY},
      {"20 no references", ReadFileRecordPdu({}), MB_REQUEST_BAD_QUANTITY},
      {"20 a reply that fills a PDU", ReadFileRecordPdu({{1, 0, 124}}), MB_REQUEST_OK},
      {"20 a reply beyond a PDU", ReadFileRecordPdu({{1, 0, 125}}), MB_REQUEST_BAD_QUANTITY},
      {"21", WriteFileRecordPdu({{4, 7, {0x06AF, 0x04BE, 0x100D}}}), MB_REQUEST_OK, kFileWrite.c_str()},
      {"21 filling a PDU", WriteFileRecordPdu({{1, 0, regs122}}), MB_REQUEST_OK},
      {"21 beyond a PDU", WriteFileRecordPdu({{1, 0, std::vector<std::uint16_t>(123, 1)}}), MB_REQUEST_BAD_PDU_SIZE},
      {"21 no values", WriteFileRecordPdu({{1, 0, {}}}), MB_REQUEST_BAD_QUANTITY},
      {"21 past the last record", WriteFileRecordPdu({{1, 9998, {1, 2, 3}}}), MB_REQUEST_WRITE_OUT_OF_RANGE},
      {"22", MaskWriteRegisterPdu(4, 0x00F2, 0x0025), MB_REQUEST_OK, "16 00 04 00 F2 00 25"},
      {"23", ReadWriteRegistersPdu(3, 6, 14, {0xFF, 0xFF, 0xFF}), MB_REQUEST_OK, kReadWrite.c_str()},
      {"23 reads 125, writes 121", ReadWriteRegistersPdu(0, 125, 0, regs121), MB_REQUEST_OK},
      {"23 reads 126", ReadWriteRegistersPdu(0, 126, 0, {1}), MB_REQUEST_BAD_QUANTITY},
      {"23 reads none", ReadWriteRegistersPdu(0, 0, 0, {1}), MB_REQUEST_BAD_QUANTITY},
      {"23 writes 122", ReadWriteRegistersPdu(0, 1, 0, regs122), MB_REQUEST_BAD_QUANTITY},
      {"23 writes none", ReadWriteRegistersPdu(0, 1, 0, {}), MB_REQUEST_BAD_QUANTITY},
      {"23 reads past 65535", ReadWriteRegistersPdu(65535, 2, 0, {1}), MB_REQUEST_OUT_OF_RANGE},
      {"23 writes past 65535", ReadWriteRegistersPdu(0, 1, 65535, {1, 2}), MB_REQUEST_WRITE_OUT_OF_RANGE},
      {"24", ReadFifoQueuePdu(0x04DE), MB_REQUEST_OK, "18 04 DE"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(row.built.check, row.check);
    EXPECT_EQ(row.built.ok(), row.check == MB_REQUEST_OK);
    if (row.check != MB_REQUEST_OK) {
      EXPECT_TRUE(row.built.pdu.empty());
    }
    if (row.pdu != nullptr) {
      EXPECT_EQ(HexOf(row.built.pdu), row.pdu);
    }
    // What a builder makes, the raw check takes as it is.
    if (row.built.ok()) {
      EXPECT_EQ(CheckRequestPdu(row.built.pdu.data(), static_cast<int>(row.built.pdu.size())), MB_REQUEST_OK);
    }
  }
}

TEST(functions, raw_requests_are_checked_as_their_function_frames_them) {
  struct Row {
    int slave;
    std::string pdu;
    int check;
  };
  const std::string full(2 * 253, 'A');  // 253 bytes of 0xAA
  const Row rows[] = {
      {1, "", MB_REQUEST_BAD_PDU_SIZE},
      {1, "41" + full, MB_REQUEST_BAD_PDU_SIZE},
      {1, "00", MB_REQUEST_UNKNOWN_FUNCTION_CODE},
      {1, "83 02", MB_REQUEST_UNKNOWN_FUNCTION_CODE},
      {1, "41 01 02", MB_REQUEST_OK},  // the device's own function: any data
      {1, "03 00 00 00 7D", MB_REQUEST_OK},
      {1, "03 00 00 00 7E", MB_REQUEST_BAD_QUANTITY},
      {1, "01 00 00 07 D1", MB_REQUEST_BAD_QUANTITY},
      {1, "04 FF FF 00 02", MB_REQUEST_OUT_OF_RANGE},
      {1, "03 00 00 00", MB_REQUEST_BAD_PDU_SIZE},
      {1, "05 00 01 12 34", MB_REQUEST_BAD_FIELD},
      {1, "0F 00 13 00 0A 02 CD 01", MB_REQUEST_OK},
      {1, "0F 00 13 00 0A 01 CD", MB_REQUEST_BAD_PDU_SIZE},
      {1, "10 FF FF 00 02 04 00 0A 01 02", MB_REQUEST_WRITE_OUT_OF_RANGE},
      {1, "07 00", MB_REQUEST_BAD_PDU_SIZE},
      {1, "08 00 03 00 00", MB_REQUEST_OK},  // a sub-function the program does not know
      {1, "08 00 00", MB_REQUEST_BAD_PDU_SIZE},
      {1, "08 00 0B 00", MB_REQUEST_BAD_PDU_SIZE},
      {1, "14 07 05 00 04 00 01 00 02", MB_REQUEST_BAD_FIELD},  // reference type 5
      {1, "14 08 06 00 04 00 01 00 02 00", MB_REQUEST_BAD_PDU_SIZE},
      {1, "15 0B 06 00 04 00 07 00 03 06 AF 04 BE", MB_REQUEST_BAD_PDU_SIZE},  // 3 registers, 2 there
      {1, kFileWrite.substr(0, kFileWrite.size() - 3), MB_REQUEST_BAD_PDU_SIZE},
      {1, "17 00 03 00 06 00 0E 00 03 04 00 FF 00 FF", MB_REQUEST_BAD_PDU_SIZE},
      {1, "18 04", MB_REQUEST_BAD_PDU_SIZE},
      {1, "2B 0E 05 00", MB_REQUEST_BAD_FIELD},
      {1, "2B 0D 01 02 03", MB_REQUEST_OK},  // another MEI type: its data are its own
      {247, "07", MB_REQUEST_OK},
      {256, "07", MB_REQUEST_BAD_SLAVE_ID},
      {-1, "07", MB_REQUEST_BAD_SLAVE_ID},
      // A broadcast: writes only.
      {0, "05 00 01 FF 00", MB_REQUEST_OK},
      {0, "06 00 01 00 03", MB_REQUEST_OK},
      {0, "0F 00 13 00 0A 02 CD 01", MB_REQUEST_OK},
      {0, "10 00 01 00 02 04 00 0A 01 02", MB_REQUEST_OK},
      {0, kFileWrite, MB_REQUEST_OK},
      {0, "16 00 04 00 F2 00 25", MB_REQUEST_OK},
      {0, "03 00 00 00 01", MB_REQUEST_NO_BROADCAST},
      {0, kReadWrite, MB_REQUEST_NO_BROADCAST},
      {0, "08 00 04 00 00", MB_REQUEST_NO_BROADCAST},
      {0, "41", MB_REQUEST_NO_BROADCAST},
  };
  for (const Row& row : rows) EXPECT_EQ(CheckRaw(row.slave, row.pdu), row.check) << row.slave << ": " << row.pdu;

  std::vector<std::uint8_t> frame;
  EXPECT_EQ(FrameRequest(1, Bytes("03 00 00 00 0A"), frame), MB_REQUEST_OK);
  EXPECT_EQ(HexOf(frame), "01 03 00 00 00 0A C5 CD");
  EXPECT_EQ(FrameRequest(0, Bytes("03 00 00 00 0A"), frame), MB_REQUEST_NO_BROADCAST);
  EXPECT_TRUE(frame.empty());

  const struct {
    int slave;
    const char* pdu;
    bool answered;
  } replies[] = {{1, "07", true}, {0, "06 00 01 00 03", false}, {1, "08 00 04 00 00", false}, {1, "08 00 00 A5 37", true}};
  for (const auto& r : replies) {
    const auto b = Bytes(r.pdu);
    EXPECT_EQ(RequestExpectsReply(r.slave, b.data(), static_cast<int>(b.size())), r.answered) << r.pdu;
  }
}

// The size is 0 until the bytes that tell it have come (knownAt), then the whole reply's.
TEST(functions, reply_size_from_the_request_and_the_first_bytes) {
  struct Row {
    const char* what;
    std::string request, reply;
    int size;
    int knownAt;
  };
  const Row rows[] = {
      {"07", "07", "07 6D", 2, 1},
      {"08 echoes the request's size", "08 00 00 01 02 03 04", "08 00 00 01 02 03 04", 7, 1},
      {"08 a counter", "08 00 0B 00 00", "08 00 0B 00 2A", 5, 1},
      {"08 listen only: no reply", "08 00 04 00 00", "08 00 04 00 00", -1, 0},
      {"11", "0B", "0B FF FF 01 08", 5, 1},
      {"12", "0C", kEventLogReply, 10, 2},
      {"17", "11", "11 04 0A FF 56 54", 6, 2},
      {"20", kFileRead, kFileReadReply, 14, 2},
      {"21 echoes", kFileWrite, kFileWrite, 15, 1},
      {"22", "16 00 04 00 F2 00 25", "16 00 04 00 F2 00 25", 7, 1},
      {"23", kReadWrite, kReadWriteReply, 14, 2},
      {"24", "18 04 DE", kFifoReply, 9, 3},
      {"03", "03 00 00 00 02", "03 04 00 0A 00 0B", 6, 2},
      {"43/14", "2B 0E 01 00", "2B 0E 01 01 00 00 01 00 02 56 54", 11, 9},
      {"an exception", kReadWrite, "97 02", 2, 1},
      {"an exception to a request the device found wrong", "07 01", "87 03", 2, 1},
      {"a function the program does not know", "41 01", "41 01 02", -1, 0},
      {"another function's reply", "07", "03 02 00 01", -1, 1},
      {"a byte count beyond a PDU", kReadWrite, "17 FC", -1, 2},
      {"a FIFO byte count beyond a PDU", "18 04 DE", "18 00 FB", -1, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const auto request = Bytes(row.request);
    const auto reply = Bytes(row.reply);
    for (int n = 0; n <= static_cast<int>(reply.size()); ++n) {
      EXPECT_EQ(ReplyPduSize(request.data(), static_cast<int>(request.size()), reply.data(), n),
                n < row.knownAt ? 0 : row.size)
          << n << " bytes";
    }
  }
}

TEST(functions, a_reply_is_trusted_only_when_it_answers_its_request) {
  struct Row {
    const char* what;
    std::string request, reply;
    int result;
  };
  const Row rows[] = {
      {"07", "07", "07 6D", MB_RESPONCE_OK},
      {"07 one byte too many", "07", "07 6D 00", MB_RESPONCE_INCOMPLETE},
      {"07 exception", "07", "87 01", MB_RESPONCE_EXCEPTION},
      {"an exception one byte too long", "07", "87 01 00", MB_RESPONCE_INCOMPLETE},
      {"08 echo", "08 00 00 A5 37", "08 00 00 A5 37", MB_RESPONCE_OK},
      {"08 other data echoed", "08 00 00 A5 37", "08 00 00 A5 38", MB_RESPONCE_REPLY_MISMATCH},
      {"08 a counter", "08 00 0B 00 00", "08 00 0B 00 2A", MB_RESPONCE_OK},
      {"08 another sub-function", "08 00 0B 00 00", "08 00 0C 00 2A", MB_RESPONCE_REPLY_MISMATCH},
      {"08 restart echoed", "08 00 01 FF 00", "08 00 01 FF 00", MB_RESPONCE_OK},
      {"08 restart, other data", "08 00 01 FF 00", "08 00 01 00 00", MB_RESPONCE_REPLY_MISMATCH},
      {"08 a reply to listen only", "08 00 04 00 00", "08 00 04 00 00", MB_RESPONCE_REPLY_MISMATCH},
      {"11", "0B", "0B FF FF 01 08", MB_RESPONCE_OK},
      {"12", "0C", kEventLogReply, MB_RESPONCE_OK},
      {"12 too short for its counts", "0C", "0C 04 00 00 01 08", MB_RESPONCE_REPLY_MISMATCH},
      {"17", "11", "11 04 0A FF 56 54", MB_RESPONCE_OK},
      {"17 without a run indicator", "11", "11 01 0A", MB_RESPONCE_REPLY_MISMATCH},
      {"20", kFileRead, kFileReadReply, MB_RESPONCE_OK},
      {"20 a short sub-response", kFileRead, "14 0A 05 06 0D FE 00 20 03 06 33 CD", MB_RESPONCE_REPLY_MISMATCH},
      {"20 reference type 5", kFileRead, "14 0C 05 06 0D FE 00 20 05 05 33 CD 00 40", MB_RESPONCE_REPLY_MISMATCH},
      {"20 one record of two", kFileRead, "14 06 05 06 0D FE 00 20", MB_RESPONCE_REPLY_MISMATCH},
      {"21 echo", kFileWrite, kFileWrite, MB_RESPONCE_OK},
      {"21 another value echoed", kFileWrite, kFileWrite.substr(0, kFileWrite.size() - 2) + "0E",
       MB_RESPONCE_WRITE_ECHO_MISMATCH},
      {"22 echo", "16 00 04 00 F2 00 25", "16 00 04 00 F2 00 25", MB_RESPONCE_OK},
      {"22 another OR mask", "16 00 04 00 F2 00 25", "16 00 04 00 F2 00 26", MB_RESPONCE_WRITE_ECHO_MISMATCH},
      {"22 another reference", "16 00 04 00 F2 00 25", "16 00 05 00 F2 00 25", MB_RESPONCE_WRITE_ECHO_MISMATCH},
      {"23", kReadWrite, kReadWriteReply, MB_RESPONCE_OK},
      {"23 two registers of six", kReadWrite, "17 04 00 FE 0A CD", MB_RESPONCE_REPLY_MISMATCH},
      {"24", "18 04 DE", kFifoReply, MB_RESPONCE_OK},
      {"24 31 values", "18 04 DE", FifoReply(31), MB_RESPONCE_OK},
      {"24 FIFO count 32", "18 04 DE", FifoReply(32), MB_RESPONCE_REPLY_MISMATCH},
      {"24 a byte count the count does not fill", "18 04 DE", "18 00 06 00 01 01 B8 12 84",
       MB_RESPONCE_REPLY_MISMATCH},
      {"03 fewer registers than asked", "03 00 00 00 02", "03 02 00 0A", MB_RESPONCE_REPLY_MISMATCH},
      {"06 another value echoed", "06 00 01 00 03", "06 00 01 00 04", MB_RESPONCE_WRITE_ECHO_MISMATCH},
      {"43/14 another read code", "2B 0E 01 00", "2B 0E 02 01 00 00 00", MB_RESPONCE_REPLY_MISMATCH},
      {"another function", "07", "03 02 00 01", MB_RESPONCE_UNKOWN},
      {"function 0", "07", "00 01", MB_RESPONCE_INVALID_FUNCTION_CODE},
      {"the device's own function: any reply", "41 01", "41 05 06 07", MB_RESPONCE_OK},
      {"the device's own function: its exception", "41", "C1 01", MB_RESPONCE_EXCEPTION},
      {"a known function's request that is no such request", "07 00", "07 6D", MB_RESPONCE_UNSUPPORTED_REQUEST},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const auto request = Bytes(row.request);
    const auto reply = Bytes(row.reply);
    EXPECT_EQ(CheckReplyPdu(request.data(), static_cast<int>(request.size()), reply.data(), static_cast<int>(reply.size())),
              row.result);
  }
}

TEST(functions, replies_decoded_into_named_fields) {
  struct Row {
    std::string request, reply;
    const char* text;
  };
  const Row rows[] = {
      {"07", "07 6D", "Function: 07 Read Exception Status\nException status: 0x6D (01101101)\n"},
      {"08 00 00 A5 37", "08 00 00 A5 37",
       "Function: 08 Diagnostics\nSub-function: 0x0000 Return Query Data\nData: A5 37\n"},
      {"08 00 0B 00 00", "08 00 0B 00 2A",
       "Function: 08 Diagnostics\nSub-function: 0x000B Return Bus Message Count\nCounter 11 Bus message count: 42\n"},
      {"08 00 02 00 00", "08 00 02 00 05",
       "Function: 08 Diagnostics\nSub-function: 0x0002 Return Diagnostic Register\n"
       "Diagnostic register: 0x0005 (0000000000000101)\n"},
      {"0B", "0B FF FF 01 08", "Function: 11 Get Comm Event Counter\nStatus: 0xFFFF (busy)\nEvent count: 264\n"},
      {"0C", kEventLogReply,
       "Function: 12 Get Comm Event Log\nByte count: 8\nStatus: 0x0000 (ready)\nEvent count: 264\n"
       "Message count: 289\nEvents: 20 00\n"},
      {"11", "11 04 0A FF 56 54",
       "Function: 17 Report Server ID\nByte count: 4\nServer id: 0x0A\nRun indicator: ON\nAdditional data: 56 54\n"},
      {kFileRead, kFileReadReply,
       "Function: 20 Read File Record\nResponse length: 12\nRecord 1 of file 4: 0DFE 0020\n"
       "Record 9 of file 3: 33CD 0040\n"},
      {"", kFileReadReply,
       "Function: 20 Read File Record\nResponse length: 12\nSub-response 1: 0DFE 0020\nSub-response 2: 33CD 0040\n"},
      {kFileWrite, kFileWrite, "Function: 21 Write File Record\nRecord 7 of file 4: 06AF 04BE 100D\n"},
      {"16 00 04 00 F2 00 25", "16 00 04 00 F2 00 25",
       "Function: 22 Mask Write Register\nAddress: 4\nAND mask: 0x00F2\nOR mask: 0x0025\n"},
      {kReadWrite, kReadWriteReply,
       "Function: 23 Read/Write Multiple Registers\nByte count: 12\nRegisters read: 254, 2765, 1, 3, 13, 255\n"},
      {"18 04 DE", kFifoReply, "Function: 24 Read FIFO Queue\nByte count: 6\nFIFO count: 2\nFIFO values: 440, 4740\n"},
      {"18 04 DE", "18 00 06 00 02 01 B8", "Function: 24 Read FIFO Queue\nData: 00 06 00 02 01 B8\n"},
      {"01 00 13 00 13", "01 03 CD 6B 05",
       "Function: 01 Read Coils\nByte count: 3\nCoils: 1 0 1 1 0 0 1 1 1 1 0 1 0 1 1 0 1 0 1\n"},
      {"05 00 AC FF 00", "05 00 AC FF 00", "Function: 05 Write Single Coil\nAddress: 172\nValue: ON (0xFF00)\n"},
      {"2B 0E 01 00", "2B 0E 01 01 00 00 01 00 02 56 54",
       "Function: 43 Read Device Identification\nRead device id code: 1\nConformity level: 0x01\nMore follows: no\n"
       "VendorName: VT\n"},
      {kReadWrite, "97 02",
       "Function: 0x97, exception of 23 Read/Write Multiple Registers\nException code: 0x02\n"
       "Exception: 0x02 - ILLEGAL DATA ADDRESS\n"},
      {"41", "41 01 02 03", "Function: 0x41\nData: 01 02 03\n"},
  };
  for (const Row& row : rows) {
    const auto request = Bytes(row.request);
    const auto reply = Bytes(row.reply);
    EXPECT_EQ(FieldsText(DecodeReplyPdu(request.empty() ? nullptr : request.data(), static_cast<int>(request.size()),
                                        reply.data(), static_cast<int>(reply.size()))),
              row.text)
        << row.reply;
  }
}

TEST(functions, typed_accessors_of_the_replies) {
  const auto diag = Bytes("08 00 0B 00 2A");
  std::uint16_t value = 0;
  EXPECT_TRUE(DiagnosticValue(diag.data(), 5, value));
  EXPECT_EQ(value, 42);
  const auto echo = Bytes("08 00 00 00 2B");
  EXPECT_FALSE(DiagnosticValue(echo.data(), 5, value)) << "00 echoes data, it carries no counter";
  EXPECT_EQ(value, 42);

  const auto counterReply = Bytes("0B FF FF 01 08");
  CommEventCounter counter;
  ASSERT_TRUE(ParseCommEventCounter(counterReply.data(), 5, counter));
  EXPECT_EQ(counter.status, 0xFFFF);
  EXPECT_EQ(counter.eventCount, 264);

  const auto logReply = Bytes(kEventLogReply);
  CommEventLog log;
  ASSERT_TRUE(ParseCommEventLog(logReply.data(), static_cast<int>(logReply.size()), log));
  EXPECT_EQ(log.messageCount, 289);
  EXPECT_EQ(HexOf(log.events), "20 00");
  EXPECT_FALSE(ParseCommEventLog(logReply.data(), static_cast<int>(logReply.size()) - 1, log));

  const auto serverReply = Bytes("11 04 0A FF 56 54");
  ServerIdReply server;
  ASSERT_TRUE(ParseServerId(serverReply.data(), 6, server));
  EXPECT_EQ(server.byteCount, 4);
  EXPECT_EQ(server.serverId, 0x0A);
  EXPECT_TRUE(server.running());
  EXPECT_EQ(HexOf(server.additional), "56 54");

  const auto fileReply = Bytes(kFileReadReply);
  std::vector<std::vector<std::uint16_t>> records;
  ASSERT_TRUE(ParseFileRecords(fileReply.data(), static_cast<int>(fileReply.size()), records));
  EXPECT_EQ(records, (std::vector<std::vector<std::uint16_t>>{{0x0DFE, 0x0020}, {0x33CD, 0x0040}}));

  const auto rwReply = Bytes(kReadWriteReply);
  std::vector<std::uint16_t> registers;
  ASSERT_TRUE(ParseReadWriteRegisters(rwReply.data(), static_cast<int>(rwReply.size()), registers));
  EXPECT_EQ(registers, (std::vector<std::uint16_t>{254, 2765, 1, 3, 13, 255}));

  const auto fifoReply = Bytes(kFifoReply);
  std::vector<std::uint16_t> fifo;
  ASSERT_TRUE(ParseFifoQueue(fifoReply.data(), static_cast<int>(fifoReply.size()), fifo));
  EXPECT_EQ(fifo, (std::vector<std::uint16_t>{0x01B8, 0x1284}));
  const auto tooMany = Bytes(FifoReply(32));
  EXPECT_FALSE(ParseFifoQueue(tooMany.data(), static_cast<int>(tooMany.size()), fifo));
  EXPECT_EQ(fifo.size(), 2u) << "untouched";
  // Another function's bytes are no such reply.
  EXPECT_FALSE(ParseFifoQueue(rwReply.data(), static_cast<int>(rwReply.size()), fifo));
  EXPECT_FALSE(ParseReadWriteRegisters(fileReply.data(), static_cast<int>(fileReply.size()), registers));
}

// Mutated replies to each example request never take the codec outside the bytes it is given
// (the sanitizer build runs this too), and keep its promises: an OK reply is as long as the
// reply size says, and decodes into the fields of the example's reply.
TEST(functions, mutated_replies_keep_the_promises) {
  const std::pair<std::string, std::string> examples[] = {
      {"07", "07 6D"},         {"08 00 00 A5 37", "08 00 00 A5 37"}, {"08 00 0B 00 00", "08 00 0B 00 2A"},
      {"0B", "0B FF FF 01 08"}, {"0C", kEventLogReply},              {"11", "11 04 0A FF 56 54"},
      {kFileRead, kFileReadReply}, {kFileWrite, kFileWrite},         {"16 00 04 00 F2 00 25", "16 00 04 00 F2 00 25"},
      {kReadWrite, kReadWriteReply}, {"18 04 DE", kFifoReply},
  };
  std::mt19937 rng(20261209);
  int ok = 0;
  for (const auto& [requestHex, replyHex] : examples) {
    const auto request = Bytes(requestHex);
    const auto good = Bytes(replyHex);
    const std::size_t goodFields =
        DecodeReplyPdu(request.data(), static_cast<int>(request.size()), good.data(), static_cast<int>(good.size())).size();
    for (int round = 0; round < 5000; ++round) {
      std::vector<std::uint8_t> reply = good;
      for (int e = static_cast<int>(rng() % 3); e > 0; --e) {
        const std::size_t at = rng() % (reply.size() + 1);
        switch (rng() % 3) {
          case 0: if (at < reply.size()) reply[at] = static_cast<std::uint8_t>(rng()); break;
          case 1: reply.insert(reply.begin() + static_cast<long>(at), static_cast<std::uint8_t>(rng())); break;
          default: if (at < reply.size()) reply.erase(reply.begin() + static_cast<long>(at)); break;
        }
      }
      const int n = static_cast<int>(reply.size());
      const int result = CheckReplyPdu(request.data(), static_cast<int>(request.size()), reply.data(), n);
      const PduFields fields = DecodeReplyPdu(request.data(), static_cast<int>(request.size()), reply.data(), n);
      if (result == MB_RESPONCE_OK) {
        ++ok;
        ASSERT_EQ(ReplyPduSize(request.data(), static_cast<int>(request.size()), reply.data(), n), n) << HexOf(reply);
        ASSERT_EQ(fields.size(), goodFields) << HexOf(reply);
      }
    }
  }
  EXPECT_GT(ok, 5000);
}
