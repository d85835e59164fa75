#include "app/Summaries.h"

#include <cstdio>

namespace vantrel {

std::string RequestSummary(int requestId, int requestOffset, int requestLength) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "Device: %d Offset: %d Length: %d", requestId, requestOffset,
                requestLength);
  return buf;
}

std::string PollFrequencySummary(int pollFrequency) {
  if (pollFrequency <= 0) return "Once";
  char buf[48];
  if (pollFrequency <= 60) {
    std::snprintf(buf, sizeof buf, "%d seconds", pollFrequency);
  } else {
    std::snprintf(buf, sizeof buf, "%d min", pollFrequency / 60);
  }
  return buf;
}

StartButtonState ComputeStartButton(bool portOpen, unsigned replyWaitMs, int pollFrequency,
                                    std::time_t lastPollTime, std::time_t now) {
  StartButtonState s;
  if (!portOpen) {
    s.caption = "Not connected";
    return s;
  }
  if (replyWaitMs > 0) {
    s.caption = "Polling";
    s.enabled = false;
    return s;
  }
  if (pollFrequency <= 0) {  // a negative period polls once, as 0 does
    s.caption = "Poll";
    return s;
  }
  // In 64 bits: a stored frequency of any size must not overflow the sum.
  long long remaining = static_cast<long long>(lastPollTime) + pollFrequency - now + 1;
  if (remaining > pollFrequency) {
    remaining = pollFrequency;
  } else if (remaining <= 0) {
    s.pollNow = true;
    return s;
  }
  char buf[64];
  if (remaining > 60) {
    std::snprintf(buf, sizeof buf, "Next poll in %lld min", remaining / 60);
  } else {
    std::snprintf(buf, sizeof buf, "Next poll in %lld sec", remaining);
  }
  s.caption = buf;
  return s;
}

}  // namespace vantrel
