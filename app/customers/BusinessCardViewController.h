#pragma once
// A new customer made from a typed customer code and photos of the customer's business
// card, front and (optionally) back. The code is first checked on the server
// ("CheckCustomerCode"); only a free code unlocks the photo buttons, and a front photo the
// Next button, which sends the code, the user and both photos
// ("InsertNewCustomerForBusinessCard"). The customer the server creates becomes the order's
// customer and store, and the item list opens.
//
// Photos come from the image picker (camera or photo library); each is stretched to
// 600 x 400 pixels, shown, and kept as the Base64 text of a JPEG of quality 0.5 in
// `GlobalSO`. A camera photo is also written, full size, into the photo album; a failure
// there is reported when it happens and the photo is used all the same.
//
// Made from "BusinessCardViewController" by the new-customer menu and pushed. Main thread.

#include <memory>
#include <string>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImagePickerController.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;

class BusinessCardViewController : public ui::ViewController,
                                   public ui::TextFieldDelegate,
                                   public ui::ImagePickerControllerDelegate {
 public:
  static constexpr int kCodeFieldTag = 75;
  // Photos are sent at this size, stretched.
  static constexpr int kPhotoWidth = 600, kPhotoHeight = 400;

  BusinessCardViewController() : BusinessCardViewController("BusinessCardViewController") {}
  explicit BusinessCardViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  // Code field.
  bool shouldChangeCharactersInRange(ui::TextField& f, ui::Range range, const std::string& replacement) override;
  bool textFieldShouldReturn(ui::TextField& f) override;

  // Image picker.
  void didFinishPickingMediaWithInfo(ui::ImagePickerController& picker, const ui::PickedMedia& info) override;
  void imagePickerControllerDidCancel(ui::ImagePickerController& picker) override;

  void btn_customerCodeCheckFunc();
  bool checkIllegalCharactersForCustomerCode();
  void yesAlertChangeCode();
  void setBtnStatus();
  void useCamera(const ui::Button& sender);
  void useCameraRoll(const ui::Button& sender);
  void btn_NextFunc();
  void backFunc();

  void checkCustomerCode();
  void CheckCustomerCodeResponseData(const RequestAnswer& answer);
  void InsertNewCustomerForBusinessCard(const std::string& code);
  void InsertNewCustomerForBusinessCardResponseData(const RequestAnswer& answer);

  bool newCustomerCode() const { return newCustomerCode_; }
  ui::TextField* txt_customerCode() const { return code_.get(); }
  ui::Button* btn_customerCodeCheck() const { return check_.get(); }
  ui::Button* btn_FrontTakePic() const { return frontTake_.get(); }
  ui::Button* btn_FrontRoll() const { return frontRoll_.get(); }
  ui::Button* btn_BackTakePic() const { return backTake_.get(); }
  ui::Button* btn_BackRoll() const { return backRoll_.get(); }
  ui::Button* btn_Next() const { return next_.get(); }
  ui::ImageView* frontImageView() const { return frontImage_.get(); }
  ui::ImageView* backImageView() const { return backImage_.get(); }

 private:
  void presentPicker(ui::ImagePickerSourceType type, const ui::Button& sender);
  void codeAlert(const std::string& message);

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::BarButtonItem> logoutBarButtonItem_;
  std::shared_ptr<ui::TextField> code_;
  std::shared_ptr<ui::Button> check_, frontTake_, frontRoll_, backTake_, backRoll_, next_;
  std::shared_ptr<ui::ImageView> frontImage_, backImage_;
  bool newMedia_ = false;
  bool backImageSide_ = false;
  std::string confirmedCode_;  // the code the server last reported free
  bool newCustomerCode_ = false;
};

}  // namespace orvo
