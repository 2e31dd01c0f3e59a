#pragma once
// The stock pop-up of the item on the item list: when it loads it asks the server for the
// stock of the item's style and colour by size ("getATS") and shows the sizes with their
// on hand, orders, purchase orders, ATS, OTS and ATA rows and totals, the warehouse in
// stock-by-warehouse mode, and the front and back pictures of the style and colour (a tap
// opens the picture slider). It changes nothing in the order; "Close" dismisses it.
//
// Made from "AtsViewController" by the item list, which hands it the item through
// `StockPopupReceiver` and presents it in a navigation controller of its own. An answer
// whose "Response" is not "True" shows its "Error"; an unreadable answer changes nothing.
// Main thread.

#include <memory>
#include <string>

#include "app/orders/OrderScreens.h"
#include "app/orders/StockGrid.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;

class AtsViewController : public ui::ViewController, public ui::ScrollViewDelegate, public StockPopupReceiver {
 public:
  AtsViewController() : AtsViewController("AtsViewController") {}
  explicit AtsViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  // StockPopupReceiver.
  void setBarcode(const std::string& v) override { barcode_ = v; }
  void setStyle(const std::string& v) override { style_ = v; }
  void setColor(const std::string& v) override { color_ = v; }
  void setOrderedQty(const std::string& v) override { orderedQty_ = v; }
  void setBundle(const std::string& v) override { bundle_ = v; }
  void setBundle_lbl(const std::string& v) override { bundle_lbl_ = v; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void ATSsoapResponseData(const RequestAnswer& answer);
  void setStockScrollViewSize(const std::string& sizeList) { grid_->setStockScrollViewSize(sizeList); }
  int getSizeCount(const std::string& text) const { return stockSizeCount(text); }
  void scrollViewDidEndDecelerating(ui::ScrollView& scrollView) override;
  void tapDetectedShowImageSlider(int tag);
  void closeFunc();

  // The outlets, for tests: "lbl_ATS_style", "lbl_atsTitle", "lbl_total_ats", "lbl_wh", ...
  ui::Label* label(const std::string& name) const;
  ui::ScrollView* sv_stock() const { return &grid_->scrollView(); }
  ui::ImageView* iv_stock_arrow() const { return &grid_->arrow(); }
  ui::ImageView* iv_image_front() const { return iv_image_front_.get(); }
  ui::ImageView* iv_image_back() const { return iv_image_back_.get(); }

 private:
  void getATS();

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::string barcode_, style_, color_, orderedQty_, bundle_, bundle_lbl_;
  std::vector<std::pair<std::string, ui::Label*>> labels_;
  std::unique_ptr<StockGrid> grid_;
  std::shared_ptr<ui::ImageView> iv_image_front_, iv_image_back_;
};

}  // namespace orvo
