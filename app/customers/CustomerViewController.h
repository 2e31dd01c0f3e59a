#pragma once
// The customer screen with which every sales order begins, and with which a picker chooses
// whose pick tickets to check in scan-pack mode. The user searches the server's customers
// ("GetCustomer") by a text and a scope; the answer is listed in sections by the first
// letter of the names, in answer order. Choosing an active customer writes its code, price
// level and order discount rate into `GlobalSO` and opens the store choice; in scan-pack
// mode it opens the customer's pick tickets instead.
//
// Made from "CustomerView" and pushed (order selector, last screen) or presented as the
// root of a new navigation controller (main menu, pick). Customers without a name are
// listed under "#". Main thread.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/core/OverlayViewController.h"
#include "app/customers/PickTicketEntry.h"
#include "platform/ui/Label.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;

class CustomCellForCustomer : public ui::TableViewCell {
 public:
  CustomCellForCustomer();
  void layoutSubviews() override;
  ui::Label& customerName() { return *name_; }
  ui::Label& customerDetails() { return *details_; }
  ui::Label& lbl_contact1() { return *contact_; }
  ui::Label& customerPhone1() { return *phone_; }
  ui::Label& customerStatus() { return *status_; }
  ui::TextView& customerMemo() { return *memo_; }
  ui::Label& customerPriority() { return *priority_; }

 private:
  std::shared_ptr<ui::Label> name_, details_, contact_, phone_, status_, priority_;
  std::shared_ptr<ui::TextView> memo_;
};

class CustomerViewController : public ui::ViewController,
                               public ui::TableViewDataSource,
                               public ui::TableViewDelegate,
                               public ui::SearchBarDelegate,
                               public CustomerSearchOverlayOwner {
 public:
  CustomerViewController() : CustomerViewController("CustomerView") {}
  explicit CustomerViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  // Table.
  int numberOfSectionsInTableView(ui::TableView&) override { return int(customerIndexTitle_.size()); }
  int numberOfRowsInSection(ui::TableView&, int section) override {
    return section >= 0 && section < int(sectionRows_.size()) ? int(sectionRows_[size_t(section)].size()) : 0;
  }
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int section) override;
  std::vector<std::string> sectionIndexTitlesForTableView(ui::TableView&) override { return customerIndexTitle_; }
  std::optional<double> heightForRowAtIndexPath(ui::TableView&, ui::IndexPath) override { return 140; }
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  void scrollViewDidScroll(ui::ScrollView&) override { delOv(); }

  // Search bar.
  void searchBarTextDidBeginEditing(ui::SearchBar&) override;
  void searchBarSearchButtonClicked(ui::SearchBar&) override;
  void searchBarCancelButtonClicked(ui::SearchBar&) override;
  void selectedScopeButtonIndexDidChange(ui::SearchBar&, int index) override { selectedScopeButton(index); }

  void getCustomer(const std::string& text, int option);
  void getCustomerResponseData(const RequestAnswer& answer);
  void searchBar();
  void selectedScopeButton(int index);
  void setOV();
  void delOv() override;
  void setSearchBarMargin();
  void PushToStoreView();
  void gotoPickView(const std::optional<std::string>& customerCode);
  void newCustomerFunc();
  void backFunc();

  // The rows listed in a section: those whose name starts with the section's title,
  // ignoring case ("#": the rows without a name).
  std::vector<nlohmann::json> rowsOfSection(int section) const;

  // The texts of an answer's row that the list shows and a choice takes, read once when the
  // answer comes (a copy of the answer's rows costs more per row the longer the list is).
  struct Row {
    bool isData = false;  // "Response" "True"
    std::string code, name, contact1, phone1, address1, priority, memo, status, orderDiscountRate, priceLevel;
    double discountRate = 0;  // "OrderDiscountRate" as a number
    nlohmann::json toJson() const;
  };
  const std::vector<Row>& listContent() const { return listContent_; }
  const std::vector<std::string>& customerIndexTitle() const { return customerIndexTitle_; }
  ui::TableView* tableView() const { return table_.get(); }
  ui::SearchBar* searchBarView() const { return searchBar_.get(); }
  OverlayViewController* overlay() const { return ovController_.get(); }

 private:
  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::TableView> table_;
  std::shared_ptr<ui::SearchBar> searchBar_;
  std::shared_ptr<OverlayViewController> ovController_;
  std::vector<Row> listContent_;
  std::vector<std::string> customerIndexTitle_;
  // The positions in `listContent_` of each section's rows, made once per answer, so the
  // list fills in time linear in its rows.
  std::vector<std::vector<std::size_t>> sectionRows_;
  void makeSections();
  const Row* rowAt(ui::IndexPath ip) const;
};

}  // namespace orvo
