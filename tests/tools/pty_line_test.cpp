#include "PtyLine.h"

#include <gtest/gtest.h>

using namespace vantrel::slave;

// What is logged at each request (what the far end sets is read in the end-to-end test): a new mismatch, a change of it, a match again; nothing
// while the settings stay as they were.
TEST(line_watch, logs_each_change_once) {
  LineWatch watch({19200, 1});
  const struct {
    LineSpeed far;
    bool mismatch;
    const char* log;  // the start of it; "" for nothing
  } steps[] = {
      {{19200, 1}, false, ""},
      {{115200, 1}, true, "the far end is at 115200 baud, 1 stop bit, this slave at 19200 baud, 1 stop bit"},
      {{115200, 1}, true, ""},
      {{115200, 2}, true, "the far end is at 115200 baud, 2 stop bits"},
      {{19200, 2}, true, "the far end is at 19200 baud, 2 stop bits"},
      {{19300, 1}, false, "the far end is at 19300 baud, 1 stop bit, as this slave"},  // within 2 %
      {{19200, 1}, false, ""},
      {{18800, 1}, true, "the far end is at 18800 baud"},
  };
  for (const auto& s : steps) {
    const std::string log = watch.Observe(s.far);
    EXPECT_EQ(watch.mismatch(), s.mismatch) << s.far.baud;
    EXPECT_EQ(log.substr(0, std::string(s.log).size()), s.log) << s.far.baud;
    EXPECT_EQ(log.empty(), !*s.log) << log;
  }
}
