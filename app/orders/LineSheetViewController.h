#pragma once
// The line sheets of one SO: on its first appearance the server makes the two PDFs of the
// order, "default" then "detail" (one request after the other, "CreateLineSheetPdf"), and
// the screen keeps their file names; four buttons print either form (server printer, or
// the device's printers) or e-mail either form (by the server, or composed on the device)
// to the address typed in the To field. Which road a print or an e-mail takes follows the
// print-using-server setting. Opened full-screen in its own navigation by the order
// selector and the last screen, told the SO number first. Main thread.

#include <map>
#include <memory>
#include <string>

#include "app/orders/OrderScreens.h"
#include "platform/ui/Label.h"
#include "platform/ui/MailComposeViewController.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
class SoapPrint;
struct RequestAnswer;

class LineSheetViewController : public ui::ViewController,
                                public LineSheetReceiver,
                                public ui::TextFieldDelegate,
                                public ui::ScrollViewDelegate,
                                public ui::MailComposeViewControllerDelegate {
 public:
  LineSheetViewController() : LineSheetViewController("LineSheetViewController") {}
  explicit LineSheetViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void setLinesheetSOnumber(const std::string& number) override { linesheetSOnumber_ = number; }
  const std::string& linesheetSOnumber() const { return linesheetSOnumber_; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void textFieldDidBeginEditing(ui::TextField& field) override;
  bool textFieldShouldReturn(ui::TextField& field) override;

  void btn_PrintLineSheetDefaultForm() { printLineSheetForm("DEFAULT"); }
  void btn_PrintLineSheetDetailForm() { printLineSheetForm("DETAIL"); }
  void btn_EmailLineSheetDefaultForm() { emailLineSheetForm("DEFAULT"); }
  void btn_EmailLineSheetDetailForm() { emailLineSheetForm("DETAIL"); }

  // The server's file name of a form ("DEFAULT" or "DETAIL"); empty while not known.
  std::string getPrintFileName(const std::string& form) const;
  void printLineSheetForm(const std::string& form);
  void createLineSheetPdf(const std::string& form);
  void createLineSheetPdfResponseData(const RequestAnswer& answer);
  void printSObyServer(const std::string& fileName);
  void sendLineSheetEmail(const std::string& form);
  void iOSnativeMailFunc(const std::string& form);
  void mailComposeControllerDidFinishWithResult(ui::MailComposeViewController& controller,
                                                ui::MailComposeResult result,
                                                const std::optional<foundation::Error>& error) override;
  void backFunc();

  // For tests and the demo.
  ui::Label* lbl_LineSheetSO() const { return lbl_LineSheetSO_.get(); }
  ui::TextField* txt_ToEmail() const { return txt_ToEmail_.get(); }
  ui::ScrollView* sv_background() const { return sv_background_.get(); }
  const std::map<std::string, std::string>& printFileNameDic() const { return printFileNameDic_; }
  bool isFirstLineSheetForm() const { return isFirstLineSheetForm_; }

 private:
  void emailLineSheetForm(const std::string& form);
  // Tells the user that a form's PDF is not there yet; true when it is.
  bool haveFile(const std::string& form, const std::string& fileName);

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<SoapPrint> soapPrint_;
  std::shared_ptr<ui::ScrollView> sv_background_;
  std::shared_ptr<ui::Label> lbl_LineSheetSO_;
  std::shared_ptr<ui::TextField> txt_ToEmail_;
  bool isFirstLineSheetForm_ = false;
  bool isFirstLoading_ = false;
  std::map<std::string, std::string> printFileNameDic_;
  std::string linesheetSOnumber_;
};

}  // namespace orvo
