#include "session/TrendHistory.h"

#include <algorithm>

namespace vantrel {

namespace {

bool Holds(const ResponseTable& table, int device, const TrendKey& key) {
  return table.fill == TableFill::Filled && key.device == device && key.function == table.function &&
         key.offset >= table.firstOffset &&
         key.offset - table.firstOffset < static_cast<int>(table.values.size());
}

}  // namespace

std::size_t TrendHistory::Follow(const ResponseTable& table, int device, const std::vector<int>& rows,
                                 const std::string& poll) {
  if (table.fill != TableFill::Filled) return 0;
  std::size_t left = 0;
  for (int row : rows) {
    if (row < 0 || row >= static_cast<int>(table.values.size())) continue;
    const TrendKey key{device, table.function, table.firstOffset + row};
    if (std::any_of(lines_.begin(), lines_.end(), [&](const TrendLine& l) { return l.key == key; })) continue;
    if (lines_.size() >= kMaxLines) {
      ++left;
      continue;
    }
    // Column 2 is the 5-digit "Standard address".
    lines_.push_back({key, table.rows[static_cast<std::size_t>(row)][2], {}, true, poll});
  }
  return left;
}

void TrendHistory::Add(const ResponseTable& table, int device, std::int64_t ms) {
  if (table.fill != TableFill::Filled) return;
  latest_ = std::max(ms, latest_);
  for (TrendLine& line : lines_) {
    line.polled = Holds(table, device, line.key);
    if (!line.polled) continue;
    auto& samples = line.samples;
    samples.push_back({latest_, table.values[static_cast<std::size_t>(line.key.offset - table.firstOffset)]});
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
