// The demo: the application on the sample back office.
//
// It starts the back-office server on loopback with its sample data, gives the application
// a fresh data folder whose settings point at that server, and opens the application in a
// window. Without a display (or with --headless) it walks through the settings, the login
// and the next screen by itself and saves a screenshot of each screen in a folder it names
// (--screenshots DIR, default ./demo-screenshots).
//
// Usage: orvo-demo [--headless] [--screenshots DIR] [--keep-data]
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/core/CameraScanViewController.h"
#include "app/core/DivisionViewController.h"
#include "app/core/LoginViewController.h"
#include "app/core/OrvoMobileApp.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/SettingsViewController.h"
#include "app/core/Util.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/Capture.h"
#include "platform/system/NetworkInfo.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Toast.h"
#include "platform/ui/harness/Harness.h"
#include "platform/ui/qt/Host.h"
#include "platform/ui/qt/Offscreen.h"
#include "testing/backoffice/BackOfficeServer.h"

namespace fs = std::filesystem;

namespace {

struct Options {
  bool headless = false;
  bool keepData = false;
  fs::path screenshots = "demo-screenshots";
};

Options parseOptions(int argc, char** argv) {
  Options o;
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* qpa = std::getenv("QT_QPA_PLATFORM");
  o.headless = !(display && *display) && !(wayland && *wayland);
  if (qpa && std::string(qpa) == "offscreen") o.headless = true;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--headless") o.headless = true;
    else if (a == "--keep-data") o.keepData = true;
    else if (a == "--screenshots" && i + 1 < argc) o.screenshots = argv[++i];
  }
  return o;
}

// A fresh data folder for the application: configuration and data below it.
fs::path makeDataFolder() {
  char tmpl[] = "/tmp/orvo-demo-XXXXXX";
  fs::path dir = ::mkdtemp(tmpl);
  ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  foundation::UserDefaults::resetStandard();
  return dir;
}

// The place where simulated devices (the sleeve) are attached to the application; today the
// application runs without a sleeve and reports it as disconnected.
void attachSimulatedDevices() {}

// ----- The headless walk

class Walk {
 public:
  Walk(orvo::OrvoMobileAppDelegate& app, fs::path folder) : app_(app), folder_(std::move(folder)), h_(app.window.get()) {}

  bool run();

 private:
  bool step(const std::string& what, bool ok) {
    std::printf("  %-58s %s\n", what.c_str(), ok ? "ok" : "FAILED");
    if (!ok) failed_ = true;
    return ok;
  }
  void settle() {
    foundation::RunLoop::main().runUntil([] { return false; }, std::chrono::milliseconds(30));
    h_.runPending();
    app_.window->layoutIfNeeded();
  }
  bool waitIdle() {
    settle();
    bool ok = foundation::RunLoop::main().runUntil([&] { return !app_.isActivityViewerShown(); },
                                                    std::chrono::milliseconds(10000));
    settle();
    return ok;
  }
  void shot(const std::string& name) {
    settle();
    fs::path file = folder_ / (name + ".png");
    ++count_;
    bool ok = h_.saveScreenshot(file.string(), 2);
    std::printf("  screenshot %s%s\n", file.c_str(), ok ? "" : " (could not be saved)");
  }
  ui::ViewController* top() {
    ui::ViewController* vc = app_.window->rootViewController().get();
    while (vc->presentedViewController()) vc = vc->presentedViewController();
    return vc->visibleViewController();
  }
  std::string alertText() {
    auto* a = dynamic_cast<ui::AlertController*>(top());
    return a ? a->message() : std::string();
  }

  orvo::OrvoMobileAppDelegate& app_;
  fs::path folder_;
  ui::harness::Harness h_;
  int count_ = 0;
  bool failed_ = false;
};

bool Walk::run() {
  settle();
  auto* login = dynamic_cast<orvo::LoginViewController*>(top() ? app_.navigationController->topViewController() : nullptr);
  if (!step("login screen is shown", login != nullptr)) return false;
  step("settings check asks for a division", alertText().find("You must select Company Division!") != std::string::npos);
  shot("01-login-settings-check");
  h_.pressAlertButton("OK");
  settle();

  // The administrator lock, then the settings screen.
  // Without a sleeve the login screen says so in a ten-second notice; the person reads it
  // and goes on.
  ui::hideAllToasts(*app_.window);
  login->settingsButtonClicked();
  settle();
  h_.typeText("q73");
  shot("02-administrator-password");
  h_.pressAlertButton("OK");
  settle();
  auto* settings = dynamic_cast<orvo::SettingsViewController*>(top());
  if (!step("settings screen opens with the administrator password", settings != nullptr)) return false;
  shot("03-settings");

  h_.tapText("Request");
  step("server settings requested", waitIdle() && alertText() == "Orvo settings have been saved successfully.");
  shot("04-settings-request");
  h_.pressAlertButton("OK");
  settle();

  h_.chooseRow(*settings->tableView(), {1, 0});
  waitIdle();
  step("division list shown", dynamic_cast<orvo::DivisionViewController*>(top()) != nullptr);
  shot("05-division");
  h_.tapText("Orvo Apparel Inc.");
  waitIdle();
  step("division chosen", foundation::UserDefaults::standard().stringForKey("divisionCode") == "01");

  settings->tableView()->scrollToRowAtIndexPath({2, 1}, ui::ScrollPosition::Middle, false);
  settle();
  h_.tap(settings->switchWithTag(orvo::SettingsViewController::kWarehouse));
  settle();
  h_.chooseRow(*settings->tableView(), {2, 1});
  waitIdle();
  step("warehouse list shown", dynamic_cast<orvo::WarehouseViewController*>(top()) != nullptr);
  shot("06-warehouse");
  h_.tapText("Newark DC");
  settle();
  step("warehouse chosen", foundation::UserDefaults::standard().stringForKey("warehouseCode") == "WH1");
  settings->tableView()->setContentOffset({0, 0});
  shot("07-settings-filled");

  settings->saveSettings();
  settle();
  step("settings saved", alertText() == "Settings have been saved successfully.");
  shot("08-settings-saved");
  h_.pressAlertButton("OK");
  settle();

  // About, from the login screen's info button.
  login->infoButtonClicked();
  settle();
  shot("09-about");
  if (auto* nav = app_.navigationController.get()) nav->dismissViewControllerAnimated(false);
  settle();

  // The camera scanner, shown a printed EAN-13 label.
  {
    auto scanner = std::make_shared<orvo::CameraScanViewController>();
    auto nav = std::make_shared<ui::NavigationController>(scanner);
    orvo::Util::setDefaultNavTitle(*nav);
    nav->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    app_.navigationController->presentViewController(nav, true);
    bool read = foundation::RunLoop::main().runUntil(
        [&] { return scanner->scannedBarcode()->text() == "012345678905"; }, std::chrono::milliseconds(5000));
    step("camera read the EAN-13 label", read);
    shot("10-camera-scanner");
    h_.tap(scanner->btn_done());
    settle();
    step("code handed back", app_.globalSO().manualBarcode == "012345678905");
  }

  // Login.
  h_.type(login->usernameTextField(), "demo");
  h_.pressReturn();
  h_.typeText("demo");
  shot("11-login-filled");
  h_.pressReturn();
  waitIdle();
  step("logged in: the order type screen follows", top() && top()->nibName() == "SoOrderTypeViewController");
  shot("12-order-type");
  return !failed_;
}

// Writes a picture of an EAN-13 label that the demo's camera looks at.
fs::path writeCameraPicture(const fs::path& dir) {
  auto frame = media::renderBarcode(media::kMetadataObjectTypeEAN13Code, "0012345678905", 640, 360, 60);
  std::vector<uint8_t> rgba(frame->luma.size() * 4);
  for (size_t i = 0; i < frame->luma.size(); ++i) {
    rgba[i * 4] = rgba[i * 4 + 1] = rgba[i * 4 + 2] = frame->luma[i];
    rgba[i * 4 + 3] = 255;
  }
  auto png = ui::Image(frame->width, frame->height, rgba).pngData();
  fs::path file = dir / "camera-label.png";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parseOptions(argc, argv);
  fs::path data = makeDataFolder();

  backoffice::BackOfficeServer server;
  if (!server.loadError().empty()) {
    std::fprintf(stderr, "back office: %s\n", server.loadError().c_str());
    return 1;
  }
  if (!server.start(0, "127.0.0.1")) {
    std::fprintf(stderr, "back office: cannot listen on 127.0.0.1\n");
    return 1;
  }

  // Settings that point at the server; the rest is chosen on the settings screen.
  auto& d = foundation::UserDefaults::standard();
  d.setString("serverIP", "127.0.0.1");
  d.setString("serverPort", std::to_string(server.port()));
  d.synchronize();

  // The phone is on the showroom's Wi-Fi network; its camera looks at a printed label
  // (unless a camera or picture is named with KESTRA_CAMERA).
  auto network = std::make_shared<system_info::FixedNetworkInfo>();
  network->setWifi(system_info::WifiNetwork{"Showroom", "02:00:5e:10:00:01"});
  system_info::NetworkInfo::setShared(network);
  if (!std::getenv("KESTRA_CAMERA")) ::setenv("KESTRA_CAMERA", writeCameraPicture(data).c_str(), 1);

  attachSimulatedDevices();

  std::printf("back office: %s (users demo/demo and picker)\n", server.baseUrl().c_str());
  std::printf("data folder: %s\n", data.c_str());
  std::printf("administrator password: q73\n");

  auto delegate = orvo::makeOrvoMobileApplication();
  int status = 0;
  if (!options.headless) {
    status = ui::qt::runApplication(argc, argv, delegate);
  } else {
    fs::create_directories(options.screenshots);
    fs::path folder = fs::absolute(options.screenshots);
    std::printf("no display: walking through the screens; screenshots in %s\n", folder.c_str());
    ui::qt::ensureGuiApplication();
    ui::Application::shared().setOpenUrlHook([](const std::string& url) {
      std::printf("  (would open %s)\n", url.c_str());
      return true;
    });
    ui::Application::shared().setExitHook([](int) {});
    ui::Application::shared().launch(delegate);
    Walk walk(*delegate, folder);
    status = walk.run() ? 0 : 1;
    std::printf(status == 0 ? "demo walk finished; screenshots in %s\n" : "demo walk FAILED; screenshots in %s\n",
                folder.c_str());
  }
  server.stop();
  if (!options.keepData) fs::remove_all(data);
  return status;
}
