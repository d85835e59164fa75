// vantrel-poll's --scan and --id-info, over a master whose link is open.
#pragma once

#include <string>

#include "PollOptions.h"

namespace vantrel {
class Line;
class ModbusMaster;
}

namespace vantrel::poll {

// Scans the ids (and with --sweep the line settings) of cfg, printing one line per find as
// it comes (--csv: id,settings,found,what,identification), and a summary on standard error.
// kExitOk when a device answered, kExitNothingFound when none did.
int RunScan(Line& line, const PollConfig& cfg, const std::string& connection);

// Prints the device identification objects of slave cfg.slaveId, one "Name: value" a line.
int RunIdInfo(ModbusMaster& master, const PollConfig& cfg);

}  // namespace vantrel::poll
