#include "session/TrafficLog.h"

#include <cstdio>

namespace vantrel {

namespace {

std::string Hex(const std::uint8_t* bytes, int size) {
  std::string text;
  char pair[4];
  for (int i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, i ? " %02X" : "%02X", bytes[i]);
    text += pair;
  }
  return text;
}

// An ASCII frame's characters, its line end and any other control byte made visible.
std::string Characters(const std::uint8_t* bytes, int size) {
  std::string text;
  for (int i = 0; i < size; ++i) {
    const std::uint8_t c = bytes[i];
    if (c == '\r') {
      text += "<CR>";
    } else if (c == '\n') {
      text += "<LF>";
    } else if (c < 0x20 || c > 0x7E) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02X>", c);
      text += hex;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text;
}

}  // namespace

const TrafficEntry& TrafficLog::Add(TrafficEntry entry) {
  entries_.push_back(std::move(entry));
  while (entries_.size() > capacity_) entries_.pop_front();
  return entries_.back();
}

const TrafficEntry& TrafficLog::AddBytes(double ms, bool sent, const std::uint8_t* bytes, int size, bool ascii) {
  TrafficEntry e;
  e.ms = ms;
  e.kind = sent ? TrafficKind::Sent : TrafficKind::Received;
  e.text = ascii ? Characters(bytes, size) : Hex(bytes, size);
  if (sent) {
    lastSentMs_ = ms;
  } else if (lastSentMs_ >= 0) {
    e.sinceSentMs = ms - lastSentMs_;
  }
  return Add(std::move(e));
}

const TrafficEntry& TrafficLog::AddNote(double ms, const std::string& text) { return Add({ms, TrafficKind::Note, text, -1}); }

void TrafficLog::Clear() { entries_.clear(); }

std::string TrafficLine(const TrafficEntry& e) {
  static const char* const kinds[] = {"out ", "in  ", "note"};
  char head[48];
  std::snprintf(head, sizeof head, "%10.1f  %s  ", e.ms, kinds[static_cast<int>(e.kind)]);
  std::string line = head + e.text;
  if (e.sinceSentMs >= 0) {
    char since[32];
    std::snprintf(since, sizeof since, "  (+%.1f ms)", e.sinceSentMs);
    line += since;
  }
  return line;
}

}  // namespace vantrel
