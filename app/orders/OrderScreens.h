#pragma once
// The order screens by interface-file name, and the hand-over points to order screens that
// other parts of the application build (subtotal, stock pop-up, multi-colour grid, style
// look-up, style search, signature pad, line sheets). Main thread.

#include "app/core/SignaturePad.h"
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "app/core/CoreScreens.h"
#include "platform/ui/TextField.h"

namespace orvo {

// A screen that is handed cart lines (or rows made from them) before it is shown: the
// subtotal list, the typed style search. The item list hands them over when the screen it
// makes offers this.
class OrderLinesReceiver {
 public:
  virtual ~OrderLinesReceiver() = default;
  virtual void setOrderListArray(const nlohmann::json& lines) = 0;
  // The typed style search opened from the item list returns a code for the order.
  virtual void setIsOrderScanMode(bool) {}
};

// The multi-colour grid of one style: told, in this order, the item kind ("bundle", or
// "upc" for sizes), the colour, the style and the cart lines of that style (reduced to
// "Barcode", "Color", "Bundle" or "SizeCode", "Price", "Qty") before it is shown. Its
// "NEXT" posts "multiColorNextBtn" with the rows that carry a quantity.
class MultiColorReceiver : public OrderLinesReceiver {
 public:
  virtual void setKind(const std::string&) = 0;
  virtual void setColor(const std::string&) = 0;
  virtual void setStyle(const std::string&) = 0;
  // Pushed by the style search (its "Back" pops) rather than presented (dismissed).
  virtual void setIsFromStyleInfoView(bool) {}
};

// The stock pop-up: the item on display and what the cart holds of it.
class StockPopupReceiver {
 public:
  virtual ~StockPopupReceiver() = default;
  virtual void setBarcode(const std::string&) = 0;
  virtual void setStyle(const std::string&) = 0;
  virtual void setColor(const std::string&) = 0;
  // A plain quantity, or the JSON text of [{size code: quantity}] of the cart's sizes.
  virtual void setOrderedQty(const std::string&) = 0;
  virtual void setBundle(const std::string&) = 0;
  virtual void setBundle_lbl(const std::string&) = 0;
};

// The line sheets of an order: told the order's SO number before they are shown.
class LineSheetReceiver {
 public:
  virtual ~LineSheetReceiver() = default;
  virtual void setLinesheetSOnumber(const std::string&) = 0;
};

// Until the signature pad exists: "Next" signs, "Cancel" does not, as the pad reports them.
class SignatureStandInViewController : public StandInViewController, public SignaturePad {
 public:
  explicit SignatureStandInViewController(std::string nibName) : StandInViewController(std::move(nibName)) {}
  void viewDidLoad() override;
  void setSoSignFlag(bool) override {}
  void finish(bool signedOrder);
};

// Registers "SoOrderTypeViewController", "SoSelectorViewController", "OrderListView",
// "PrinterViewController", the style screens (`registerStyleScreens`) and stand-ins for the
// order screens not built yet (a screen registered later under the same name replaces its
// stand-in).
void registerOrderScreens();

// Registers "StyleLookupViewController", "StyleInfoTableViewController" and
// "AtsViewController", and draws the stock grid's arrows.
void registerStyleScreens();

}  // namespace orvo
