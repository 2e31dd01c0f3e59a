// The demo: the application on the sample back office.
//
// It starts the back-office server on loopback with its sample data, gives the application
// a fresh data folder whose settings point at that server, and opens the application in a
// window. Without a display (or with --headless) it walks through the settings, the login
// and the next screen by itself and saves a screenshot of each screen in a folder it names
// (--screenshots DIR, default ./demo-screenshots).
//
// A simulated sleeve is attached to the application through the SDK: with a window, each
// line typed into the demo's terminal is scanned by the sleeve as a barcode; the headless
// walk checks that the login screen's scanner status line shows the sleeve connected and
// that a code sent by the sleeve reaches the application.
//
// The picker's road follows: the user "picker" logs in, opens the pick tickets of a customer
// from the main menu, checks one and picks its items with codes scanned by the sleeve.
//
// Usage: orvo-demo [--headless] [--screenshots DIR] [--keep-data]
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "app/core/AppNames.h"
#include "app/core/CameraScanViewController.h"
#include "app/core/DivisionViewController.h"
#include "app/core/KestraDevices.h"
#include "app/core/LoginViewController.h"
#include "app/core/OrvoMobileApp.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/SettingsViewController.h"
#include "app/core/Util.h"
#include "app/customers/CustomerScreens.h"
#include "app/orders/OrderScreens.h"
#include "app/picking/PickTicketViewController.h"
#include "app/picking/PickUpViewController.h"
#include "app/payments/PaymentScreens.h"
#include "app/picking/PickingScreens.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/Capture.h"
#include "platform/media/PhotoLibrary.h"
#include "platform/system/NetworkInfo.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Toast.h"
#include "platform/ui/harness/TextFit.h"
#include "platform/ui/harness/Harness.h"
#include "platform/ui/qt/Host.h"
#include "platform/ui/qt/Offscreen.h"
#include "platform/net/Reachability.h"
#include "sdk/device/OKTKXDevices.h"
#include "testing/backoffice/BackOfficeServer.h"
#include "testing/devices/printer/SampleReceipt.h"
#include "testing/devices/printer/SimulatedPrinter.h"
#include "testing/devices/sleeve/SimulatedSleeve.h"
#include "tools/DemoNewCustomers.h"
#include "tools/DemoOrderCompletion.h"
#include "tools/DemoCardCapture.h"
#include "tools/DemoDeviceDocuments.h"
#include "tools/DemoOrderRoad.h"
#include "tools/DemoOrderDepth.h"
#include "tools/DemoStyleLookup.h"

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

// A fresh data folder for the application: configuration, data and the accessory folder
// (where the simulated sleeve is attached) below it.
fs::path makeDataFolder() {
  char tmpl[] = "/tmp/orvo-demo-XXXXXX";
  fs::path dir = ::mkdtemp(tmpl);
  ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
  foundation::UserDefaults::resetStandard();
  return dir;
}

// The simulated sleeve, attached in the SDK's accessory folder, where the SDK's facade finds
// it when the application connects.
std::unique_ptr<devices::SimulatedSleeve> attachSimulatedDevices() {
  auto sleeve = std::make_unique<devices::SimulatedSleeve>();
  if (!sleeve->attach()) {
    std::fprintf(stderr, "could not attach the simulated sleeve; the application runs without it\n");
    return nullptr;
  }
  return sleeve;
}

// Scans each line typed into the demo's terminal with the sleeve ("!press N" and
// "!release N" work its scan button N), until the demo ends or the input does.
class TypedCodes {
 public:
  explicit TypedCodes(devices::SimulatedSleeve& sleeve)
      : thread_([this, &sleeve] { run(sleeve); }) {}
  ~TypedCodes() {
    stop_ = true;
    thread_.join();
  }

 private:
  void run(devices::SimulatedSleeve& sleeve) {
    std::string pending;
    while (!stop_) {
      pollfd fd{STDIN_FILENO, POLLIN, 0};
      if (::poll(&fd, 1, 200) <= 0) continue;
      char buffer[256];
      ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (n <= 0) return;
      pending.append(buffer, size_t(n));
      for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("!press ", 0) == 0)
          sleeve.pressButton(uint8_t(std::atoi(line.c_str() + 7) << 1 | 1));
        else if (line.rfind("!release ", 0) == 0)
          sleeve.pressButton(uint8_t(std::atoi(line.c_str() + 9) << 1));
        else if (!line.empty())
          sleeve.sendBarcode(line);
      }
    }
  }
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// ----- The headless walk

class Walk {
 public:
  Walk(orvo::OrvoMobileAppDelegate& app, fs::path folder, devices::SimulatedSleeve* sleeve)
      : app_(app), folder_(std::move(folder)), sleeve_(sleeve), h_(app.window.get()) {}

  bool run();
  // The picker's road: main menu, pick tickets, pick-up with scans from the sleeve.
  bool picking();

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
    ++count_;
    char number[16];
    std::snprintf(number, sizeof number, "%02d-", count_);
    fs::path file = folder_ / (number + name + ".png");
    bool ok = h_.saveScreenshot(file.string(), 2);
    std::printf("  screenshot %s%s\n", file.c_str(), ok ? "" : " (could not be saved)");
    // Every title and label on it shows whole.
    const std::vector<std::string> cut = ui::harness::cutTexts(h_);
    step("texts show whole on " + name, cut.empty());
    for (const auto& c : cut) std::printf("    cut: %s\n", c.c_str());
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
  devices::SimulatedSleeve* sleeve_;
  ui::harness::Harness h_;
  int count_ = 0;
  bool failed_ = false;
};

bool Walk::run() {
  settle();
  auto* login = dynamic_cast<orvo::LoginViewController*>(top() ? app_.navigationController->topViewController() : nullptr);
  if (!step("login screen is shown", login != nullptr)) return false;
  step("settings check asks for a division", alertText().find("You must select Company Division!") != std::string::npos);
  shot("login-settings-check");
  h_.pressAlertButton("OK");
  settle();

  // The sleeve: connected on the scanner status line, and a code it scans reaches the
  // application as "changeBarcode".
  if (sleeve_) {
    auto statusText = [&] { return login->scannerStatusLabel() ? login->scannerStatusLabel()->text() : std::string(); };
    // Once the sleeve is connected, its scan button refreshes the status line (a second
    // later), as a person would do when the line still shows the state before the connection.
    bool connected = foundation::RunLoop::main().runUntil(
        [&] { return app_.scanner().conn == orvo::CONN_CONNECTED; }, std::chrono::milliseconds(10000));
    if (connected && statusText().rfind("Scanner was connected", 0) != 0) {
      sleeve_->pressButton(1 << 1 | 1);
      sleeve_->pressButton(1 << 1);
      connected = foundation::RunLoop::main().runUntil(
          [&] { return statusText().rfind("Scanner was connected", 0) == 0; }, std::chrono::milliseconds(5000));
    }
    step("scanner status line shows the sleeve connected", connected);
    std::printf("  scanner status line: %s\n", statusText().c_str());
    std::string scanned;
    int observer = 0;
    foundation::NotificationCenter::defaultCenter().addObserver(
        &observer, orvo::kChangeBarcode, nullptr, [&](const foundation::Notification& n) {
          if (foundation::MainQueue::isMainThread()) scanned = n.userInfo.value(orvo::kLastBarcode, "");
        });
    sleeve_->sendBarcode("4006381333931");
    foundation::RunLoop::main().runUntil([&] { return !scanned.empty(); }, std::chrono::milliseconds(5000));
    foundation::NotificationCenter::defaultCenter().removeObserver(&observer);
    step("code scanned by the sleeve arrives as \"changeBarcode\"", scanned == "4006381333931");
    shot("login-scanner-connected");
  }

  // The administrator lock, then the settings screen.
  // Without a sleeve the login screen says so in a ten-second notice; the person reads it
  // and goes on.
  ui::hideAllToasts(*app_.window);
  step("settings button reachable", h_.tap(h_.findLabel("Settings")));
  settle();
  h_.typeText("q73");
  shot("administrator-password");
  h_.pressAlertButton("OK");
  settle();
  auto* settings = dynamic_cast<orvo::SettingsViewController*>(top());
  if (!step("settings screen opens with the administrator password", settings != nullptr)) return false;
  shot("settings");

  h_.tapText("Request");
  step("server settings requested", waitIdle() && alertText() == "Orvo settings have been saved successfully.");
  shot("settings-request");
  h_.pressAlertButton("OK");
  settle();

  h_.chooseRow(*settings->tableView(), {1, 0});
  waitIdle();
  step("division list shown", dynamic_cast<orvo::DivisionViewController*>(top()) != nullptr);
  shot("division");
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
  shot("warehouse");
  h_.tapText("Newark DC");
  settle();
  step("warehouse chosen", foundation::UserDefaults::standard().stringForKey("warehouseCode") == "WH1");
  settings->tableView()->setContentOffset({0, 0});
  shot("settings-filled");

  step("Save reachable on the settings", h_.tap(h_.findLabel("Save")));
  settle();
  step("settings saved", alertText() == "Settings have been saved successfully.");
  shot("settings-saved");
  h_.pressAlertButton("OK");
  settle();

  // About, from the login screen's info button.
  step("info button reachable", h_.tap(h_.findLabel("Info")));
  settle();
  shot("about");
  step("Back on the about screen", h_.tap(h_.findLabel("Back")));
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
    shot("camera-scanner");
    h_.tap(scanner->btn_done());
    settle();
    step("code handed back", app_.globalSO().manualBarcode == "012345678905");
  }

  // Login.
  h_.type(login->usernameTextField(), "demo");
  h_.pressReturn();
  h_.typeText("demo");
  shot("login-filled");
  h_.pressReturn();
  waitIdle();
  if (alertText().find("division") != std::string::npos) {  // the division notice of the order type screen
    shot("order-type-division-notice");
    h_.pressAlertButton("OK");
    settle();
  }
  step("logged in: the order type screen follows", top() && top()->nibName() == "SoOrderTypeViewController");
  shot("order-type");

  // The order road: customer, store and the item list with two scanned codes.
  const demo::WalkSteps steps{[this](const std::string& w, bool ok) { return step(w, ok); },
                              [this](const std::string& n) { shot(n); }, [this] { settle(); },
                              [this] { return waitIdle(); }, [this] { return top(); }, [this] { return alertText(); }};
  demo::walkStyleLookup(app_, h_, sleeve_, steps);
  // Then the order header, the save and the last screen, and card capture from there.
  if (demo::walkOrderRoad(app_, h_, sleeve_, steps) && demo::walkOrderDepth(app_, h_, steps) &&
      demo::walkItemListAids(app_, h_, steps) &&
      demo::walkOrderCompletion(app_, h_, steps))
    demo::walkCardCapture(app_, h_, sleeve_, steps);

  demo::walkNewCustomers(app_, h_, sleeve_,
                         {[this](const std::string& w, bool ok) { return step(w, ok); },
                          [this](const std::string& n) { shot(n); }, [this] { settle(); },
                          [this] { return waitIdle(); }, [this] { return top(); }, [this] { return alertText(); }});

  // A receipt printed through the SDK on a simulated printer; its picture goes with the
  // screenshots.
  {
    const auto persona = devices::PrinterPersona::scanner();
    devices::SimulatedPrinter printer(devices::SimulatedPrinter::identityFor(persona), {}, persona);
    auto& sdk = kestra::OKTKXDevices::sharedDevice();
    const bool connected = printer.attach() && foundation::RunLoop::main().runUntil(
        [&] { return sdk.getDeviceConnectionState(kestra::DEVICE_TYPE_PRINTER) == 2; }, std::chrono::milliseconds(10000));
    step("simulated printer connected", connected);
    step("sample receipt printed", connected && devices::printSampleReceipt(sdk));
    const fs::path picture = folder_ / "receipt.png";
    const bool saved = printer.model().withRenderer([&](devices::ReceiptRenderer& r) {
      r.finishLine();
      return r.savePng(picture);
    });
    step("receipt picture saved", saved);
    std::printf("  receipt: %s\n", picture.c_str());
    printer.detach();
    foundation::RunLoop::main().runUntil(
        [&] { return sdk.getDeviceConnectionState(kestra::DEVICE_TYPE_PRINTER) != 2; }, std::chrono::milliseconds(5000));
  }
  return !failed_;
}

// Sends `code` from the simulated sleeve and waits until the screen has the server's answer.
static bool scanWithSleeve(orvo::OrvoMobileAppDelegate& app, devices::SimulatedSleeve& sleeve, const std::string& code) {
  bool arrived = false;
  int observer = 0;
  foundation::NotificationCenter::defaultCenter().addObserver(
      &observer, orvo::kChangeBarcode, nullptr, [&](const foundation::Notification&) { arrived = true; });
  sleeve.sendBarcode(code);
  bool ok = foundation::RunLoop::main().runUntil([&] { return arrived && !app.isActivityViewerShown(); },
                                                 std::chrono::milliseconds(10000));
  foundation::NotificationCenter::defaultCenter().removeObserver(&observer);
  return ok;
}

bool Walk::picking() {
  // Back on the login screen, the picker logs in: the server turns scan-pack mode on.
  while (app_.navigationController->presentedViewController())
    app_.navigationController->dismissViewControllerAnimated(false);
  settle();
  auto* login = dynamic_cast<orvo::LoginViewController*>(app_.navigationController->topViewController());
  if (!step("back on the login screen", login != nullptr)) return false;
  // The fields keep the last user's texts: emptied as a user does, then typed.
  for (auto* field : {login->usernameTextField(), login->passwordTextField()}) {
    h_.type(field, "");
    h_.deleteBackward(int(field->text().size()));
  }
  h_.type(login->usernameTextField(), "picker");
  h_.pressReturn();
  h_.typeText("p&<ck>");
  h_.pressReturn();
  waitIdle();
  if (!step("picker logged in: the main menu follows", top() && top()->nibName() == "MainMenuViewController")) return false;
  shot("main-menu");

  h_.tapText("Pick");
  settle();
  step("pick road: the customer screen in scan-pack mode", top() && top()->nibName() == "CustomerView" &&
                                                               app_.settings().isScanPackMode);
  auto* customers = dynamic_cast<orvo::CustomerViewController*>(top());
  shot("customer-scan-pack");
  if (!customers) return false;
  h_.typeText("harbor");
  h_.pressReturn();
  waitIdle();
  shot("customer-scan-pack-found");
  h_.chooseRow(*customers->tableView(), {0, 0});
  waitIdle();
  auto* tickets = dynamic_cast<orvo::PickTicketViewController*>(top());
  if (!step("pick tickets of the customer chosen", tickets && tickets->listContent().size() == 2)) return false;
  shot("pick-tickets");
  h_.tapText("P26103");  // checked by the server: not today
  h_.tapText("P26101");
  step("one ticket checked", tickets->lbl_pickQty()->text() == "2 - 1 checked");
  shot("pick-tickets-checked");
  h_.tap(tickets->btn_nextButton());
  waitIdle();
  auto* pickUp = dynamic_cast<orvo::PickUpViewController*>(top());
  if (!step("pick-up items by bin", pickUp && pickUp->indexTitle().size() == 3)) return false;
  shot("pickup");

  if (!sleeve_) return step("sleeve attached for the pick scans", false);
  scanWithSleeve(app_, *sleeve_, "1002795");  // a pack of S and M
  step("pack scanned by the sleeve: the item is partly picked",
       pickUp->isScanViewOpen() && pickUp->listContent()[0].value("IsChecked", "") == "Partial");
  shot("pickup-scan-partial");
  // The rest of bin B2, then bins A1 and C3, size by size.
  for (const char* code : {"400000000001", "400000000026", "400000000027", "400000000014", "400000000015",
                           "400000000015", "400000000016", "400000000041", "400000000041", "400000000042",
                           "400000000042", "400000000043"})
    scanWithSleeve(app_, *sleeve_, code);
  shot("pickup-scan-complete");
  h_.tap(pickUp->btn_closeButton());
  settle();
  step("every item picked by scanning", pickUp->lbl_styleQty()->text() == "4 - 4 checked" &&
                                            pickUp->lbl_pickQty()->text() == "14 - 14 checked");
  shot("pickup-picked");
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
  ui::ImagePickerController::setImageSource(std::make_shared<media::DevicePhotoSource>());
  demo::installDemoDocumentServices(data);

  // The back office is on loopback, which the reachability check never counts; a machine
  // without a default route must still reach it.
  if (net::Reachability::systemStatus() == net::NotReachable)
    net::Reachability::setProbe([] { return net::ReachableViaWiFi; });

  auto sleeve = attachSimulatedDevices();
  // The SDK's device facade stands behind the application.
  orvo::KestraDevices::install();

  std::printf("back office: %s (users demo/demo and picker)\n", server.baseUrl().c_str());
  std::printf("data folder: %s\n", data.c_str());
  std::printf("administrator password: q73\n");

  orvo::registerOrderScreens();
  orvo::registerCustomerScreens();
  orvo::registerPickingScreens();
  orvo::registerPaymentScreens();
  auto delegate = orvo::makeOrvoMobileApplication();
  int status = 0;
  if (!options.headless) {
    std::unique_ptr<TypedCodes> typed;
    if (sleeve) {
      std::printf("sleeve attached: type a code here and press Enter to scan it (!press 1 / !release 1: its button)\n");
      typed = std::make_unique<TypedCodes>(*sleeve);
    }
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
    Walk walk(*delegate, folder, sleeve.get());
    status = walk.run() && walk.picking() ? 0 : 1;
    std::printf(status == 0 ? "demo walk finished; screenshots in %s\n" : "demo walk FAILED; screenshots in %s\n",
                folder.c_str());
  }
  if (sleeve) sleeve->detach();
  server.stop();
  if (!options.keepData) fs::remove_all(data);
  return status;
}
