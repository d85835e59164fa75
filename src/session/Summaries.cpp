#include "session/Summaries.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vantrel {

std::string RequestSummary(int requestId, int requestOffset, int requestLength) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "Device: %d Offset: %d Length: %d", requestId, requestOffset,
                requestLength);
  return buf;
}

std::string FunctionName(int functionCode) {
  static const char* const kNames[] = {"01 Coils", "02 Discrete inputs", "03 Holding registers", "04 Input registers"};
  return functionCode >= 1 && functionCode <= 4 ? kNames[functionCode - 1] : "Function " + std::to_string(functionCode);
}

std::string RequestCaption(int functionCode, int requestId, int requestOffset, int requestLength) {
  return FunctionName(functionCode) + ", " + RequestSummary(requestId, requestOffset, requestLength);
}

std::string SecondsText(int ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%03d", ms / 1000, std::abs(ms % 1000));
  std::string text = buf;
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

std::string PollFrequencySummary(int pollPeriodMs) {
  if (pollPeriodMs <= 0) return "Once";
  char buf[48];
  if (pollPeriodMs <= 60000) {
    std::snprintf(buf, sizeof buf, "%s seconds", SecondsText(pollPeriodMs).c_str());
  } else {
    std::snprintf(buf, sizeof buf, "%d min", pollPeriodMs / 60000);
  }
  return buf;
}

StartButtonState ComputeStartButton(bool portOpen, unsigned replyWaitMs, int pollPeriodMs,
                                    std::time_t lastPollTime, std::time_t now, bool stopped) {
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
  if (pollPeriodMs <= 0) {  // a negative period polls once, as 0 does
    s.caption = "Poll";
    return s;
  }
  if (stopped) {
    s.caption = "Start";
    return s;
  }
  if (pollPeriodMs < 1000) {
    s.caption = "Every " + SecondsText(pollPeriodMs) + " sec";
    return s;
  }
  const int pollFrequency = pollPeriodMs / 1000 + (pollPeriodMs % 1000 != 0 ? 1 : 0);
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
