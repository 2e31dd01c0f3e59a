#pragma once
// The demo's documents on the device, from the last screen of the saved order: the order
// e-mailed from the device, its PDF printed on the device's printer, and the line sheets
// of the order made, printed and e-mailed. The demo stands in for the system's printers
// and the mail server: what is printed and mailed is written into the demo's data folder
// ("printed/", "outbox/"). A screenshot is taken of each screen. Demo code (tools/).

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/core/OrvoMobileAppDelegate.h"
#include "app/orders/LastSelectorViewController.h"
#include "app/orders/LineSheetViewController.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/MailComposeViewController.h"
#include "platform/ui/PrintInteractionController.h"
#include "platform/ui/harness/Harness.h"
#include "tools/DemoOrderRoad.h"

namespace demo {

// A printer that keeps each document of a job as a file.
class DemoPrinter : public ui::PrintService {
 public:
  explicit DemoPrinter(std::filesystem::path folder) : folder_(std::move(folder)) {}
  bool isAvailable() override { return true; }
  std::vector<ui::PrintDestination> destinations() override {
    return {{"Showroom", "Showroom printer", true}, {"Warehouse", "Warehouse printer", false}};
  }
  void submit(const ui::PrintJob& job, std::function<void(std::optional<foundation::Error>)> done) override {
    std::filesystem::create_directories(folder_);
    ++jobs;
    for (size_t i = 0; i < job.items.size(); ++i) {
      std::ofstream out(folder_ / ("job" + std::to_string(jobs) + "-" + std::to_string(i + 1) + "-" + job.items[i].name),
                        std::ios::binary);
      out.write(reinterpret_cast<const char*>(job.items[i].data.data()), static_cast<std::streamsize>(job.items[i].data.size()));
    }
    done(std::nullopt);
  }
  int jobs = 0;

 private:
  std::filesystem::path folder_;
};

// A mail server that keeps each message's text and attachments in a folder of its own.
class DemoOutbox : public ui::MailTransport {
 public:
  explicit DemoOutbox(std::filesystem::path folder) : folder_(std::move(folder)) {}
  bool canSend() override { return true; }
  void send(const ui::MailMessage& m, std::function<void(std::optional<foundation::Error>)> done) override {
    const auto dir = folder_ / ("message" + std::to_string(++sent));
    std::filesystem::create_directories(dir);
    std::ofstream text(dir / "message.txt");
    for (const auto& to : m.toRecipients) text << "To: " << to << "\n";
    text << "Subject: " << m.subject << "\n\n" << m.body << "\n";
    for (const auto& a : m.attachments)
      std::ofstream(dir / a.fileName, std::ios::binary)
          .write(reinterpret_cast<const char*>(a.data.data()), static_cast<std::streamsize>(a.data.size()));
    done(std::nullopt);
  }
  int sent = 0;

 private:
  std::filesystem::path folder_;
};

struct DemoDocumentServices {
  std::shared_ptr<DemoPrinter> printer;
  std::shared_ptr<DemoOutbox> outbox;
};

inline DemoDocumentServices& demoDocumentServices() {
  static DemoDocumentServices s;
  return s;
}

// Installs the demo's printer and mail server, writing into `folder`.
inline void installDemoDocumentServices(const std::filesystem::path& folder) {
  auto& s = demoDocumentServices();
  s.printer = std::make_shared<DemoPrinter>(folder / "printed");
  s.outbox = std::make_shared<DemoOutbox>(folder / "outbox");
  ui::PrintInteractionController::setPrintService(s.printer);
  ui::MailComposeViewController::setMailTransport(s.outbox);
}

inline bool walkDeviceDocuments(orvo::OrvoMobileAppDelegate& app, ui::harness::Harness& h, const WalkSteps& s,
                                orvo::LastSelectorViewController& last) {
  auto& services = demoDocumentServices();
  if (!services.printer) return s.step("demo printer and mail server installed", false);
  auto waitFor = [](const std::function<bool()>& done) {
    return foundation::RunLoop::main().runUntil(done, std::chrono::milliseconds(10000));
  };
  auto composer = [&]() -> ui::MailComposeViewController* {
    for (ui::ViewController* vc = app.window->rootViewController().get(); vc; vc = vc->presentedViewController())
      if (auto* c = dynamic_cast<ui::MailComposeViewController*>(vc)) return c;
    return nullptr;
  };
  const bool printUsingServer = app.settings().printUsingServerFlag;
  app.settings().printUsingServerFlag = false;
  if (app.globalSO().orderEmail1.empty()) app.globalSO().orderEmail1 = "buyer@maple-fashion.example";

  // The order e-mailed from the device.
  h.tap(last.button("E-MAIL SO"));
  s.settle();
  waitFor([&] { return composer() != nullptr || !s.alertText().empty(); });
  waitFor([&] { return !app.isActivityViewerShown(); });
  bool ok = s.step("device e-mail composed with the order's PDF", composer() && !composer()->message().attachments.empty());
  if (ok) {
    s.shot("device-email");
    composer()->userSend();
    waitFor([&] { return composer() == nullptr; });
    s.settle();
    s.step("device e-mail sent (demo outbox)", services.outbox->sent == 1);
  }

  // The order printed on the device's printer, then counted on the server.
  auto& sheet = ui::PrintInteractionController::shared();
  h.tap(last.button("PRINT SO"));
  s.settle();
  waitFor([&] { return sheet.isPresented() || !s.alertText().empty(); });
  if (s.step("print sheet opens with the order's PDF", sheet.isPresented())) {
    s.shot("device-print-sheet");
    sheet.sheet()->pressAction("Print");
    s.settle();
    s.waitIdle();
    s.step("printed on the demo printer", services.printer->jobs == 1);
  }

  // The line sheets of the order: made by the server, printed and e-mailed from the device.
  h.tap(last.btn_linesheet());
  s.settle();
  auto* sheets = dynamic_cast<orvo::LineSheetViewController*>(s.top());
  if (s.step("line sheets open", sheets != nullptr)) {
    waitFor([&] { return sheets->printFileNameDic().size() == 2 || !s.alertText().empty(); });
    s.waitIdle();
    s.step("default and detail line sheets made", sheets->printFileNameDic().size() == 2);
    h.type(sheets->txt_ToEmail(), "buyer@maple-fashion.example");
    h.pressReturn();
    s.settle();
    s.shot("line-sheets");
    s.step("PRINT DETAIL FORM reachable", h.tapText("PRINT DETAIL FORM"));
    s.settle();
    waitFor([&] { return sheet.isPresented() || !s.alertText().empty(); });
    if (s.step("line sheet print sheet opens", sheet.isPresented())) {
      s.shot("line-sheet-print-sheet");
      sheet.sheet()->pressAction("Print");
      s.settle();
      s.waitIdle();
      s.step("line sheet printed on the demo printer", services.printer->jobs == 2);
    }
    s.step("E-MAIL DEFAULT FORM reachable", h.tapText("E-MAIL DEFAULT FORM"));
    s.settle();
    waitFor([&] { return composer() != nullptr || !s.alertText().empty(); });
    if (s.step("line sheet e-mail composed", composer() != nullptr)) {
      s.shot("line-sheet-email");
      composer()->userSend();
      waitFor([&] { return composer() == nullptr; });
      s.settle();
      s.step("line sheet e-mail sent (demo outbox)", services.outbox->sent == 2);
    }
    s.step("Back on the line sheets", h.tapBarItem(sheets->navigationItem().leftBarButtonItem()));
    s.settle();
    s.waitIdle();
  }
  app.settings().printUsingServerFlag = printUsingServer;
  return s.step("back on the last screen", s.top() == &last);
}

}  // namespace demo
