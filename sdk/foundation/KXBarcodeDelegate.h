#pragma once
// The barcode callbacks that the SDK sends to the delegates of its device API. A delegate
// receives at most one of the four forms per scan (see KXUNISDKGlobals::notifyBarcode): in
// type modes 0 and 1 the bytes form when it implements it, else the text form; in type mode
// 2 the same choice between the two forms that carry an ISO/IEC 15424 identifier.
//
// Calls arrive synchronously on the thread of the driver that delivered the scan. The
// arguments belong to the caller for the duration of the call.

#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"
#include "sdk/foundation/KXDelegate.h"

namespace kestra {

namespace sel {
inline constexpr std::string_view barcodeNSData_type = "barcodeNSData:type:";
inline constexpr std::string_view barcodeData_type = "barcodeData:type:";
inline constexpr std::string_view barcodeNSData_isotype = "barcodeNSData:isotype:";
inline constexpr std::string_view barcodeData_isotype = "barcodeData:isotype:";
}  // namespace sel

class KXBarcodeDelegate : public virtual KXDelegate {
 public:
  // `barcode` is the code without the engine's symbology byte; `type` is the SDK's barcode
  // type (or the engine's own code in type mode 0).
  virtual void barcodeNSData(const foundation::Bytes& barcode, int type) { (void)barcode; (void)type; }
  virtual void barcodeData(const std::string& barcode, int type) { (void)barcode; (void)type; }
  // Type mode 2: `isotype` is a three-character identifier such as "]E0" (empty when the
  // scan carried none and the engine's code has no identifier).
  virtual void barcodeNSData(const foundation::Bytes& barcode, const std::string& isotype) {
    (void)barcode; (void)isotype;
  }
  virtual void barcodeData(const std::string& barcode, const std::string& isotype) {
    (void)barcode; (void)isotype;
  }
};

}  // namespace kestra
