// What mbpoll prints, read back by the tests that run it.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace vantrel::test {

// The values of mbpoll's "[ref]: <tab>value" lines.
inline std::vector<std::string> MbpollValues(const std::string& out) {
  std::vector<std::string> values;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] != '[' || line.find("]:") == std::string::npos) continue;
    std::istringstream rest(line.substr(line.find("]:") + 2));
    std::string value;
    if (rest >> value) values.push_back(value);
  }
  return values;
}

}  // namespace vantrel::test
