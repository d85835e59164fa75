#include "session/TrendHistory.h"

#include <algorithm>
#include <cmath>

#include "session/MapTable.h"

namespace vantrel {

namespace {

bool Mapped(const ResponseTable& table) {
  return !table.headings.empty() && table.numbers.size() == table.rows.size();
}

// The row of the table that holds the line's item and its value, or -1.
int RowOf(const ResponseTable& table, int device, const TrendKey& key) {
  if (table.fill != TableFill::Filled || key.device != device) return -1;
  if (!key.item.empty()) {
    if (!Mapped(table)) return -1;
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
      if (table.rows[r][kMapName] == key.item) return std::isnan(table.numbers[r]) ? -1 : static_cast<int>(r);
    }
    return -1;
  }
  if (Mapped(table) || key.function != table.function || key.offset < table.firstOffset ||
      key.offset - table.firstOffset >= static_cast<int>(table.values.size())) {
    return -1;
  }
  return key.offset - table.firstOffset;
}

}  // namespace

std::size_t TrendHistory::Follow(const ResponseTable& table, int device, const std::vector<int>& rows,
                                 const std::string& poll) {
  if (table.fill != TableFill::Filled) return 0;
  std::size_t left = 0;
  for (int row : rows) {
    const bool mapped = Mapped(table);
    if (row < 0 || row >= static_cast<int>(mapped ? table.rows.size() : table.values.size())) continue;
    const auto r = static_cast<std::size_t>(row);
    if (mapped && std::isnan(table.numbers[r])) continue;  // text, or not read: nothing to plot
    const TrendKey key = mapped ? TrendKey{device, 0, 0, table.rows[r][kMapName]}
                                : TrendKey{device, table.function, table.firstOffset + row, ""};
    if (std::any_of(lines_.begin(), lines_.end(), [&](const TrendLine& l) { return l.key == key; })) continue;
    if (lines_.size() >= kMaxLines) {
      ++left;
      continue;
    }
    // Column 2 of a reply's table is the 5-digit "Standard address".
    if (mapped) {
      lines_.push_back({key, table.rows[r][kMapName], table.rows[r][kMapUnit], {}, true, poll});
    } else {
      lines_.push_back({key, table.rows[r][2], "", {}, true, poll});
    }
  }
  return left;
}

void TrendHistory::Add(const ResponseTable& table, int device, std::int64_t ms, const std::string& poll) {
  if (table.fill != TableFill::Filled) return;
  latest_ = std::max(ms, latest_);
  for (TrendLine& line : lines_) {
    if (!poll.empty() && !line.poll.empty() && line.poll != poll) continue;
    const int row = RowOf(table, device, line.key);
    line.polled = row >= 0;
    if (!line.polled) continue;
    const auto r = static_cast<std::size_t>(row);
    auto& samples = line.samples;
    samples.push_back({latest_, line.key.item.empty() ? double(table.values[r]) : table.numbers[r]});
    while (samples.size() > capacity_ || samples.front().ms < latest_ - spanMs_) samples.pop_front();
  }
}

std::string TrendHistory::Caption(const TrendLine& line) const {
  std::string caption = line.address;
  const bool polls =
      std::any_of(lines_.begin(), lines_.end(), [&](const TrendLine& l) { return l.poll != line.poll; });
  if (polls && !line.poll.empty()) caption = line.poll + " " + caption;
  const bool devices = std::any_of(lines_.begin(), lines_.end(),
                                   [&](const TrendLine& l) { return l.key.device != line.key.device; });
  if (devices) caption += " (device " + std::to_string(line.key.device) + ")";
  if (!line.polled) caption += " (not polled)";
  return caption;
}

std::string TrendHistory::Unit() const {
  if (lines_.empty()) return "";
  const std::string& unit = lines_.front().unit;
  const bool same = std::all_of(lines_.begin(), lines_.end(), [&](const TrendLine& l) { return l.unit == unit; });
  return same ? unit : "";
}

std::vector<TrendSample> TrendHistory::Decimate(const std::deque<TrendSample>& samples, std::int64_t from,
                                                std::int64_t to, int buckets) {
  const auto early = [](const TrendSample& s, std::int64_t ms) { return s.ms < ms; };
  const auto late = [](std::int64_t ms, const TrendSample& s) { return ms < s.ms; };
  auto first = std::lower_bound(samples.begin(), samples.end(), from, early);
  auto last = std::upper_bound(first, samples.end(), to, late);
  if (first != samples.begin()) --first;
  if (last != samples.end()) ++last;
  buckets = std::max(buckets, 1);
  if (last - first <= 2 * buckets || to <= from) return {first, last};

  std::vector<TrendSample> out;
  out.reserve(2 * static_cast<std::size_t>(buckets) + 4);
  // Buckets on whole multiples of their width since the epoch, not from the range's start:
  // as the plot moves on, a bucket keeps its samples, so its two points do not jump about.
  const std::int64_t width = (to - from + buckets - 1) / buckets;
  const auto bucketOf = [width](const TrendSample& s) { return s.ms / width; };
  auto low = first, high = first;
  std::int64_t bucket = bucketOf(*first);
  const auto flush = [&] {
    if (low == high) {
      out.push_back(*low);
    } else {
      out.push_back(*std::min(low, high));
      out.push_back(*std::max(low, high));
    }
  };
  for (auto it = first + 1; it != last; ++it) {
    if (bucketOf(*it) != bucket) {
      flush();
      low = high = it;
      bucket = bucketOf(*it);
    } else if (it->value < low->value) {
      low = it;
    } else if (it->value > high->value) {
      high = it;
    }
  }
  flush();
  return out;
}

}  // namespace vantrel
