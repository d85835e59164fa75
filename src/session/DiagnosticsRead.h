// The Diagnostics window's reading of one device: its counters (08 sub-functions 0B to 12)
// and its diagnostic register (08/02), one request a row, with the change of each since the
// read before; and the two commands, Clear Counters and Restart Communications. Plain C++:
// the window only shows the rows and sends the requests through the line session.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "session/LineSession.h"

namespace vantrel {

struct DiagnosticsRow {
  std::uint16_t subFunction = 0;
  std::string name;                      // "Bus message count", as the codec's table names it
  std::optional<std::uint16_t> value;    // empty: not read (yet), or the read failed
  std::optional<std::uint16_t> previous; // the value of the read before, when it had one
};

// The value as the table shows it: counters in decimal, the register in hex; "" when unread.
std::string DiagnosticsValueText(const DiagnosticsRow& row);
// The change since the read before: "+5", "-12", "0" for a counter (a counter that wrapped
// past 65535 counts on: 65530 to 3 is "+9"; a counter that went back, cleared or restarted,
// shows the fall), and for the register the bits that changed, "0x0004" ("0x0000": none);
// "" when either read lacks the value.
std::string DiagnosticsChangeText(const DiagnosticsRow& row);

class DiagnosticsRead {
 public:
  // The rows, unread: the eight counters in the codec's order, then the diagnostic register.
  DiagnosticsRead();

  const std::vector<DiagnosticsRow>& rows() const { return rows_; }
  bool Reading() const { return next_ < rows_.size(); }
  // Why the last read or command failed, as a box explains it (the first failure of a read);
  // "" when none did.
  const std::string& failure() const { return failure_; }

  // A read of every row begins: what each row holds becomes its previous value.
  void Begin();
  // The request of the next row to read; false when the read is over.
  bool Next(std::vector<std::uint8_t>& pdu) const;
  // The outcome of the request that Next gave. An exception leaves its row empty and the read
  // goes on (a device may lack some of the counters); anything else (a time-out, a line that
  // failed) leaves that row and the rest empty and ends the read.
  void Take(const PduOutcome& outcome);

  // The commands: 08/0A, and 08/01 with FF00 (the event log cleared too) or 0000.
  static std::vector<std::uint8_t> ClearCountersPdu();
  static std::vector<std::uint8_t> RestartCommunicationsPdu(bool clearEventLog);
  // A command's outcome: "" when the device confirmed it, else why not (kept as failure()).
  std::string TakeCommand(const PduOutcome& outcome);

 private:
  void Add(std::uint16_t subFunction, const char* name);

  std::vector<DiagnosticsRow> rows_;
  std::size_t next_;  // the row whose request goes next; rows_.size() when no read is under way
  std::string failure_;
};

}  // namespace vantrel
