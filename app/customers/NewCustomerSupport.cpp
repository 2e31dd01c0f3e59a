#include "app/customers/NewCustomerSupport.h"

#include <cctype>
#include <cstring>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenSupport.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"

namespace orvo {

std::optional<std::string> customerCodeProblem(const std::string& code) {
  if (ui::utf16Length(code) > kCustomerCodeMaxLength) return std::string(kCustomerCodeTooLong);
  for (char c : code)
    if (c == '\0' || !std::strchr(kCustomerCodeCharacters, c)) return std::string(kCustomerCodeInvalid);
  return std::nullopt;
}

bool upperCaseCodeEdit(ui::TextField& field, ui::Range range, const std::string& replacement) {
  bool lower = false;
  for (char c : replacement) lower = lower || std::islower(static_cast<unsigned char>(c));
  if (!lower) return true;
  std::string upper = replacement;
  for (auto& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  field.setText(ui::replacingUtf16Range(field.text(), range, upper));
  return false;
}

std::string trimBlanks(const std::string& text) {
  const char* ws = " \t";
  size_t b = text.find_first_not_of(ws);
  if (b == std::string::npos) return {};
  return text.substr(b, text.find_last_not_of(ws) - b + 1);
}

namespace {

std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> out;
  size_t from = 0;
  for (size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + separator.size())
    out.push_back(text.substr(from, at - from));
  out.push_back(text.substr(from));
  return out;
}

}  // namespace

std::optional<BadgeRecord> parseBadge(const std::string& text) {
  const auto fields = split(split(text, "     ").back(), "\t");
  if (fields.size() < kBadgeFieldCount) return std::nullopt;
  BadgeRecord r;
  r.customerCode = fields[5];
  r.name = fields[5];
  r.address1 = fields[7];
  r.city = fields[10];
  r.state = fields[11];
  r.zip = fields[12];
  r.email1 = fields[4];
  r.phone1 = fields[14];
  r.phone2 = fields[15];
  r.contact1 = fields[2] + " " + fields[3];
  r.memo = "[" + fields[1] + "]" + fields[16];
  return r;
}

void takeNewCustomer(OrvoMobileAppDelegate& app, const std::string& code, const std::optional<std::string>& level) {
  GlobalSO& so = app.globalSO();
  so.customerID = code;
  so.storeID = code;
  if (so.fixedPriceLevel == "AUTO")
    so.priceLevel = level && !level->empty() ? *level : std::string("1");
  else
    so.priceLevel = so.fixedPriceLevel;
  const double fromServer = app.settings().showOrderDiscountRateFromServer;
  if (fromServer > 0) so.orderDiscountRate = fromServer;
}

void logoutFrom(ui::ViewController& screen) {
  OrvoMobileAppDelegate::shared()->initFlag();
  if (auto* nav = screen.navigationController())
    nav->dismissViewControllerAnimated(true);
  else
    screen.dismissViewControllerAnimated(true);
}

void askLogout(ui::ViewController& screen) {
  std::weak_ptr<ui::ViewController> weak = screen.self<ui::ViewController>();
  AlertClass::AlertView(screen, 0, 2, kAppAlertTitle, "Do you wish to logout?",
                        [weak] {
                          if (auto s = weak.lock()) logoutFrom(*s);
                        },
                        nullptr);
}

std::shared_ptr<ui::BarButtonItem> logoutBarButton(ui::ViewController& screen) {
  std::weak_ptr<ui::ViewController> weak = screen.self<ui::ViewController>();
  return barImageButton("unlock.png", "Logout", [weak] {
    if (auto s = weak.lock()) askLogout(*s);
  });
}

std::shared_ptr<ui::BarButtonItem> backBarButton(std::function<void()> action) {
  return ui::BarButtonItem::withTitle(ui::localizedString("Back"), ui::BarButtonItemStyle::Plain,
                                      [action = std::move(action)](ui::BarButtonItem&) { action(); });
}

}  // namespace orvo
