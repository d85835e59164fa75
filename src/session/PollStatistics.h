// The counters of the status line under the response table: what the polls and writes
// came to, and how fast the device answers. Plain C++, no clock of its own: the caller
// measures each response time (from the request's last byte leaving to the reply's last
// byte arriving) and passes it in.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// How one exchange ended.
enum class ExchangeClass {
  Reply,        // a good reply (for a write: the write is confirmed)
  Timeout,      // no complete reply before the time-out
  CrcLrcError,  // a reply with a bad check sum (CRC in RTU; ASCII's LRC belongs here too)
  Exception,    // the device answered with a Modbus exception
  OtherError,   // anything else: unsupported or unknown reply, wrong echo, short reply,
                // the request could not be sent
};

// The class of a reply check result (MB_RESPONCE_*). timedOut says that the wait ran out;
// it matters only for the codes that mean "no complete reply yet" (0, -1, -2), which
// are a time-out when the wait ran out and another failure when the caller stopped
// waiting for another reason (a reply that is always too short, a request not sent).
ExchangeClass ClassifyExchange(int mbResult, bool timedOut);

// Passed as the response time when none was measured (nothing arrived, nothing sent).
inline constexpr double kNoResponseTime = -1.0;

class PollStatistics {
 public:
  // A read request is about to go out (counted even when it cannot be sent, so that
  // every poll ends in exactly one class).
  void RecordPollSent() { ++polls_; }
  void RecordWriteSent() { ++writes_; }
  // How the last request ended. A good reply counts as a reply to a read, or as a confirmed
  // write; a failure counts in its class, a read's and a write's alike, so that every
  // request sent has one ending: polls + writes = replies + confirmed writes + failures. The
  // response time of a good or exception reply, of a read or a write, joins the
  // last/min/avg/max; for the other classes, or when it is negative, it is ignored.
  void RecordResult(ExchangeClass result, bool write, double responseMs);
  void Reset() { *this = PollStatistics(); }

  std::int64_t polls() const { return polls_; }
  std::int64_t replies() const { return replies_; }
  std::int64_t timeouts() const { return timeouts_; }
  std::int64_t crcLrcErrors() const { return crcLrcErrors_; }
  std::int64_t exceptions() const { return exceptions_; }
  std::int64_t otherErrors() const { return otherErrors_; }
  std::int64_t writes() const { return writes_; }
  std::int64_t writesConfirmed() const { return writesConfirmed_; }

  // Response times in milliseconds, to the microsecond; all 0 while timedReplies() is 0.
  std::int64_t timedReplies() const { return timed_; }
  double lastResponseMs() const { return lastUs_ / 1000.0; }
  double minResponseMs() const { return minUs_ / 1000.0; }
  double maxResponseMs() const { return maxUs_ / 1000.0; }
  double averageResponseMs() const;

  // "Polls 12  Replies 10  Time-outs 1  CRC/LRC 0  Exceptions 1  Other 0  Writes 2/2
  // Response 4.2 ms (min 3.9, avg 4.5, max 7.1)" on one line, the writes as confirmed/sent
  // and the times to a tenth of a millisecond; "Response -" before the first timed reply.
  std::string StatusLine() const;

 private:
  std::int64_t polls_ = 0;
  std::int64_t replies_ = 0;
  std::int64_t timeouts_ = 0;
  std::int64_t crcLrcErrors_ = 0;
  std::int64_t exceptions_ = 0;
  std::int64_t otherErrors_ = 0;
  std::int64_t writes_ = 0;
  std::int64_t writesConfirmed_ = 0;
  // Whole microseconds: the sum stays exact over any run a 64-bit count can hold, where a
  // running double average would drift.
  std::int64_t timed_ = 0;
  std::int64_t sumUs_ = 0;
  std::int64_t lastUs_ = 0;
  std::int64_t minUs_ = 0;
  std::int64_t maxUs_ = 0;
};

}  // namespace vantrel
