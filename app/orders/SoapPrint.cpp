#include "app/orders/SoapPrint.h"

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/Util.h"
#include "app/orders/ServerPdfPrint.h"
#include "platform/ui/Text.h"
#include "platform/ui/ViewController.h"

namespace orvo {

SoapPrint::SoapPrint(ui::ViewController& screen)
    : orvoDelegate_(OrvoMobileAppDelegate::shared()), screen_(screen.self<ui::ViewController>()) {}

std::string SoapPrint::documentUrl(const std::string& fileName) {
  const bool lineSheet = fileName.find("LINESHEET") != std::string::npos;
  return Util::percentEscaped(Util::getPdfUrl() + (lineSheet ? "/" : "/SO") + fileName + ".pdf");
}

void SoapPrint::airPrintFunc(const std::string& fileName) {
  auto screen = screen_.lock();
  if (!screen) return;
  std::vector<std::string> urls;
  if (!fileName.empty()) {
    urls.push_back(documentUrl(fileName));
    if (orvoDelegate_->settings().print2CopiesFlag) urls.push_back(urls.front());
  }
  std::weak_ptr<SoapPrint> weak = weak_from_this();
  printServerDocuments(*screen, urls, ui::localizedString("Print SO"), [weak, fileName](PrintOutcome outcome) {
    auto self = weak.lock();
    if (!self) return;
    if (outcome == PrintOutcome::Failed) return;
    if (outcome == PrintOutcome::Printed) self->setPrintCountInSOH(fileName);
    if (self->afterBarcodeFlag_) self->orvoDelegate_->startBarcode();
  });
}

void SoapPrint::setPrintCountInSOH(const std::string& fileName) {
  if (auto screen = screen_.lock()) sendPrintCount(*screen, fileName, "SoapPrint");
}

void SoapPrint::sendPrintCount(ui::ViewController& screen, const std::string& orderNumber, const std::string& owner) {
  OrvoMobileAppDelegate* app = OrvoMobileAppDelegate::shared();
  ScreenRequest r;
  r.operation = "setPrintCountInSOH";
  r.params = {{"orderNumber", orderNumber}, SoapParam::integer("copyMode", app->settings().print2CopiesFlag ? 1 : 0)};
  r.showActivity = false;
  r.reading = AnswerReading::Raw;
  r.requestMethod = "-[" + owner + " setPrintCountInSOH]";
  r.answerMethod = "-[" + owner + " setPrintCountInSOHResponseData:]";
  app->networkActivityStarted();
  sendScreenRequest(screen, std::move(r), [app](const RequestAnswer&) { app->networkActivityStopped(); });
}

}  // namespace orvo
