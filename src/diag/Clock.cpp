#include "diag/Clock.h"

namespace vantrel {
namespace {
std::function<std::time_t()>& Source() {
  static std::function<std::time_t()> source;
  return source;
}
}  // namespace

std::time_t Now() { return Source() ? Source()() : std::time(nullptr); }
void SetClock(std::function<std::time_t()> clock) { Source() = std::move(clock); }

}  // namespace vantrel
