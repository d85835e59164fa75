#include "session/Workspace.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "modbus/ModbusFrame.h"
#include "session/PollTexts.h"
#include "session/TestCenter.h"
#include "session/ValueNames.h"
#include "settings/AtomicFile.h"
#include "settings/ScannerSettings.h"

namespace vantrel {
namespace {

// Ordered, so that a file keeps its members in the order they were written.
using Json = nlohmann::ordered_json;

// A refused file, with the member and the reason. Thrown and caught inside the reader only.
struct Refused {
  std::string message;
};

// A value as the message shows it: its JSON text, cut short.
std::string Shown(const Json& value) {
  std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
  return text.size() > 40 ? text.substr(0, 37) + "..." : text;
}

std::string MustBe(const std::string& field, const std::string& must, const std::string& found) {
  return field + ": must be " + must + ", not " + found;
}

[[noreturn]] void Refuse(const std::string& field, const std::string& must, const Json& found) {
  throw Refused{MustBe(field, must, Shown(found))};
}

// A text goes into the file only as UTF-8, which JSON requires.
bool IsUtf8(const std::string& text) {
  try {
    (void)Json(text).dump();
    return true;
  } catch (const Json::type_error&) {
    return false;
  }
}

// Where the i-th definition stands in the file.
std::string PollPath(std::size_t i) { return "polls[" + std::to_string(i) + "]"; }

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// N O E M S, either case, as settings.ini takes them.
bool IsParity(char c) { return c != '\0' && std::strchr("NOEMS", Upper(c)) != nullptr; }

// The members of one JSON object, read by name; those never asked for are the unknown ones.
class Members {
 public:
  Members(const Json& object, std::string path) : object_(object), path_(std::move(path)) {}

  std::string Field(const char* name) const { return path_.empty() ? name : path_ + "." + name; }

  // The member, or nullptr when it is left out.
  const Json* Find(const char* name) {
    asked_.emplace_back(name);
    const auto it = object_.find(name);
    return it == object_.end() ? nullptr : &*it;
  }

  void Int(const char* name, int& out) {
    const Json* v = Find(name);
    if (v == nullptr) return;
    if (!v->is_number_integer()) Refuse(Field(name), "a whole number", *v);
    const bool fits = v->is_number_unsigned() ? v->get<unsigned long long>() <= INT_MAX
                                              : v->get<long long>() >= INT_MIN && v->get<long long>() <= INT_MAX;
    if (!fits) throw Refused{Field(name) + ": " + Shown(*v) + " is out of range"};
    out = v->get<int>();
  }
  void Bool(const char* name, bool& out) {
    const Json* v = Find(name);
    if (v == nullptr) return;
    if (!v->is_boolean()) Refuse(Field(name), "true or false", *v);
    out = v->get<bool>();
  }
  void Number(const char* name, double& out) {
    const Json* v = Find(name);
    if (v == nullptr) return;
    if (!v->is_number()) Refuse(Field(name), "a number", *v);
    out = v->get<double>();
  }
  void Text(const char* name, std::string& out) {
    const Json* v = Find(name);
    if (v == nullptr) return;
    if (!v->is_string()) Refuse(Field(name), "a text in quotes", *v);
    out = v->get<std::string>();
  }
  // A text that is one of a few names: take returns false for any other.
  template <typename Take>
  void Name(const char* name, const char* names, Take take) {
    const Json* v = Find(name);
    if (v != nullptr && (!v->is_string() || !take(v->get<std::string>()))) Refuse(Field(name), names, *v);
  }
  // A member that must be an object or a list, when it is there.
  const Json* Nested(const char* name, bool list) {
    const Json* v = Find(name);
    if (v != nullptr && (list ? !v->is_array() : !v->is_object())) {
      Refuse(Field(name), list ? "a list [...]" : "an object {...}", *v);
    }
    return v;
  }

  std::string Unknown() const {
    Json rest = Json::object();
    for (const auto& [key, value] : object_.items()) {
      if (std::find(asked_.begin(), asked_.end(), key) == asked_.end()) rest[key] = value;
    }
    return rest.empty() ? std::string() : rest.dump();
  }

 private:
  const Json& object_;
  std::string path_;
  std::vector<std::string> asked_;
};

void ReadConnection(const Json& object, LineConnection& c, std::string& unknown) {
  Members m(object, "connection");
  m.Name("mode", "rtu, ascii, tcp or rtutcp", [&](const std::string& s) { return ModeFromOptionName(s, c.mode); });
  m.Text("device", c.device);
  m.Int("baud", c.baud);
  m.Int("data_bits", c.dataBits);
  m.Name("parity", "N, O, E, M or S", [&](const std::string& s) {
    if (s.size() != 1 || !IsParity(s[0])) return false;
    c.parity = Upper(s[0]);
    return true;
  });
  // One and a half is kept as 3, as settings.ini keeps it.
  if (const Json* v = m.Find("stop_bits")) {
    if (*v == 1 || *v == 2) {
      c.stopBits = v->get<int>();
    } else if (*v == 1.5) {
      c.stopBits = 3;
    } else {
      Refuse("connection.stop_bits", "1, 1.5 or 2", *v);
    }
  }
  m.Bool("rs485", c.rs485);
  m.Text("host", c.host);
  m.Int("port", c.port);
  m.Int("timeout_ms", c.timeoutMs);
  m.Int("turnaround_ms", c.turnaroundMs);
  unknown = m.Unknown();
}

// One item of a definition's map. The address is the offset, counted from 1: a number has
// no leading digit to name a table by, as the CSV map's references do.
void ReadMapItem(const Json& object, const std::string& path, MapItem& item) {
  Members m(object, path);
  m.Text("name", item.name);
  m.Name("table", "coil, discrete, input or holding",
         [&](const std::string& s) { return MapTableFromName(s, item.table); });
  if (m.Find("address") == nullptr) throw Refused{m.Field("address") + ": missing: every item needs an address"};
  m.Int("address", item.address);
  item.type = IsBitTable(item.table) ? MapType::Bool : MapType::Uint16;
  if (const Json* v = m.Find("type")) {
    if (!v->is_string()) Refuse(m.Field("type"), "a type in quotes, such as \"float32\"", *v);
    if (const std::string why = SetMapType(v->get<std::string>(), item); !why.empty()) {
      throw Refused{m.Field("type") + ": " + why};
    }
  }
  m.Name("word_order", "low-first, high-first, low-first-swapped or high-first-swapped", [&](const std::string& s) {
    WordOrder order;
    if (!WordOrderFromOptionName(s, order)) return false;
    item.wordOrder = order;
    return true;
  });
  m.Number("scale", item.scale);
  m.Number("offset", item.offset);
  m.Text("unit", item.unit);
  m.Int("decimals", item.decimals);
  m.Text("description", item.description);
  item.writable = DefaultWritable(item.table);
  m.Bool("writable", item.writable);
  // A starting value in shown units; a number is taken as its JSON text.
  if (const Json* v = m.Find("value")) {
    if (!v->is_string() && !v->is_number()) Refuse(m.Field("value"), "a text in quotes or a number", *v);
    item.value = v->is_string() ? v->get<std::string>() : v->dump();
  }
  item.unknownFields = m.Unknown();
}

void ReadPoll(const Json& object, const std::string& path, PollDefinition& p) {
  Members m(object, path);
  m.Text("name", p.name);
  m.Int("slave_id", p.slaveId);
  m.Int("function", p.function);
  m.Int("offset", p.offset);
  m.Int("length", p.length);
  m.Int("period_ms", p.periodMs);
  m.Bool("enabled", p.enabled);
  m.Name("on_failure", "\"stop\" or \"keep\"", [&](const std::string& s) {
    if (s != "stop" && s != "keep") return false;
    p.policy = s == "keep" ? FailurePolicy::KeepPolling : FailurePolicy::StopAndExplain;
    return true;
  });
  m.Name("word_order", "low-first, high-first, low-first-swapped or high-first-swapped",
         [&](const std::string& s) { return WordOrderFromOptionName(s, p.view.wordOrder); });
  m.Bool("show_64bit", p.view.show64);
  m.Bool("wire_address", p.view.wireAddress);
  m.Bool("by_map", p.byMap);
  m.Int("merge_gap", p.mergeGap);
  if (const Json* items = m.Nested("map", true)) {
    for (std::size_t i = 0; i < items->size(); ++i) {
      const std::string at = path + ".map[" + std::to_string(i) + "]";
      if (!(*items)[i].is_object()) Refuse(at, "an object {...}", (*items)[i]);
      ReadMapItem((*items)[i], at, p.map.items.emplace_back());
    }
  }
  p.unknownFields = m.Unknown();
}

// One request of the Test center's history; whether the codec sends it is checked with the
// rest (TestCenterProblem).
void ReadTestRequest(const Json& object, const std::string& path, SavedTestRequest& request) {
  Members m(object, path);
  m.Int("slave_id", request.slaveId);
  const Json* pdu = m.Find("pdu");
  if (pdu == nullptr) throw Refused{m.Field("pdu") + ": missing: every request needs its PDU"};
  const TestPdu parsed = pdu->is_string() ? ParseTestPdu(pdu->get<std::string>()) : TestPdu{};
  if (!pdu->is_string() || !parsed.problem.empty()) Refuse(m.Field("pdu"), "hex bytes such as \"08 00 00 A5 37\"", *pdu);
  request.pdu = parsed.pdu;
  request.unknownFields = m.Unknown();
}

Workspace Read(const Json& doc) {
  if (!doc.is_object()) throw Refused{"must be a JSON object {...}, not " + Shown(doc)};
  Members top(doc, "");
  const Json* format = top.Find("format");
  if (format == nullptr) throw Refused{"format: missing; a workspace file says \"format\": \"vantrel-workspace\""};
  if (*format != kWorkspaceFormat) Refuse("format", "\"vantrel-workspace\"", *format);
  const Json* version = top.Find("version");
  const std::string readable = std::to_string(kWorkspaceVersion);
  if (version == nullptr) throw Refused{"version: missing; this program reads version " + readable};
  if (!version->is_number_integer() || *version < 1) Refuse("version", readable, *version);
  if (*version > kWorkspaceVersion) {
    throw Refused{"version: " + Shown(*version) + " is newer than this program reads (" + readable +
                  "), and its members may mean something else; open it with a newer Vantrel Modbus Scanner"};
  }
  Workspace ws;
  if (const Json* connection = top.Nested("connection", false)) {
    ReadConnection(*connection, ws.connection, ws.unknownConnectionFields);
  }
  if (const Json* polls = top.Nested("polls", true)) {
    for (std::size_t i = 0; i < polls->size(); ++i) {
      const std::string path = PollPath(i);
      if (!(*polls)[i].is_object()) Refuse(path, "an object {...}", (*polls)[i]);
      ReadPoll((*polls)[i], path, ws.polls.emplace_back());
    }
  }
  if (const Json* history = top.Nested("test_center", true)) {
    for (std::size_t i = 0; i < history->size(); ++i) {
      const std::string path = "test_center[" + std::to_string(i) + "]";
      if (!(*history)[i].is_object()) Refuse(path, "an object {...}", (*history)[i]);
      ReadTestRequest((*history)[i], path, ws.testCenter.emplace_back());
    }
  }
  ws.unknownFields = top.Unknown();
  if (std::string problem = WorkspaceProblem(ws); !problem.empty()) throw Refused{std::move(problem)};
  // The last ones are kept, as the Test center keeps them.
  if (ws.testCenter.size() > kTestHistorySize) {
    ws.testCenter.erase(ws.testCenter.begin(), ws.testCenter.end() - static_cast<std::ptrdiff_t>(kTestHistorySize));
  }
  return ws;
}

std::string ConnectionProblem(const LineConnection& c) {
  const auto must = [](const char* name, const char* what, int found) {
    return MustBe(std::string("connection.") + name, what, std::to_string(found));
  };
  if (!IsUtf8(c.device)) return "connection.device: must be UTF-8 text";
  if (!IsNetworkMode(c.mode) && c.device.empty()) {
    return "connection.device: must name the serial port (COMn or a device path), not \"\"";
  }
  if (c.baud <= 0) return must("baud", "a baud rate above 0", c.baud);
  if (c.dataBits != 7 && c.dataBits != 8) return must("data_bits", "7 or 8", c.dataBits);
  if (!IsParity(c.parity)) return MustBe("connection.parity", "N, O, E, M or S", Shown(std::string(1, c.parity)));
  if (c.stopBits < 1 || c.stopBits > 3) return must("stop_bits", "1, 1.5 or 2", c.stopBits);
  if (!IsUtf8(c.host)) return "connection.host: must be UTF-8 text";
  if (c.port < 1 || c.port > 65535) return must("port", "1 to 65535", c.port);
  if (c.timeoutMs < 0) return must("timeout_ms", "0 or more", c.timeoutMs);
  if (c.turnaroundMs < 0) return must("turnaround_ms", "0 or more", c.turnaroundMs);
  return "";
}

// The request as the program checks its own settings, each refusal laid on its member.
std::string PollProblem(const PollDefinition& p, const std::string& at) {
  const auto must = [&at](const char* name, const std::string& what, int found) {
    return MustBe(at + "." + name, what, std::to_string(found));
  };
  if (!IsUtf8(p.name)) return at + ".name: must be UTF-8 text";
  const std::string f = std::to_string(p.function);
  switch (CheckRequestSettings(p.function, p.slaveId, p.offset, p.length)) {
    case MB_REQUEST_UNKNOWN_FUNCTION_CODE:
      return must("function", "1, 2, 3 or 4", p.function);
    case MB_REQUEST_BAD_SLAVE_ID:
      return must("slave_id", "1 to 255", p.slaveId);
    case MB_REQUEST_BAD_OFFSET:
      return must("offset", "0 to 65536", p.offset);
    case MB_REQUEST_TOO_LONG:
    case MB_REQUEST_BAD_LENGTH:
      return must("length", std::string(p.function <= 2 ? "1 to 2000" : "1 to 125") + " for function " + f, p.length);
    case MB_REQUEST_OUT_OF_RANGE:
      return at + ".length: offset " + std::to_string(p.offset) + " and length " + std::to_string(p.length) +
             " go past the last address function " + f + " reads (offset + length at most " +
             (p.function == 4 ? "65535" : "10000") + ")";
    default:
      break;
  }
  if (p.periodMs != 0 && p.periodMs < kMinPeriodMs) return must("period_ms", "0 (once) or at least 100", p.periodMs);
  // No request reads more than 125 registers, so no wider gap could be read across.
  if (p.mergeGap < 0 || p.mergeGap > 125) return must("merge_gap", "0 to 125", p.mergeGap);
  const auto item = [](int i) { return "map[" + std::to_string(i) + "]"; };
  if (const MapProblem problem = CheckMap(p.map, item); problem.item >= 0) {
    return at + "." + item(problem.item) + "." + problem.column + ": " + problem.message;
  }
  return "";
}

// The unknown members kept as text, added after the known ones (never over one of them).
void AppendUnknown(Json& object, const std::string& unknown) {
  if (unknown.empty()) return;
  const Json kept = Json::parse(unknown, nullptr, false);
  if (!kept.is_object()) return;
  for (const auto& [key, value] : kept.items()) {
    if (!object.contains(key)) object[key] = value;
  }
}

// A request that the codec would not send: a broadcast of a function that reads is laid on
// the slave id, the rest on the PDU, with the first line of the explanation.
std::string TestCenterProblem(const std::vector<SavedTestRequest>& history) {
  for (std::size_t i = 0; i < history.size(); ++i) {
    const SavedTestRequest& r = history[i];
    const std::string at = "test_center[" + std::to_string(i) + "]";
    if (r.slaveId < 0 || r.slaveId > 255) return MustBe(at + ".slave_id", "0 to 255", std::to_string(r.slaveId));
    const int check = CheckRequest(r.slaveId, r.pdu.data(), static_cast<int>(r.pdu.size()));
    if (check == MB_REQUEST_NO_BROADCAST) {
      return MustBe(at + ".slave_id", "1 to 255 for function " + std::to_string(r.pdu[0]) + ", which cannot be broadcast",
                    "0");
    }
    if (check != MB_REQUEST_OK) {
      std::string why = PduRequestErrorText(check);
      why = why.substr(0, why.find('\n'));
      if (why.rfind("Error - ", 0) == 0) why.erase(0, 8);
      return at + ".pdu: " + PduText(r.pdu) + " is refused: " + why;
    }
  }
  return "";
}

// An item with the members that differ from the defaults, but for the four that place it.
Json MapItemJson(const MapItem& item) {
  Json object = {{"name", item.name},
                 {"table", MapTableName(item.table)},
                 {"address", item.address},
                 {"type", MapTypeName(item)}};
  if (item.wordOrder) object["word_order"] = WordOrderOptionName(*item.wordOrder);
  if (item.scale != 1) object["scale"] = item.scale;
  if (item.offset != 0) object["offset"] = item.offset;
  if (!item.unit.empty()) object["unit"] = item.unit;
  if (item.decimals != -1) object["decimals"] = item.decimals;
  if (!item.description.empty()) object["description"] = item.description;
  if (item.writable != DefaultWritable(item.table)) object["writable"] = item.writable;
  if (!item.value.empty()) object["value"] = item.value;
  AppendUnknown(object, item.unknownFields);
  return object;
}

}  // namespace

std::string WorkspaceProblem(const Workspace& workspace) {
  if (std::string problem = ConnectionProblem(workspace.connection); !problem.empty()) return problem;
  for (std::size_t i = 0; i < workspace.polls.size(); ++i) {
    if (std::string problem = PollProblem(workspace.polls[i], PollPath(i)); !problem.empty()) {
      return problem;
    }
  }
  return TestCenterProblem(workspace.testCenter);
}

bool ReadWorkspace(const std::string& text, const std::string& source, Workspace& out, std::string& error) {
  try {
    out = Read(Json::parse(text));
    return true;
  } catch (const Json::parse_error& e) {
    // what() begins with the library's own tag: "[json.exception.parse_error.101] parse error ..."
    const std::string what = e.what();
    const std::size_t tag = what.find("] ");
    error = source + ": not JSON: " + (tag == std::string::npos ? what : what.substr(tag + 2));
  } catch (const Refused& refused) {
    error = source + ": " + refused.message;
  }
  return false;
}

bool LoadWorkspace(const std::string& path, Workspace& out, std::string& error) {
  std::string text;
  return ReadWholeFile(path, text, error) && ReadWorkspace(text, path, out, error);
}

std::string WorkspaceJson(const Workspace& workspace) {
  const LineConnection& c = workspace.connection;
  Json connection = {{"mode", ModeOptionName(c.mode)},
                     {"device", c.device},
                     {"baud", c.baud},
                     {"data_bits", c.dataBits},
                     {"parity", std::string(1, Upper(c.parity))},
                     {"stop_bits", c.stopBits == 3 ? Json(1.5) : Json(c.stopBits)},
                     {"rs485", c.rs485},
                     {"host", c.host},
                     {"port", c.port},
                     {"timeout_ms", c.timeoutMs}};
  // A line with the usual turnaround is written as before the turnaround was kept.
  if (c.turnaroundMs != LineConnection{}.turnaroundMs) connection["turnaround_ms"] = c.turnaroundMs;
  AppendUnknown(connection, workspace.unknownConnectionFields);
  Json polls = Json::array();
  for (const PollDefinition& p : workspace.polls) {
    Json poll = {{"name", p.name},
                 {"slave_id", p.slaveId},
                 {"function", p.function},
                 {"offset", p.offset},
                 {"length", p.length},
                 {"period_ms", p.periodMs},
                 {"enabled", p.enabled},
                 {"on_failure", p.policy == FailurePolicy::KeepPolling ? "keep" : "stop"},
                 {"word_order", WordOrderOptionName(p.view.wordOrder)},
                 {"show_64bit", p.view.show64},
                 {"wire_address", p.view.wireAddress}};
    // A definition that reads no map is written as before maps were.
    if (!p.map.empty() || p.byMap || p.mergeGap != kDefaultMergeGap) {
      poll["by_map"] = p.byMap;
      poll["merge_gap"] = p.mergeGap;
    }
    if (!p.map.empty()) {
      Json items = Json::array();
      for (const MapItem& item : p.map.items) items.push_back(MapItemJson(item));
      poll["map"] = std::move(items);
    }
    AppendUnknown(poll, p.unknownFields);
    polls.push_back(std::move(poll));
  }
  Json doc = {{"format", kWorkspaceFormat},
              {"version", kWorkspaceVersion},
              {"connection", std::move(connection)},
              {"polls", std::move(polls)}};
  if (!workspace.testCenter.empty()) {
    Json history = Json::array();
    const auto& all = workspace.testCenter;
    for (auto r = all.size() > kTestHistorySize ? all.end() - static_cast<std::ptrdiff_t>(kTestHistorySize) : all.begin(); r != all.end(); ++r) {
      Json request = {{"slave_id", r->slaveId}, {"pdu", PduText(r->pdu)}};
      AppendUnknown(request, r->unknownFields);
      history.push_back(std::move(request));
    }
    doc["test_center"] = std::move(history);
  }
  AppendUnknown(doc, workspace.unknownFields);
  // A text that is no UTF-8 is refused before a save; replaced here, so that this never throws.
  return doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool SaveWorkspace(const std::string& path, const Workspace& workspace, std::string& error) {
  if (const std::string problem = WorkspaceProblem(workspace); !problem.empty()) {
    error = path + ": " + problem;
    return false;
  }
  std::string why;
  if (!ReplaceFileAtomically(path, WorkspaceJson(workspace), "SaveWorkspace", &why)) {
    error = path + ": " + why;
    return false;
  }
  return true;
}

Workspace WorkspaceFromSettings(const ScannerSettings& s) {
  Workspace ws;
  LineConnection& c = ws.connection;
  ModeFromInt(s.modbus_mode, c.mode);
  c.device = s.device_path.empty() ? "COM" + std::to_string(s.com_port) : s.device_path;
  c.baud = s.buad_rate;
  c.dataBits = s.data_bits;
  c.parity = Upper(s.parity);
  c.stopBits = s.stop_bits;
  c.rs485 = s.rs485 != 0;
  c.host = s.tcp_host;
  c.port = s.tcp_port;
  c.timeoutMs = s.recv_time_out;
  c.turnaroundMs = s.turnaround_ms;
  PollDefinition& p = ws.polls.emplace_back();
  p.slaveId = s.request_id;
  p.function = s.request_function_code;
  p.offset = s.request_offset;
  p.length = s.request_length;
  p.periodMs = s.PollPeriodMs();
  p.policy = s.keep_polling_on_failure != 0 ? FailurePolicy::KeepPolling : FailurePolicy::StopAndExplain;
  if (s.word_order >= 0 && s.word_order <= 3) p.view.wordOrder = static_cast<WordOrder>(s.word_order);
  p.view.show64 = s.show_64bit != 0;
  p.view.wireAddress = s.show_wire_address != 0;
  return ws;
}

void StoreInSettings(const Workspace& workspace, ScannerSettings& s) {
  const LineConnection& c = workspace.connection;
  s.modbus_mode = static_cast<int>(c.mode);
  // A numbered port stays a number, as the Connection page stores it.
  if (const int port = ComPortNumber(c.device); port > 0) {
    s.com_port = port;
    s.device_path.clear();
  } else {
    s.device_path = c.device;
  }
  s.buad_rate = c.baud;
  s.data_bits = c.dataBits;
  s.parity = c.parity;
  s.stop_bits = c.stopBits;
  s.rs485 = c.rs485 ? 1 : 0;
  s.tcp_host = c.host;
  s.tcp_port = c.port;
  s.recv_time_out = c.timeoutMs;
  s.turnaround_ms = c.turnaroundMs;
  if (workspace.polls.empty()) return;
  const PollDefinition& p = workspace.polls.front();
  s.request_id = p.slaveId;
  s.request_function_code = p.function;
  s.request_offset = p.offset;
  s.request_length = p.length;
  s.SetPollPeriodMs(p.periodMs);
  s.keep_polling_on_failure = p.policy == FailurePolicy::KeepPolling ? 1 : 0;
  s.word_order = static_cast<int>(p.view.wordOrder);
  s.show_64bit = p.view.show64 ? 1 : 0;
  s.show_wire_address = p.view.wireAddress ? 1 : 0;
}

}  // namespace vantrel
