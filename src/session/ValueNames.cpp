#include "session/ValueNames.h"

#include <strings.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>

namespace vantrel {
namespace {

template <typename T>
struct Named {
  const char* name;
  T value;
};

constexpr Named<ModbusMode> kModeNames[] = {{"rtu", ModbusMode::Rtu},
                                            {"ascii", ModbusMode::Ascii},
                                            {"tcp", ModbusMode::Tcp},
                                            {"rtutcp", ModbusMode::RtuOverTcp}};

constexpr Named<WordOrder> kOrderNames[] = {{"low-first", WordOrder::LowFirst},
                                            {"high-first", WordOrder::HighFirst},
                                            {"low-first-swapped", WordOrder::LowFirstSwapped},
                                            {"high-first-swapped", WordOrder::HighFirstSwapped}};

template <typename T, std::size_t N>
const char* NameIn(const Named<T> (&names)[N], T value) {
  for (const auto& n : names) {
    if (n.value == value) return n.name;
  }
  return "";
}

template <typename T, std::size_t N>
bool ValueIn(const Named<T> (&names)[N], const std::string& name, T& value) {
  for (const auto& n : names) {
    if (name == n.name) {
      value = n.value;
      return true;
    }
  }
  return false;
}

}  // namespace

const char* ModeOptionName(ModbusMode mode) { return NameIn(kModeNames, mode); }
bool ModeFromOptionName(const std::string& name, ModbusMode& mode) { return ValueIn(kModeNames, name, mode); }

const char* WordOrderOptionName(WordOrder order) { return NameIn(kOrderNames, order); }
bool WordOrderFromOptionName(const std::string& name, WordOrder& order) { return ValueIn(kOrderNames, name, order); }

int ComPortNumber(const std::string& text) {
  if (text.size() < 4 || strncasecmp(text.c_str(), "COM", 3) != 0) return 0;
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(text.c_str() + 3, &end, 10);
  return errno == 0 && *end == '\0' && n >= 1 && n <= 255 ? static_cast<int>(n) : 0;
}

}  // namespace vantrel
