// The bus monitor's frames and figures as text: an aligned line per frame for a terminal,
// CSV for a spreadsheet, a JSON object per frame for jq, and the per-slave figures.
#pragma once

#include <map>
#include <string>

#include "session/BusMonitor.h"
#include "session/MonitorDecode.h"

namespace vantrel {

// One line, columns aligned: time (ms), gap since the previous frame, kind, slave id,
// function code and name, turnaround of a reply, what the frame says, its bytes in hex.
std::string FrameSummaryLine(const MonitorFrame& frame);

// "time_ms,gap_ms,kind,slave_id,function,function_name,address,wire_address,quantity,
// turnaround_ms,values,detail,hex" and a line per frame in those columns (address counted
// from 1, values separated by blanks; empty where the frame has none).
std::string FrameCsvHeader();
std::string FrameCsvLine(const MonitorFrame& frame);

// One JSON object on one line: time, gap_ms, kind, slave_id, function (the code on the wire),
// function_name, hex, exchange, and where the frame has them broadcast, crc_error,
// turnaround_ms, address (from 1), wire_address, quantity, registers, bits,
// exception_code, exception, sub_function, mei_type, read_code, object_id, objects
// ([{"id", "name", "value"}]) and detail.
std::string FrameJson(const MonitorFrame& frame);

// A table of the figures per slave id: requests, replies, exceptions, CRC errors,
// unanswered requests, and min/avg/max turnaround in ms.
std::string FiguresTable(const std::map<int, SlaveFigures>& figures);

// Bytes as two upper-case hex digits each, separated by blanks: "01 03 00 00 00 0A C5 CD".
std::string FrameHex(const MonitorFrame& frame);

}  // namespace vantrel
