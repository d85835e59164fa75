#include "session/ValueNames.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>

namespace vantrel {
namespace {

struct ModeName {
  const char* name;
  ModbusMode mode;
};
constexpr ModeName kModeNames[] = {{"rtu", ModbusMode::Rtu},
                                   {"ascii", ModbusMode::Ascii},
                                   {"tcp", ModbusMode::Tcp},
                                   {"rtutcp", ModbusMode::RtuOverTcp}};

struct OrderName {
  const char* name;
  WordOrder order;
};
constexpr OrderName kOrderNames[] = {{"low-first", WordOrder::LowFirst},
                                     {"high-first", WordOrder::HighFirst},
                                     {"low-first-swapped", WordOrder::LowFirstSwapped},
                                     {"high-first-swapped", WordOrder::HighFirstSwapped}};

}  // namespace

const char* ModeOptionName(ModbusMode mode) {
  for (const auto& m : kModeNames) {
    if (m.mode == mode) return m.name;
  }
  return "";
}

bool ModeFromOptionName(const std::string& name, ModbusMode& mode) {
  for (const auto& m : kModeNames) {
    if (name == m.name) {
      mode = m.mode;
      return true;
    }
  }
  return false;
}

const char* WordOrderOptionName(WordOrder order) {
  for (const auto& o : kOrderNames) {
    if (o.order == order) return o.name;
  }
  return "";
}

bool WordOrderFromOptionName(const std::string& name, WordOrder& order) {
  for (const auto& o : kOrderNames) {
    if (name == o.name) {
      order = o.order;
      return true;
    }
  }
  return false;
}

int ComPortNumber(const std::string& text) {
  if (text.size() < 4 || strncasecmp(text.c_str(), "COM", 3) != 0) return 0;
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(text.c_str() + 3, &end, 10);
  return errno == 0 && *end == '\0' && n >= 1 && n <= 255 ? static_cast<int>(n) : 0;
}

}  // namespace vantrel
