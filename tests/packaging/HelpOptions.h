// What the programs' --help says, as the manual pages and the shell completion must follow it.
#pragma once

#include <set>
#include <string>

namespace vantrel::test {

// The options that the program's --help lists: on each line indented by one to ten blanks
// that goes on with '-', the words before the description (two blanks) that start with
// '-', without a ",", "=VALUE" or "[...]" after them: {"-a", "--id", "--tcp", ...}.
std::set<std::string> HelpOptions(const std::string& program);

}  // namespace vantrel::test
