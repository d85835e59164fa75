// vantrel-poll --monitor: the bus monitor on a listen-only serial port, printing each frame.
#pragma once

#include "PollOptions.h"

namespace vantrel::poll {

// Listens on config's serial line until SIGINT or SIGTERM, config.monitorCount frames or
// config.monitorSeconds, printing each frame in the form asked for (and writing the pcap
// file), then the per-slave figures in the aligned form. kExitOk, kExitCannotConnect when
// the port or the pcap file cannot be opened, kExitDeviceGone when the device goes away.
int RunMonitor(const PollConfig& config);

}  // namespace vantrel::poll
