// What a Modbus serial device keeps of its own communication, and what Diagnostics (08),
// Get Comm Event Counter (11) and Get Comm Event Log (12) report of it: its counters, its
// event count and log, its diagnostic register and listen-only mode. vantrel-slave keeps one
// per slave id served.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace vantrel::slave {

// The entries of the event log, as Get Comm Event Log reports them.
enum : std::uint8_t {
  kEventRestart = 0x00,     // communications restarted (08/01)
  kEventListenOnly = 0x04,  // entered listen-only mode (08/04)
  // A request received, stored before it is handled, with these flags:
  kEventReceive = 0x80,
  kReceiveCommError = 0x02,
  kReceiveOverrun = 0x10,
  kReceiveListenOnly = 0x20,
  kReceiveBroadcast = 0x40,
  // A request handled (answered or not), with these flags:
  kEventSend = 0x40,
  kSendReadException = 0x01,  // exception 01 to 03
  kSendAbort = 0x02,          // exception 04
  kSendBusy = 0x04,           // exception 05 or 06
  kSendNak = 0x08,            // exception 07
};

// The diagnostic register's bits (08/02), cleared by 08/0A and a restart.
enum : std::uint16_t {
  kRegisterOverrun = 0x0001,    // bytes were dropped for overflow (also cleared by 08/14)
  kRegisterCommError = 0x0002,  // a frame with a bad CRC or LRC came
};

struct CommState {
  // The counters of 08's sub-functions 0B to 12, in their order; each wraps at 65536, as a
  // 16-bit field carries it.
  enum Counter {
    BusMessages,     // every frame on the line, for any slave id
    BusErrors,       // frames whose CRC or LRC did not check out
    Exceptions,      // exception replies sent
    ServerMessages,  // requests to this id, or broadcast
    NoResponse,      // requests to this id, or broadcast, left unanswered
    Naks,            // exception 07 replies sent
    Busy,            // exception 06 replies sent
    Overruns,        // requests lost to a buffer overflow
    kCounters,
  };
  static constexpr std::size_t kLogSize = 64;

  std::array<std::uint16_t, kCounters> counters{};
  std::uint16_t events = 0;  // successful completions, as 11 and 12 report them
  std::uint16_t diagnosticRegister = 0;
  bool listenOnly = false;
  std::deque<std::uint8_t> log;  // the newest first, at most kLogSize

  void Count(Counter counter) { counters[counter] = static_cast<std::uint16_t>(counters[counter] + 1); }
  void Log(std::uint8_t event);
  // A request to this id (or broadcast) received: counted and logged before it is handled.
  void Received(bool broadcast);
  // A request handled: answered (with exception code exception, or normally when 0) or not.
  // completed: a successful completion for the event count (a normal reply other than to 11
  // or 12, which do not count themselves, or a broadcast write carried out).
  void Handled(bool replied, int exception, bool completed);
  // 08/0A: every counter, the event count and the diagnostic register.
  void Clear();
  // 08/01: out of listen-only mode, counters cleared, the log too when asked (data FF00),
  // and the restart logged.
  void Restart(bool clearLog);
};

// What a Diagnostics request asks: its reply PDU (function code first; an exception when
// refused; empty for Force Listen Only Mode, which is never answered) and what it does once
// its reply has gone out as it should.
struct DiagnosticsAnswer {
  enum Effect { None, Restart, RestartClearingLog, ListenOnly, ClearCounters, ClearOverrun };
  std::vector<std::uint8_t> pdu;
  Effect effect = None;
};

// Sub-functions 00 (echo), 01 (restart), 02 (diagnostic register), 04 (listen-only), 0A
// (clear), 0B to 12 (the counters) and 14 (clear the overrun count and flag). Exception 01
// for any other sub-function, 03 for data other than 0000 (0000 or FF00 for 01).
DiagnosticsAnswer AnswerDiagnostics(const CommState& state, const std::uint8_t* pdu, std::size_t size);
// Function 11: the status (0000: the device is never busy with an earlier request when the
// next is taken) and the event count.
std::vector<std::uint8_t> AnswerEventCounter(const CommState& state);
// Function 12: the status, the event count, the bus message count and the log, newest first.
std::vector<std::uint8_t> AnswerEventLog(const CommState& state);

}  // namespace vantrel::slave
