#include "PollRun.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "PollJson.h"
#include "modbus/ExceptionText.h"
#include "modbus/Functions.h"
#include "session/DataLog.h"
#include "session/Line.h"
#include "session/MapEdits.h"
#include "session/MapTable.h"
#include "session/PollTexts.h"
#include "session/ResponseTable.h"
#include "session/TableText.h"

namespace vantrel::poll {
namespace {

// --csv with -l: a line per poll, the time and the values, as the data log writes them
// (with the 32-bit columns, since a read prints every format).
bool TimedCsv(const PollConfig& cfg) { return cfg.csv && cfg.periodMs > 0; }
// Output that is one line per poll, without "-- Poll n" lines or blank lines between polls.
bool LinePerPoll(const PollConfig& cfg) { return cfg.json || TimedCsv(cfg); }

// Each line of a CSV table with its first column: "poll" on the
// header, the name on the others.
std::string WithPollColumn(const std::string& name, const std::string& text) {
  bool header = true;
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t newline = text.find('\n', at);
    const std::size_t end = newline == std::string::npos ? text.size() : newline + 1;
    out += (header ? std::string("poll") : CsvField(name)) + "," + text.substr(at, end - at);
    header = false;
    at = end;
  }
  return out;
}

std::string DeviceGoneText(const ModbusMaster& master, const std::string& connection, const char* what) {
  if (IsNetworkMode(master.Mode())) return ConnectionLostText(connection, master.link().LastError(), what);
  return "Error - The serial device has gone away\n\nThe device " + master.link().Device() + " stopped answering " +
         what + ": the adapter may have been unplugged or the simulator stopped.";
}

// The serial texts name the port's causes; over TCP a send fails only on a closed connection.
std::string CannotSendText(const ModbusMaster& master, const std::string& connection, bool write) {
  if (IsNetworkMode(master.Mode())) return DeviceGoneText(master, connection, write ? "writes" : "reads");
  return write ? CannotWriteText(connection) : CannotPollText(connection);
}

// The status of a reply that arrived whole: 0 for a normal one, else the kind of failure.
int ReplyStatus(int result) {
  switch (result) {
    case MB_RESPONCE_OK:
      return kExitOk;
    case MB_RESPONCE_EXCEPTION:
      return kExitException;
    case MB_RESPONCE_INVALID_CRC:
    case MB_RESPONCE_INVALID_LRC:
      return kExitBadCrc;
    case MB_RESPONCE_BAD_MBAP_LENGTH:
      return kExitBadMbapLength;
    case MB_RESPONCE_UNSUPPORTED_REQUEST:
    case MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE:
    case MB_RESPONCE_INVALID_FUNCTION_CODE:
      return kExitBadFunction;
    case MB_RESPONCE_WRITE_ECHO_MISMATCH:
      return kExitWriteNotConfirmed;
    default:
      return kExitUnknownReply;
  }
}

// The status and explanation of a reply that is not OK, the same for reads and writes.
int ReplyFailure(const ModbusMaster& master, int result, bool shortReply, bool write, std::string& text) {
  if (ReplyPending(result)) {
    // A device that answers, but always too short, is told so rather than "too slow".
    if (shortReply) {
      text = kNotEnoughData;
      return kExitShortReply;
    }
    text = write ? WriteTimeoutText(master.request, master.request_size)
                 : TimeoutText(master.request, master.request_size);
    return kExitTimeout;
  }
  text = ReplyErrorText(result);
  if (result == MB_RESPONCE_EXCEPTION) {
    ExplainException(master.exception_function, master.exception_code, text);
    if (!text.empty() && text.back() == '\n') text.pop_back();
  }
  return ReplyStatus(result);
}

constexpr char kBroadcastNote[] = "Sent to slave id 0, the broadcast address: no device answers a broadcast, so none "
                                  "confirms that it was carried out.";

// "Wrote 3 coils from offset 1 (00001) with function 15: 1 0 1", for what one request set;
// "Broadcast 3 coils ..." for a write to slave id 0, which every device takes.
std::string WroteText(const PollConfig& cfg, const WriteFrame& frame) {
  const bool coils = IsCoilWrite(frame.function);
  char head[128];
  std::snprintf(head, sizeof head, "%s %d %s from offset %d (%05d) with function %02d",
                cfg.slaveId == 0 ? "Broadcast" : "Wrote", frame.count,
                ItemNoun(coils, frame.count), frame.offset, (coils ? 0 : 40000) + frame.offset, frame.function);
  std::string text = head;
  const int per = RegistersPerValue(cfg.format);
  // Two registers a value: say so, or the count would not match the values shown.
  if (per == 2) {
    const int values = frame.count / per;
    text += ", " + std::to_string(values) + " " + FormatName(cfg.format) + (values == 1 ? " value" : " values");
  }
  text += ":";
  const std::size_t first = static_cast<std::size_t>(frame.offset - cfg.offset);
  for (int i = 0; i < frame.count; i += per) text += " " + FormatWriteValue(cfg.words.data() + first + i, cfg.format, cfg.wordOrder);
  return text;
}

// The requests that write the map writes of cfg, in the order given, and the line each
// prints once confirmed: "Wrote Alarm temperature = 47.5 °C: 1 holding register at offset
// 101 (40101) with function 06: 475". A bit item changes its bit of registers[address],
// which then holds the change for the next bit of that register.
bool FrameMapWrites(const PollConfig& cfg, std::map<int, std::uint16_t>& registers, std::vector<WriteFrame>& frames,
                    std::vector<std::string>& lines, std::string& error) {
  for (const auto& w : cfg.mapWrites) {
    const MapItem* item = cfg.map.Find(w.item);
    if (item == nullptr) {
      error = "no item " + w.item;
      return false;
    }
    std::vector<std::uint16_t> raw;
    const bool bit = item->type == MapType::Bit;
    if (bit) raw.push_back(registers[item->address]);
    std::vector<WriteFrame> made;
    if (!FrameItemWrite(*item, w.value, cfg.wordOrder, raw, cfg.slaveId, cfg.alwaysMultiple, made, error)) return false;
    if (bit) registers[item->address] = raw[0];
    std::size_t from = w.value.find_first_not_of(" \t"), to = w.value.find_last_not_of(" \t");
    const std::string value = from == std::string::npos ? "" : w.value.substr(from, to - from + 1);
    for (const WriteFrame& f : made) {
      frames.push_back(f);
      lines.push_back("Wrote " + item->name + " = " + value + (item->unit.empty() ? "" : " " + item->unit) + ": " +
                      WriteText(f));
    }
  }
  return true;
}

}  // namespace

// --- output -------------------------------------------------------------------------------

void PollOutput::Attempt(PollTarget& target) {
  ++target.polls;
  if (named_ || options_.periodMs == 0 || LinePerPoll(options_)) return;
  std::printf("-- Poll %d\n", target.polls);
  std::fflush(stdout);
}

void PollOutput::Values(PollTarget& target, const ResponseTable& table, std::chrono::system_clock::time_point arrived) {
  const PollConfig& cfg = target.cfg;
  std::string text;
  if (options_.json) {
    text = PollJson(ZonedIsoTime(arrived), RequestJson(cfg, connection_), table);
    text = (named_ ? NamedJson(target.name, text) : text) + "\n";
  } else if (TimedCsv(options_)) {
    // The header once, and again only when the columns change (each definition's own).
    text = DataLogLines(table, true, LocalIsoTime(arrived), target.csvHeader, named_ ? target.name : "");
  } else {
    text = TableAsText(table, {}, options_.csv ? TextFormat::Csv : TextFormat::Aligned, options_.cells);
    if (named_ && options_.csv) {
      text = WithPollColumn(target.name, text);
    } else if (named_) {
      const std::string poll = options_.periodMs > 0 ? " (poll " + std::to_string(target.polls) + ")" : "";
      text = "== " + target.name + poll + "\n" + text;
    }
    // A blank line between the tables of polls at a period, and of definitions.
    if (!options_.csv && (named_ || options_.periodMs > 0)) text += "\n";
  }
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

void PollOutput::MapValues(PollTarget& target, const MapReading& reading,
                           std::chrono::system_clock::time_point arrived) {
  const PollConfig& cfg = target.cfg;
  if (!options_.json) {
    Values(target, MakeMapTable(cfg.map, reading, cfg.wordOrder), arrived);
    return;
  }
  std::string text = MapPollJson(ZonedIsoTime(arrived), RequestJson(cfg, connection_),
                                 MapValuesJson(cfg.map, reading, cfg.wordOrder));
  text = (named_ ? NamedJson(target.name, text) : text) + "\n";
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

void PollOutput::PduReply(const std::vector<std::uint8_t>& request, const PduOutcome& outcome, int status,
                          const std::string& text) {
  const std::vector<std::uint8_t>& reply = outcome.replyPdu;
  const PduFields fields = DecodeReplyPdu(request.data(), static_cast<int>(request.size()), reply.data(),
                                          static_cast<int>(reply.size()));
  if (status != kExitOk) std::fprintf(stderr, "%s\n", text.c_str());
  if (options_.json) {
    std::printf("%s\n", PduReplyJson(ZonedIsoTime(std::chrono::system_clock::now()),
                                     PduRequestJson(options_, connection_, request), reply, fields, outcome.ms, status,
                                     text)
                            .c_str());
  } else {
    std::string hex = HexBytes(reply.data(), static_cast<int>(reply.size()));
    if (!hex.empty()) hex.pop_back();
    char time[64];
    std::snprintf(time, sizeof time, "Response time: %.1f ms\n", outcome.ms);
    std::printf("%s\n%s%s", hex.c_str(), FieldsText(fields).c_str(), time);
  }
  std::fflush(stdout);
}

void PollOutput::Broadcast(const std::vector<std::uint8_t>& request) {
  if (options_.json) {
    std::printf("%s\n", BroadcastJson(ZonedIsoTime(std::chrono::system_clock::now()),
                                      PduRequestJson(options_, connection_, request))
                            .c_str());
  } else {
    std::string hex = HexBytes(request.data(), static_cast<int>(request.size()));
    if (!hex.empty()) hex.pop_back();
    std::printf("Broadcast %s (%s)\n%s\n", hex.c_str(), FunctionName(request.empty() ? 0 : request[0]).c_str(),
                kBroadcastNote);
  }
  std::fflush(stdout);
}

int PollOutput::Failure(const PollTarget* target, int status, const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  if (options_.json) {
    const std::string request = target != nullptr ? RequestJson(target->cfg, connection_)
                                : named_         ? LineJson(options_.mode, connection_)
                                : !pdu_.empty()  ? PduRequestJson(options_, connection_, pdu_)
                                                 : RequestJson(options_, connection_);
    std::string json = FailureJson(ZonedIsoTime(std::chrono::system_clock::now()), request, status, text);
    if (named_ && target != nullptr) json = NamedJson(target->name, json);
    std::printf("%s\n", json.c_str());
    std::fflush(stdout);
  }
  return status;
}

// --- the run ------------------------------------------------------------------------------

PollRun::PollRun(Line& line, PollOutput& out, const PollConfig& options)
    : line_(line), out_(out), options_(options), session_(line, *this) {
  session_.SetConnection(ConnectionOf(options));
}

int PollRun::Read(std::vector<PollTarget> targets) {
  targets_ = std::move(targets);
  remaining_ = static_cast<int>(targets_.size());
  for (const PollTarget& t : targets_) {
    PollDefinition d = DefinitionOf(t.cfg);
    d.name = t.name;
    d.policy = t.policy;
    session_.Add(d);
  }
  // Each goes now, in order: the first at once, the others right after the one before.
  for (int i = 0; i < session_.Count() && !done_; ++i) session_.Start(i);
  Drive();
  return status_;
}

int PollRun::Write(const std::vector<WriteFrame>& requests) {
  PollTarget target;
  target.cfg = options_;
  target.cfg.periodMs = 0;
  targets_ = {target};
  session_.Add(DefinitionOf(target.cfg));
  writes_ = requests.size();
  session_.Write(0, requests);
  Drive();
  return status_;
}

int PollRun::WriteMap() {
  PollTarget target;
  target.cfg = options_;
  target.cfg.periodMs = 0;
  // The registers of the bit items written, read as they stand: one cycle by map of those
  // items alone, neighbours merged.
  RegisterMap bits;
  for (const auto& w : options_.mapWrites) {
    const MapItem* item = options_.map.Find(w.item);
    if (item != nullptr && item->type == MapType::Bit && bits.Find(item->name) == nullptr) bits.items.push_back(*item);
  }
  target.cfg.map = bits;
  target.cfg.byMap = !bits.empty();
  target.cfg.mergeGap = 0;
  targets_ = {target};
  session_.Add(DefinitionOf(target.cfg));
  if (target.cfg.byMap) {
    readingBits_ = true;
    session_.Start(0);
  } else {
    SendMapWrites({});
  }
  Drive();
  return status_;
}

int PollRun::Send(const std::vector<std::uint8_t>& pdu) {
  out_.SetPdu(pdu);
  session_.Send(PduRequest{options_.slaveId, pdu, 0});
  Drive();
  return status_;
}

void PollRun::SendMapWrites(std::map<int, std::uint16_t> registers) {
  std::vector<WriteFrame> frames;
  std::string why;
  if (!FrameMapWrites(options_, registers, frames, wrote_, why)) {
    Finish(out_.Failure(nullptr, kExitBadRequest, why));
    return;
  }
  writes_ = frames.size();
  session_.Write(0, std::move(frames));
}

void PollRun::Drive() {
  while (!done_) {
    const TimePoint wake = session_.NextWake();
    if (!session_.Watching() && wake == TimePoint::max()) return;  // nothing waits: nothing would ever come
    int waitMs = -1;
    if (wake != TimePoint::max()) {
      // Rounded up: woken before the time, the loop would only turn again.
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(wake - SessionClock::now()).count();
      waitMs = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
    }
    // Readable, or hung up: the session reads, and finds out which.
    if (session_.WaitLink(waitMs) > 0) session_.LinkReadable();
    // The time asked for before the wait: a reply that only silence ends asks for "the gap
    // from now" each time it is asked, a time never reached if asked again.
    if (!done_ && SessionClock::now() >= wake) session_.TimePassed();
  }
}

void PollRun::Finish(int status) {
  if (done_) return;
  done_ = true;
  status_ = status;
  // Nothing more goes out: no definition due next, and no read after a write.
  session_.StopAll();
}

void PollRun::Done() {
  if (options_.periodMs == 0 && --remaining_ == 0) Finish(keptStatus_);
}

void PollRun::Failed(int poll, int status, const std::string& text) {
  PollTarget& t = targets_[static_cast<std::size_t>(poll)];
  out_.Failure(&t, status, text);
  if (t.policy == FailurePolicy::StopAndExplain) {
    Finish(status);
    return;
  }
  if (keptStatus_ == kExitOk) keptStatus_ = status;
  Done();
}

int PollRun::Explain(const LineFailure& f, bool write, std::string& text) const {
  if (f.lineGone) {
    text = CannotSendText(line_.master(), out_.connection(), write);
    return kExitCannotPoll;
  }
  return ReplyFailure(line_.master(), f.result, f.shortReply, write, text);
}

void PollRun::OnPollAttempt(int poll) {
  if (done_) return;
  current_ = poll;
  out_.Attempt(targets_[static_cast<std::size_t>(poll)]);
}

void PollRun::OnReply(int poll, const ModbusMaster& master) {
  if (done_) return;
  const auto arrived = std::chrono::system_clock::now();
  PollTarget& t = targets_[static_cast<std::size_t>(poll)];
  const ResponseTable table = MakeResponseTable(&master, t.cfg.wordOrder, t.cfg.show64, t.cfg.wireAddress);
  if (table.fill != TableFill::Filled) {
    Failed(poll, kExitShortReply, table.fill == TableFill::ColumnsOnly ? kNotEnoughData : kUndecodableFunction);
    return;
  }
  out_.Values(t, table, arrived);
  Done();
}

void PollRun::OnMapValues(int poll, const MapReading& reading) {
  if (done_) return;
  const auto arrived = std::chrono::system_clock::now();
  PollTarget& t = targets_[static_cast<std::size_t>(poll)];
  if (readingBits_) {
    readingBits_ = false;
    std::map<int, std::uint16_t> registers;
    for (std::size_t i = 0; i < t.cfg.map.items.size() && i < reading.raw.size(); ++i) {
      if (!reading.raw[i].empty()) registers[t.cfg.map.items[i].address] = reading.raw[i][0];
    }
    SendMapWrites(std::move(registers));
    return;
  }
  out_.MapValues(t, reading, arrived);
  Done();
}

void PollRun::OnPollFailed(int poll, const LineFailure& failure) {
  if (done_) return;
  std::string text;
  const int status = Explain(failure, false, text);
  Failed(poll, status, text);
}

void PollRun::OnWriteConfirmed(int, const WriteFrame& write) {
  if (done_) return;
  const std::string text = confirmed_ < wrote_.size() ? wrote_[confirmed_++] : WroteText(options_, write);
  std::printf("%s\n", text.c_str());
  if (--writes_ == 0) {
    if (options_.slaveId == 0) std::printf("%s\n", kBroadcastNote);
    Finish(kExitOk);
  }
  std::fflush(stdout);
}

void PollRun::OnWriteFailed(int, const WriteFrame&, const LineFailure& failure) {
  if (done_) return;
  std::string text;
  const int status = Explain(failure, true, text);
  Finish(out_.Failure(nullptr, status, text));
}

void PollRun::OnPduDone(const PduOutcome& outcome) {
  if (done_) return;
  const std::vector<std::uint8_t>& pdu = out_.pdu();
  // The line went away on the way: OnLineLost, which follows, tells it.
  if (line_.master().link().DeviceLost()) return;
  if (!outcome.sent) {
    Finish(out_.Failure(nullptr, kExitCannotPoll, CannotSendText(line_.master(), out_.connection(), false)));
    return;
  }
  if (outcome.broadcast) {
    out_.Broadcast(pdu);
    Finish(kExitOk);
    return;
  }
  if (ReplyPending(outcome.result)) {
    Finish(out_.Failure(nullptr, kExitTimeout, outcome.text));
    return;
  }
  const int status = ReplyStatus(outcome.result);
  std::string text = outcome.text;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  // A reply that came whole and checked out as a frame is shown, whatever it answers.
  switch (outcome.result) {
    case MB_RESPONCE_OK:
    case MB_RESPONCE_EXCEPTION:
    case MB_RESPONCE_REPLY_MISMATCH:
    case MB_RESPONCE_WRITE_ECHO_MISMATCH:
      out_.PduReply(pdu, outcome, status, text);
      Finish(status);
      return;
    default:
      Finish(out_.Failure(nullptr, status, text));
  }
}

void PollRun::OnLineLost() {
  if (done_) return;
  const PollTarget* target = current_ >= 0 ? &targets_[static_cast<std::size_t>(current_)] : nullptr;
  const std::string text = DeviceGoneText(line_.master(), out_.connection(), writes_ > 0 ? "writes" : "reads");
  Finish(out_.Failure(target, kExitDeviceGone, text));
}

void PollRun::OnConnectFailed(const std::string& text) {
  if (!done_) Finish(out_.Failure(nullptr, kExitCannotConnect, text));
}

}  // namespace vantrel::poll
