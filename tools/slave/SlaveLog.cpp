#include "SlaveLog.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "SlaveCore.h"
#include "platform/Platform.h"

namespace vantrel::slave {
namespace {

bool g_quiet = false;

}  // namespace

void SetQuiet(bool quiet) { g_quiet = quiet; }

long long NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void LogLine(const std::string& text) {
  if (!g_quiet) LogNotice(text);
}

void LogNotice(const std::string& text) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  const std::tm local = vantrel::platform::LocalTime(static_cast<std::time_t>(ms / 1000));
  std::fprintf(stderr, "[%02d:%02d:%02d.%03ld] %s\n", local.tm_hour, local.tm_min, local.tm_sec,
               static_cast<long>(ms % 1000), text.c_str());
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
