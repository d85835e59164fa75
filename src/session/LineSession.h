// The line session: one line (its links and its master) and the poll definitions that share
// it. It decides what goes on the line next (writes first, then the most overdue poll), one
// exchange at a time, never a request on top of a reply still arriving; it keeps the
// counters of each definition and of the line, opens the link again when it was lost (once
// per due poll), applies each definition's failure policy, and pauses for a scan.
//
// It is driven from outside by two calls, TimePassed and LinkReadable, and reads the time
// from the clock it is given, so that every rule can be tested with a fake link and a fake
// clock. The window (its timers and socket notifier) and vantrel-poll (a loop) drive the
// same object. What happens is told to a LineObserver, whose calls come when the session's
// state is whole again: an observer may show a box that runs an event loop, in which the
// driver calls the session again.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "session/Line.h"
#include "session/PollDefinition.h"
#include "session/PollStatistics.h"
#include "session/WriteValues.h"

namespace vantrel {

using SessionClock = std::chrono::steady_clock;
using TimePoint = SessionClock::time_point;

// The box a failure is shown in: kBoxOk (0), kBoxStop (16), or the panic report.
inline constexpr int kPanicBox = -1;

// A failed exchange, or a request that could not be made or sent.
struct LineFailure {
  ExchangeClass cls = ExchangeClass::OtherError;
  // The reply check's result (MB_RESPONCE_*); a reply still pending (0, -1, -2) for a
  // time-out or a request that never went out.
  int result = 0;
  // The explanation, as its box shows it; for a write, it names the write first.
  std::string text;
  int boxType = 0;
  // Show it in a box: the definition's policy stops and explains (polling has fallen back to
  // once already), or it is a write's, a request that cannot be made, or Start's.
  bool explain = false;
  bool shortReply = false;  // the device answered, every time with too few values
  bool lineGone = false;    // the link went away, or could not be opened
};

class LineObserver {
 public:
  virtual ~LineObserver() = default;
  // A line of the activity log; poll is the definition it is about, -1 for the line's own.
  virtual void OnLog(int poll, const std::string& text) = 0;
  // A poll of the definition is tried (counted as the usage report counts polls).
  virtual void OnPollAttempt(int /*poll*/) {}
  // A request went out, or was counted as one (the counters changed).
  virtual void OnSent(int /*poll*/) {}
  // A good reply to a poll; master holds it until the next request goes out.
  virtual void OnReply(int poll, const ModbusMaster& master) = 0;
  // A poll of the definition failed (see LineFailure::explain for the box).
  virtual void OnPollFailed(int poll, const LineFailure& failure) = 0;
  // A write of the definition's was confirmed (one request of it), or failed (the rest of it
  // is dropped).
  virtual void OnWriteConfirmed(int /*poll*/, const WriteFrame& /*write*/) {}
  virtual void OnWriteFailed(int poll, const WriteFrame& write, const LineFailure& failure) = 0;
  // The link is open (again): the values shown may be read again.
  virtual void OnLineOpen() {}
  // The link went away (a device unplugged, a connection dropped): the values shown are the
  // last good ones, not current.
  virtual void OnLineLost() {}
  // A link opened for start-up, a change of connection or Start could not be opened: the
  // text explains why, for a box. A failure while polling at a period is not told here.
  virtual void OnConnectFailed(const std::string& text) = 0;
  // A warning of a link that did open (RS-485 refused by the driver); boxed when the open
  // was asked for by the user.
  virtual void OnConnectWarning(const std::string& /*text*/, bool /*box*/) {}
};

class LineSession {
 public:
  // The clock: SessionClock::now unless a test gives its own.
  LineSession(LineLinks& line, LineObserver& observer, std::function<TimePoint()> clock = {});
  LineSession(const LineSession&) = delete;
  LineSession& operator=(const LineSession&) = delete;

  TimePoint Now() const;
  LineLinks& line() { return line_; }
  ModbusMaster& master() { return line_.master(); }

  // --- the line ----------------------------------------------------------------------
  // The connection to use from now on; what is open or under way closes (unless only the
  // time-out changed). Opened by Connect, or by the next poll.
  void SetConnection(const LineConnection& connection);
  const LineConnection& connection() const { return connection_; }
  enum class OpenResult { Open, Pending, Failed };
  // Opens the link now, as start-up and a change of connection ask: the serial port at
  // once, a TCP connection without waiting (Pending: LinkReadable or TimePassed finish it).
  // "Connected to ..." is logged; a failure is told by OnConnectFailed, a warning in a box.
  OpenResult Connect();
  bool IsOpen() const { return line_.master().IsOpen() != 0; }
  bool Connecting() const { return connecting_; }
  // A scan takes the line: the exchange on it is given up, the writes waiting are dropped,
  // and nothing is sent until Resume, which opens the connection's own line settings again
  // when lineChanged.
  void Pause(const std::string& why);
  void Resume(bool lineChanged);
  bool Paused() const { return paused_; }
  // The reply wait is counted at each TimePassed as the time since the send; a reply is
  // timed out once a call finds that the wait counted at the call before passed the time-out
  // (so the window's 100 ms reply tick times out as the first release's counting did).
  // Unsigned milliseconds, as the window shows "Polling" once it is above 0.
  unsigned ReplyWaitMs() const { return wait_ms_; }

  // --- the definitions ---------------------------------------------------------------
  int Add(const PollDefinition& definition);
  void Remove(int poll);
  void Move(int from, int to);
  int Count() const { return static_cast<int>(slots_.size()); }
  const PollDefinition& Definition(int poll) const { return slots_.at(Index(poll)).def; }
  // Takes new values for a definition. A changed request (slave, function, offset, length)
  // or period leaves its exchange on the line to end; its next poll asks the new question.
  // A period set anew starts counting now; a stop is lifted by a new period.
  void Change(int poll, const PollDefinition& definition);
  const PollStatistics& Statistics(int poll) const { return slots_.at(Index(poll)).stats; }
  void ResetStatistics(int poll) { slots_.at(Index(poll)).stats.Reset(); }
  const PollStatistics& LineStatistics() const { return line_stats_; }

  // --- polling -----------------------------------------------------------------------
  // Polls now (Start): right away when the line is free, else right after the exchange on
  // it; after Stop, polling at the period goes on.
  void Start(int poll);
  // A poll of the definition falls due now (the window's countdown ran out); nothing more.
  void PollDue(int poll);
  // Stop: polling at the period pauses (the period stays), the definition's exchange on the
  // line is given up, its writes waiting are dropped.
  void Stop(int poll);
  void StartAll();
  void StopAll();
  bool Stopped(int poll) const { return slots_.at(Index(poll)).stopped; }
  // Polling at its period, and not stopped.
  bool Polling(int poll) const;
  // The exchange on the line is the definition's (a poll, or a write it asked for).
  bool OnLine(int poll) const { return on_line_ != Kind::None && on_line_poll_ == poll; }
  bool AwaitingReply() const { return on_line_ != Kind::None; }
  // When the definition's last poll went out, and when its next is due (its period after).
  TimePoint LastSent(int poll) const { return slots_.at(Index(poll)).lastSent; }

  // --- writes ------------------------------------------------------------------------
  // One write the user asked for from the definition's values (one request or several, in
  // turn): it goes as soon as the line is free; once confirmed, the definition is read again.
  void Write(int poll, std::vector<WriteFrame> requests);

  // --- driving -----------------------------------------------------------------------
  // Time has passed: time-outs, a connect's bound, polls that fell due.
  void TimePassed();
  // The descriptor WatchHandle names is readable: the reply's bytes, or a connect's end.
  void LinkReadable();
  // What the driver watches for reading: the connect under way, else the link while a reply
  // is awaited; -1 when nothing.
  int WatchHandle() const;
  // When TimePassed is next needed: the next poll due, the reply's time-out, a connect's
  // bound; SessionClock's max() when nothing waits.
  TimePoint NextWake() const;
  // When the next poll at a period falls due (now when one waits for the line); max() when
  // nothing polls at a period.
  TimePoint NextPollDue() const;

 private:
  enum class Kind { None, Poll, Write };
  struct Slot {
    PollDefinition def;
    PollStatistics stats;
    TimePoint nextDue{};   // of the next periodic poll
    TimePoint dueSince{};  // a poll waits for the line since then (due)
    TimePoint lastSent{};
    bool due = false;
    bool stopped = false;
  };
  struct PendingWrite {
    int poll = 0;
    std::deque<WriteFrame> requests;  // the ones not yet sent
    bool confirmed = false;           // one of its requests was confirmed
  };

  std::size_t Index(int poll) const;
  void MarkDue(TimePoint now);
  // Starts what goes next when the line is free.
  void Schedule();
  void SendPoll(int poll);
  void SendWrite();
  // The link is closed: opens it again for a due poll (a lost line, a network connection).
  // True when the poll may go now; false when it waits for a connect or failed (counted).
  bool ReopenForPoll(int poll);
  void TakeReply();
  void TimeOut();
  void EndPoll(int result);
  void EndWrite(int result);
  void PollFailed(int poll, LineFailure failure);
  void WriteFailed(int poll, const WriteFrame& write, LineFailure failure);
  // The definition's polling falls back to once: its period is 0 and no poll of it waits.
  void StopPolling(int poll);
  void CountSent(int poll, bool write);
  void CountEnd(int poll, ExchangeClass how, bool write);
  void LineLost();
  OpenResult OpenLink();
  void FinishConnect(int result);
  void Opened(bool explain);
  // A link that start-up, a change of connection or a scan's end asked for did not open.
  void ConnectFailed(const std::string& text);
  void Log(int poll, const std::string& text);
  std::string ConnectionText() const;
  bool Network() const { return IsNetworkMode(connection_.mode); }
  // The exchange on the line is given up (Stop, a scan): counted, logged, the line let
  // go quiet before the next request.
  void GiveUpExchange(const char* poll, const char* write);

  LineLinks& line_;
  LineObserver& observer_;
  std::function<TimePoint()> clock_;
  LineConnection connection_;
  std::vector<Slot> slots_;
  std::deque<PendingWrite> writes_;
  PollStatistics line_stats_;
  Kind on_line_ = Kind::None;
  int on_line_poll_ = -1;
  WriteFrame write_on_line_;
  TimePoint sent_at_{};
  unsigned wait_ms_ = 0;
  bool paused_ = false;
  bool lost_ = false;         // the link went away; looked for again by the next due poll
  bool down_told_ = false;    // the log says already that the line is down
  bool connecting_ = false;
  bool connect_for_poll_ = false;  // due polls wait for the connect under way
  bool connect_explain_ = false;   // its failure is told in a box
  TimePoint connect_deadline_{};
};

// The connection as the summary button and the log name it: in RTU the serial texts as they
// always were ("COM 3:9600,N,8,1", or the device path in place of "COM 3"), in ASCII the
// same after "ASCII ", "TCP 192.168.1.20:502" and "RTU over TCP ..." for the network modes.
std::string ConnectionSummary(const LineConnection& connection);
}  // namespace vantrel
