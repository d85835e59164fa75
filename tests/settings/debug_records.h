// The debug log of a test's working folder, record by record.
#pragma once

#include <string>

#include "test_folder.h"

namespace vantrel::testing {

// The records of "Debuglog.txt" in folder without their time stamps, each after a "\n".
inline std::string DebugRecords(const TempFolder& folder) {
  const std::string log = folder.Read("Debuglog.txt");
  std::string records;
  for (auto at = log.find("\n["); at != std::string::npos;) {
    const auto text = log.find("] ", at) + 2;
    at = log.find("\n[", text);
    records += "\n" + log.substr(text, at - text);
  }
  return records;
}

}  // namespace vantrel::testing
