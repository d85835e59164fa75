// Texts the main window shows for its state: the three summary buttons and the Start
// button. Plain functions, so that the rules can be tested without a window.
#pragma once

#include <ctime>
#include <string>

namespace vantrel {

// "Device: %d Offset: %d Length: %d", as the usage report names the request.
std::string RequestSummary(int requestId, int requestOffset, int requestLength);
// A read function by its code and what it reads: "03 Holding registers" ("Function 7" for
// a code outside 1 to 4).
std::string FunctionName(int functionCode);
// The Request button's text: the function, then RequestSummary, as in "03 Holding
// registers, Device: 1 Offset: 1 Length: 10".
std::string RequestCaption(int functionCode, int requestId, int requestOffset, int requestLength);
// The poll period in milliseconds: "Once" for 0; "%d seconds" up to 60, with its fraction
// where it has one ("0.25 seconds", "2.5 seconds"); "%d min" with whole minutes above.
std::string PollFrequencySummary(int pollPeriodMs);
// Seconds with up to three decimals and no trailing zeros: "0.25", "2.5", "5".
std::string SecondsText(int ms);

struct StartButtonState {
  std::string caption;
  bool enabled = true;
  bool pollNow = false;  // the countdown has run out: poll (the poll sets the caption)
};

// The Start button's caption and state, first match wins: not connected, waiting for a
// reply, polling once, stopped ("Start": a click goes on at the period), a period under a
// second ("Every 0.25 sec": a countdown in whole seconds would say nothing), else the
// countdown to the next poll, in whole seconds rounded up.
StartButtonState ComputeStartButton(bool portOpen, unsigned replyWaitMs, int pollPeriodMs,
                                    std::time_t lastPollTime, std::time_t now, bool stopped = false);

}  // namespace vantrel
