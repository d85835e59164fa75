// The master against vantrel-slave on a pseudo-terminal, read the way the main window
// reads: one ReadResponse per 100 ms tick.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "modbus/ModbusMaster.h"
#include "session/Line.h"
#include "support/Process.h"
#include "support/TempDir.h"

using namespace vantrel;
using namespace std::chrono_literals;
using vantrel::test::SlaveProcess;
using vantrel::test::TempDir;

namespace {

struct TickResult {
  int code = MB_RESPONCE_EMPTY;
  int incompleteTicks = 0;  // ticks that found no complete reply
  bool timedOut = false;
};

// Sends the request, then calls ReadResponse every 100 ms until a final result or until
// the summed wait passes timeoutMs, as the poll cycle does.
TickResult PollByTicks(ModbusMaster& m, int function, int slave, int offset, int length,
                       int timeoutMs = 3000) {
  std::uint8_t frame[8];
  TickResult r;
  EXPECT_EQ(BuildReadRequest(static_cast<std::uint8_t>(function), static_cast<std::uint8_t>(slave),
                             static_cast<std::uint16_t>(offset), static_cast<std::uint16_t>(length), frame),
            8);
  EXPECT_EQ(m.SendRequest(frame, 8), 1);
  int waitedMs = 0;
  for (;;) {
    std::this_thread::sleep_for(100ms);
    if (waitedMs > timeoutMs) {
      r.timedOut = true;
      return r;
    }
    r.code = m.ReadResponse();
    if (!ReplyPending(r.code)) return r;
    waitedMs += 100;
    ++r.incompleteTicks;
  }
}

std::uint16_t Register(const ModbusMaster& m, int i) {
  return static_cast<std::uint16_t>(m.data[2 * i] << 8 | m.data[2 * i + 1]);
}

class MasterSlave : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    slave_ = std::make_unique<SlaveProcess>(dir_.path(), "COM3",
                                            std::vector<std::string>{"-a", "1", "-b", std::to_string(GetParam())});
    ASSERT_TRUE(slave_->ready());
    ASSERT_EQ(line_.serial().OpenDevice(slave_->linkPath(), GetParam(), 'N', 8, 1), 1);
  }

  TempDir dir_;
  std::unique_ptr<SlaveProcess> slave_;
  Line line_;
  ModbusMaster& master_ = line_.master();
};

}  // namespace

TEST_P(MasterSlave, one_register) {
  const TickResult r = PollByTicks(master_, 3, 1, 10, 1);
  ASSERT_EQ(r.code, MB_RESPONCE_OK);
  EXPECT_EQ(master_.byte_count, 2);
  EXPECT_EQ(Register(master_, 0), 10);
}

TEST_P(MasterSlave, a_125_register_reply_straddling_ticks_arrives_whole) {
  for (int round = 0; round < 3; ++round) {
    const TickResult r = PollByTicks(master_, 4, 1, 1, 125);
    ASSERT_EQ(r.code, MB_RESPONCE_OK) << "round " << round;
    ASSERT_EQ(master_.byte_count, 250);
    for (int i = 0; i < 125; ++i) ASSERT_EQ(Register(master_, i), (i + 1) * 10) << i;
    if (GetParam() == 9600) {
      EXPECT_GE(r.incompleteTicks, 1) << "266 ms on the line";
    }
  }
}

TEST_P(MasterSlave, two_thousand_coils) {
  const TickResult r = PollByTicks(master_, 1, 1, 1, 2000);
  ASSERT_EQ(r.code, MB_RESPONCE_OK);
  ASSERT_EQ(master_.byte_count, 250);
  for (int i = 0; i < 250; ++i) ASSERT_EQ(master_.data[i], 0x55) << i;  // 1 0 1 0 ...
}

TEST_P(MasterSlave, discrete_inputs) {
  const TickResult r = PollByTicks(master_, 2, 1, 1, 9);
  ASSERT_EQ(r.code, MB_RESPONCE_OK);
  EXPECT_EQ(master_.byte_count, 2);
  EXPECT_EQ(master_.data[0], 0x49);  // inputs 0, 3, 6
  EXPECT_EQ(master_.data[1], 0x00);
}

TEST_P(MasterSlave, injected_faults_give_their_result_codes) {
  struct Case {
    int offset;
    int code;
  };
  const Case cases[] = {
      {9002, MB_RESPONCE_EXCEPTION},  {9007, MB_RESPONCE_EXCEPTION},
      {9020, MB_RESPONCE_INVALID_CRC}, {9022, MB_RESPONCE_OK},  // delayed 500 ms
      {9023, MB_RESPONCE_OK},                                   // split with a pause
      {9024, MB_RESPONCE_UNKOWN},                               // garbage
      {9026, MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE}, {9027, MB_RESPONCE_UNKOWN},
      {9028, MB_RESPONCE_INVALID_FUNCTION_CODE},
  };
  for (const Case& c : cases) {
    const TickResult r = PollByTicks(master_, 3, 1, c.offset, 10);
    EXPECT_FALSE(r.timedOut) << c.offset;
    EXPECT_EQ(r.code, c.code) << c.offset;
    if (c.offset == 9002 || c.offset == 9007) {
      EXPECT_EQ(master_.exception_function, 0x83);
      EXPECT_EQ(master_.exception_code, c.offset - 9000);
    }
    if (c.offset == 9022 || c.offset == 9023) {
      EXPECT_GE(r.incompleteTicks, 2) << c.offset;
    }
  }
}

TEST_P(MasterSlave, silence_and_other_slave_ids_time_out) {
  EXPECT_TRUE(PollByTicks(master_, 3, 1, 9021, 1, 300).timedOut);
  EXPECT_TRUE(PollByTicks(master_, 3, 7, 1, 1, 300).timedOut);
  // a reply from another slave id is another device's data, never this request's answer
  EXPECT_TRUE(PollByTicks(master_, 3, 1, 9025, 10, 300).timedOut);
  // and the line is fine afterwards
  EXPECT_EQ(PollByTicks(master_, 3, 1, 1, 1).code, MB_RESPONCE_OK);
}

TEST_P(MasterSlave, slave_answers_exceptions_as_a_real_one) {
  EXPECT_EQ(PollByTicks(master_, 3, 1, 1, 0).code, MB_RESPONCE_EXCEPTION);
  EXPECT_EQ(master_.exception_code, 0x03);  // quantity 0
  // a function it does not serve (0x41, user-defined) gets exception 01
  std::uint8_t frame[4] = {0x01, 0x41};
  const std::uint16_t crc = Crc16(frame, 2);
  frame[2] = static_cast<std::uint8_t>(crc >> 8);
  frame[3] = static_cast<std::uint8_t>(crc & 0xFF);
  ASSERT_EQ(line_.serial().Write(frame, 4), 4);
  std::uint8_t reply[16];
  int got = 0;
  for (int i = 0; i < 20 && got < 5; ++i) {
    if (line_.serial().WaitReadable(100) == 1) got += line_.serial().Read(reply + got, 16 - got);
  }
  ASSERT_EQ(got, 5);
  EXPECT_EQ(reply[1], 0xC1);
  EXPECT_EQ(reply[2], 0x01);
  const std::uint16_t replyCrc = Crc16(reply, 3);
  EXPECT_EQ(reply[3], replyCrc >> 8);
}

TEST_P(MasterSlave, late_bytes_of_an_earlier_reply_do_not_answer_the_next_request) {
  // the delayed reply (500 ms) is given up after 200 ms; the next request, sent at once,
  // must still get its own reply, not the late one that comes first
  const TickResult late = PollByTicks(master_, 3, 1, 9022, 2, 100);
  EXPECT_TRUE(late.timedOut);
  const TickResult r = PollByTicks(master_, 3, 1, 5, 1);
  ASSERT_EQ(r.code, MB_RESPONCE_OK);
  EXPECT_EQ(Register(master_, 0), 5);
}

TEST_P(MasterSlave, simulator_exit_fails_quietly) {
  slave_->Stop();
  std::uint8_t frame[8];
  BuildReadRequest(3, 1, 1, 1, frame);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(master_.SendRequest(frame, 8), 1);  // a failed byte is not reported
  EXPECT_EQ(master_.ReadResponse(), MB_RESPONCE_EMPTY);
  EXPECT_TRUE(line_.serial().DeviceLost());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

INSTANTIATE_TEST_SUITE_P(baud, MasterSlave, ::testing::Values(9600, 115200));
