#include "diag/Clock.h"

#include <cstdio>

#include "platform/Platform.h"

namespace vantrel {
namespace {
std::function<std::time_t()>& Source() {
  static std::function<std::time_t()> source;
  return source;
}
}  // namespace

std::time_t Now() { return Source() ? Source()() : std::time(nullptr); }
void SetClock(std::function<std::time_t()> clock) { Source() = std::move(clock); }

std::string LogTimePrefix() {
  const std::time_t now = Now();
  const std::tm t = platform::LocalTime(now);
  char buf[16];
  std::snprintf(buf, sizeof buf, "[%02d:%02d:%02d] ", t.tm_hour, t.tm_min, t.tm_sec);
  return buf;
}

}  // namespace vantrel
