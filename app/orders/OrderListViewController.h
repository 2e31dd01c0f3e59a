#pragma once
// The order item list: the screen on which a sales representative builds the lines of one
// sales order (the cart). Codes arrive from the sleeve ("changeBarcode"), the camera or the
// typed style search; each is priced on the server ("GetPrice"), checked against stock,
// the booking limit and the customer's earlier orders, and becomes a cart line or raises
// one. The detail panel shows the item on display; the edit-price panel changes the unit
// price of a style and colour; the footer shows the totals. While the cart is built it is
// backed up in the user defaults, so an interrupted order can be taken up again.
//
// Pushed (interface file "OrderListView") by the store choice or the order selector after
// `GlobalSO` holds the customer, store and price level. The cart lives as long as the
// screen; next hands copies of it to `GlobalSO`. Prompts are alert controllers presented by
// this screen; the activity viewer blocks the screen while a request is in flight (in
// real-time mode a line's request and the whole cart's may overlap; each answer applies
// its own figures).
//
// Bad answers lose nothing: an answer without the item's code, kind, style, colour, price
// or pack size is refused with the exception alert, and a failed request leaves the cart
// and its backup as they were. Main thread.
//
// The definition is split by area: OrderListViewController.cpp (set-up, table, lines,
// leaving), OrderListScan.cpp (a code arrives, pricing, warnings and questions),
// OrderListSave.cpp (saving a line, the booking limit), OrderListPrice.cpp (extended
// price, edit price, stock pop-up, totals), OrderListBackup.cpp (the backup) and
// OrderListNavigation.cpp (navigation-bar states, prompt answers), OrderListMultiColor.cpp
// (the multi-colour grid and the colour picker of size items), OrderListPrevOrder.cpp
// (loading an existing order, duplicate copies and duplicate items) and
// OrderListRealTime.cpp (the real-time order the server keeps line by line).
//
// Real-time orders lose nothing: a per-line call that fails or times out leaves the line on
// the device and marks the server as behind; the next whole-cart send, or "Next" to the
// header, sends every line again (which replaces the server's lines) before going on.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "app/core/ScannedItem.h"
#include "app/core/Service.h"
#include "app/orders/OrderCart.h"
#include "app/orders/PriceClass.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/PickerView.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;
struct RequestAnswer;

class OrderListViewController : public ui::ViewController,
                                public ui::TableViewDataSource,
                                public ui::TableViewDelegate,
                                public ui::TextFieldDelegate,
                                public ui::PickerViewDataSource,
                                public ui::PickerViewDelegate,
                                public CameraScanTarget {
 public:
  OrderListViewController() : OrderListViewController("OrderListView") {}
  explicit OrderListViewController(std::string nibName);
  ~OrderListViewController() override;

  // ----- Life cycle and set-up
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  void motionEnded(ui::MotionType motion) override;
  void initAdditionalView();
  void setRefreshControl();
  void setFooterTotal();
  void SetTopOrderInfoMsg();

  // ----- Table
  int numberOfSectionsInTableView(ui::TableView&) override;
  int numberOfRowsInSection(ui::TableView&, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  std::optional<std::string> titleForHeaderInSection(ui::TableView&, int section) override;
  std::vector<std::string> sectionIndexTitlesForTableView(ui::TableView&) override;
  bool canEditRowAtIndexPath(ui::TableView&, ui::IndexPath) override { return true; }
  void commitEditingStyle(ui::TableView&, ui::EditingStyle style, ui::IndexPath ip) override;
  std::optional<double> heightForRowAtIndexPath(ui::TableView&, ui::IndexPath) override { return 80; }
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  // A swipe from left to right on a line offers the style's picture; its tap opens the slider.
  void willBeginSwipe(ui::TableView&, ui::TableViewCell& cell, ui::IndexPath ip, int direction) override;
  void reloadTableInfo();

  // ----- Cart look-ups
  void UpdateMultiColorSearchIndex();
  std::vector<nlohmann::json> getSearchIndexArray(int section) const;
  // The line at a row (nullopt when there is none); with `remove` the line and the edited
  // price of its style and colour are taken out of the cart.
  std::optional<nlohmann::json> getItemInfoByIndex(int row, int section, bool remove);
  nlohmann::json getItemDicByBarcode(const std::string& code) const;
  int getItemIdxByBarcode(const std::string& code) const;
  int getItemIdxByStyle(const std::string& style) const;

  // ----- Actions
  void footerTapped();
  void refreshStock();
  void stopRefresh();
  void btn_BackOrDeleteFunc();
  void btn_NextToGoToOrderInfoView();
  void OpenCameraScanView() override;
  void scanButtonPressed(const foundation::Notification&) {}

  // ----- Scanning and pricing
  void scanedBarcode(const foundation::Notification& note);
  void scanedCode(const std::string& code);
  void btn_Manual();
  void callManualBarcode();
  void getPrice();
  void getPriceResponseData(const RequestAnswer& answer);
  void updateDisplayQtyInOrderView();
  void checkAlarmThenSaveItem();
  void alertPrevOrderAndDupItemHandling();
  void yesDupItemHandlingAlert();
  void yesPrevOrderAlert();
  void noAlert();
  void yesDiffEtaAlert();

  // ----- Saving a line
  void saveItem(bool keep);
  bool checkOverBookingLimit(int newQty);
  bool shouldChangeCharactersInRange(ui::TextField& field, ui::Range range, const std::string& replacement) override;
  void updateQtyAndOverbookingLimit();
  void updateItemInfo(const std::optional<std::string>& qty, const std::optional<std::string>& beforeOrderNum,
                      const std::optional<std::string>& overBookingLimit);
  bool AddNewItemIntoOrderListArray();
  void InsertNewItemDicIntoOrderListArray(nlohmann::json line);
  void UpdateItemQtyInOrderListArray();
  void SaveTempItem();
  void RemoveCurrentItemFromOrderListArray();
  void btn_NextForSaveItem();
  void DeleteCurrentItemByDeleteNavBtn();
  void errorResponseData(const ServiceFailure& failure);

  // ----- Prices, stock and totals
  std::string getExtPrice(int qty) const;
  void updateItemStocks(const std::string& code, const std::string& ats, const std::string& atsStatus,
                        const std::string& ots, const std::string& otsStatus, const std::string& overBookingMsg,
                        const std::string& overBookingLimit);
  void btn_ATS();
  void btn_EditPrice();
  void btn_editPriceSave();
  void btn_editPriceClose();
  void closeEditPriceView();
  void editPriceArrayDelete(const std::string& style, const std::string& color);
  void setEditPriceOrderListArray();
  void getTotal();

  // ----- Backup of the unfinished order
  void AutoSaveFuncDataSave();
  void AutoSaveFuncDataLoad();

  // ----- Navigation bar, panels and prompt answers
  void InitNavItems();
  void SetCameraAndManualItemsOnRightBarItems();
  void NavItemBackManualAndCameraForOrderListScan();
  void NavItemDeleteNext();
  void NavItemDeleteNextForScan();
  void NavItemDeleteNextForEdit();
  void NavNoItemBtnForNoScan(const std::string& title);
  void SetUpcLabelStyle();
  void SetBundleLabelStyle();
  void SetStockColorStyle();
  void ShowViewWithAnimation(ui::View& view);
  void HideViewWithAnimation(ui::View& view);
  // The screen's prompt: an alert controller (tag, one or two buttons) whose "OK"/"Yes"
  // runs `okFunc` and "No" `noFunc`; marks a prompt as open.
  void AlertView(int tag, int btnCount, const std::string& title, const std::string& message,
                 std::function<void()> okFunc, std::function<void()> noFunc = nullptr);
  void yesAlertBackFunc();
  void noAlertBackFunc();
  void yesSoapError();
  void yesGetPrice();
  void yesOverbookingStartBarcode();

  // ----- Multi-colour entry
  void ShowMultiColorBtn();
  void btn_multiColorFunc();
  void setPickerView();
  void showUpcColorPicker();
  void hideUpcColorPicker();
  std::string getSelectedUpcColor() const;
  void cancelTouched();
  void doneTouched();
  void showMultiColor(const std::string& color, const nlohmann::json& rows);
  // Merges the grid's rows (the notification's object: a `const nlohmann::json*` to an
  // array; an array in the user info is taken as well) into the cart.
  void updateMultiColorItems(const foundation::Notification& note);
  void mergeMultiColorRows(const nlohmann::json& rows);
  int numberOfComponentsInPickerView(ui::PickerView&) override { return 1; }
  int numberOfRowsInComponent(ui::PickerView&, int) override { return int(multiColorUpcArray_.size()); }
  std::string titleForRow(ui::PickerView&, int row, int) override;

  // ----- Existing orders and duplicates
  void GetPrevOrderList();
  void GetPrevOrderListResponseData(const RequestAnswer& answer);
  void InsertDupSO();
  void InsertDupSOResponseData(const RequestAnswer& answer);
  void saveDupNewItemInOrderListArray();

  // ----- Real-time order: the server keeps the order line by line.
  void updateAllItemsForRealTime();
  void updateAllItemsForRealTimeResponseData(const RequestAnswer& answer);
  void GetNewSOnumberWithSOH();
  void GetNewSOnumberWithSOHResponseData(const RequestAnswer& answer);
  void updateItemInfoForRealTime(const std::string& orderNumber, const std::string& barcode, const std::string& price,
                                 const std::string& qty);
  void updateItemInfoForRealTimeResponseData(const RequestAnswer& answer, const std::string& barcode);
  void deleteItemForRealTime(const std::string& orderNumber, const std::string& barcode);
  void deleteItemForRealTimeResponseData(const RequestAnswer& answer);
  void updateDupItemHandlingForRealTime(const std::string& orderNumber, const std::string& barcode,
                                        const std::string& qty, const std::string& price,
                                        const std::string& prevOrderNum, const std::string& newSOinfo);
  void updateDupItemHandlingForRealTimeResponseData(const RequestAnswer& answer, const std::string& barcode);
  void updateStockInfo(const std::string& barcode, const std::string& ats, const std::string& atsStatus,
                       const std::string& ots, const std::string& otsStatus, const std::string& overBookingMsg,
                       const std::string& overBookingLimit);
  void DeleteSoForRealTime(const std::string& orderNumber);
  void DeleteSoForRealTimeResponseData(const RequestAnswer& answer);
  void deleteSoFinalAction();
  // Whether the server may hold other lines than the device (a real-time call failed).
  bool realTimeOutOfStep() const { return realTimeOutOfStep_; }

  // ----- State (read by tests and the demo)
  const nlohmann::json& orderListArray() const { return orderListArray_; }
  const nlohmann::json& editedPriceArray() const { return editedPriceArray_; }
  const std::vector<std::string>& indexTitle() const { return indexTitle_; }
  const ScannedItem& scannedItem() const { return scannedItem_; }
  const std::string& beforeBarcode() const { return beforeBarcode_; }
  bool isRowEditMode() const { return IsRowEditMode_; }
  bool isEditOrderMode() const { return IsEditOrderMode_; }
  bool isPromptOpen() const { return popupForStopBarcodeFlag_; }
  bool isDetailShowing() const { return OrderDetailView_ && !OrderDetailView_->isHidden(); }
  bool isEditPriceShowing() const { return editPriceView_ && !editPriceView_->isHidden(); }

  ui::TableView* orderListTableView() const { return orderListTableView_.get(); }
  ui::TextField* txt_Qty() const { return txt_Qty_.get(); }
  ui::TextField* txt_editPrice() const { return txt_editPrice_.get(); }
  ui::Label* lbl_topOrderInfo() const { return lbl_topOrderInfo_.get(); }
  ui::Label* lbl_price() const { return lbl_price_.get(); }
  ui::Label* lbl_style() const { return lbl_style_.get(); }
  ui::Label* lbl_ats() const { return lbl_ats_.get(); }
  ui::Label* lbl_bundle() const { return lbl_bundle_.get(); }
  ui::Label* lbl_bundle_lbl() const { return lbl_bundle_lbl_.get(); }
  ui::Label* lbl_qty_lbl() const { return lbl_qty_lbl_.get(); }
  ui::Label* lbl_ats_lbl() const { return lbl_ats_lbl_.get(); }
  ui::Label* lbl_ots_lbl() const { return lbl_ots_lbl_.get(); }
  ui::Label* lbl_tUnites() const { return lbl_tUnites_.get(); }
  ui::Label* lbl_tPrice() const { return lbl_tPrice_.get(); }
  ui::Label* lbl_wh() const { return lbl_wh_.get(); }
  ui::Button* btn_NextToGoToOrderInfoViewButton() const { return btn_Next_.get(); }
  ui::Button* btn_EditPriceButton() const { return btn_EditPrice_.get(); }
  ui::Button* btn_ATSButton() const { return btn_ATS_.get(); }
  ui::Button* btn_editPriceSaveButton() const { return btn_editPriceSave_.get(); }
  ui::Button* btn_multiColorButton() const { return btn_multiColor_.get(); }
  ui::ImageView* footerImageView() const { return iv_footer_.get(); }
  ui::PickerView* colorPickerView() const { return colorPickerView_.get(); }
  const std::vector<std::string>& multiColorUpcArray() const { return multiColorUpcArray_; }
  std::shared_ptr<ui::BarButtonItem> backBarButtonItem() const { return backBarButtonItem_; }
  std::shared_ptr<ui::BarButtonItem> nextBarButtonItem() const { return nextBarButtonItem_; }

 private:
  void buildViews();
  void setNavColor(ui::Color color);
  void startBarcode();
  void stopBarcode();
  // The line of the item on display written back at its index (nothing when it has none).
  void replaceLineOfCurrentItem(const std::function<void(nlohmann::json&)>& change);
  void showDetailOfCurrentItem();
  void showQty(const std::string& qty);
  std::string itemText(const nlohmann::json& v) const;
  void lineToScannedItem(const nlohmann::json& line);
  nlohmann::json newLineFromScannedItem() const;
  std::string jsonItemsForRealtime() const;
  bool usesUpcColourEntry() const;
  // In real-time mode: the cart changed on the device, so the server may be behind it
  // until the next whole-cart send.
  void cartChanged();
  // The server is behind the device until the next whole-cart send; the backup follows
  // the device.
  void realTimeBehind();
  // A real-time request's failure: the server is behind the device until the next
  // whole-cart send succeeds.
  void realTimeFailed(const ServiceFailure& failure);
  // A real-time answer that is no dictionary or says "False": the alert, and the server is
  // behind. True when the answer was a success.
  bool realTimeAnswerOk(const RequestAnswer& answer);
  // Leaving the order did not end with the server's word: the user stays on it.
  void deleteSoUnsettled(bool mayHaveReachedServer);
  // Every change of the cart goes through these, so that the look-up index, the totals
  // and the backup follow it line by line.
  void cartInsert(std::size_t pos, nlohmann::json line);
  void cartReplace(std::size_t pos, nlohmann::json line);
  void cartErase(std::size_t pos);
  void cartAssign(nlohmann::json lines);
  // The table shows the cart: by row updates when the changes since its last load allow
  // (one section; replaced lines, or one line in or out), else by reloading it.
  bool updateChangedRows();

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  nlohmann::json orderListArray_ = nlohmann::json::array();
  nlohmann::json editedPriceArray_ = nlohmann::json::array();
  cart::CartIndex cartIndex_;
  std::uint64_t backupToken_ = 0;       // the backup's cart follows this screen's line by line
  struct RowChange {
    enum Kind { Insert, Replace, Erase } kind;
    std::size_t row;
  };
  std::vector<RowChange> rowChanges_;   // since the table's last load
  bool rowChangesLost_ = true;          // too many or unknown: the table reloads
  nlohmann::json backupHead_;           // the other backup values as last written
  std::vector<std::string> indexTitle_;
  std::vector<std::string> multiColorUpcArray_;
  ScannedItem scannedItem_;
  std::string beforeBarcode_;
  std::string sohCancelDate_;

  bool IsRowEditMode_ = false;
  bool IsEditOrderMode_ = false;
  bool getPrevOrderListSoapFlag_ = false;
  bool overBookingMsgFlag_ = false;
  bool popupForStopBarcodeFlag_ = false;
  bool negativeStocksAlarmFlag_ = false;
  bool otsWarningFlag_ = false;
  bool editPriceNewFlag_ = false;
  bool typingQty_ = false;           // a quantity is being typed: the line is sent when saved
  bool realTimeOutOfStep_ = false;   // the server may hold other lines than the device
  bool newNumberPending_ = false;    // "GetNewSOnumberWithSOH" is on its way
  bool pushHeaderAfterSend_ = false;  // "Next" waits for the whole cart to reach the server
  bool orderMayBeGone_ = false;       // a delete of the whole order may have reached the server

  std::shared_ptr<ui::TableView> orderListTableView_;
  std::shared_ptr<ui::Label> lbl_topOrderInfo_;
  std::shared_ptr<ui::View> OrderDetailView_;
  std::shared_ptr<ui::Label> lbl_style_, lbl_color_, lbl_bundle_, lbl_sizecode_, lbl_cancelDate_, lbl_ats_, lbl_ots_,
      lbl_price_, lbl_units_;
  std::shared_ptr<ui::Label> lbl_bundle_lbl_, lbl_qty_lbl_, lbl_ats_lbl_, lbl_ots_lbl_;
  std::shared_ptr<ui::TextField> txt_Qty_;
  std::shared_ptr<ui::Label> lbl_wh_;
  std::shared_ptr<ui::Button> btn_multiColor_, btn_EditPrice_, btn_ATS_;
  std::shared_ptr<ui::View> editPriceView_;
  std::shared_ptr<ui::TextField> txt_editPrice_;
  std::shared_ptr<ui::Button> btn_editPriceSave_, btn_editPriceClose_;
  std::shared_ptr<ui::Button> btn_Next_;
  std::shared_ptr<ui::View> footer_;
  std::shared_ptr<ui::ImageView> iv_footer_;
  std::shared_ptr<ui::Label> lbl_tUnites_, lbl_tPrice_;
  std::shared_ptr<ui::BarButtonItem> nextBarButtonItem_, backBarButtonItem_;
  std::shared_ptr<ui::TextField> pickerViewTextField_;
  std::shared_ptr<ui::PickerView> colorPickerView_;
  int observerToken_ = 0;
  int multiColorToken_ = 0;
};

}  // namespace orvo
