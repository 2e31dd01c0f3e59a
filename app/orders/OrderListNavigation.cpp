// The order item list: navigation-bar states, the detail panel's caption styles, panel
// fades, the screen's prompt and the answers of its prompts.
#include <nlohmann/json.hpp>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenSupport.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/orders/OrderListViewController.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"

namespace orvo {

namespace {

const ui::Color kUpcGreen = ui::Color::rgb(0, 0.88, 0);
const ui::Color kStockBlue = ui::Color::rgb(0, 0.7, 1.0);

std::shared_ptr<ui::BarButtonItem> imageButtonItem(const char* image, bool asBackground, const char* label,
                                                   std::function<void()> action) {
  auto button = ui::Button::make("", ui::Rect(0, 0, 35, 35), ui::ButtonType::Custom);
  if (auto i = ui::Image::named(image)) {
    if (asBackground)
      button->setBackgroundImage(i);
    else
      button->setImage(i);
  } else {
    button->setTitle(label);
  }
  button->setAccessibilityLabel(label);
  button->addTarget(button.get(), [action](ui::Control&) { action(); }, ui::TouchUpInside);
  return ui::BarButtonItem::withCustomView(button);
}

}  // namespace

void OrderListViewController::InitNavItems() {
  setTitle(ui::localizedString("Scan your item"));
  backBarButtonItem_ = ui::BarButtonItem::withTitle(ui::localizedString("Back"), ui::BarButtonItemStyle::Plain,
                                                    [this](ui::BarButtonItem&) { btn_BackOrDeleteFunc(); });
  navigationItem().setLeftBarButtonItem(backBarButtonItem_);
  SetCameraAndManualItemsOnRightBarItems();
  nextBarButtonItem_ = ui::BarButtonItem::withTitle(ui::localizedString("NEXT"), ui::BarButtonItemStyle::Plain,
                                                    [this](ui::BarButtonItem&) { btn_NextForSaveItem(); });
}

void OrderListViewController::SetCameraAndManualItemsOnRightBarItems() {
  auto manual = imageButtonItem("manual-plus2-70.png", false, "Manual", [this] { btn_Manual(); });
  if (orvoDelegate_->settings().isCameraScannerMode) {
    auto camera = imageButtonItem("camera2-70.png", true, "Camera", [this] { OpenCameraScanView(); });
    navigationItem().setRightBarButtonItems({camera, manual});
  } else {
    navigationItem().setRightBarButtonItems({manual});
  }
}

void OrderListViewController::NavItemBackManualAndCameraForOrderListScan() {
  setTitle(ui::localizedString("Scan your item"));
  navigationItem().setLeftBarButtonItem(nullptr);
  backBarButtonItem_->setTitle(ui::localizedString("Back"));
  backBarButtonItem_->setTintColor(ui::Color::whiteColor());
  navigationItem().setLeftBarButtonItem(backBarButtonItem_);
  navigationItem().setHidesBackButton(false);
  SetCameraAndManualItemsOnRightBarItems();
  setNavColor(ui::Color::blue());
  startBarcode();
}

void OrderListViewController::NavItemDeleteNext() {
  navigationItem().setLeftBarButtonItem(nullptr);
  backBarButtonItem_->setTitle(ui::localizedString("Delete"));
  backBarButtonItem_->setTintColor(ui::Color::red());
  navigationItem().setLeftBarButtonItem(backBarButtonItem_);
  navigationItem().setRightBarButtonItems({});
  nextBarButtonItem_->setTintColor(kUpcGreen);
  navigationItem().setRightBarButtonItem(nextBarButtonItem_);
}

void OrderListViewController::NavItemDeleteNextForScan() {
  setTitle(ui::localizedString("Scan your item"));
  NavItemDeleteNext();
  setNavColor(ui::Color::blue());
  startBarcode();
}

void OrderListViewController::NavItemDeleteNextForEdit() {
  setTitle(ui::localizedString("Edit your item"));
  NavItemDeleteNext();
  setNavColor(ui::Color::black());
}

void OrderListViewController::NavNoItemBtnForNoScan(const std::string& title) {
  setTitle(ui::localizedString(title));
  navigationItem().setLeftBarButtonItem(nullptr);
  navigationItem().setRightBarButtonItems({});
  navigationItem().setHidesBackButton(true);
  setNavColor(ui::Color::black());
  stopBarcode();
}

void OrderListViewController::SetUpcLabelStyle() {
  lbl_bundle_lbl_->setText("SizeCode  ");
  lbl_qty_lbl_->setText("Single Qty  ");
  lbl_qty_lbl_->setBackgroundColor(kUpcGreen);
  lbl_sizecode_->setHidden(false);
  lbl_bundle_->setHidden(true);
}

void OrderListViewController::SetBundleLabelStyle() {
  lbl_bundle_lbl_->setText("Bundle  ");
  lbl_qty_lbl_->setText("Pack Qty  ");
  lbl_qty_lbl_->setBackgroundColor(ui::Color::systemBlue());
  lbl_sizecode_->setHidden(true);
  lbl_bundle_->setHidden(false);
}

void OrderListViewController::SetStockColorStyle() {
  lbl_ats_lbl_->setTextColor(itemText(scannedItem_.AtsStatus) == "True" ? kStockBlue : ui::Color::red());
  lbl_ots_lbl_->setTextColor(itemText(scannedItem_.OtsStatus) == "True" ? kStockBlue : ui::Color::red());
}

void OrderListViewController::ShowViewWithAnimation(ui::View& v) {
  v.setAlpha(0);
  v.setHidden(false);
  ui::AnimationLog::shared().record("fade", 0.3, v.kind());
  v.setAlpha(1.0);
}

void OrderListViewController::HideViewWithAnimation(ui::View& v) { v.setHidden(true); }

void OrderListViewController::AlertView(int tag, int btnCount, const std::string& title, const std::string& message,
                                        std::function<void()> okFunc, std::function<void()> noFunc) {
  popupForStopBarcodeFlag_ = true;
  auto alert = ui::AlertController::make(title, message);
  alert->view().setTag(tag);
  alert->addAction(ui::AlertAction::make(btnCount == 1 ? "OK" : "Yes", ui::AlertActionStyle::Default,
                                         [okFunc](ui::AlertAction&) {
                                           if (okFunc) okFunc();
                                         }));
  if (btnCount == 2)
    alert->addAction(ui::AlertAction::make("No", ui::AlertActionStyle::Default, [noFunc](ui::AlertAction&) {
      if (noFunc) noFunc();
    }));
  // A prompt raised while another is still closing waits for its turn.
  presentAlertWhenOnScreen(*this, alert);
}

void OrderListViewController::yesAlertBackFunc() {
  popupForStopBarcodeFlag_ = false;
  Settings& settings = orvoDelegate_->settings();
  GlobalSO& so = orvoDelegate_->globalSO();
  const std::string dupNum = so.pDupNum;
  orvoDelegate_->AutoSaveFuncDataInit();
  if (settings.duplicateSoFlag) {
    so.pDupNum = dupNum;
    foundation::UserDefaults::standard().setString(defaults::pDupNum, dupNum);
  }
  if (settings.realtimeSoFlag && !settings.realtimeSoLastViewFlag && !IsEditOrderMode_ && !so.orderNumber.empty()) {
    DeleteSoForRealTime(so.orderNumber);
    return;
  }
  if (settings.realtimeSoFlag && settings.realtimeSoLastViewFlag && !IsEditOrderMode_) {
    settings.realtimeSoLastViewFlag = false;
    so.orderNumber.clear();
  }
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

void OrderListViewController::noAlertBackFunc() {
  popupForStopBarcodeFlag_ = false;
  startBarcode();
}

void OrderListViewController::yesSoapError() {
  popupForStopBarcodeFlag_ = false;
  beforeBarcode_.clear();
  if (getPrevOrderListSoapFlag_) {
    orvoDelegate_->AutoSaveFuncDataInit();
    if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
    return;
  }
  btn_NextForSaveItem();
}

void OrderListViewController::yesGetPrice() {
  popupForStopBarcodeFlag_ = false;
  if (isDetailShowing()) OrderDetailView_->setHidden(true);
  beforeBarcode_.clear();
  if (orvoDelegate_->settings().realtimeSoFlag) updateAllItemsForRealTime();
  NavItemBackManualAndCameraForOrderListScan();
  reloadTableInfo();
}

void OrderListViewController::yesOverbookingStartBarcode() {
  popupForStopBarcodeFlag_ = false;
  if (!IsRowEditMode_) startBarcode();
}

}  // namespace orvo
