#pragma once
// The information screen: the build version, the device's identifier with the release
// history, and buttons that call, mail or browse to the maker's support. Presented by the
// login screen's info button in its own navigation controller. Main thread.

#include <memory>
#include <string>

#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class AboutViewController : public ui::ViewController {
 public:
  AboutViewController() : AboutViewController("AboutView") {}
  explicit AboutViewController(std::string nibName);

  void viewDidLoad() override;
  void backButtonClicked();
  void btn_verInfo();
  void callSupportAction();
  void emailSupportAction();
  void openProductWebsite();

  ui::Label* lbl_version() const { return lbl_version_.get(); }
  ui::TextView* textview_verInfo() const { return textview_verInfo_.get(); }

  // The release history shown under the device identifier.
  static const char* releaseHistory();

 private:
  std::shared_ptr<ui::Label> lbl_version_;
  std::shared_ptr<ui::TextView> textview_verInfo_;
};

}  // namespace orvo
