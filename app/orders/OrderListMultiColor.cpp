// The order item list: the multi-colour grid of the item on display, the colour picker that
// a size item ("upc") passes first, and the merge of the grid's rows into the cart.
#include <nlohmann/json.hpp>

#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenNavigation.h"
#include "app/orders/OrderCart.h"
#include "app/orders/OrderListViewController.h"
#include "app/orders/OrderScreens.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Toolbar.h"

namespace orvo {

using nlohmann::json;
using cart::field;

void OrderListViewController::ShowMultiColorBtn() {
  const Settings& settings = orvoDelegate_->settings();
  if (!settings.multiColorSoFlag) return;
  const bool hasColours = !itemText(scannedItem_.MultiColor).empty();
  btn_multiColor_->setHidden(!(hasColours || (settings.isUpcSizeMode && itemText(scannedItem_.Kind) == "upc")));
}

void OrderListViewController::setPickerView() {
  pickerViewTextField_ = ui::makeView<ui::TextField>({0, 0, 0, 0});
  colorPickerView_ = std::make_shared<ui::PickerView>();
  colorPickerView_->setShowsSelectionIndicator(true);
  colorPickerView_->setDataSource(self<ui::PickerViewDataSource>());
  colorPickerView_->setDelegate(self<ui::PickerViewDelegate>());
  pickerViewTextField_->setInputView(colorPickerView_);
  auto bar = std::make_shared<ui::Toolbar>();
  bar->setFrame({0, 0, 320, 44});
  bar->setItems({ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Cancel,
                                                   [this](ui::BarButtonItem&) { cancelTouched(); }),
                 ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::FlexibleSpace),
                 ui::BarButtonItem::withSystemItem(ui::BarButtonSystemItem::Done,
                                                   [this](ui::BarButtonItem&) { doneTouched(); })});
  pickerViewTextField_->setInputAccessoryView(bar);
  view().addSubview(pickerViewTextField_);
}

std::string OrderListViewController::titleForRow(ui::PickerView&, int row, int) {
  return row >= 0 && row < int(multiColorUpcArray_.size()) ? multiColorUpcArray_[size_t(row)] : std::string();
}

void OrderListViewController::btn_multiColorFunc() {
  txt_Qty_->resignFirstResponder();
  std::weak_ptr<OrderListViewController> weak = self<OrderListViewController>();
  foundation::NotificationCenter::defaultCenter().addUniqueObserver(
      &multiColorToken_, kMultiColorNextBtn, nullptr, [weak](const foundation::Notification& n) {
        if (auto s = weak.lock()) s->updateMultiColorItems(n);
      });
  beforeBarcode_ = itemText(scannedItem_.Code);
  SaveTempItem();
  const std::string style = itemText(scannedItem_.Style);
  if (itemText(scannedItem_.Kind) == "bundle") {
    json rows = json::array();
    for (const auto& line : orderListArray_)
      if (field(line, "Style") == style)
        rows.push_back({{"Barcode", field(line, "Barcode")},
                        {"Color", field(line, "Color")},
                        {"Bundle", field(line, "Bundle")},
                        {"Price", field(line, "Price")},
                        {"Qty", field(line, "Qty")}});
    showMultiColor(itemText(scannedItem_.Color), rows);
    return;
  }
  stopBarcode();
  multiColorUpcArray_.clear();
  const std::string colours = itemText(scannedItem_.MultiColor);
  if (orvoDelegate_->settings().isUpcSizeMode && colours.empty()) {
    multiColorUpcArray_.push_back(itemText(scannedItem_.Color));
  } else if (auto list = JsonClass::getJSONobj(colours); list && list->is_array()) {
    for (const auto& c : *list) multiColorUpcArray_.push_back(cart::lineText(c));
  }
  colorPickerView_->reloadAllComponents();
  for (size_t i = 0; i < multiColorUpcArray_.size(); ++i)
    if (multiColorUpcArray_[i] == itemText(scannedItem_.Color)) colorPickerView_->selectRow(int(i), 0, true);
  showUpcColorPicker();
}

void OrderListViewController::showUpcColorPicker() {
  orvoDelegate_->showOV();
  pickerViewTextField_->becomeFirstResponder();
}

void OrderListViewController::hideUpcColorPicker() {
  pickerViewTextField_->resignFirstResponder();
  orvoDelegate_->hideOV();
}

std::string OrderListViewController::getSelectedUpcColor() const {
  if (multiColorUpcArray_.empty()) return {};
  const int row = colorPickerView_->selectedRowInComponent(0);
  return row >= 0 && row < int(multiColorUpcArray_.size()) ? multiColorUpcArray_[size_t(row)] : std::string();
}

void OrderListViewController::doneTouched() {
  hideUpcColorPicker();
  const std::string color = getSelectedUpcColor();
  const std::string style = itemText(scannedItem_.Style);
  json rows = json::array();
  for (const auto& line : orderListArray_)
    if (field(line, "Style") == style && field(line, "Color") == color)
      rows.push_back({{"Barcode", field(line, "Barcode")},
                      {"Color", field(line, "Color")},
                      {"SizeCode", field(line, "SizeCode")},
                      {"Price", field(line, "Price")},
                      {"Qty", field(line, "Qty")}});
  showMultiColor(color, rows);
}

void OrderListViewController::cancelTouched() {
  hideUpcColorPicker();
  if (!IsRowEditMode_) startBarcode();
  txt_Qty_->becomeFirstResponder();
  if (orvoDelegate_->settings().isUpcSizeMode && itemText(scannedItem_.Kind) == "upc" && !IsRowEditMode_) {
    // A freshly scanned size item whose colour choice was refused: kept by its quantity.
    if (cart::intOf(txt_Qty_->text()) < 1)
      btn_BackOrDeleteFunc();
    else
      btn_NextForSaveItem();
  }
}

void OrderListViewController::showMultiColor(const std::string& color, const json& rows) {
  auto grid = makeScreen("MultiColorTableView");
  if (auto* receiver = dynamic_cast<MultiColorReceiver*>(grid.get())) {
    receiver->setKind(itemText(scannedItem_.Kind));
    receiver->setColor(color);
    receiver->setStyle(itemText(scannedItem_.Style));
    receiver->setOrderListArray(rows);
  }
  presentInNewNavigation(*this, grid);
}

void OrderListViewController::updateMultiColorItems(const foundation::Notification& note) {
  foundation::NotificationCenter::defaultCenter().removeObserver(&multiColorToken_);
  json rows = json::array();
  if (note.object)
    rows = *static_cast<const json*>(note.object);
  else if (note.userInfo.is_array())
    rows = note.userInfo;
  if (!rows.is_array()) rows = json::array();
  mergeMultiColorRows(rows);
}

void OrderListViewController::mergeMultiColorRows(const json& rows) {
  const json snapshot = orderListArray_;
  const bool bundle = itemText(scannedItem_.Kind) == "bundle";
  const char* codeKey = bundle ? "Bundle" : "SizeCode";
  const std::string style = itemText(scannedItem_.Style), color = itemText(scannedItem_.Color);
  const std::string code = itemText(bundle ? scannedItem_.Bundle : scannedItem_.SizeCode);
  // A size item of another colour than the one just edited keeps its quantity.
  const bool otherColour = !bundle && color != getSelectedUpcColor();
  bool currentKept = otherColour;
  std::vector<bool> remove(snapshot.size(), false);
  json newRows = json::array();
  for (const auto& row : rows) {
    const bool current = field(row, "Style") == style && field(row, "Color") == color && field(row, codeKey) == code;
    if (current) {
      showQty(field(row, "Qty"));
      scannedItem_.Qty = field(row, "Qty");
      currentKept = true;
    }
    bool found = false;
    for (size_t i = 0; i < snapshot.size(); ++i) {
      const json& line = snapshot[i];
      if (field(line, "Style") != field(row, "Style") || field(line, "Color") != field(row, "Color") ||
          field(line, codeKey) != field(row, codeKey))
        continue;
      if (cart::intOf(field(row, "Qty")) == 0 && !current) remove[i] = true;
      if (orderListArray_[i] != row) {
        cartChanged();
        cartReplace(i, row);
      }
      found = true;
    }
    if (!found && cart::intOf(field(row, "Qty")) > 0) newRows.push_back(row);
  }
  if (!currentKept) {
    showQty("0");
    scannedItem_.Qty = "0";
  }
  for (size_t i = remove.size(); i-- > 0;)
    if (remove[i]) {
      cartChanged();
      cartErase(i);
    }
  for (const auto& row : newRows) InsertNewItemDicIntoOrderListArray(row);
  btn_NextForSaveItem();
}

}  // namespace orvo
