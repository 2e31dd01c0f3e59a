#include "app/picking/PickUpViewController.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "app/core/AlertClass.h"
#include "app/core/AppException.h"
#include "app/core/AppNames.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenRequest.h"
#include "app/core/Settings.h"
#include "app/core/Util.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Values.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace orvo {

using nlohmann::json;
namespace pk = pick;

namespace {

const ui::Color kCheckedStyle = ui::Color::rgb(0.15, 0.31, 0.07, 1.0);
const ui::Color kBrown = ui::Color::rgb(0.6, 0.4, 0.2, 1.0);
constexpr double kFooterHeight = 44;
constexpr double kScanPanelHeight = 230;

// The height a screen's view has inside a navigation controller.
double contentHeight() { return ui::Window::kScreenHeight - 64; }

std::string text(const json& item, const char* key) {
  const json& v = pk::member(item, key);
  return v.is_null() ? std::string() : foundation::textValue(v);
}

// Loads the first of `urls` (from `i` on) that the image loader finds into `view`. A view
// given another address meanwhile (a reused cell) is left alone.
void loadFirstFound(std::weak_ptr<ui::ImageView> view, std::vector<std::string> urls, size_t i) {
  auto v = view.lock();
  if (!v || i >= urls.size()) return;
  const std::string url = Util::percentEscaped(urls[i]);
  v->setImageWithURL(url, nullptr, [view, urls = std::move(urls), i](std::shared_ptr<ui::Image> image) {
    if (!image) loadFirstFound(view, urls, i + 1);
  });
}

// The front picture of the style and colour from the server's resized style images: the
// first of "<style>_<colour>_front.jpg", "<style>_<colour>.jpg", "<style>_front.jpg" and
// "<style>.jpg" that exists, loaded asynchronously; none leaves the view empty. Characters
// that cannot stand in a file name become "-".
void loadStylePicture(const std::shared_ptr<ui::ImageView>& view, const std::string& style, const std::string& color) {
  auto safe = [](std::string s) {
    for (char& c : s)
      if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) c = '-';
    return s;
  };
  const std::string base = Util::getImgUrl() + "/resizeImages/", st = safe(style), co = safe(color);
  view->setImage(nullptr);
  loadFirstFound(view, {base + st + "_" + co + "_front.jpg", base + st + "_" + co + ".jpg", base + st + "_front.jpg",
                        base + st + ".jpg"}, 0);
}

}  // namespace

// ----- Cells and the overlay's grid

PickUpTableViewCell::PickUpTableViewCell() : ui::TableViewCell(ui::CellStyle::Default, kReuseIdentifier) {
  setSelectionStyle(ui::SelectionStyle::None);
  auto label = [this](ui::Rect frame, ui::Font font) {
    auto l = ui::makeView<ui::Label>(frame);
    l->setFont(font);
    l->setAdjustsFontSizeToFitWidth(true);
    contentView().addSubview(l);
    return l;
  };
  iv_image = ui::makeView<ui::ImageView>(ui::Rect(0, 0, 75, kHeight));
  iv_image->setContentMode(ui::ContentMode::ScaleAspectFit);
  iv_image->setBackgroundColor(ui::Color::white(0.95));
  contentView().addSubview(iv_image);
  lbl_bg = label({75, 0, 245, 60}, ui::Font::systemFont(12));
  lbl_bin = label({80, 4, 60, 20}, ui::Font::boldSystemFont(15));
  lbl_styleColor = label({142, 4, 140, 22}, ui::Font::boldSystemFont(14));
  lbl_styleColor->setTextAlignment(ui::TextAlignment::Center);
  lbl_pickNOs = label({80, 28, 200, 18}, ui::Font::systemFont(12));
  lbl_pickNOs->setTextColor(ui::Color::darkGray());
  iv_picked = ui::makeView<ui::ImageView>(ui::Rect(288, 4, 26, 26));
  iv_picked->setContentMode(ui::ContentMode::ScaleAspectFit);
  iv_picked->setAccessibilityLabel("Pick state");
  contentView().addSubview(iv_picked);
  grid = SizeQtyColumns::make({0, 0, kStripWidth, 38}, kColumnWidth, false);
  contentView().addSubview(grid.strip);
}

void SizeQtyViewController::loadView() {
  auto v = ui::makeView<ui::View>(ui::Rect(0, 0, kStripWidth, kHeight));
  v->setBackgroundColor(ui::Color::whiteColor());
  grid_ = SizeQtyColumns::make({0, 0, kStripWidth, kHeight}, kColumnWidth, true);
  v->addSubview(grid_.strip);
  setView(v);
}

void SizeQtyViewController::viewDidLoad() {
  for (size_t i = 0; i < pk::kSizeColumns; ++i) grid_.scanned[i]->setTag(100 + int(i));
}

// ----- Screen set-up

PickUpViewController::PickUpViewController(std::string nibName)
    : ui::ViewController(std::move(nibName)),
      listContent_(std::make_unique<json>(json::array())),
      selectedItemDic_(std::make_unique<json>(json::object())) {}

PickUpViewController::~PickUpViewController() {
  foundation::NotificationCenter::defaultCenter().removeObserver(this);
}

void PickUpViewController::loadView() {
  const double height = contentHeight();
  auto root = ui::makeView<ui::View>(ui::Rect(0, 0, ui::Window::kScreenWidth, height));
  root->setBackgroundColor(ui::Color::whiteColor());
  pickTableView_ = std::make_shared<ui::TableView>(ui::TableViewStyle::Plain);
  pickTableView_->setFrame({0, 0, ui::Window::kScreenWidth, height - kFooterHeight});
  pickTableView_->setRowHeight(PickUpTableViewCell::kHeight);
  root->addSubview(pickTableView_);

  auto footer = ui::makeView<ui::View>(ui::Rect(0, height - kFooterHeight, ui::Window::kScreenWidth, kFooterHeight));
  footer->setBackgroundColor(ui::Color::white(0.85));
  lbl_styleQty_ = ui::makeView<ui::Label>(ui::Rect(10, 2, 200, 20));
  lbl_styleQty_->setAccessibilityLabel("Item count");
  lbl_pickQty_ = ui::makeView<ui::Label>(ui::Rect(10, 22, 200, 20));
  lbl_pickQty_->setAccessibilityLabel("Unit count");
  for (auto* l : {lbl_styleQty_.get(), lbl_pickQty_.get()}) l->setFont(ui::Font::boldSystemFont(14));
  btn_save_ = ui::Button::make("Save", ui::Rect(230, 5, 80, 34), ui::ButtonType::System);
  btn_save_->setCornerRadius(5);
  btn_save_->addTarget(this, [this](ui::Control&) { btn_save(); }, ui::TouchUpInside);
  footer->addSubview(lbl_styleQty_);
  footer->addSubview(lbl_pickQty_);
  footer->addSubview(btn_save_);
  root->addSubview(footer);

  // The scan overlay: a dark layer over the whole navigation controller and the panel.
  view_bg_ = ui::makeView<ui::View>(ui::Rect(0, 0, ui::Window::kScreenWidth, ui::Window::kScreenHeight));
  view_bg_->setBackgroundColor(ui::Color::black().withAlpha(0.5));
  view_scan_ = ui::makeView<ui::View>(ui::Rect(0, 0, ui::Window::kScreenWidth, kScanPanelHeight));
  view_scan_->setBackgroundColor(ui::Color::whiteColor());
  lbl_scanStyle_ = ui::makeView<ui::Label>(ui::Rect(10, 10, 150, 26));
  lbl_scanColor_ = ui::makeView<ui::Label>(ui::Rect(170, 10, 140, 26));
  for (auto* l : {lbl_scanStyle_.get(), lbl_scanColor_.get()}) l->setFont(ui::Font::boldSystemFont(18));
  lbl_scannedData_ = ui::makeView<ui::Label>(ui::Rect(10, 40, 300, 20));
  btn_testScan_ = ui::Button::make("Test Scan", ui::Rect(10, 178, 140, 40), ui::ButtonType::System);
  btn_testScan_->addTarget(this, [this](ui::Control&) { btn_testScan(); }, ui::TouchUpInside);
  btn_scanClose_ = ui::Button::make("Close", ui::Rect(170, 178, 140, 40), ui::ButtonType::System);
  btn_scanClose_->addTarget(this, [this](ui::Control&) { btn_scanClose(); }, ui::TouchUpInside);
  for (auto& v : std::initializer_list<std::shared_ptr<ui::View>>{lbl_scanStyle_, lbl_scanColor_, lbl_scannedData_,
                                                                  btn_testScan_, btn_scanClose_})
    view_scan_->addSubview(v);
  setView(root);
}

void PickUpViewController::viewDidLoad() {
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  setTitle(ui::localizedString("Pickup"));
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Back"), ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { backFunc(); }));
  checkAllItem_ = ui::BarButtonItem::withTitle(ui::localizedString("Check All"), ui::BarButtonItemStyle::Plain,
                                               [this](ui::BarButtonItem&) { checkAllFunc(); });
  checkAllItem_->setTintColor(ui::Color::green());
  navigationItem().setRightBarButtonItem(checkAllItem_);
  isShowIdx_ = false;
  isCheckedAll_ = false;
  *listContent_ = json::array();
  indexTitle_.clear();
  *selectedItemDic_ = json::object();
  pickTableView_->setDataSource(self<ui::TableViewDataSource>());
  pickTableView_->setDelegate(self<ui::TableViewDelegate>());
  setSwipeGesture();
  pickTableView_->reloadData();
  updateSaveBtn();
  callGetPickupItems();
}

void PickUpViewController::viewWillAppear(bool animated) {
  ui::ViewController::viewWillAppear(animated);
  foundation::NotificationCenter::defaultCenter().addUniqueObserver(
      this, kChangeBarcode, nullptr, [this](const foundation::Notification& n) { scanedBarcode(n); });
  if (orvoDelegate_) orvoDelegate_->startBarcode();
  if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::blue());
}

void PickUpViewController::viewWillDisappear(bool animated) {
  ui::ViewController::viewWillDisappear(animated);
  if (orvoDelegate_) orvoDelegate_->stopBarcode();
  if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::black());
  foundation::NotificationCenter::defaultCenter().removeObserver(this, kChangeBarcode);
}

void PickUpViewController::scanedBarcode(const foundation::Notification& n) {
  callGetQtyByBarcode(foundation::textForKey(n.userInfo, kLastBarcode));
}

void PickUpViewController::backFunc() {
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

void PickUpViewController::errorResponseData(const ServiceFailure& failure) {
  if (orvoDelegate_) orvoDelegate_->errorResponseData(failure);
}

// ----- Items

void PickUpViewController::callGetPickupItems() {
  ScreenRequest r;
  r.operation = "GetPickupItems";
  r.url = Util::getServerInfo(true);
  r.params = {{"jsonPickNo", jsonPickNOs_}};
  r.reading = AnswerReading::ResultText;
  r.requestMethod = "-[PickUpViewController callGetPickupItems]";
  r.answerMethod = "-[PickUpViewController getPickupItemsResponseData:]";
  sendScreenRequest(
      *this, std::move(r), [this](const RequestAnswer& a) { getPickupItemsResponseData(a); },
      [this](const ServiceFailure& f) { errorResponseData(f); });
}

void PickUpViewController::getPickupItemsResponseData(const RequestAnswer& answer) {
  // Whatever the answer holds, the table never shows items of an earlier list.
  *listContent_ = json::array();
  indexTitle_.clear();
  struct Reload {
    PickUpViewController* self;
    ~Reload() {
      self->pickTableView_->reloadData();
      self->updateSaveBtn();
    }
  } reload{this};

  if (answer.text && *answer.text == "False") {
    std::weak_ptr<PickUpViewController> w = self<PickUpViewController>();
    AlertClass::AlertView(*this, 0, 1, "There are some problems. please check it on Orvo.", "", [w] {
      if (auto s = w.lock()) s->backFunc();
    }, nullptr);
    return;
  }
  auto items = JsonClass::getJSONobj(answer.text);  // throws without a result text
  if (!items) return;                                // not JSON: "JSON Error" has been shown
  if (!items->is_array()) throw AppException("NSInvalidArgumentException", "the pick-up items are not an array");
  for (const auto& item : *items) {
    if (!item.is_object()) continue;
    listContent_->push_back(item);
    const std::string bin = text(item, pk::kBin);
    if (std::find(indexTitle_.begin(), indexTitle_.end(), bin) == indexTitle_.end()) indexTitle_.push_back(bin);
  }
}

// ----- Table

std::vector<size_t> PickUpViewController::itemsInSection(int section) const {
  std::vector<size_t> out;
  if (section < 0 || section >= int(indexTitle_.size())) return out;
  for (size_t i = 0; i < listContent_->size(); ++i)
    if (pk::sameBin(text((*listContent_)[i], pk::kBin), indexTitle_[size_t(section)])) out.push_back(i);
  return out;
}

std::optional<size_t> PickUpViewController::itemAt(ui::IndexPath ip) const {
  auto items = itemsInSection(ip.section);
  if (ip.row < 0 || ip.row >= int(items.size())) return std::nullopt;
  return items[size_t(ip.row)];
}

std::optional<ui::IndexPath> PickUpViewController::indexPathOfItem(size_t index) const {
  if (index >= listContent_->size()) return std::nullopt;
  auto own = std::find(indexTitle_.begin(), indexTitle_.end(), text((*listContent_)[index], pk::kBin));
  if (own == indexTitle_.end()) return std::nullopt;
  const int section = int(own - indexTitle_.begin());
  auto items = itemsInSection(section);
  auto at = std::find(items.begin(), items.end(), index);
  if (at == items.end()) return std::nullopt;
  return ui::IndexPath{section, int(at - items.begin())};
}

int PickUpViewController::numberOfSectionsInTableView(ui::TableView&) {
  updatePickQty();
  return int(indexTitle_.size());
}

int PickUpViewController::numberOfRowsInSection(ui::TableView&, int section) {
  return int(itemsInSection(section).size());
}

std::optional<std::string> PickUpViewController::titleForHeaderInSection(ui::TableView&, int section) {
  if (section < 0 || section >= int(indexTitle_.size())) return std::nullopt;
  return indexTitle_[size_t(section)];
}

std::vector<std::string> PickUpViewController::sectionIndexTitlesForTableView(ui::TableView&) {
  return isShowIdx_ ? indexTitle_ : std::vector<std::string>{};
}

void PickUpViewController::layoutCellStrip(PickUpTableViewCell& cell) {
  ui::ScrollView& strip = cell.scview_qtyRow1();
  const double designedWidth = strip.frame().size.width;
  const double height = strip.frame().size.height;
  const double imageWidth = cell.iv_image->frame().size.width;
  const double cellWidth = pickTableView_->frame().size.width;
  strip.setFrame({imageWidth, PickUpTableViewCell::kHeight - height, cellWidth - imageWidth, height});
  strip.setContentSize({designedWidth, height});
  // Again as a direct subview of the cell, above its content.
  strip.removeFromSuperview();
  cell.addSubview(cell.grid.strip);
}

std::shared_ptr<ui::TableViewCell> PickUpViewController::cellForRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) {
  auto cell = std::dynamic_pointer_cast<PickUpTableViewCell>(
      table.dequeueReusableCellWithIdentifier(PickUpTableViewCell::kReuseIdentifier));
  if (!cell) {
    cell = std::make_shared<PickUpTableViewCell>();
    layoutCellStrip(*cell);
  }
  auto index = itemAt(ip);
  if (!index) return cell;
  const json& item = (*listContent_)[*index];
  cell->lbl_bin->setText(text(item, pk::kBin));
  cell->lbl_styleColor->setText(text(item, pk::kStyle) + " / " + text(item, pk::kColor));
  cell->lbl_pickNOs->setText(text(item, pk::kPickNOs));
  loadStylePicture(cell->iv_image, text(item, pk::kStyle), text(item, pk::kColor));
  updateQtyView(*cell, pk::member(item, pk::kSizeArray), pk::member(item, pk::kUnitArray),
                foundation::longLongValue(pk::member(item, pk::kSizeCount)));
  const std::string state = pk::checkedState(item);
  if (state == pk::kTrue) {
    cell->iv_picked->setHidden(false);
    cell->iv_picked->setImage(ui::Image::named("Checkmark-96.png"));
    cell->lbl_styleColor->setBackgroundColor(kCheckedStyle);
    cell->lbl_styleColor->setTextColor(ui::Color::whiteColor());
  } else if (state == pk::kPartial) {
    cell->iv_picked->setHidden(false);
    cell->iv_picked->setImage(ui::Image::named("Error-96.png"));
    cell->lbl_styleColor->setBackgroundColor(kBrown);
    cell->lbl_styleColor->setTextColor(ui::Color::whiteColor());
  } else {
    cell->iv_picked->setHidden(true);
    cell->lbl_styleColor->setBackgroundColor(ui::Color::clear());
    cell->lbl_styleColor->setTextColor(ui::Color::gray());
  }
  updateSaveBtn();
  return cell;
}

void PickUpViewController::selectItem(size_t index) {
  *selectedItemDic_ = (*listContent_)[index];
  selectedItemIndex_ = index;
  selectedIndexPath_ = indexPathOfItem(index);
}

void PickUpViewController::didSelectRowAtIndexPath(ui::TableView& table, ui::IndexPath ip) {
  isShowIdx_ = false;
  table.reloadSectionIndexTitles();
  auto index = itemAt(ip);
  if (!index) return;
  selectItem(*index);
  selectedIndexPath_ = ip;
  if (pk::checkedState(*selectedItemDic_) == pk::kTrue) {
    std::weak_ptr<PickUpViewController> w = self<PickUpViewController>();
    AlertClass::AlertView(*this, 0, 2, "Are you sure want to uncheck this item?", "", [w] {
      if (auto s = w.lock()) s->uncheckAndClearScannedQty();
    }, nullptr);
  } else if (orvoDelegate_ && orvoDelegate_->settings().isPickScanVerification) {
    showScanView();
  } else {
    setCheck(*selectedItemDic_);
  }
}

void PickUpViewController::uncheckAndClearScannedQty() { setUnCheck(*selectedItemDic_, true); }

// ----- Scan overlay

bool PickUpViewController::isScanViewOpen() const {
  auto* nav = navigationController();
  return nav && view_bg_->superview() == &nav->view();
}

void PickUpViewController::showScanView() {
  const json& item = *selectedItemDic_;
  lbl_scanStyle_->setText(text(item, pk::kStyle));
  lbl_scanColor_->setText(text(item, pk::kColor));
  lbl_scannedData_->setText("");
  const long long n = foundation::longLongValue(pk::member(item, pk::kSizeCount));

  if (!view_scanSizeQty_) {
    view_scanSizeQty_ = ui::viewControllerFromInterface<SizeQtyViewController>("SizeQtyViewController");
    if (!view_scanSizeQty_) view_scanSizeQty_ = std::make_shared<SizeQtyViewController>();
    ui::View& gridView = view_scanSizeQty_->view();
    const double h = gridView.frame().size.height;
    gridView.setFrame({0, h + 17, view_scan_->frame().size.width, h});
    ui::ScrollView& strip = view_scanSizeQty_->scview_qtyRow();
    strip.setContentSize({strip.frame().size.width, h});
    strip.setFrame({0, 0, gridView.frame().size.width, h});
    initTextQtyDoneBtn();
  }
  SizeQtyColumns& grid = view_scanSizeQty_->grid();
  grid.strip->setContentOffset({0, 0});
  grid.strip->setContentSize({contentWidth(grid, n), grid.sizes[0]->frame().size.height});

  setQtyViewHide(n, nullptr);
  setQtyViewSize(pk::member(item, pk::kSizeArray), nullptr);
  setQtyViewUnit(pk::member(item, pk::kUnitArray), nullptr);
  setQtyViewScannedUnitTxt(pk::member(item, pk::kScannedUnitArray));
  setQtyViewScannedQtyColor(pk::member(item, pk::kUnitArray), pk::member(item, pk::kScannedUnitArray));

  auto* nav = navigationController();
  if (!nav || isScanViewOpen()) return;
  ui::View& host = nav->view();
  const ui::Size panel = view_scan_->frame().size;
  view_scan_->setFrame({0, host.frame().size.height / 2 - panel.height / 2, panel.width, panel.height});
  host.addSubview(view_bg_);
  host.addSubview(view_scan_);
  view_scan_->addSubview(view_scanSizeQty_->viewPtr());
}

void PickUpViewController::hideScanView() {
  updatePickQty();
  view_bg_->removeFromSuperview();
  view_scan_->removeFromSuperview();
  if (view_scanSizeQty_) view_scanSizeQty_->view().removeFromSuperview();
}

}  // namespace orvo
