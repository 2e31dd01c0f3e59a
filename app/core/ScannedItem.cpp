#include "app/core/ScannedItem.h"

namespace orvo {

ScannedItem::ScannedItem(const nlohmann::json& d) {
  if (!d.is_object()) return;
  auto take = [&](const char* key, nlohmann::json& field) {
    auto it = d.find(key);
    if (it != d.end()) field = *it;
  };
  take("Kind", Kind);
  take("Barcode", Code);
  take("Ats", Ats);
  take("AtsStatus", AtsStatus);
  take("Ots", Ots);
  take("OtsStatus", OtsStatus);
  take("Sum", Sum);
  take("Price", Price);
  take("OrgPrice", OrgPrice);
  take("MinPrice", MinPrice);
  take("Bundle", Bundle);
  take("Style", Style);
  take("Color", Color);
  take("MultiColor", MultiColor);
  take("SizeCode", SizeCode);
  take("Qty", Qty);
  take("InvDateAndQtyJson", InvDateAndQtyJson);
  take("OverBookingMsg", OverBookingMsg);
  take("OverBookingLimit", OverBookingLimit);
  take("Eta", Eta);
  take("EtaForPrint", EtaForPrint);
}

}  // namespace orvo
