#include "platform/ui/PrintInteractionController.h"

#include <regex>

#include "platform/ui/AlertController.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

std::shared_ptr<PrintService>& service() {
  static std::shared_ptr<PrintService> s;
  return s;
}

constexpr int kMaxCopies = 999;

// "1-3, 5": pages from 1, each range ascending.
bool validPageRanges(const std::string& text) {
  static const std::regex form(R"(\s*\d+\s*(-\s*\d+\s*)?(,\s*\d+\s*(-\s*\d+\s*)?)*)");
  if (!std::regex_match(text, form)) return false;
  static const std::regex part(R"((\d+)\s*(?:-\s*(\d+))?)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), part); it != std::sregex_iterator(); ++it) {
    const std::string a = (*it)[1], b = (*it)[2];
    if (a.size() > 6 || b.size() > 6) return false;
    const long from = std::stol(a), to = b.empty() ? from : std::stol(b);
    if (from < 1 || to < from) return false;
  }
  return true;
}

std::string trimmed(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

}  // namespace

PrintInteractionController& PrintInteractionController::shared() {
  static PrintInteractionController c;
  return c;
}

void PrintInteractionController::setPrintService(std::shared_ptr<PrintService> s) { service() = std::move(s); }

bool PrintInteractionController::isPrintingAvailable() { return service() && service()->isAvailable(); }

bool PrintInteractionController::presentAnimated(bool animated, Completion completion) {
  if (sheet_ || completion_ || !isPrintingAvailable() || printingItems.empty()) return false;
  Window* window = Window::keyWindow();
  ViewController* top = window ? window->topViewController() : nullptr;
  if (!top) return false;
  destinations_ = service()->destinations();
  std::string message = "Printer Options";
  std::string chosen;
  if (!destinations_.empty()) {
    message += "\nPrinters:";
    for (const auto& d : destinations_) {
      message += (&d == &destinations_.front() ? " " : ", ") + d.name;
      if (d.isDefault) chosen = d.name;
    }
    if (chosen.empty()) chosen = destinations_.front().name;
  }
  auto sheet = AlertController::make(printInfo.jobName.empty() ? "Print" : printInfo.jobName, message);
  sheet->addTextField([](TextField& f) {
    f.setPlaceholder("Copies");
    f.setAccessibilityLabel("Copies");
    f.setText("1");
    f.setKeyboardType(KeyboardType::NumberPad);
  });
  if (showsPageRange)
    sheet->addTextField([](TextField& f) {
      f.setPlaceholder("All pages");
      f.setAccessibilityLabel("Pages");
      f.setKeyboardType(KeyboardType::NumbersAndPunctuation);
    });
  if (!destinations_.empty())
    sheet->addTextField([chosen](TextField& f) {
      f.setPlaceholder("Printer");
      f.setAccessibilityLabel("Printer");
      f.setText(chosen);
    });
  sheet->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel, [this](AlertAction&) {
    sheet_.reset();
    finish(false, std::nullopt);
  }));
  sheet->addAction(AlertAction::make("Print", AlertActionStyle::Default, [this](AlertAction&) { print(); }));
  sheet_ = sheet;
  completion_ = completion ? std::move(completion) : [](PrintInteractionController&, bool, const auto&) {};
  if (!top->presentViewController(sheet, animated)) {
    sheet_.reset();
    completion_ = nullptr;
    return false;
  }
  return true;
}

void PrintInteractionController::dismissAnimated(bool animated) {
  if (!sheet_) return;
  auto sheet = std::move(sheet_);
  sheet->dismissViewControllerAnimated(animated, nullptr);
  finish(false, std::nullopt);
}

void PrintInteractionController::print() {
  auto sheet = std::move(sheet_);
  if (!sheet) return;
  const auto& fields = sheet->textFields();
  PrintJob job;
  job.info = printInfo;
  job.items = printingItems;
  const std::string copies = trimmed(fields.empty() ? std::string() : fields[0]->text());
  if (!copies.empty()) {
    if (copies.size() > 3 || copies.find_first_not_of("0123456789") != std::string::npos || std::stoi(copies) < 1)
      return finish(false, foundation::Error(kPrintErrorDomain, kPrintJobFailedError,
                                             "The number of copies must be from 1 to " + std::to_string(kMaxCopies)));
    job.copies = std::stoi(copies);
  }
  if (showsPageRange && fields.size() > 1) {
    job.pageRanges = trimmed(fields[1]->text());
    if (!job.pageRanges.empty() && !validPageRanges(job.pageRanges))
      return finish(false, foundation::Error(kPrintErrorDomain, kPrintJobFailedError,
                                             "\"" + job.pageRanges + "\" is not a page range"));
  }
  if (!destinations_.empty()) {
    job.printer = trimmed(fields.back()->text());
    bool known = job.printer.empty();  // the service's default
    for (const auto& d : destinations_) known = known || d.name == job.printer;
    if (!known)
      return finish(false, foundation::Error(kPrintErrorDomain, kPrintJobFailedError,
                                             "There is no printer named \"" + job.printer + "\""));
  }
  auto s = service();
  if (!s || !s->isAvailable())
    return finish(false, foundation::Error(kPrintErrorDomain, kPrintingNotAvailableError, "Printing is not available"));
  s->submit(job, [this](std::optional<foundation::Error> error) { finish(!error, std::move(error)); });
}

void PrintInteractionController::finish(bool completed, std::optional<foundation::Error> error) {
  auto done = std::move(completion_);
  completion_ = nullptr;
  if (done) done(*this, completed, error);
}

}  // namespace ui
