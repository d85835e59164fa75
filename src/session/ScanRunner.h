// Runs a device scan over the master's link, one request at a time, without ever waiting
// itself: the caller calls Step when the link has bytes or when the time it was given has
// passed, so the window stays live and vantrel-poll can wait on the link.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "session/DeviceScan.h"

namespace vantrel {

class ModbusMaster;

class ScanRunner {
 public:
  using Clock = std::chrono::steady_clock;

  // setLine applies a sweep's line settings to the serial link (reopening it); false when
  // they cannot be applied, which ends the scan.
  ScanRunner(DeviceScan& scan, ModbusMaster& master, std::function<bool(const LineSettings&)> setLine);

  // Sends the next request when none is out, takes the reply when it is complete, and ends
  // a request whose time-out has passed. Returns the milliseconds after which it must be
  // called again at the latest (0: at once), or -1 when the scan is over.
  int Step();
  bool Done() const { return scan_.Done(); }
  // Why the scan ended early ("" when it ran to its end or was cancelled).
  const std::string& failure() const { return failure_; }
  // The scan's time so far.
  long long ElapsedMs() const;

  // How a reply check result ends a read or an identification request of the scan: what
  // counts as a device, as something there, or as silence.
  static ProbeEnd Classify(int mbResult);

 private:
  void Send();
  void End(ProbeEnd end);
  // The time the longest frame takes on the line.
  int MaxFrameMs() const;
  // A request that got bytes which make no answer ends only once the line has settled:
  // the milliseconds still to wait (0: settled), dropping what comes meanwhile.
  void StartSettling(ProbeEnd end, Clock::time_point lastByte);
  int Settle(Clock::time_point now);
  int SettleMs() const;

  DeviceScan& scan_;
  ModbusMaster& master_;
  std::function<bool(const LineSettings&)> setLine_;
  int line_ = -1;  // the sweep's settings applied last
  bool waiting_ = false;
  Clock::time_point sentAt_{};
  long long lastBytes_ = 0;  // unexplained bytes of this request so far, and when they grew
  Clock::time_point lastByteAt_{};
  bool settling_ = false;
  ProbeEnd settled_ = ProbeEnd::Garbage;  // how the request ends once the line has settled
  Clock::time_point settleUntil_{};
  Clock::time_point startedAt_{};
  bool started_ = false;
  std::string failure_;
};

}  // namespace vantrel
