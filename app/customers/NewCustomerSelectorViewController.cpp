#include "app/customers/NewCustomerSelectorViewController.h"

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "app/customers/ManualViewController.h"
#include "app/customers/NewCustomerSupport.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

const char* NewCustomerSelectorViewController::sampleBadge() {
  return "B1024\tEXHIBITOR\tDana\tWhitfield\tdana@lakeshore.example\tLAKESHORE\tLakeshore Goods\t"
         "25 Harbor Way\tSuite 4\t\tChicago\tIL\t60601\tUSA\t312-555-0147\t312-555-0148\tBooth 12";
}

void NewCustomerSelectorViewController::loadView() {
  auto root = ui::makeView<ui::View>({0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight});
  root->setBackgroundColor(ui::Color::whiteColor());
  auto button = [&](const char* title, double y) {
    auto b = ui::Button::make(ui::localizedString(title), {40, y, ui::Window::kScreenWidth - 80, 50});
    root->addSubview(b);
    return b;
  };
  businessCard_ = button("Business Card", 120);
  manual_ = button("Manual", 200);
  badge_ = button("2D Barcode", 280);
  setView(root);
}

void NewCustomerSelectorViewController::viewDidLoad() {
  setTitle("New Customer");
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  logoutBarButtonItem_ = logoutBarButton(*this);
  navigationItem().setRightBarButtonItem(logoutBarButtonItem_);
  navigationItem().setLeftBarButtonItem(backBarButton([this] { backFunc(); }));
  businessCard_->addTarget(this, [this](ui::Control&) { btn_BusinessCardFunc(); }, ui::TouchUpInside);
  manual_->addTarget(this, [this](ui::Control&) { btn_ManualFunc(); }, ui::TouchUpInside);
  badge_->addTarget(this, [this](ui::Control&) { btn_2DbarcodeFunc(); }, ui::TouchUpInside);
  orvoDelegate_->settings().newCustomerFlag = true;
}

void NewCustomerSelectorViewController::viewWillAppear(bool) {
  std::weak_ptr<NewCustomerSelectorViewController> weak = self<NewCustomerSelectorViewController>();
  foundation::NotificationCenter::defaultCenter().addUniqueObserver(
      &observerToken_, kChangeBarcode, nullptr, [weak](const foundation::Notification& n) {
        if (auto s = weak.lock()) s->scanedBarcode(n);
      });
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
  orvoDelegate_->startBarcode();
  if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::blue());
}

void NewCustomerSelectorViewController::viewWillDisappear(bool) {
  foundation::NotificationCenter::defaultCenter().removeObserver(&observerToken_);
  orvoDelegate_->stopBarcode();
  if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::black());
}

void NewCustomerSelectorViewController::btn_BusinessCardFunc() {
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("BusinessCardViewController"), true);
}

void NewCustomerSelectorViewController::btn_ManualFunc() {
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("ManualViewController"), true);
}

void NewCustomerSelectorViewController::btn_2DbarcodeFunc() { pushFormFromBadge(sampleBadge()); }

void NewCustomerSelectorViewController::scanedBarcode(const foundation::Notification& n) {
  string2Dbarcode_ = foundation::textForKey(n.userInfo, kLastBarcode);
  send2dInfoToManualView();
}

bool NewCustomerSelectorViewController::pushFormFromBadge(const std::string& text) {
  auto badge = parseBadge(text);
  if (!badge) return false;
  auto form = makeScreen("ManualViewController");
  if (auto* manual = dynamic_cast<ManualViewController*>(form.get())) {
    manual->customerCode = badge->customerCode;
    manual->name = badge->name;
    manual->address1 = badge->address1;
    manual->city = badge->city;
    manual->state = badge->state;
    manual->zip = badge->zip;
    manual->email1 = badge->email1;
    manual->phone1 = badge->phone1;
    manual->phone2 = badge->phone2;
    manual->contact1 = badge->contact1;
    manual->memo = badge->memo;
  }
  form->setTitle("2D Barcode");
  if (auto* nav = navigationController()) nav->pushViewController(form, true);
  return true;
}

void NewCustomerSelectorViewController::send2dInfoToManualView() {
  orvoDelegate_->stopBarcode();
  orvoDelegate_->showActivityViewer("send2dInfoToManualView");
  orvoDelegate_->networkActivityStarted();
  const bool pushed = pushFormFromBadge(string2Dbarcode_);
  orvoDelegate_->hideActivityViewer();
  orvoDelegate_->networkActivityStopped();
  if (pushed) return;
  std::weak_ptr<NewCustomerSelectorViewController> weak = self<NewCustomerSelectorViewController>();
  AlertClass::AlertView(*this, 0, 1, "Error", kInvalidBadge,
                        [weak] {
                          if (auto s = weak.lock()) s->yesErrorBarcode();
                        },
                        nullptr);
}

void NewCustomerSelectorViewController::yesErrorBarcode() { orvoDelegate_->startBarcode(); }

void NewCustomerSelectorViewController::backFunc() {
  orvoDelegate_->settings().newCustomerFlag = false;
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

}  // namespace orvo
