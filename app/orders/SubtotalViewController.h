#pragma once
// The subtotal list of the order item list: the cart summed by cancel date, one row per
// distinct cancel date ("EtaForPrint") with its pieces, packs and extended price, sorted by
// date with an immediate date ("... (Immediate)") just before the same plain date, and the
// order's total pieces and extended price below. Read-only; "Close" dismisses it.
//
// The item list presents it (interface file "SubtotalViewController") after handing over
// its lines (`setOrderListArray`), each with "Eta", "EtaForPrint", "Sum", "Price", "Qty"
// and "extPrice" as texts. Pieces of a row are the sum of each line's packs times its own
// pack size, so rows add up to the total; money is summed in cents. A cancel date that is
// not "MM/dd/yyyy" sorts first. Main thread.

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "app/orders/OrderScreens.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class SubtotalViewController : public ui::ViewController,
                               public ui::TableViewDataSource,
                               public ui::TableViewDelegate,
                               public OrderLinesReceiver {
 public:
  SubtotalViewController() : SubtotalViewController("SubtotalViewController") {}
  explicit SubtotalViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void setOrderListArray(const nlohmann::json& lines) override { orderListArray_ = lines; }
  void viewDidLoad() override;
  void setSubtotalData();
  // "yyyy/MM/dd" of a "MM/dd/yyyy" cancel date; a date marked " (Immediate)" one day
  // earlier, so it sorts before the same plain date. "" when the date cannot be read.
  static std::string getSortCancelDate(const std::string& cancelDate);
  // Index of the row of `cancelDate`, -1 when none.
  int isInCanceldate(const std::string& cancelDate) const;
  void backFunc();

  int numberOfRowsInSection(ui::TableView&, int) override { return int(listContent_.size()); }
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int) override {
    return std::string("Subtotal by cancel date");
  }

  const nlohmann::json& listContent() const { return listContent_; }
  ui::TableView* subtotalTableView() const { return table_.get(); }
  ui::Label* lbl_totalQty() const { return totalQty_.get(); }
  ui::Label* lbl_totalExtPrice() const { return totalExtPrice_.get(); }

 private:
  nlohmann::json orderListArray_ = nlohmann::json::array();
  nlohmann::json listContent_ = nlohmann::json::array();
  std::shared_ptr<ui::TableView> table_;
  std::shared_ptr<ui::Label> totalQty_, totalExtPrice_;
};

}  // namespace orvo
