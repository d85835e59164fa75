#include "SlaveLog.h"

#include <time.h>

#include <cstdio>

#include "SlaveCore.h"

namespace vantrel::slave {
namespace {

bool g_quiet = false;

}  // namespace

void SetQuiet(bool quiet) { g_quiet = quiet; }

long long NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

void LogLine(const std::string& text) {
  if (!g_quiet) LogNotice(text);
}

void LogNotice(const std::string& text) {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  tm local{};
  localtime_r(&t.tv_sec, &local);
  std::fprintf(stderr, "[%02d:%02d:%02d.%03ld] %s\n", local.tm_hour, local.tm_min, local.tm_sec,
               t.tv_nsec / 1000000, text.c_str());
}

std::string SlavesText(const std::vector<std::uint8_t>& ids) {
  return (ids.size() == 1 ? "slave " : "slaves ") + IdListText(ids);
}

std::string RequestNote(const std::string& change, bool replied) {
  if (!change.empty()) return "  (" + change + (replied ? ")" : "; no reply)");
  return replied ? "" : "  (no reply)";
}

std::string FrameText(ModbusMode mode, const std::uint8_t* bytes, std::size_t size) {
  if (mode != ModbusMode::Ascii) return Hex(bytes, size);
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t c = bytes[i];
    if (c == '\r' || c == '\n') continue;
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    }
  }
  return text;
}

}  // namespace vantrel::slave
