#include "HelpOptions.h"

#include <regex>
#include <sstream>

#include "support/Process.h"

namespace vantrel::test {

std::set<std::string> HelpOptions(const std::string& program) {
  std::set<std::string> options;
  std::istringstream help(Run({program, "--help"}).out);
  const std::regex optionLine("^ {1,10}(-.*)$");
  std::smatch m;
  for (std::string line; std::getline(help, line);) {
    if (!std::regex_match(line, m, optionLine)) continue;
    std::istringstream words(m[1].str().substr(0, m[1].str().find("  ")));
    for (std::string word; words >> word && word[0] == '-';) options.insert(word.substr(0, word.find_first_of(",=[")));
  }
  return options;
}

}  // namespace vantrel::test
