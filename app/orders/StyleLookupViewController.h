#pragma once
// Style look-up: everything the server knows about one style, one colour at a time. A code
// scanned with the sleeve, typed or chosen on the style search, or read by the camera is
// sent as "GetStyleLookup"; the answer holds one record per colour. The screen shows the
// record's texts, five price levels and the MSRP, the stock grid (sizes with their on hand,
// orders, purchase orders, ATS, OTS and ATA rows, five characters per size, 50 points per
// size in a horizontally scrolling area) with its summary figures, and the front and back
// pictures (probed and loaded off the main thread). Swipes and the colour picker page
// through the colours; a tap on a picture opens the picture slider.
//
// A record whose "Error" is not null empties the screen and shows its text; an answer that
// is not a list of records empties the screen. The sleeve's scan button is on while the
// screen is visible and no request, picker or record alert is open.
//
// Pushed by the order selector (made from "StyleLookupViewController"); Back pops it. Main
// thread.

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/orders/PriceClass.h"
#include "app/orders/StockGrid.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/PickerView.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;

class StyleLookupViewController : public ui::ViewController,
                                  public ui::ScrollViewDelegate,
                                  public ui::PickerViewDataSource,
                                  public ui::PickerViewDelegate,
                                  public CameraScanTarget {
 public:
  StyleLookupViewController() : StyleLookupViewController("StyleLookupViewController") {}
  explicit StyleLookupViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  bool canBecomeFirstResponder() const override { return true; }
  void motionEnded(ui::MotionType motion) override;

  void scanedBarcode(const foundation::Notification& note);
  void getStyleLookup(const std::string& code);
  void GetStyleLookupResponseData(const RequestAnswer& answer);
  void displayItemInfo(int index);
  void updateMoreInfo();
  void clearContent();
  void setStockScrollViewSize(const std::string& sizeList);
  int getSizeCount(const std::string& text) const { return stockSizeCount(text); }
  void swipeleft();
  void swiperight();
  void viewAniSlide(bool fromRight);
  void viewAniOpacity();
  void btn_moreFunc();
  void showColorPicker();
  void hideColorPicker();
  void doneTouched();
  void cancelTouched();
  void tapDetectedShowImageSlider(int tag);
  void btn_Manual();
  void callManualBarcode();
  void OpenCameraScanView() override;
  void yesNoBarcode();
  void backFunc();

  // ui::ScrollViewDelegate.
  void scrollViewDidEndDecelerating(ui::ScrollView& scrollView) override;
  // The colour picker.
  int numberOfComponentsInPickerView(ui::PickerView&) override { return 1; }
  int numberOfRowsInComponent(ui::PickerView&, int) override { return int(itemsArray_.size()); }
  std::string titleForRow(ui::PickerView&, int row, int) override;

  // What the screen shows, for tests.
  const nlohmann::json& itemsArray() const { return itemsArray_; }
  int itemIdx() const { return itemIdx_; }
  bool gestureFlag() const { return gestureFlag_; }
  ui::Label* label(const std::string& name) const;
  ui::ScrollView* sv_stock() const { return &grid_->scrollView(); }
  ui::ImageView* iv_stock_arrow() const { return &grid_->arrow(); }
  ui::ImageView* iv_image_front() const { return iv_image_front_.get(); }
  ui::ImageView* iv_image_back() const { return iv_image_back_.get(); }
  ui::Label* lbl_more() const { return lbl_more_.get(); }
  ui::Button* btn_more() const { return btn_more_.get(); }
  ui::PickerView* colorPickerView() const { return colorPickerView_.get(); }
  ui::TextField* pickerViewTextField() const { return pickerViewTextField_.get(); }

 private:
  void buildContent();
  void setTapGestureForImageView();
  void setSwipeGesture();
  void setPickerView();
  void startBarcode();
  void stopBarcode();

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  int observerToken_ = 0;
  nlohmann::json itemsArray_ = nlohmann::json::array();
  int itemIdx_ = 0;
  bool gestureFlag_ = false;
  std::shared_ptr<ui::TextField> pickerViewTextField_;
  std::shared_ptr<ui::PickerView> colorPickerView_;
  // Content labels by their outlet names ("lbl_content_style", ...).
  std::vector<std::pair<std::string, ui::Label*>> labels_;
  std::unique_ptr<StockGrid> grid_;
  std::shared_ptr<ui::ImageView> iv_image_front_, iv_image_back_;
  std::shared_ptr<ui::Label> lbl_more_;
  std::shared_ptr<ui::Button> btn_more_;
};

}  // namespace orvo
