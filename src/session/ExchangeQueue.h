// One exchange at a time on the line: the polls of the table, the writes the user asked
// for, and the read-back after a write. It decides what goes next; the main window sends
// and drives it from its timers.
#pragma once

#include <deque>
#include <vector>

#include "session/WriteValues.h"

namespace vantrel {

class ExchangeQueue {
 public:
  enum class Kind { None, Poll, Write };
  enum class Next { Nothing, Poll, Write };

  // A poll is due (Start, the poll timer, the countdown). True: the line is free, send it
  // now. False: an exchange is on the line or writes wait; the poll goes once they are over
  // (Ended says Poll), never on top of a reply still arriving, and a poll due twice
  // meanwhile goes once.
  bool PollDue();
  // The user asked for one write (one request or several, sent in turn). True when the
  // line is free and TakeWrite's request may go now; otherwise it goes when the exchange on
  // the line ends.
  bool AddWrite(std::vector<WriteFrame> requests);
  // The next request of the waiting writes; the line then carries a write.
  WriteFrame TakeWrite();
  // A poll went out.
  void PollSent() { on_line_ = Kind::Poll; }
  // Polling stopped (a failure, Stop): a poll waiting for the line does not go. Writes still
  // do, and the read-back that a confirmed write owes.
  void ForgetPoll() { poll_due_ = false; }

  // The exchange on the line is over: confirmed (a good reply) or not (an error, a
  // time-out, a request that could not be sent). A write not confirmed drops the rest of
  // its requests. After the waiting writes, the table is read again when a write was
  // confirmed, or when a poll fell due meanwhile.
  Next Ended(bool confirmed);
  // The line went away: nothing is on it, and the waiting writes are dropped. Returns how
  // many writes (as the user asked for them) were dropped.
  int Drop();

  Kind OnLine() const { return on_line_; }
  bool WritesWaiting() const { return !writes_.empty(); }

 private:
  struct Write {
    std::deque<WriteFrame> requests;  // the ones not yet sent
    bool confirmed = false;           // one of its requests was confirmed
  };
  std::deque<Write> writes_;  // the front one is on the line while on_line_ is Write
  Kind on_line_ = Kind::None;
  bool poll_due_ = false;  // a poll waits for the line
};

}  // namespace vantrel
