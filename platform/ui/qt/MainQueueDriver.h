#pragma once
// Runs the main queue (`foundation::RunLoop::main()`) on Qt's event loop: a socket
// notifier watches the run loop's poll descriptor and a single-shot timer waits for its
// next timer deadline; either one drains the loop with `runOnce(0)`. Make it on the main
// thread after the QApplication; it emits `ran` after every drain (the screen repaints).

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

namespace ui::qt {

class MainQueueDriver : public QObject {
  Q_OBJECT

 public:
  explicit MainQueueDriver(QObject* parent = nullptr);
  // Runs what is ready now and re-arms the timer.
  void drain();

 signals:
  void ran();

 private:
  void arm();
  QSocketNotifier* notifier_;
  QTimer* timer_;
};

}  // namespace ui::qt
