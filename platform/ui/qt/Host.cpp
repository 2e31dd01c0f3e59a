#include "platform/ui/qt/Host.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

#include "platform/foundation/FirstFrame.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/qt/MainQueueDriver.h"
#include "platform/ui/qt/Painter.h"
#include "platform/ui/qt/ScreenWidget.h"

namespace ui::qt {
namespace {

// Keeps the desktop's screen saver away from `window` while the application's idle timer
// is disabled, through xdg-screensaver on X11 when it is installed; elsewhere nothing.
class ScreenSaverInhibitor {
 public:
  explicit ScreenSaverInhibitor(QWidget& window) : window_(window) {
    if (QGuiApplication::platformName() == "xcb") tool_ = QStandardPaths::findExecutable("xdg-screensaver");
  }
  ~ScreenSaverInhibitor() { set(false); }
  void set(bool suspend) {
    if (tool_.isEmpty() || suspend == suspended_) return;
    suspended_ = suspend;
    QProcess::startDetached(tool_, {suspend ? "suspend" : "resume", QString::number(window_.winId())});
  }

 private:
  QWidget& window_;
  QString tool_;
  bool suspended_ = false;
};

// Start-up work put off until the window's first frame (foundation::FirstFrame) is let go
// once that frame is painted, or after kLongestHold when no frame comes (a window that is
// never shown), so nothing waits for ever. For start-up measurement (the start-up benchmark
// sets KESTRA_FIRST_FRAME_EXIT) it also writes "first-frame" on the standard output then and
// quits.
class FirstFrameWatcher : public QObject {
 public:
  static constexpr int kLongestHoldMs = 2000;
  explicit FirstFrameWatcher(bool exitAtFirstFrame) : exit_(exitAtFirstFrame) {
    foundation::FirstFrame::hold();
    QTimer::singleShot(kLongestHoldMs, this, [this] { release(); });
  }
  ~FirstFrameWatcher() override { release(); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !painted_) {
      painted_ = true;
      QMetaObject::invokeMethod(
          this, [this] {
            release();
            if (!exit_) return;
            std::fputs("first-frame\n", stdout);
            std::fflush(stdout);
            QCoreApplication::exit(0);
          },
          Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void release() {
    if (released_) return;
    released_ = true;
    foundation::FirstFrame::painted();
  }
  bool exit_;
  bool painted_ = false;
  bool released_ = false;
};

// Follows the desktop's state of the application: in front with the focus is active; in
// front without it inactive; minimised or hidden the background.
void followState(Application& application, Qt::ApplicationState state, bool minimised) {
  if (minimised || state == Qt::ApplicationHidden || state == Qt::ApplicationSuspended) {
    application.enterBackground();
    return;
  }
  if (application.applicationState() == ApplicationState::Background) application.enterForeground();
  if (state == Qt::ApplicationActive)
    application.becomeActive();
  else
    application.resignActive();
}

// Sees the screen's window minimised and restored (the desktop's application state does
// not always change with it).
class MinimiseWatcher : public QObject {
 public:
  MinimiseWatcher(QWidget& window, Application& application) : window_(window), application_(application) {
    window_.installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &window_ && event->type() == QEvent::WindowStateChange)
      followState(application_, QGuiApplication::applicationState(), window_.isMinimized());
    return false;
  }

 private:
  QWidget& window_;
  Application& application_;
};

}  // namespace

int runApplication(int& argc, char** argv, std::shared_ptr<ApplicationDelegate> delegate, const HostOptions& options) {
  QApplication app(argc, argv);
  foundation::RunLoop::main();  // the main queue belongs to this thread
  installTextMetrics();
  MainQueueDriver driver;
  auto& application = Application::shared();
  application.setExitHook([](int status) { QCoreApplication::exit(status); });
  application.setOpenUrlHook([](const std::string& url) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
  });
  ScreenWidget screen(nullptr, options.scale);
  screen.setWindowTitle(QString::fromStdString(options.title));
  QObject::connect(&driver, &MainQueueDriver::ran, &screen, [&screen] { screen.update(); });
  ScreenSaverInhibitor inhibitor(screen);
  FirstFrameWatcher firstFrame(std::getenv("KESTRA_FIRST_FRAME_EXIT") != nullptr);
  screen.installEventFilter(&firstFrame);
  application.setIdleTimerHook([&inhibitor](bool disabled) { inhibitor.set(disabled); });
  application.launch(std::move(delegate));
  screen.show();
  // The application's notifications (became active, entered background) follow the desktop.
  MinimiseWatcher minimise(screen, application);
  QObject::connect(&app, &QGuiApplication::applicationStateChanged, &screen, [&application, &screen](Qt::ApplicationState state) {
    followState(application, state, screen.isMinimized());
  });
  int status = app.exec();
  application.terminate();
  application.setIdleTimerHook(nullptr);
  return application.exitStatus().value_or(status);
}

}  // namespace ui::qt
