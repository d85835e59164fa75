#include "session/MonitorTexts.h"

#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "modbus/Functions.h"
#include "session/DataLog.h"

namespace vantrel {
namespace {

using Json = nlohmann::ordered_json;

std::string Ms(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", ms);
  return text;
}

// Milliseconds to the microsecond as a JSON number, not 0.30000000000000004.
double Rounded(double ms) { return std::round(ms * 1000) / 1000; }

std::string ValuesText(const MonitorFrame& f) {
  std::string text;
  if (!f.bits.empty()) {
    for (std::uint8_t b : f.bits) text += (text.empty() ? "" : " ") + std::to_string(b);
  } else {
    for (std::uint16_t v : f.registers) text += (text.empty() ? "" : " ") + std::to_string(v);
  }
  return text;
}

}  // namespace

std::string FrameHex(const MonitorFrame& frame) {
  std::string text = HexBytes(frame.bytes.data(), static_cast<int>(frame.bytes.size()));
  if (!text.empty()) text.pop_back();
  return text;
}

std::string FrameSummaryLine(const MonitorFrame& f) {
  char head[128];
  const std::string gap = f.gapMs < 0 ? "" : "+" + Ms(f.gapMs);
  if (f.kind == FrameKind::Noise && !f.crcError) {
    std::snprintf(head, sizeof head, "%12s %11s  %-9s %-32s", Ms(f.timeMs).c_str(), gap.c_str(), "noise", "");
  } else {
    char fn[48];
    std::snprintf(fn, sizeof fn, "%02X %s", f.function, FunctionName(f.function).c_str());
    std::snprintf(head, sizeof head, "%12s %11s  %-9s id %3d  %-25s", Ms(f.timeMs).c_str(), gap.c_str(),
                  f.crcError ? "crc-error" : FrameKindName(f.kind), f.slaveId, fn);
  }
  std::string line = head;
  char ta[32] = "";
  if (f.turnaroundMs >= 0) std::snprintf(ta, sizeof ta, "ta %s", Ms(f.turnaroundMs).c_str());
  char cell[32];
  std::snprintf(cell, sizeof cell, "  %-12s", ta);
  line += cell;
  line += f.broadcast ? "broadcast " + f.detail : f.detail;
  line += "  [" + FrameHex(f) + "]";
  return line;
}

std::string FrameCsvHeader() {
  return "time_ms,gap_ms,kind,slave_id,function,function_name,address,wire_address,quantity,turnaround_ms,values,"
         "detail,hex";
}

std::string FrameCsvLine(const MonitorFrame& f) {
  const bool framed = f.kind != FrameKind::Noise || f.crcError;
  std::string line = Ms(f.timeMs) + "," + (f.gapMs < 0 ? "" : Ms(f.gapMs)) + "," +
                     (f.crcError ? "crc-error" : FrameKindName(f.kind)) + ",";
  line += framed ? std::to_string(f.slaveId) + "," + std::to_string(f.function) + "," +
                       CsvField(FunctionName(f.function)) + ","
                 : ",,,";
  line += f.wireAddress >= 0 ? std::to_string(f.wireAddress + 1) + "," + std::to_string(f.wireAddress) + "," : ",,";
  line += (f.quantity >= 0 ? std::to_string(f.quantity) : "") + ",";
  line += (f.turnaroundMs >= 0 ? Ms(f.turnaroundMs) : "") + ",";
  line += ValuesText(f) + "," + CsvField(f.detail) + "," + FrameHex(f);
  return line;
}

std::string FrameJson(const MonitorFrame& f) {
  Json j;
  j["time"] = Rounded(f.timeMs);
  if (f.gapMs >= 0) j["gap_ms"] = Rounded(f.gapMs);
  j["kind"] = FrameKindName(f.kind);
  const bool framed = f.kind != FrameKind::Noise || f.crcError;
  if (framed) {
    j["slave_id"] = f.slaveId;
    j["function"] = f.function;
    j["function_name"] = FunctionName(f.function);
  } else {
    j["slave_id"] = nullptr;
    j["function"] = nullptr;
  }
  j["hex"] = FrameHex(f);
  if (f.exchange) j["exchange"] = f.exchange;
  if (f.broadcast) j["broadcast"] = true;
  if (f.crcError) j["crc_error"] = true;
  if (f.turnaroundMs >= 0) j["turnaround_ms"] = Rounded(f.turnaroundMs);
  if (f.wireAddress >= 0) {
    j["address"] = f.wireAddress + 1;
    j["wire_address"] = f.wireAddress;
  }
  if (f.quantity >= 0) j["quantity"] = f.quantity;
  if (!f.registers.empty()) j["registers"] = f.registers;
  if (!f.bits.empty()) j["bits"] = f.bits;
  if (f.exceptionCode >= 0) {
    j["exception_code"] = f.exceptionCode;
    j["exception"] = f.exceptionTitle;
  }
  if (f.subFunction >= 0) j["sub_function"] = f.subFunction;
  if (f.meiType >= 0) {
    j["mei_type"] = f.meiType;
    j["read_code"] = f.readDeviceIdCode;
  }
  if (f.objectId >= 0) j["object_id"] = f.objectId;
  if (!f.objects.empty()) {
    Json objects = Json::array();
    for (const DeviceIdObject& o : f.objects) {
      objects.push_back({{"id", o.id}, {"name", DeviceIdObjectName(o.id)}, {"value", PrintableText(o.value)}});
    }
    j["objects"] = objects;
  }
  if (!f.detail.empty()) j["detail"] = f.detail;
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string FiguresTable(const std::map<int, SlaveFigures>& figures) {
  std::string text = "slave id  requests   replies exceptions crc errors unanswered  turnaround ms min/avg/max\n";
  char line[192];
  for (const auto& [id, f] : figures) {
    std::string turnaround = "-";
    if (f.turnarounds) {
      turnaround = Ms(f.minTurnaroundMs) + " / " + Ms(f.AverageTurnaroundMs()) + " / " + Ms(f.maxTurnaroundMs);
    }
    std::snprintf(line, sizeof line, "%8d %9ld %9ld %10ld %10ld %10ld  %s\n", id, f.requests, f.replies, f.exceptions,
                  f.crcErrors, f.unanswered, turnaround.c_str());
    text += line;
  }
  return text;
}

}  // namespace vantrel
