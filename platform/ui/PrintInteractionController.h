#pragma once
// The print sheet. A screen fills in the shared controller (job name, output type, duplex,
// whether a page range may be chosen, the items: document bytes such as PDF files) and
// presents it; the sheet shows over the screen on top with the number of copies, the pages
// (when offered), the printer (when the service lists printers to choose from; the default
// one filled in, emptied for the service's default), "Cancel" and "Print". The user, or a test, answers it:
//   - "Cancel" ends with completed = false and no error;
//   - "Print" hands one job to the print service and ends with completed = true once the
//     service took it, or completed = false and its error;
//   - pages that are not a page range ("1-3,5"), or a printer the service does not list,
//     end with completed = false and an error, nothing is sent.
// The completion runs once per presentation, after the sheet is gone. Nothing prints
// without a print service: `isPrintingAvailable` answers false and presenting fails. The
// service (CUPS in the application, a fake in tests) is installed once at start-up. Main
// thread.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/ui/Image.h"

namespace ui {

class AlertController;

enum class PrintOutputType { General, Photo, Grayscale, PhotoGrayscale };
enum class PrintDuplex { None, LongEdge, ShortEdge };

struct PrintInfo {
  std::string jobName;
  PrintOutputType outputType = PrintOutputType::General;
  PrintDuplex duplex = PrintDuplex::None;
};

// One document to print: its bytes, their MIME type and a name for the print queue.
struct PrintItem {
  ImageBytes data;
  std::string mimeType = "application/pdf";
  std::string name;
};

// What the sheet hands to the print service.
struct PrintJob {
  PrintInfo info;
  std::vector<PrintItem> items;
  int copies = 1;
  std::string pageRanges;  // empty: every page; otherwise as typed, e.g. "1-3,5"
  std::string printer;     // a destination's name; empty: the service's default
};

// A printer the service can send to.
struct PrintDestination {
  std::string name;
  std::string info;  // what the printer's owner calls it
  bool isDefault = false;
};

class PrintService {
 public:
  virtual ~PrintService() = default;
  // Whether a printer can be reached now.
  virtual bool isAvailable() = 0;
  // The printers to choose from (none: the service chooses).
  virtual std::vector<PrintDestination> destinations() { return {}; }
  // Sends `job`; calls `done` once on the main queue with nullopt or the failure.
  virtual void submit(const PrintJob& job, std::function<void(std::optional<foundation::Error>)> done) = 0;
};

// The errors the sheet itself reports.
inline constexpr const char* kPrintErrorDomain = "UIPrintErrorDomain";
inline constexpr int kPrintingNotAvailableError = 1;
inline constexpr int kPrintNoContentError = 2;
inline constexpr int kPrintJobFailedError = 4;

class PrintInteractionController {
 public:
  using Completion =
      std::function<void(PrintInteractionController&, bool completed, const std::optional<foundation::Error>& error)>;

  static PrintInteractionController& shared();
  static bool isPrintingAvailable();
  // Installs the print service (nullptr: none).
  static void setPrintService(std::shared_ptr<PrintService> service);

  PrintInfo printInfo;
  bool showsPageRange = false;
  // The documents to print (the platform's `printingItem` is one of them).
  std::vector<PrintItem> printingItems;

  // Shows the sheet over the top screen of the key window. False (and the completion is
  // not called) when printing is not available, there is nothing to print, there is no
  // screen, or the sheet is already up.
  bool presentAnimated(bool animated, Completion completion);
  bool isPresented() const { return sheet_ != nullptr; }
  // The sheet while it is up (its text fields are the copies, when offered the pages, and
  // when the service lists printers the printer).
  AlertController* sheet() const { return sheet_.get(); }
  // Takes the sheet away as a cancel would.
  void dismissAnimated(bool animated);

 private:
  void finish(bool completed, std::optional<foundation::Error> error);
  void print();
  std::shared_ptr<AlertController> sheet_;
  std::vector<PrintDestination> destinations_;
  Completion completion_;
};

}  // namespace ui
