#include "app/orders/MultiColorTableView.h"

#include <climits>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/orders/CustomCellForMultiColor.h"
#include "app/orders/ImageViewClass.h"
#include "app/orders/MultiColorRows.h"
#include "app/orders/OrderCart.h"
#include "app/orders/PriceClass.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

using nlohmann::json;
using cart::field;
using namespace std::chrono_literals;

namespace {

constexpr double kBarHeight = 44;
constexpr double kFooterHeight = 50;
const ui::Color kUpcGreen = ui::Color::rgb(0, 0.88, 0);

}  // namespace

MultiColorTableView::~MultiColorTableView() { foundation::NotificationCenter::defaultCenter().removeObserver(&observerToken_); }

void MultiColorTableView::viewDidLoad() {
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  setTitle(ui::localizedString("Multi Color"));
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Back"), ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { backFunc(); }));
  auto next = ui::BarButtonItem::withTitle(ui::localizedString("NEXT"), ui::BarButtonItemStyle::Plain,
                                           [this](ui::BarButtonItem&) { nextFunc(); });
  next->setTintColor(kUpcGreen);
  navigationItem().setRightBarButtonItem(next);
  listContent_ = json::array();

  ui::View& root = view();
  root.setBackgroundColor(ui::Color::whiteColor());
  const double height = ui::Window::kScreenHeight - 64;
  prepackView_ = ui::makeView<ui::View>({0, 0, ui::Window::kScreenWidth, kBarHeight});
  prepackView_->setBackgroundColor(ui::Color::white(0.9));
  prepackRatio_ = ui::makeView<ui::Label>(ui::Rect{5, 4, 130, 36});
  prepackRatio_->setFont(ui::Font::systemFont(12));
  prepackRatio_->setAdjustsFontSizeToFitWidth(true);
  prepackView_->addSubview(prepackRatio_);
  prepackQty_ = ui::makeView<ui::TextField>({140, 7, 60, 30});
  prepackQty_->setTextAlignment(ui::TextAlignment::Center);
  prepackQty_->setEnabled(false);
  prepackQty_->setAccessibilityLabel("Prepacks");
  prepackView_->addSubview(prepackQty_);
  prepackStepper_ = std::make_shared<ui::Stepper>();
  prepackStepper_->setFrame({215, 7, ui::Stepper::kWidth, ui::Stepper::kHeight});
  prepackStepper_->setMaximumValue(999);
  prepackStepper_->addTarget(this, [this](ui::Control&) { stepperPrepackQtyFunc(); }, ui::ValueChanged);
  prepackView_->addSubview(prepackStepper_);
  root.addSubview(prepackView_);

  table_ = ui::makeView<ui::TableView>({0, kBarHeight, ui::Window::kScreenWidth, height - kBarHeight - kFooterHeight});
  std::weak_ptr<MultiColorTableView> weak = self<MultiColorTableView>();
  table_->registerCellFactory("MultiColorCell", [weak] {
    auto cell = std::make_shared<CustomCellForMultiColor>();
    cell->setAccessoryType(ui::AccessoryType::None);
    if (auto grid = weak.lock()) {
      cell->txt_packQty().setDelegate(grid->self<ui::TextFieldDelegate>());
      // After the cell's own rule: the grid stores what the stepper now shows.
      std::weak_ptr<CustomCellForMultiColor> weakCell = cell;
      cell->stepper_qty().addTarget(cell.get(), [weak, weakCell](ui::Control& c) {
        auto g = weak.lock();
        auto cl = weakCell.lock();
        if (g && cl) g->stepperQtyFunc(cl->txt_packQty().tag(), int(static_cast<ui::Stepper&>(c).value()));
      }, ui::ValueChanged);
    }
    return cell;
  });
  root.addSubview(table_);
  // Rows under the number pad can still be dragged above it, and the row being edited shows.
  keyboardAvoidance_ = std::make_unique<ui::KeyboardAvoidance>(table_);

  footerView_ = ui::makeView<ui::View>({0, height - kFooterHeight, ui::Window::kScreenWidth, kFooterHeight});
  footerView_->setBackgroundColor(ui::Color::white(0.15));
  totalQty_ = ui::makeView<ui::Label>(ui::Rect{10, 10, 120, 30});
  totalExtPrice_ = ui::makeView<ui::Label>(ui::Rect{140, 10, 170, 30});
  for (const auto& l : {totalQty_, totalExtPrice_}) {
    l->setFont(ui::Font::boldSystemFont(17));
    l->setTextColor(ui::Color::whiteColor());
    footerView_->addSubview(l);
  }
  totalExtPrice_->setTextAlignment(ui::TextAlignment::Right);
  root.addSubview(footerView_);

  if (kind_ == "bundle") {
    bundleOrSizecode_ = "Bundle";
    hideUPCprepackQtyView();
  } else {
    bundleOrSizecode_ = "SizeCode";
  }
  table_->setDataSource(self<ui::TableViewDataSource>());
  table_->setDelegate(self<ui::TableViewDelegate>());
  foundation::MainQueue::postAfter(100ms, [weak] {
    if (auto g = weak.lock()) g->GetMultiColorList();
  });
}

void MultiColorTableView::viewWillAppear(bool animated) {
  ui::ViewController::viewWillAppear(animated);
  std::weak_ptr<MultiColorTableView> weak = self<MultiColorTableView>();
  foundation::NotificationCenter::defaultCenter().addUniqueObserver(
      &observerToken_, kShowOverbookedWarning, nullptr, [weak](const foundation::Notification&) {
        if (auto g = weak.lock()) g->showOverBookedWarning();
      });
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc) && orvoDelegate_)
    orvoDelegate_->timeOutInit();
}

void MultiColorTableView::viewWillDisappear(bool animated) {
  ui::ViewController::viewWillDisappear(animated);
  foundation::NotificationCenter::defaultCenter().removeObserver(&observerToken_);
}

// ----- Rows from the server

void MultiColorTableView::GetMultiColorList() {
  const Settings& settings = orvoDelegate_->settings();
  const GlobalSO& so = orvoDelegate_->globalSO();
  ScreenRequest r;
  r.operation = "GetMultiColorList";
  r.requestMethod = "-[MultiColorTableView GetMultiColorList]";
  r.answerMethod = "-[MultiColorTableView GetMultiColorListResponseData:]";
  std::string orderList;
  if (settings.realtimeSoFlag) orderList = foundation::prettyJson(json::array({{{"MULTICOLOR", orderListArray_}}}));
  r.params = {{"Type", kind_},
              {"Color", color_},
              {"Style", style_},
              {"CustomerCode", so.customerID},
              {"StoreCode", so.storeID},
              SoapParam::integer("PriceEditLevel", so.priceEditLevel),
              {"PriceLevel", so.priceLevel},
              SoapParam::rate("OrderDiscountRate", so.orderDiscountRate),
              SoapParam::integer("DupItemMode", settings.dupItemHandlingFlag ? 1 : 0),
              {"EditOrderNum", so.orderNumber},
              {"OrderList", orderList},
              {"WH", settings.isStockWHMode ? so.warehouseCode : std::string()}};
  sendScreenRequest(*this, std::move(r), [this](const RequestAnswer& a) { GetMultiColorListResponseData(a); });
}

void MultiColorTableView::GetMultiColorListResponseData(const RequestAnswer& a) {
  const auto& answer = a.requireObject();
  if (!answer) return;  // not JSON: the reading alert has been shown; the grid stays empty
  if (!answer->is_array()) throw std::runtime_error("the answer is no list of rows");
  for (const auto& element : *answer) listContent_.push_back(multicolor::rowFromAnswer(element));
  const Settings& settings = orvoDelegate_->settings();
  if (settings.isUpcSizeModeInitialPrepackQty && bundleOrSizecode_ == "SizeCode") {
    if (listContent_.empty()) throw std::runtime_error("index 0 beyond bounds for empty array");
    if (!field(listContent_[0], "PrepackInfo").empty()) hasUPCprepackInfo_ = true;
  }
  updateUPCprepackQtyView();
  setExistingQty();
  // The server's limits become what may still be booked beyond each row's quantity, once.
  for (auto& row : listContent_)
    multicolor::updateQty(row, std::nullopt, std::nullopt,
                          multicolor::storedLimit(row, settings.dupItemHandlingFlag, settings.realtimeSoFlag));
  table_->reloadData();
}

void MultiColorTableView::updateUPCprepackQtyView() {
  if (!hasUPCprepackInfo_)
    hideUPCprepackQtyView();
  else
    setUPCprepackRatioInfo();
}

void MultiColorTableView::hideUPCprepackQtyView() {
  prepackView_->setHidden(true);
  table_->setFrame({table_->frame().x(), 0, table_->frame().width(), view().frame().height() - kFooterHeight});
}

void MultiColorTableView::setUPCprepackRatioInfo() {
  prepackView_->setHidden(false);
  const auto ratio = multicolor::prepackRatio(field(listContent_[0], "PrepackInfo"));
  std::string sizes, ratios;
  for (size_t i = 0; i < listContent_.size(); ++i) {
    const std::string size = field(listContent_[i], "SizeCode");
    auto it = ratio.find(size);
    sizes += size;
    ratios += std::to_string(it == ratio.end() ? 0 : it->second);
    if (i + 1 < listContent_.size()) {
      sizes += "/";
      ratios += "/";
    }
  }
  prepackRatio_->setText(sizes + " (" + ratios + ")");
}

void MultiColorTableView::setExistingQty() {
  int smallest = INT_MAX, largest = 0;
  std::map<std::string, int> ratio;
  if (hasUPCprepackInfo_) ratio = multicolor::prepackRatio(field(listContent_[0], "PrepackInfo"));
  for (size_t i = 0; i < listContent_.size(); ++i) {
    const json row = listContent_[i];
    for (const auto& line : orderListArray_) {
      if (field(line, "Color") != field(row, "Color") ||
          field(line, bundleOrSizecode_.c_str()) != field(row, bundleOrSizecode_.c_str()))
        continue;
      if (hasUPCprepackInfo_) {
        auto it = ratio.find(field(row, "SizeCode"));
        const int r = it == ratio.end() ? 0 : it->second;
        const int qty = cart::intOf(field(line, "Qty"));
        const int packs = r == 0 ? 0 : qty / r;
        if (qty - packs * r != 0) prepackQty_->setTextColor(ui::Color::red());
        if (packs < smallest) {
          if (smallest != INT_MAX) prepackQty_->setTextColor(ui::Color::red());
          smallest = packs;
        } else if (packs > largest) {
          largest = packs;
        }
      }
      multicolor::updateQty(listContent_[i], field(line, "Qty"), field(line, "Price"), std::nullopt);
    }
  }
  if (hasUPCprepackInfo_ && smallest != INT_MAX) {
    if (smallest != largest) prepackQty_->setTextColor(ui::Color::red());
    prepackStepper_->setValue(smallest);
    prepackQty_->setText(std::to_string(smallest));
  }
  setTotal();
  table_->reloadData();
}

std::string MultiColorTableView::getQtyByColorBundle(const std::string& color,
                                                     const std::string& bundleOrSizeCode) const {
  for (const auto& row : listContent_)
    if (field(row, "Color") == color && field(row, bundleOrSizecode_.c_str()) == bundleOrSizeCode && row.contains("Qty"))
      return field(row, "Qty");
  return "0";
}

// ----- Quantities

int MultiColorTableView::checkOverBookingLimit(int index, int qty) {
  if (index < 0 || index >= int(listContent_.size())) return qty;
  json& row = listContent_[size_t(index)];
  const auto b = multicolor::checkOverBooking(cart::intOf(field(row, "Qty")), field(row, "OverBookingLimit"), qty);
  if (b.warn) showOverBookedWarning();
  if (b.qty) {
    multicolor::updateQty(row, std::to_string(*b.qty), std::nullopt, b.limit);
    setTotal();
  }
  return b.result;
}

void MultiColorTableView::setTotal() {
  const auto t = multicolor::totals(listContent_);
  totalQty_->setText(PriceClass::stringToComma(std::to_string(t.qty)));
  totalExtPrice_->setText(PriceClass::stringToCurrency(centsToDecimal(t.cents)));
}

bool MultiColorTableView::shouldChangeCharactersInRange(ui::TextField& field, ui::Range range,
                                                         const std::string& replacement) {
  const std::string proposed = ui::replacingUtf16Range(field.text(), range, replacement);
  if (proposed.empty()) return true;
  for (char c : proposed)
    if (c < '0' || c > '9') return false;
  const int shown = checkOverBookingLimit(field.tag(), cart::intOf(proposed));
  field.setText(std::to_string(shown));
  if (auto* cell = dynamic_cast<CustomCellForMultiColor*>(table_->cellForRowAtIndexPath({0, field.tag()})))
    cell->layoutSubviews();
  return false;
}

void MultiColorTableView::stepperQtyFunc(int index, int value) {
  const int shown = checkOverBookingLimit(index, value);
  if (auto* cell = dynamic_cast<CustomCellForMultiColor*>(table_->cellForRowAtIndexPath({0, index}))) {
    cell->txt_packQty().setText(std::to_string(shown));
    cell->layoutSubviews();
  }
}

void MultiColorTableView::stepperPrepackQtyFunc() {
  prepackQty_->setTextColor(ui::Color::blue());
  const int packs = int(prepackStepper_->value());
  prepackQty_->setText(std::to_string(packs));
  for (size_t i = 0; i < listContent_.size(); ++i) {
    const auto ratio = multicolor::prepackRatio(field(listContent_[i], "PrepackInfo"));
    auto it = ratio.find(field(listContent_[i], "SizeCode"));
    checkOverBookingLimit(int(i), (it == ratio.end() ? 0 : it->second) * packs);
  }
  table_->reloadData();
}

void MultiColorTableView::showOverBookedWarning() {
  AlertClass::AlertView(*this, 0, 1, kAppAlertTitle, "All ATS has been booked.\n You can't order this item more.",
                        nullptr, nullptr);
}

// ----- Table

int MultiColorTableView::numberOfSectionsInTableView(ui::TableView&) {
  setTotal();
  return 1;
}

std::optional<double> MultiColorTableView::heightForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) {
  if (ip.row < 0 || ip.row >= int(listContent_.size())) return 89;
  const json& row = listContent_[size_t(ip.row)];
  const Settings& settings = orvoDelegate_->settings();
  double h = 89;
  if ((settings.dupItemHandlingFlag || settings.previousOrderFlag) && cart::intOf(field(row, "BeforeTotal")) > 0) h += 14;
  if (settings.overBookingFlag && !field(row, "OverBookingMsg").empty()) h += 14;
  return h;
}

std::shared_ptr<ui::TableViewCell> MultiColorTableView::cellForRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) {
  auto cell = std::dynamic_pointer_cast<CustomCellForMultiColor>(table.dequeueReusableCellWithIdentifier("MultiColorCell"));
  if (!cell) cell = std::make_shared<CustomCellForMultiColor>();
  if (ip.row < 0 || ip.row >= int(listContent_.size())) return cell;
  const json& row = listContent_[size_t(ip.row)];
  const Settings& settings = orvoDelegate_->settings();
  if (kind_ == "bundle") {
    cell->lbl_PackOrUpcQty().setBackgroundColor(ui::Color::blue());
    cell->lbl_PackOrUpcQty().setText("Pack Qty");
    cell->lbl_color().setBackgroundColor(field(row, "Color").empty() ? ui::Color::clear() : ui::Color::black());
    cell->lbl_color().setText(field(row, "Color"));
    cell->lbl_bundle_upc().setText(field(row, "Bundle"));
  } else {
    cell->lbl_PackOrUpcQty().setBackgroundColor(kUpcGreen);
    cell->lbl_PackOrUpcQty().setText(ui::localizedString("Single Qty"));
    cell->lbl_color().setBackgroundColor(field(row, "SizeCode").empty() ? ui::Color::clear() : ui::Color::gray());
    cell->lbl_color().setText(field(row, "SizeCode"));
    cell->lbl_bundle_upc().setText(field(row, "Color"));
  }
  cell->txt_packQty().setText(getQtyByColorBundle(field(row, "Color"), field(row, bundleOrSizecode_.c_str())));
  cell->lbl_eta().setText(field(row, "Eta"));
  cell->lbl_ats().setText(field(row, "Ats"));
  cell->lbl_ots().setText(field(row, "Ots"));
  cell->lbl_price().setText(PriceClass::stringToCurrency(field(row, "Price")));
  PriceClass::SetStyledDiscountPrice(cell->lbl_price(), field(row, "Price"), field(row, "OrgPrice"));
  cell->lbl_unitQty().setText(ui::localizedString("0"));
  cell->lbl_extPrice().setText(ui::localizedString("$0.00"));
  cell->txt_packQty().setTag(ip.row);

  MultiColorCellInfo info;
  info.unitSum = cart::intOf(field(row, "Sum"));
  info.price = field(row, "Price");
  info.ats_status = foundation::boolValue(field(row, "AtsStatus"));
  info.ots_status = foundation::boolValue(field(row, "OtsStatus"));
  if (auto largest = multicolor::largestQty(row)) {
    info.overbookingLimitFlag = true;
    info.overbookingLimit = *largest;
  }
  cell->setCellItemInfo(info);

  const int beforeTotal = cart::intOf(field(row, "BeforeTotal"));
  for (auto* w : {&cell->lbl_warning1(), &cell->lbl_warning2()}) {
    w->setText("");
    w->setHidden(true);
  }
  if ((settings.dupItemHandlingFlag || settings.previousOrderFlag) && beforeTotal > 0) {
    cell->lbl_warning1().setText("Existing " + std::string(settings.PrevOrderNotiOpenFlag ? "Open " : "") +
                                 "Sales Order : " + std::to_string(cart::intOf(field(row, "BeforeTime"))) +
                                 " \n Total Qty : " + std::to_string(beforeTotal));
    cell->lbl_warning1().setBackgroundColor(
        settings.dupItemHandlingFlag && field(row, "Kind") == "bundle" ? ui::Color::red() : ui::Color::blue());
    cell->lbl_warning1().setHidden(false);
  }
  const std::string message = field(row, "OverBookingMsg");
  if (settings.overBookingFlag && !message.empty()) {
    if (cell->lbl_warning1().isHidden()) {
      cell->lbl_warning1().setText(message);
      cell->lbl_warning1().setBackgroundColor(cell->lbl_warning2().backgroundColor().value_or(ui::Color::orange()));
      cell->lbl_warning1().setHidden(false);
    } else {
      cell->lbl_warning2().setText(message);
      cell->lbl_warning2().setHidden(false);
    }
  }
  cell->layoutSubviews();
  return cell;
}

void MultiColorTableView::didSelectRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) {
  table.deselectRowAtIndexPath(ip, true);
  if (ip.row < 0 || size_t(ip.row) >= listContent_.size()) return;
  const auto& row = listContent_[size_t(ip.row)];
  ImageViewClass::showImageSlider(*this, field(row, "Style"), field(row, "Color"));
}

// ----- Leaving

void MultiColorTableView::nextFunc() {
  json rows = json::array();
  for (const auto& row : listContent_)
    if (row.contains("Qty")) rows.push_back(row);
  foundation::NotificationCenter::defaultCenter().post(kMultiColorNextBtn, &rows);
  dismissViewControllerAnimated(true);
}

void MultiColorTableView::backFunc() {
  if (isFromStyleInfoView_) {
    if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
  } else {
    dismissViewControllerAnimated(true);
  }
}

}  // namespace orvo
