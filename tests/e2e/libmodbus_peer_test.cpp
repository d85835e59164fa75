// The master against a slave written with libmodbus, so that code nobody here wrote
// checks our frames.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "modbus/ModbusMaster.h"
#include "session/Line.h"
#include "support/LibmodbusSlave.h"
#include "support/Pty.h"

using namespace vantrel;
using namespace std::chrono_literals;
using vantrel::test::LibmodbusSlave;
using vantrel::test::Pty;

namespace {

constexpr int kSlaveId = 17;

int Poll(ModbusMaster& m, int function, int offset, int length) {
  std::uint8_t frame[8];
  if (BuildReadRequest(static_cast<std::uint8_t>(function), kSlaveId, static_cast<std::uint16_t>(offset),
                       static_cast<std::uint16_t>(length), frame) != 8) {
    return 99;
  }
  m.SendRequest(frame, 8);
  for (int tick = 0; tick < 30; ++tick) {
    std::this_thread::sleep_for(100ms);
    const int r = m.ReadResponse();
    if (!ReplyPending(r)) return r;
  }
  return 100;  // timed out
}

class LibmodbusPeer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(line_.serial().OpenDevice(pty_.path(), 115200, 'N', 8, 1), 1); }
  Pty pty_;
  LibmodbusSlave slave_{pty_.master(), kSlaveId};
  Line line_;
  ModbusMaster& master_ = line_.master();
};

}  // namespace

TEST_F(LibmodbusPeer, holding_and_input_registers) {
  ASSERT_EQ(Poll(master_, 3, 1, 125), MB_RESPONCE_OK);
  ASSERT_EQ(master_.byte_count, 250);
  EXPECT_EQ(master_.data[0], 0x10);
  EXPECT_EQ(master_.data[249], 124);
  ASSERT_EQ(Poll(master_, 4, 11, 2), MB_RESPONCE_OK);
  EXPECT_EQ(master_.data[0] << 8 | master_.data[1], 0xF000 - 10);
}

TEST_F(LibmodbusPeer, coils_and_discrete_inputs) {
  ASSERT_EQ(Poll(master_, 1, 1, 2000), MB_RESPONCE_OK);
  ASSERT_EQ(master_.byte_count, 250);
  EXPECT_EQ(master_.data[0], 0x21);  // coils 0 and 5
  ASSERT_EQ(Poll(master_, 2, 1, 10), MB_RESPONCE_OK);
  EXPECT_EQ(master_.byte_count, 2);
  EXPECT_EQ(master_.data[0], 0xAA);
  EXPECT_EQ(master_.data[1], 0x02);
}

TEST_F(LibmodbusPeer, its_exception_replies_check_as_exceptions) {
  // beyond the 200 registers of its map: exception 02
  ASSERT_EQ(Poll(master_, 3, 199, 5), MB_RESPONCE_EXCEPTION);
  EXPECT_EQ(master_.exception_function, 0x83);
  EXPECT_EQ(master_.exception_code, 0x02);
  EXPECT_EQ(master_.response_function, 0x83);
}
