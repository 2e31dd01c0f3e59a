#include "platform/ui/PrintInteractionController.h"

#include <gtest/gtest.h>

#include "platform/ui/AlertController.h"
#include "platform/ui/ImagePickerController.h"
#include "platform/ui/MailComposeViewController.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

// A print service that keeps the jobs it is given and answers as told.
class FakePrinter : public PrintService {
 public:
  bool available = true;
  std::optional<foundation::Error> failure;
  std::vector<PrintJob> jobs;
  std::vector<PrintDestination> printers;
  bool isAvailable() override { return available; }
  std::vector<PrintDestination> destinations() override { return printers; }
  void submit(const PrintJob& job, std::function<void(std::optional<foundation::Error>)> done) override {
    jobs.push_back(job);
    done(failure);
  }
};

struct Outcome {
  int calls = 0;
  bool completed = false;
  std::optional<foundation::Error> error;
};

class SheetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<Window>();
    screen = std::make_shared<ViewController>("Orders");
    window->setRootViewController(screen);
    window->makeKeyAndVisible();
    PrintInteractionController::setPrintService(printer);
    auto& pc = PrintInteractionController::shared();
    pc.printInfo = {"SO1001", PrintOutputType::General, PrintDuplex::None};
    pc.showsPageRange = true;
    pc.printingItems = {{{'%', 'P', 'D', 'F'}, "application/pdf", "SO1001.pdf"}};
  }
  void TearDown() override {
    PrintInteractionController::shared().dismissAnimated(false);
    PrintInteractionController::setPrintService(nullptr);
    MailComposeViewController::setMailTransport(nullptr);
    ImagePickerController::setImageSource(nullptr);
  }
  bool present(Outcome& o) {
    return PrintInteractionController::shared().presentAnimated(
        true, [&o](PrintInteractionController&, bool completed, const std::optional<foundation::Error>& e) {
          ++o.calls;
          o.completed = completed;
          o.error = e;
        });
  }
  std::shared_ptr<Window> window;
  std::shared_ptr<ViewController> screen;
  std::shared_ptr<FakePrinter> printer = std::make_shared<FakePrinter>();
};

TEST_F(SheetsTest, PrintSheetSendsOneJobWithCopiesAndPagesOrReportsWhy) {
  struct Case {
    const char* name;
    const char* copies;
    const char* pages;
    std::optional<foundation::Error> serviceFailure;
    bool sent;
    bool completed;
    int expectedCopies;
    const char* expectedPages;
  };
  const Case cases[] = {
      {"defaults print everything once", "1", "", std::nullopt, true, true, 1, ""},
      {"copies and ranges as typed", "3", "1-2, 5", std::nullopt, true, true, 3, "1-2, 5"},
      {"empty copies mean one", "", "", std::nullopt, true, true, 1, ""},
      {"zero copies are refused", "0", "", std::nullopt, false, false, 0, ""},
      {"a backwards range is refused", "1", "5-2", std::nullopt, false, false, 0, ""},
      {"page zero is refused", "1", "0", std::nullopt, false, false, 0, ""},
      {"words are refused", "1", "all", std::nullopt, false, false, 0, ""},
      {"a failing service reports its error", "1", "",
       foundation::Error(kPrintErrorDomain, kPrintJobFailedError, "printer jammed"), true, false, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    printer->jobs.clear();
    printer->failure = c.serviceFailure;
    Outcome o;
    ASSERT_TRUE(present(o));
    AlertController* sheet = PrintInteractionController::shared().sheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_EQ(sheet->textFields().size(), 2u);
    // The user types through the keyboard into the focused copies field, then the pages.
    EXPECT_TRUE(sheet->textFields()[0]->isFirstResponder());
    sheet->textFields()[0]->selectAll();
    window->deleteBackward();
    window->insertText(c.copies);
    sheet->textFields()[1]->becomeFirstResponder();
    window->insertText(c.pages);
    EXPECT_TRUE(sheet->pressAction("Print"));
    EXPECT_EQ(o.calls, 1);
    EXPECT_EQ(o.completed, c.completed);
    EXPECT_EQ(o.error.has_value(), !c.completed);
    ASSERT_EQ(printer->jobs.size(), c.sent ? 1u : 0u);
    if (c.sent) {
      EXPECT_EQ(printer->jobs[0].info.jobName, "SO1001");
      EXPECT_EQ(printer->jobs[0].items.size(), 1u);
      EXPECT_EQ(printer->jobs[0].copies, c.expectedCopies);
      EXPECT_EQ(printer->jobs[0].pageRanges, c.expectedPages);
    }
    EXPECT_FALSE(PrintInteractionController::shared().isPresented());
    EXPECT_EQ(screen->presentedViewController(), nullptr);
  }
}

TEST_F(SheetsTest, PrintSheetCancelsAndRefusesWhatCannotPrint) {
  Outcome o;
  ASSERT_TRUE(present(o));
  EXPECT_FALSE(present(o));  // one sheet at a time
  EXPECT_TRUE(PrintInteractionController::shared().sheet()->pressAction("Cancel"));
  EXPECT_EQ(o.calls, 1);
  EXPECT_FALSE(o.completed);
  EXPECT_FALSE(o.error);
  EXPECT_TRUE(printer->jobs.empty());

  auto& pc = PrintInteractionController::shared();
  auto items = pc.printingItems;
  pc.printingItems.clear();
  EXPECT_FALSE(present(o));  // nothing to print
  pc.printingItems = items;
  printer->available = false;
  EXPECT_FALSE(PrintInteractionController::isPrintingAvailable());
  EXPECT_FALSE(present(o));
  PrintInteractionController::setPrintService(nullptr);
  EXPECT_FALSE(PrintInteractionController::isPrintingAvailable());
  EXPECT_EQ(o.calls, 1);
}

TEST_F(SheetsTest, PrintSheetOffersTheServicesPrintersWithTheDefaultChosen) {
  printer->printers = {{"Office", "Front office", false}, {"Backroom", "Warehouse", true}};
  struct Case {
    const char* typed;  // nullptr: leave the default
    bool sent;
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, true, "Backroom"}, {"Office", true, "Office"}, {"", true, ""}, {"Lobby", false, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed ? c.typed : "default");
    printer->jobs.clear();
    Outcome o;
    ASSERT_TRUE(present(o));
    AlertController* sheet = PrintInteractionController::shared().sheet();
    ASSERT_EQ(sheet->textFields().size(), 3u);
    EXPECT_EQ(sheet->message(), "Printer Options\nPrinters: Office, Backroom");
    TextField& choice = *sheet->textFields()[2];
    EXPECT_EQ(choice.text(), "Backroom");
    if (c.typed) choice.setText(c.typed);
    EXPECT_TRUE(sheet->pressAction("Print"));
    EXPECT_EQ(o.completed, c.sent);
    ASSERT_EQ(printer->jobs.size(), c.sent ? 1u : 0u);
    if (c.sent) EXPECT_EQ(printer->jobs[0].printer, c.expected);
    else EXPECT_EQ(o.error->text, "There is no printer named \"Lobby\"");
  }
}

// Records what the mail composer reports.
class MailRecorder : public MailComposeViewControllerDelegate {
 public:
  void mailComposeControllerDidFinishWithResult(MailComposeViewController& c, MailComposeResult r,
                                                const std::optional<foundation::Error>& e) override {
    results.push_back(r);
    error = e;
    c.dismissViewControllerAnimated(true);
  }
  std::vector<MailComposeResult> results;
  std::optional<foundation::Error> error;
};

class FakeMail : public MailTransport {
 public:
  bool account = true;
  std::optional<foundation::Error> failure;
  std::vector<MailMessage> sent, drafts;
  bool canSend() override { return account; }
  void send(const MailMessage& m, std::function<void(std::optional<foundation::Error>)> done) override {
    sent.push_back(m);
    done(failure);
  }
  std::optional<foundation::Error> saveDraft(const MailMessage& m) override {
    drafts.push_back(m);
    return std::nullopt;
  }
};

TEST_F(SheetsTest, MailComposerSendsCancelsOrSavesAndTellsTheDelegateOnce) {
  auto mail = std::make_shared<FakeMail>();
  EXPECT_FALSE(MailComposeViewController::canSendMail());
  MailComposeViewController::setMailTransport(mail);
  EXPECT_TRUE(MailComposeViewController::canSendMail());
  auto recorder = std::make_shared<MailRecorder>();
  enum class Act { Send, SendFailing, DeleteDraft, SaveDraft };
  struct Case {
    Act act;
    MailComposeResult result;
    size_t sent, drafts;
  };
  const Case cases[] = {
      {Act::Send, MailComposeResult::Sent, 1, 0},
      {Act::SendFailing, MailComposeResult::Failed, 1, 0},
      {Act::DeleteDraft, MailComposeResult::Cancelled, 0, 0},
      {Act::SaveDraft, MailComposeResult::Saved, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.result));
    mail->sent.clear();
    mail->drafts.clear();
    mail->failure = c.act == Act::SendFailing
                        ? std::optional<foundation::Error>(foundation::Error("smtp", 7, "refused"))
                        : std::nullopt;
    recorder->results.clear();
    auto composer = std::make_shared<MailComposeViewController>();
    composer->setMailComposeDelegate(recorder);
    composer->setToRecipients({"buyer@example.com"});
    composer->setSubject("Order SO1001");
    composer->setMessageBody("<p>Thank you   &amp;\n welcome</p>          <p>Bye</p>", true);
    composer->addAttachmentData({'%', 'P', 'D', 'F'}, "application/pdf", "SO1001.pdf");
    ASSERT_TRUE(screen->presentViewController(composer, true));
    // The screen shows what will be sent.
    std::vector<std::string> shown;
    std::function<void(View&)> collect = [&](View& v) {
      for (auto& t : v.texts()) shown.push_back(t);
      for (auto& s : v.subviews()) collect(*s);
    };
    window->layoutIfNeeded();
    collect(composer->view());
    for (const char* want : {"To: buyer@example.com", "Subject: Order SO1001", "Thank you & welcome\nBye\n"})
      EXPECT_NE(std::find(shown.begin(), shown.end(), want), shown.end()) << want;
    if (c.act == Act::Send || c.act == Act::SendFailing) {
      composer->userSend();
    } else {
      composer->userCancel();
      auto* choice = dynamic_cast<AlertController*>(composer->presentedViewController());
      ASSERT_NE(choice, nullptr);
      EXPECT_TRUE(choice->pressAction(c.act == Act::DeleteDraft ? "Delete Draft" : "Save Draft"));
    }
    EXPECT_EQ(recorder->results, (std::vector<MailComposeResult>{c.result}));
    EXPECT_EQ(recorder->error.has_value(), c.result == MailComposeResult::Failed);
    ASSERT_EQ(mail->sent.size(), c.sent);
    EXPECT_EQ(mail->drafts.size(), c.drafts);
    if (c.sent) {
      EXPECT_EQ(mail->sent[0].toRecipients, (std::vector<std::string>{"buyer@example.com"}));
      EXPECT_TRUE(mail->sent[0].bodyIsHTML);
      ASSERT_EQ(mail->sent[0].attachments.size(), 1u);
      EXPECT_EQ(mail->sent[0].attachments[0].fileName, "SO1001.pdf");
    }
    composer->userSend();  // finished: nothing more happens
    EXPECT_EQ(recorder->results.size(), 1u);
    EXPECT_EQ(screen->presentedViewController(), nullptr);
  }
}

class FakeImages : public ImagePickerSource {
 public:
  bool camera = false;
  std::shared_ptr<Image> photo = Image::filled({1200, 1600}, Color::red());
  std::vector<std::shared_ptr<Image>> library{Image::filled({10, 10}, Color::blue()), Image::filled({20, 10}, Color::green())};
  bool isAvailable(ImagePickerSourceType t) override { return t != ImagePickerSourceType::Camera || camera; }
  std::vector<std::shared_ptr<Image>> images(ImagePickerSourceType) override { return library; }
  std::shared_ptr<Image> takePhoto() override { return photo; }
};

class PickRecorder : public ImagePickerControllerDelegate {
 public:
  void didFinishPickingMediaWithInfo(ImagePickerController& p, const PickedMedia& info) override {
    picked.push_back(info);
    p.dismissViewControllerAnimated(true);
  }
  void imagePickerControllerDidCancel(ImagePickerController& p) override {
    ++cancels;
    p.dismissViewControllerAnimated(true);
  }
  std::vector<PickedMedia> picked;
  int cancels = 0;
};

TEST_F(SheetsTest, ImagePickerOffersTheSourceAndReportsThePickOrTheCancel) {
  EXPECT_FALSE(ImagePickerController::isSourceTypeAvailable(ImagePickerSourceType::PhotoLibrary));
  auto source = std::make_shared<FakeImages>();
  ImagePickerController::setImageSource(source);
  EXPECT_TRUE(ImagePickerController::isSourceTypeAvailable(ImagePickerSourceType::PhotoLibrary));
  EXPECT_FALSE(ImagePickerController::isSourceTypeAvailable(ImagePickerSourceType::Camera));
  auto recorder = std::make_shared<PickRecorder>();

  // A tap on the second thumbnail picks the second image.
  auto picker = std::make_shared<ImagePickerController>();
  picker->setDelegate(recorder);
  ASSERT_TRUE(screen->presentViewController(picker, true));
  ASSERT_EQ(picker->offeredImages().size(), 2u);
  window->layoutIfNeeded();
  View* second = nullptr;
  std::function<void(View&)> find = [&](View& v) {
    if (v.accessibilityLabel() == "Photo 2") second = &v;
    for (auto& s : v.subviews()) find(*s);
  };
  find(picker->view());
  ASSERT_NE(second, nullptr);
  window->tap(second->convertToWindow(second->bounds().center()));
  ASSERT_EQ(recorder->picked.size(), 1u);
  EXPECT_EQ(recorder->picked[0].mediaType, kMediaTypeImage);
  EXPECT_EQ(recorder->picked[0].originalImage, source->library[1]);
  EXPECT_FALSE(picker->userPickImage(0));  // finished
  EXPECT_EQ(screen->presentedViewController(), nullptr);

  // The camera gives the photo it takes; cancel reports once.
  source->camera = true;
  auto camera = std::make_shared<ImagePickerController>();
  camera->setSourceType(ImagePickerSourceType::Camera);
  camera->setDelegate(recorder);
  ASSERT_TRUE(screen->presentViewController(camera, true));
  EXPECT_TRUE(camera->userTakePhoto());
  ASSERT_EQ(recorder->picked.size(), 2u);
  EXPECT_EQ(recorder->picked[1].originalImage->pixelWidth(), 1200);
  auto cancelled = std::make_shared<ImagePickerController>();
  cancelled->setDelegate(recorder);
  cancelled->setMediaTypes({"public.movie"});
  ASSERT_TRUE(screen->presentViewController(cancelled, true));
  EXPECT_TRUE(cancelled->offeredImages().empty());
  cancelled->userCancel();
  cancelled->userCancel();
  EXPECT_EQ(recorder->cancels, 1);
  EXPECT_EQ(screen->presentedViewController(), nullptr);
}

}  // namespace
}  // namespace ui
