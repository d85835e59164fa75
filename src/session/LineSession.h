// The line session: one line (its links and its master) and the poll definitions that share
// it. It decides what goes on the line next (writes first, then the most overdue poll), one
// exchange at a time, never a request on top of a reply still arriving; it keeps the
// counters of each definition and of the line, opens the link again when it was lost (once
// per due poll), applies each definition's failure policy, and pauses for a scan.
//
// A definition read by its map polls in cycles: the requests of its plan (see MapReads.h)
// go one after another, each an exchange and a poll in the counters, writes may go between
// them, and the other definitions wait until the cycle ends, which counts as one serving.
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
#include "session/MapReads.h"
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

// A request of any function, as the Test center, Diagnostics and vantrel-poll --raw make
// them: the PDU (function code and data) for a slave id. Slave id 0 broadcasts.
struct PduRequest {
  int slaveId = 1;
  std::vector<std::uint8_t> pdu;
  int tag = 0;  // the caller's, told back with the outcome
};

// How a PduRequest ended.
struct PduOutcome {
  int tag = 0;
  // The reply check's result: MB_RESPONCE_OK, MB_RESPONCE_EXCEPTION or a failure; a reply
  // still pending (0) for a time-out, a request refused or not sent, and a broadcast.
  int result = 0;
  bool sent = false;       // the request went on the line
  bool broadcast = false;  // sent to every device: no reply awaited
  std::vector<std::uint8_t> request;   // as the mode framed it (ASCII: the bytes its characters carry)
  std::vector<std::uint8_t> replyPdu;  // the reply's function code and data
  double ms = 0;  // from the send to the reply, or to the time-out
  // Why it failed, as a box explains it (an exception explained); empty when it did not.
  std::string text;
};

// How a window that makes requests of any function has them sent (through the session of
// the line it belongs to), and is told the outcome.
using PduSender =
    std::function<void(int slaveId, std::vector<std::uint8_t> pdu, std::function<void(const PduOutcome&)> done)>;

class LineObserver {
 public:
  virtual ~LineObserver() = default;
  // A line of the activity log; poll is the definition it is about, -1 for the line's own.
  virtual void OnLog(int poll, const std::string& text) = 0;
  // A poll of the definition is tried (counted as the usage report counts polls); a cycle
  // of reads by map is one.
  virtual void OnPollAttempt(int /*poll*/) {}
  // A request went out, or was counted as one (the counters changed).
  virtual void OnSent(int /*poll*/) {}
  // A good reply to a poll; master holds it until the next request goes out. Not told for
  // a definition read by its map: OnMapValues is.
  virtual void OnReply(int poll, const ModbusMaster& master) = 0;
  // Every request of a cycle of a definition read by its map was answered: the raw values
  // of each item of its map (see MapReading).
  virtual void OnMapValues(int /*poll*/, const MapReading& /*reading*/) {}
  // A poll of the definition failed (see LineFailure::explain for the box).
  virtual void OnPollFailed(int poll, const LineFailure& failure) = 0;
  // A write of the definition's was confirmed (one request of it), or failed (the rest of it
  // is dropped).
  virtual void OnWriteConfirmed(int /*poll*/, const WriteFrame& /*write*/) {}
  virtual void OnWriteFailed(int poll, const WriteFrame& write, const LineFailure& failure) = 0;
  // A request of any function ended (see LineSession::Send).
  virtual void OnPduDone(const PduOutcome& /*outcome*/) {}
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
  // time-out or the turnaround changed). Opened by Connect, or by the next poll.
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
  // A period set anew starts counting now; a stop is lifted by a new period. A change of
  // how it reads by map (map, byMap, mergeGap, slave) ends the cycle under way without
  // values (the request on the line ends, its reply unused), plans again, and forgets the
  // items the device would only read one by one.
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
  // A cycle of the definition's reads by map is under way (a write may be on the line).
  bool InCycle(int poll) const { return cycle_.poll >= 0 && cycle_.poll == poll; }
  // The requests a cycle of the definition makes, as planned now (none for a definition
  // not read by its map).
  std::vector<MapRequest> MapPlan(int poll) const;
  bool AwaitingReply() const { return on_line_ != Kind::None; }
  // When the definition's last poll went out, and when its next is due (its period after).
  TimePoint LastSent(int poll) const { return slots_.at(Index(poll)).lastSent; }

  // --- writes ------------------------------------------------------------------------
  // One write the user asked for from the definition's values (one request or several, in
  // turn): it goes as soon as the line is free; once confirmed, the definition is read again.
  void Write(int poll, std::vector<WriteFrame> requests);

  // --- requests of any function ---------------------------------------------------------
  // Goes when the line is free, after the writes waiting and before the next poll. Its end
  // is told by OnPduDone: the reply, taken by the codec's rules for the function or, for a
  // function it does not know, by the framing's own; a time-out; or a refusal (a function
  // that cannot be broadcast, a PDU that does not fit a frame). A broadcast awaits no reply:
  // it ends when sent, and the line is left quiet for the connection's turnaround first.
  // Requests and broadcasts of any kind are not counted in the poll figures: they belong to
  // no definition.
  void Send(PduRequest request);

  // --- driving -----------------------------------------------------------------------
  // Time has passed: time-outs, a connect's bound, polls that fell due.
  void TimePassed();
  // The descriptor WatchHandle names is readable: the reply's bytes, or a connect's end.
  void LinkReadable();
  // What the driver watches for reading: the connect under way, else the link while a reply
  // is awaited; -1 when nothing, and on Windows, where links are no descriptors.
  int WatchHandle() const;
  // Whether there is such a thing to watch, whatever the platform.
  bool Watching() const;
  // For a driver that may block (the command-line poller): waits at most timeoutMs (without
  // end when negative) for what Watching names, through the link itself on every platform.
  // 1 when LinkReadable is due (bytes, a hang-up, a connect's end), 0 after timeoutMs;
  // with nothing watched it only lets timeoutMs pass.
  int WaitLink(int timeoutMs);
  // When TimePassed is next needed: the next poll due, the reply's time-out, a connect's
  // bound; SessionClock's max() when nothing waits.
  TimePoint NextWake() const;
  // When the next poll at a period falls due (now when one waits for the line); max() when
  // nothing polls at a period.
  TimePoint NextPollDue() const;

 private:
  // Quiet: a broadcast went out; nothing is sent until quiet_until_.
  enum class Kind { None, Poll, Write, Pdu, Quiet };
  struct Slot {
    PollDefinition def;
    PollStatistics stats;
    TimePoint nextDue{};   // of the next periodic poll
    TimePoint dueSince{};  // a poll waits for the line since then (due)
    TimePoint lastSent{};
    bool due = false;
    bool stopped = false;
    // Read by map: the plan of a cycle (made when first needed), and the items the device
    // refused to read in a merged request, read one by one from then on.
    std::vector<MapRequest> plan;
    bool planned = false;
    std::vector<bool> alone;
  };
  // The cycle of a definition read by map under way.
  struct MapCycle {
    int poll = -1;                     // -1: none
    std::deque<MapRequest> requests;   // not answered yet; the first is on the line once sent
    MapReading reading;
  };
  // What the poll on the line reads: its definition's request, a request of the cycle under
  // way, or one of a cycle that ended meanwhile (its reply is counted, its values unused).
  enum class PollRead { Definition, Cycle, Dropped };
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
  static bool ReadsByMap(const PollDefinition& d) { return d.byMap && !d.map.empty(); }
  const std::vector<MapRequest>& Plan(Slot& s);
  // The cycle under way ends (its values are not told); a request of it on the line is
  // left to end.
  void EndCycle();
  // The end of a request of a cycle; live: its cycle is still under way.
  void EndMapRead(int poll, int result, bool live);
  // The device refused a merged read with exception 02: its items are read one by one from
  // now on, and the cycle goes on with their new requests.
  void SplitRefusedRead(int poll, const MapRequest& refused);
  void SendWrite();
  void SendPdu();
  void EndPdu(int result, std::string text);
  // A request that nobody answers went out (a broadcast, or 08 Force Listen Only Mode): the
  // line stays quiet for the turnaround.
  void Unanswered(int poll, bool broadcast);
  // The link is closed: opens it again for a due poll (a lost line, a network connection).
  // True when the poll may go now; false when it waits for a connect or failed (counted).
  bool ReopenForPoll(int poll);
  void TakeReply();
  void TimeOut();
  void EndPoll(int result);
  void EndWrite(int result);
  // what: the read that failed, when it is one request of a cycle ("" for the definition's
  // own request); the log and the box name it.
  // The failure of a read that ended with result (not OK): its class and explanation.
  LineFailure ReadFailure(int result);
  void PollFailed(int poll, LineFailure failure, const std::string& what = "");
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
  std::deque<PduRequest> pdus_;
  PduOutcome pdu_on_line_;
  TimePoint quiet_until_{};
  PollStatistics line_stats_;
  Kind on_line_ = Kind::None;
  int on_line_poll_ = -1;
  WriteFrame write_on_line_;
  PollRead poll_read_ = PollRead::Definition;
  MapCycle cycle_;
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
