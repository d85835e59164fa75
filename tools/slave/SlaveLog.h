// What vantrel-slave tells on standard error: every frame in and out, with the time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "modbus/Framing.h"

namespace vantrel::slave {

void SetQuiet(bool quiet);
// The monotonic clock, in nanoseconds.
long long NowNs();
// "[hh:mm:ss.mmm] text" on standard error, unless quiet.
void LogLine(const std::string& text);
// The same even when quiet: a change of state, not a frame.
void LogNotice(const std::string& text);
// "slave 11", or "slaves 1,5,17-20" when there are several.
std::string SlavesText(const std::vector<std::uint8_t>& ids);
// What follows a request in the log: "  (wrote ...)" for what it changed, "; no reply" or
// "  (no reply)" when it gets none.
std::string RequestNote(const std::string& change, bool replied);
// A frame as the log shows it: hex, or an ASCII frame's characters without its CR LF.
std::string FrameText(ModbusMode mode, const std::uint8_t* bytes, std::size_t size);

}  // namespace vantrel::slave
