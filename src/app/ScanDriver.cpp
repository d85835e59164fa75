#include "app/ScanDriver.h"

#include <QTimer>

#include "app/LinkWatch.h"

#include "modbus/ModbusMaster.h"

namespace vantrel {

ScanDriver::ScanDriver(ModbusMaster& master, QObject* parent) : QObject(parent), master_(master) {
  timer_ = new QTimer(this);
  timer_->setSingleShot(true);
  connect(timer_, &QTimer::timeout, this, [this] { Step(); });
  watch_ = new LinkWatch([this] { Step(); }, this);
}

ScanDriver::~ScanDriver() = default;

void ScanDriver::Start(const ScanOptions& options, std::function<bool(const LineSettings&)> setLine) {
  Cancel();
  scan_ = std::make_unique<DeviceScan>(options);
  runner_ = std::make_unique<ScanRunner>(*scan_, master_, std::move(setLine));
  timer_->start(0);
}

void ScanDriver::Cancel() {
  if (!Running()) return;
  timer_->stop();
  watch_->Stop();
  scan_->Cancel();
  master_.AbandonExchange(scan_->options().timeoutMs);
  if (finished) finished();
}

void ScanDriver::Watch() {
  // A sweep opens the port anew: watch the link in use now.
  watch_->Watch(master_.link().IsOpen(), master_.link().Handle());
}

void ScanDriver::Step() {
  if (runner_ == nullptr) return;
  const int wait = runner_->Step();
  if (progressed) progressed();
  if (wait < 0) {
    timer_->stop();
    watch_->Stop();
    if (finished) finished();
    return;
  }
  Watch();
  timer_->start(wait);
}

}  // namespace vantrel
