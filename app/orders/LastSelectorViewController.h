#pragma once
// The last screen of an order, pushed once the order has been saved: it shows the SO
// number(s), has the server make the order's PDFs on its first appearance ("CreateSOpdf"),
// and offers the closing actions: print the SO or the card authorization form on a server
// printer, e-mail the SO through the server, print and e-mail, print all and e-mail,
// capture a card, create the customer in the web shop, open the line sheets, duplicate the
// order, go back to the order selector, log out. Without server printing, the print
// buttons print the fetched PDFs on the device and the e-mail is composed on the device.
// The server operations live in LastSelectorDocuments.cpp, the e-mail address prompt and
// the device e-mail in LastSelectorEmail.cpp. Main thread.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/MailComposeViewController.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;

// Device print kinds.
inline constexpr int kPrintKindSO = 850;
inline constexpr int kPrintKindCC = 860;
inline constexpr int kPrintKindAll = 865;

// Tags of the e-mail address prompt, each naming the operation it leads to.
inline constexpr int kEmailGateSendSOEmail = 871;
inline constexpr int kEmailGatePrintSOandEmail = 872;
inline constexpr int kEmailGatePrintALLandEmail = 873;
inline constexpr int kEmailGateWebShopCustomer = 874;

class LastSelectorViewController : public ui::ViewController,
                                   public ui::AlertViewDelegate,
                                   public ui::MailComposeViewControllerDelegate {
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
  // The e-mail gate: with an address on file the tag's operation is sent at once, else the
  // address is asked for ("Ok" / "Cancel"); a valid one is kept in `GlobalSO::orderEmail1`.
  void checkEmail(int tag, bool reEnterEmailFlag);
  void clickedButtonAtIndex(ui::AlertView& alert, int buttonIndex) override;
  // The device e-mail: each SO's PDF and, with the image option, its archives and pictures.
  void eMailFunc();
  void mailComposeControllerDidFinishWithResult(ui::MailComposeViewController& controller,
                                                ui::MailComposeResult result,
                                                const std::optional<foundation::Error>& error) override;
  void dealyForWaitView();
  // What `eMailFunc` sends.
  struct DeviceMail deviceMail() const;

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
  // Sends the operation of an e-mail gate tag.
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
