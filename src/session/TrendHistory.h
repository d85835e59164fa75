// The trend chart's memory: per charted item, its values over time, bounded so that an
// hour of polling at 10 a second costs the same memory as the next hour, and reduced for
// drawing so that a redraw costs about the same for an hour of samples as for a minute.
// Plain C++; the chart window draws from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "session/ResponseTable.h"

namespace vantrel {

// What one line of the chart follows: one item of one device, a row of a reply's table or
// an item of a table read by register map.
struct TrendKey {
  int device = 0;
  int function = 0;  // 1 to 4, the read function; 0 for a mapped item
  int offset = 0;    // counted from 1, as the table's rows
  std::string item;  // a mapped item's name ("" for a row of a reply)
  bool operator==(const TrendKey&) const = default;
};

struct TrendSample {
  std::int64_t ms = 0;  // milliseconds since the epoch
  // A register as uint16, a coil or input as 0 or 1, a mapped item in its shown units.
  double value = 0;
  bool operator==(const TrendSample&) const = default;
};

struct TrendLine {
  TrendKey key;
  std::string address;  // the 5-digit address as the table shows it ("40010"), or the item's name
  std::string unit;     // a mapped item's unit ("" for none, and for a row of a reply)
  std::deque<TrendSample> samples;  // oldest first
  // The latest reply held the item (or none came since it was followed); false once the
  // request no longer reads it.
  bool polled = true;
  // The poll definition whose rows it was taken from ("" with one poll on the line).
  std::string poll;
};

class TrendHistory {
 public:
  // The longest time window the chart offers, and what a line keeps at 10 polls a second
  // over it: faster polling drops the oldest samples sooner instead of growing the line.
  static constexpr std::int64_t kSpanMs = 3600 * 1000;
  static constexpr std::size_t kCapacity = 36000;
  // More lines than this are no longer readable, and each costs up to kCapacity samples.
  static constexpr std::size_t kMaxLines = 20;

  explicit TrendHistory(std::int64_t spanMs = kSpanMs, std::size_t capacity = kCapacity)
      : spanMs_(spanMs), capacity_(capacity) {}

  // Follows these rows of a filled table of the device's reply (of the poll named, with
  // several on the line); rows followed already and rows out of the table are passed over.
  // The rows of a table read by map are followed by item, so that a new map order keeps
  // them; an item without a number (text, or not read) is passed over. Returns how many
  // rows were left out because the chart has kMaxLines lines.
  std::size_t Follow(const ResponseTable& table, int device, const std::vector<int>& rows,
                     const std::string& poll = "");

  // A good reply at ms: one sample for every line whose item the table holds. Times never
  // go back (a clock set back repeats the last time), so the samples stay ordered. With a
  // poll named, the lines taken from another named poll are left as they are: its reply
  // says nothing of them.
  void Add(const ResponseTable& table, int device, std::int64_t ms, const std::string& poll = "");

  const std::vector<TrendLine>& lines() const { return lines_; }
  // The time of the latest reply, 0 before the first.
  std::int64_t latest() const { return latest_; }
  // The legend's name of a line: its poll when the chart holds lines of several, its
  // address, its device when the chart holds lines of several devices, and "not polled"
  // when it no longer gets samples.
  std::string Caption(const TrendLine& line) const;
  // The unit of every line, for the value axis; "" when the lines have none, or not the same.
  std::string Unit() const;

  // The samples of [from, to] with the one just before and just after (so that a line
  // runs to the edges), reduced when there are more than two per bucket: time is cut into
  // slices of a bucket's width (the range over buckets, on whole multiples since the epoch)
  // and each keeps its lowest and highest sample, in time order, so that a spike of one
  // sample is never lost. Samples are times since the epoch, never negative.
  static std::vector<TrendSample> Decimate(const std::deque<TrendSample>& samples, std::int64_t from,
                                           std::int64_t to, int buckets);

 private:
  std::int64_t spanMs_;
  std::size_t capacity_;
  std::vector<TrendLine> lines_;
  std::int64_t latest_ = 0;
};

}  // namespace vantrel
