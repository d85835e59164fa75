#include "session/PollStatistics.h"

#include <cmath>
#include <cstdio>

#include "modbus/ModbusFrame.h"

namespace vantrel {

ExchangeClass ClassifyExchange(int mbResult, bool timedOut) {
  if (ReplyPending(mbResult)) return timedOut ? ExchangeClass::Timeout : ExchangeClass::OtherError;
  switch (mbResult) {
    case MB_RESPONCE_OK: return ExchangeClass::Reply;
    case MB_RESPONCE_EXCEPTION: return ExchangeClass::Exception;
    case MB_RESPONCE_INVALID_CRC:
    case MB_RESPONCE_INVALID_LRC: return ExchangeClass::CrcLrcError;
    default: return ExchangeClass::OtherError;
  }
}

void PollStatistics::RecordResult(ExchangeClass result, bool write, double responseMs) {
  switch (result) {
    case ExchangeClass::Reply: ++(write ? writesConfirmed_ : replies_); break;
    case ExchangeClass::Timeout: ++timeouts_; break;
    case ExchangeClass::CrcLrcError: ++crcLrcErrors_; break;
    case ExchangeClass::Exception: ++exceptions_; break;
    case ExchangeClass::OtherError: ++otherErrors_; break;
  }
  const bool answered = result == ExchangeClass::Reply || result == ExchangeClass::Exception;
  // !(x >= 0) also refuses NaN; above a day it is no response time but a broken clock.
  if (!answered || !(responseMs >= 0) || responseMs > 86400000.0) return;
  const auto us = static_cast<std::int64_t>(std::llround(responseMs * 1000.0));
  lastUs_ = us;
  if (timed_ == 0 || us < minUs_) minUs_ = us;
  if (timed_ == 0 || us > maxUs_) maxUs_ = us;
  sumUs_ += us;
  ++timed_;
}

double PollStatistics::averageResponseMs() const {
  return timed_ == 0 ? 0.0 : static_cast<double>(sumUs_) / static_cast<double>(timed_) / 1000.0;
}

std::string PollStatistics::StatusLine() const {
  char buf[320];
  int n = std::snprintf(buf, sizeof buf,
                        "Polls %lld  Replies %lld  Time-outs %lld  CRC/LRC %lld  Exceptions %lld  Other %lld  "
                        "Writes %lld/%lld  ",
                        static_cast<long long>(polls_), static_cast<long long>(replies_),
                        static_cast<long long>(timeouts_), static_cast<long long>(crcLrcErrors_),
                        static_cast<long long>(exceptions_), static_cast<long long>(otherErrors_),
                        static_cast<long long>(writesConfirmed_), static_cast<long long>(writes_));
  std::string line(buf, static_cast<std::size_t>(n));
  if (timed_ == 0) return line + "Response -";
  std::snprintf(buf, sizeof buf, "Response %.1f ms (min %.1f, avg %.1f, max %.1f)", lastResponseMs(),
                minResponseMs(), averageResponseMs(), maxResponseMs());
  return line + buf;
}

}  // namespace vantrel
