#include "app/LinkConnector.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>

#include "session/PollTexts.h"
#include "diag/Diagnostics.h"
#include "session/Line.h"
#include "serial/PortMap.h"
#include "settings/ScannerSettings.h"

namespace vantrel {
namespace {

ModbusMode ModeOf(const ScannerSettings& s) {
  ModbusMode mode = ModbusMode::Rtu;  // a stored position that names no mode speaks RTU
  ModeFromInt(s.modbus_mode, mode);
  return mode;
}

// A connect waits at least a second: a time-out of 0 would never let one finish.
int ConnectTimeoutMs(const ScannerSettings& s) { return std::max(s.recv_time_out, 1000); }

}  // namespace

bool IsNetworkConnection(const ScannerSettings& s) { return IsNetworkMode(ModeOf(s)); }

std::string ConnectionSummary(const ScannerSettings& s) {
  if (IsNetworkConnection(s)) return NetworkConnectionText(ModeOf(s), s.tcp_host, s.tcp_port);
  const std::string line = s.device_path.empty()
                               ? ConnectionText(s.com_port, s.buad_rate, s.parity, s.data_bits, s.stop_bits)
                               : DeviceConnectionText(s.device_path, s.buad_rate, s.parity, s.data_bits, s.stop_bits);
  // RTU, the program's first mode, goes unnamed; a line in ASCII says so, since its
  // settings alone look the same.
  return ModeOf(s) == ModbusMode::Rtu ? line : std::string(ModeName(ModeOf(s))) + " " + line;
}

LinkConnector::LinkConnector(const ScannerSettings& settings, Line& line, QObject* parent)
    : QObject(parent), settings_(settings), line_(line) {
  deadline_ = new QTimer(this);
  deadline_->setSingleShot(true);
  connect(deadline_, &QTimer::timeout, this, [this] {
    // The name lookup may outlast the connect's own bound: the window's word is final.
    line_.master().Close();
    failure_ = CannotConnectNetworkText(ConnectionSummary(settings_), ETIMEDOUT, ConnectTimeoutMs(settings_));
    Give(false);
  });
}

LinkConnector::Result LinkConnector::Open() {
  Cancel();
  line_.master().Close();
  line_.SetMode(ModeOf(settings_));
  failure_.clear();
  warning_.clear();
  if (IsNetworkConnection(settings_)) {
    line_.tcp().StartConnect(settings_.tcp_host, settings_.tcp_port, ConnectTimeoutMs(settings_));
    watch_ = new QSocketNotifier(line_.tcp().ConnectHandle(), QSocketNotifier::Read, this);
    connect(watch_, &QSocketNotifier::activated, this, [this] { Finish(); });
    deadline_->start(ConnectTimeoutMs(settings_));
    WriteDebugLog("Connecting to %s", ConnectionSummary(settings_).c_str());
    return Result::Pending;
  }
  int opened = 0;
  if (settings_.device_path.empty()) {
    opened = line_.serial().Open(settings_.com_port, settings_.buad_rate, settings_.parity, settings_.data_bits,
                          settings_.stop_bits);
    const PortEntry port = DescribePort(settings_.com_port);
    WriteDebugLog("COM%d is %s%s%s", settings_.com_port, port.device.empty() ? "no device" : port.device.c_str(),
                  port.description.empty() ? "" : ", ", port.description.c_str());
  } else {
    opened = line_.serial().OpenDevice(settings_.device_path, settings_.buad_rate, settings_.parity,
                                     settings_.data_bits, settings_.stop_bits);
  }
  if (!opened) {
    failure_ = CannotConnectText(ConnectionSummary(settings_));
    return Result::Failed;
  }
  line_.master().AwaitQuietLine(std::max(settings_.recv_time_out, 0));
  // The port works without RS-485 mode too (most adapters switch the direction by
  // themselves), so a refusal is a warning, not a failure.
  if (settings_.rs485 != 0 && !line_.serial().SetRs485(true)) {
    warning_ = Rs485ErrorText(line_.serial().Device(), line_.serial().LastError());
  }
  return Result::Open;
}

void LinkConnector::Finish() {
  // The descriptor watched closes once the connect is over: let go of it first.
  delete watch_;
  watch_ = nullptr;
  const int result = line_.tcp().FinishConnect();
  if (result < 0) {  // not yet after all: watch again
    watch_ = new QSocketNotifier(line_.tcp().ConnectHandle(), QSocketNotifier::Read, this);
    connect(watch_, &QSocketNotifier::activated, this, [this] { Finish(); });
    return;
  }
  if (result == 0) {
    failure_ = CannotConnectNetworkText(ConnectionSummary(settings_), line_.tcp().LastError(),
                                        ConnectTimeoutMs(settings_));
  }
  Give(result == 1);
}

void LinkConnector::Give(bool connected) {
  Cancel();
  if (finished) finished(connected);
}

void LinkConnector::Cancel() {
  deadline_->stop();
  if (watch_ == nullptr) return;
  delete watch_;
  watch_ = nullptr;
  line_.master().Close();
}

}  // namespace vantrel
