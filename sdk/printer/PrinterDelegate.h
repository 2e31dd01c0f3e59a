#pragma once
// What a receipt printer driver tells its delegates. Every callback is optional: a delegate
// lists the ones it implements (`implements({prnsel::paperStatus, ...})` in its constructor)
// and only those are called. The device API is the main delegate.
//
// Threads: everything arrives on the main queue. The driver walks its list from the last
// registered delegate to the first; an exception thrown by one delegate is caught and does
// not stop the others. Track texts and card data are card data: never log or keep them.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"
#include "sdk/foundation/KXDelegate.h"

namespace kestra {

namespace prnsel {
inline constexpr std::string_view prnConnectionState = "prnConnectionState:";
inline constexpr std::string_view kxdev_barcodeData = "kxdev_barcodeData:";
inline constexpr std::string_view magneticCardData = "magneticCardData:track2:track3:";
inline constexpr std::string_view kxdev_magneticCardEncryptedData =
    "kxdev_magneticCardEncryptedData:tracks:data:track1masked:track2masked:track3:source:";
inline constexpr std::string_view paperStatus = "paperStatus:";
}  // namespace prnsel

class PrinterDelegate : public virtual KXDelegate {
 public:
  // 0 disconnected, 1 connecting, 2 connected.
  virtual void prnConnectionState(int state) { (void)state; }
  // The barcode type byte followed by the code's bytes.
  virtual void kxdev_barcodeData(const foundation::Bytes& barcode) { (void)barcode; }
  virtual void magneticCardData(const std::optional<std::string>& track1,
                                const std::optional<std::string>& track2,
                                const std::optional<std::string>& track3) {
    (void)track1; (void)track2; (void)track3;
  }
  virtual void kxdev_magneticCardEncryptedData(int encryption, int tracks,
                                               const foundation::Bytes& data,
                                               const std::optional<std::string>& track1masked,
                                               const std::optional<std::string>& track2masked,
                                               const std::optional<std::string>& track3,
                                               int source) {
    (void)encryption; (void)tracks; (void)data; (void)track1masked; (void)track2masked;
    (void)track3; (void)source;
  }
  virtual void paperStatus(bool present) { (void)present; }
};

}  // namespace kestra
