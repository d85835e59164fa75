// A workspace: a line's connection and every poll definition on it, kept in a JSON file
// that scripts and other tools can write too:
//
//   {"format": "vantrel-workspace", "version": 1,
//    "connection": {"mode": "rtu", "device": "COM3", "baud": 9600, "data_bits": 8,
//                   "parity": "N", "stop_bits": 1, "rs485": false,
//                   "host": "", "port": 502, "timeout_ms": 1000},
//    "polls": [{"name": "Voltages", "slave_id": 1, "function": 3, "offset": 1,
//               "length": 10, "period_ms": 1000, "enabled": true, "on_failure": "stop",
//               "word_order": "low-first", "show_64bit": false, "wire_address": false,
//               "by_map": true, "merge_gap": 8,
//               "map": [{"name": "Voltage L1", "table": "input", "address": 1,
//                        "type": "float32", "word_order": "high-first", "unit": "V"}]}]}
//
// Every member but "format" and "version" (and a map item's "name" and "address") may be
// left out: it then takes the default of PollDefinition.h (RegisterMap.h for a map item).
// A map item's "address" is its offset, counted from 1; its members are checked as a CSV
// map's columns are (CheckMap), and only those that differ from the defaults are written,
// but for name, table, address and type.
// A definition without a map is written without by_map and merge_gap when they hold their
// defaults. Members of another name are kept, as read, and written back on save.
// "test_center", a list after "polls", holds the Test center's history, the last 50
// requests: [{"slave_id": 1, "pdu": "08 00 00 A5 37"}, ...]; a longer list is read from its end.
//
// The version rule: this reader reads version 1. A file of a later version is refused,
// with a message that names it, since its fields may mean something else by then. New
// optional members do not raise the version (older readers keep them as unknown members);
// only a change of meaning of a member, or a member that a reader must understand, does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/PollDefinition.h"

namespace vantrel {

class ScannerSettings;

// The "format" member's value, and the version this reader reads and writes.
inline constexpr char kWorkspaceFormat[] = "vantrel-workspace";
inline constexpr int kWorkspaceVersion = 1;

// A request of the Test center's history, as "test_center" keeps it: {"slave_id": 1, "pdu":
// "08 00 00 A5 37"}. A slave id is 0 to 255, and the PDU one that the codec sends to it.
struct SavedTestRequest {
  int slaveId = 1;
  std::vector<std::uint8_t> pdu;
  std::string unknownFields;

  bool operator==(const SavedTestRequest&) const = default;
};

struct Workspace {
  LineConnection connection;
  std::vector<PollDefinition> polls;
  // Members of the top level and of "connection" that this version does not know, each as
  // the text of a JSON object ("" for none), written back on save. Each definition keeps
  // its own (PollDefinition::unknownFields).
  std::string unknownFields;
  std::string unknownConnectionFields;
  // The Test center's history, oldest first; written only when there is one.
  std::vector<SavedTestRequest> testCenter;

  bool operator==(const Workspace&) const = default;
};

// Reads a workspace from JSON text; source names the text in messages (the file's path).
// On success out is replaced and the result is true. Otherwise out is untouched and error
// says why, naming the source and the member: "site.json: polls[2].length: must be 1 to
// 125 for function 3, not 200". Refused are: text that is no JSON, a "format" other than
// "vantrel-workspace", a "version" other than 1, and a member of the wrong type or out of
// the range that the program itself accepts.
bool ReadWorkspace(const std::string& text, const std::string& source, Workspace& out, std::string& error);
// The same from a file.
bool LoadWorkspace(const std::string& path, Workspace& out, std::string& error);

// The file's text: indented JSON, the members in the order of the example above, each
// definition's unknown members after its own.
std::string WorkspaceJson(const Workspace& workspace);
// Replaces the file atomically with the workspace's text (a crash during the save leaves
// the old file whole). A workspace that a load would refuse is not written: error then
// names the member, as a load would; a file that cannot be written, the reason.
bool SaveWorkspace(const std::string& path, const Workspace& workspace, std::string& error);
// The first member of the workspace that a load would refuse, as "polls[0].length: must
// be ..."; "" when there is none.
std::string WorkspaceProblem(const Workspace& workspace);

// The connection and the one poll that settings.ini describes; the poll has no name.
Workspace WorkspaceFromSettings(const ScannerSettings& settings);
// Writes the connection and the first definition (when there is one) into settings, in
// the keys that settings.ini has always had for them, so that older readers find the
// request there; every other field of settings stays as it is.
void StoreInSettings(const Workspace& workspace, ScannerSettings& settings);

}  // namespace vantrel
