#pragma once
// What the pinpad driver tells its delegates. Every callback is optional: a delegate lists
// the ones it implements by selector name (`implements({ppsel::ppadConnectionState, ...})`
// in its constructor) and only those are called. The device API is the main delegate;
// others may register too.
//
// Threads: `ppadConnectionState` and every button, keypad, barcode, card, smart-card,
// EMV-kernel and secure-reader event arrive on the main queue; `kxdev_debug` on the common
// run-loop thread; POG and pass-through data on a global-queue thread; firmware progress on
// the thread that runs the update; Bluetooth module events on the module's thread. The
// driver walks its list from the last registered delegate to the first, and an exception
// thrown by one delegate is caught and does not stop the others.
//
// Texts and bytes of card events hold card data: never log or keep them longer than needed.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"
#include "sdk/foundation/KXBarcodeDelegate.h"
#include "sdk/pinpad/PPadBluetooth.h"

namespace kestra {

namespace ppsel {
inline constexpr std::string_view ppadConnectionState = "ppadConnectionState:";
inline constexpr std::string_view ppadButtonPressed = "ppadButtonPressed:";
inline constexpr std::string_view ppadButtonReleased = "ppadButtonReleased:";
inline constexpr std::string_view kxdev_debug = "kxdev_debug:source:";
inline constexpr std::string_view kxdev_pogdata = "kxdev_pogdata:command:data:";
inline constexpr std::string_view boricaData = "boricaData:";
inline constexpr std::string_view boricaInternetData = "boricaInternetData:";
inline constexpr std::string_view kxdev_barcodeData = "kxdev_barcodeData:";
inline constexpr std::string_view magneticCardData = "magneticCardData:track2:track3:";
inline constexpr std::string_view kxdev_magneticCardEncryptedData =
    "kxdev_magneticCardEncryptedData:tracks:data:track1masked:track2masked:track3:source:";
inline constexpr std::string_view magneticCardEncryptedData = "magneticCardEncryptedData:tracks:data:";
inline constexpr std::string_view kxdev_magneticCardDetected = "kxdev_magneticCardDetected";
inline constexpr std::string_view smartCardInserted_slot = "smartCardInserted:";
inline constexpr std::string_view smartCardInserted = "smartCardInserted";
inline constexpr std::string_view smartCardRemoved_slot = "smartCardRemoved:";
inline constexpr std::string_view smartCardRemoved = "smartCardRemoved";
inline constexpr std::string_view kxdev_emv2Event = "kxdev_emv2Event:";
inline constexpr std::string_view kxdev_srEvent = "kxdev_srEvent:status:data:";
inline constexpr std::string_view firmwareUpdateProgress = "firmwareUpdateProgress:percent:";
inline constexpr std::string_view PINEntryComplete = "PINEntryComplete:";
}  // namespace ppsel

using OptText = std::optional<std::string>;

class PPadDelegate : public KXBarcodeDelegate, public BTModuleEvents {
 public:
  // 0 disconnected, 1 connecting, 2 connected.
  virtual void ppadConnectionState(int /*state*/) {}
  // Buttons 0 and 1, and keypad keys (codes 10-25).
  virtual void ppadButtonPressed(int /*button*/) {}
  virtual void ppadButtonReleased(int /*button*/) {}
  // Debug text of the pinpad; source 0.
  virtual void kxdev_debug(const std::string& /*text*/, int /*source*/) {}
  virtual void kxdev_pogdata(int /*solution*/, int /*command*/, const foundation::Bytes& /*data*/) {}
  virtual void boricaData(const foundation::Bytes& /*data*/) {}
  virtual void boricaInternetData(const foundation::Bytes& /*data*/) {}
  // A scan of the pinpad's engine: its symbology code followed by the code's bytes.
  virtual void kxdev_barcodeData(const foundation::Bytes& /*barcode*/) {}
  virtual void magneticCardData(const OptText& /*track1*/, const OptText& /*track2*/,
                                const OptText& /*track3*/) {}
  virtual void kxdev_magneticCardEncryptedData(int /*encryption*/, int /*tracks*/,
                                               const foundation::Bytes& /*data*/,
                                               const OptText& /*track1masked*/,
                                               const OptText& /*track2masked*/,
                                               const OptText& /*track3*/, int /*source*/) {}
  virtual void magneticCardEncryptedData(int /*encryption*/, int /*tracks*/,
                                         const foundation::Bytes& /*data*/) {}
  // Asked when a card was swiped and encryption is off: true keeps the reader stopped.
  virtual bool kxdev_magneticCardDetected() { return false; }
  virtual void smartCardInserted(int /*slot*/) {}
  virtual void smartCardInserted() {}
  virtual void smartCardRemoved(int /*slot*/) {}
  virtual void smartCardRemoved() {}
  // An EMV kernel event: its code, a status byte and TLV data.
  virtual void kxdev_emv2Event(const foundation::Bytes& /*event*/) {}
  virtual void kxdev_srEvent(int /*event*/, int /*status*/, const std::string& /*data*/) {}
  // Phase 0 start, 2 writing (percent), 3 end.
  virtual void firmwareUpdateProgress(int /*phase*/, int /*percent*/) {}
  // A background PIN entry ended with this result (0: a PIN was entered); main queue.
  virtual void PINEntryComplete(int /*status*/) {}
};

}  // namespace kestra
