// The wall clock that time stamps and the poll countdown read; tests may set their own.
#pragma once

#include <ctime>
#include <functional>
#include <string>

namespace vantrel {

std::time_t Now();
// An empty function restores the system clock.
void SetClock(std::function<std::time_t()> clock);
// "[%02d:%02d:%02d] ": the local time of the clock, as activity-log lines begin.
std::string LogTimePrefix();

}  // namespace vantrel
