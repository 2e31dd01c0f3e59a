// The business-card customer against the back office on loopback: the code check, photos
// from the image picker, the album, and the insert with its refusal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/core/ImageAdditions.h"
#include "app/customers/BusinessCardViewController.h"
#include "app/customers/NewCustomerSelectorViewController.h"
#include "app/customers/NewCustomerSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/media/PhotoLibrary.h"
#include "platform/ui/Application.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;
using test_support::OrderRoadHarness;

// A phone's pictures: one portrait photo in the library, and a camera whose photo is a
// landscape one.
class Pictures : public ui::ImagePickerSource {
 public:
  bool isAvailable(ui::ImagePickerSourceType type) override {
    return type != ui::ImagePickerSourceType::Camera || camera;
  }
  std::vector<std::shared_ptr<ui::Image>> images(ui::ImagePickerSourceType) override { return {portrait}; }
  std::shared_ptr<ui::Image> takePhoto() override { return landscape; }

  bool camera = true;
  std::shared_ptr<ui::Image> portrait = ui::Image::filled({1200, 1600}, ui::Color::red());
  std::shared_ptr<ui::Image> landscape = ui::Image::filled({800, 600}, ui::Color::blue());
};

class BusinessCard : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    album = fs::temp_directory_path() / ("bc-album-" + std::to_string(::getpid()));
    fs::remove_all(album);
    media::PhotoAlbum::setFolder(album);
    ui::ImagePickerController::setImageSource(pictures);
    t.launch();
    t.app.delegate->globalSO().fixedPriceLevel = "AUTO";
    t.app.delegate->navigationController->pushViewController(makeScreen("NewCustomerSelectorViewController"), false);
    t.settle();
    auto* menu = t.top<NewCustomerSelectorViewController>();
    ASSERT_NE(menu, nullptr);
    t.h->tap(menu->businessCardButton());
    t.settle();
    card = t.top<BusinessCardViewController>();
    ASSERT_NE(card, nullptr);
  }
  void TearDown() override {
    ui::ImagePickerController::setImageSource(nullptr);
    media::PhotoAlbum::setFolder(std::nullopt);
    fs::remove_all(album);
  }
  // Types `code` over what the customer-code field holds, as a user does.
  void retypeCode(const std::string& code) {
    ui::TextField* field = card->txt_customerCode();
    ASSERT_TRUE(t.h->type(field, "")) << t.h->dump();
    t.h->deleteBackward(int(field->text().size()));
    t.h->typeText(code);
    EXPECT_EQ(field->text(), code);
  }
  void check(const std::string& code) {
    retypeCode(code);
    t.h->tap(card->btn_customerCodeCheck());
    t.waitForRequests();
  }
  // Picks the library's photo (or takes one) for the side of `button`.
  void photo(ui::Button* button, bool camera) {
    ASSERT_TRUE(t.h->tap(button));
    t.settle();
    auto* picker = presentedPicker();
    ASSERT_NE(picker, nullptr);
    ASSERT_TRUE(camera ? picker->userTakePhoto() : picker->userPickImage(0));
    t.settle();
    EXPECT_EQ(presentedPicker(), nullptr);
  }
  ui::ImagePickerController* presentedPicker() {
    for (ui::ViewController* vc = t.app.delegate->window->rootViewController().get(); vc;
         vc = vc->presentedViewController())
      if (auto* p = dynamic_cast<ui::ImagePickerController*>(vc)) return p;
    return nullptr;
  }
  bool photoButtonsOn() {
    return card->btn_FrontTakePic()->isEnabled() && card->btn_FrontRoll()->isEnabled() &&
           card->btn_BackTakePic()->isEnabled() && card->btn_BackRoll()->isEnabled();
  }
  bool photoButtonsOff() {
    return !card->btn_FrontTakePic()->isEnabled() && !card->btn_FrontRoll()->isEnabled() &&
           !card->btn_BackTakePic()->isEnabled() && !card->btn_BackRoll()->isEnabled();
  }
  size_t albumPictures() {
    std::error_code ec;
    size_t n = 0;
    for (auto& e : fs::directory_iterator(album, ec)) n += e.path().extension() == ".jpg";
    return n;
  }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
  std::shared_ptr<Pictures> pictures = std::make_shared<Pictures>();
  fs::path album;
  BusinessCardViewController* card = nullptr;
};

TEST_F(BusinessCard, CodeIsTypedInCapitalsAndCheckedBeforeThePhotosUnlock) {
  EXPECT_TRUE(card->txt_customerCode()->isFirstResponder());
  EXPECT_TRUE(photoButtonsOff());
  EXPECT_FALSE(card->btn_Next()->isEnabled());
  t.h->typeText("ab1");
  EXPECT_EQ(card->txt_customerCode()->text(), "AB1");

  // Refused here, nothing sent; OK empties the field and focuses it.
  struct Case {
    std::string code;
    const char* message;
  };
  const Case cases[] = {
      {"", "Please enter Customer Code."},
      {std::string(21, 'B'), kCustomerCodeTooLong},
      {"A.B", kCustomerCodeInvalid},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    check(c.code);
    ASSERT_EQ(t.alertMessages(), std::vector<std::string>{c.message});
    t.press("OK");
    EXPECT_EQ(card->txt_customerCode()->text(), "");
    EXPECT_TRUE(card->txt_customerCode()->isFirstResponder());
  }
  EXPECT_EQ(t.calls("CheckCustomerCode"), 0);

  // A taken code: the server's word, buttons off.
  check("C1001");
  ASSERT_EQ(t.alertMessages(), std::vector<std::string>{"This customer code is existed.\n Please enter another code."});
  t.press("OK");
  EXPECT_TRUE(photoButtonsOff());

  // A free code of exactly 20 characters: the notice, photo buttons on, Next still off.
  const std::string code(20, 'N');
  check(code);
  EXPECT_EQ(t.server.received("CheckCustomerCode").back().param("code"), code);
  ASSERT_EQ(t.alertMessages(), std::vector<std::string>{"\u201C" + code + "\u201D is available."});
  t.press("OK");
  EXPECT_TRUE(card->newCustomerCode());
  EXPECT_TRUE(photoButtonsOn());
  EXPECT_FALSE(card->btn_Next()->isEnabled());

  // A back photo alone leaves Next off; a front photo turns it on.
  photo(card->btn_BackRoll(), false);
  EXPECT_FALSE(card->btn_Next()->isEnabled());
  photo(card->btn_FrontRoll(), false);
  EXPECT_TRUE(card->btn_Next()->isEnabled());
}

TEST_F(BusinessCard, PhotosAreStretchedTo600By400AndCameraPhotosGoToTheAlbum) {
  check("NEWBC1");
  t.press("OK");
  // The portrait library photo, stretched.
  photo(card->btn_FrontRoll(), false);
  auto front = imageFromBase64(t.app.delegate->globalSO().bcFrontImageBase64);
  ASSERT_TRUE(front);
  EXPECT_EQ(front->pixelWidth(), 600);
  EXPECT_EQ(front->pixelHeight(), 400);
  EXPECT_GT(front->pixelAt(300, 200).r, 0.8);
  EXPECT_EQ(card->frontImageView()->image()->pixelWidth(), 600);
  EXPECT_EQ(t.app.delegate->globalSO().bcBackImageBase64, "");
  t.app.drain();
  EXPECT_EQ(albumPictures(), 0u);  // a library photo is not saved again

  // A camera photo for the back: used at once, and written full size to the album.
  photo(card->btn_BackTakePic(), true);
  auto back = imageFromBase64(t.app.delegate->globalSO().bcBackImageBase64);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->pixelWidth(), 600);
  EXPECT_GT(back->pixelAt(10, 10).b, 0.8);
  ASSERT_TRUE(t.app.runUntil([&] { return albumPictures() == 1; }));
  auto saved = ui::Image::fromFile(fs::directory_iterator(album)->path().string());
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->pixelWidth(), 800);
  EXPECT_TRUE(t.alertMessages().empty());

  // An album that cannot be written: "Save failed", the photo is used all the same.
  std::ofstream(album / "blocked") << "x";
  media::PhotoAlbum::setFolder(album / "blocked" / "inner");
  t.app.delegate->globalSO().bcFrontImageBase64.clear();
  photo(card->btn_FrontTakePic(), true);
  EXPECT_NE(t.app.delegate->globalSO().bcFrontImageBase64, "");
  ASSERT_TRUE(t.waitForAlert("Failed to save image"));
  EXPECT_EQ(t.app.alerts()[0].title, "Save failed");

  // Without a camera its buttons present nothing.
  t.press("OK");
  pictures->camera = false;
  t.h->tap(card->btn_FrontTakePic());
  t.settle();
  EXPECT_EQ(presentedPicker(), nullptr);
}

TEST_F(BusinessCard, NextSendsTheSixElementsAndOpensTheItemListForTheNewCustomer) {
  check("NEWBC2");
  t.press("OK");
  photo(card->btn_FrontRoll(), false);
  const std::string front = t.app.delegate->globalSO().bcFrontImageBase64;
  ASSERT_TRUE(t.h->tap(card->btn_Next()));
  t.waitForRequests();
  ASSERT_EQ(t.calls("InsertNewCustomerForBusinessCard"), 1);
  auto call = t.server.received("InsertNewCustomerForBusinessCard")[0];
  EXPECT_EQ(call.params, (std::vector<std::pair<std::string, std::string>>{
                             {"autoFlag", "FALSE"},
                             {"code", "NEWBC2"},
                             {"user", "demo"},
                             {"imgFrontBase64String", front},
                             {"imgBackBase64String", ""},
                             {"createUserAndDevice", "demo_" + ui::Device::current().name()}}));
  const auto& so = t.app.delegate->globalSO();
  EXPECT_EQ(so.customerID, "NEWBC2");
  EXPECT_EQ(so.storeID, "NEWBC2");
  EXPECT_EQ(so.priceLevel, "1");
  EXPECT_NE(t.top<OrderListViewController>(), nullptr);
  EXPECT_EQ(card->txt_customerCode()->text(), "");

  // Back on the card screen the kept photos wait for a new confirmed code.
  t.app.delegate->navigationController->popViewControllerAnimated(false);
  t.settle();
  EXPECT_TRUE(photoButtonsOff());
  EXPECT_FALSE(card->btn_Next()->isEnabled());
  EXPECT_EQ(so.bcFrontImageBase64, front);

  // Back empties the photos and the customer.
  ASSERT_TRUE(t.h->tapBarItem(card->navigationItem().leftBarButtonItem())) << t.h->dump();  // Back
  t.settle();
  EXPECT_EQ(so.bcFrontImageBase64, "");
  EXPECT_EQ(so.customerID, "");
  EXPECT_EQ(so.storeID, "");
}

TEST_F(BusinessCard, RefusalShowsTheServersTextAndKeepsAllInput) {
  check("NEWBC3");
  t.press("OK");
  photo(card->btn_FrontRoll(), false);
  photo(card->btn_BackRoll(), false);
  const std::string front = t.app.delegate->globalSO().bcFrontImageBase64;
  // Someone else takes the code between the check and the insert.
  t.server.withState([](backoffice::State& s) {
    s.catalogue.customers.push_back({{"Code", "NEWBC3"}, {"Name", "Taken"}, {"Stores", nlohmann::json::array()}});
  });
  t.h->tap(card->btn_Next());
  t.waitForRequests();
  ASSERT_EQ(t.alertMessages(), std::vector<std::string>{"Customer code NEWBC3 already exists."});
  auto sent = t.server.received("InsertNewCustomerForBusinessCard").back();
  EXPECT_EQ(sent.param("imgFrontBase64String"), front);
  EXPECT_EQ(sent.param("imgBackBase64String"), t.app.delegate->globalSO().bcBackImageBase64);
  t.press("OK");
  EXPECT_EQ(card->txt_customerCode()->text(), "NEWBC3");
  EXPECT_EQ(t.app.delegate->globalSO().bcFrontImageBase64, front);
  EXPECT_NE(t.app.delegate->globalSO().bcBackImageBase64, "");
  EXPECT_TRUE(card->btn_Next()->isEnabled());
  EXPECT_EQ(t.app.delegate->globalSO().customerID, "");
  EXPECT_EQ(t.top<BusinessCardViewController>(), card);
}

TEST_F(BusinessCard, CodeEditedAfterTheCheckIsCheckedAgainBeforeItIsSent) {
  check("NEWBC4");
  t.press("OK");
  photo(card->btn_FrontRoll(), false);
  // Edited to a taken code: Next, tapped with the keyboard still up, asks the server again
  // and sends nothing.
  retypeCode("C1002");
  ASSERT_TRUE(card->txt_customerCode()->isFirstResponder());
  ASSERT_TRUE(t.h->tap(card->btn_Next())) << t.h->dump();
  t.waitForRequests();
  EXPECT_EQ(t.calls("CheckCustomerCode"), 2);
  EXPECT_EQ(t.calls("InsertNewCustomerForBusinessCard"), 0);
  ASSERT_EQ(t.alertMessages(), std::vector<std::string>{"This customer code is existed.\n Please enter another code."});
  t.press("OK");
  EXPECT_FALSE(card->btn_Next()->isEnabled());
  // Edited to a code with a period: Return refuses it here.
  check("NEWBC5");
  t.press("OK");
  retypeCode("NEW.BC5");
  t.h->pressReturn();
  t.settle();
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{kCustomerCodeInvalid});
  EXPECT_EQ(t.calls("InsertNewCustomerForBusinessCard"), 0);
}

TEST_F(BusinessCard, UnreadableCheckAnswersAlertAndLeaveTheCodeUnconfirmed) {
  struct Case {
    const char* name;
    backoffice::Fault fault;
    const char* shown;  // in one of the alerts
  };
  const Case cases[] = {
      {"error page", backoffice::Fault::serverError(), "Webservice Server Error : 500"},
      {"no result element", backoffice::Fault::badXml(), "[F]-[BusinessCardViewController CheckCustomerCodeResponseData:]"},
      {"not JSON", backoffice::Fault::badJson(), "This customer code is existed."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    t.server.setFault("CheckCustomerCode", c.fault);
    check("NEWBC6");
    ASSERT_FALSE(t.app.alerts().empty());
    bool shown = false;
    for (auto& a : t.app.alerts()) shown = shown || a.message.find(c.shown) != std::string::npos;
    EXPECT_TRUE(shown) << t.app.alerts()[0].title << ": " << t.app.alerts()[0].message;
    EXPECT_FALSE(card->newCustomerCode());
    EXPECT_TRUE(photoButtonsOff());
    EXPECT_FALSE(t.app.delegate->isActivityViewerShown());
    t.app.dismissAlerts();
  }
}

}  // namespace
}  // namespace orvo
