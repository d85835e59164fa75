// What the bus monitor window shows, without the window: the last frames seen (a bounded
// number, the oldest dropped first), which of them pass the filters, the texts of their rows
// and of the details pane, and the file a session is saved to as it goes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "session/MonitorDecode.h"
#include "session/PcapWriter.h"

namespace vantrel {

// A frame in the list. A request that got no reply within the reply window, or was followed
// by another request first, is marked unanswered afterwards.
struct MonitorEntry {
  MonitorFrame frame;
  bool unanswered = false;
};

struct MonitorFilter {
  int slaveId = -1;   // -1: every slave id; else noise is hidden too, as it has none
  int function = -1;  // -1: every function; an exception counts as its function's
  bool errorsOnly = false;  // exceptions, CRC errors, noise and unanswered requests

  bool operator==(const MonitorFilter&) const = default;
};

bool IsErrorEntry(const MonitorEntry& entry);
bool PassesFilter(const MonitorEntry& entry, const MonitorFilter& filter);

// The columns of a row.
enum MonitorColumn : int { kColTime, kColGap, kColKind, kColSlave, kColFunction, kColSummary, kColTurnaround, kColumnCount };
const char* MonitorColumnTitle(int column);
std::array<std::string, kColumnCount> MonitorRowTexts(const MonitorEntry& entry);
// The details pane: the frame's line, its hex and its decoded fields, one to a line.
std::string MonitorDetailsText(const MonitorEntry& entry);

// How the rows passing the filter changed with a call, for a table model to follow: rows
// gone from the top, rows appended at the bottom, or everything to be read afresh (a filter
// change, or an older request that now passes as unanswered), and rows whose texts changed.
struct MonitorListChange {
  int removedFront = 0;
  int appended = 0;
  bool reset = false;
  std::vector<int> changedRows;  // in the rows after the removal and before the appending
};

class MonitorList {
 public:
  explicit MonitorList(std::size_t capacity = 10000, double replyWindowMs = 1000)
      : capacity_(capacity), replyWindowMs_(replyWindowMs) {}

  // Takes frames as the monitor completed them, in line order.
  MonitorListChange Add(const std::vector<MonitorFrame>& frames);
  // No reply came up to nowMs: a request whose window has passed is unanswered.
  MonitorListChange Expire(double nowMs);
  MonitorListChange SetFilter(const MonitorFilter& filter);
  void Clear();

  const MonitorFilter& filter() const { return filter_; }
  std::size_t capacity() const { return capacity_; }
  // Every entry kept, in line order, filtered or not.
  const std::deque<MonitorEntry>& entries() const { return entries_; }
  // The entries passing the filter.
  int RowCount() const { return static_cast<int>(visible_.size()); }
  const MonitorEntry& Row(int row) const;
  long Dropped() const { return dropped_; }  // entries dropped from the top to stay bounded

 private:
  void Rebuild();
  void MarkUnanswered(MonitorListChange& change);
  int RowOf(long seq) const;  // -1 when not passing the filter

  std::size_t capacity_;
  double replyWindowMs_;
  MonitorFilter filter_;
  std::deque<MonitorEntry> entries_;
  long firstSeq_ = 0;           // the sequence number of entries_.front()
  std::deque<long> visible_;    // sequence numbers of the entries passing the filter
  long openRequest_ = -1;       // a request still awaiting its reply
  long dropped_ = 0;
};

// A file the monitor's frames are saved to as they come: CSV (a header, then a line per
// frame) or pcap (see PcapWriter.h).
class MonitorSaveFile {
 public:
  enum class Format { Csv, Pcap };
  // A format from the file's name: ".pcap" (any case) is pcap, anything else CSV.
  static Format FormatOf(const std::string& path);

  bool Open(const std::string& path, Format format, double originEpochMs, std::string& error);
  bool IsOpen() const { return open_; }
  void Write(const MonitorFrame& frame);
  void Close();
  long Written() const { return written_; }
  const std::string& path() const { return path_; }

 private:
  bool open_ = false;
  Format format_ = Format::Csv;
  std::string path_;
  std::ofstream csv_;
  std::unique_ptr<PcapWriter> pcap_;
  long written_ = 0;
};

// The device a listen-only monitor opens for what the connection page accepts: the device
// COMn maps to, or the path; both with links resolved, so that two names of one port match.
// Empty when COMn maps to no device.
std::string MonitorDevicePath(const std::string& deviceOrCom);

}  // namespace vantrel
