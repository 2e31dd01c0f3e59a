#pragma once
// The pick-ticket screen: the open pick tickets of one customer (or of every customer),
// from the scan-pack service's "GetPickList", in the server's order or ordered by customer.
// The picker checks the tickets to pick together and "Next" opens the pick-up screen for
// them. The checked state lives only in this screen; nothing is sent back.
//
// Made by the customer screen in scan-pack mode (`setCustomerID` of `PickTicketEntry` with
// the chosen code, or nothing for "All Pick") and pushed on its navigation controller. The list is loaded when
// the view loads and again on each change of the sort control, replacing what was shown;
// the counter and the next button follow every change of the list. Main thread.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

#include "app/customers/PickTicketEntry.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;
struct ServiceFailure;

// One ticket row.
class PickTicketTableViewCell : public ui::TableViewCell {
 public:
  static constexpr const char* kReuseIdentifier = "PickTicketCell";
  static constexpr double kHeight = 66;
  PickTicketTableViewCell();

  std::shared_ptr<ui::Label> lbl_pickno, lbl_pickTime, lbl_customer, lbl_so, lbl_wh, lbl_shipvia, lbl_memo;
  std::shared_ptr<ui::ImageView> iv_checked;
};

class PickTicketViewController : public ui::ViewController,
                                 public ui::TableViewDataSource,
                                 public ui::TableViewDelegate,
                                 public PickTicketEntry {
 public:
  PickTicketViewController() : PickTicketViewController("PickTicketViewController") {}
  explicit PickTicketViewController(std::string nibName);
  ~PickTicketViewController() override;

  // The customer whose tickets are listed; nothing for every customer.
  const std::optional<std::string>& customerID() const { return customerID_; }
  void setCustomerID(std::optional<std::string> code) override { customerID_ = std::move(code); }

  void loadView() override;
  void viewDidLoad() override;

  // Sends "GetPickList" (`byCustomer`: ordered by customer).
  void callGetPickList(bool byCustomer);
  void getPickListResponseData(const RequestAnswer& answer);
  void errorResponseData(const ServiceFailure& failure);

  // Table.
  int numberOfRowsInSection(ui::TableView&, int) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int) override { return "Pick Ticket List"; }
  std::shared_ptr<ui::View> viewForHeaderInSection(ui::TableView&, int) override { return view_total_; }
  std::optional<double> heightForHeaderInSection(ui::TableView&, int) override;
  std::optional<double> heightForRowAtIndexPath(ui::TableView&, ui::IndexPath) override {
    return PickTicketTableViewCell::kHeight;
  }
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;

  // Actions.
  void backFunc();
  void checkAllFunc();
  void btn_sortby();
  void btn_next();

  void updateNextBtn();
  void updatePickQty();
  long long getCheckedQty() const;
  void updateCheckAllBtn();
  void resetCheckAllBtn();

  // For tests and the demo.
  const nlohmann::json& listContent() const { return *listContent_; }
  bool isCheckedAll() const { return isCheckedAll_; }
  ui::TableView* pickTableView() const { return pickTableView_.get(); }
  ui::SegmentedControl* seg_sortby() const { return seg_sortby_.get(); }
  ui::Label* lbl_pickQty() const { return lbl_pickQty_.get(); }
  ui::Button* btn_nextButton() const { return btn_next_.get(); }
  ui::BarButtonItem* checkAllItem() const { return checkAllItem_.get(); }

 private:
  // The list changed: counter, next button and table follow.
  void listChanged();

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::optional<std::string> customerID_;
  std::unique_ptr<nlohmann::json> listContent_;  // the rows of the last answer
  bool isCheckedAll_ = false;
  std::shared_ptr<ui::TableView> pickTableView_;
  std::shared_ptr<ui::View> view_seg_;
  std::shared_ptr<ui::SegmentedControl> seg_sortby_;
  std::shared_ptr<ui::View> view_total_;
  std::shared_ptr<ui::Label> lbl_pickQty_;
  std::shared_ptr<ui::Button> btn_next_;
  std::shared_ptr<ui::BarButtonItem> checkAllItem_;
};

}  // namespace orvo
