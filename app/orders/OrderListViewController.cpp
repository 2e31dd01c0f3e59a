// The order item list: set-up and opening mode, life cycle, the table of lines with its
// cells, selecting and deleting a line, footer, shake, leaving and the cart look-ups.
#include "app/orders/OrderListViewController.h"

#include <algorithm>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/OrderBackup.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenNavigation.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "app/orders/OrderCart.h"
#include "app/orders/OrderCells.h"
#include "app/orders/OrderScreens.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/RefreshControl.h"
#include "platform/ui/Window.h"

namespace orvo {

using nlohmann::json;
using cart::field;
using namespace std::chrono_literals;

namespace {

constexpr double kContentHeight = ui::Window::kScreenHeight - 64;  // below the navigation bar
constexpr double kFooterHeight = 50;
constexpr double kTopLineHeight = 20;

std::shared_ptr<ui::Label> panelLabel(ui::View& panel, ui::Rect frame, double size, bool bold = false) {
  auto l = ui::makeView<ui::Label>(frame);
  l->setFont(bold ? ui::Font::boldSystemFont(size) : ui::Font::systemFont(size));
  panel.addSubview(l);
  return l;
}

}  // namespace

OrderListViewController::OrderListViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

OrderListViewController::~OrderListViewController() {
  foundation::NotificationCenter::defaultCenter().removeObserver(&observerToken_);
  foundation::NotificationCenter::defaultCenter().removeObserver(&multiColorToken_);
}

// ----- Set-up

void OrderListViewController::buildViews() {
  ui::View& root = view();
  root.setBackgroundColor(ui::Color::whiteColor());

  lbl_topOrderInfo_ = panelLabel(root, {5, 0, 250, kTopLineHeight}, 11);
  lbl_topOrderInfo_->setAdjustsFontSizeToFitWidth(true);
  lbl_wh_ = panelLabel(root, {255, 0, 60, kTopLineHeight}, 11, true);
  lbl_wh_->setTextAlignment(ui::TextAlignment::Right);

  orderListTableView_ = ui::makeView<ui::TableView>(
      {0, kTopLineHeight, ui::Window::kScreenWidth, kContentHeight - kTopLineHeight - kFooterHeight});
  orderListTableView_->setRowHeight(80);
  orderListTableView_->registerCellFactory("customCell", [] { return std::make_shared<CustomCellForOrderList>(); });
  root.addSubview(orderListTableView_);

  // Footer: totals, the subtotal hand-off (a tap on the footer picture) and next.
  footer_ = ui::makeView<ui::View>({0, kContentHeight - kFooterHeight, ui::Window::kScreenWidth, kFooterHeight});
  footer_->setBackgroundColor(ui::Color::white(0.15));
  iv_footer_ = ui::makeView<ui::ImageView>({0, 0, ui::Window::kScreenWidth - 80, kFooterHeight});
  footer_->addSubview(iv_footer_);
  lbl_tUnites_ = panelLabel(*footer_, {10, 5, 90, 40}, 17, true);
  lbl_tUnites_->setTextColor(ui::Color::whiteColor());
  lbl_tPrice_ = panelLabel(*footer_, {100, 5, 140, 40}, 17, true);
  lbl_tPrice_->setTextColor(ui::Color::whiteColor());
  lbl_tPrice_->setAdjustsFontSizeToFitWidth(true);
  btn_Next_ = ui::Button::make("Next", {245, 5, 70, 40});
  btn_Next_->setTitleColor(ui::Color::rgb(0, 0.88, 0));
  btn_Next_->addTarget(this, [this](ui::Control&) { btn_NextToGoToOrderInfoView(); }, ui::TouchUpInside);
  footer_->addSubview(btn_Next_);
  root.addSubview(footer_);

  // Detail panel of the item on display.
  OrderDetailView_ = ui::makeView<ui::View>({0, 0, ui::Window::kScreenWidth, 240});
  ui::View& d = *OrderDetailView_;
  d.setBackgroundColor(ui::Color::white(0.96));
  lbl_style_ = panelLabel(d, {10, 6, 150, 26}, 20, true);
  lbl_color_ = panelLabel(d, {165, 6, 145, 26}, 20, true);
  lbl_bundle_lbl_ = panelLabel(d, {10, 36, 80, 20}, 12);
  lbl_sizecode_ = panelLabel(d, {90, 36, 100, 20}, 15, true);
  lbl_bundle_ = panelLabel(d, {90, 36, 100, 20}, 15, true);
  lbl_cancelDate_ = panelLabel(d, {190, 36, 125, 20}, 12);
  lbl_cancelDate_->setAdjustsFontSizeToFitWidth(true);
  lbl_ats_lbl_ = panelLabel(d, {10, 60, 40, 20}, 12, true);
  lbl_ats_lbl_->setText("ATS");
  lbl_ats_ = panelLabel(d, {50, 60, 60, 20}, 15);
  lbl_ats_->setAdjustsFontSizeToFitWidth(true);
  lbl_ots_lbl_ = panelLabel(d, {115, 60, 40, 20}, 12, true);
  lbl_ots_lbl_->setText("OTS");
  lbl_ots_ = panelLabel(d, {155, 60, 60, 20}, 15);
  lbl_price_ = panelLabel(d, {10, 86, 300, 26}, 20, true);
  lbl_qty_lbl_ = panelLabel(d, {10, 120, 100, 36}, 13, true);
  lbl_qty_lbl_->setTextColor(ui::Color::whiteColor());
  lbl_qty_lbl_->setTextAlignment(ui::TextAlignment::Right);
  txt_Qty_ = ui::makeView<ui::TextField>({115, 120, 80, 36});
  txt_Qty_->setKeyboardType(ui::KeyboardType::NumberPad);
  txt_Qty_->setTextAlignment(ui::TextAlignment::Center);
  txt_Qty_->setFont(ui::Font::boldSystemFont(22));
  txt_Qty_->setAccessibilityLabel("Quantity");
  d.addSubview(txt_Qty_);
  lbl_units_ = panelLabel(d, {205, 120, 105, 36}, 13);
  btn_ATS_ = ui::Button::make("Stock", {10, 170, 90, 40});
  btn_ATS_->addTarget(this, [this](ui::Control&) { btn_ATS(); }, ui::TouchUpInside);
  d.addSubview(btn_ATS_);
  btn_EditPrice_ = ui::Button::make("Edit Price", {110, 170, 100, 40});
  btn_EditPrice_->addTarget(this, [this](ui::Control&) { btn_EditPrice(); }, ui::TouchUpInside);
  d.addSubview(btn_EditPrice_);
  btn_multiColor_ = ui::Button::make("Colors", {220, 170, 90, 40});
  btn_multiColor_->setHidden(true);
  btn_multiColor_->addTarget(this, [this](ui::Control&) { btn_multiColorFunc(); }, ui::TouchUpInside);
  d.addSubview(btn_multiColor_);

  // Edit-price panel.
  editPriceView_ = ui::makeView<ui::View>({0, 0, ui::Window::kScreenWidth, 160});
  editPriceView_->setBackgroundColor(ui::Color::white(0.9));
  panelLabel(*editPriceView_, {10, 10, 300, 24}, 15, true)->setText("Unit Price");
  txt_editPrice_ = ui::makeView<ui::TextField>({10, 40, 200, 40});
  txt_editPrice_->setFont(ui::Font::boldSystemFont(22));
  txt_editPrice_->setAccessibilityLabel("Unit price");
  editPriceView_->addSubview(txt_editPrice_);
  btn_editPriceSave_ = ui::Button::make("Save", {10, 100, 140, 44});
  btn_editPriceSave_->addTarget(this, [this](ui::Control&) { btn_editPriceSave(); }, ui::TouchUpInside);
  editPriceView_->addSubview(btn_editPriceSave_);
  btn_editPriceClose_ = ui::Button::make("Close", {170, 100, 140, 44});
  btn_editPriceClose_->addTarget(this, [this](ui::Control&) { btn_editPriceClose(); }, ui::TouchUpInside);
  editPriceView_->addSubview(btn_editPriceClose_);
}

void OrderListViewController::viewDidLoad() {
  setTitle("Order List");
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  setCanBecomeFirstResponder(true);
  buildViews();
  Settings& settings = orvoDelegate_->settings();
  GlobalSO& so = orvoDelegate_->globalSO();

  if (settings.isCameraScannerMode)
    txt_Qty_ = CustomKeyboardClass::SetNumberPadWithCameraScan(self<CameraScanTarget>(), txt_Qty_);
  txt_Qty_->setDelegate(self<ui::TextFieldDelegate>());
  InitNavItems();

  cartAssign(json::array());
  indexTitle_.clear();
  editedPriceArray_ = json::array();
  multiColorUpcArray_.clear();
  beforeBarcode_.clear();
  sohCancelDate_.clear();
  scannedItem_ = ScannedItem();
  IsRowEditMode_ = overBookingMsgFlag_ = popupForStopBarcodeFlag_ = IsEditOrderMode_ = getPrevOrderListSoapFlag_ = false;
  auto& d = foundation::UserDefaults::standard();
  negativeStocksAlarmFlag_ = d.boolForKey(defaults::negativeStocksFunc);
  otsWarningFlag_ = d.boolForKey(defaults::otsWarningFunc);

  // How the order opens.
  if (!so.orderNumber.empty() && settings.duplicateSoFlag && settings.multiSoFlag) {
    for (json line : so.lastOrderListArray) {
      if (line.is_object()) {
        line.erase("BeforeOrderNum");
        line.erase("DupItemHandling");
      }
      cartInsert(orderListArray_.size(), std::move(line));
    }
    for (const auto& e : so.lastEditedPriceArray) editedPriceArray_.push_back(e);
    UpdateMultiColorSearchIndex();
  } else if (!so.orderNumber.empty() && settings.duplicateSoFlag && settings.realtimeSoFlag) {
    GetPrevOrderList();
  } else if (!so.orderNumber.empty()) {
    IsEditOrderMode_ = true;
    GetPrevOrderList();
  }

  // The table asks for its data only from here on, so the backup is merged before the
  // first totals (which write the backup) run.
  orderListTableView_->setDataSource(self<ui::TableViewDataSource>());
  orderListTableView_->setDelegate(self<ui::TableViewDelegate>());
  AutoSaveFuncDataLoad();
  initAdditionalView();
  lbl_wh_->setText(settings.isStockWHMode ? so.warehouseCode : std::string());
  reloadTableInfo();
}

void OrderListViewController::initAdditionalView() {
  lbl_ats_->setAdjustsFontSizeToFitWidth(true);
  OrderDetailView_->setHidden(true);
  editPriceView_->setHidden(true);
  view().addSubview(OrderDetailView_);
  view().addSubview(editPriceView_);
  setPickerView();
  setRefreshControl();
  setFooterTotal();
  SetTopOrderInfoMsg();
}

void OrderListViewController::setRefreshControl() {
  auto refresh = std::make_shared<ui::RefreshControl>();
  if (!orvoDelegate_->settings().realtimeSoFlag) return;
  refresh->setTitle("Pull to Refresh");
  refresh->addTarget(this, [this](ui::Control&) { refreshStock(); }, ui::ValueChanged);
  orderListTableView_->setRefreshControl(refresh);
}

void OrderListViewController::setFooterTotal() {
  iv_footer_->setUserInteractionEnabled(true);
  iv_footer_->addGestureRecognizer(
      std::make_shared<ui::TapGestureRecognizer>([this](ui::GestureRecognizer&) { footerTapped(); }));
}

void OrderListViewController::SetTopOrderInfoMsg() {
  const GlobalSO& so = orvoDelegate_->globalSO();
  std::string text;
  if (so.orderNumber.empty())
    text = "Price Level : " + so.priceLevel;
  else if (orvoDelegate_->settings().duplicateSoFlag)
    text = "Duplicated SO# " + so.orderNumber + " \tPrice Level : " + so.priceLevel;
  else
    text = "SO# " + so.orderNumber + " \tPrice Level : " + so.priceLevel;
  if (so.orderDiscountRate > 0) text += "\tDiscount Rate : " + foundation::formatDouble(so.orderDiscountRate, 2) + "%";
  lbl_topOrderInfo_->setText(text);
}

// ----- Life cycle

void OrderListViewController::viewWillAppear(bool) {
  auto& center = foundation::NotificationCenter::defaultCenter();
  std::weak_ptr<OrderListViewController> weak = self<OrderListViewController>();
  center.addUniqueObserver(&observerToken_, kChangeBarcode, nullptr, [weak](const foundation::Notification& n) {
    if (auto s = weak.lock()) s->scanedBarcode(n);
  });
  center.addUniqueObserver(&observerToken_, kBtnPressed, nullptr, [weak](const foundation::Notification& n) {
    if (auto s = weak.lock()) s->scanButtonPressed(n);
  });
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
  if (IsRowEditMode_) {
    setNavColor(ui::Color::black());
  } else {
    startBarcode();
    setNavColor(ui::Color::blue());
  }
  if (isDetailShowing()) {
    if (orvoDelegate_->settings().isUpcSizeMode && itemText(scannedItem_.Kind) == "upc" && !IsRowEditMode_)
      btn_multiColorFunc();
    else
      txt_Qty_->becomeFirstResponder();
  }
  if (!orvoDelegate_->globalSO().manualBarcode.empty())
    foundation::MainQueue::postAfter(200ms, [weak] {
      if (auto s = weak.lock()) s->callManualBarcode();
    });
}

void OrderListViewController::viewWillDisappear(bool) {
  foundation::NotificationCenter::defaultCenter().removeObserver(&observerToken_);
  stopBarcode();
  setNavColor(ui::Color::black());
}

void OrderListViewController::motionEnded(ui::MotionType motion) {
  if (motion == ui::MotionType::Shake && orvoDelegate_->settings().isCameraScannerMode && !IsRowEditMode_)
    OpenCameraScanView();
}

void OrderListViewController::setNavColor(ui::Color color) {
  if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, color);
}

void OrderListViewController::startBarcode() {
  if (orvoDelegate_) orvoDelegate_->startBarcode();
}

void OrderListViewController::stopBarcode() {
  if (orvoDelegate_) orvoDelegate_->stopBarcode();
}

// ----- Cart look-ups

void OrderListViewController::UpdateMultiColorSearchIndex() {
  if (!orvoDelegate_->settings().multiColorSoFlag) return;
  indexTitle_ = cartIndex_.styles();
}

std::vector<json> OrderListViewController::getSearchIndexArray(int section) const {
  if (section < 0 || section >= int(indexTitle_.size())) return {};
  std::vector<json> out;
  for (size_t i : cartIndex_.linesOfStyle(indexTitle_[size_t(section)])) out.push_back(orderListArray_[i]);
  return out;
}

std::optional<json> OrderListViewController::getItemInfoByIndex(int row, int section, bool remove) {
  std::optional<json> line;
  if (orvoDelegate_->settings().multiColorSoFlag) {
    if (section < 0 || section >= int(indexTitle_.size())) return std::nullopt;
    const auto& lines = cartIndex_.linesOfStyle(indexTitle_[size_t(section)]);
    if (row < 0 || row >= int(lines.size())) return std::nullopt;
    line = orderListArray_[lines[size_t(row)]];
  } else {
    if (row < 0 || row >= int(orderListArray_.size())) return std::nullopt;
    line = orderListArray_[size_t(row)];
  }
  if (remove) {
    editPriceArrayDelete(field(*line, "Style"), field(*line, "Color"));
    if (orvoDelegate_->settings().multiColorSoFlag) {
      // Every line equal to it goes (only lines of its style can be).
      const std::vector<size_t> ofStyle = cartIndex_.linesOfStyle(field(*line, "Style"));
      for (size_t k = ofStyle.size(); k-- > 0;)
        if (orderListArray_[ofStyle[k]] == *line) cartErase(ofStyle[k]);
    } else {
      cartErase(size_t(row));
    }
  }
  return line;
}

json OrderListViewController::getItemDicByBarcode(const std::string& code) const {
  const int i = cartIndex_.indexOfBarcode(code);
  if (i < 0) return json{{"NewItem", "True"}};
  return orderListArray_[size_t(i)];
}

int OrderListViewController::getItemIdxByBarcode(const std::string& code) const {
  return cartIndex_.indexOfBarcode(code);
}

int OrderListViewController::getItemIdxByStyle(const std::string& style) const {
  return cartIndex_.lastIndexOfStyle(style);
}

// ----- Changes of the cart

void OrderListViewController::cartInsert(size_t pos, json line) {
  pos = std::min(pos, orderListArray_.size());
  rowChanges_.push_back({RowChange::Insert, pos});
  cartIndex_.insert(pos, line);
  OrderBackup::standard().insertLine(backupToken_, pos, line);
  orderListArray_.insert(orderListArray_.begin() + long(pos), std::move(line));
}

void OrderListViewController::cartReplace(size_t pos, json line) {
  if (pos >= orderListArray_.size()) return;
  rowChanges_.push_back({RowChange::Replace, pos});
  cartIndex_.replace(pos, orderListArray_[pos], line);
  OrderBackup::standard().replaceLine(backupToken_, pos, line);
  orderListArray_[pos] = std::move(line);
}

void OrderListViewController::cartErase(size_t pos) {
  if (pos >= orderListArray_.size()) return;
  rowChanges_.push_back({RowChange::Erase, pos});
  cartIndex_.erase(pos, orderListArray_[pos]);
  OrderBackup::standard().eraseLine(backupToken_, pos);
  orderListArray_.erase(orderListArray_.begin() + long(pos));
}

void OrderListViewController::cartAssign(json lines) {
  if (!lines.is_array()) lines = json::array();
  orderListArray_ = std::move(lines);
  cartIndex_.assign(orderListArray_);
  rowChangesLost_ = true;
  // The backup takes the whole cart with the next save.
  backupToken_ = 0;
}

bool OrderListViewController::updateChangedRows() {
  ui::TableView& table = *orderListTableView_;
  if (rowChangesLost_ || orvoDelegate_->settings().multiColorSoFlag || table.numberOfSections() != 1) return false;
  // A line that came and went again (an item scanned, then deleted) changed nothing.
  std::vector<RowChange> changes;
  for (const auto& c : rowChanges_) {
    if (c.kind == RowChange::Erase) {
      auto last = std::find_if(changes.rbegin(), changes.rend(), [](const RowChange& x) { return x.kind != RowChange::Replace; });
      if (last != changes.rend() && last->kind == RowChange::Insert && last->row == c.row) {
        const bool onlyItsRow = std::all_of(changes.rbegin(), last, [&](const RowChange& x) { return x.row == c.row; });
        if (onlyItsRow) {
          changes.erase(std::next(last).base(), changes.end());
          continue;
        }
      }
    }
    changes.push_back(c);
  }
  std::vector<ui::IndexPath> reload, insert, remove;
  const bool oneMove = std::count_if(changes.begin(), changes.end(),
                                     [](const RowChange& c) { return c.kind != RowChange::Replace; }) == 1 &&
                       changes.size() == 1;
  for (const auto& c : changes) {
    const ui::IndexPath ip{0, int(c.row)};
    if (c.kind == RowChange::Replace && std::find(reload.begin(), reload.end(), ip) == reload.end())
      reload.push_back(ip);
    else if (c.kind == RowChange::Insert && oneMove)
      insert.push_back(ip);
    else if (c.kind == RowChange::Erase && oneMove)
      remove.push_back(ip);
    else if (c.kind != RowChange::Replace)
      return false;  // several lines in or out: their places are simpler to reload
  }
  if (reload.size() > 8) return false;
  try {
    if (auto selected = table.indexPathForSelectedRow()) table.deselectRowAtIndexPath(*selected, false);
    table.beginUpdates();
    if (!reload.empty()) table.reloadRowsAtIndexPaths(reload, ui::RowAnimation::None);
    if (!insert.empty()) table.insertRowsAtIndexPaths(insert, ui::RowAnimation::Automatic);
    if (!remove.empty()) table.deleteRowsAtIndexPaths(remove, ui::RowAnimation::Automatic);
    table.endUpdates();
  } catch (const ui::TableUpdateError&) {
    return false;
  }
  return true;
}

// ----- Table

void OrderListViewController::reloadTableInfo() {
  UpdateMultiColorSearchIndex();
  if (!updateChangedRows()) orderListTableView_->reloadData();
  rowChanges_.clear();
  rowChangesLost_ = false;
}

int OrderListViewController::numberOfSectionsInTableView(ui::TableView&) {
  getTotal();
  btn_Next_->setHidden(orderListArray_.empty());
  return orvoDelegate_->settings().multiColorSoFlag ? int(indexTitle_.size()) : 1;
}

int OrderListViewController::numberOfRowsInSection(ui::TableView&, int section) {
  if (orvoDelegate_->settings().multiColorSoFlag) return int(getSearchIndexArray(section).size());
  return int(orderListArray_.size());
}

std::optional<std::string> OrderListViewController::titleForHeaderInSection(ui::TableView&, int section) {
  if (orvoDelegate_->settings().multiColorSoFlag)
    return section < int(indexTitle_.size()) ? indexTitle_[size_t(section)] : std::string();
  return std::string("Order List");
}

std::vector<std::string> OrderListViewController::sectionIndexTitlesForTableView(ui::TableView&) {
  return indexTitle_;
}

std::shared_ptr<ui::TableViewCell> OrderListViewController::cellForRowAtIndexPath(ui::TableView& table,
                                                                                   ui::IndexPath ip) {
  auto cell = std::dynamic_pointer_cast<CustomCellForOrderList>(table.dequeueReusableCellWithIdentifier("customCell"));
  if (!cell) cell = std::make_shared<CustomCellForOrderList>();
  if (auto line = getItemInfoByIndex(ip.row, ip.section, false)) cell->fill(*line);
  return cell;
}

void OrderListViewController::lineToScannedItem(const json& line) {
  scannedItem_.initScannedItem();
  auto take = [&](const char* key) { return json(field(line, key)); };
  scannedItem_.Kind = take("Kind");
  scannedItem_.Code = take("Barcode");
  scannedItem_.Ats = take("Ats");
  scannedItem_.AtsStatus = take("AtsStatus");
  scannedItem_.Ots = take("Ots");
  scannedItem_.OtsStatus = take("OtsStatus");
  scannedItem_.Sum = take("Sum");
  scannedItem_.Price = take("Price");
  scannedItem_.OrgPrice = take("OrgPrice");
  scannedItem_.MinPrice = take("MinPrice");
  scannedItem_.Bundle = take("Bundle");
  scannedItem_.Style = take("Style");
  scannedItem_.Color = take("Color");
  scannedItem_.MultiColor = take("MultiColor");
  scannedItem_.SizeCode = take("SizeCode");
  scannedItem_.Qty = take("Qty");
  scannedItem_.OverBookingMsg = take("OverBookingMsg");
  scannedItem_.OverBookingLimit = take("OverBookingLimit");
  scannedItem_.Eta = take("Eta");
  scannedItem_.EtaForPrint = take("EtaForPrint");
}

void OrderListViewController::didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) {
  auto line = getItemInfoByIndex(ip.row, ip.section, false);
  if (!line) return;
  lineToScannedItem(*line);
  beforeBarcode_ = field(*line, "Barcode");

  lbl_units_->setText(field(*line, "Sum"));
  lbl_color_->setText(field(*line, "Color"));
  lbl_sizecode_->setText(field(*line, "SizeCode"));
  lbl_bundle_->setText(field(*line, "Bundle"));
  lbl_style_->setText(field(*line, "Style"));
  lbl_ats_->setText(field(*line, "Ats"));
  lbl_ots_->setText(field(*line, "Ots"));
  lbl_cancelDate_->setText(field(*line, "EtaForPrint"));
  txt_Qty_->setText(field(*line, "Qty"));
  std::string price = "$";
  price += field(*line, "Price");
  lbl_price_->setText(price);
  PriceClass::SetStyledDiscountPrice(*lbl_price_, field(*line, "Price"), field(*line, "OrgPrice"));

  SetStockColorStyle();
  if (field(*line, "Kind") == "upc") {
    SetUpcLabelStyle();
    lbl_units_->setText("1");
  } else if (field(*line, "Kind") == "bundle") {
    SetBundleLabelStyle();
  }
  IsRowEditMode_ = true;
  if (orvoDelegate_->settings().isCameraScannerMode)
    txt_Qty_ = CustomKeyboardClass::SetNumberPadWithCameraScan(self<CameraScanTarget>(), txt_Qty_, false);
  OrderDetailView_->setHidden(false);
  ShowMultiColorBtn();
  NavItemDeleteNextForEdit();
  txt_Qty_->becomeFirstResponder();
  stopBarcode();
}

void OrderListViewController::commitEditingStyle(ui::TableView& table, ui::EditingStyle style, ui::IndexPath ip) {
  if (style != ui::EditingStyle::Delete) return;
  auto line = getItemInfoByIndex(ip.row, ip.section, true);
  if (!line) return;
  if (orvoDelegate_->settings().realtimeSoFlag)
    deleteItemForRealTime(orvoDelegate_->globalSO().orderNumber, field(*line, "Barcode"));
  UpdateMultiColorSearchIndex();
  try {
    table.beginUpdates();
    table.deleteRowsAtIndexPaths({ip}, ui::RowAnimation::Automatic);
    if (orvoDelegate_->settings().multiColorSoFlag && int(indexTitle_.size()) != table.numberOfSections())
      table.deleteSections({ip.section}, ui::RowAnimation::Automatic);
    table.endUpdates();
  } catch (const ui::TableUpdateError&) {
    table.reloadData();
  }
  rowChanges_.clear();
  rowChangesLost_ = false;
}

// ----- Actions

void OrderListViewController::footerTapped() {
  json rows = json::array();
  for (const auto& line : orderListArray_) {
    json row = json::object();
    for (const char* key : {"Eta", "EtaForPrint", "Sum", "Price", "Qty", "extPrice"}) {
      if (!line.contains(key)) {
        AlertClass::displayAlert(self<ui::ViewController>(), 0, 1, kAppAlertTitle, "Please check the subtotal in Orvo.");
        return;
      }
      row[key] = line[key];
    }
    rows.push_back(std::move(row));
  }
  auto subtotal = makeScreen("SubtotalViewController");
  if (auto* receiver = dynamic_cast<OrderLinesReceiver*>(subtotal.get())) receiver->setOrderListArray(rows);
  presentInNewNavigation(*this, subtotal);
}

void OrderListViewController::refreshStock() {
  updateAllItemsForRealTime();
  reloadTableInfo();
  std::weak_ptr<OrderListViewController> weak = self<OrderListViewController>();
  foundation::MainQueue::postAfter(500ms, [weak] {
    if (auto s = weak.lock()) s->stopRefresh();
  });
}

void OrderListViewController::stopRefresh() {
  if (auto r = orderListTableView_->refreshControl()) r->endRefreshing();
}

void OrderListViewController::OpenCameraScanView() { presentInNewNavigation(*this, makeScreen("CameraScanViewController")); }

void OrderListViewController::btn_BackOrDeleteFunc() {
  if (isDetailShowing()) {
    DeleteCurrentItemByDeleteNavBtn();
    return;
  }
  stopBarcode();
  const Settings& settings = orvoDelegate_->settings();
  const std::string& number = orvoDelegate_->globalSO().orderNumber;
  std::string message = "Are you sure you want to leave this page?\n All items on your cart will be deleted.";
  if (settings.realtimeSoFlag && !settings.realtimeSoLastViewFlag && !IsEditOrderMode_) {
    message = number.empty() ? std::string("Are you sure you want to leave this page?")
                             : "Are you sure you want to leave this page?\n SO#" + number + " will be deleted.";
  }
  AlertView(0, 2, kAppAlertTitle, message, [this] { yesAlertBackFunc(); }, [this] { noAlertBackFunc(); });
}

void OrderListViewController::btn_NextToGoToOrderInfoView() {
  GlobalSO& so = orvoDelegate_->globalSO();
  if (orvoDelegate_->settings().realtimeSoFlag && realTimeOutOfStep_ && !so.orderNumber.empty()) {
    // The server is behind the device: the header follows once it holds every line.
    pushHeaderAfterSend_ = true;
    updateAllItemsForRealTime();
    return;
  }
  so.lastOrderListArray = orderListArray_;
  so.lastEditedPriceArray = editedPriceArray_;
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("OrderInfoViewController"), true);
}

}  // namespace orvo
