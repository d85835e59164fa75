#include "session/Summaries.h"

#include "session/LineSession.h"
#include "settings/ScannerSettings.h"

#include <gtest/gtest.h>

using namespace vantrel;

TEST(summaries, poll_frequency_texts) {
  EXPECT_EQ(PollFrequencySummary(0), "Once");
  EXPECT_EQ(PollFrequencySummary(1000), "1 seconds");
  EXPECT_EQ(PollFrequencySummary(60000), "60 seconds");
  EXPECT_EQ(PollFrequencySummary(61000), "1 min");
  EXPECT_EQ(PollFrequencySummary(119000), "1 min");
  EXPECT_EQ(PollFrequencySummary(1800000), "30 min");
  EXPECT_EQ(PollFrequencySummary(-5000), "Once") << "a negative period polls once";
  EXPECT_EQ(PollFrequencySummary(250), "0.25 seconds");
  EXPECT_EQ(PollFrequencySummary(100), "0.1 seconds");
  EXPECT_EQ(PollFrequencySummary(2500), "2.5 seconds");
  EXPECT_EQ(PollFrequencySummary(1001), "1.001 seconds");
}

TEST(summaries, request_text) { EXPECT_EQ(RequestSummary(11, 1, 20), "Device: 11 Offset: 1 Length: 20"); }

// The buttons say what is read and over what: the function, and every mode but RTU by name.
TEST(summaries, request_and_connection_name_the_function_and_the_mode) {
  EXPECT_EQ(RequestCaption(1, 11, 1, 20), "01 Coils, Device: 11 Offset: 1 Length: 20");
  EXPECT_EQ(RequestCaption(2, 1, 5, 2), "02 Discrete inputs, Device: 1 Offset: 5 Length: 2");
  EXPECT_EQ(RequestCaption(3, 1, 1, 10), "03 Holding registers, Device: 1 Offset: 1 Length: 10");
  EXPECT_EQ(RequestCaption(4, 247, 0, 125), "04 Input registers, Device: 247 Offset: 0 Length: 125");
  EXPECT_EQ(RequestCaption(7, 1, 1, 1), "Function 7, Device: 1 Offset: 1 Length: 1");

  struct Case {
    int mode;
    const char* devicePath;
    const char* text;
  };
  const Case cases[] = {
      {1, "", "COM 4:19200,E,7,1"},
      {1, "/dev/ttyUSB0", "/dev/ttyUSB0:19200,E,7,1"},
      {0, "", "ASCII COM 4:19200,E,7,1"},
      {0, "/dev/ttyUSB0", "ASCII /dev/ttyUSB0:19200,E,7,1"},
      {2, "", "TCP 10.0.0.7:502"},
      {3, "", "RTU over TCP 10.0.0.7:502"},
      {9, "", "COM 4:19200,E,7,1"},  // a position that names no mode speaks RTU
  };
  for (const Case& c : cases) {
    LineConnection s;
    ModeFromInt(c.mode, s.mode);
    s.device = *c.devicePath ? c.devicePath : "COM4";
    s.baud = 19200;
    s.parity = 'E';
    s.dataBits = 7;
    s.stopBits = 1;
    s.host = "10.0.0.7";
    s.port = 502;
    EXPECT_EQ(ConnectionSummary(s), c.text) << c.mode << " " << c.devicePath;
  }
}

TEST(start_button, first_matching_state_wins) {
  EXPECT_EQ(ComputeStartButton(false, 500, 10, 0, 0).caption, "Not connected");
  EXPECT_TRUE(ComputeStartButton(false, 500, 10, 0, 0).enabled);
  const StartButtonState polling = ComputeStartButton(true, 100, 10, 0, 0);
  EXPECT_EQ(polling.caption, "Polling");
  EXPECT_FALSE(polling.enabled);
  EXPECT_EQ(ComputeStartButton(true, 0, 0, 0, 0).caption, "Poll");
  // a negative period is no countdown that has always run out
  EXPECT_EQ(ComputeStartButton(true, 0, -1, 1000, 1000).caption, "Poll");
  EXPECT_FALSE(ComputeStartButton(true, 0, -1, 1000, 1000).pollNow);
}

TEST(start_button, countdown_in_seconds_and_minutes) {
  EXPECT_EQ(ComputeStartButton(true, 0, 120000, 1000, 1000).caption, "Next poll in 2 min");
  EXPECT_EQ(ComputeStartButton(true, 0, 120000, 1000, 1002).caption, "Next poll in 1 min");
  EXPECT_EQ(ComputeStartButton(true, 0, 120000, 1000, 1061).caption, "Next poll in 60 sec");
  EXPECT_EQ(ComputeStartButton(true, 0, 120000, 1000, 1120).caption, "Next poll in 1 sec");
  EXPECT_TRUE(ComputeStartButton(true, 0, 120000, 1000, 1121).pollNow);
  // a clock set back never counts beyond the period
  EXPECT_EQ(ComputeStartButton(true, 0, 5000, 1000, 900).caption, "Next poll in 5 sec");
  // a huge stored period does not overflow
  EXPECT_EQ(ComputeStartButton(true, 0, 2147483647, 2147483000, 2147483000).caption, "Next poll in 35791 min");
  // a fraction counts in whole seconds rounded up; under a second there is no countdown
  EXPECT_EQ(ComputeStartButton(true, 0, 2500, 1000, 1000).caption, "Next poll in 3 sec");
  EXPECT_FALSE(ComputeStartButton(true, 0, 2500, 1000, 1003).pollNow);
  EXPECT_EQ(ComputeStartButton(true, 0, 250, 1000, 1000).caption, "Every 0.25 sec");
  EXPECT_FALSE(ComputeStartButton(true, 0, 250, 1000, 5000).pollNow) << "the poll timer alone keeps time";
}
