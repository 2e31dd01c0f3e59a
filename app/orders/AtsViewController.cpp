#include "app/orders/AtsViewController.h"

#include "app/core/AlertClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "app/orders/ImageViewClass.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/NavigationController.h"

namespace orvo {

using nlohmann::json;

namespace {

// The answer's rows and totals and the outlets that show them (the sizes have no total).
constexpr const char* kRowKeys[StockGrid::kRows] = {"SizeList", "OhList", "OrderList", "PoList",
                                                    "AtsList",  "OtsList", "AtaList"};
constexpr const char* kRowOutlets[StockGrid::kRows] = {"lbl_atsTitle", "lbl_oh1", "lbl_order1", "lbl_po1",
                                                       "lbl_ats1",     "lbl_ots", "lbl_ata"};
constexpr const char* kTotalKeys[StockGrid::kTotals] = {"Ohs", "Orders", "Pos", "Atses", "Otses", "Atas"};
constexpr const char* kTotalOutlets[StockGrid::kTotals] = {"lbl_total_oh",  "lbl_total_order", "lbl_total_po",
                                                           "lbl_total_ats", "lbl_total_ots",   "lbl_total_ata"};

std::string text(const json& answer, const char* key) {
  const json& v = foundation::valueForKey(answer, key);
  return v.is_null() ? std::string() : foundation::textValue(v);
}

}  // namespace

ui::Label* AtsViewController::label(const std::string& name) const {
  for (const auto& [n, l] : labels_)
    if (n == name) return l;
  return nullptr;
}

void AtsViewController::viewDidLoad() {
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  setTitle("STOCK");
  navigationItem().setLeftBarButtonItem(
      ui::BarButtonItem::withTitle("Close", ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { closeFunc(); }));
  if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::black());
  view().setBackgroundColor(ui::Color::whiteColor());

  auto add = [this](const std::string& outlet, ui::Rect frame, double size = 14, bool bold = false) {
    auto l = ui::makeView<ui::Label>(frame);
    l->setFont(bold ? ui::Font::boldSystemFont(size) : ui::Font::systemFont(size));
    l->setAccessibilityLabel(outlet);
    view().addSubview(l);
    if (!outlet.empty()) labels_.emplace_back(outlet, l.get());
    return l;
  };
  add("", {10, 10, 70, 20})->setText("Style");
  add("lbl_ATS_style", {80, 10, 230, 20}, 16, true);
  add("", {10, 32, 70, 20})->setText("Color");
  add("lbl_ATS_color", {80, 32, 230, 20}, 16, true);
  add("lbl_ATS_bundle_lbl", {10, 54, 70, 20})->setAdjustsFontSizeToFitWidth(true);  // "SizeCode  "
  add("lbl_ATS_bundle", {80, 54, 150, 20}, 16, true);
  add("", {230, 54, 30, 20})->setText("WH");
  add("lbl_wh", {260, 54, 55, 20}, 14, true);
  grid_ = std::make_unique<StockGrid>(view(), ui::Point{4, 86});
  for (int i = 0; i < StockGrid::kRows; ++i) labels_.emplace_back(kRowOutlets[i], &grid_->row(i));
  for (int i = 0; i < StockGrid::kTotals; ++i) labels_.emplace_back(kTotalOutlets[i], &grid_->total(i));
  grid_->scrollView().setDelegate(self<ui::ScrollViewDelegate>());
  iv_image_front_ = ui::makeView<ui::ImageView>({10, 226, 145, 180});
  iv_image_back_ = ui::makeView<ui::ImageView>({165, 226, 145, 180});
  for (auto& iv : {iv_image_front_, iv_image_back_}) {
    iv->setBackgroundColor(ui::Color::lightGray());
    view().addSubview(iv);
  }

  getATS();
  label("lbl_ATS_style")->setText(style_);
  label("lbl_ATS_color")->setText(color_);
  label("lbl_ATS_bundle")->setText(bundle_);
  label("lbl_ATS_bundle_lbl")->setText(bundle_lbl_);
  ImageViewClass::setProductImage(iv_image_front_, style_, color_, false, false);
  ImageViewClass::setProductImage(iv_image_back_, style_, color_, true, false);
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

void AtsViewController::viewWillAppear(bool animated) {
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
  ui::ViewController::viewWillAppear(animated);
}

void AtsViewController::getATS() {
  const Settings& settings = orvoDelegate_->settings();
  ScreenRequest r;
  r.operation = "getATS";
  r.requestMethod = "-[AtsViewController viewDidLoad]";
  r.answerMethod = "-[AtsViewController ATSsoapResponseData:]";
  r.params = {{"Barcode", barcode_},
              {"Style", style_},
              {"Color", color_},
              {"SizeCode", bundle_lbl_ == "SizeCode  " ? bundle_ : std::string()},
              {"OrderedQty", settings.realtimeSoFlag ? orderedQty_ : std::string("0")},
              {"WH", settings.isStockWHMode ? orvoDelegate_->globalSO().warehouseCode : std::string()}};
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { ATSsoapResponseData(a); });
}

void AtsViewController::ATSsoapResponseData(const RequestAnswer& a) {
  // An answer that cannot be read changes nothing; the grid is laid out in any case.
  if (a.object && a.object->is_object()) {
    const json& answer = *a.object;
    if (text(answer, "Response") == "True") {
      for (int i = 0; i < StockGrid::kTotals; ++i) grid_->total(i).setText(text(answer, kTotalKeys[i]));
      for (int i = 0; i < StockGrid::kRows; ++i) grid_->row(i).setText(text(answer, kRowKeys[i]));
      // ATS, OTS and ATA totals: blue above 0, red at 0 or below (a text that is no number is 0).
      for (int i : {3, 4, 5}) {
        const int v = foundation::intValue(foundation::valueForKey(answer, kTotalKeys[i]));
        grid_->total(i).setBackgroundColor(v > 0 ? ui::Color::blue() : ui::Color::red());
        grid_->total(i).setTextColor(ui::Color::whiteColor());
      }
      const Settings& settings = orvoDelegate_->settings();
      label("lbl_wh")->setText(settings.isStockWHMode ? orvoDelegate_->globalSO().warehouseCode : "");
    } else {
      AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, "Error", text(answer, "Error"));
    }
  }
  setStockScrollViewSize(grid_->row(0).text());
}

void AtsViewController::scrollViewDidEndDecelerating(ui::ScrollView& s) {
  if (&s == &grid_->scrollView()) grid_->scrollViewDidEndDecelerating();
}

void AtsViewController::tapDetectedShowImageSlider(int tag) { ImageViewClass::showImageSlider(*this, style_, color_, tag); }

void AtsViewController::closeFunc() {
  if (auto* nav = navigationController())
    nav->dismissViewControllerAnimated(true);
  else
    dismissViewControllerAnimated(true);
}

}  // namespace orvo
