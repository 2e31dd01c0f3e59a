// The last screen's server documents, printing and e-mail: "CreateSOpdf" and the print and
// e-mail operations of the back office, the web-shop customer, and the device print of the
// fetched PDFs.
#include <memory>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/Util.h"
#include "app/orders/LastSelectorViewController.h"
#include "app/orders/ServerPdfPrint.h"
#include "app/orders/SoapPrint.h"
#include "platform/foundation/Values.h"
#include "platform/ui/PrintInteractionController.h"
#include "platform/ui/Text.h"

namespace orvo {

using nlohmann::json;

namespace {

std::map<std::string, std::string> textMap(const json& object) {
  std::map<std::string, std::string> out;
  if (object.is_object())
    for (const auto& [k, v] : object.items()) out[k] = foundation::textValue(v);
  return out;
}

// The order, its copies and its printer: what the server's print operations are given.
std::vector<SoapParam> printParams(const GlobalSO& so, bool twoCopies) {
  return {{"orderNumber", so.orderNumber},
          SoapParam::integer("copyMode", twoCopies ? 1 : 0),
          SoapParam::integer("printerNo", so.printerNum)};
}

// `params` followed by what the server's e-mail operations are given about the mail.
std::vector<SoapParam> withEmail(std::vector<SoapParam> params, const GlobalSO& so, const std::string& company,
                                 bool setEmail) {
  params.insert(params.end(), {{"company", company},
                               {"customerName", so.customerID},
                               {"customerEmail", so.orderEmail1},
                               SoapParam::integer("setEmailFlag", setEmail ? 1 : 0)});
  return params;
}

bool isEmailOperation(const std::string& operation) {
  return operation == "SendSOEmail" || operation == "PrintSOandEmailbyServer" || operation == "PrintALLandEmailbyServer";
}

}  // namespace

void LastSelectorViewController::createSOpdf() {
  const bool airPrint = !orvoDelegate_->settings().printUsingServerFlag;
  serverOperation("CreateSOpdf",
                  {{"orderNumber", orvoDelegate_->globalSO().orderNumber}, SoapParam::integer("airPrintFlag", airPrint)},
                  nullptr);
}

void LastSelectorViewController::createSOpdfResponseData(const RequestAnswer& a) {
  const auto* answer = acceptedAnswer(*this, a);
  if (!answer) return;
  if (auto names = JsonClass::getJSONobj(foundation::textForKey(*answer, "PrintFileName")))
    printFileNameDic_ = textMap(*names);
  const Settings& settings = orvoDelegate_->settings();
  if (!settings.printUsingServerFlag && settings.EmailImgZipFlag)
    if (auto names = JsonClass::getJSONobj(foundation::textForKey(*answer, "AttachmentFileNames")))
      attachmentFileNameDic_ = textMap(*names);
}

void LastSelectorViewController::printSObyServer() {
  serverOperation("PrintSObyServer", printParams(orvoDelegate_->globalSO(), orvoDelegate_->settings().print2CopiesFlag),
                  &LastSelectorViewController::printAnswer);
}

void LastSelectorViewController::printCCbyServer() {
  const GlobalSO& so = orvoDelegate_->globalSO();
  serverOperation("PrintCCbyServer",
                  {{"orderNumber", so.orderNumber}, SoapParam::integer("printerNo", so.printerNum)},
                  &LastSelectorViewController::printAnswer);
}

void LastSelectorViewController::sendSOEmail() {
  const GlobalSO& so = orvoDelegate_->globalSO();
  serverOperation("SendSOEmail", withEmail({{"orderNumber", so.orderNumber}}, so, companyName_, setEmailFlag_),
                  &LastSelectorViewController::emailAnswer);
}

void LastSelectorViewController::printSOandEmailbyServer() {
  const GlobalSO& so = orvoDelegate_->globalSO();
  serverOperation("PrintSOandEmailbyServer",
                  withEmail(printParams(so, orvoDelegate_->settings().print2CopiesFlag), so, companyName_,
                            setEmailFlag_),
                  &LastSelectorViewController::emailAnswer);
}

void LastSelectorViewController::printALLandEmailbyServer() {
  const GlobalSO& so = orvoDelegate_->globalSO();
  serverOperation("PrintALLandEmailbyServer",
                  withEmail(printParams(so, orvoDelegate_->settings().print2CopiesFlag), so, companyName_,
                            setEmailFlag_),
                  &LastSelectorViewController::emailAnswer);
}

void LastSelectorViewController::setPrintCountInSOH() {
  SoapPrint::sendPrintCount(*this, orvoDelegate_->globalSO().orderNumber, "LastSelectorViewController");
}

void LastSelectorViewController::createMgtNewCustomer() {
  const GlobalSO& so = orvoDelegate_->globalSO();
  ScreenRequest r;
  r.operation = "SetMagentoNewCustomer";
  r.params = {{"customerCode", so.customerID}, {"email", setEmailFlag_ ? so.orderEmail1 : std::string()}};
  r.reading = AnswerReading::ResultText;
  r.requestMethod = "-[LastSelectorViewController createMgtNewCustomer]";
  r.answerMethod = "-[LastSelectorViewController createMgtNewCustomerResponseData:]";
  setEmailFlag_ = false;  // cleared by every answer, failures included
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) {
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle, a.text.value_or(""));
  });
}

void LastSelectorViewController::emailGate(int tag) {
  switch (tag) {
    case kEmailGateSendSOEmail: sendSOEmail(); break;
    case kEmailGatePrintSOandEmail: printSOandEmailbyServer(); break;
    case kEmailGatePrintALLandEmail: printALLandEmailbyServer(); break;
    case kEmailGateWebShopCustomer: createMgtNewCustomer(); break;
    default: break;
  }
}

void LastSelectorViewController::serverOperation(
    const std::string& operation, std::vector<SoapParam> params,
    void (LastSelectorViewController::*answer)(const std::string&, const RequestAnswer&)) {
  ScreenRequest r;
  r.operation = operation;
  r.params = std::move(params);
  std::string method = operation;
  method[0] = char(std::tolower(static_cast<unsigned char>(method[0])));
  r.requestMethod = "-[LastSelectorViewController " + method + "]";
  r.answerMethod = "-[LastSelectorViewController " + method + "ResponseData:]";
  const bool email = isEmailOperation(operation);
  if (email) orvoDelegate_->globalSO().currSoapFuncName = operation;
  FailureHandler failed = [this, email](const ServiceFailure& f) {
    if (email) setEmailFlag_ = false;
    orvoDelegate_->errorResponseData(f);
  };
  sendScreenRequest(
      *this, std::move(r),
      [this, operation, answer, email](const RequestAnswer& a) {
        if (email) {
          setEmailFlag_ = false;
          orvoDelegate_->globalSO().currSoapFuncName.clear();
        }
        if (answer)
          (this->*answer)(operation, a);
        else
          createSOpdfResponseData(a);
      },
      failed);
}

void LastSelectorViewController::printAnswer(const std::string& operation, const RequestAnswer& a) {
  const auto* answer = acceptedAnswer(*this, a);
  if (!answer) return;
  const std::string& number = orvoDelegate_->globalSO().orderNumber;
  if (operation == "PrintCCbyServer")
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle,
                             "Authorization form has been printed successfully.");
  else
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, soTitle(),
                             "SO#" + number + " has been printed successfully.");
}

void LastSelectorViewController::emailAnswer(const std::string& operation, const RequestAnswer& a) {
  const auto* answer = acceptedAnswer(*this, a);
  if (!answer) return;
  const bool scheduled = orvoDelegate_->settings().EmailScheduleFlag;
  std::string message;
  if (operation == "SendSOEmail")
    message = scheduled ? "The email job has been scheduled in the server." : "The email has been sent successfully.";
  else if (operation == "PrintSOandEmailbyServer")
    message = scheduled ? "Print SO & E-mail' has been done successfully.\n(email job has been scheduled in the server)"
                        : "'Print SO & E-mail' has been done successfully.";
  else
    message = scheduled ? "'Print ALL & E-mail' has been done successfully.\n(email job has been scheduled in the server)"
                        : "'Print ALL & E-mail' has been done successfully.";
  AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, soTitle(), message);
}

std::vector<std::string> LastSelectorViewController::documentUrls(int kind) const {
  const std::string folder = Util::getPdfUrl();
  const std::string card = folder + "/CC" + orvoDelegate_->globalSO().orderNumber + ".pdf";
  if (kind == kPrintKindCC) return {card};
  std::vector<std::string> orders;
  for (const auto& so : sOrderNumberArray_) {
    // An SO whose file name the server did not give has no document to print.
    auto name = printFileNameDic_.find(so);
    if (name == printFileNameDic_.end()) return {};
    orders.push_back(folder + "/SO" + name->second + ".pdf");
  }
  std::vector<std::string> out = orders;
  if (orvoDelegate_->settings().print2CopiesFlag) out.insert(out.end(), orders.begin(), orders.end());
  if (kind == kPrintKindAll) out.push_back(card);
  return out;
}

// The device print of a kind, on the next turn after the viewer is shown. However it ends,
// neither print-and-e-mail flag outlives it; a finished print is counted on the server, and
// the print-and-e-mail road goes on to the e-mail after a print or a cancel.
void LastSelectorViewController::startDevicePrint(int kind) {
  if (kind == kPrintKindAll) printAllandEmailFlag_ = false;
  std::weak_ptr<LastSelectorViewController> weak = self<LastSelectorViewController>();
  printServerDocuments(*this, documentUrls(kind), ui::localizedString("Print SO"), [weak](PrintOutcome outcome) {
    auto s = weak.lock();
    if (!s) return;
    const bool thenEmail = s->printSoAndEmailFlag_;
    s->printSoAndEmailFlag_ = s->printAllandEmailFlag_ = false;
    if (outcome == PrintOutcome::Printed) s->setPrintCountInSOH();
    if (thenEmail && (outcome == PrintOutcome::Printed || outcome == PrintOutcome::Cancelled)) s->btn_eMailFunc();
  });
}

}  // namespace orvo
