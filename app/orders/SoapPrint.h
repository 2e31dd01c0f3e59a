#pragma once
// Printing a PDF that the back office has already made (an order's form or a line sheet)
// on the device's printers: the file is fetched from the server's PDF folder, the print
// sheet opens with it (twice for two copies), and a finished print is reported to the
// server ("setPrintCountInSOH"). The screens that print server PDFs (the order selector,
// the saved orders of a customer, the line sheets) each keep one for their lifetime; its
// alerts show over that screen. Main thread.

#include <memory>
#include <string>

namespace ui { class ViewController; }

namespace orvo {

class OrvoMobileAppDelegate;

class SoapPrint : public std::enable_shared_from_this<SoapPrint> {
 public:
  explicit SoapPrint(ui::ViewController& screen);

  // Prints the PDF of `fileName`: "<pdf folder>/<name>.pdf" for a line sheet (a name with
  // "LINESHEET"), else "<pdf folder>/SO<name>.pdf". A name the server did not give, a file
  // that cannot be fetched or no printer: the user is told, nothing is printed or counted.
  void airPrintFunc(const std::string& fileName);
  void setPrintCountInSOH(const std::string& fileName);

  // When set, the sleeve's scan button is switched on again once the print sheet closes.
  bool afterBarcodeFlag() const { return afterBarcodeFlag_; }
  void setAfterBarcodeFlag(bool on) { afterBarcodeFlag_ = on; }

  // The address `airPrintFunc` prints from.
  static std::string documentUrl(const std::string& fileName);
  // Tells the server that `orderNumber` (an SO number text or a print file name) was
  // printed on the device, in two copies when that setting is on; only the status-bar
  // indicator shows. `owner` names the sending class in exception alerts.
  static void sendPrintCount(ui::ViewController& screen, const std::string& orderNumber, const std::string& owner);

 private:
  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::weak_ptr<ui::ViewController> screen_;
  bool afterBarcodeFlag_ = false;
};

}  // namespace orvo
