// The wall clock that time stamps and the poll countdown read; tests may set their own.
#pragma once

#include <ctime>
#include <functional>

namespace vantrel {

std::time_t Now();
// An empty function restores the system clock.
void SetClock(std::function<std::time_t()> clock);

}  // namespace vantrel
