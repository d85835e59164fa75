// What a line session works from: the connection of the line, and the poll definitions that
// share it. Plain values, as the workspace file and settings.ini keep them.
#pragma once

#include <string>

#include "modbus/Framing.h"
#include "session/RegisterMap.h"
#include "session/WriteValues.h"

namespace vantrel {

// The line: how the master reaches its devices.
struct LineConnection {
  ModbusMode mode = ModbusMode::Rtu;
  // The serial modes: "COMn" (the device that the entry COMn of the start-up folder points
  // to, else the n-th port present, as the Connection page maps it) or a device path.
  std::string device = "COM3";
  int baud = 9600;
  int dataBits = 8;
  char parity = 'N';  // N O E M S
  int stopBits = 1;   // 1, 2, or 3 for one and a half (applied as 2)
  bool rs485 = false;
  // The network modes.
  std::string host;
  int port = 502;
  // The reply time-out, also the bound of a TCP connect (at least a second for that).
  int timeoutMs = 10000;
  // After a broadcast (slave id 0), which no device answers, the line is left this long
  // before the next request, so that every device has carried it out.
  int turnaroundMs = 100;

  bool operator==(const LineConnection&) const = default;
};

// What a failure of a definition's poll does while it polls at a period.
enum class FailurePolicy {
  StopAndExplain,  // polling falls back to once and the failure is explained in a box
  KeepPolling,     // the failure goes to the log and the counters, and polling goes on
};

// How a definition's values are shown (and written back).
struct ViewOptions {
  WordOrder wordOrder = WordOrder::LowFirst;
  bool show64 = false;       // uint64, int64 and float64 over four registers
  bool wireAddress = false;  // each item's address as the frame carries it, 0-based

  bool operator==(const ViewOptions&) const = default;
};

// Registers (or bits) between two mapped items that one request reads across, by default.
inline constexpr int kDefaultMergeGap = 8;

// One block of one device, read again and again: a tab of the window, a definition of a
// workspace file.
struct PollDefinition {
  std::string name;
  int slaveId = 11;
  int function = 1;  // 1 coils, 2 discrete inputs, 3 holding registers, 4 input registers
  int offset = 1;    // the first item, counted from 1 (0 reads from address 0 too)
  int length = 20;
  int periodMs = 0;  // 0 polls once (on demand); else at least kMinPeriodMs
  bool enabled = true;
  FailurePolicy policy = FailurePolicy::StopAndExplain;
  ViewOptions view;
  // Its register map: the names of its items (typed into the table, or imported), and with
  // byMap what it reads. By map, function, offset and length play no part: the session reads
  // the mapped items of the tables they lie in, merging neighbours into one request when at
  // most mergeGap registers (or bits) lie between them that no item needs.
  RegisterMap map;
  bool byMap = false;
  int mergeGap = kDefaultMergeGap;
  // The members of its workspace file entry that this version does not know, as the text
  // of a JSON object ("" for none): a save writes them back, and they go with the
  // definition wherever it is moved or copied.
  std::string unknownFields;

  bool operator==(const PollDefinition&) const = default;
};

// The shortest poll period a definition may have.
inline constexpr int kMinPeriodMs = 100;

}  // namespace vantrel
