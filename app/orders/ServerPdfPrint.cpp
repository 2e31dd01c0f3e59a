#include "app/orders/ServerPdfPrint.h"

#include <memory>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "platform/ui/PrintInteractionController.h"
#include "platform/ui/Text.h"
#include "platform/ui/ViewController.h"

namespace orvo {

namespace {

struct PrintRun {
  std::vector<std::string> urls;
  std::vector<ui::PrintItem> items;
  std::string jobName;
  std::function<void(PrintOutcome)> done;
};

void finish(const std::shared_ptr<PrintRun>& run, PrintOutcome outcome) {
  if (run->done) run->done(outcome);
}

void notStarted(ui::ViewController& screen, const std::shared_ptr<PrintRun>& run, const std::string& message) {
  if (auto* app = OrvoMobileAppDelegate::shared()) {
    app->networkActivityStopped();
    app->hideActivityViewer();
  }
  AlertClass::displayAlert(screen.self<ui::ViewController>(), 0, 1, kAppAlertTitle, message);
  finish(run, PrintOutcome::NotStarted);
}

void present(ui::ViewController& screen, const std::shared_ptr<PrintRun>& run) {
  auto& controller = ui::PrintInteractionController::shared();
  controller.printInfo = {run->jobName, ui::PrintOutputType::General, ui::PrintDuplex::None};
  controller.showsPageRange = true;
  controller.printingItems = run->items;
  const bool shown = controller.presentAnimated(
      true, [run](ui::PrintInteractionController&, bool completed, const std::optional<foundation::Error>& error) {
        finish(run, completed ? PrintOutcome::Printed : error ? PrintOutcome::Failed : PrintOutcome::Cancelled);
      });
  if (auto* app = OrvoMobileAppDelegate::shared()) {
    app->networkActivityStopped();
    app->hideActivityViewer();
  }
  if (!shown) notStarted(screen, run, "Printer is not available.\n Check your iPod and Printer.");
}

void fetchNext(ui::ViewController& screen, const std::shared_ptr<PrintRun>& run) {
  if (run->items.size() == run->urls.size()) {
    present(screen, run);
    return;
  }
  const std::string url = run->urls[run->items.size()];
  ScreenRequest r;
  r.operation = "PrintDocument";
  r.url = url;
  r.get = true;
  r.reading = AnswerReading::Raw;
  r.showActivity = false;
  r.requestMethod = "-[SoapPrint airPrintFunc:]";
  r.answerMethod = "-[SoapPrint airPrintFunc:]";
  std::weak_ptr<ui::ViewController> weak = screen.self<ui::ViewController>();
  sendScreenRequest(
      screen, std::move(r),
      [weak, run, url](const RequestAnswer& a) {
        auto s = weak.lock();
        if (!s) return;
        if (a.data.empty()) {
          notStarted(*s, run, "The document could not be fetched.\n" + url);
          return;
        }
        ui::PrintItem item;
        item.data.assign(a.data.begin(), a.data.end());
        item.name = url.substr(url.find_last_of('/') + 1);
        run->items.push_back(std::move(item));
        fetchNext(*s, run);
      },
      [weak, run, url](const ServiceFailure&) {
        if (auto s = weak.lock()) notStarted(*s, run, "The document could not be fetched.\n" + url);
      });
}

}  // namespace

void printServerDocuments(ui::ViewController& screen, std::vector<std::string> urls, const std::string& jobName,
                          std::function<void(PrintOutcome)> done) {
  auto run = std::make_shared<PrintRun>();
  run->urls = std::move(urls);
  run->jobName = jobName;
  run->done = std::move(done);
  if (!ui::PrintInteractionController::isPrintingAvailable()) {
    notStarted(screen, run, "Printer is not available.\n Check your iPod and Printer.");
    return;
  }
  if (run->urls.empty()) {
    notStarted(screen, run, "The document could not be fetched.");
    return;
  }
  fetchNext(screen, run);
}

}  // namespace orvo
