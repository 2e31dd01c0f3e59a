#include "platform/ui/qt/MainQueueDriver.h"

#include <algorithm>
#include <chrono>

#include "platform/foundation/RunLoop.h"

namespace ui::qt {

MainQueueDriver::MainQueueDriver(QObject* parent) : QObject(parent) {
  auto& loop = foundation::RunLoop::main();
  notifier_ = new QSocketNotifier(loop.pollFd(), QSocketNotifier::Read, this);
  timer_ = new QTimer(this);
  timer_->setSingleShot(true);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { drain(); });
  connect(timer_, &QTimer::timeout, this, [this] { drain(); });
  // Blocks posted before the driver existed.
  QTimer::singleShot(0, this, [this] { drain(); });
}

void MainQueueDriver::drain() {
  auto& loop = foundation::RunLoop::main();
  // Bounded, so that a block that keeps posting cannot starve Qt's own events.
  for (int i = 0; i < 64 && loop.runOnce(foundation::Duration::zero()); ++i) {
  }
  arm();
  emit ran();
}

void MainQueueDriver::arm() {
  auto deadline = foundation::RunLoop::main().nextTimerDeadline();
  if (!deadline) {
    timer_->stop();
    return;
  }
  auto wait = *deadline - foundation::Clock::current().now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wait).count();
  timer_->start(int(std::clamp<long long>(ms + 1, 0, 60000)));
}

}  // namespace ui::qt
