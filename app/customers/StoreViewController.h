#pragma once
// The store choice: the stores (ship-to addresses) of the customer chosen on the customer
// screen ("GetStoreForCustomer"), narrowed by a store-name search; choosing one records it
// in `GlobalSO` and opens the item list, or the customer's saved orders when an order is
// being edited. Pushed from "StoreView" by the customer screen once `GlobalSO::customerID`
// is set. A customer without stores is announced once, when the answer arrives, and the
// user is taken back. Main thread.

#include <memory>
#include <nlohmann/json.hpp>

#include "app/core/OverlayViewController.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Label.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;

class CustomCellForStore : public ui::TableViewCell {
 public:
  CustomCellForStore();
  ui::Label& storeName() { return *name_; }
  ui::Label& storeAddr1() { return *addr_; }
  ui::Label& storePhone1() { return *phone_; }

 private:
  std::shared_ptr<ui::Label> name_, addr_, phone_;
};

class StoreViewController : public ui::ViewController,
                            public ui::TableViewDataSource,
                            public ui::TableViewDelegate,
                            public ui::SearchBarDelegate,
                            public StoreSearchOverlayOwner {
 public:
  StoreViewController() : StoreViewController("StoreView") {}
  explicit StoreViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  int numberOfRowsInSection(ui::TableView&, int) override { return int(shownList().size()); }
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int) override;
  std::optional<ui::IndexPath> willSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;

  void searchBarTextDidBeginEditing(ui::SearchBar&) override;
  void textDidChange(ui::SearchBar&, const std::string& text) override;
  void searchBarSearchButtonClicked(ui::SearchBar& bar) override { bar.resignFirstResponder(); }

  void getStoreForCustomer();
  void storeListResponseData(const RequestAnswer& answer);
  void searchTableView();
  void doneSearching_Clicked(const void* sender) override;
  void logoutButtonClicked();
  void yesAlertLogout();
  void backFunc();

  const nlohmann::json& docListArray() const { return docListArray_; }
  const nlohmann::json& copyDocListArray() const { return copyDocListArray_; }
  bool isSearching() const { return searching_; }
  ui::TableView* tableView() const { return table_.get(); }
  ui::SearchBar* searchBarView() const { return searchBar_.get(); }

 private:
  const nlohmann::json& shownList() const { return searching_ ? copyDocListArray_ : docListArray_; }
  void showOverlay();

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::TableView> table_;
  std::shared_ptr<ui::SearchBar> searchBar_;
  std::shared_ptr<OverlayViewController> ovController_;
  std::shared_ptr<ui::BarButtonItem> logoutBarButtonItem_;
  nlohmann::json docListArray_ = nlohmann::json::array();
  nlohmann::json copyDocListArray_ = nlohmann::json::array();
  bool searching_ = false;
  std::string searchText_;  // the text of the last change
};

}  // namespace orvo
