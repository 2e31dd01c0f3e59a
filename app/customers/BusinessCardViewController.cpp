#include "app/customers/BusinessCardViewController.h"

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/ImageAdditions.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "app/customers/NewCustomerSupport.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/media/PhotoLibrary.h"
#include "platform/ui/Application.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

namespace {

constexpr double kJpegQuality = 0.5;

std::optional<std::string> answerText(const nlohmann::json& answer, const char* key) {
  const auto& v = foundation::valueForKey(answer, key);
  if (v.is_null()) return std::nullopt;
  return foundation::textValue(v);
}

}  // namespace

void BusinessCardViewController::loadView() {
  auto root = ui::makeView<ui::View>({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  root->setBackgroundColor(ui::Color::whiteColor());
  // Code, Check and Next share the top row, so Next stays above the keyboard while the code
  // is typed.
  code_ = ui::makeView<ui::TextField>({10, 14, 136, 32});
  code_->setPlaceholder(ui::localizedString("Customer Code"));
  code_->setAutocapitalizationType(ui::AutocapitalizationType::AllCharacters);
  root->addSubview(code_);
  check_ = ui::Button::make(ui::localizedString("Check"), {152, 14, 76, 32});
  root->addSubview(check_);
  auto side = [&](const char* title, double y, std::shared_ptr<ui::ImageView>& image, std::shared_ptr<ui::Button>& take,
                  std::shared_ptr<ui::Button>& roll, int tag) {
    auto label = ui::makeView<ui::Label>({10, y, 300, 20});
    label->setText(ui::localizedString(title));
    root->addSubview(label);
    image = ui::makeView<ui::ImageView>({10, y + 22, 180, 120});
    image->setContentMode(ui::ContentMode::ScaleAspectFit);
    image->setBackgroundColor(ui::Color::lightGray());
    root->addSubview(image);
    take = ui::Button::make(ui::localizedString("Camera"), {200, y + 30, 110, 40});
    roll = ui::Button::make(ui::localizedString("Photos"), {200, y + 90, 110, 40});
    take->setTag(tag);
    roll->setTag(tag);
    root->addSubview(take);
    root->addSubview(roll);
  };
  side("Front", 56, frontImage_, frontTake_, frontRoll_, 0);
  side("Back", 206, backImage_, backTake_, backRoll_, 1);
  next_ = ui::Button::make(ui::localizedString("Next"), {234, 14, 76, 32});
  root->addSubview(next_);
  setView(root);
}

void BusinessCardViewController::viewDidLoad() {
  setTitle(ui::localizedString("Business Card"));
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  logoutBarButtonItem_ = logoutBarButton(*this);
  navigationItem().setRightBarButtonItem(logoutBarButtonItem_);
  navigationItem().setLeftBarButtonItem(backBarButton([this] { backFunc(); }));
  code_->setDelegate(self<ui::TextFieldDelegate>());
  code_->setTag(kCodeFieldTag);
  check_->addTarget(this, [this](ui::Control&) { btn_customerCodeCheckFunc(); }, ui::TouchUpInside);
  for (auto* b : {frontTake_.get(), backTake_.get()})
    b->addTarget(this, [this](ui::Control& c) { useCamera(static_cast<ui::Button&>(c)); }, ui::TouchUpInside);
  for (auto* b : {frontRoll_.get(), backRoll_.get()})
    b->addTarget(this, [this](ui::Control& c) { useCameraRoll(static_cast<ui::Button&>(c)); }, ui::TouchUpInside);
  next_->addTarget(this, [this](ui::Control&) { btn_NextFunc(); }, ui::TouchUpInside);
  newCustomerCode_ = false;
  setBtnStatus();
  GlobalSO& so = orvoDelegate_->globalSO();
  so.bcFrontImageBase64.clear();
  so.bcBackImageBase64.clear();
}

void BusinessCardViewController::viewWillAppear(bool) {
  if (orvoDelegate_->settings().duplicateSoFlag)
    if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::purple());
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
  if (code_->text().empty()) {
    setBtnStatus();
    code_->becomeFirstResponder();
  } else {
    code_->resignFirstResponder();
  }
}

// ----- Code

bool BusinessCardViewController::shouldChangeCharactersInRange(ui::TextField& f, ui::Range range,
                                                               const std::string& replacement) {
  if (f.tag() != kCodeFieldTag) return true;
  return upperCaseCodeEdit(f, range, replacement);
}

bool BusinessCardViewController::textFieldShouldReturn(ui::TextField&) {
  btn_customerCodeCheckFunc();
  return true;
}

void BusinessCardViewController::codeAlert(const std::string& message) {
  std::weak_ptr<BusinessCardViewController> weak = self<BusinessCardViewController>();
  AlertClass::AlertView(*this, 0, 1, kAppAlertTitle, message,
                        [weak] {
                          if (auto s = weak.lock()) s->yesAlertChangeCode();
                        },
                        nullptr);
}

void BusinessCardViewController::btn_customerCodeCheckFunc() {
  if (code_->isFirstResponder()) code_->resignFirstResponder();
  if (code_->text().empty()) {
    codeAlert("Please enter Customer Code.");
    return;
  }
  if (checkIllegalCharactersForCustomerCode()) checkCustomerCode();
}

bool BusinessCardViewController::checkIllegalCharactersForCustomerCode() {
  auto problem = customerCodeProblem(code_->text());
  if (!problem) return true;
  codeAlert(*problem);
  return false;
}

void BusinessCardViewController::yesAlertChangeCode() {
  code_->setText("");
  code_->becomeFirstResponder();
}

void BusinessCardViewController::setBtnStatus() {
  const bool on = newCustomerCode_;
  for (auto* b : {frontTake_.get(), frontRoll_.get(), backTake_.get(), backRoll_.get()}) b->setEnabled(on);
  if (!on)
    next_->setEnabled(false);
  else if (frontImage_->image())
    next_->setEnabled(true);
}

void BusinessCardViewController::checkCustomerCode() {
  orvoDelegate_->stopBarcode();
  ScreenRequest r;
  r.operation = "CheckCustomerCode";
  r.requestMethod = "-[BusinessCardViewController checkCustomerCode]";
  r.answerMethod = "-[BusinessCardViewController CheckCustomerCodeResponseData:]";
  r.params = {{"code", code_->text()}};
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { CheckCustomerCodeResponseData(a); });
}

void BusinessCardViewController::CheckCustomerCodeResponseData(const RequestAnswer& a) {
  // Until the server has said otherwise the code is not confirmed; an answer that cannot be
  // read ends in the exception alert with the buttons off.
  newCustomerCode_ = false;
  confirmedCode_.clear();
  setBtnStatus();
  const auto& answer = a.requireObject();
  if (answer && foundation::textForKey(*answer, "Response") == "True") {
    newCustomerCode_ = true;
    confirmedCode_ = code_->text();
    setBtnStatus();
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle,
                             "\u201C" + code_->text() + "\u201D is available.");
    return;
  }
  codeAlert("This customer code is existed.\n Please enter another code.");
}

// ----- Photos

void BusinessCardViewController::presentPicker(ui::ImagePickerSourceType type, const ui::Button& sender) {
  auto picker = std::make_shared<ui::ImagePickerController>();
  picker->setDelegate(self<ui::ImagePickerControllerDelegate>());
  picker->setSourceType(type);
  picker->setMediaTypes({ui::kMediaTypeImage});
  picker->setAllowsEditing(false);
  presentViewController(picker, true);
  newMedia_ = type == ui::ImagePickerSourceType::Camera;
  backImageSide_ = sender.tag() != 0;
}

void BusinessCardViewController::useCamera(const ui::Button& sender) {
  if (ui::ImagePickerController::isSourceTypeAvailable(ui::ImagePickerSourceType::Camera))
    presentPicker(ui::ImagePickerSourceType::Camera, sender);
}

void BusinessCardViewController::useCameraRoll(const ui::Button& sender) {
  if (ui::ImagePickerController::isSourceTypeAvailable(ui::ImagePickerSourceType::SavedPhotosAlbum))
    presentPicker(ui::ImagePickerSourceType::PhotoLibrary, sender);
}

void BusinessCardViewController::didFinishPickingMediaWithInfo(ui::ImagePickerController& picker,
                                                               const ui::PickedMedia& info) {
  picker.dismissViewControllerAnimated(true);
  if (info.mediaType != ui::kMediaTypeImage || !info.originalImage) return;
  auto resized = resizeImage(*info.originalImage, kPhotoWidth, kPhotoHeight);
  const std::string base64 = base64JpegString(*resized, kJpegQuality);
  GlobalSO& so = orvoDelegate_->globalSO();
  (backImageSide_ ? backImage_ : frontImage_)->setImage(resized);
  (backImageSide_ ? so.bcBackImageBase64 : so.bcFrontImageBase64) = base64;
  setBtnStatus();
  if (newMedia_)
    media::PhotoAlbum::writeImageToSavedPhotosAlbum(info.originalImage, [](const std::optional<foundation::Error>& e) {
      if (e) AlertClass::showLegacy(ui::localizedString("Save failed"), ui::localizedString("Failed to save image"),
                                    ui::localizedString("OK"));
    });
}

void BusinessCardViewController::imagePickerControllerDidCancel(ui::ImagePickerController& picker) {
  picker.dismissViewControllerAnimated(true);
}

// ----- Sending and leaving

void BusinessCardViewController::btn_NextFunc() {
  // The code goes out as it stands in the field, so it is checked again: the rules here,
  // and the server again when it is not the code the server reported free.
  if (code_->text().empty()) {
    codeAlert("Please enter Customer Code.");
    return;
  }
  if (!checkIllegalCharactersForCustomerCode()) return;
  if (code_->text() != confirmedCode_) {
    checkCustomerCode();
    return;
  }
  InsertNewCustomerForBusinessCard(code_->text());
}

void BusinessCardViewController::InsertNewCustomerForBusinessCard(const std::string& code) {
  const GlobalSO& so = orvoDelegate_->globalSO();
  ScreenRequest r;
  r.operation = "InsertNewCustomerForBusinessCard";
  r.requestMethod = "-[BusinessCardViewController InsertNewCustomerForBusinessCard:]";
  r.answerMethod = "-[BusinessCardViewController InsertNewCustomerForBusinessCardResponseData:]";
  r.params = {{"autoFlag", "FALSE"},
              {"code", code},
              {"user", so.loginID},
              {"imgFrontBase64String", so.bcFrontImageBase64},
              {"imgBackBase64String", so.bcBackImageBase64},
              {"createUserAndDevice", so.loginID + "_" + ui::Device::current().name()}};
  sendScreenRequest(*this, std::move(r),
                    [this](const RequestAnswer& a) { InsertNewCustomerForBusinessCardResponseData(a); });
}

void BusinessCardViewController::InsertNewCustomerForBusinessCardResponseData(const RequestAnswer& a) {
  // An answer that is not JSON reads as a refusal without a reason.
  const nlohmann::json answer = a.requireObject().value_or(nlohmann::json::object());
  if (foundation::textForKey(answer, "Response") != "True") {
    AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle, answerText(answer, "Error").value_or(""));
    return;
  }
  code_->setText("");
  newCustomerCode_ = false;
  confirmedCode_.clear();
  takeNewCustomer(*orvoDelegate_, answerText(answer, "Id").value_or(""), answerText(answer, "Message"));
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("OrderListView"), true);
}

void BusinessCardViewController::backFunc() {
  GlobalSO& so = orvoDelegate_->globalSO();
  so.bcFrontImageBase64.clear();
  so.bcBackImageBase64.clear();
  so.customerID.clear();
  so.storeID.clear();
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

}  // namespace orvo
