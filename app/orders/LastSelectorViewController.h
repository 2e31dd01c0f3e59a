#pragma once
// The last screen of an order, pushed once the order has been saved: it shows the SO
// number(s), has the server make the order's PDFs on its first appearance ("CreateSOpdf"),
// and offers the closing actions: print the SO or the card authorization form on a server
// printer, e-mail the SO through the server, print and e-mail, print all and e-mail,
// capture a card, create the customer in the web shop, open the line sheets, duplicate the
// order, go back to the order selector, log out. Without server printing, the print
// buttons print the fetched PDFs on the device. The server operations live in
// LastSelectorDocuments.cpp. Main thread.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;

// Device print kinds.
inline constexpr int kPrintKindSO = 850;
inline constexpr int kPrintKindCC = 860;
inline constexpr int kPrintKindAll = 865;

class LastSelectorViewController : public ui::ViewController {
 public:
  LastSelectorViewController() : LastSelectorViewController("LastSelectorViewController") {}
  explicit LastSelectorViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  // Buttons.
  void btn_PrintFunc();
  void btn_printCcFunc();
  void btn_eMailFunc();
  void btn_printAndEmail();
  void btn_printAllandEmail();
  void btn_ccFunc();
  void btn_wwwFunc();
  void btn_linesheetFunc();
  void btn_duplicateSOfunc();
  void btn_mainFunc();
  void btn_invoiceFunc() {}
  void logoutButtonClicked();
  void backFunc();
  void yesDuplicateSO();
  void yesMain();
  void yesAlertLogout();

  // Server documents, printing and e-mail.
  void createSOpdf();
  void createSOpdfResponseData(const RequestAnswer& answer);
  void printSObyServer();
  void printCCbyServer();
  void sendSOEmail();
  void printSOandEmailbyServer();
  void printALLandEmailbyServer();
  void setPrintCountInSOH();
  void createMgtNewCustomer();
  // The documents of a device print of a kind, in print order: each SO's PDF (the series
  // twice for two copies), then for 865 the card form; each a document of its own. Empty
  // when an SO's file name is not known.
  std::vector<std::string> documentUrls(int kind) const;

  // For tests and the demo.
  ui::Label* lbl_so() const { return lbl_so_.get(); }
  ui::Button* button(const std::string& title) const;
  ui::Button* btn_cc() const { return btn_cc_.get(); }
  ui::Button* btn_printSoAndEmail() const { return btn_printSoAndEmail_.get(); }
  ui::Button* btn_printAllAndEmail() const { return btn_printAllAndEmail_.get(); }
  ui::Button* btn_ccCapture() const { return btn_ccCapture_.get(); }
  ui::Button* btn_www() const { return btn_www_.get(); }
  ui::Button* btn_linesheet() const { return btn_linesheet_.get(); }
  const std::vector<std::string>& sOrderNumberArray() const { return sOrderNumberArray_; }
  const std::map<std::string, std::string>& printFileNameDic() const { return printFileNameDic_; }
  const std::map<std::string, std::string>& attachmentFileNameDic() const { return attachmentFileNameDic_; }
  bool setEmailFlag() const { return setEmailFlag_; }
  bool printSoAndEmailFlag() const { return printSoAndEmailFlag_; }
  bool printAllandEmailFlag() const { return printAllandEmailFlag_; }

 private:
  // The e-mail operations: the address on file is sent as it is.
  void emailGate(int tag);
  void serverOperation(const std::string& operation, std::vector<struct SoapParam> params,
                       void (LastSelectorViewController::*answer)(const std::string& operation, const RequestAnswer&));
  void printAnswer(const std::string& operation, const RequestAnswer& answer);
  void emailAnswer(const std::string& operation, const RequestAnswer& answer);
  void startDevicePrint(int kind);
  std::string soTitle() const;

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::string companyName_;
  std::vector<std::string> sOrderNumberArray_;
  std::map<std::string, std::string> printFileNameDic_;
  std::map<std::string, std::string> attachmentFileNameDic_;
  bool firstViewDidLoadFlag_ = true;
  bool skipGetOrderCustomerInfoFlag_ = false;
  bool printSoAndEmailFlag_ = false;
  bool printAllandEmailFlag_ = false;
  bool setEmailFlag_ = false;
  // A card-screen visit is under way; the card flag as it was before it.
  bool ccVisit_ = false;
  bool authorizedBeforeVisit_ = false;
  int ccCaptureCount_ = 0;
  std::shared_ptr<ui::Label> lbl_so_;
  std::shared_ptr<ui::Button> btn_cc_, btn_printSoAndEmail_, btn_printAllAndEmail_, btn_ccCapture_, btn_www_,
      btn_linesheet_;
  std::vector<std::shared_ptr<ui::Button>> buttons_;
};

}  // namespace orvo
