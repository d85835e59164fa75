#include "app/ScanDriver.h"

#include <QSocketNotifier>
#include <QTimer>

#include "modbus/ModbusMaster.h"

namespace vantrel {

ScanDriver::ScanDriver(ModbusMaster& master, QObject* parent) : QObject(parent), master_(master) {
  timer_ = new QTimer(this);
  timer_->setSingleShot(true);
  connect(timer_, &QTimer::timeout, this, [this] { Step(); });
}

ScanDriver::~ScanDriver() { delete watch_; }

void ScanDriver::Start(const ScanOptions& options, std::function<bool(const LineSettings&)> setLine) {
  Cancel();
  scan_ = std::make_unique<DeviceScan>(options);
  runner_ = std::make_unique<ScanRunner>(*scan_, master_, std::move(setLine));
  timer_->start(0);
}

void ScanDriver::Cancel() {
  if (!Running()) return;
  timer_->stop();
  delete watch_;
  watch_ = nullptr;
  scan_->Cancel();
  master_.AbandonExchange(scan_->options().timeoutMs);
  if (finished) finished();
}

void ScanDriver::Watch() {
  // A sweep opens the port anew: watch the descriptor in use now.
  const int fd = master_.link().Handle();
  if (watch_ != nullptr && watch_->socket() == fd) return;
  delete watch_;
  watch_ = nullptr;
  if (fd < 0) return;
  watch_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(watch_, &QSocketNotifier::activated, this, [this] { Step(); });
}

void ScanDriver::Step() {
  if (runner_ == nullptr) return;
  const int wait = runner_->Step();
  if (progressed) progressed();
  if (wait < 0) {
    timer_->stop();
    delete watch_;
    watch_ = nullptr;
    if (finished) finished();
    return;
  }
  Watch();
  timer_->start(wait);
}

}  // namespace vantrel
