// The save road of the manual customer form: the checks, the search for existing
// customers and the insert.
#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/customers/ManualViewController.h"
#include "app/customers/NewCustomerSupport.h"
#include "platform/foundation/Values.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"

namespace orvo {

using F = CustomerField;

namespace {

constexpr const char* kRequired = "Valid data is required on ";

// The answer's text under `key`, nothing when the answer lacks it.
std::optional<std::string> answerText(const nlohmann::json& answer, const char* key) {
  const auto& v = foundation::valueForKey(answer, key);
  if (v.is_null()) return std::nullopt;
  return foundation::textValue(v);
}

}  // namespace

void ManualViewController::btn_saveNewCustomer() {
  // Blanks around a text are never sent, so a field of blanks only counts as empty.
  trimAllTextField();
  auto text = [this](F f) { return textField(f).text(); };
  struct Check {
    bool failed;
    int tag;
    std::string message;
  };
  const Check checks[] = {
      {text(F::Code).empty(), kTagCode, std::string(kRequired) + "Customer Code."},
      {text(F::Name).empty(), kTagName, std::string(kRequired) + "Name."},
      {text(F::Address1).empty(), kTagAddress1, std::string(kRequired) + "Address 1."},
      {ui::utf16Length(text(F::Address1)) > 50, kTagAddress1, "Address1 must be less than 50 characters."},
      {ui::utf16Length(text(F::State)) > 3, kTagState, "State is limited to 3 words."},
      {text(F::Phone1).empty(), kTagPhone1, std::string(kRequired) + "Phone 1."},
  };
  for (const auto& c : checks)
    if (c.failed) {
      showFieldAlert(c.tag, c.message);
      return;
    }
  if (!checkIllegalCharactersForCustomerCode()) return;
  dismissKeyboard();
  GetExistCustomerInfo();
}

void ManualViewController::GetExistCustomerInfo() {
  ScreenRequest r;
  r.operation = "GetExistCustomerInfo";
  r.requestMethod = "-[ManualViewController GetExistCustomerInfo]";
  r.answerMethod = "-[ManualViewController GetExistCustomerInfoResponseData:]";
  r.params = {{"code", textField(F::Code).text()},
              {"name", textField(F::Name).text()},
              {"address1", textField(F::Address1).text()},
              {"phone1", textField(F::Phone1).text()}};
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { GetExistCustomerInfoResponseData(a); });
}

void ManualViewController::GetExistCustomerInfoResponseData(const RequestAnswer& a) {
  const auto& answer = a.requireObject();
  if (!answer) return;
  const std::string response = foundation::textForKey(*answer, "Response");
  if (response == "False") {
    InsertNewCustomerForManual();
    return;
  }
  auto matches = JsonClass::getJSONobj(response);
  if (!matches) return;
  if (!matches->is_array()) throw AppException("NSInvalidArgumentException", "The existing customers are not a list");
  GlobalSO& so = orvoDelegate_->globalSO();
  so.existedCustomerArray = nlohmann::json::array();
  for (auto& m : *matches) so.existedCustomerArray.push_back(std::move(m));
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("ExistedCustomerViewController"), true);
}

void ManualViewController::InsertNewCustomerForManual() {
  const GlobalSO& so = orvoDelegate_->globalSO();
  auto text = [this](F f) { return textField(f).text(); };
  ScreenRequest r;
  r.operation = "InsertNewCustomerForManual";
  r.requestMethod = "-[ManualViewController InsertNewCustomerForManual]";
  r.answerMethod = "-[ManualViewController InsertNewCustomerForManualResponseData:]";
  r.params = {{"divCode", so.divisionCode},
              {"creator", so.loginID},
              {"code", text(F::Code)},
              {"name", text(F::Name)},
              {"address1", text(F::Address1)},
              {"address2", text(F::Address2)},
              {"city", text(F::City)},
              {"zip", text(F::Zip)},
              {"state", text(F::State)},
              {"country", text(F::Country)},
              {"phone1", text(F::Phone1)},
              {"phone2", text(F::Phone2)},
              {"fax1", text(F::Fax1)},
              {"fax2", text(F::Fax2)},
              {"email1", text(F::Email1)},
              {"email2", text(F::Email2)},
              {"contact1", text(F::Contact1)},
              {"contact2", text(F::Contact2)},
              {"memo", text(F::Memo)},
              {"salesRep1Code",
               orvoDelegate_->settings().isNewCustomerSalesRepOption ? text(F::SalesRep1) : std::string()}};
  sendScreenRequest(*this, std::move(r),
                    [this](const RequestAnswer& a) { InsertNewCustomerForManualResponseData(a); });
}

void ManualViewController::InsertNewCustomerForManualResponseData(const RequestAnswer& a) {
  // An answer that is not JSON reads as a refusal without a reason.
  const nlohmann::json answer = a.requireObject().value_or(nlohmann::json::object());
  if (foundation::textForKey(answer, "Response") != "True") {
    showFieldAlert(kTagCode, answerText(answer, "Error").value_or(""));
    return;
  }
  takeNewCustomer(*orvoDelegate_, answerText(answer, "Id").value_or(""), answerText(answer, "Message"));
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("OrderListView"), true);
}

void ManualViewController::viewDidAppear(bool animated) {
  ui::ViewController::viewDidAppear(animated);
  Settings& settings = orvoDelegate_->settings();
  if (!settings.createNewCustomerFlag) return;
  settings.createNewCustomerFlag = false;
  InsertNewCustomerForManual();
}

}  // namespace orvo
