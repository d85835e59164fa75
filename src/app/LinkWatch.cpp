#include "app/LinkWatch.h"

#include <QSocketNotifier>
#include <QTimer>

namespace vantrel {
namespace {

bool g_lookByTime = false;

}  // namespace

LinkWatch::LinkWatch(std::function<void()> onReady, QObject* parent)
    : QObject(parent), on_ready_(std::move(onReady)), look_(new QTimer(this)) {
  look_->setTimerType(Qt::PreciseTimer);
  look_->setInterval(kLookMs);
  connect(look_, &QTimer::timeout, this, [this] { on_ready_(); });
}

void LinkWatch::LookByTimeForTesting(bool on) { g_lookByTime = on; }

bool LinkWatch::Active() const { return notifier_ != nullptr || look_->isActive(); }

void LinkWatch::DropNotifier() {
  if (notifier_ == nullptr) return;
  // Later: this may run inside the notifier's own signal.
  notifier_->setEnabled(false);
  notifier_->deleteLater();
  notifier_ = nullptr;
}

void LinkWatch::Watch(bool watching, int handle) {
  const bool byTime = watching && (handle < 0 || g_lookByTime);
  const int fd = watching && !byTime ? handle : -1;
  if (notifier_ != nullptr && notifier_->socket() != fd) DropNotifier();
  if (notifier_ == nullptr && fd >= 0) {
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { on_ready_(); });
  }
  if (!byTime) {
    look_->stop();
  } else if (!look_->isActive()) {
    look_->start();
  }
}

}  // namespace vantrel
