// Calls back when a link has something to take (bytes, a hang-up, a connect's end) while it
// is watched: through a socket notifier on the link's descriptor, or, for a link that has
// none (on Windows, where ports and sockets are no descriptors), by looking every few
// milliseconds; what is called then takes what there is and leaves the rest for later.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;
class QTimer;

namespace vantrel {

class LinkWatch : public QObject {
 public:
  LinkWatch(std::function<void()> onReady, QObject* parent);

  // Watches the link whose descriptor is handle (-1: one without a descriptor) while
  // watching holds, and stops otherwise. Safe from inside the callback.
  void Watch(bool watching, int handle);
  void Stop() { Watch(false, -1); }
  bool Active() const;

  // Looks by time even where there is a descriptor, as on Windows: for the tests on Linux.
  static void LookByTimeForTesting(bool on);

  // How often a link without a descriptor is looked at.
  static constexpr int kLookMs = 2;

 private:
  void DropNotifier();

  std::function<void()> on_ready_;
  QSocketNotifier* notifier_ = nullptr;
  QTimer* look_ = nullptr;
};

}  // namespace vantrel
