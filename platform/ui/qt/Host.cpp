#include "platform/ui/qt/Host.h"

#include <QApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

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
  application.setIdleTimerHook([&inhibitor](bool disabled) { inhibitor.set(disabled); });
  application.launch(std::move(delegate));
  screen.show();
  int status = app.exec();
  application.terminate();
  application.setIdleTimerHook(nullptr);
  return application.exitStatus().value_or(status);
}

}  // namespace ui::qt
