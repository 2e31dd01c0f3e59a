// The floor of the start-up benchmark: a bare Qt 6 window of the application's size that
// writes "first-frame" on the standard output once its first frame is painted, and quits.
// The first-frame hook repeats the one of the Qt host (platform/ui/qt/Host.cpp) on purpose:
// the floor links Qt alone, never the host or the SDK, so what the host loads and does at
// start-up stays out of it. Keep the two hooks alike, so both programs are timed to the same
// event.
#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QWidget>
#include <cstdio>

namespace {

class BareWindow : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.drawText(rect(), Qt::AlignCenter, "OrvoMobile");
    if (done_) return;
    done_ = true;
    QMetaObject::invokeMethod(
        this, [] {
          std::fputs("first-frame\n", stdout);
          std::fflush(stdout);
          QCoreApplication::exit(0);
        },
        Qt::QueuedConnection);
  }

 private:
  bool done_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  BareWindow window;
  window.resize(320, 568);
  window.setWindowTitle("OrvoMobile");
  window.show();
  return app.exec();
}
