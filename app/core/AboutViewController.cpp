#include "app/core/AboutViewController.h"

#include "app/core/BundleInfo.h"
#include "app/core/ScreenSupport.h"
#include "platform/ui/Application.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

AboutViewController::AboutViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {
  setTitle(ui::localizedString("Information"));
  navigationItem().setLeftBarButtonItem(barImageButton("back.png", "Back", [this] { backButtonClicked(); }));
}

const char* AboutViewController::releaseHistory() {
  return "ver 3.5.2\n"
         "2024/03/11\n"
         "  - Settings follow the Wi-Fi network the device is on\n"
         "  - Camera scanner reads EAN-13, Code 128 and QR codes\n"
         "ver 3.5.0\n"
         "2023/11/02\n"
         "  - Division and warehouse chosen from the server's lists\n"
         "  - Company logo fetched with the server settings\n"
         "ver 3.4.0\n"
         "2023/06/19\n"
         "  - Automatic login and administrator password\n";
}

void AboutViewController::viewDidLoad() {
  const std::string deviceId = ui::Device::current().identifierForVendor();
  // The view starts below the navigation bar.
  const double top = 0;
  view().setBackgroundColor(ui::Color::whiteColor());

  lbl_version_ = ui::makeView<ui::Label>(ui::Rect(20, top + 16, 280, 30));
  lbl_version_->setFont(ui::Font::boldSystemFont(22));
  lbl_version_->setTextAlignment(ui::TextAlignment::Center);
  lbl_version_->setText(std::string("Ver ") + bundle::CFBundleVersion);
  view().addSubview(lbl_version_);

  auto historyButton = ui::Button::make("Version history", ui::Rect(80, top + 52, 160, 30));
  historyButton->addTarget(this, [this](ui::Control&) { btn_verInfo(); }, ui::TouchUpInside);
  view().addSubview(historyButton);

  textview_verInfo_ = ui::makeView<ui::TextView>(ui::Rect(15, top + 90, 290, 250));
  textview_verInfo_->setEditable(false);
  textview_verInfo_->setClipsToBounds(true);
  textview_verInfo_->setFont(ui::Font::systemFont(12));
  textview_verInfo_->setBackgroundColor(ui::Color::white(0.95));
  textview_verInfo_->setText("iPod ID : [ " + deviceId + " ]\n\n[OrvoMobile Version LOG]\n" + releaseHistory());
  view().addSubview(textview_verInfo_);

  struct Contact {
    const char* title;
    void (AboutViewController::*action)();
  };
  const Contact contacts[] = {{"Call support", &AboutViewController::callSupportAction},
                              {"E-mail support", &AboutViewController::emailSupportAction},
                              {"Product website", &AboutViewController::openProductWebsite}};
  double y = top + 350;
  for (const auto& c : contacts) {
    auto b = ui::Button::make(c.title, ui::Rect(60, y, 200, 36));
    auto action = c.action;
    b->addTarget(this, [this, action](ui::Control&) { (this->*action)(); }, ui::TouchUpInside);
    view().addSubview(b);
    y += 40;
  }
}

void AboutViewController::backButtonClicked() { dismissViewControllerAnimated(true); }

void AboutViewController::btn_verInfo() { textview_verInfo_->setHidden(!textview_verInfo_->isHidden()); }

void AboutViewController::callSupportAction() { ui::Application::shared().openURL(bundle::kSupportPhoneUrl); }

void AboutViewController::emailSupportAction() { ui::Application::shared().openURL(bundle::kSupportMailUrl); }

void AboutViewController::openProductWebsite() { ui::Application::shared().openURL(bundle::kProductWebsiteUrl); }

}  // namespace orvo
