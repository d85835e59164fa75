#include "settings/ScannerSettings.h"

#include <algorithm>
#include <climits>

#include "diag/Diagnostics.h"
#include "settings/IniDocument.h"

namespace vantrel {

ScannerSettings scannerSettings;

namespace {

constexpr const char* kSection = "Vantrel Modbus Scanner";
constexpr int kRecentWorkspaceKeys = 4;

// The letter goes unencoded into the usage report's form body, so only these may pass.
// The lower-case forms are harmless there and the serial port takes either case.
bool IsParityLetter(char c) {
  for (char letter : {'N', 'O', 'E', 'M', 'S', 'n', 'o', 'e', 'm', 's'}) {
    if (c == letter) return true;
  }
  return false;
}

// The whole seconds that poll_frequency keeps for a period that has a fraction: the nearest,
// but at least 1, so that a reader that knows only poll_frequency still polls.
int WholeSeconds(int ms) { return std::max(1, ms / 1000 + (ms % 1000 >= 500 ? 1 : 0)); }

struct ResourceText {
  int id;
  const char* text;
};

constexpr ResourceText kResourceTexts[] = {
    {1, "Preferences"},
};

}  // namespace

ScannerSettings::ScannerSettings() : ScannerSettings(ProgramFileFolders()) {}

ScannerSettings::ScannerSettings(std::string startupPath) : ScannerSettings(FileFolders{startupPath, startupPath}) {}

ScannerSettings::ScannerSettings(const FileFolders& folders)
    : startup_path(folders.settings), logfile_path(folders.logs + "/log.txt") {}

int PollPeriodMs(int pollFrequency, int pollPeriodMs) {
  if (pollPeriodMs > 0) return pollPeriodMs;
  if (pollFrequency <= 0) return 0;
  return static_cast<int>(std::min<long long>(static_cast<long long>(pollFrequency) * 1000, INT_MAX));
}

int ScannerSettings::PollPeriodMs() const { return vantrel::PollPeriodMs(poll_frequency, poll_period_ms); }

void ScannerSettings::SetPollPeriodMs(int ms) {
  if (ms > 0) ms = std::max(ms, kMinPollPeriodMs);
  if (ms <= 0) {
    poll_frequency = 0;
    poll_period_ms = 0;
  } else if (ms % 1000 == 0) {
    poll_frequency = ms / 1000;
    poll_period_ms = 0;
  } else {
    poll_frequency = WholeSeconds(ms);
    poll_period_ms = ms;
  }
}

bool StorableInSettings(const std::string& text) {
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

std::string ScannerSettings::FilePath() const { return startup_path + "/settings.ini"; }

bool ScannerSettings::Load() {
  IniDocument doc(FilePath());
  if (!doc.Load()) return false;

  // Each current value is the default, so a missing key keeps its field.
  check_for_updates = doc.GetBool(kSection, "check_for_updates", check_for_updates != 0) ? 1 : 0;
  poll_frequency = doc.GetInt(kSection, "poll_frequency", poll_frequency);
  // A negative period would arm the poll timer with no delay at all and flood the line.
  if (poll_frequency < 0) {
    WriteDebugLog("ScannerSettings::Load ignored poll_frequency=%d in [%s]: a negative "
                  "frequency is taken as 0 (Once)",
                  poll_frequency, doc.path.c_str());
    poll_frequency = 0;
  }
  // The finer period counts only while it agrees with the whole seconds beside it: a file
  // whose poll_frequency was changed by hand, or by a reader that knows only that key, means
  // poll_frequency.
  poll_period_ms = 0;
  const int ms = doc.GetInt(kSection, "poll_period_ms", 0);
  if (ms > 0 && ms != PollPeriodMs()) {
    if (ms >= kMinPollPeriodMs && WholeSeconds(ms) == poll_frequency) {
      SetPollPeriodMs(ms);
    } else {
      WriteDebugLog("ScannerSettings::Load ignored poll_period_ms=%d in [%s]: %s; the period is "
                    "poll_frequency=%d",
                    ms, doc.path.c_str(), ms < kMinPollPeriodMs ? "below 100 ms" : "not poll_frequency's seconds",
                    poll_frequency);
    }
  }
  recv_time_out = doc.GetInt(kSection, "recv_time_out", recv_time_out);
  modbus_mode = doc.GetInt(kSection, "modbus_mode", modbus_mode);
  com_port = doc.GetInt(kSection, "com_port", com_port);
  buad_rate = doc.GetInt(kSection, "buad_rate", buad_rate);
  data_bits = doc.GetInt(kSection, "data_bits", data_bits);
  stop_bits = doc.GetInt(kSection, "stop_bits", stop_bits);
  const std::string letter = doc.GetString(kSection, "parity", std::string(1, parity));
  if (!letter.empty() && IsParityLetter(letter[0])) {
    parity = letter[0];
  } else if (!letter.empty()) {
    WriteDebugLog("ScannerSettings::Load ignored parity [%s] in [%s]: not N, O, E, M or S; "
                  "the parity stays %c",
                  letter.c_str(), doc.path.c_str(), parity);
  }
  logfile_path = doc.GetString(kSection, "logfile_path", logfile_path);
  data_format = doc.GetInt(kSection, "data_format", data_format);
  request_id = doc.GetInt(kSection, "request_id", request_id);
  request_length = doc.GetInt(kSection, "request_length", request_length);
  request_offset = doc.GetInt(kSection, "request_offset", request_offset);
  request_function_code = doc.GetInt(kSection, "request_function_code", request_function_code);
  always_write_multiple = doc.GetBool(kSection, "always_write_multiple", always_write_multiple != 0) ? 1 : 0;
  // Any other number would index past the table's captions, so it is refused here.
  const int order = doc.GetInt(kSection, "word_order", word_order);
  if (order >= 0 && order <= 3) {
    word_order = order;
  } else {
    WriteDebugLog("ScannerSettings::Load ignored word_order=%d in [%s]: not 0 to 3; the word order "
                  "stays %d",
                  order, doc.path.c_str(), word_order);
  }
  show_64bit = doc.GetBool(kSection, "show_64bit", show_64bit != 0) ? 1 : 0;
  keep_polling_on_failure = doc.GetBool(kSection, "keep_polling_on_failure", keep_polling_on_failure != 0) ? 1 : 0;
  show_wire_address = doc.GetBool(kSection, "show_wire_address", show_wire_address != 0) ? 1 : 0;
  data_log = doc.GetBool(kSection, "data_log", data_log != 0) ? 1 : 0;
  data_log_path = doc.GetString(kSection, "data_log_path", data_log_path);
  data_log_32bit = doc.GetBool(kSection, "data_log_32bit", data_log_32bit != 0) ? 1 : 0;
  device_path = doc.GetString(kSection, "device_path", device_path);
  rs485 = doc.GetBool(kSection, "rs485", rs485 != 0) ? 1 : 0;
  tcp_host = doc.GetString(kSection, "tcp_host", tcp_host);
  tcp_port = doc.GetInt(kSection, "tcp_port", tcp_port);
  turnaround_ms = doc.GetInt(kSection, "turnaround_ms", turnaround_ms);
  recent_workspaces.clear();
  for (int i = 1; i <= kRecentWorkspaceKeys; ++i) {
    const std::string path = doc.GetString(kSection, "recent_workspace_" + std::to_string(i), "");
    if (!path.empty()) recent_workspaces.push_back(path);
  }
  return true;
}

bool ScannerSettings::Save() const {
  // Built from memory alone: whatever else the old file held is not kept.
  IniDocument doc(FilePath());
  doc.SetBool(kSection, "check_for_updates", check_for_updates != 0);
  doc.SetInt(kSection, "poll_frequency", poll_frequency);
  doc.SetInt(kSection, "recv_time_out", recv_time_out);
  doc.SetInt(kSection, "modbus_mode", modbus_mode);
  doc.SetInt(kSection, "com_port", com_port);
  doc.SetInt(kSection, "buad_rate", buad_rate);
  doc.SetInt(kSection, "data_bits", data_bits);
  doc.SetInt(kSection, "stop_bits", stop_bits);
  doc.SetString(kSection, "parity", std::string(1, parity));
  doc.SetString(kSection, "logfile_path", logfile_path);
  doc.SetInt(kSection, "data_format", data_format);
  doc.SetInt(kSection, "request_id", request_id);
  doc.SetInt(kSection, "request_length", request_length);
  doc.SetInt(kSection, "request_offset", request_offset);
  doc.SetInt(kSection, "request_function_code", request_function_code);
  doc.SetBool(kSection, "always_write_multiple", always_write_multiple != 0);
  doc.SetInt(kSection, "word_order", word_order);
  doc.SetBool(kSection, "show_64bit", show_64bit != 0);
  doc.SetInt(kSection, "poll_period_ms", PollPeriodMs());
  doc.SetBool(kSection, "keep_polling_on_failure", keep_polling_on_failure != 0);
  doc.SetBool(kSection, "show_wire_address", show_wire_address != 0);
  doc.SetBool(kSection, "data_log", data_log != 0);
  doc.SetString(kSection, "data_log_path", data_log_path);
  doc.SetBool(kSection, "data_log_32bit", data_log_32bit != 0);
  doc.SetString(kSection, "device_path", device_path);
  doc.SetBool(kSection, "rs485", rs485 != 0);
  doc.SetString(kSection, "tcp_host", tcp_host);
  doc.SetInt(kSection, "tcp_port", tcp_port);
  doc.SetInt(kSection, "turnaround_ms", turnaround_ms);
  for (int i = 1; i <= kRecentWorkspaceKeys; ++i) {
    const std::size_t at = static_cast<std::size_t>(i - 1);
    if (at < recent_workspaces.size() && StorableInSettings(recent_workspaces[at])) {
      doc.SetString(kSection, "recent_workspace_" + std::to_string(i), recent_workspaces[at]);
    }
  }
  return doc.Save();
}

std::string LoadResourceText(int id) {
  static std::string slots[10];
  static int slot = 0;
  slot = (slot + 1) % 10;
  std::string& text = slots[slot];
  text.clear();
  for (const auto& resource : kResourceTexts) {
    if (resource.id == id) text = resource.text;
  }
  return text;
}

}  // namespace vantrel
