#pragma once
// "Add a Style Manually": finds items by a typed style text ("GetStylesInfo", at least three
// characters with the search key; a scope change searches any text that is not empty) and
// lists them in sections by style, in the answer's order. Choosing a row hands its item
// code back to the screen that opened this one (in `GlobalSO::manualBarcode`) and closes;
// while an order is taken (`isOrderScanMode`), a row of an item sold by size ("UPC") opens
// the multi-colour grid of its style and colour instead, with the cart's lines of them.
//
// Sections and their rows use one rule: only data rows ("Response" "True") count, and a
// row belongs to the section whose style is exactly its own (compared as text, never as a
// pattern). Presented in a navigation controller of its own by the item list and the style
// look-up (made from "StyleInfoTableViewController"). Main thread.

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/core/OverlayViewController.h"
#include "app/orders/OrderScreens.h"
#include "platform/ui/Label.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;

class CustomCellForStyleInfo : public ui::TableViewCell {
 public:
  static constexpr const char* kReuseIdentifier = "StyleInfoCell";
  CustomCellForStyleInfo();
  void layoutSubviews() override;
  ui::Label& lbl_barcode() { return *barcode_; }
  ui::Label& lbl_style() { return *style_; }
  ui::Label& lbl_color() { return *color_; }
  ui::Label& lbl_price() { return *price_; }
  ui::Label& lbl_bundle() { return *bundle_; }
  ui::Label& lbl_sizecode() { return *sizecode_; }
  ui::Label& lbl_eta() { return *eta_; }
  ui::Label& lbl_ats() { return *ats_; }
  ui::Label& lbl_atsStatus() { return *atsStatus_; }

 private:
  std::shared_ptr<ui::Label> barcode_, style_, color_, price_, bundle_, sizecode_, eta_, ats_, atsStatus_;
};

class StyleInfoTableViewController : public ui::ViewController,
                                     public ui::TableViewDataSource,
                                     public ui::TableViewDelegate,
                                     public ui::SearchBarDelegate,
                                     public StyleInfoSearchOverlayOwner,
                                     public OrderLinesReceiver {
 public:
  static constexpr const char* kTooShortMessage = "Please enter at least 3 characters for searching styles.";

  StyleInfoTableViewController() : StyleInfoTableViewController("StyleInfoTableViewController") {}
  explicit StyleInfoTableViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  // OrderLinesReceiver: set by the item list before the screen is shown.
  void setOrderListArray(const nlohmann::json& lines) override { orderListArray_ = lines; }
  void setIsOrderScanMode(bool on) override { isOrderScanMode_ = on; }

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  // Table.
  int numberOfSectionsInTableView(ui::TableView&) override { return int(indexTitle_.size()); }
  int numberOfRowsInSection(ui::TableView&, int section) override {
    return section >= 0 && section < int(sectionRows_.size()) ? int(sectionRows_[size_t(section)].size()) : 0;
  }
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int section) override;
  std::vector<std::string> sectionIndexTitlesForTableView(ui::TableView&) override { return indexTitle_; }
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  void scrollViewDidScroll(ui::ScrollView&) override { delOv(); }

  // Search bar.
  void searchBarTextDidBeginEditing(ui::SearchBar&) override;
  void searchBarSearchButtonClicked(ui::SearchBar&) override;
  void selectedScopeButtonIndexDidChange(ui::SearchBar&, int index) override { selectedScopeButton(index); }

  void searchBar();
  void selectedScopeButton(int index);
  // The texts of an answer's row that the list shows and a choice takes, read once when the
  // answer comes (a copy of the answer's rows costs more per row the longer the list is).
  struct Row {
    bool isData = false;  // an object with "Response" "True"
    std::string code, style, color, price, orgPrice, sizeCode, eta, ats, bundle, kind, atsStatus;
    nlohmann::json toJson() const;
  };

  void getStylesInfo(const std::string& text, int option);
  void getStylesInfoResponseData(const RequestAnswer& answer);
  void setOV();
  void delOv() override;
  void showUpcSizeView(const Row& row);
  void showUpcSizeView(const Row& row, const nlohmann::json& colorInfo);
  void backFunc();

  // The data rows of a section: "Response" "True" and a style equal to the section's.
  std::vector<nlohmann::json> rowsOfSection(int section) const;

  const std::vector<Row>& listContent() const { return listContent_; }
  const std::vector<std::string>& indexTitle() const { return indexTitle_; }
  bool isOrderScanMode() const { return isOrderScanMode_; }
  ui::TableView* tableView() const { return table_.get(); }
  ui::SearchBar* searchBarView() const { return searchBar_.get(); }

 private:
  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::TableView> table_;
  std::shared_ptr<ui::SearchBar> searchBar_;
  std::shared_ptr<OverlayViewController> ovController_;
  std::vector<Row> listContent_;
  std::vector<std::string> indexTitle_;
  // The positions in `listContent_` of each section's rows, made once per answer, so the
  // list fills in time linear in its rows.
  std::vector<std::vector<std::size_t>> sectionRows_;
  // The row at `ip` (nullptr when there is none).
  const Row* rowAt(ui::IndexPath ip) const;
  nlohmann::json orderListArray_ = nlohmann::json::array();
  bool isOrderScanMode_ = false;
};

}  // namespace orvo
