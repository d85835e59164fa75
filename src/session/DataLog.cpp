#include "session/DataLog.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/Platform.h"
#include "session/MapTable.h"

namespace vantrel {
namespace {

// The column of a caption, or -1; looked up by name so that the columns may be reordered.
// A 32-bit caption may name its word order after a blank: "uint32 (high word first)".
int ColumnOf(const ResponseTable& table, const char* caption) {
  const std::size_t n = std::strlen(caption);
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
    const char* name = table.columns[c].caption;
    if (std::strncmp(name, caption, n) == 0 && (name[n] == '\0' || name[n] == ' ')) return static_cast<int>(c);
  }
  return -1;
}

constexpr const char* k32BitCaptions[] = {"uint32", "int32", "float32"};

// A table read by register map logs each item under its heading, as its Value cell shows it.
bool Mapped(const ResponseTable& table) { return !table.headings.empty() && table.headings.size() == table.rows.size(); }

bool Usable(const ResponseTable& table) {
  return table.fill == TableFill::Filled &&
         (Mapped(table) || table.values.size() == table.rows.size());
}

bool HasPairs(const ResponseTable& table, bool with32Bit) {
  return with32Bit && (table.function == 3 || table.function == 4);
}

const std::string& Cell(const ResponseTable& table, std::size_t row, int column) {
  static const std::string kNone;
  if (column < 0 || static_cast<std::size_t>(column) >= table.rows[row].size()) return kNone;
  return table.rows[row][static_cast<std::size_t>(column)];
}

}  // namespace

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string IsoTime(const std::tm& local, int milliseconds) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, milliseconds);
  return buf;
}

namespace {

std::tm LocalTime(std::chrono::system_clock::time_point when, int& milliseconds) {
  // floor, not a cast: before 1970 a cast would round towards zero into the next second
  const auto seconds = std::chrono::floor<std::chrono::seconds>(when);
  milliseconds = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(when - seconds).count());
  const std::time_t t = std::chrono::system_clock::to_time_t(seconds);
  return platform::LocalTime(t);
}

}  // namespace

std::string LocalIsoTime(std::chrono::system_clock::time_point when) {
  int ms = 0;
  const std::tm local = LocalTime(when, ms);
  return IsoTime(local, ms);
}

std::string ZonedIsoTime(std::chrono::system_clock::time_point when) {
  int ms = 0;
  const std::tm local = LocalTime(when, ms);
  // Minutes east of UTC; zones lie within a day of it.
  const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(when));
  const int offset = static_cast<int>(platform::UtcOffsetSeconds(t) / 60 % (24 * 60));
  const int minutes = offset < 0 ? -offset : offset;
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return IsoTime(local, ms) + zone;
}

std::string DataLogHeader(const ResponseTable& table, bool with32Bit) {
  if (!Usable(table)) return "";
  std::string line = "time";
  if (Mapped(table)) {
    for (const std::string& heading : table.headings) line += "," + CsvField(heading);
    return line;
  }
  const int address = ColumnOf(table, "Standard address");
  for (std::size_t i = 0; i < table.rows.size(); ++i) line += "," + CsvField(Cell(table, i, address));
  if (HasPairs(table, with32Bit)) {
    for (std::size_t i = 0; i + 1 < table.rows.size(); i += 2) {
      const std::string pair = Cell(table, i, address) + "-" + Cell(table, i + 1, address);
      // The table's own caption, so that a change of word order starts a new header.
      for (const char* caption : k32BitCaptions) {
        const int c = ColumnOf(table, caption);
        line += "," + CsvField(pair + " " + (c >= 0 ? table.columns[static_cast<std::size_t>(c)].caption : caption));
      }
    }
  }
  return line;
}

std::string DataLogRow(const ResponseTable& table, bool with32Bit, const std::string& time) {
  if (!Usable(table)) return "";
  std::string line = CsvField(time);
  if (Mapped(table)) {
    for (std::size_t i = 0; i < table.rows.size(); ++i) line += "," + CsvField(Cell(table, i, kMapValue));
    return line;
  }
  for (std::uint16_t value : table.values) line += "," + std::to_string(value);
  if (HasPairs(table, with32Bit)) {
    int columns[3];
    for (int k = 0; k < 3; ++k) columns[k] = ColumnOf(table, k32BitCaptions[k]);
    // the table shows a pair's 32-bit values on its second row
    for (std::size_t i = 0; i + 1 < table.rows.size(); i += 2) {
      for (int column : columns) line += "," + CsvField(Cell(table, i + 1, column));
    }
  }
  return line;
}

std::string DataLogLines(const ResponseTable& table, bool with32Bit, const std::string& time,
                         std::string& lastHeader, const std::string& poll) {
  if (!Usable(table)) return "";
  const std::string first = poll.empty() ? "" : "poll,";
  const std::string name = poll.empty() ? "" : CsvField(poll) + ",";
  std::string text;
  std::string header = first + DataLogHeader(table, with32Bit);
  if (header != lastHeader) {
    text = header + "\n";
    lastHeader = std::move(header);
  }
  return text + name + DataLogRow(table, with32Bit, time) + "\n";
}

void DataLog::SetPath(const std::string& path) {
  if (path == path_) return;
  path_ = path;
  lastHeaders_.clear();
  failing_ = false;
}

DataLogStatus DataLog::Append(const ResponseTable& table, const std::string& time, const std::string& poll) {
  if (path_.empty()) return DataLogStatus::Off;
  std::string header = lastHeaders_[poll];
  const std::string text = DataLogLines(table, with32Bit_, time, header, poll);
  if (text.empty()) return DataLogStatus::Skipped;
  bool ok = false;
  if (std::FILE* f = std::fopen(path_.c_str(), "a")) {
    ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fclose(f) == 0 && ok;  // a full disk may show only when closing
  }
  if (!ok) {
    // Whatever reached the file, the next rows start with a header again.
    lastHeaders_.clear();
    const bool first = !failing_;
    failing_ = true;
    return first ? DataLogStatus::FirstFailure : DataLogStatus::Failed;
  }
  lastHeaders_[poll] = std::move(header);
  failing_ = false;
  return DataLogStatus::Written;
}

}  // namespace vantrel
