#pragma once
// The pick-up screen: the items of the chosen pick tickets ("GetPickupItems" of the
// scan-pack service), grouped in sections by bin in the order the bins first appear, each
// row with the item's picture, its sizes and quantities to pick, and its picking state.
// The picker marks items picked by tapping them, or, with the server's option
// "PickScanVerification", by scanning their barcodes (the sleeve through the application's
// "changeBarcode", or the overlay's test scan) into the scan overlay, which counts the
// scanned units per size and takes typed quantities. The picking state lives only in this
// screen; nothing is sent back to the server.
//
// The class is one screen in three files: this header and PickUpViewController.cpp (items,
// table, overlay), PickUpGrid.cpp (filling the size/quantity grids) and PickUpScan.cpp
// (scans, state changes, counters, typed quantities).
//
// Items are identified by their place in the list, so two items of one style and colour
// (in two bins) keep their own state. Bins are compared as plain text without regard to
// case. Scans arrive only while the screen is visible; each alert turns the sleeve's scan
// button off until it is confirmed. Pushed by the pick-ticket screen; main thread.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/picking/SizeQtyGrid.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"

namespace foundation { struct Notification; }

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;
struct ServiceFailure;

// One item row: bin, style and colour, ticket numbers, picture, state mark and the size
// grid strip (`scview_qtyRow1`) beside the picture.
class PickUpTableViewCell : public ui::TableViewCell {
 public:
  static constexpr const char* kReuseIdentifier = "PickUpCell";
  static constexpr double kHeight = 100;
  // The strip's width as the cell is designed; the screen places it beside the picture.
  static constexpr double kStripWidth = 245;
  static constexpr double kColumnWidth = 32;
  PickUpTableViewCell();

  std::shared_ptr<ui::Label> lbl_bin, lbl_bg, lbl_styleColor, lbl_pickNOs;
  std::shared_ptr<ui::ImageView> iv_picked, iv_image;
  SizeQtyColumns grid;  // scview_qtyRow1 with lbl_s01..15 and lbl_q01..15
  ui::ScrollView& scview_qtyRow1() { return *grid.strip; }
};

// The scan overlay's size/quantity grid: a strip of 15 columns with size, pick quantity and
// a field for the scanned quantity (tags 100 to 114).
class SizeQtyViewController : public ui::ViewController {
 public:
  static constexpr double kHeight = 72;
  static constexpr double kStripWidth = 320;
  static constexpr double kColumnWidth = 40;
  SizeQtyViewController() : ui::ViewController("SizeQtyViewController") {}
  explicit SizeQtyViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}
  void loadView() override;
  void viewDidLoad() override;

  SizeQtyColumns& grid() { return grid_; }
  ui::ScrollView& scview_qtyRow() { return *grid_.strip; }

 private:
  SizeQtyColumns grid_;
};

class PickUpViewController : public ui::ViewController,
                             public ui::TableViewDataSource,
                             public ui::TableViewDelegate,
                             public ui::TextFieldDelegate {
 public:
  PickUpViewController() : PickUpViewController("PickUpViewController") {}
  explicit PickUpViewController(std::string nibName);
  ~PickUpViewController() override;

  // The chosen pick-ticket numbers as JSON array text, set before the push.
  const std::string& jsonPickNOs() const { return jsonPickNOs_; }
  void setJsonPickNOs(std::string text) { jsonPickNOs_ = std::move(text); }

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;

  // ----- Items, table and overlay
  void callGetPickupItems();
  void getPickupItemsResponseData(const RequestAnswer& answer);
  void errorResponseData(const ServiceFailure& failure);

  int numberOfSectionsInTableView(ui::TableView&) override;
  int numberOfRowsInSection(ui::TableView&, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int section) override;
  std::vector<std::string> sectionIndexTitlesForTableView(ui::TableView&) override;
  std::optional<double> heightForRowAtIndexPath(ui::TableView&, ui::IndexPath) override {
    return PickUpTableViewCell::kHeight;
  }
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;

  void scanedBarcode(const foundation::Notification& n);
  void uncheckAndClearScannedQty();
  // Opens the scan overlay on the selected item, or refreshes it when open.
  void showScanView();
  void hideScanView();
  void backFunc();

  // ----- Grids (a null cell means the overlay's grid)
  void updateQtyView(PickUpTableViewCell& cell, const nlohmann::json& sizes, const nlohmann::json& units,
                     long long count);
  void setQtyViewHide(long long count, PickUpTableViewCell* cell);
  void setQtyViewSize(const nlohmann::json& sizes, PickUpTableViewCell* cell);
  void setQtyViewUnit(const nlohmann::json& units, PickUpTableViewCell* cell);
  // A null `scanned` means the item has no scanned units yet.
  void setQtyViewScannedUnitTxt(const nlohmann::json& scanned);
  void setQtyViewScannedQtyColor(const nlohmann::json& units, const nlohmann::json& scanned);

  // ----- Scans and picking state
  void callGetQtyByBarcode(const std::string& barcode);
  void getGetQtyByBarcodeResponseData(const RequestAnswer& answer);
  void updateScannedUnit(const nlohmann::json& record);
  void startBarcode();

  void checkAllFunc();
  void updateCheckAllBtn();
  void resetCheckAllBtn();
  void updatePickQty();
  long long getCheckedQty() const;
  long long getTotalUnitQty() const;
  long long getCheckedTotalUnit() const;
  // State changes of the selected item (`item` is its changed copy), written back at the
  // item's own place in the list.
  void setCheck(nlohmann::json item);
  void setPartial(nlohmann::json item);
  void setUnCheck(nlohmann::json item, bool isClearScannedQty);
  void updateSaveBtn();

  void btn_save() {}
  void btn_scanClose();
  void btn_testScan();
  void btn_qtyDone();
  bool shouldChangeCharactersInRange(ui::TextField& field, ui::Range range, const std::string& text) override;
  bool isRightQty(long long qty, long long sizeIndex);
  void setSwipeGesture();
  void swipeleft();
  void swiperight();
  void initTextQtyDoneBtn();

  // The barcode of the test-scan button.
  static constexpr const char* kTestBarcode = "1002795";

  // ----- For tests and the demo
  const nlohmann::json& listContent() const { return *listContent_; }
  const std::vector<std::string>& indexTitle() const { return indexTitle_; }
  const nlohmann::json& selectedItemDic() const { return *selectedItemDic_; }
  std::optional<ui::IndexPath> selectedIndexPath() const { return selectedIndexPath_; }
  bool isShowIdx() const { return isShowIdx_; }
  bool isCheckedAll() const { return isCheckedAll_; }
  bool isScanViewOpen() const;
  ui::TableView* pickTableView() const { return pickTableView_.get(); }
  ui::Label* lbl_styleQty() const { return lbl_styleQty_.get(); }
  ui::Label* lbl_pickQty() const { return lbl_pickQty_.get(); }
  ui::Button* btn_saveButton() const { return btn_save_.get(); }
  ui::Button* btn_closeButton() const { return btn_scanClose_.get(); }
  ui::Button* btn_testScanButton() const { return btn_testScan_.get(); }
  ui::View* view_scan() const { return view_scan_.get(); }
  ui::Label* lbl_scanStyle() const { return lbl_scanStyle_.get(); }
  ui::Label* lbl_scanColor() const { return lbl_scanColor_.get(); }
  SizeQtyViewController* view_scanSizeQty() const { return view_scanSizeQty_.get(); }
  ui::Toolbar* accessoryToolbar() const { return accessoryToolbar_.get(); }
  ui::BarButtonItem* checkAllItem() const { return checkAllItem_.get(); }

 private:
  // List indexes of the items of section `section` (whose bin is the section's, ignoring
  // case), in list order.
  std::vector<size_t> itemsInSection(int section) const;
  std::optional<size_t> itemAt(ui::IndexPath ip) const;
  // The row of list item `index` in the section of its own bin.
  std::optional<ui::IndexPath> indexPathOfItem(size_t index) const;
  // Makes list item `index` the selected one.
  void selectItem(size_t index);
  // Puts `item` at the selected item's place, refreshes its rows and the counters.
  void storeSelected(nlohmann::json item, ui::RowAnimation animation);
  // The alert of this screen: scan button off, and on again with "OK".
  void scanAlert(const std::string& title);
  void layoutCellStrip(PickUpTableViewCell& cell);

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  bool isShowIdx_ = false;
  bool isCheckedAll_ = false;
  std::unique_ptr<nlohmann::json> listContent_;
  std::vector<std::string> indexTitle_;
  std::unique_ptr<nlohmann::json> selectedItemDic_;
  std::optional<size_t> selectedItemIndex_;  // place of the selected item in the list
  std::optional<ui::IndexPath> selectedIndexPath_;
  std::string jsonPickNOs_;

  std::shared_ptr<ui::TableView> pickTableView_;
  std::shared_ptr<ui::Toolbar> accessoryToolbar_;
  std::shared_ptr<ui::Label> lbl_styleQty_, lbl_pickQty_;
  std::shared_ptr<ui::Button> btn_save_;
  std::shared_ptr<ui::View> view_bg_, view_scan_;
  std::shared_ptr<ui::Label> lbl_scanStyle_, lbl_scanColor_, lbl_scannedData_;
  std::shared_ptr<ui::Button> btn_scanClose_, btn_testScan_;
  std::shared_ptr<SizeQtyViewController> view_scanSizeQty_;
  std::shared_ptr<ui::BarButtonItem> checkAllItem_;
};

}  // namespace orvo
