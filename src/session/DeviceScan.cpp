#include "session/DeviceScan.h"

#include <algorithm>
#include <cstdio>

#include "modbus/ModbusFrame.h"

namespace vantrel {

std::string LineSettingsText(const LineSettings& line) {
  char text[32];
  std::snprintf(text, sizeof text, "%d %d%c%d", line.baud, line.dataBits, line.parity, line.stopBits);
  return text;
}

std::vector<LineSettings> SweepLines(std::vector<int> bauds, const std::string& parities,
                                     const std::vector<int>& stopBits, int dataBits) {
  std::sort(bauds.begin(), bauds.end());
  bauds.erase(std::unique(bauds.begin(), bauds.end()), bauds.end());
  std::vector<LineSettings> lines;
  for (int baud : bauds) {
    for (char parity : parities) {
      for (int stop : stopBits) lines.push_back({baud, parity, dataBits, stop});
    }
  }
  return lines;
}

std::string CheckScanOptions(const ScanOptions& o) {
  if (o.firstId < 1 || o.lastId > 247 || o.firstId > o.lastId) {
    return "Enter a range of slave ids from 1 to 247, the first not above the last.";
  }
  if (o.timeoutMs < kMinScanTimeoutMs || o.timeoutMs > kMaxScanTimeoutMs) {
    return "Enter a time-out per id from 10 ms to 5000 ms.";
  }
  if (o.function < 1 || o.function > 4) return "Choose one of the read functions 01 to 04.";
  if (CheckRequestSettings(o.function, o.firstId, o.offset, o.length) != MB_REQUEST_OK) {
    return "The read does not fit a Modbus request: check its offset and length.";
  }
  return {};
}

DeviceScan::DeviceScan(ScanOptions options) : options_(std::move(options)) {
  const int lines = std::max<int>(1, static_cast<int>(options_.lines.size()));
  probes_total_ = (options_.lastId - options_.firstId + 1) * lines;
  id_ = options_.firstId;
  done_ = probes_total_ <= 0;
  Prepare();
}

void DeviceScan::Prepare() {
  step_ = {};
  if (done_) return;
  step_.id = id_;
  step_.line = options_.lines.empty() ? -1 : line_;
  const auto address = static_cast<std::uint16_t>(WireAddress(options_.offset));
  const auto length = static_cast<std::uint16_t>(options_.length);
  step_.pdu = {static_cast<std::uint8_t>(options_.function), static_cast<std::uint8_t>(address >> 8),
               static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(length >> 8),
               static_cast<std::uint8_t>(length)};
}

void DeviceScan::Advance() {
  if (++id_ > options_.lastId) {
    id_ = options_.firstId;
    if (++line_ >= std::max<int>(1, static_cast<int>(options_.lines.size()))) done_ = true;
  }
  Prepare();
}

void DeviceScan::Record(ProbeEnd end, const std::string& what, const std::uint8_t* pdu, int pduSize) {
  if (done_) return;
  if (step_.identify) {
    DeviceIdReply reply;
    const bool more = end == ProbeEnd::Reply && pdu != nullptr && ParseDeviceIdReply(pdu, pduSize, reply) &&
                      reader_.Take(reply) && !reader_.Done();
    if (more) {
      step_.pdu = reader_.NextRequest();
      return;
    }
    reader_.Stop();
    ScanFind& found = finds_.back();
    found.identification = reader_.objects().empty() ? kNoIdentification : reader_.Text();
    found.objects = reader_.objects();
    found.identified = true;
    Advance();
    return;
  }
  ++probes_done_;
  if (end != ProbeEnd::Silence) {
    ScanFind find;
    find.id = id_;
    find.line = step_.line;
    find.kind = end == ProbeEnd::Reply       ? FindKind::Device
                : end == ProbeEnd::Exception ? FindKind::Exception
                                             : FindKind::SomethingThere;
    find.what = end == ProbeEnd::BadCheck ? "a reply that fails its check: " + what : what;
    finds_.push_back(std::move(find));
    if (options_.identify && end != ProbeEnd::BadCheck && end != ProbeEnd::Garbage) {
      reader_ = DeviceIdReader();
      step_.identify = true;
      step_.pdu = reader_.NextRequest();
      return;
    }
  }
  Advance();
}

void DeviceScan::Cancel() {
  done_ = true;
  step_ = {};
}

int DeviceScan::DevicesFound() const {
  return static_cast<int>(std::count_if(finds_.begin(), finds_.end(),
                                        [](const ScanFind& f) { return f.kind != FindKind::SomethingThere; }));
}

long long DeviceScan::MsLeft(long long msSoFar) const {
  const long long left = std::max(0, probes_total_ - probes_done_);
  if (probes_done_ == 0) return left * options_.timeoutMs;
  return msSoFar * left / probes_done_;
}

std::string ScanItemText(int function, int offset) {
  static const char* const kItems[] = {"coil", "discrete input", "holding register", "input register"};
  static const int kBases[] = {0, 10000, 40000, 30000};
  if (function < 1 || function > 4) return "item " + std::to_string(offset);
  char text[48];
  std::snprintf(text, sizeof text, "%s %05d", kItems[function - 1], kBases[function - 1] + offset);
  return text;
}

const char* FindKindText(FindKind kind) {
  switch (kind) {
    case FindKind::Device: return "device";
    case FindKind::Exception: return "exception";
    default: return "something is there";
  }
}

std::string DeviceScan::FindText(const ScanFind& find, const std::string& where) const {
  std::string text = where + ", slave " + std::to_string(find.id) + ": ";
  switch (find.kind) {
    case FindKind::Device:
      text += ScanItemText(options_.function, options_.offset) + " = " + find.what;
      break;
    case FindKind::Exception:
      text += "a device answers with exception " + find.what;
      break;
    default:
      text += "something is there (" + find.what + "), probably at other line settings";
      break;
  }
  if (find.identified) text += "; " + find.identification;
  return text;
}

std::string DeviceScan::IdentificationText() const {
  std::string text = "Device identification of slave " + std::to_string(options_.firstId) + "\n\n";
  if (finds_.empty() || finds_[0].kind == FindKind::SomethingThere) {
    return text + "The device did not answer. Check the connection and the slave id.";
  }
  const std::vector<DeviceIdObject>& objects = finds_[0].objects;
  if (objects.empty()) text += "The device answers, but has no device identification (function 43/14).";
  for (const DeviceIdObject& o : objects) text += DeviceIdObjectName(o.id) + ": " + PrintableText(o.value) + "\n";
  return text;
}

std::string DeviceScan::FindDetails(const ScanFind& find, const std::string& where) const {
  ScanFind line = find;
  line.identified = false;
  std::string text = FindText(line, where);
  if (!find.identified) return text;
  if (find.objects.empty()) return text + "\n" + kNoIdentification;
  for (const DeviceIdObject& o : find.objects) text += "\n" + DeviceIdObjectName(o.id) + ": " + PrintableText(o.value);
  return text;
}

}  // namespace vantrel
