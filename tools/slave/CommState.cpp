#include "CommState.h"

namespace vantrel::slave {
namespace {

constexpr std::uint8_t kDiagnostics = 0x08;

void Put16(std::vector<std::uint8_t>& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8 & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

std::vector<std::uint8_t> Exception(std::uint8_t function, std::uint8_t code) {
  return {static_cast<std::uint8_t>(function | 0x80), code};
}

std::uint8_t SendFlags(int exception) {
  switch (exception) {
    case 0: return 0;
    case 1: case 2: case 3: return kSendReadException;
    case 4: return kSendAbort;
    case 5: case 6: return kSendBusy;
    case 7: return kSendNak;
    default: return 0;
  }
}

}  // namespace

void CommState::Log(std::uint8_t event) {
  log.push_front(event);
  if (log.size() > kLogSize) log.pop_back();
}

void CommState::Received(bool broadcast) {
  Count(ServerMessages);
  Log(static_cast<std::uint8_t>(kEventReceive | (broadcast ? kReceiveBroadcast : 0) |
                                (listenOnly ? kReceiveListenOnly : 0)));
}

void CommState::Handled(bool replied, int exception, bool completed) {
  if (!replied) {
    Count(NoResponse);
  } else if (exception != 0) {
    Count(Exceptions);
    if (exception == 6) Count(Busy);
    if (exception == 7) Count(Naks);
  }
  if (completed) events = static_cast<std::uint16_t>(events + 1);
  Log(static_cast<std::uint8_t>(kEventSend | (replied ? SendFlags(exception) : 0)));
}

void CommState::Clear() {
  counters.fill(0);
  events = 0;
  diagnosticRegister = 0;
}

void CommState::Restart(bool clearLog) {
  Clear();
  listenOnly = false;
  if (clearLog) log.clear();
  Log(kEventRestart);
}

DiagnosticsAnswer AnswerDiagnostics(const CommState& state, const std::uint8_t* pdu, std::size_t size) {
  DiagnosticsAnswer a;
  if (size < 3) {
    a.pdu = Exception(kDiagnostics, 0x03);
    return a;
  }
  const unsigned sub = static_cast<unsigned>(pdu[1] << 8 | pdu[2]);
  const bool counter = sub >= 0x0B && sub <= 0x12;
  const bool known = sub <= 0x02 || sub == 0x04 || sub == 0x0A || counter || sub == 0x14;
  if (!known) {
    a.pdu = Exception(kDiagnostics, 0x01);
    return a;
  }
  if (sub == 0x00) {  // Return Query Data: whatever came, back
    a.pdu.assign(pdu, pdu + size);
    return a;
  }
  const unsigned data = size == 5 ? static_cast<unsigned>(pdu[3] << 8 | pdu[4]) : 0x10000;
  if (data != 0x0000 && !(sub == 0x01 && data == 0xFF00)) {
    a.pdu = Exception(kDiagnostics, 0x03);
    return a;
  }
  a.pdu.assign(pdu, pdu + 3);
  switch (sub) {
    case 0x01:
      a.effect = data == 0xFF00 ? DiagnosticsAnswer::RestartClearingLog : DiagnosticsAnswer::Restart;
      Put16(a.pdu, data);
      break;
    case 0x02:
      Put16(a.pdu, state.diagnosticRegister);
      break;
    case 0x04:
      a.pdu.clear();
      a.effect = DiagnosticsAnswer::ListenOnly;
      break;
    case 0x0A:
      a.effect = DiagnosticsAnswer::ClearCounters;
      Put16(a.pdu, 0);
      break;
    case 0x14:
      a.effect = DiagnosticsAnswer::ClearOverrun;
      Put16(a.pdu, 0);
      break;
    default:
      Put16(a.pdu, state.counters[sub - 0x0B]);
      break;
  }
  return a;
}

std::vector<std::uint8_t> AnswerEventCounter(const CommState& state) {
  std::vector<std::uint8_t> pdu{0x0B};
  Put16(pdu, 0x0000);
  Put16(pdu, state.events);
  return pdu;
}

std::vector<std::uint8_t> AnswerEventLog(const CommState& state) {
  std::vector<std::uint8_t> pdu{0x0C, static_cast<std::uint8_t>(6 + state.log.size())};
  Put16(pdu, 0x0000);
  Put16(pdu, state.events);
  Put16(pdu, state.counters[CommState::BusMessages]);
  pdu.insert(pdu.end(), state.log.begin(), state.log.end());
  return pdu;
}

}  // namespace vantrel::slave
