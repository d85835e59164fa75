#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "modbus/ModbusMaster.h"
#include "session/Line.h"
#include "support/Hex.h"

using namespace vantrel;
using vantrel::test::Bytes;
using vantrel::test::HexOf;

namespace {

const auto kRequest3 = Bytes("01 03 00 00 00 02 C4 0B");

int Check(ModbusMaster& m, const std::string& replyHex, const std::vector<std::uint8_t>& req = kRequest3) {
  const auto reply = Bytes(replyHex);
  return m.CheckResponse(req.data(), static_cast<int>(req.size()), reply.data(), static_cast<int>(reply.size()));
}

}  // namespace

TEST(check_response, good_reply_fills_the_decoded_fields) {
  Line line;
  ModbusMaster& m = line.master();
  EXPECT_EQ(Check(m, "01 03 04 00 0A 00 0B 9B F6"), MB_RESPONCE_OK);
  EXPECT_EQ(m.byte_count, 4);
  EXPECT_EQ(HexOf(m.data, 4), "00 0A 00 0B");
  EXPECT_EQ(m.response_function, 3);
  EXPECT_EQ(m.request_function, 3);
  EXPECT_EQ(m.request_slave_id, 1);
  EXPECT_EQ(m.request_address, 0);
  EXPECT_EQ(m.request_quantity, 2);
  EXPECT_EQ(m.response_size, 9);
  EXPECT_EQ(m.request_size, 8);
}

TEST(check_response, damaged_or_short_replies) {
  Line line;
  ModbusMaster& m = line.master();
  EXPECT_EQ(Check(m, "01 03 04 00 0A 00 0B 9B F7"), MB_RESPONCE_INVALID_CRC);
  EXPECT_EQ(Check(m, "01 03 04 00 0A 00 9B F6"), MB_RESPONCE_INCOMPLETE);
  EXPECT_EQ(Check(m, "01 03 04"), MB_RESPONCE_INCOMPLETE);
  // one byte too many is not a complete frame either
  EXPECT_EQ(Check(m, "01 03 04 00 0A 00 0B 9B F6 00"), MB_RESPONCE_INCOMPLETE);
}

TEST(check_response, exception_reply_keeps_function_and_code) {
  Line line;
  ModbusMaster& m = line.master();
  EXPECT_EQ(Check(m, "01 83 02 C0 F1"), MB_RESPONCE_EXCEPTION);
  EXPECT_EQ(m.exception_function, 0x83);
  EXPECT_EQ(m.exception_code, 0x02);
  // no size or CRC check on an exception
  EXPECT_EQ(Check(m, "01 84 0B 00"), MB_RESPONCE_EXCEPTION);
  EXPECT_EQ(m.exception_code, 0x0B);
}

TEST(check_response, function_code_classes) {
  Line line;
  ModbusMaster& m = line.master();
  EXPECT_EQ(Check(m, "01 00 02 00 00"), MB_RESPONCE_INVALID_FUNCTION_CODE);
  EXPECT_EQ(Check(m, "01 66 02 00 00"), MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE);
  EXPECT_EQ(m.response_function, 0x66);  // stays set after the failure
  EXPECT_EQ(Check(m, "01 65 00 00"), MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE);
  EXPECT_EQ(Check(m, "01 72 00 00"), MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE);
  EXPECT_EQ(Check(m, "01 73 00 00"), MB_RESPONCE_UNKOWN);
  EXPECT_EQ(Check(m, "01 05 02 00 00"), MB_RESPONCE_UNKOWN);
  EXPECT_EQ(Check(m, "01 90 02 00 00"), MB_RESPONCE_UNKOWN);
  EXPECT_EQ(Check(m, "01 85 02 00 00"), MB_RESPONCE_UNKOWN);
}

TEST(check_response, request_problems_come_first) {
  Line line;
  ModbusMaster& m = line.master();
  const auto reply = Bytes("01 03 04 00 0A 00 0B 9B F6");
  EXPECT_EQ(m.CheckResponse(nullptr, 8, reply.data(), 9), MB_RESPONCE_EMPTY);
  EXPECT_EQ(m.CheckResponse(kRequest3.data(), 8, reply.data(), 0), MB_RESPONCE_EMPTY);
  EXPECT_EQ(m.CheckResponse(kRequest3.data(), 7, reply.data(), 9), MB_RESPONCE_INCOMPLETE);
  EXPECT_EQ(Check(m, "01 03 04 00 0A 00 0B 9B F6", Bytes("01 07 00 00 00 02 00 00")),
            MB_RESPONCE_UNSUPPORTED_REQUEST);
  std::vector<std::uint8_t> big(261, 0);
  EXPECT_EQ(m.CheckResponse(kRequest3.data(), 8, big.data(), 261), MB_RESPONCE_TOO_LONG);
  EXPECT_EQ(m.CheckResponse(big.data(), 261, reply.data(), 9), MB_RESPONCE_TOO_LONG);
}

TEST(check_response, slave_id_and_function_are_not_compared_with_the_request) {
  Line line;
  ModbusMaster& m = line.master();
  std::vector<std::uint8_t> other{0x07, 0x03, 0x02, 0x12, 0x34};
  const std::uint16_t crc = Crc16(other.data(), 5);
  other.push_back(static_cast<std::uint8_t>(crc >> 8));
  other.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  EXPECT_EQ(m.CheckResponse(kRequest3.data(), 8, other.data(), 7), MB_RESPONCE_OK);
  std::vector<std::uint8_t> coils{0x01, 0x01, 0x01, 0x05};
  const std::uint16_t c2 = Crc16(coils.data(), 4);
  coils.push_back(static_cast<std::uint8_t>(c2 >> 8));
  coils.push_back(static_cast<std::uint8_t>(c2 & 0xFF));
  EXPECT_EQ(m.CheckResponse(kRequest3.data(), 8, coils.data(), 6), MB_RESPONCE_OK);
  EXPECT_EQ(m.response_function, 1);
}

TEST(check_response, largest_frame_fits_its_size_field) {
  // byte count 255: 260 bytes, more than a one-byte size could hold
  std::vector<std::uint8_t> reply{0x01, 0x03, 0xFF};
  reply.resize(3 + 255, 0x11);
  const std::uint16_t crc = Crc16(reply.data(), static_cast<std::uint16_t>(reply.size()));
  reply.push_back(static_cast<std::uint8_t>(crc >> 8));
  reply.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  Line line;
  ModbusMaster& m = line.master();
  ASSERT_EQ(m.CheckResponse(kRequest3.data(), 8, reply.data(), 260), MB_RESPONCE_OK);
  EXPECT_EQ(m.response_size, 260);
  EXPECT_EQ(m.data[254], 0x11);
}

TEST(expected_reply_size, is_driven_by_the_function_and_byte_count) {
  EXPECT_EQ(ExpectedReplySize(Bytes("01").data(), 1), 0);
  EXPECT_EQ(ExpectedReplySize(Bytes("01 03").data(), 2), 0);
  EXPECT_EQ(ExpectedReplySize(Bytes("01 03 14").data(), 3), 25);
  EXPECT_EQ(ExpectedReplySize(Bytes("01 83").data(), 2), 5);
  EXPECT_EQ(ExpectedReplySize(Bytes("01 66").data(), 2), -1);
}

// Random and mutated replies must never read or write outside the buffers (the sanitizer
// build runs this too) and must keep the result codes' promises.
TEST(check_response_robustness, random_and_mutated_replies) {
  std::mt19937 rng(20261207);
  Line line;
  ModbusMaster& m = line.master();
  const auto good = Bytes("01 03 04 00 0A 00 0B 9B F6");
  std::vector<std::uint8_t> reply;
  int ok = 0;
  for (int round = 0; round < 300000; ++round) {
    if (round % 2 == 0) {
      reply = good;
      const int edits = 1 + static_cast<int>(rng() % 3);
      for (int e = 0; e < edits; ++e) {
        switch (rng() % 3) {
          case 0: reply[rng() % reply.size()] = static_cast<std::uint8_t>(rng()); break;
          case 1: reply.insert(reply.begin() + static_cast<long>(rng() % (reply.size() + 1)), static_cast<std::uint8_t>(rng())); break;
          default: if (reply.size() > 1) reply.erase(reply.begin() + static_cast<long>(rng() % reply.size())); break;
        }
      }
    } else {
      reply.resize(rng() % 300);
      for (auto& b : reply) b = static_cast<std::uint8_t>(rng());
      if (reply.size() > 2 && rng() % 2) reply[1] = static_cast<std::uint8_t>(1 + rng() % 4);
      if (reply.size() > 3 && rng() % 2) reply[2] = static_cast<std::uint8_t>(reply.size() - 5);
      if (reply.size() >= 5 && rng() % 4 == 0) {
        const std::uint16_t crc = Crc16(reply.data(), static_cast<std::uint16_t>(reply.size() - 2));
        reply[reply.size() - 2] = static_cast<std::uint8_t>(crc >> 8);
        reply[reply.size() - 1] = static_cast<std::uint8_t>(crc & 0xFF);
      }
    }
    const int r = m.CheckResponse(kRequest3.data(), 8, reply.data(), static_cast<int>(reply.size()));
    ASSERT_GE(r, MB_RESPONCE_UNKOWN);
    ASSERT_LE(r, MB_RESPONCE_OK);
    if (reply.size() > 260) {
      ASSERT_EQ(r, MB_RESPONCE_TOO_LONG);
    }
    if (r == MB_RESPONCE_OK) {
      ++ok;
      ASSERT_EQ(reply.size(), m.byte_count + 5u);
      const std::uint16_t crc = Crc16(reply.data(), static_cast<std::uint16_t>(reply.size() - 2));
      ASSERT_EQ(crc >> 8, reply[reply.size() - 2]);
      ASSERT_EQ(0, std::memcmp(m.data, reply.data() + 3, m.byte_count));
    }
  }
  EXPECT_GT(ok, 1000);  // valid frames were among them
}

namespace {

// The frame with its CRC appended.
std::string Crc(const std::string& hex) {
  auto f = Bytes(hex);
  const std::uint16_t crc = Crc16(f.data(), static_cast<std::uint16_t>(f.size()));
  f.push_back(static_cast<std::uint8_t>(crc >> 8));
  f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return HexOf(f);
}

}  // namespace

TEST(check_response, write_replies_must_echo_the_request) {
  const std::string coil = "11 05 00 AC FF 00 4E 8B";
  const std::string reg = "11 06 00 01 00 03 9A 9B";
  const std::string coils = "11 0F 00 13 00 0A 02 CD 01 BF 0B";
  const std::string regs = "11 10 00 01 00 02 04 00 0A 01 02 C6 F0";
  struct Row {
    std::string request, reply;
    int result;
  };
  const Row rows[] = {
      {coil, coil, MB_RESPONCE_OK},
      {reg, reg, MB_RESPONCE_OK},
      {coils, Crc("11 0F 00 13 00 0A"), MB_RESPONCE_OK},
      {regs, Crc("11 10 00 01 00 02"), MB_RESPONCE_OK},
      {reg, Crc("11 06 00 02 00 03"), MB_RESPONCE_WRITE_ECHO_MISMATCH},  // another address
      {reg, Crc("11 06 00 01 00 04"), MB_RESPONCE_WRITE_ECHO_MISMATCH},  // another value
      {coil, Crc("11 05 00 AC 00 00"), MB_RESPONCE_WRITE_ECHO_MISMATCH},
      {regs, Crc("11 10 00 01 00 01"), MB_RESPONCE_WRITE_ECHO_MISMATCH},  // another quantity
      {coils, Crc("12 0F 00 13 00 0A"), MB_RESPONCE_WRITE_ECHO_MISMATCH},  // another slave
      {reg, "11 06 00 01 00 03 9A 9C", MB_RESPONCE_INVALID_CRC},
      {reg, "11 06 00 01 00 03 9A", MB_RESPONCE_INCOMPLETE},
      {reg, Crc("11 03 02 00 03"), MB_RESPONCE_UNKOWN},  // a read's reply to a write
      {reg, "11 86 02 C3 A1", MB_RESPONCE_EXCEPTION},
      {coil, "11 85 04 00 00", MB_RESPONCE_EXCEPTION},
      {coils, "11 8F 01 00 00", MB_RESPONCE_EXCEPTION},
      {regs, "11 90 03 00 00", MB_RESPONCE_EXCEPTION},
      {regs, Crc("11 66 00 00"), MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.request + " / " + row.reply);
    Line line;
    ModbusMaster& m = line.master();
    EXPECT_EQ(Check(m, row.reply, Bytes(row.request)), row.result);
    EXPECT_EQ(m.byte_count, 0) << "a write's reply has no values for the table";
  }
  Line line;
  ModbusMaster& m = line.master();
  Check(m, "11 90 03 00 00", Bytes(regs));
  EXPECT_EQ(m.exception_function, 0x90);
  EXPECT_EQ(m.exception_code, 3);
  Check(m, reg, Bytes(reg));
  EXPECT_EQ(m.request_quantity, 1);
  EXPECT_EQ(m.request_address, 1);
}

// The other functions' replies: from the request's slave id, of its function, with a right
// CRC (an exception's too), then answering it as CheckReplyPdu has it; the values carried
// fill byte_count and data as a read's do.
TEST(check_response, replies_of_the_other_functions) {
  const std::string rw = Crc("11 17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF");
  const std::string rwReply = "11 17 0C 00 FE 0A CD 00 01 00 03 00 0D 00 FF";
  const std::string fifo = Crc("11 18 04 DE");
  const std::string own = Crc("11 41 01");
  struct Row {
    std::string request, reply;
    int result;
    const char* data = "";  // byte_count bytes of data
  };
  const Row rows[] = {
      {rw, Crc(rwReply), MB_RESPONCE_OK, "00 FE 0A CD 00 01 00 03 00 0D 00 FF"},
      {rw, Crc("12" + rwReply.substr(2)), MB_RESPONCE_UNKOWN},  // another slave
      {rw, Crc(rwReply).substr(0, 3 * 15) + "00 00", MB_RESPONCE_INVALID_CRC},
      {rw, Crc(rwReply.substr(0, rwReply.size() - 3)), MB_RESPONCE_INCOMPLETE},  // one byte short
      {rw, Crc("11 17 04 00 FE 0A CD"), MB_RESPONCE_REPLY_MISMATCH},
      {rw, Crc("11 97 02"), MB_RESPONCE_EXCEPTION},
      {rw, "11 97 02 00 00", MB_RESPONCE_INVALID_CRC},
      {rw, Crc("11 03 02 00 01"), MB_RESPONCE_UNKOWN},
      {rw, Crc("11 00 02"), MB_RESPONCE_INVALID_FUNCTION_CODE},
      {fifo, Crc("11 18 00 06 00 02 01 B8 12 84"), MB_RESPONCE_OK, "01 B8 12 84"},
      {Crc("11 16 00 04 00 F2 00 25"), Crc("11 16 00 04 00 F2 00 25"), MB_RESPONCE_OK},
      {Crc("11 16 00 04 00 F2 00 25"), Crc("11 16 00 04 00 F2 00 24"), MB_RESPONCE_WRITE_ECHO_MISMATCH},
      {own, Crc("11 41 05 06 07"), MB_RESPONCE_OK},
      {own, Crc("11 C1 01"), MB_RESPONCE_EXCEPTION},
      {own, Crc("11 C1 01 02"), MB_RESPONCE_INCOMPLETE},
      {own, Crc("11 42 01"), MB_RESPONCE_UNKOWN},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.request + " / " + row.reply);
    Line line;
    ModbusMaster& m = line.master();
    EXPECT_EQ(Check(m, row.reply, Bytes(row.request)), row.result);
    EXPECT_EQ(HexOf(m.data, m.byte_count), row.data);
  }
  Line line;
  ModbusMaster& m = line.master();
  ASSERT_EQ(Check(m, Crc(rwReply), Bytes(rw)), MB_RESPONCE_OK);
  EXPECT_EQ(m.request_function, 0x17);
  EXPECT_EQ(m.response_function, 0x17);
  EXPECT_EQ(m.request_address, 3);
  EXPECT_EQ(m.request_quantity, 6);
  EXPECT_EQ(HexOf(m.ResponsePdu(), static_cast<std::size_t>(m.ResponsePduSize())), rwReply.substr(3));
  ASSERT_EQ(Check(m, Crc("11 97 02"), Bytes(rw)), MB_RESPONCE_EXCEPTION);
  EXPECT_EQ(m.exception_function, 0x97);
  EXPECT_EQ(m.exception_code, 2);
}
