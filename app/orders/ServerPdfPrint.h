#pragma once
// Printing the back office's PDFs on the device: the documents are fetched one after the
// other from their addresses, then the print sheet opens with each one as a document of
// its own, in the given order (several orders and copies are never joined into one byte
// stream, which would not be a readable PDF). A document that cannot be fetched, or a
// device without a print service, opens no sheet and tells the user. Main thread.

#include <functional>
#include <string>
#include <vector>

namespace ui { class ViewController; }

namespace orvo {

enum class PrintOutcome {
  Printed,     // the sheet handed the job to the printer
  Cancelled,   // the user cancelled the sheet
  Failed,      // the sheet ended with an error
  NotStarted,  // no printer, or a document could not be fetched (the user was told)
};

void printServerDocuments(ui::ViewController& screen, std::vector<std::string> urls, const std::string& jobName,
                          std::function<void(PrintOutcome)> done);

}  // namespace orvo
