// The main window's own exchanges as they go over the link: the bytes the master sends, the
// bytes it reads (the reply, and the noise, other exchanges' frames and late replies it
// skips), and its notes on what it skipped or dropped, each with its time. Bounded: the
// oldest lines go first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace vantrel {

enum class TrafficKind { Sent, Received, Note };

struct TrafficEntry {
  double ms = 0;  // on the caller's clock
  TrafficKind kind = TrafficKind::Note;
  std::string text;        // bytes as hex (ASCII: the characters), or the note
  double sinceSentMs = -1;  // received bytes: since the last bytes sent; -1 when none were
};

class TrafficLog {
 public:
  explicit TrafficLog(std::size_t capacity = 5000) : capacity_(capacity) {}
  // ascii: the bytes are an ASCII frame's characters, shown as such.
  const TrafficEntry& AddBytes(double ms, bool sent, const std::uint8_t* bytes, int size, bool ascii);
  const TrafficEntry& AddNote(double ms, const std::string& text);
  void Clear();
  const std::deque<TrafficEntry>& entries() const { return entries_; }
  std::size_t capacity() const { return capacity_; }

 private:
  const TrafficEntry& Add(TrafficEntry entry);

  std::size_t capacity_;
  std::deque<TrafficEntry> entries_;
  double lastSentMs_ = -1;
};

// "    1234.5  out   01 03 00 00 00 0A C5 CD", "    1250.1  in    01 03 ...  (+15.6 ms)",
// "    1300.0  note  Line noise, skipped: ...".
std::string TrafficLine(const TrafficEntry& entry);

}  // namespace vantrel
