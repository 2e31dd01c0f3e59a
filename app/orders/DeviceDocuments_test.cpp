// Documents on the device against the back office on loopback, with the system's real
// services started for the test: printing through a private cupsd, mail through aiosmtpd.
// The last screen's device e-mail and its address prompt, server PDFs printed and counted,
// and the line sheets.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/core/AppNames.h"
#include "app/orders/DeviceMail.h"
#include "app/orders/LastSelectorViewController.h"
#include "app/orders/LineSheetViewController.h"
#include "platform/foundation/Values.h"
#include "app/orders/OrderInfoViewController.h"
#include "app/orders/SoOrderTypeViewController.h"
#include "app/orders/SoSelectorViewController.h"
#include "app/orders/SoapPrint.h"
#include "platform/foundation/Clock.h"
#include "platform/mail/SmtpMailTransport.h"
#include "platform/print/CupsPrintService.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/MailComposeViewController.h"
#include "platform/ui/PrintInteractionController.h"
#include "testing/app/OrderRoadTestSupport.h"
#include "testing/services/CupsdFixture.h"
#include "testing/services/SmtpFixture.h"

namespace orvo {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;
using test_support::OrderRoadHarness;

constexpr const char* kCompany = "Orvo & Sons <Apparel>";
const std::string kGap(29, ' ');

class DeviceDocuments : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    foundation::UserDefaults::standard().setString("companyName", kCompany);
    t.launch();
  }
  void TearDown() override {
    ui::PrintInteractionController::shared().dismissAnimated(false);
    ui::PrintInteractionController::setPrintService(nullptr);
    ui::MailComposeViewController::setMailTransport(nullptr);
  }
  // A Multi SO order of two styles saved (SO 10001 and 10002); its last screen.
  LastSelectorViewController* saveTwoOrders() {
    auto* header = t.walkToHeader({"400000000002", "400000000014"});
    if (!header) return nullptr;
    t.app.delegate->settings().multiSoFlag = true;
    if (!t.saveHeader(*header)) return nullptr;
    t.press("OK");
    t.waitForRequests();
    return t.top<LastSelectorViewController>();
  }
  std::string document(const std::string& path) {
    std::string out;
    t.server.withState([&](backoffice::State& s) { out = s.documents[path]; });
    return out;
  }
  void useMail(std::optional<mail::MailAccount> account) {
    ui::MailComposeViewController::setMailTransport(
        std::make_shared<mail::SmtpMailTransport>([account] { return account; }));
  }
  mail::MailAccount account(int port) {
    mail::MailAccount a;
    a.server = "127.0.0.1";
    a.port = port;
    a.security = mail::MailSecurity::None;
    a.from = "rep@orvo.test";
    return a;
  }
  ui::MailComposeViewController* composer() {
    for (ui::ViewController* vc = t.app.delegate->window->rootViewController().get(); vc;
         vc = vc->presentedViewController())
      if (auto* c = dynamic_cast<ui::MailComposeViewController*>(vc)) return c;
    return nullptr;
  }
  std::shared_ptr<ui::AlertView> prompt() {
    auto alerts = ui::AlertView::visibleAlerts();
    return alerts.empty() ? nullptr : alerts.back();
  }
  // Types `text` into the e-mail prompt and presses `button`.
  void answerPrompt(const std::string& text, int button) {
    auto p = prompt();
    ASSERT_NE(p, nullptr);
    auto field = p->textFieldAtIndex(0);
    ASSERT_TRUE(t.h->type(field.get(), "")) << t.h->dump();
    t.h->deleteBackward(int(field->text().size()));
    t.h->typeText(text);
    ASSERT_TRUE(t.h->pressAlertButton(p->buttonTitleAtIndex(button))) << t.h->dump();
    t.settle();
  }
  LineSheetViewController* openLineSheets(LastSelectorViewController& last) {
    if (!t.h->tap(last.btn_linesheet())) return nullptr;
    t.waitForRequests();
    return t.top<LineSheetViewController>();
  }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
};

TEST_F(DeviceDocuments, DeviceMailCarriesEachOrdersPdfAndItsPicturesToTheMailServer) {
  services::SmtpFixture smtp;
  ASSERT_TRUE(smtp.start()) << smtp.error();
  useMail(account(smtp.port()));
  t.app.delegate->settings().EmailImgZipFlag = true;
  const std::string zip("PK\x03\x04 archive", 12), jpeg("\xFF\xD8\xFF\xE0 picture", 12);
  t.server.withState([&](backoffice::State& s) {
    s.documents["SOimgZip/SO10001.zip"] = zip;
    s.documents["resizeImages/SO10001/front view.jpg"] = jpeg;
    s.documents["resizeImages/SO10001/gone.jpg"] = jpeg;
  });
  auto* last = saveTwoOrders();
  ASSERT_NE(last, nullptr) << t.h->dump();
  EXPECT_EQ(last->attachmentFileNameDic().at("10001"), R"(["SO10001.zip","front view.jpg","gone.jpg"])");
  // A listed picture the server no longer has is left out.
  t.server.withState([](backoffice::State& s) { s.documents.erase("resizeImages/SO10001/gone.jpg"); });
  t.app.delegate->globalSO().orderEmail1 = "buyer@example.com";
  const std::string customer = t.app.delegate->globalSO().customerID;

  ASSERT_TRUE(t.h->tap(last->button("E-MAIL SO")));
  ASSERT_TRUE(t.app.runUntil([&] { return composer() != nullptr; }));
  t.h->advance(300ms);
  EXPECT_FALSE(t.app.delegate->isActivityViewerShown());
  std::vector<std::string> names;
  for (const auto& a : composer()->message().attachments) names.push_back(a.fileName);
  const std::string pdf1 = std::string("SO#10001_from_") + kCompany + ".pdf";
  const std::string pdf2 = std::string("SO#10002_from_") + kCompany + ".pdf";
  EXPECT_EQ(names, (std::vector<std::string>{pdf1, "SO10001.zip", "front view.jpg", pdf2}));
  composer()->userSend();
  ASSERT_TRUE(t.app.runUntil([&] { return composer() == nullptr; }));
  EXPECT_TRUE(t.app.alerts().empty());

  ASSERT_EQ(smtp.waitForMessages(1), 1u);
  const json got = smtp.messages().at(0);
  EXPECT_EQ(got["envelopeTo"], json({"buyer@example.com"}));
  EXPECT_EQ(got["from"], "rep@orvo.test");
  EXPECT_EQ(got["subject"], std::string("SO# 10001,10002 from ") + kCompany);
  // The customer code and the company name are written as HTML text.
  EXPECT_EQ(got["html"].get<std::string>().rfind(
                "<p>Hello, " + customer + "!</p>" + kGap +
                    "<p>Thank you for your order from Orvo &amp; Sons &lt;Apparel&gt;.</p>" + kGap +
                    "<p>You can check the order list from attached file.</p>" + kGap +
                    "<p>If you have any questions about your order please contact us.</p>" + kGap +
                    "<p>Thank you again for your business.</p><br>",
                0),
            0u)
      << got["html"];
  const json& files = got["attachments"];
  ASSERT_EQ(files.size(), 4u);
  const struct {
    std::string name, type, bytes;
  } expected[] = {{pdf1, "application/pdf", document("pdf/SO10001.pdf")},
                  {"SO10001.zip", "application/zip", zip},
                  {"front view.jpg", "image/jpeg", jpeg},
                  {pdf2, "application/pdf", document("pdf/SO10002.pdf")}};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(files[i]["fileName"], expected[i].name);
    EXPECT_EQ(files[i]["mimeType"], expected[i].type);
    EXPECT_EQ(files[i]["data"].get<std::string>(), expected[i].bytes);
  }
}

TEST_F(DeviceDocuments, WithoutAnAccountNothingOpensAndAFailedSendIsReported) {
  auto* last = saveTwoOrders();
  ASSERT_NE(last, nullptr) << t.h->dump();
  // Only the PDFs without the image option; no account: the user is told, nothing opens.
  useMail(std::nullopt);
  ASSERT_TRUE(t.h->tap(last->button("E-MAIL SO")));
  ASSERT_TRUE(t.waitForAlert(kNoMailAccountMessage));
  EXPECT_EQ(composer(), nullptr);
  t.h->advance(300ms);
  EXPECT_FALSE(t.app.delegate->isActivityViewerShown());
  t.app.dismissAlerts();

  // A server that cannot be reached: "Can not send mail". An order's PDF the server no
  // longer has does not stop the mail; the user is told it is missing.
  useMail(account(services::freeLoopbackPort()));
  t.app.delegate->globalSO().orderEmail1 = "buyer@example.com";
  t.server.withState([](backoffice::State& s) { s.documents.erase("pdf/SO10002.pdf"); });
  ASSERT_TRUE(t.h->tap(last->button("E-MAIL SO")));
  ASSERT_TRUE(t.app.runUntil([&] { return composer() != nullptr; }));
  ASSERT_EQ(composer()->message().attachments.size(), 1u);
  EXPECT_EQ(composer()->message().attachments[0].fileName, std::string("SO#10001_from_") + kCompany + ".pdf");
  ASSERT_TRUE(t.waitForAlert(std::string("These documents could not be fetched and are not attached:\nSO#10002_from_") +
                             kCompany + ".pdf"));
  t.app.dismissAlerts();
  t.h->advance(300ms);
  composer()->userSend();
  ASSERT_TRUE(t.waitForAlert("Can not send mail"));
  EXPECT_EQ(composer(), nullptr);
}

TEST_F(DeviceDocuments, TheAddressPromptAsksUntilTheAddressIsValidAndKeepsIt) {
  auto* last = saveTwoOrders();
  ASSERT_NE(last, nullptr) << t.h->dump();
  t.app.delegate->settings().printUsingServerFlag = true;
  GlobalSO& so = t.app.delegate->globalSO();

  // Cancel sends nothing.
  so.orderEmail1.clear();
  ASSERT_TRUE(t.h->tap(last->button("PRINT SO & E-MAIL")));
  ASSERT_NE(prompt(), nullptr);
  EXPECT_EQ(prompt()->tag(), kEmailGatePrintSOandEmail);
  answerPrompt("buyer@example.com", 1);
  EXPECT_EQ(prompt(), nullptr);
  EXPECT_EQ(t.calls("PrintSOandEmailbyServer"), 0);
  EXPECT_TRUE(so.orderEmail1.empty());

  // Two entries that are not addresses: three prompts in all, then the operation.
  ASSERT_TRUE(t.h->tap(last->button("E-MAIL SO")));
  std::vector<std::string> messages;
  for (const char* typed : {"buyer", "buyer@example", "buyer@example.com"}) {
    ASSERT_NE(prompt(), nullptr);
    messages.push_back(prompt()->message());
    EXPECT_EQ(prompt()->buttonTitleAtIndex(0), "Ok");
    EXPECT_EQ(prompt()->buttonTitleAtIndex(1), "Cancel");
    answerPrompt(typed, 0);
  }
  EXPECT_EQ(messages, (std::vector<std::string>{"Please enter email address", "Please enter valid email address.",
                                                "Please enter valid email address."}));
  t.waitForRequests();
  ASSERT_EQ(t.calls("SendSOEmail"), 1);
  EXPECT_EQ(t.server.received("SendSOEmail")[0].param("customerEmail"), "buyer@example.com");
  EXPECT_EQ(t.server.received("SendSOEmail")[0].param("setEmailFlag"), "1");
  EXPECT_EQ(so.orderEmail1, "buyer@example.com");
  t.app.dismissAlerts();

  // The address is kept for the order: no prompt again.
  ASSERT_TRUE(t.h->tap(last->button("E-MAIL SO")));
  EXPECT_EQ(prompt() ? prompt()->tag() : 0, 0);
  t.waitForRequests();
  ASSERT_EQ(t.calls("SendSOEmail"), 2);
  EXPECT_EQ(t.server.received("SendSOEmail")[1].param("setEmailFlag"), "0");
}

TEST_F(DeviceDocuments, TwoCopiesOfTwoOrdersPrintAsFourDocumentsAndOnlyACompletedJobIsCounted) {
  services::CupsdFixture cupsd;
  ASSERT_TRUE(cupsd.start({"Office"})) << cupsd.error();
  ui::PrintInteractionController::setPrintService(std::make_shared<print::CupsPrintService>(cupsd.server()));
  auto* last = saveTwoOrders();
  ASSERT_NE(last, nullptr) << t.h->dump();
  t.app.delegate->settings().print2CopiesFlag = true;
  auto& sheet = ui::PrintInteractionController::shared();

  ASSERT_TRUE(t.h->tap(last->button("PRINT SO")));
  ASSERT_TRUE(t.app.runUntil([&] { return sheet.isPresented(); }));
  EXPECT_EQ(sheet.sheet()->textFields().back()->text(), "Office");
  ASSERT_TRUE(t.h->pressAlertButton("Print"));
  EXPECT_EQ(t.calls("setPrintCountInSOH"), 0);  // not before the job has ended
  ASSERT_TRUE(t.app.runUntil([&] { return t.calls("setPrintCountInSOH") == 1; })) << cupsd.log();
  const std::string so1 = document("pdf/SO10001.pdf"), so2 = document("pdf/SO10002.pdf");
  const std::string expected = so1 + so2 + so1 + so2;
  EXPECT_EQ(cupsd.waitForPrinted("Office", expected.size()), expected);
  EXPECT_EQ(t.server.received("setPrintCountInSOH")[0].param("orderNumber"), "10001,10002");
  EXPECT_EQ(t.server.received("setPrintCountInSOH")[0].param("copyMode"), "1");
  t.waitForRequests();

  // A job the scheduler never takes (it stopped while the sheet was up) is not counted,
  // and the print-and-e-mail road does not outlive it.
  ASSERT_TRUE(t.h->tap(last->button("PRINT SO & E-MAIL")));
  ASSERT_TRUE(t.app.runUntil([&] { return sheet.isPresented(); }));
  cupsd.stop();
  ASSERT_TRUE(t.h->pressAlertButton("Print"));
  ASSERT_TRUE(t.app.runUntil([&] { return !last->printSoAndEmailFlag(); }));
  t.waitForRequests();
  EXPECT_EQ(t.calls("setPrintCountInSOH"), 1);
  EXPECT_EQ(composer(), nullptr);
  // With no scheduler, no sheet at all.
  ASSERT_TRUE(t.h->tap(last->button("PRINT SO")));
  ASSERT_TRUE(t.waitForAlert("Printer is not available.\n Check your iPod and Printer."));
  EXPECT_FALSE(sheet.isPresented());
}

TEST_F(DeviceDocuments, LineSheetsAreMadeOneAfterTheOtherThenPrintedAndMailed) {
  services::CupsdFixture cupsd;
  ASSERT_TRUE(cupsd.start({"Office"})) << cupsd.error();
  ui::PrintInteractionController::setPrintService(std::make_shared<print::CupsPrintService>(cupsd.server()));
  services::SmtpFixture smtp;
  ASSERT_TRUE(smtp.start()) << smtp.error();
  useMail(account(smtp.port()));
  t.app.delegate->settings().isLineSheetMode = true;
  auto* last = saveTwoOrders();
  ASSERT_NE(last, nullptr) << t.h->dump();
  t.app.delegate->globalSO().orderNumber = "10001";

  // "detail" is asked for only once "default" has been answered.
  t.server.setFault("CreateLineSheetPdf", backoffice::Fault::held());
  ASSERT_TRUE(t.h->tap(last->btn_linesheet()));
  t.settle();
  ASSERT_TRUE(t.app.runUntil([&] { return t.server.heldCount() == 1; }));
  auto* sheets = t.top<LineSheetViewController>();
  ASSERT_NE(sheets, nullptr) << t.h->dump();
  EXPECT_EQ(sheets->lbl_LineSheetSO()->text(), "LINE SHEET SO# 10001");
  EXPECT_EQ(sheets->sv_background()->contentSize(), (ui::Size{320, 500}));
  // No finger reaches the buttons while the activity viewer covers the screen (the guard
  // for a file not made is shown where one fails, below).
  EXPECT_FALSE(t.h->isReachable(t.h->findText("PRINT DEFAULT FORM")));
  EXPECT_EQ(t.server.heldCount(), 1);
  t.server.clearFaults();
  t.server.releaseHeld();
  ASSERT_TRUE(t.app.runUntil([&] { return t.calls("CreateLineSheetPdf") == 2; }));
  t.waitForRequests();
  const auto made = t.server.received("CreateLineSheetPdf");
  EXPECT_EQ(made[0].param("lineSheetForm"), "default");
  EXPECT_EQ(made[1].param("lineSheetForm"), "detail");
  EXPECT_EQ(sheets->printFileNameDic(),
            (std::map<std::string, std::string>{{"LINESHEET-DEFAULT10001", "LINESHEET-DEFAULT10001"},
                                                {"LINESHEET-DETAIL10001", "LINESHEET-DETAIL10001"}}));

  // Printed on the device's printer and counted under the line sheet's name.
  auto& sheet = ui::PrintInteractionController::shared();
  ASSERT_TRUE(t.h->tapText("PRINT DEFAULT FORM"));
  ASSERT_TRUE(t.app.runUntil([&] { return sheet.isPresented(); }));
  ASSERT_EQ(sheet.printingItems.size(), 1u);
  ASSERT_TRUE(t.h->pressAlertButton("Print"));
  ASSERT_TRUE(t.app.runUntil([&] { return t.calls("setPrintCountInSOH") == 1; })) << cupsd.log();
  EXPECT_EQ(t.server.received("setPrintCountInSOH")[0].param("orderNumber"), "LINESHEET-DEFAULT10001");
  const std::string pdf = document("pdf/LINESHEET-DEFAULT10001.pdf");
  EXPECT_EQ(cupsd.waitForPrinted("Office", pdf.size()), pdf);
  t.waitForRequests();

  // The To field, tapped, is moved up to the middle of what shows; Return puts it back.
  ASSERT_TRUE(t.h->type(sheets->txt_ToEmail(), "buyer@example.com"));
  const ui::Rect field = sheets->txt_ToEmail()->frame();
  EXPECT_EQ(sheets->sv_background()->contentOffset(), (ui::Point{0, field.y() + field.height() / 2 - 140}));
  t.h->pressReturn();
  EXPECT_FALSE(sheets->txt_ToEmail()->isFirstResponder());
  EXPECT_EQ(sheets->sv_background()->contentOffset(), (ui::Point{0, 0}));

  // Mailed from the device to the address typed in the To field.
  ASSERT_TRUE(t.h->tapText("E-MAIL DETAIL FORM"));
  ASSERT_TRUE(t.app.runUntil([&] { return composer() != nullptr; }));
  composer()->userSend();
  ASSERT_TRUE(t.app.runUntil([&] { return composer() == nullptr; }));
  // Coming back to the screen from the composer asks for nothing new.
  t.waitForRequests();
  EXPECT_EQ(t.top<LineSheetViewController>(), sheets);
  EXPECT_EQ(t.calls("CreateLineSheetPdf"), 2);
  ASSERT_EQ(smtp.waitForMessages(1), 1u);
  const json got = smtp.messages().at(0);
  const std::string division = t.app.delegate->globalSO().divisionCode;
  EXPECT_EQ(got["envelopeTo"], json({"buyer@example.com"}));
  EXPECT_EQ(got["subject"], "Line Sheet SO# 10001 from " + division);
  ASSERT_EQ(got["attachments"].size(), 1u);
  EXPECT_EQ(got["attachments"][0]["fileName"], "LINE_SHEET_SO#10001_from_" + division + ".pdf");
  EXPECT_EQ(got["attachments"][0]["data"].get<std::string>(), document("pdf/LINESHEET-DETAIL10001.pdf"));

  // Through the server: one copy, an empty type; the form in upper case with the To text.
  t.app.delegate->settings().printUsingServerFlag = true;
  t.app.delegate->settings().print2CopiesFlag = true;
  ASSERT_TRUE(t.h->tapText("PRINT DETAIL FORM"));
  ASSERT_TRUE(t.waitForAlert("LINE SHEET SO#10001 has been printed successfully."));
  const auto printed = t.server.received("PrintSObyServer").back();
  EXPECT_EQ(printed.params, (std::vector<std::pair<std::string, std::string>>{
                                {"orderNumber", "LINESHEET-DETAIL10001"},
                                {"copyMode", "0"},
                                {"printerNo", std::to_string(t.app.delegate->globalSO().printerNum)},
                                {"type", ""}}));
  t.app.dismissAlerts();
  ASSERT_TRUE(t.h->tapText("E-MAIL DEFAULT FORM"));
  ASSERT_TRUE(t.waitForAlert("The line sheet email has been sent successfully."));
  EXPECT_EQ(t.server.received("SendLineSheetEmail").back().params,
            (std::vector<std::pair<std::string, std::string>>{{"orderNumber", "10001"},
                                                              {"linesheetForm", "DEFAULT"},
                                                              {"printFileName", "LINESHEET-DEFAULT10001"},
                                                              {"toEmails", "buyer@example.com"}}));
  t.app.dismissAlerts();
}

TEST_F(DeviceDocuments, LineSheetsOpenOnAMultiOrderSave) {
  t.app.delegate->settings().isLineSheetMode = true;
  auto* last = saveTwoOrders();
  ASSERT_NE(last, nullptr) << t.h->dump();
  ASSERT_EQ(t.app.delegate->globalSO().orderNumber, "10001,10002");
  t.app.delegate->settings().printUsingServerFlag = true;
  auto* sheets = openLineSheets(*last);
  ASSERT_NE(sheets, nullptr) << t.h->dump();
  ASSERT_TRUE(t.app.runUntil([&] { return t.calls("CreateLineSheetPdf") == 2; }));
  t.waitForRequests();
  EXPECT_TRUE(t.app.alerts().empty()) << ::testing::PrintToString(t.alertMessages());
  EXPECT_EQ(t.top<LineSheetViewController>(), sheets);
  EXPECT_EQ(sheets->lbl_LineSheetSO()->text(), "LINE SHEET SO# 10001,10002");
  EXPECT_EQ(sheets->getPrintFileName("DEFAULT"), "LINESHEET-DEFAULT10001,10002");
  // The sheet holds the lines of both orders.
  const std::string pdf = document("pdf/LINESHEET-DETAIL10001,10002.pdf");
  std::string style1, style2;
  t.server.withState([&](backoffice::State& s) {
    style1 = foundation::textForKey(s.salesOrders["10001"]["Items"][0], "Style");
    style2 = foundation::textForKey(s.salesOrders["10002"]["Items"][0], "Style");
  });
  ASSERT_NE(style1, style2);
  EXPECT_NE(pdf.find(style1), std::string::npos);
  EXPECT_NE(pdf.find(style2), std::string::npos);
  ASSERT_TRUE(t.h->tapText("PRINT DETAIL FORM")) << t.h->dump();
  ASSERT_TRUE(t.waitForAlert("LINE SHEET SO#10001,10002 has been printed successfully."))
      << ::testing::PrintToString(t.alertMessages());
  t.app.dismissAlerts();
  ASSERT_TRUE(t.h->type(sheets->txt_ToEmail(), "buyer@example.com"));
  t.h->pressReturn();
  ASSERT_TRUE(t.h->tapText("E-MAIL DEFAULT FORM")) << t.h->dump();
  ASSERT_TRUE(t.waitForAlert("The line sheet email has been sent successfully."));
}

TEST_F(DeviceDocuments, ALineSheetRefusalClosesTheScreenAndATransportFailureEndsTheSequence) {
  t.app.delegate->settings().isLineSheetMode = true;
  auto* last = saveTwoOrders();
  ASSERT_NE(last, nullptr) << t.h->dump();

  // Refused: "detail" is still asked for; OK closes the screen.
  t.server.setFault("CreateLineSheetPdf", backoffice::Fault::responseValue("False"));
  ASSERT_NE(openLineSheets(*last), nullptr) << t.h->dump();
  ASSERT_TRUE(t.app.runUntil([&] { return t.calls("CreateLineSheetPdf") == 2; }));
  t.waitForRequests();
  ASSERT_FALSE(t.app.alerts().empty());
  EXPECT_EQ(t.app.alerts()[0].title, "Error");
  while (!t.app.alerts().empty()) t.press("OK");
  t.waitForRequests();
  EXPECT_EQ(t.top<LastSelectorViewController>(), last) << t.h->dump();

  // The "default" request fails on the way: no "detail", no file name.
  t.server.setFault("CreateLineSheetPdf", backoffice::Fault::serverError());
  auto* sheets = openLineSheets(*last);
  ASSERT_NE(sheets, nullptr) << t.h->dump();
  t.waitForRequests();
  EXPECT_EQ(t.calls("CreateLineSheetPdf"), 3);
  EXPECT_TRUE(sheets->printFileNameDic().empty());
  // Pressed without a file: the user is told, nothing is sent.
  t.app.dismissAlerts();
  t.settle();
  ASSERT_EQ(t.top<LineSheetViewController>(), sheets) << t.h->dump();
  ASSERT_TRUE(t.h->tapText("PRINT DEFAULT FORM")) << t.h->dump();
  ASSERT_TRUE(t.waitForAlert("The default line sheet of SO# " + t.app.delegate->globalSO().orderNumber +
                             " is not ready. Open the line sheets again to have it made."))
      << ::testing::PrintToString(t.alertMessages());
  EXPECT_EQ(t.calls("PrintSObyServer") + t.calls("setPrintCountInSOH"), 0);
}

TEST_F(DeviceDocuments, AServerPdfPrintsFromItsFolderAndOneThatCannotBeFetchedOpensNoSheet) {
  const std::string folder = "http://127.0.0.1:" + std::to_string(t.server.port()) + "/styleimages/pdf/";
  EXPECT_EQ(SoapPrint::documentUrl("1234"), folder + "SO1234.pdf");
  EXPECT_EQ(SoapPrint::documentUrl("LINESHEET-DETAIL9"), folder + "LINESHEET-DETAIL9.pdf");
  EXPECT_EQ(SoapPrint::documentUrl("linesheet 9"), folder + "SOlinesheet%209.pdf");

  struct Stub : ui::PrintService {
    bool isAvailable() override { return true; }
    void submit(const ui::PrintJob&, std::function<void(std::optional<foundation::Error>)> done) override {
      done(std::nullopt);
    }
  };
  ui::PrintInteractionController::setPrintService(std::make_shared<Stub>());
  // A reprint from the order selector, on the device's printer.
  t.openOrderType();
  auto* types = t.top<SoOrderTypeViewController>();
  ASSERT_NE(types, nullptr) << t.h->dump();
  ASSERT_TRUE(t.h->chooseRow(*types->tableView(), {0, 1}));
  t.settle();
  auto* selector = t.top<SoSelectorViewController>();
  ASSERT_NE(selector, nullptr) << t.h->dump();
  ASSERT_TRUE(t.h->type(selector->orderNumberField(), "20001"));
  // No file name from the server, or a file the server does not have: the user is told,
  // no sheet opens, nothing is counted, and the scan button comes back.
  for (const char* names : {R"({})", R"({"20001":"LINESHEET-DEFAULT99"})"}) {
    SCOPED_TRACE(names);
    t.server.setFault("CreateSOpdf",
                      backoffice::Fault::result(json{{"Response", "True"}, {"PrintFileName", names}}.dump()));
    const size_t modes = t.app.devices->scanButtonModes().size();
    ASSERT_TRUE(t.h->tap(selector->printButton())) << t.h->dump();
    ASSERT_TRUE(t.app.runUntil([&] { return !t.app.alerts().empty(); }));
    EXPECT_EQ(t.app.alerts()[0].message.rfind("The document could not be fetched.", 0), 0u)
        << ::testing::PrintToString(t.alertMessages());
    EXPECT_FALSE(ui::PrintInteractionController::shared().isPresented());
    ASSERT_GT(t.app.devices->scanButtonModes().size(), modes);
    EXPECT_EQ(t.app.devices->scanButtonModes().back(), 1);
    t.press("OK");
    t.waitForRequests();
  }
  EXPECT_EQ(t.calls("CreateSOpdf"), 2);
  EXPECT_EQ(t.calls("setPrintCountInSOH"), 0);
}

}  // namespace
}  // namespace orvo
