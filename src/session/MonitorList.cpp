#include "session/MonitorList.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "modbus/Functions.h"
#include "serial/PortMap.h"
#include "session/MonitorTexts.h"
#include "session/ValueNames.h"

namespace vantrel {

namespace {

std::string Ms(double ms) {
  if (ms < 0) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", ms);
  return text;
}

std::string FunctionText(const MonitorFrame& f) {
  if (f.kind == FrameKind::Noise) return "";
  char code[8];
  std::snprintf(code, sizeof code, "0x%02X ", f.function);
  return code + FunctionName(f.function);
}

}  // namespace

bool IsErrorEntry(const MonitorEntry& e) {
  return e.unanswered || e.frame.kind == FrameKind::Exception || e.frame.kind == FrameKind::Noise;
}

bool PassesFilter(const MonitorEntry& e, const MonitorFilter& filter) {
  const bool noise = e.frame.kind == FrameKind::Noise;
  if (filter.slaveId >= 0 && (noise || e.frame.slaveId != filter.slaveId)) return false;
  if (filter.function >= 0 && (noise || (e.frame.function & 0x7F) != filter.function)) return false;
  return !filter.errorsOnly || IsErrorEntry(e);
}

const char* MonitorColumnTitle(int column) {
  static const char* const titles[kColumnCount] = {"Time (ms)", "Gap (ms)", "Kind", "Slave", "Function", "Summary",
                                                   "Turnaround (ms)"};
  return column >= 0 && column < kColumnCount ? titles[column] : "";
}

std::array<std::string, kColumnCount> MonitorRowTexts(const MonitorEntry& e) {
  const MonitorFrame& f = e.frame;
  std::string kind = FrameKindName(f.kind);
  if (f.crcError) kind += " (CRC error)";
  if (e.unanswered) kind += " (unanswered)";
  if (f.broadcast) kind += " (broadcast)";
  std::string summary = f.detail;
  if (f.kind == FrameKind::Noise && summary.empty()) summary = std::to_string(f.bytes.size()) + " bytes";
  return {Ms(f.timeMs),
          Ms(f.gapMs),
          kind,
          f.kind == FrameKind::Noise ? "" : std::to_string(f.slaveId),
          FunctionText(f),
          summary,
          Ms(f.turnaroundMs)};
}

std::string MonitorDetailsText(const MonitorEntry& e) {
  const MonitorFrame& f = e.frame;
  std::string text = FrameSummaryLine(f) + "\n\n";
  const auto field = [&text](const char* name, const std::string& value) {
    if (!value.empty()) text += std::string(name) + ": " + value + "\n";
  };
  const auto number = [](int n) { return n >= 0 ? std::to_string(n) : std::string(); };
  const auto row = MonitorRowTexts(e);
  field("Kind", row[kColKind]);
  field("Slave id", row[kColSlave]);
  field("Function", row[kColFunction]);
  field("Exchange", f.exchange ? std::to_string(f.exchange) : "");
  if (f.wireAddress >= 0) field("Address", std::to_string(f.wireAddress + 1) + " (wire " + std::to_string(f.wireAddress) + ")");
  field("Quantity", number(f.quantity));
  field("Byte count", number(f.byteCount));
  std::string values;
  for (std::uint16_t r : f.registers) values += (values.empty() ? "" : " ") + std::to_string(r);
  field("Registers", values);
  values.clear();
  for (std::uint8_t b : f.bits) values += b ? '1' : '0';
  field("Bits", values);
  field("Exception", f.exceptionTitle);
  field("Sub-function", number(f.subFunction));
  for (const DeviceIdObject& o : f.objects) field(("Object " + std::to_string(o.id)).c_str(), o.value);
  field("Detail", f.detail);
  field("Turnaround (ms)", row[kColTurnaround]);
  field("Hex", FrameHex(f));
  return text;
}

const MonitorEntry& MonitorList::Row(int row) const {
  return entries_.at(static_cast<std::size_t>(visible_.at(static_cast<std::size_t>(row)) - firstSeq_));
}

int MonitorList::RowOf(long seq) const {
  const auto at = std::lower_bound(visible_.begin(), visible_.end(), seq);
  return at != visible_.end() && *at == seq ? static_cast<int>(at - visible_.begin()) : -1;
}

void MonitorList::MarkUnanswered(MonitorListChange& change) {
  MonitorEntry& e = entries_[static_cast<std::size_t>(openRequest_ - firstSeq_)];
  const bool before = PassesFilter(e, filter_);
  e.unanswered = true;
  if (!before && PassesFilter(e, filter_)) {
    // It passes now between rows already shown: the model reads the rows afresh.
    visible_.insert(std::upper_bound(visible_.begin(), visible_.end(), openRequest_), openRequest_);
    change.reset = true;
  } else if (before) {
    change.changedRows.push_back(static_cast<int>(openRequest_));  // a sequence number until Add ends
  }
  openRequest_ = -1;
}

MonitorListChange MonitorList::Add(const std::vector<MonitorFrame>& frames) {
  MonitorListChange change;
  const int before = RowCount();
  for (const MonitorFrame& f : frames) {
    const long seq = firstSeq_ + static_cast<long>(entries_.size());
    if (f.kind == FrameKind::Request) {
      if (openRequest_ >= 0) MarkUnanswered(change);
      if (!f.broadcast) openRequest_ = seq;
    } else if (openRequest_ >= 0 && (f.kind != FrameKind::Noise || f.crcError) &&
               (f.crcError || f.exchange == entries_[static_cast<std::size_t>(openRequest_ - firstSeq_)].frame.exchange)) {
      openRequest_ = -1;  // answered, if only by a reply whose CRC failed
    }
    entries_.push_back({f, false});
    if (PassesFilter(entries_.back(), filter_)) {
      visible_.push_back(seq);
      ++change.appended;
    }
    while (entries_.size() > capacity_) {
      entries_.pop_front();
      ++firstSeq_;
      ++dropped_;
      if (openRequest_ >= 0 && openRequest_ < firstSeq_) openRequest_ = -1;
      while (!visible_.empty() && visible_.front() < firstSeq_) {
        visible_.pop_front();
        ++change.removedFront;
      }
    }
  }
  if (change.reset || change.removedFront > before) {
    change = {0, 0, true, {}};
    return change;
  }
  std::vector<int> rows;
  for (int seq : change.changedRows) {
    const int row = RowOf(seq);
    if (row >= 0 && row < RowCount() - change.appended) rows.push_back(row);
  }
  change.changedRows = rows;
  return change;
}

MonitorListChange MonitorList::Expire(double nowMs) {
  MonitorListChange change;
  if (openRequest_ < 0) return change;
  const MonitorFrame& f = entries_[static_cast<std::size_t>(openRequest_ - firstSeq_)].frame;
  if (nowMs <= f.endMs + replyWindowMs_) return change;
  const long seq = openRequest_;
  MarkUnanswered(change);
  if (!change.reset) {
    change.changedRows.clear();
    if (RowOf(seq) >= 0) change.changedRows.push_back(RowOf(seq));
  }
  return change;
}

MonitorListChange MonitorList::SetFilter(const MonitorFilter& filter) {
  filter_ = filter;
  Rebuild();
  return {0, 0, true, {}};
}

void MonitorList::Rebuild() {
  visible_.clear();
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (PassesFilter(entries_[i], filter_)) visible_.push_back(firstSeq_ + static_cast<long>(i));
  }
}

void MonitorList::Clear() {
  firstSeq_ += static_cast<long>(entries_.size());
  entries_.clear();
  visible_.clear();
  openRequest_ = -1;
}

MonitorSaveFile::Format MonitorSaveFile::FormatOf(const std::string& path) {
  std::string ext = path.size() >= 5 ? path.substr(path.size() - 5) : "";
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".pcap" ? Format::Pcap : Format::Csv;
}

bool MonitorSaveFile::Open(const std::string& path, Format format, double originEpochMs, std::string& error) {
  Close();
  format_ = format;
  path_ = path;
  written_ = 0;
  if (format == Format::Pcap) {
    pcap_ = std::make_unique<PcapWriter>();
    if (!pcap_->Open(path, originEpochMs, error)) return false;
  } else {
    csv_.open(path, std::ios::out | std::ios::trunc);
    if (!csv_) {
      error = "cannot be written";
      return false;
    }
    csv_ << FrameCsvHeader() << "\n";
    csv_.flush();
  }
  open_ = true;
  return true;
}

void MonitorSaveFile::Write(const MonitorFrame& frame) {
  if (!open_) return;
  if (format_ == Format::Pcap) {
    if (pcap_->Write(frame)) ++written_;
  } else {
    csv_ << FrameCsvLine(frame) << "\n";
    csv_.flush();  // a file read while the monitor runs has every frame so far
    ++written_;
  }
}

void MonitorSaveFile::Close() {
  if (pcap_) pcap_->Close();
  pcap_.reset();
  if (csv_.is_open()) csv_.close();
  open_ = false;
}

std::string MonitorDevicePath(const std::string& deviceOrCom) {
  const int com = ComPortNumber(deviceOrCom);
  const std::string device = com ? DeviceForPort(com) : deviceOrCom;
  if (device.empty()) return device;
  std::error_code error;
  const std::filesystem::path real = std::filesystem::canonical(device, error);
  return error ? device : real.string();
}

}  // namespace vantrel
