#include "session/LineSession.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include "diag/Diagnostics.h"
#include "modbus/ExceptionText.h"
#include "modbus/Functions.h"
#include "modbus/ModbusFrame.h"
#include "platform/Platform.h"
#include "session/PollTexts.h"
#include "session/ResponseTable.h"
#include "session/ValueNames.h"

namespace vantrel {

namespace {

// A connect waits at least a second: a time-out of 0 would never let one finish.
int ConnectTimeoutMs(const LineConnection& c) { return std::max(c.timeoutMs, 1000); }

// The exception a device answers a read of registers it does not have with.
constexpr std::uint8_t kIllegalDataAddress = 2;

long long MsBetween(TimePoint from, TimePoint to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// An RTU frame for slave id 0 goes to every device, and none answers.
bool IsBroadcast(const std::vector<std::uint8_t>& frame) { return !frame.empty() && frame[0] == 0; }

}  // namespace

std::string ConnectionSummary(const LineConnection& c) {
  if (IsNetworkMode(c.mode)) return NetworkConnectionText(c.mode, c.host, c.port);
  const int com = ComPortNumber(c.device);
  const std::string line = com != 0 ? ConnectionText(com, c.baud, c.parity, c.dataBits, c.stopBits)
                                    : DeviceConnectionText(c.device, c.baud, c.parity, c.dataBits, c.stopBits);
  // RTU, the program's first mode, goes unnamed; a line in ASCII says so, since its
  // settings alone look the same.
  return c.mode == ModbusMode::Rtu ? line : std::string(ModeName(c.mode)) + " " + line;
}

LineSession::LineSession(LineLinks& line, LineObserver& observer, std::function<TimePoint()> clock)
    : line_(line), observer_(observer), clock_(std::move(clock)) {}

TimePoint LineSession::Now() const { return clock_ ? clock_() : SessionClock::now(); }

std::size_t LineSession::Index(int poll) const { return static_cast<std::size_t>(poll); }

void LineSession::Log(int poll, const std::string& text) { observer_.OnLog(poll, text); }

std::string LineSession::ConnectionText() const { return ConnectionSummary(connection_); }

// --- the line -------------------------------------------------------------------------

void LineSession::SetConnection(const LineConnection& connection) {
  LineConnection sameLink = connection;
  sameLink.timeoutMs = connection_.timeoutMs;
  sameLink.turnaroundMs = connection_.turnaroundMs;
  if (sameLink == connection_) {  // only the time-out or the turnaround: the link stays as it is
    connection_.timeoutMs = connection.timeoutMs;
    connection_.turnaroundMs = connection.turnaroundMs;
    return;
  }
  if (on_line_ != Kind::None) GiveUpExchange(nullptr, nullptr);
  EndCycle();
  connecting_ = false;
  line_.master().Close();
  connection_ = connection;
  line_.SetMode(connection.mode);
  lost_ = false;
  down_told_ = false;
}

LineSession::OpenResult LineSession::Connect() {
  const OpenResult result = OpenLink();
  if (result == OpenResult::Open) Opened(true);
  if (result == OpenResult::Pending) connect_explain_ = true;
  if (result == OpenResult::Failed) ConnectFailed(CannotConnectText(ConnectionText()));
  return result;
}

void LineSession::ConnectFailed(const std::string& text) {
  down_told_ = true;
  std::string line = text;
  std::replace(line.begin(), line.end(), '\n', ' ');
  Log(-1, line);
  observer_.OnConnectFailed(text);
}

LineSession::OpenResult LineSession::OpenLink() {
  connecting_ = false;
  line_.master().Close();
  line_.SetMode(connection_.mode);
  if (Network()) {
    line_.StartConnect(connection_.host, connection_.port, ConnectTimeoutMs(connection_));
    connecting_ = true;
    connect_for_poll_ = false;
    connect_explain_ = false;
    connect_deadline_ = Now() + std::chrono::milliseconds(ConnectTimeoutMs(connection_));
    WriteDebugLog("Connecting to %s", ConnectionText().c_str());
    return OpenResult::Pending;
  }
  const int opened = line_.OpenSerial(connection_);
  if (!opened) return OpenResult::Failed;
  // Traffic already on the line (another master's, the rest of a reply an earlier program
  // gave up on) must not be taken for the first reply.
  line_.master().AwaitQuietLine(std::max(connection_.timeoutMs, 0));
  return OpenResult::Open;
}

void LineSession::Opened(bool explain) {
  lost_ = false;
  down_told_ = false;  // "Connected to ..." says that it is back
  Log(-1, Network() ? "Connected to " + ConnectionText() : "Connected to serial port " + ConnectionText());
  // The port works without RS-485 mode too (most adapters switch the direction by
  // themselves), so a refusal is a warning, not a failure.
  if (!Network() && connection_.rs485 && !line_.SetRs485()) {
    const Link& port = line_.master().link();
    observer_.OnConnectWarning(Rs485ErrorText(port.Device(), port.LastError()), explain);
  }
  observer_.OnLineOpen();
}

void LineSession::FinishConnect(int result) {
  connecting_ = false;
  const bool forPoll = std::exchange(connect_for_poll_, false);
  const bool explain = std::exchange(connect_explain_, false);
  if (result == 1) {
    Opened(explain);
    Schedule();
    return;
  }
  line_.master().Close();
  const std::string text = CannotConnectNetworkText(ConnectionText(), result < 0 ? ETIMEDOUT : line_.ConnectError(),
                                                    ConnectTimeoutMs(connection_));
  // Each poll that waited for it has its ending: a failed attempt.
  std::vector<int> waited;
  if (forPoll) {
    for (int i = 0; i < Count(); ++i) {
      Slot& s = slots_[Index(i)];
      if (!s.due) continue;
      s.due = false;
      waited.push_back(i);
    }
  }
  for (int i : waited) {
    observer_.OnPollAttempt(i);
    CountSent(i, false);
    CountEnd(i, ExchangeClass::OtherError, false);
  }
  if (explain || std::any_of(waited.begin(), waited.end(), [this](int i) { return !Polling(i); })) {
    ConnectFailed(text);  // asked for by the user: a box
  } else if (!down_told_) {
    // While polling at a period: said once, as the line went; the attempts after it show in
    // the counters.
    down_told_ = true;
    Log(-1, "Failed: " + text.substr(0, text.find('\n')));
  }
  observer_.OnLineLost();
}

void LineSession::LineLost() {
  const int error = line_.master().link().LastError();
  const std::string device = line_.master().link().Device();
  const Kind was = on_line_;
  const int poll = on_line_poll_;
  const int dropped = static_cast<int>(writes_.size()) - (was == Kind::Write && !writes_.empty() ? 1 : 0);
  const int cycle = cycle_.poll;
  // The read of a cycle that was on the line, named as a failed one is.
  const std::string mapRead = was == Kind::Poll && poll_read_ == PollRead::Cycle
                                  ? MapRequestText(slots_[Index(poll)].def.map, cycle_.requests.front())
                                  : "";
  if (was == Kind::Pdu) EndPdu(MB_RESPONCE_EMPTY, "The line went away before the reply came.");
  on_line_ = Kind::None;
  on_line_poll_ = -1;
  poll_read_ = PollRead::Definition;
  wait_ms_ = 0;
  writes_.clear();
  EndCycle();
  line_.master().AbandonExchange(0);
  line_.master().Close();
  lost_ = true;
  down_told_ = true;
  if (was == Kind::Poll || was == Kind::Write) CountEnd(poll, ExchangeClass::OtherError, was == Kind::Write);
  if (Network()) {
    Log(-1, "The connection to " + ConnectionText() + " has been lost (" + platform::ErrorText(error) +
                "); it is made again at the next poll");
  } else {
    Log(-1, "The device of serial port " + ConnectionText() + " has gone away (" + device + ": " +
                platform::ErrorText(error) + "); it is opened again at the next poll");
  }
  if (was == Kind::Write) Log(poll, "The write on the line was not confirmed");
  if (!mapRead.empty()) {
    Log(poll, "Failed: Read of " + mapRead + ": the line went away");
  } else if (cycle >= 0) {
    Log(cycle, "The reads by map under way end, the line having gone");
  }
  if (dropped > 0) Log(-1, "Writes not sent, the line having gone: " + std::to_string(dropped));
  observer_.OnLineLost();
}

void LineSession::GiveUpExchange(const char* poll, const char* write) {
  if (on_line_ == Kind::Quiet) {
    on_line_ = Kind::None;
    return;
  }
  if (on_line_ == Kind::Pdu) {
    line_.master().AbandonExchange(std::max(connection_.timeoutMs, 0));
    EndPdu(MB_RESPONCE_EMPTY, "The reply was given up: the line was taken for something else.");
    return;
  }
  const bool writing = on_line_ == Kind::Write;
  const int who = on_line_poll_;
  on_line_ = Kind::None;
  on_line_poll_ = -1;
  poll_read_ = PollRead::Definition;
  wait_ms_ = 0;
  line_.master().AbandonExchange(std::max(connection_.timeoutMs, 0));
  CountEnd(who, ExchangeClass::OtherError, writing);
  const char* text = writing ? write : poll;
  if (text != nullptr) Log(who, text);
}

void LineSession::Pause(const std::string& why) {
  paused_ = true;
  EndCycle();
  if (on_line_ != Kind::None) {
    GiveUpExchange(("The reply awaited was given up for " + why).c_str(),
                   ("The write on the line was given up for " + why + ", it may or may not have been made").c_str());
  }
  const int dropped = static_cast<int>(writes_.size());
  writes_.clear();
  if (dropped > 0) Log(-1, "Writes not sent, " + why + " having taken the line: " + std::to_string(dropped));
}

void LineSession::Resume(bool lineChanged) {
  paused_ = false;
  // A sweep leaves the port at its last line settings: the connection's own come back.
  if (lineChanged) {
    const OpenResult result = OpenLink();
    if (result == OpenResult::Open) Opened(false);
    if (result == OpenResult::Failed) ConnectFailed(CannotConnectText(ConnectionText()));
  }
  Schedule();
}

// --- the definitions ------------------------------------------------------------------

int LineSession::Add(const PollDefinition& definition) {
  Slot s;
  s.def = definition;
  // Polling at a period starts one period from now, as the first poll timer did.
  s.nextDue = Now() + std::chrono::milliseconds(std::max(definition.periodMs, 0));
  slots_.push_back(std::move(s));
  return Count() - 1;
}

void LineSession::Remove(int poll) {
  if (OnLine(poll)) GiveUpExchange(nullptr, nullptr);
  if (cycle_.poll == poll) EndCycle();
  if (cycle_.poll > poll) --cycle_.poll;
  std::erase_if(writes_, [poll](const PendingWrite& w) { return w.poll == poll; });
  for (PendingWrite& w : writes_) {
    if (w.poll > poll) --w.poll;
  }
  if (on_line_poll_ > poll) --on_line_poll_;
  slots_.erase(slots_.begin() + poll);
}

void LineSession::Move(int from, int to) {
  if (from == to) return;
  const auto renumber = [from, to](int& i) {
    if (i == from) {
      i = to;
    } else if (from < to && i > from && i <= to) {
      --i;
    } else if (to < from && i >= to && i < from) {
      ++i;
    }
  };
  for (PendingWrite& w : writes_) renumber(w.poll);
  if (on_line_poll_ >= 0) renumber(on_line_poll_);
  if (cycle_.poll >= 0) renumber(cycle_.poll);
  Slot moved = std::move(slots_[Index(from)]);
  slots_.erase(slots_.begin() + from);
  slots_.insert(slots_.begin() + to, std::move(moved));
}

void LineSession::Change(int poll, const PollDefinition& definition) {
  Slot& s = slots_.at(Index(poll));
  const bool newPeriod = definition.periodMs != s.def.periodMs;
  const bool newPlan = definition.map != s.def.map || definition.byMap != s.def.byMap ||
                       definition.mergeGap != s.def.mergeGap || definition.slaveId != s.def.slaveId;
  s.def = definition;
  if (newPlan) {
    // Another map, or another device: what this one refused says nothing of it.
    s.plan.clear();
    s.planned = false;
    s.alone.clear();
    if (cycle_.poll == poll) EndCycle();
  }
  if (newPeriod) {
    s.stopped = false;
    s.nextDue = Now() + std::chrono::milliseconds(std::max(definition.periodMs, 0));
    if (definition.periodMs <= 0) s.due = false;
  }
}

// --- polling ----------------------------------------------------------------------------

bool LineSession::Polling(int poll) const {
  const Slot& s = slots_.at(Index(poll));
  return s.def.enabled && s.def.periodMs > 0 && !s.stopped;
}

void LineSession::PollDue(int poll) {
  Slot& s = slots_.at(Index(poll));
  if (s.due) return;
  s.due = true;
  s.dueSince = Now();
  Schedule();
}

void LineSession::Start(int poll) {
  Slot& s = slots_.at(Index(poll));
  if (s.stopped) {
    s.stopped = false;
    Log(poll, "Polling resumed");
  }
  if (!s.due) {
    s.due = true;
    s.dueSince = Now();
  }
  Schedule();
}

void LineSession::StartAll() {
  for (int i = 0; i < Count(); ++i) {
    if (slots_[Index(i)].def.enabled) Start(i);
  }
}

void LineSession::Stop(int poll) {
  Slot& s = slots_.at(Index(poll));
  s.due = false;
  // A connect made for polls is given up when no other definition polls on.
  bool others = false;
  for (int i = 0; i < Count(); ++i) others = others || (i != poll && Polling(i));
  if (connecting_ && !others) {
    connecting_ = false;
    connect_for_poll_ = false;
    line_.master().Close();
    Log(poll, "Stopped: the connect to " + ConnectionText() + " was given up");
  }
  if (cycle_.poll == poll) EndCycle();
  if (OnLine(poll)) {
    GiveUpExchange("Stopped: the reply awaited was given up",
                   "Stopped: the write on the line was given up, it may or may not have been made");
  }
  const auto before = writes_.size();
  std::erase_if(writes_, [poll](const PendingWrite& w) { return w.poll == poll; });
  if (const auto dropped = before - writes_.size()) Log(poll, "Writes not sent, stopped: " + std::to_string(dropped));
  // A pause: the period stays, and Start goes on at it.
  if (Polling(poll)) {
    s.stopped = true;
    Log(poll, "Polling stopped");
  }
  Schedule();
}

void LineSession::StopAll() {
  for (int i = 0; i < Count(); ++i) Stop(i);
}

void LineSession::StopPolling(int poll) {
  Slot& s = slots_.at(Index(poll));
  s.def.periodMs = 0;
  s.stopped = false;
  s.due = false;
}

// --- writes ---------------------------------------------------------------------------

void LineSession::Write(int poll, std::vector<WriteFrame> requests) {
  if (requests.empty()) return;
  PendingWrite w;
  w.poll = poll;
  w.requests.assign(std::make_move_iterator(requests.begin()), std::make_move_iterator(requests.end()));
  writes_.push_back(std::move(w));
  if (on_line_ != Kind::None || connecting_ || paused_) {
    Log(poll, "The write waits until the exchange on the line is over");
    return;
  }
  Schedule();
}

// --- what goes next ---------------------------------------------------------------------

void LineSession::MarkDue(TimePoint now) {
  for (Slot& s : slots_) {
    if (s.due || !s.def.enabled || s.def.periodMs <= 0 || s.stopped || now < s.nextDue) continue;
    s.due = true;
    s.dueSince = s.nextDue;
  }
}

void LineSession::Schedule() {
  if (paused_ || connecting_ || on_line_ != Kind::None) return;
  MarkDue(Now());
  if (!writes_.empty()) {
    SendWrite();
    return;
  }
  if (!pdus_.empty()) {
    SendPdu();
    return;
  }
  // A cycle of reads by map goes on before any other definition is served.
  if (cycle_.poll >= 0) {
    SendPoll(cycle_.poll);
    return;
  }
  // The most overdue first: a definition just served is due again only after the ones that
  // waited, so none starves.
  int next = -1;
  for (int i = 0; i < Count(); ++i) {
    const Slot& s = slots_[Index(i)];
    if (s.due && (next < 0 || s.dueSince < slots_[Index(next)].dueSince)) next = i;
  }
  if (next >= 0) SendPoll(next);
}

bool LineSession::ReopenForPoll(int poll) {
  if (IsOpen() || !(lost_ || Network())) return true;
  const OpenResult opened = OpenLink();
  if (opened == OpenResult::Pending) {
    connect_for_poll_ = true;
    connect_explain_ = false;
    return false;
  }
  if (opened == OpenResult::Open) {
    Opened(false);
    return true;
  }
  if (!Polling(poll)) return true;  // polling once: the send fails and says why
  // While polling at a period, a poll that does not find the line yet is counted and waits
  // for its next period, without a box; said once, as the line went.
  Slot& s = slots_[Index(poll)];
  s.due = false;
  observer_.OnPollAttempt(poll);
  CountSent(poll, false);
  CountEnd(poll, ExchangeClass::OtherError, false);
  s.nextDue = Now() + std::chrono::milliseconds(s.def.periodMs);
  if (!down_told_) {
    down_told_ = true;
    const std::string text = CannotConnectText(ConnectionText());
    Log(-1, "Failed: " + text.substr(0, text.find('\n')));
  }
  observer_.OnLineLost();
  return false;
}

const std::vector<MapRequest>& LineSession::Plan(Slot& s) {
  if (!s.planned) {
    s.plan = PlanMapReads(s.def.map, s.def.mergeGap, s.alone);
    s.planned = true;
  }
  return s.plan;
}

std::vector<MapRequest> LineSession::MapPlan(int poll) const {
  const Slot& s = slots_.at(Index(poll));
  if (!ReadsByMap(s.def)) return {};
  return s.planned ? s.plan : PlanMapReads(s.def.map, s.def.mergeGap, s.alone);
}

void LineSession::EndCycle() {
  cycle_ = MapCycle{};
  if (poll_read_ == PollRead::Cycle) poll_read_ = PollRead::Dropped;
}

void LineSession::SendPoll(int poll) {
  Slot& s = slots_[Index(poll)];
  const PollDefinition& d = s.def;
  // The next request of the definition's cycle under way, or the first of a new one.
  const bool goesOn = cycle_.poll == poll;
  const bool byMap = goesOn || ReadsByMap(d);
  const MapRequest* request = nullptr;
  if (goesOn) {
    request = &cycle_.requests.front();
  } else if (byMap && !Plan(s).empty()) {
    request = &s.plan.front();
  }
  std::uint8_t frame[kFrameCapacity] = {};
  // Values that do not fit the frame are never cut into a request for another device or
  // address.
  int size = 0;
  if (byMap) {
    size = request != nullptr ? FrameMapRequest(d.slaveId, *request, frame) : 0;
  } else if (CheckRequestFields(d.slaveId, d.offset, d.length) == MB_REQUEST_OK) {
    size = BuildReadRequest(static_cast<std::uint8_t>(d.function), static_cast<std::uint8_t>(d.slaveId),
                            static_cast<std::uint16_t>(d.offset), static_cast<std::uint16_t>(d.length), frame);
  }
  if (!goesOn) {
    if (size > 0 && !ReopenForPoll(poll)) {
      Schedule();  // the next one may go (or all wait for the connect)
      return;
    }
    s.due = false;
    observer_.OnPollAttempt(poll);
  }
  if (size <= 0) {
    EndCycle();
    LineFailure f;
    f.text = CannotGenerateText();
    f.explain = true;
    Log(poll, f.text);
    StopPolling(poll);
    observer_.OnPollFailed(poll, f);
    Schedule();
    return;
  }
  if (byMap && !goesOn) {
    cycle_.poll = poll;
    cycle_.requests.assign(s.plan.begin(), s.plan.end());
    cycle_.reading.raw.assign(d.map.items.size(), {});
    request = &cycle_.requests.front();
  }
  Log(poll, byMap ? "Sending request to device: " + MapRequestText(d.map, *request) : "Sending request to device");
  CountSent(poll, false);
  const int sent = line_.master().SendRequest(frame, size);
  // As it went on the wire: the mode's framing, with the transaction id of Modbus TCP.
  Log(poll, "=>Request: " + WireText(line_.master().Mode(), line_.master().request, line_.master().request_size));
  if (!goesOn) {  // a cycle is one poll: its period counts from its first request
    s.lastSent = Now();
    if (d.periodMs > 0) s.nextDue = s.lastSent + std::chrono::milliseconds(d.periodMs);
  }
  poll_read_ = byMap ? PollRead::Cycle : PollRead::Definition;
  if (line_.master().link().DeviceLost()) {  // the device went away: no box, the line is let go
    on_line_ = Kind::Poll;
    on_line_poll_ = poll;
    LineLost();
    Schedule();
    return;
  }
  if (!sent) {
    LineFailure f;
    f.text = CannotPollText(ConnectionText());
    f.lineGone = true;
    CountEnd(poll, ExchangeClass::OtherError, false);
    const std::string what = byMap ? MapRequestText(d.map, *request) : "";
    poll_read_ = PollRead::Definition;
    EndCycle();
    PollFailed(poll, std::move(f), what);
    Schedule();
    return;
  }
  on_line_ = Kind::Poll;
  on_line_poll_ = poll;
  sent_at_ = Now();
  wait_ms_ = 0;
}

void LineSession::SendWrite() {
  PendingWrite& w = writes_.front();
  const int poll = w.poll;
  WriteFrame request = std::move(w.requests.front());
  w.requests.pop_front();
  // A device that went away is looked for once per write too (a network connection is made
  // by the next poll: a write does not wait for a connect).
  if (lost_ && !IsOpen() && !Network() && OpenLink() == OpenResult::Open) Opened(false);
  Log(poll, DescribeWrite(request));
  write_on_line_ = request;
  // A broadcast is no exchange: nobody answers it, so the figures do not count it.
  if (!IsBroadcast(request.bytes)) CountSent(poll, true);
  const int sent = line_.master().SendRequest(request.bytes.data(), static_cast<int>(request.bytes.size()));
  Log(poll, "=>Write request: " + WireText(line_.master().Mode(), line_.master().request, line_.master().request_size));
  on_line_ = Kind::Write;
  on_line_poll_ = poll;
  if (line_.master().link().DeviceLost()) {
    LineLost();
    return;
  }
  if (!sent) {
    LineFailure f;
    f.text = CannotWriteText(ConnectionText());
    f.lineGone = true;
    CountEnd(poll, ExchangeClass::OtherError, true);
    EndWrite(MB_RESPONCE_EMPTY);
    WriteFailed(poll, request, std::move(f));
    return;
  }
  sent_at_ = Now();
  wait_ms_ = 0;
  if (IsBroadcast(request.bytes)) {
    EndWrite(MB_RESPONCE_OK);
    Unanswered(poll, true);
    observer_.OnWriteConfirmed(poll, request);
  }
}

// --- requests of any function -----------------------------------------------------------

void LineSession::Send(PduRequest request) {
  pdus_.push_back(std::move(request));
  Schedule();
}

void LineSession::SendPdu() {
  PduRequest r = std::move(pdus_.front());
  pdus_.pop_front();
  pdu_on_line_ = PduOutcome{};
  pdu_on_line_.tag = r.tag;
  pdu_on_line_.broadcast = r.slaveId == 0;
  std::vector<std::uint8_t> frame;
  if (const int check = FrameRequest(r.slaveId, r.pdu, frame); check != MB_REQUEST_OK) {
    EndPdu(MB_RESPONCE_EMPTY, PduRequestErrorText(check));
    Schedule();
    return;
  }
  if (lost_ && !IsOpen() && !Network() && OpenLink() == OpenResult::Open) Opened(false);
  const int sent = line_.master().SendRequest(frame.data(), static_cast<int>(frame.size()));
  ModbusMaster& m = line_.master();
  pdu_on_line_.request.assign(m.request, m.request + m.request_size);
  Log(-1, std::string(pdu_on_line_.broadcast ? "=>Broadcast: " : "=>Request: ") + WireText(m.Mode(), m.request, m.request_size));
  on_line_ = Kind::Pdu;
  on_line_poll_ = -1;
  sent_at_ = Now();
  wait_ms_ = 0;
  if (m.link().DeviceLost()) {
    LineLost();
    return;
  }
  if (!sent) {
    EndPdu(MB_RESPONCE_EMPTY, CannotWriteText(ConnectionText()));
    return;
  }
  pdu_on_line_.sent = true;
  if (!m.AwaitsReply()) {  // a broadcast, or a device told to listen only
    EndPdu(MB_RESPONCE_EMPTY, "");
    Unanswered(-1, IsBroadcast(frame));
  }
}

void LineSession::EndPdu(int result, std::string text) {
  on_line_ = Kind::None;
  wait_ms_ = 0;
  PduOutcome done = std::move(pdu_on_line_);
  pdu_on_line_ = PduOutcome{};
  done.result = result;
  done.text = std::move(text);
  if (done.sent && !done.broadcast) done.ms = std::chrono::duration<double, std::milli>(Now() - sent_at_).count();
  if (result != MB_RESPONCE_EMPTY) {
    const ModbusMaster& m = line_.master();
    done.replyPdu.assign(m.ResponsePdu(), m.ResponsePdu() + m.ResponsePduSize());
  }
  if (!done.text.empty()) Log(-1, "Failed: " + done.text.substr(0, done.text.find('\n')));
  observer_.OnPduDone(done);
}

void LineSession::Unanswered(int poll, bool broadcast) {
  Log(poll, std::string(broadcast ? "Broadcast: no device answers" : "No reply awaited: the device listens only from now on") +
                "; the next request waits " + std::to_string(connection_.turnaroundMs) + " ms");
  on_line_ = Kind::Quiet;
  quiet_until_ = Now() + std::chrono::milliseconds(std::max(connection_.turnaroundMs, 0));
}

// --- replies ----------------------------------------------------------------------------

void LineSession::TimePassed() {
  const TimePoint now = Now();
  if (connecting_ && now >= connect_deadline_) {
    // The name lookup may outlast the connect's own bound: the session's word is final.
    FinishConnect(-1);
  }
  if (on_line_ == Kind::Quiet && now >= quiet_until_) on_line_ = Kind::None;
  if (on_line_ != Kind::None && on_line_ != Kind::Quiet) {
    // Compared in 64 bits: a negative stored time-out times out at once instead of never.
    if (static_cast<long long>(wait_ms_) > static_cast<long long>(connection_.timeoutMs)) {
      TimeOut();
    } else {
      TakeReply();
      if (on_line_ != Kind::None) {
        wait_ms_ = static_cast<unsigned>(std::clamp<long long>(MsBetween(sent_at_, now), 0, INT_MAX));
      }
    }
  }
  Schedule();
}

void LineSession::LinkReadable() {
  if (connecting_) {
    const int result = line_.FinishConnect();
    if (result >= 0) FinishConnect(result);
  } else if (on_line_ != Kind::None && on_line_ != Kind::Quiet) {
    TakeReply();
  }
  Schedule();
}

void LineSession::TakeReply() {
  const int result = line_.master().ReadResponse();
  if (ReplyPending(result)) {
    if (line_.master().link().DeviceLost()) LineLost();
    return;
  }
  if (on_line_ == Kind::Pdu) {
    std::string text;
    if (result == MB_RESPONCE_EXCEPTION) {
      ExplainException(line_.master().exception_function, line_.master().exception_code, text);
    } else if (result != MB_RESPONCE_OK) {
      text = ReplyErrorText(result);
    }
    EndPdu(result, std::move(text));
    return;
  }
  const int poll = on_line_poll_;
  const bool writing = on_line_ == Kind::Write;
  CountEnd(poll, ClassifyExchange(result, false), writing);
  if (writing) {
    const WriteFrame write = write_on_line_;
    EndWrite(result);
    if (result == MB_RESPONCE_OK) {
      // Its data bytes, as a read's reply is logged: the address and the value or quantity.
      Log(poll, "<= Write reply: " + HexBytes(line_.master().ResponsePdu() + 1, line_.master().ResponsePduSize() - 1));
      observer_.OnWriteConfirmed(poll, write);
      return;
    }
    LineFailure f;
    f.cls = ClassifyExchange(result, false);
    f.result = result;
    if (result == MB_RESPONCE_EXCEPTION) {
      ExplainException(line_.master().exception_function, line_.master().exception_code, f.text);
      f.boxType = kBoxStop;
    } else {
      f.text = ReplyErrorText(result);
    }
    WriteFailed(poll, write, std::move(f));
    return;
  }
  EndPoll(result);
}

void LineSession::TimeOut() {
  const int poll = on_line_poll_;
  const bool writing = on_line_ == Kind::Write;
  ModbusMaster& m = line_.master();
  m.AbandonExchange(static_cast<int>(std::min<unsigned>(wait_ms_, INT_MAX)));
  if (on_line_ == Kind::Pdu) {
    EndPdu(MB_RESPONCE_EMPTY, RequestTimeoutText(m.request, m.request_size));
    return;
  }
  LineFailure f;
  f.result = MB_RESPONCE_EMPTY;
  f.shortReply = m.SawShortReply();
  // The device did answer, every time with fewer values than asked for: say that, not that
  // it was too slow.
  f.cls = f.shortReply ? ExchangeClass::OtherError : ExchangeClass::Timeout;
  CountEnd(poll, f.cls, writing);
  if (writing) {
    const WriteFrame write = write_on_line_;
    f.text = WriteTimeoutText(m.request, m.request_size);
    EndWrite(MB_RESPONCE_EMPTY);
    WriteFailed(poll, write, std::move(f));
    return;
  }
  on_line_ = Kind::None;
  on_line_poll_ = -1;
  wait_ms_ = 0;
  if (f.shortReply) {
    f.text = kNotEnoughData;
    f.boxType = kPanicBox;
  } else {
    f.text = TimeoutText(m.request, m.request_size);
  }
  const PollRead read = std::exchange(poll_read_, PollRead::Definition);
  if (read == PollRead::Dropped) {  // its cycle is over: nothing waits for it
    Log(poll, "Failed: " + f.text.substr(0, f.text.find('\n')) + " (the read of a map cycle that has ended)");
    return;
  }
  std::string what;
  if (read == PollRead::Cycle) {
    what = MapRequestText(slots_[Index(poll)].def.map, cycle_.requests.front());
    EndCycle();
  }
  PollFailed(poll, std::move(f), what);
}

void LineSession::EndPoll(int result) {
  const int poll = on_line_poll_;
  on_line_ = Kind::None;
  on_line_poll_ = -1;
  wait_ms_ = 0;
  if (const PollRead read = std::exchange(poll_read_, PollRead::Definition); read != PollRead::Definition) {
    EndMapRead(poll, result, read == PollRead::Cycle);
    return;
  }
  ModbusMaster& m = line_.master();
  if (result == MB_RESPONCE_OK) {
    Log(poll, "<= Responce: " + HexBytes(m.data, m.byte_count));
    observer_.OnReply(poll, m);
    return;
  }
  PollFailed(poll, ReadFailure(result));
}

LineFailure LineSession::ReadFailure(int result) {
  const ModbusMaster& m = line_.master();
  LineFailure f;
  f.cls = ClassifyExchange(result, false);
  f.result = result;
  if (result == MB_RESPONCE_EXCEPTION) {
    ExplainException(m.exception_function, m.exception_code, f.text);
    f.boxType = kBoxStop;
  } else if (result != MB_RESPONCE_OK) {
    f.text = ReplyErrorText(result);
  }
  return f;
}

void LineSession::EndMapRead(int poll, int result, bool live) {
  ModbusMaster& m = line_.master();
  LineFailure f = ReadFailure(result);
  if (!live) {  // its cycle ended as the definition changed: counted, and no more
    Log(poll, result == MB_RESPONCE_OK
                  ? "<= Responce: " + HexBytes(m.data, m.byte_count) + " (not used: the definition changed)"
                  : "Failed: " + f.text.substr(0, f.text.find('\n')) + " (the read of a map cycle that has ended)");
    return;
  }
  const PollDefinition& d = slots_[Index(poll)].def;
  const MapRequest request = cycle_.requests.front();
  if (result == MB_RESPONCE_OK) {
    Log(poll, "<= Responce: " + HexBytes(m.data, m.byte_count));
    if (!SplitMapReply(d.map, request, ReplyValues(request, m.data, m.byte_count), cycle_.reading)) {
      // The reply check holds the byte count to what the request asked for: this is no reply
      // to it.
      f.cls = ExchangeClass::OtherError;
      f.text = kNotEnoughData;
      f.boxType = kPanicBox;
      EndCycle();
      PollFailed(poll, std::move(f), MapRequestText(d.map, request));
      return;
    }
    cycle_.requests.pop_front();
    if (!cycle_.requests.empty()) return;  // Schedule sends the next
    const MapReading reading = std::move(cycle_.reading);
    EndCycle();
    observer_.OnMapValues(poll, reading);
    return;
  }
  if (result == MB_RESPONCE_EXCEPTION && m.exception_code == kIllegalDataAddress && IsMergedRead(d.map, request)) {
    SplitRefusedRead(poll, request);
    return;
  }
  EndCycle();
  PollFailed(poll, std::move(f), MapRequestText(d.map, request));
}

void LineSession::SplitRefusedRead(int poll, const MapRequest& refused) {
  Slot& s = slots_[Index(poll)];
  s.alone.resize(s.def.map.items.size());
  for (const int i : refused.items) s.alone[static_cast<std::size_t>(i)] = true;
  s.planned = false;
  const std::vector<MapRequest>& plan = Plan(s);
  Log(poll, "The device refused the merged read of " + std::to_string(refused.items.size()) + " items (" +
                MapRequestText(s.def.map, refused) + "): they are read one by one from now on");
  // The rest of the cycle: the requests of the new plan for the items not read yet.
  cycle_.requests.clear();
  for (const MapRequest& r : plan) {
    const bool unread = std::any_of(r.items.begin(), r.items.end(), [this](int i) {
      return cycle_.reading.raw[static_cast<std::size_t>(i)].empty();
    });
    if (unread) cycle_.requests.push_back(r);
  }
  if (cycle_.requests.empty()) {  // the refused items are unread: not met, but never an empty cycle
    const MapReading reading = std::move(cycle_.reading);
    EndCycle();
    observer_.OnMapValues(poll, reading);
  }
}

void LineSession::PollFailed(int poll, LineFailure f, const std::string& what) {
  if (!what.empty()) {
    Log(poll, "Failed: Read of " + what + ": " + f.text.substr(0, f.text.find('\n')) + "; received: " +
                  line_.master().ReceivedText());
    f.text = "Read of " + what + "\n\n" + f.text;
  } else {
    Log(poll, "Failed: " + f.text.substr(0, f.text.find('\n')) + "; received: " + line_.master().ReceivedText());
  }
  // "Keep polling and count it" only while polling at a period; otherwise polling falls back
  // to once before the box is shown, so that nothing of it polls while the box is up.
  const Slot& s = slots_[Index(poll)];
  f.explain = !(s.def.policy == FailurePolicy::KeepPolling && Polling(poll));
  if (f.explain) StopPolling(poll);
  observer_.OnPollFailed(poll, f);
}

void LineSession::EndWrite(int result) {
  on_line_ = Kind::None;
  on_line_poll_ = -1;
  wait_ms_ = 0;
  if (writes_.empty()) return;
  PendingWrite& w = writes_.front();
  if (result == MB_RESPONCE_OK) {
    w.confirmed = true;
  } else {
    w.requests.clear();  // the rest of a write not confirmed is not sent
  }
  if (!w.requests.empty()) return;
  const int poll = w.poll;
  const bool confirmed = w.confirmed;
  writes_.pop_front();
  // Read again at once, so that the values show what the device now holds.
  if (confirmed && poll >= 0 && poll < Count()) {
    Slot& s = slots_[Index(poll)];
    if (!s.due) {
      s.due = true;
      s.dueSince = Now();
    }
  }
}

void LineSession::WriteFailed(int poll, const WriteFrame& write, LineFailure f) {
  const std::string what = "Write of " + WriteText(write);
  Log(poll, "Failed: " + what + ": " + f.text.substr(0, f.text.find('\n')) + "; received: " +
                line_.master().ReceivedText());
  // The user asked for one write, not for the reading to stop: polling goes on, under the
  // box too, and the box says which write failed.
  f.text = what + "\n\n" + f.text;
  f.explain = true;
  observer_.OnWriteFailed(poll, write, f);
}

// --- counting ---------------------------------------------------------------------------

void LineSession::CountSent(int poll, bool write) {
  for (PollStatistics* stats : {&slots_[Index(poll)].stats, &line_stats_}) {
    write ? stats->RecordWriteSent() : stats->RecordPollSent();
  }
  sent_at_ = Now();
  observer_.OnSent(poll);
}

void LineSession::CountEnd(int poll, ExchangeClass how, bool write) {
  const double ms = std::chrono::duration<double, std::milli>(Now() - sent_at_).count();
  if (poll >= 0 && poll < Count()) slots_[Index(poll)].stats.RecordResult(how, write, ms);
  line_stats_.RecordResult(how, write, ms);
}

// --- driving ----------------------------------------------------------------------------

int LineSession::WatchHandle() const {
  if (connecting_) return line_.ConnectHandle();
  return Watching() ? line_.master().link().Handle() : -1;
}

bool LineSession::Watching() const {
  return connecting_ || (on_line_ != Kind::None && on_line_ != Kind::Quiet);
}

int LineSession::WaitLink(int timeoutMs) {
  if (connecting_) return line_.WaitConnect(timeoutMs) > 0 ? 1 : 0;
  Link& link = line_.master().link();
  if (Watching() && link.IsOpen()) return link.WaitReadable(timeoutMs) != 0 ? 1 : 0;
  if (timeoutMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
  return 0;
}

TimePoint LineSession::NextPollDue() const {
  TimePoint next = TimePoint::max();
  for (int i = 0; i < Count(); ++i) {
    if (Polling(i)) next = std::min(next, slots_[Index(i)].due ? Now() : slots_[Index(i)].nextDue);
  }
  return next;
}

TimePoint LineSession::NextWake() const {
  TimePoint next = TimePoint::max();
  if (connecting_) next = connect_deadline_;
  if (on_line_ == Kind::Quiet) return std::min(next, quiet_until_);
  if (on_line_ == Kind::Pdu) {
    // A reply that only silence ends (a function the codec does not know) is looked at
    // again once the line has been quiet for its gap.
    next = std::min(next, Now() + std::chrono::milliseconds(std::max(line_.master().link().IdleGapMs(), 1)));
  }
  if (on_line_ != Kind::None) {
    // Once the wait counted passes the time-out, the next call times it out.
    const TimePoint counted = sent_at_ + std::chrono::milliseconds(std::max(connection_.timeoutMs, 0) + 1);
    next = std::min(next, static_cast<long long>(wait_ms_) > connection_.timeoutMs ? Now() : counted);
    return next;
  }
  if (paused_ || connecting_) return next;
  if (!writes_.empty() || cycle_.poll >= 0) return Now();
  for (const Slot& s : slots_) {
    if (s.due) return Now();
    if (s.def.enabled && s.def.periodMs > 0 && !s.stopped) next = std::min(next, s.nextDue);
  }
  return next;
}

}  // namespace vantrel
