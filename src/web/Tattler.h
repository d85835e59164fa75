// The usage values of one run, kept by key, and the usage report that sends them to the
// vendor's server once, when the main window is closed with Close.
#pragma once

#include <map>
#include <string>

namespace vantrel {

// Ascending byte order: upper-case keys come before lower-case ones.
using UsageValues = std::map<std::string, std::string>;

class Tattler {
 public:
  // Notes "start_time", the current time in seconds since 1970.
  Tattler();

  // Stores the pair; a key already present takes the new value.
  void SetValue(const std::string& key, const std::string& value);
  const UsageValues& Values() const { return values_; }

  // Notes "send_time" and sends the report; true when the server accepted it.
  bool Report(const std::string& utilityName, const std::string& utilityVersion);

 private:
  UsageValues values_;
};

// The program's one store, made before main() runs. Only the user-interface thread uses it.
Tattler& TheTattler();

// Posts "utility_name=...&utility_version=..." and "&key=value" for every pair in key order,
// nothing encoded, as a web call (WebCall.h). 1 when the reply begins with "STATE: PASS" and
// holds no "STATE: FAILED"; -1 otherwise, and for a body over 2048 characters, which is
// not sent.
int SendUsageReport(const std::string& utilityName, const std::string& utilityVersion,
                    const UsageValues& values);

}  // namespace vantrel
