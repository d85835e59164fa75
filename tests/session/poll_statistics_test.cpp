#include "session/PollStatistics.h"

#include <gtest/gtest.h>

#include "modbus/ModbusFrame.h"

using namespace vantrel;

TEST(poll_statistics, every_reply_check_result_has_its_class) {
  struct Case {
    int result;
    bool timedOut;
    ExchangeClass expected;
  };
  const Case cases[] = {
      {MB_RESPONCE_OK, false, ExchangeClass::Reply},
      {MB_RESPONCE_EXCEPTION, false, ExchangeClass::Exception},
      {MB_RESPONCE_INVALID_CRC, false, ExchangeClass::CrcLrcError},
      {MB_RESPONCE_EMPTY, true, ExchangeClass::Timeout},
      {MB_RESPONCE_TOO_LONG, true, ExchangeClass::Timeout},
      {MB_RESPONCE_INCOMPLETE, true, ExchangeClass::Timeout},
      // still waiting, but the caller stopped for another reason: short reply, not sent
      {MB_RESPONCE_EMPTY, false, ExchangeClass::OtherError},
      {MB_RESPONCE_INCOMPLETE, false, ExchangeClass::OtherError},
      {MB_RESPONCE_UNSUPPORTED_REQUEST, false, ExchangeClass::OtherError},
      {MB_RESPONCE_INVALID_FUNCTION_CODE, false, ExchangeClass::OtherError},
      {MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE, false, ExchangeClass::OtherError},
      {MB_RESPONCE_UNKOWN, false, ExchangeClass::OtherError},
      {MB_RESPONCE_WRITE_ECHO_MISMATCH, false, ExchangeClass::OtherError},
      {MB_RESPONCE_INVALID_LRC, false, ExchangeClass::CrcLrcError},
      {MB_RESPONCE_BAD_MBAP_LENGTH, false, ExchangeClass::OtherError},
      {-42, false, ExchangeClass::OtherError},
      // a complete reply counts as what it is, even when it came at the deadline
      {MB_RESPONCE_OK, true, ExchangeClass::Reply},
      {MB_RESPONCE_INVALID_CRC, true, ExchangeClass::CrcLrcError},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyExchange(c.result, c.timedOut), c.expected) << c.result << " " << c.timedOut;
  }
}

TEST(poll_statistics, counts_a_sequence_of_exchanges_by_class) {
  struct Step {
    bool write;
    int result;
    bool timedOut;
    double ms;
  };
  const Step steps[] = {
      {false, MB_RESPONCE_OK, false, 4.0},
      {false, MB_RESPONCE_OK, false, 6.0},
      {false, MB_RESPONCE_EMPTY, true, kNoResponseTime},
      {false, MB_RESPONCE_INVALID_CRC, false, 5.5},  // arrived, but no time: the frame is not trusted
      {false, MB_RESPONCE_EXCEPTION, false, 2.0},
      {false, MB_RESPONCE_WRITE_ECHO_MISMATCH, false, 9.0},
      {true, MB_RESPONCE_OK, false, 8.0},
      {true, MB_RESPONCE_EMPTY, true, kNoResponseTime},
      {true, MB_RESPONCE_WRITE_ECHO_MISMATCH, false, 30.0},
      {false, MB_RESPONCE_UNKOWN, false, kNoResponseTime},
      {false, MB_RESPONCE_OK, false, kNoResponseTime},  // a good reply not timed
  };
  PollStatistics s;
  for (const Step& step : steps) {
    step.write ? s.RecordWriteSent() : s.RecordPollSent();
    s.RecordResult(ClassifyExchange(step.result, step.timedOut), step.write, step.ms);
  }
  EXPECT_EQ(s.polls(), 8);
  EXPECT_EQ(s.replies(), 3);
  EXPECT_EQ(s.timeouts(), 2) << "a read's and a write's";
  EXPECT_EQ(s.crcLrcErrors(), 1);
  EXPECT_EQ(s.exceptions(), 1);
  EXPECT_EQ(s.otherErrors(), 3);
  EXPECT_EQ(s.polls() + s.writes(), s.replies() + s.writesConfirmed() + s.timeouts() + s.crcLrcErrors() +
                                        s.exceptions() + s.otherErrors());
  EXPECT_EQ(s.writes(), 3);
  EXPECT_EQ(s.writesConfirmed(), 1);
  // timed: 4, 6, 2 (exception), 8 (confirmed write)
  EXPECT_EQ(s.timedReplies(), 4);
  EXPECT_DOUBLE_EQ(s.lastResponseMs(), 8.0);
  EXPECT_DOUBLE_EQ(s.minResponseMs(), 2.0);
  EXPECT_DOUBLE_EQ(s.maxResponseMs(), 8.0);
  EXPECT_DOUBLE_EQ(s.averageResponseMs(), 5.0);
  EXPECT_EQ(s.StatusLine(),
            "Polls 8  Replies 3  Time-outs 2  CRC/LRC 1  Exceptions 1  Other 3  Writes 1/3  "
            "Response 8.0 ms (min 2.0, avg 5.0, max 8.0)");
}

TEST(poll_statistics, status_line_before_any_reply_and_after_reset) {
  PollStatistics s;
  EXPECT_EQ(s.StatusLine(),
            "Polls 0  Replies 0  Time-outs 0  CRC/LRC 0  Exceptions 0  Other 0  Writes 0/0  Response -");
  s.RecordPollSent();
  s.RecordResult(ExchangeClass::Timeout, false, 3.0);  // a time-out has no response time
  s.RecordPollSent();
  s.RecordResult(ExchangeClass::Reply, false, -0.5);  // nor has a broken measurement
  EXPECT_EQ(s.StatusLine(),
            "Polls 2  Replies 1  Time-outs 1  CRC/LRC 0  Exceptions 0  Other 0  Writes 0/0  Response -");
  s.RecordPollSent();
  s.RecordResult(ExchangeClass::Reply, false, 4.25);
  s.RecordPollSent();
  s.RecordResult(ExchangeClass::Reply, false, 3.94);
  s.RecordPollSent();
  s.RecordResult(ExchangeClass::Reply, false, 7.1);
  EXPECT_EQ(s.StatusLine(),
            "Polls 5  Replies 4  Time-outs 1  CRC/LRC 0  Exceptions 0  Other 0  Writes 0/0  "
            "Response 7.1 ms (min 3.9, avg 5.1, max 7.1)");
  s.Reset();
  EXPECT_EQ(s.StatusLine(),
            "Polls 0  Replies 0  Time-outs 0  CRC/LRC 0  Exceptions 0  Other 0  Writes 0/0  Response -");
  // the minimum starts anew: a slower first reply after the reset is the minimum
  s.RecordPollSent();
  s.RecordResult(ExchangeClass::Reply, false, 12.0);
  EXPECT_DOUBLE_EQ(s.minResponseMs(), 12.0);
  EXPECT_DOUBLE_EQ(s.maxResponseMs(), 12.0);
  EXPECT_DOUBLE_EQ(s.averageResponseMs(), 12.0);
}

TEST(poll_statistics, the_average_stays_exact_over_a_long_run) {
  // A million replies alternating 0.1 and 0.3 ms, then one of 1000 ms: a running average
  // in floating point would drift off 0.2; the microsecond sum does not.
  PollStatistics s;
  for (int i = 0; i < 1000000; ++i) s.RecordResult(ExchangeClass::Reply, false, i % 2 ? 0.3 : 0.1);
  EXPECT_EQ(s.averageResponseMs(), 0.2);
  s.RecordResult(ExchangeClass::Reply, false, 1000.0);
  EXPECT_NEAR(s.averageResponseMs(), (200000.0 + 1000.0) / 1000001.0, 1e-12);
  EXPECT_DOUBLE_EQ(s.minResponseMs(), 0.1);
  EXPECT_DOUBLE_EQ(s.maxResponseMs(), 1000.0);
}
