#include "platform/ui/qt/Host.h"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/qt/MainQueueDriver.h"
#include "platform/ui/qt/Painter.h"
#include "platform/ui/qt/ScreenWidget.h"

namespace ui::qt {

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
  application.launch(std::move(delegate));
  screen.show();
  int status = app.exec();
  application.terminate();
  return application.exitStatus().value_or(status);
}

}  // namespace ui::qt
