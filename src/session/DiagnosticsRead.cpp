#include "session/DiagnosticsRead.h"

#include <cstdio>

#include "modbus/Functions.h"
#include "session/PollTexts.h"

namespace vantrel {
namespace {

// What a request that never went, or a reply that could not be read, says when the session
// gave no text of its own.
std::string OutcomeFailure(const PduOutcome& outcome) {
  if (!outcome.text.empty()) return outcome.text;
  if (outcome.result == MB_RESPONCE_OK) return "Error - The reply does not answer the request\n";
  return ReplyErrorText(outcome.result);
}

std::vector<std::uint8_t> Command(std::uint16_t subFunction, std::uint16_t data) {
  return DiagnosticsPdu(subFunction, {data}).pdu;
}

}  // namespace

std::string DiagnosticsValueText(const DiagnosticsRow& row) {
  if (!row.value) return "";
  char text[16];
  if (row.subFunction == kDiagReturnDiagnosticRegister) {
    std::snprintf(text, sizeof text, "0x%04X", unsigned{*row.value});
  } else {
    std::snprintf(text, sizeof text, "%u", unsigned{*row.value});
  }
  return text;
}

std::string DiagnosticsChangeText(const DiagnosticsRow& row) {
  if (!row.value || !row.previous) return "";
  char text[16];
  if (row.subFunction == kDiagReturnDiagnosticRegister) {
    std::snprintf(text, sizeof text, "0x%04X", unsigned(*row.value ^ *row.previous));
    return text;
  }
  // Counters only count up, wrapping past 65535, unless they were cleared: a fall larger than
  // half the range is taken for a wrap, any other for a clear.
  int change = int{*row.value} - int{*row.previous};
  if (change < -32768) change += 65536;
  std::snprintf(text, sizeof text, change > 0 ? "+%d" : "%d", change);
  return text;
}

DiagnosticsRead::DiagnosticsRead() {
  for (const DiagnosticInfo& d : DiagnosticFunctions()) {
    if (d.code >= kDiagBusMessageCount && d.code <= kDiagBusCharacterOverrunCount) Add(d.code, d.value);
  }
  Add(kDiagReturnDiagnosticRegister, FindDiagnostic(kDiagReturnDiagnosticRegister)->value);
  next_ = rows_.size();
}

void DiagnosticsRead::Add(std::uint16_t subFunction, const char* name) {
  DiagnosticsRow& row = rows_.emplace_back();
  row.subFunction = subFunction;
  row.name = name;
}

void DiagnosticsRead::Begin() {
  for (DiagnosticsRow& row : rows_) {
    if (row.value) row.previous = row.value;
    row.value.reset();
  }
  failure_.clear();
  next_ = 0;
}

bool DiagnosticsRead::Next(std::vector<std::uint8_t>& pdu) const {
  if (!Reading()) return false;
  pdu = Command(rows_[next_].subFunction, 0);
  return true;
}

void DiagnosticsRead::Take(const PduOutcome& outcome) {
  if (!Reading()) return;
  DiagnosticsRow& row = rows_[next_];
  std::uint16_t value = 0;
  const bool answered = outcome.result == MB_RESPONCE_OK &&
                        DiagnosticValue(outcome.replyPdu.data(), static_cast<int>(outcome.replyPdu.size()), value);
  if (answered) {
    row.value = value;
    ++next_;
    return;
  }
  if (failure_.empty()) failure_ = row.name + ": " + OutcomeFailure(outcome);
  // An exception is the device's answer about this counter alone; anything else says that
  // the next requests would fare no better.
  next_ = outcome.result == MB_RESPONCE_EXCEPTION ? next_ + 1 : rows_.size();
}

std::vector<std::uint8_t> DiagnosticsRead::ClearCountersPdu() { return Command(kDiagClearCounters, 0); }

std::vector<std::uint8_t> DiagnosticsRead::RestartCommunicationsPdu(bool clearEventLog) {
  return Command(kDiagRestartCommunications, clearEventLog ? kDiagClearEventLog : 0);
}

std::string DiagnosticsRead::TakeCommand(const PduOutcome& outcome) {
  failure_ = outcome.result == MB_RESPONCE_OK ? "" : OutcomeFailure(outcome);
  return failure_;
}

}  // namespace vantrel
