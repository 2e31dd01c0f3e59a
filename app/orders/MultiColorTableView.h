#pragma once
// The multi-colour grid ("Multi Color"): quantities for every colour and pack ("bundle"
// items) or every size of one colour (other items) of one style in one list. It asks the
// server for the style's rows ("GetMultiColorList"), fills in the quantities the cart
// already holds, checks every quantity change against the row's booking limit, keeps
// running totals, and on "NEXT" posts "multiColorNextBtn" with the rows that carry a
// quantity, then closes. For size rows whose sizes come in a prepack ratio it offers a
// prepack bar that sets all sizes at once.
//
// Made from the interface file "MultiColorTableView" and given its kind, colour, style and
// the cart lines of the style (`MultiColorReceiver`) by the item list (presented) or by the
// style search (pushed). The booking limit of each row is converted once, when the rows
// have loaded (see MultiColorRows.h), so that drawing rows again never changes it and the
// row's stepper and the grid agree on the largest quantity. An answer that is not a list of
// rows shows the exception alert; the rows read before stay. Main thread.

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "app/orders/OrderScreens.h"
#include "platform/ui/KeyboardAvoidance.h"
#include "platform/ui/Label.h"
#include "platform/ui/Stepper.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace orvo {

struct RequestAnswer;
class OrvoMobileAppDelegate;

class MultiColorTableView : public ui::ViewController,
                            public ui::TableViewDataSource,
                            public ui::TableViewDelegate,
                            public ui::TextFieldDelegate,
                            public MultiColorReceiver {
 public:
  MultiColorTableView() : MultiColorTableView("MultiColorTableView") {}
  explicit MultiColorTableView(std::string nibName) : ui::ViewController(std::move(nibName)) {}
  ~MultiColorTableView() override;

  void setKind(const std::string& v) override { kind_ = v; }
  void setColor(const std::string& v) override { color_ = v; }
  void setStyle(const std::string& v) override { style_ = v; }
  void setOrderListArray(const nlohmann::json& lines) override { orderListArray_ = lines; }
  void setIsFromStyleInfoView(bool v) override { isFromStyleInfoView_ = v; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;

  void GetMultiColorList();
  void GetMultiColorListResponseData(const RequestAnswer& answer);
  void updateUPCprepackQtyView();
  void hideUPCprepackQtyView();
  void setUPCprepackRatioInfo();
  void setExistingQty();
  std::string getQtyByColorBundle(const std::string& color, const std::string& bundleOrSizeCode) const;
  // The booking rule for row `index` asked for `qty`; stores the outcome and returns the
  // quantity the row shows.
  int checkOverBookingLimit(int index, int qty);
  void setTotal();
  void stepperQtyFunc(int index, int value);
  void stepperPrepackQtyFunc();
  void showOverBookedWarning();
  void backFunc();
  void nextFunc();

  int numberOfSectionsInTableView(ui::TableView&) override;
  int numberOfRowsInSection(ui::TableView&, int) override { return int(listContent_.size()); }
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int) override { return style_; }
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) override;
  std::optional<double> heightForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  void didSelectRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) override;
  bool shouldChangeCharactersInRange(ui::TextField& field, ui::Range range, const std::string& replacement) override;

  const nlohmann::json& listContent() const { return listContent_; }
  bool hasUPCprepackInfo() const { return hasUPCprepackInfo_; }
  ui::TableView* multiColorTableView() const { return table_.get(); }
  ui::Label* lbl_totalQty() const { return totalQty_.get(); }
  ui::Label* lbl_totalExtPrice() const { return totalExtPrice_.get(); }
  ui::Label* lbl_prepackRatio() const { return prepackRatio_.get(); }
  ui::TextField* txt_prepackQty() const { return prepackQty_.get(); }
  ui::Stepper* stepper_prepackQty() const { return prepackStepper_.get(); }
  ui::View* prepackQtyView() const { return prepackView_.get(); }

 private:
  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::string kind_, color_, style_;
  nlohmann::json orderListArray_ = nlohmann::json::array();
  nlohmann::json listContent_ = nlohmann::json::array();
  bool isFromStyleInfoView_ = false;
  bool hasUPCprepackInfo_ = false;
  std::string bundleOrSizecode_ = "SizeCode";
  std::shared_ptr<ui::TableView> table_;
  std::unique_ptr<ui::KeyboardAvoidance> keyboardAvoidance_;
  std::shared_ptr<ui::View> prepackView_, footerView_;
  std::shared_ptr<ui::Label> prepackRatio_, totalQty_, totalExtPrice_;
  std::shared_ptr<ui::TextField> prepackQty_;
  std::shared_ptr<ui::Stepper> prepackStepper_;
  int observerToken_ = 0;
};

}  // namespace orvo
