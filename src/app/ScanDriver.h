// Runs a ScanRunner from the window's event loop: the link is watched for bytes and a timer
// stands for the time-out, so the window stays live while a scan runs.
#pragma once

#include <QObject>

#include <functional>
#include <memory>

#include "session/DeviceScan.h"
#include "session/ScanRunner.h"

class QTimer;

namespace vantrel {

class LinkWatch;
class ModbusMaster;

class ScanDriver : public QObject {
  Q_OBJECT

 public:
  ScanDriver(ModbusMaster& master, QObject* parent = nullptr);
  ~ScanDriver() override;

  // Starts a scan with these options; setLine applies a sweep's line settings.
  void Start(const ScanOptions& options, std::function<bool(const LineSettings&)> setLine);
  // Ends the scan at once: the request on the line is given up.
  void Cancel();
  bool Running() const { return runner_ != nullptr && !scan_->Done(); }
  // The scan under way or last run; null before the first.
  const DeviceScan* scan() const { return scan_.get(); }
  const ScanRunner* runner() const { return runner_.get(); }

  // After each step of the scan (a request sent or ended); and once when it is over.
  std::function<void()> progressed;
  std::function<void()> finished;

 private:
  void Step();
  void Watch();

  ModbusMaster& master_;
  std::unique_ptr<DeviceScan> scan_;
  std::unique_ptr<ScanRunner> runner_;
  LinkWatch* watch_ = nullptr;
  QTimer* timer_ = nullptr;
};

}  // namespace vantrel
