// Texts the main window shows for its state: the three summary buttons and the Start
// button. Plain functions, so that the rules can be tested without a window.
#pragma once

#include <ctime>
#include <string>

namespace vantrel {

// "Device: %d Offset: %d Length: %d".
std::string RequestSummary(int requestId, int requestOffset, int requestLength);
// "Once" for 0; "%d seconds" up to 60; "%d min" with whole minutes above.
std::string PollFrequencySummary(int pollFrequency);

struct StartButtonState {
  std::string caption;
  bool enabled = true;
  bool pollNow = false;  // the countdown has run out: poll (the poll sets the caption)
};

// The Start button's caption and state, first match wins: not connected, waiting for a
// reply, polling once, else the countdown to the next poll.
StartButtonState ComputeStartButton(bool portOpen, unsigned replyWaitMs, int pollFrequency,
                                    std::time_t lastPollTime, std::time_t now);

}  // namespace vantrel
