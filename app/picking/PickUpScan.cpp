// The pick-up screen's checking half: scans counted against the pick quantities, the
// picking state of items, the counters, typed quantities and the bin index swipes.
#include <nlohmann/json.hpp>

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/Util.h"
#include "app/picking/PickUpViewController.h"
#include "platform/foundation/Values.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/Text.h"

namespace orvo {

using nlohmann::json;
namespace pk = pick;

namespace {

const ui::Color kSaveEnabled = ui::Color::rgb(0.15, 0.41, 0.07, 1.0);
const ui::Color kSaveDisabled = ui::Color::rgb(0.5, 0.5, 0.5, 0.3);

}  // namespace

// ----- Scans

void PickUpViewController::callGetQtyByBarcode(const std::string& barcode) {
  ScreenRequest r;
  r.operation = "GetQtyByBarcode";
  r.url = Util::getServerInfo(true);
  r.params = {{"barcode", barcode}};
  r.reading = AnswerReading::ResultText;
  r.requestMethod = "-[PickUpViewController callGetQtyByBarcode:]";
  r.answerMethod = "-[PickUpViewController getGetQtyByBarcodeResponseData:]";
  sendScreenRequest(
      *this, std::move(r), [this](const RequestAnswer& a) { getGetQtyByBarcodeResponseData(a); },
      [this](const ServiceFailure& f) { errorResponseData(f); });
}

void PickUpViewController::getGetQtyByBarcodeResponseData(const RequestAnswer& answer) {
  if (answer.text && *answer.text == "False") {
    scanAlert("There are some problems. Please check this barcode on Orvo.");
    return;
  }
  if (auto record = JsonClass::getJSONobj(answer.text)) updateScannedUnit(*record);
}

void PickUpViewController::updateScannedUnit(const json& record) {
  if (!record.is_object()) throw AppException("NSInvalidArgumentException", "the barcode record is not an object");
  // The units per size travel as JSON text; an answer that carries the array itself is
  // taken as it is.
  json units = pk::member(record, "BarcodeUnitArray");
  if (!units.is_array()) {
    auto parsed = JsonClass::getJSONobj(units.is_string() ? std::optional(units.get<std::string>()) : std::nullopt);
    if (!parsed) return;  // "JSON Error" has been shown
    if (!parsed->is_array()) throw AppException("NSInvalidArgumentException", "the barcode units are not an array");
    units = std::move(*parsed);
  }
  const std::string style = foundation::textForKey(record, pk::kStyle);
  const std::string color = foundation::textForKey(record, pk::kColor);
  auto index = pk::itemForScan(*listContent_, style, color, selectedItemIndex_, units);
  if (!index) {
    scanAlert("The scanned item is not listed. Please check and try again.");
    return;
  }
  json item = (*listContent_)[*index];
  json scanned;
  const pk::ScanResult result = pk::addScannedUnits(item, units, &scanned);
  if (result != pk::ScanResult::Over) item[pk::kScannedUnitArray] = std::move(scanned);
  selectItem(*index);
  *selectedItemDic_ = item;
  switch (result) {
    case pk::ScanResult::Complete: setCheck(item); break;
    case pk::ScanResult::Partial: setPartial(item); break;
    case pk::ScanResult::Over: scanAlert("These all items are scanned already."); break;
  }
  if (selectedIndexPath_) pickTableView_->scrollToRowAtIndexPath(*selectedIndexPath_, ui::ScrollPosition::Top, false);
  showScanView();
}

void PickUpViewController::btn_testScan() { callGetQtyByBarcode(kTestBarcode); }

void PickUpViewController::startBarcode() {
  if (orvoDelegate_) orvoDelegate_->startBarcode();
}

void PickUpViewController::scanAlert(const std::string& title) {
  if (orvoDelegate_) orvoDelegate_->stopBarcode();
  std::weak_ptr<PickUpViewController> w = self<PickUpViewController>();
  AlertClass::AlertView(*this, 0, 1, title, "", [w] {
    if (auto s = w.lock()) s->startBarcode();
  }, nullptr);
}

// ----- Picking state

void PickUpViewController::storeSelected(json item, ui::RowAnimation animation) {
  if (!selectedItemIndex_ || *selectedItemIndex_ >= listContent_->size()) return;
  const size_t index = *selectedItemIndex_;
  (*listContent_)[index] = item;
  *selectedItemDic_ = std::move(item);
  // Every row that shows the item: its own bin's, and a bin written in other case.
  std::vector<ui::IndexPath> rows;
  for (int s = 0; s < int(indexTitle_.size()); ++s) {
    auto items = itemsInSection(s);
    for (size_t r = 0; r < items.size(); ++r)
      if (items[r] == index) rows.push_back({s, int(r)});
  }
  try {
    pickTableView_->reloadRowsAtIndexPaths(rows, animation);
  } catch (const ui::TableUpdateError&) {
    pickTableView_->reloadData();
  }
  updatePickQty();
  updateSaveBtn();
}

void PickUpViewController::setCheck(json item) {
  item[pk::kIsChecked] = pk::kTrue;
  storeSelected(std::move(item), ui::RowAnimation::Middle);
}

void PickUpViewController::setPartial(json item) {
  item[pk::kIsChecked] = pk::kPartial;
  storeSelected(std::move(item), ui::RowAnimation::Middle);
}

void PickUpViewController::setUnCheck(json item, bool isClearScannedQty) {
  item[pk::kIsChecked] = pk::kFalse;
  if (isClearScannedQty && item.is_object()) item.erase(pk::kScannedUnitArray);
  storeSelected(std::move(item), ui::RowAnimation::None);
}

void PickUpViewController::checkAllFunc() {
  for (auto& item : *listContent_) {
    if (!isCheckedAll_) {
      item[pk::kIsChecked] = pk::kTrue;
      item[pk::kScannedUnitArray] = pk::member(item, pk::kUnitArray);
    } else {
      item[pk::kIsChecked] = pk::kFalse;
      item.erase(pk::kScannedUnitArray);
    }
  }
  isCheckedAll_ = !isCheckedAll_;
  updateCheckAllBtn();
  pickTableView_->reloadData();
  updatePickQty();
  updateSaveBtn();
}

void PickUpViewController::updateCheckAllBtn() {
  checkAllItem_->setTitle(ui::localizedString(isCheckedAll_ ? "Uncheck All" : "Check All"));
  checkAllItem_->setTintColor(isCheckedAll_ ? ui::Color::red() : ui::Color::green());
}

void PickUpViewController::resetCheckAllBtn() {
  isCheckedAll_ = false;
  updateCheckAllBtn();
}

long long PickUpViewController::getCheckedQty() const {
  long long n = 0;
  for (const auto& item : *listContent_) n += pk::checkedState(item) == pk::kTrue ? 1 : 0;
  return n;
}

long long PickUpViewController::getTotalUnitQty() const {
  long long n = 0;
  for (const auto& item : *listContent_) n += foundation::longLongValue(pk::member(item, pk::kTotalUnit));
  return n;
}

long long PickUpViewController::getCheckedTotalUnit() const {
  long long n = 0;
  for (const auto& item : *listContent_) n += pk::sumOfUnits(pk::member(item, pk::kScannedUnitArray));
  return n;
}

void PickUpViewController::updatePickQty() {
  const long long items = (long long)listContent_->size(), checked = getCheckedQty();
  const long long units = getTotalUnitQty();
  if (checked == 0) {
    lbl_styleQty_->setText(std::to_string(items));
    lbl_pickQty_->setText(std::to_string(units));
  } else {
    lbl_styleQty_->setText(std::to_string(items) + " - " + std::to_string(checked) + " checked");
    lbl_pickQty_->setText(std::to_string(units) + " - " + std::to_string(getCheckedTotalUnit()) + " checked");
  }
}

void PickUpViewController::updateSaveBtn() {
  const bool any = getCheckedQty() != 0;
  btn_save_->setEnabled(any);
  btn_save_->setBackgroundColor(any ? kSaveEnabled : kSaveDisabled);
  btn_save_->setTintColor(any ? ui::Color::whiteColor() : ui::Color::gray());
}

void PickUpViewController::btn_scanClose() {
  const json& item = *selectedItemDic_;
  const std::string state = pk::checkedState(item);
  switch (pk::stateOnClose(item)) {
    case pk::CloseState::Complete:
      if (state != pk::kTrue) setCheck(item);
      break;
    case pk::CloseState::Started:
      if (state != pk::kPartial) setPartial(item);
      break;
    case pk::CloseState::None:
      if (state == pk::kTrue || state == pk::kPartial) setUnCheck(item, false);
      break;
  }
  hideScanView();
}

// ----- Typed quantities

void PickUpViewController::initTextQtyDoneBtn() {
  if (!accessoryToolbar_) {
    accessoryToolbar_ = std::make_shared<ui::Toolbar>();
    accessoryToolbar_->setFrame({10.0, 0.0, 320.0, 26.0});
    auto done = ui::BarButtonItem::withTitle(ui::localizedString("Done"), ui::BarButtonItemStyle::Done,
                                             [this](ui::BarButtonItem&) { btn_qtyDone(); });
    accessoryToolbar_->setItems({ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::FlexibleSpace), done});
  }
  if (!view_scanSizeQty_) return;
  for (auto& field : view_scanSizeQty_->grid().scanned) {
    field->setDelegate(self<ui::TextFieldDelegate>());
    field->setInputAccessoryView(accessoryToolbar_);
  }
}

bool PickUpViewController::shouldChangeCharactersInRange(ui::TextField& field, ui::Range range,
                                                         const std::string& replacement) {
  const std::string proposed = ui::replacingUtf16Range(field.text(), range, replacement);
  return isRightQty(foundation::longLongValue(std::string_view(proposed)), field.tag() - 100);
}

bool PickUpViewController::isRightQty(long long qty, long long sizeIndex) {
  const long long maximum =
      sizeIndex < 0 ? 0 : pk::unitAt(pk::member(*selectedItemDic_, pk::kUnitArray), size_t(sizeIndex));
  if (qty >= 0 && qty <= maximum) return true;
  scanAlert("You can enter the maxium Qty of " + std::to_string(maximum));
  return false;
}

void PickUpViewController::btn_qtyDone() {
  if (auto* responder = ui::Responder::firstResponder()) responder->resignFirstResponder();
  if (!view_scanSizeQty_ || !selectedItemIndex_ || *selectedItemIndex_ >= listContent_->size()) return;
  json scanned = json::array();
  for (const auto& field : view_scanSizeQty_->grid().scanned) scanned.push_back(foundation::longLongValue(std::string_view(field->text())));
  json item = *selectedItemDic_;
  item[pk::kScannedUnitArray] = std::move(scanned);
  (*listContent_)[*selectedItemIndex_] = item;
  *selectedItemDic_ = std::move(item);
  showScanView();
}

// ----- Bin index

void PickUpViewController::setSwipeGesture() {
  auto left = std::make_shared<ui::SwipeGestureRecognizer>([this](ui::GestureRecognizer&) { swipeleft(); });
  left->setDirection(ui::SwipeLeft);
  view().addGestureRecognizer(left);
  auto right = std::make_shared<ui::SwipeGestureRecognizer>([this](ui::GestureRecognizer&) { swiperight(); });
  right->setDirection(ui::SwipeRight);
  view().addGestureRecognizer(right);
}

void PickUpViewController::swipeleft() {
  isShowIdx_ = true;
  pickTableView_->reloadSectionIndexTitles();
}

void PickUpViewController::swiperight() {
  isShowIdx_ = false;
  pickTableView_->reloadSectionIndexTitles();
}

}  // namespace orvo
