// The data log: one CSV line per good reply, the local time and then the values, appended
// to a file the user chooses. The line and header texts are shared with vantrel-poll, so
// that the poller's timed CSV and the log file say the same.
#pragma once

#include <chrono>
#include <ctime>
#include <map>
#include <string>

#include "session/ResponseTable.h"

namespace vantrel {

// A CSV field as RFC 4180 wants it: quoted, with inner quotes doubled, when it holds a
// comma, a quote or a line break; else as it is.
std::string CsvField(const std::string& text);

// "2026-12-08T14:03:07.250": ISO 8601 local time to the millisecond, no zone.
std::string IsoTime(const std::tm& local, int milliseconds);
// The same for a clock reading, in the time zone the process runs in.
std::string LocalIsoTime(std::chrono::system_clock::time_point when);
// The same with the zone's offset from UTC: "2026-12-08T14:03:07.250+01:00".
std::string ZonedIsoTime(std::chrono::system_clock::time_point when);

// The header line of a filled table, without line break: "time", then each item's 5-digit
// address as the table shows it ("40001"); with32Bit adds, for registers, three columns per
// complete pair of registers ("40001-40002 uint32", "... int32", "... float32"). A last
// register without a second one gets none. Empty for a table that is not filled.
std::string DataLogHeader(const ResponseTable& table, bool with32Bit);
// The matching line of values: the time, each item's value (0 or 1, or the register as
// uint16), then the 32-bit cells as the table shows them (so in its word order).
std::string DataLogRow(const ResponseTable& table, bool with32Bit, const std::string& time);
// What one reply adds to a log: its header line when that differs from lastHeader (which is
// then set to it), and its row; each line ends in '\n'. Empty for a table that is not
// filled. A changed request (function, first offset, count, 32-bit columns) always changes
// the header, so the header is compared rather than the request. With several polls on the
// line, poll names the one the reply is of: the lines then begin with a "poll" column.
std::string DataLogLines(const ResponseTable& table, bool with32Bit, const std::string& time,
                         std::string& lastHeader, const std::string& poll = "");

enum class DataLogStatus {
  Off,           // no file chosen
  Skipped,       // the table holds no values (not filled)
  Written,
  FirstFailure,  // could not be written, the first time in a row: warn the user now
  Failed,        // could not be written again: the user knows already
};

// The file side. Each row opens the file for appending and closes it again, as the activity
// log does, so that the file can be moved or read at any time. The first row of each run,
// and the first after the path changes, gets a header line: a file that another run or
// another request wrote to before gets its own header wherever the columns begin anew,
// and a restart is visible in the file.
class DataLog {
 public:
  // Empty: off.
  void SetPath(const std::string& path);
  const std::string& path() const { return path_; }
  void SetWith32Bit(bool on) { with32Bit_ = on; }
  bool with32Bit() const { return with32Bit_; }

  // Appends the row of a good reply's table, made at the time given (LocalIsoTime), of the
  // poll named when several share the line (each poll's header is written when its columns
  // begin, so that the rows of each can be told apart by their first column).
  DataLogStatus Append(const ResponseTable& table, const std::string& time, const std::string& poll = "");

 private:
  std::string path_;
  bool with32Bit_ = false;
  // The header the file holds last for each poll ("" with one), from this run.
  std::map<std::string, std::string> lastHeaders_;
  bool failing_ = false;
};

}  // namespace vantrel
