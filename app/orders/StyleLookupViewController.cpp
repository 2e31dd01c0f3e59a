#include "app/orders/StyleLookupViewController.h"

#include <cstdio>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenNavigation.h"
#include "app/core/ScreenRequest.h"
#include "app/core/ScreenSupport.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "app/orders/ImageViewClass.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Toolbar.h"

namespace orvo {

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

// The stock grid's rows: the record's key, the row's outlet name, and its summary figure's
// key and outlet (none for the sizes).
struct GridRow {
  const char* key;
  const char* outlet;
  const char* total;
  const char* totalOutlet;
};
constexpr GridRow kGridRows[StockGrid::kRows] = {
    {"SizeList", "lbl_content_sizelist", nullptr, nullptr},
    {"OhList", "lbl_content_ohlist", "Ohs", "lbl_content_ohs"},
    {"OrderList", "lbl_content_orderlist", "Orders", "lbl_content_orders"},
    {"PoList", "lbl_content_polist", "Pos", "lbl_content_pos"},
    {"AtsList", "lbl_content_atslist", "Atses", "lbl_content_atses"},
    {"OtsList", "lbl_content_otslist", "Otses", "lbl_content_otses"},
    {"AtaList", "lbl_content_atalist", "Atas", "lbl_content_atas"},
};

// A record's text value ("" for null or absent; numbers in their text form).
std::string text(const json& record, const char* key) {
  const json& v = foundation::valueForKey(record, key);
  return v.is_null() ? std::string() : foundation::textValue(v);
}

std::string formatInt(const json& record, const char* key) {
  return std::to_string(foundation::intValue(foundation::valueForKey(record, key)));
}

std::string formatMoney(const json& record, const char* key) {
  char b[64];
  std::snprintf(b, sizeof b, "%0.2f", foundation::doubleValue(foundation::valueForKey(record, key)));
  return b;
}

}  // namespace

ui::Label* StyleLookupViewController::label(const std::string& name) const {
  for (const auto& [n, l] : labels_)
    if (n == name) return l;
  return nullptr;
}

void StyleLookupViewController::viewDidLoad() {
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  setTitle(ui::localizedString("Style Lookup"));
  auto manual = barImageButton("manual-plus2-70.png", "Manual", [this] { btn_Manual(); });
  if (orvoDelegate_->settings().isCameraScannerMode) {
    auto camera = barImageButton("camera2-70.png", "Camera", [this] { OpenCameraScanView(); });
    navigationItem().setRightBarButtonItems({camera, manual});
  } else {
    navigationItem().setRightBarButtonItems({manual});
  }
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Back"), ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { backFunc(); }));
  buildContent();
  itemsArray_ = json::array();
  setTapGestureForImageView();
  clearContent();
  setSwipeGesture();
  setPickerView();
  grid_->scrollView().setDelegate(self<ui::ScrollViewDelegate>());
}

// The layout of the screen: captions and values in two columns, the stock grid, the pictures.
void StyleLookupViewController::buildContent() {
  view().setBackgroundColor(ui::Color::whiteColor());
  auto add = [this](const std::string& outlet, ui::Rect frame, double size = 13, bool bold = false) {
    auto l = ui::makeView<ui::Label>(frame);
    l->setFont(bold ? ui::Font::boldSystemFont(size) : ui::Font::systemFont(size));
    l->setAccessibilityLabel(outlet);
    view().addSubview(l);
    if (!outlet.empty()) labels_.emplace_back(outlet, l.get());
    return l;
  };
  add("lbl_content_style", {10, 4, 140, 22}, 17, true);
  add("lbl_content_color", {150, 4, 76, 22}, 17, true);
  lbl_more_ = ui::makeView<ui::Label>({226, 4, 40, 22});
  lbl_more_->setFont(ui::Font::systemFont(13));
  lbl_more_->setTextAlignment(ui::TextAlignment::Right);
  view().addSubview(lbl_more_);
  btn_more_ = ui::Button::make("More", {268, 2, 50, 26});
  btn_more_->setTitleFont(ui::Font::systemFont(15));
  btn_more_->addTarget(this, [this](ui::Control&) { btn_moreFunc(); }, ui::TouchUpInside);
  view().addSubview(btn_more_);
  add("lbl_content_descript", {10, 28, 300, 18});

  struct Pair {
    const char* caption;
    const char* outlet;
  };
  const Pair left[] = {{"Avail", "lbl_content_availdate"}, {"Season", "lbl_content_season"},
                       {"Bin", "lbl_content_bin"},          {"ETA", "lbl_content_eta"},
                       {nullptr, "lbl_content_type_bundle_sizecat"}, {"Price1", "lbl_content_price1"},
                       {"Price3", "lbl_content_price3"},    {"Price5", "lbl_content_price5"}};
  const Pair right[] = {{"Status", "lbl_content_status"},   {"COO", "lbl_content_coo"},
                        {"WH", "lbl_content_warehouse"},    {"Option", "lbl_content_etaOption"},
                        {"Units", "lbl_content_units"},     {"Price2", "lbl_content_price2"},
                        {"Price4", "lbl_content_price4"},   {"MSRP", "lbl_content_msrp"}};
  for (int i = 0; i < 8; ++i) {
    const double y = 50 + 19.0 * i;
    if (left[i].caption)
      add("", {10, y, 55, 18}, 12)->setText(left[i].caption);
    else
      add("lbl_title_type", {10, y, 55, 18}, 12);
    add(left[i].outlet, {65, y, 95, 18});
    add("", {165, y, 55, 18}, 12)->setText(right[i].caption);
    add(right[i].outlet, {220, y, 95, 18});
  }
  label("lbl_content_status")->setTextAlignment(ui::TextAlignment::Center);

  grid_ = std::make_unique<StockGrid>(view(), ui::Point{4, 206});
  for (int i = 0; i < StockGrid::kRows; ++i) {
    labels_.emplace_back(kGridRows[i].outlet, &grid_->row(i));
    if (i > 0) labels_.emplace_back(kGridRows[i].totalOutlet, &grid_->total(i - 1));
  }
  iv_image_front_ = ui::makeView<ui::ImageView>({10, 340, 145, 150});
  iv_image_back_ = ui::makeView<ui::ImageView>({165, 340, 145, 150});
  for (auto& iv : {iv_image_front_, iv_image_back_}) {
    iv->setBackgroundColor(ui::Color::lightGray());
    view().addSubview(iv);
  }
  // Figures that must fit their column.
  for (const char* name : {"lbl_content_ohs", "lbl_content_orders", "lbl_content_pos", "lbl_content_atses",
                           "lbl_content_otses", "lbl_content_atas", "lbl_content_bin", "lbl_content_season",
                           "lbl_content_coo"})
    label(name)->setAdjustsFontSizeToFitWidth(true);
}

void StyleLookupViewController::setTapGestureForImageView() {
  int tag = 0;
  for (auto& iv : {iv_image_front_, iv_image_back_}) {
    iv->setTag(tag++);
    ui::ImageView* raw = iv.get();
    iv->addGestureRecognizer(std::make_shared<ui::TapGestureRecognizer>(
        [this, raw](ui::GestureRecognizer&) { tapDetectedShowImageSlider(raw->tag()); }));
    iv->setUserInteractionEnabled(true);
    iv->setContentMode(ui::ContentMode::ScaleAspectFit);
  }
}

void StyleLookupViewController::setSwipeGesture() {
  auto left = std::make_shared<ui::SwipeGestureRecognizer>([this](ui::GestureRecognizer&) { swipeleft(); });
  left->setDirection(ui::SwipeLeft);
  view().addGestureRecognizer(left);
  auto right = std::make_shared<ui::SwipeGestureRecognizer>([this](ui::GestureRecognizer&) { swiperight(); });
  right->setDirection(ui::SwipeRight);
  view().addGestureRecognizer(right);
}

void StyleLookupViewController::setPickerView() {
  pickerViewTextField_ = ui::makeView<ui::TextField>(ui::Rect{});
  view().addSubview(pickerViewTextField_);
  colorPickerView_ = ui::makeView<ui::PickerView>(ui::Rect{});
  colorPickerView_->setShowsSelectionIndicator(true);
  colorPickerView_->setDataSource(self<ui::PickerViewDataSource>());
  colorPickerView_->setDelegate(self<ui::PickerViewDelegate>());
  pickerViewTextField_->setInputView(colorPickerView_);
  auto bar = ui::makeView<ui::Toolbar>({0, 0, 320, 44});
  bar->setItems({ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Cancel,
                                                   [this](ui::BarButtonItem&) { cancelTouched(); }),
                 ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::FlexibleSpace),
                 ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Done,
                                                   [this](ui::BarButtonItem&) { doneTouched(); })});
  pickerViewTextField_->setInputAccessoryView(bar);
}

void StyleLookupViewController::viewWillAppear(bool animated) {
  gestureFlag_ = true;
  std::weak_ptr<StyleLookupViewController> weak = self<StyleLookupViewController>();
  foundation::NotificationCenter::defaultCenter().addUniqueObserver(
      &observerToken_, kChangeBarcode, nullptr, [weak](const foundation::Notification& n) {
        if (auto s = weak.lock()) s->scanedBarcode(n);
      });
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
  startBarcode();
  if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::blue());
  if (!orvoDelegate_->globalSO().manualBarcode.empty())
    foundation::MainQueue::postAfter(200ms, [weak] {
      if (auto s = weak.lock()) s->callManualBarcode();
    });
  ui::ViewController::viewWillAppear(animated);
}

void StyleLookupViewController::viewWillDisappear(bool animated) {
  foundation::NotificationCenter::defaultCenter().removeObserver(&observerToken_);
  stopBarcode();
  if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::black());
  ui::ViewController::viewWillDisappear(animated);
}

void StyleLookupViewController::startBarcode() {
  if (orvoDelegate_) orvoDelegate_->startBarcode();
}

void StyleLookupViewController::stopBarcode() {
  if (orvoDelegate_) orvoDelegate_->stopBarcode();
}

void StyleLookupViewController::motionEnded(ui::MotionType motion) {
  if (motion == ui::MotionType::Shake && orvoDelegate_->settings().isCameraScannerMode) OpenCameraScanView();
}

void StyleLookupViewController::scanedBarcode(const foundation::Notification& note) {
  getStyleLookup(foundation::textForKey(note.userInfo, kLastBarcode));
}

void StyleLookupViewController::getStyleLookup(const std::string& code) {
  stopBarcode();
  const Settings& settings = orvoDelegate_->settings();
  ScreenRequest r;
  r.operation = "GetStyleLookup";
  r.requestMethod = "-[StyleLookupViewController getStyleLookup:]";
  r.answerMethod = "-[StyleLookupViewController GetStyleLookupResponseData:]";
  r.params = {{"Barcode", code},
              {"WH", settings.isStockWHMode ? orvoDelegate_->globalSO().warehouseCode : std::string()}};
  std::weak_ptr<StyleLookupViewController> weak = self<StyleLookupViewController>();
  r.onSendException = [weak](const std::exception& e) {
    auto s = weak.lock();
    if (!s) return;
    AlertClass::exceptionAlert(s, "-[StyleLookupViewController getStyleLookup:]", e);
    s->startBarcode();
  };
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { GetStyleLookupResponseData(a); });
}

void StyleLookupViewController::GetStyleLookupResponseData(const RequestAnswer& a) {
  // Only a list of records is an answer; anything else empties the screen (the reading
  // step has already shown its alert where there is one).
  bool records = a.object && a.object->is_array() && !a.object->empty();
  if (records)
    for (const auto& r : *a.object) records = records && r.is_object();
  if (a.object && a.object->is_array()) itemsArray_ = records ? *a.object : json::array();
  if (!records) {
    clearContent();
    startBarcode();
    return;
  }
  displayItemInfo(0);
  updateMoreInfo();
}

void StyleLookupViewController::displayItemInfo(int index) {
  itemIdx_ = index;
  if (index < 0 || index >= int(itemsArray_.size())) return;
  const json& record = itemsArray_[size_t(index)];
  const json& error = foundation::valueForKey(record, "Error");
  if (!record.contains("Error") || !error.is_null()) {
    clearContent();
    std::weak_ptr<StyleLookupViewController> weak = self<StyleLookupViewController>();
    AlertClass::AlertView(*this, 0, 1, kAppAlertTitle, foundation::textValue(error),
                          [weak] {
                            if (auto s = weak.lock()) s->yesNoBarcode();
                          },
                          nullptr);
    return;
  }
  const Settings& settings = orvoDelegate_->settings();
  for (auto [outlet, key] : {std::pair{"lbl_content_style", "Style"}, {"lbl_content_color", "Color"},
                             {"lbl_content_descript", "Descript"}, {"lbl_content_availdate", "AvailDate"},
                             {"lbl_content_season", "Season"}, {"lbl_content_coo", "Coo"},
                             {"lbl_content_bin", "Bin"}, {"lbl_content_status", "Status"},
                             {"lbl_content_eta", "Eta"}, {"lbl_content_etaOption", "EtaOption"}})
    label(outlet)->setText(text(record, key));
  ui::Label* status = label("lbl_content_status");
  status->setTextColor(ui::Color::whiteColor());
  status->setBackgroundColor(text(record, "Status") == "ACTIVE" ? ui::Color::blue() : ui::Color::red());
  label("lbl_content_warehouse")->setText(settings.isStockWHMode ? orvoDelegate_->globalSO().warehouseCode : "");
  const bool upc = text(record, "Type") == "UPC";
  label("lbl_title_type")->setText(ui::localizedString(upc ? "Size  " : "Bundle  "));
  label("lbl_content_type_bundle_sizecat")->setText(text(record, upc ? "SizeCode" : "Bundle"));
  label("lbl_content_units")->setText(formatInt(record, "Units"));
  for (auto [outlet, key] : {std::pair{"lbl_content_price1", "Price1"}, {"lbl_content_price2", "Price2"},
                             {"lbl_content_price3", "Price3"}, {"lbl_content_price4", "Price4"},
                             {"lbl_content_price5", "Price5"}, {"lbl_content_msrp", "Msrp"}})
    label(outlet)->setText(formatMoney(record, key));
  for (const GridRow& row : kGridRows) {
    label(row.outlet)->setText(text(record, row.key));
    if (row.totalOutlet) label(row.totalOutlet)->setText(formatInt(record, row.total));
  }
  auto mark = [this](const char* outlet, bool good) {
    label(outlet)->setBackgroundColor(good ? ui::Color::blue() : ui::Color::red());
    label(outlet)->setTextColor(ui::Color::whiteColor());
  };
  mark("lbl_content_atses", foundation::boolValue(foundation::valueForKey(record, "AtsStatus")));
  mark("lbl_content_otses", foundation::intValue(foundation::valueForKey(record, "Otses")) >= 1);
  mark("lbl_content_atas", foundation::intValue(foundation::valueForKey(record, "Atas")) >= 1);
  setStockScrollViewSize(text(record, "SizeList"));
  ImageViewClass::setProductImage(iv_image_front_, text(record, "Style"), text(record, "Color"), false, false);
  ImageViewClass::setProductImage(iv_image_back_, text(record, "Style"), text(record, "Color"), true, false);
  startBarcode();
}

void StyleLookupViewController::updateMoreInfo() {
  const int n = int(itemsArray_.size());
  if (n < 2) {
    lbl_more_->setHidden(true);
    btn_more_->setHidden(true);
    return;
  }
  lbl_more_->setText(std::to_string(itemIdx_ + 1) + "/" + std::to_string(n));
  lbl_more_->setHidden(false);
  btn_more_->setHidden(false);
}

void StyleLookupViewController::clearContent() {
  for (const auto& [name, l] : labels_)
    if (name != "lbl_title_type") l->setText("");
  ui::Label* status = label("lbl_content_status");
  status->setTextColor(ui::Color::whiteColor());
  status->setBackgroundColor(ui::Color::black());
  // A picture still being probed or loaded for the record shown before does not arrive now.
  ImageViewClass::clearProductImage(iv_image_front_);
  ImageViewClass::clearProductImage(iv_image_back_);
}

void StyleLookupViewController::setStockScrollViewSize(const std::string& sizeList) {
  grid_->setStockScrollViewSize(sizeList);
}

void StyleLookupViewController::scrollViewDidEndDecelerating(ui::ScrollView& s) {
  if (&s == &grid_->scrollView()) grid_->scrollViewDidEndDecelerating();
}

void StyleLookupViewController::swipeleft() {
  if (!gestureFlag_ || itemsArray_.size() < 2 || itemIdx_ >= int(itemsArray_.size()) - 1) return;
  displayItemInfo(itemIdx_ + 1);
  updateMoreInfo();
  viewAniSlide(true);
}

void StyleLookupViewController::swiperight() {
  if (!gestureFlag_ || itemsArray_.size() < 2 || itemIdx_ <= 0) return;
  displayItemInfo(itemIdx_ - 1);
  updateMoreInfo();
  viewAniSlide(false);
}

void StyleLookupViewController::viewAniSlide(bool fromRight) {
  ui::AnimationLog::shared().record(fromRight ? "push from right" : "push from left", 0.2, "showSecondViewController");
}

void StyleLookupViewController::viewAniOpacity() { ui::AnimationLog::shared().record("opacity", 0.5, "animateOpacity"); }

void StyleLookupViewController::btn_moreFunc() {
  colorPickerView_->reloadAllComponents();
  if (itemIdx_ >= 0 && itemIdx_ < int(itemsArray_.size())) colorPickerView_->selectRow(itemIdx_, 0, false);
  showColorPicker();
}

void StyleLookupViewController::showColorPicker() {
  stopBarcode();
  gestureFlag_ = false;
  orvoDelegate_->showOV();
  pickerViewTextField_->becomeFirstResponder();
}

void StyleLookupViewController::hideColorPicker() {
  pickerViewTextField_->resignFirstResponder();
  orvoDelegate_->hideOV();
  startBarcode();
  gestureFlag_ = true;
}

void StyleLookupViewController::doneTouched() {
  const int row = colorPickerView_->selectedRowInComponent(0);
  if (row >= 0 && row < int(itemsArray_.size()) && row != itemIdx_) {
    displayItemInfo(row);
    updateMoreInfo();
    viewAniOpacity();
  }
  hideColorPicker();
}

void StyleLookupViewController::cancelTouched() { hideColorPicker(); }

std::string StyleLookupViewController::titleForRow(ui::PickerView&, int row, int) {
  if (row < 0 || row >= int(itemsArray_.size())) return {};
  return text(itemsArray_[size_t(row)], "Color");
}

void StyleLookupViewController::tapDetectedShowImageSlider(int tag) {
  ImageViewClass::showImageSlider(*this, label("lbl_content_style")->text(), label("lbl_content_color")->text(), tag);
}

void StyleLookupViewController::btn_Manual() {
  orvoDelegate_->globalSO().manualBarcode.clear();
  presentInNewNavigation(*this, makeScreen("StyleInfoTableViewController"));
}

void StyleLookupViewController::OpenCameraScanView() {
  presentInNewNavigation(*this, makeScreen("CameraScanViewController"));
}

void StyleLookupViewController::callManualBarcode() {
  std::string& code = orvoDelegate_->globalSO().manualBarcode;
  const std::string pending = code;
  foundation::NotificationCenter::defaultCenter().post(kChangeBarcode, nullptr, json{{kLastBarcode, pending}});
  code.clear();
}

void StyleLookupViewController::yesNoBarcode() { startBarcode(); }

void StyleLookupViewController::backFunc() {
  orvoDelegate_->settings().newCustomerFlag = false;
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

}  // namespace orvo
